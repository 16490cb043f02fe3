// Frames through qiraAeProcess on the scripted runtime, whose models may
// answer differently from run to run: the drift check of a long stable scene,
// and the order of a frame's last steps (average, score choice, smooth model,
// then the lux kept for the next frame, then the crossing limit).
#include <gtest/gtest.h>

#include <vector>

#include "scripted_engine.h"

namespace {

using scripted::ScriptedEngine;

const Nv21Frame coffee = nv21FromImageFile(samplePath("coffee.jpg"), 320, 240);
const Nv21Frame astronaut = nv21FromImageFile(samplePath("astronaut.jpg"), 320, 240);

// The albedo model's 0.3 at lux 300.
constexpr float kScore = 28.0f;

// After 30 frames of one picture at lux 300 (the reference), a frame whose lux
// lies 3 or more from the reference is examined afresh without models: a lux
// change up to 5 keeps the score and ends the stable count, a larger one with
// the picture unchanged keeps both. Below 3 the frame counts as stable.
TEST(DecisionFrames, DriftFromTheReferenceOfALongStableScene) {
    // lux, stable count after
    const std::pair<float, int32_t> cases[] = {{302.9f, 27}, {303.0f, 0}, {310.0f, 1}};
    for (const auto& [lux, count] : cases) {
        ScriptedEngine se;
        se.frames(30, coffee);
        ASSERT_EQ(std::make_tuple(se.state().lastIsStable, se.state().modelRunCount),
                  std::make_tuple(26, 7));
        EXPECT_FLOAT_EQ(se.frame(coffee, ScriptedEngine::params(lux)).result, kScore) << lux;
        EXPECT_EQ(std::make_tuple(se.state().lastIsStable, se.state().modelRunCount),
                  std::make_tuple(count, 7))
            << lux;
    }
}

// Three frames score 28; then another picture at lux 320 scores 44 (albedo
// 0.5). The choice falls on the average of the four, 32, and the crossing limit
// lets it through: it sees this frame's lux as the last one, so a lux rise
// does not hold a rising score at the last output.
TEST(DecisionFrames, TheAverageGoesOutWhenTheLuxRises) {
    ScriptedEngine se;
    se.albedo().outputs = {{0.3f}, {0.3f}, {0.3f}, {0.5f}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(se.frame(coffee, ScriptedEngine::params()).result, kScore);
    }
    EXPECT_FLOAT_EQ(se.frame(astronaut, ScriptedEngine::params(320)).result, 32.0f);
    EXPECT_EQ(std::make_pair(se.albedo().runs, se.state().lastAecLux), std::make_pair(4, 320.0f));
}

// Six frames of one picture at lux 300 (five model runs), then another picture
// at lux 340: a lux jump with a changed picture is damped toward neutral
// without models, and the smooth model is asked with the last lux, the last
// output and this lux. It wins by moving the score down as the lux rose, its
// answer clamped to 11..44.
TEST(DecisionFrames, TheSmoothModelSeesTheLastLux) {
    // smooth answer, output
    const std::pair<float, float> cases[] = {{15.0f, 15.0f}, {5.0f, 11.0f}};
    for (const auto& [answer, output] : cases) {
        ScriptedEngine se;
        se.smooth().outputs = {{answer}};
        se.frames(6, coffee);
        EXPECT_FLOAT_EQ(se.frame(astronaut, ScriptedEngine::params(340)).result, output);
        EXPECT_EQ(se.smooth().inputs,
                  (std::vector<std::vector<float>>{{300.0f, 28.000002f, 340.0f}}));
        EXPECT_EQ(se.state().lastAecLux, 340.0f);
    }
}

// The camera has reported an exposure once the lux index reaches 0.1: after a
// frame at 0.15 the next is not the engine's first, so a lux jump on a moving
// camera takes the route without models.
TEST(DecisionFrames, ALuxIndexFromATenthOnIsAReport) {
    ScriptedEngine se;
    const float moving[3] = {1.0f, 0.0f, 0.0f};
    se.frame(coffee, ScriptedEngine::params(0.15f), moving);
    se.frame(coffee, ScriptedEngine::params(40.0f), moving);
    EXPECT_EQ(se.state().modelRunCount, 1);
}

}  // namespace
