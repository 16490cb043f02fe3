// Frames through qiraAeProcess end to end on the host runtime, with
// constant-output models and frames made from the sample photographs. Because
// the models answer the same whatever they see, every change of the result
// comes from the decision logic.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "log_capture.h"
#include "scripted_engine.h"

namespace {

using Camera = scripted::ScriptedEngine;

// A rate that moves the angles well past the stillness limit within one frame.
constexpr float kMoving[3] = {1.0f, 0.0f, 0.0f};
// Confident entrance (0.9), albedo 0.3: at lux 300 every model score maps to 28.
constexpr float kConfidentScore = 28.0f;

// The frame's settings (at lux 300 unless told) with one field changed.
template <typename T>
AEParams with(T AEParams::*field, T value, float lux = 300.0f) {
    AEParams p = Camera::params(lux);
    p.*field = value;
    return p;
}

const Nv21Frame coffee = nv21FromImageFile(samplePath("coffee.jpg"), 320, 240);
const Nv21Frame astronaut = nv21FromImageFile(samplePath("astronaut.jpg"), 320, 240);

// Guards the steady path: model frames, then stable frames keep the score, the
// scene is recorded once and the host map is described and written. Guards the
// history's start: a hit in force is then dropped while fewer than six model
// runs have been made, and kept (and counted on) from the sixth.
TEST(FrameScenarios, SteadySceneAndAHistoryHitFromTheSixthModelRun) {
    for (const int runs : {5, 6}) {
        Camera camera(TEST_MODEL_ROOT "/confident/");
        for (int i = 0; i < 30; ++i) {
            const _XEPO_RES_ r = camera.frame(coffee, Camera::params());
            EXPECT_FLOAT_EQ(r.result, kConfidentScore) << "frame " << i;
            EXPECT_FLOAT_EQ(r.confidence, 0.9f) << "frame " << i;
        }
        // Five model frames, then stable, except the re-checks at counts 4 and 7.
        const XEPOSegMap& map = camera.mapRecord;
        EXPECT_EQ(std::make_tuple(camera.state().modelRunCount, camera.state().historyHist.size(),
                                  map.type, map.width, map.height, camera.lightCells()),
                  std::make_tuple(7, size_t{1}, 9, 64, 48, 0));
        std::tie(camera.state().modelRunCount, camera.state().historyHitCount) =
            std::tuple(runs, 2);
        camera.frame(coffee, Camera::params());
        EXPECT_EQ(camera.state().historyHitCount, runs == 6 ? 3 : 0) << runs << " runs";
    }
}

// Guards the frames that repeat the last answer. The hold flag: the previous
// result goes out and stays the last output, no model runs, and the held frame
// computes no answer of its own. The zoom hold: the countdown after each frame;
// a held frame counts it down, so the twelfth frame, with the countdown at 0,
// is not held. A zoom of 0 (not reported) never starts a hold. The capture:
// the last answer again, no model run, the map described, and the capture's
// lux kept.
TEST(FrameScenarios, HoldFlagZoomSwitchAndCaptureRepeatTheLastAnswer) {
    Camera camera(TEST_MODEL_ROOT "/confident/");
    camera.frame(coffee, Camera::params());
    // A dark scene: the held frame's own answer is neutral.
    const AEParams held = with(&AEParams::holdFlag, 1, 480.0f);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(camera.frame(coffee, held).result, kConfidentScore);
        EXPECT_FLOAT_EQ(camera.state().lastAeScore, kConfidentScore);
        if (i == 0) {
            EXPECT_FLOAT_EQ(camera.state().aeScoreAverage->values.back(), 18.0f)
                << "the held frame computed no neutral answer";
        }
    }
    EXPECT_EQ(camera.state().modelRunCount, 1) << "a model ran during the hold";

    camera.frames(8, coffee);
    std::vector<int> countdowns;
    for (int i = 0; i < 12; ++i) {
        EXPECT_FLOAT_EQ(camera.frame(coffee, with(&AEParams::scale, 2.0f)).result, kConfidentScore);
        countdowns.push_back(camera.state().satCountdown);
    }
    EXPECT_EQ(countdowns, (std::vector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0}));
    camera.frame(coffee, with(&AEParams::scale, 0.0f));
    EXPECT_EQ(camera.state().satCountdown, 0);

    const int runs = camera.state().modelRunCount;
    const _XEPO_RES_ r = camera.frame(astronaut, with(&AEParams::isPhotoing, 1, 380.0f));
    EXPECT_FLOAT_EQ(r.result, kConfidentScore);
    EXPECT_FLOAT_EQ(r.confidence, 0.9f);
    EXPECT_EQ(std::make_tuple(camera.state().modelRunCount, camera.mapRecord.type,
                              camera.state().lastAecLux),
              std::make_tuple(runs, 9, 380.0f));
}

// Guards the light path: the accepted map goes to the host with 18 and 0.92,
// and later frames keep using it. Guards the camera's first frames: until a
// lux index of 0.1 or more has been reported, each frame starts without a
// remembered light map, so a capture right after a light-map frame hands the
// host none; afterwards it hands the map on.
TEST(FrameScenarios, LightMapFramesAndTheFirstLuxIndex) {
    for (const float lux : {0.05f, 300.0f}) {
        Camera camera(TEST_MODEL_ROOT "/light/");
        AEParams p = with(&AEParams::enable_seg, 1, lux);
        for (int i = 1; i <= (lux > 0.1f ? 4 : 1); ++i) {
            const _XEPO_RES_ r = camera.frame(coffee, p);
            EXPECT_EQ(std::make_tuple(r.result, r.confidence, camera.state().lastIsSegResult),
                      std::make_tuple(18.0f, 0.92f, 1))
                << lux;
            EXPECT_GE(camera.lightCells(), 150) << lux << " frame " << i;
        }
        p.isPhotoing = 1;
        camera.frame(coffee, p);
        EXPECT_EQ(camera.lightCells() > 0, lux > 0.1f) << lux;
    }
}

// Guards the history across a pan: the gyro track carries on between frames,
// and coming back to a remembered picture hits its record.
TEST(FrameScenarios, ReturningToARememberedSceneHitsTheHistory) {
    Camera camera(TEST_MODEL_ROOT "/confident/");
    camera.frames(20, coffee);
    camera.frames(2, astronaut, Camera::params(), kMoving);
    camera.frames(20, astronaut);
    ASSERT_EQ(camera.state().historyHist.size(), 2u);
    camera.frames(2, coffee, Camera::params(), kMoving);
    camera.frames(4, coffee);
    EXPECT_GE(camera.state().historyHitCount, 1) << "no history hit on returning";
}

// Guards the direct controls (albedo x 100, entrance's neutral answer, no
// memory kept), control -1 without an engine, and refused null or released
// engines, which leave the result untouched.
TEST(FrameScenarios, DirectControlsAndRefusedHandles) {
    void* stale = nullptr;
    {
        Camera camera(TEST_MODEL_ROOT "/confident/");
        _XEPO_RES_ r = camera.frame(coffee, Camera::params(), nullptr, 1);
        EXPECT_NEAR(r.result, 30.0f, 1e-4);  // albedo 0.3 x 100
        EXPECT_FLOAT_EQ(r.confidence, 0.9f);
        // Neutral with the entrance's [1]; direct paths keep no memory.
        r = camera.frame(coffee, Camera::params(), nullptr, 0);
        EXPECT_EQ(std::make_tuple(r.result, r.confidence, camera.state().lastAeScore,
                                  camera.state().lastAecLux),
                  std::make_tuple(18.0f, 0.9f, 18.0f, 0.0f));
        stale = camera.engine;
    }
    LogCapture log;
    _XEPO_RES_ neutral{0, 0, nullptr};
    qiraAeProcess(nullptr, nullptr, nullptr, &neutral, -1, nullptr);
    EXPECT_EQ(std::make_pair(neutral.result, neutral.confidence), std::make_pair(18.0f, 0.9f));
    EXPECT_EQ(log.count("control = -1"), 1);
    _XEPO_RES_ untouched{-5.0f, -5.0f, nullptr};
    VImage image{};
    AEParams params{};
    qiraAeProcess(nullptr, &image, &params, &untouched, 2, nullptr);
    qiraAeProcess(stale, &image, &params, &untouched, 2, nullptr);  // released engine
    EXPECT_FLOAT_EQ(untouched.result, -5.0f);
    EXPECT_EQ(log.count("qdnn handle is null, please init first."), 2);
}

// Guards runAeEngine's records: it builds the same ones (format 17, stride =
// width, no capture, hold, ultra-wide or segmentation flags) and so answers
// exactly alike.
TEST(FrameScenarios, RunAeEngineMatchesQiraAeProcess) {
    const float luxes[] = {300, 300, 300, 320, 320, 300, 300, 300, 300, 300, 250, 250};
    std::vector<float> answers[2];
    for (bool viaRunAeEngine : {false, true}) {
        Camera camera(TEST_MODEL_ROOT "/confident/");
        camera.viaRunAeEngine = viaRunAeEngine;
        for (float lux : luxes) {
            const _XEPO_RES_ r = camera.frame(astronaut, with(&AEParams::rotation, 90, lux));
            answers[viaRunAeEngine].insert(answers[viaRunAeEngine].end(), {r.result, r.confidence});
        }
    }
    EXPECT_EQ(answers[0], answers[1]);
}

}  // namespace
