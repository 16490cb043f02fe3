// Frames through qiraAeProcess end to end on the host runtime, with
// constant-output models and frames made from the sample photographs. Because
// the models answer the same whatever they see, every change of the result
// comes from the decision logic.
#include <gtest/gtest.h>

#include <string>
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

std::string modelDir(const char* set) {
    return std::string(TEST_MODEL_ROOT) + "/" + set + "/";
}

// The frame's settings at lux 300 with one field changed.
template <typename T>
AEParams with(T AEParams::*field, T value) {
    AEParams p = Camera::params();
    p.*field = value;
    return p;
}

class FrameScenarios : public ::testing::Test {
  protected:
    Nv21Frame coffee = nv21FromImageFile(samplePath("coffee.jpg"), 320, 240);
    Nv21Frame astronaut = nv21FromImageFile(samplePath("astronaut.jpg"), 320, 240);
};

// Guards the steady path: model frames, then stable frames keep the score, the
// scene is recorded once and the host map is described and written.
TEST_F(FrameScenarios, SteadySceneKeepsItsScoreAndIsRecordedOnce) {
    Camera camera(modelDir("confident"));
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
}

// Guards the zoom hold: the countdown after each frame; a held frame counts it
// down, so the twelfth frame, with the countdown at 0, is not held. A zoom of 0
// (not reported) never starts a hold.
TEST_F(FrameScenarios, ZoomSwitchHoldsElevenFrames) {
    Camera camera(modelDir("confident"));
    camera.frames(8, coffee);
    std::vector<int> countdowns;
    for (int i = 0; i < 12; ++i) {
        EXPECT_FLOAT_EQ(camera.frame(coffee, with(&AEParams::scale, 2.0f)).result, kConfidentScore);
        countdowns.push_back(camera.state().satCountdown);
    }
    EXPECT_EQ(countdowns, (std::vector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0}));
    camera.frame(coffee, with(&AEParams::scale, 0.0f));
    EXPECT_EQ(camera.state().satCountdown, 0);
}

// Guards the capture path: the last answer again, no model run, the map
// described, and the capture's lux kept.
TEST_F(FrameScenarios, StillCaptureRepeatsTheLastAnswerWithoutModels) {
    Camera camera(modelDir("confident"));
    camera.frames(3, coffee);
    AEParams capture = with(&AEParams::isPhotoing, 1);
    capture.aec_lux = 380.0f;
    const _XEPO_RES_ r = camera.frame(astronaut, capture);
    EXPECT_FLOAT_EQ(r.result, kConfidentScore);
    EXPECT_FLOAT_EQ(r.confidence, 0.9f);
    EXPECT_EQ(std::make_tuple(camera.state().modelRunCount, camera.mapRecord.type),
              std::make_tuple(3, 9));
    EXPECT_FLOAT_EQ(camera.state().lastAecLux, 380.0f);
}

// Guards the hold flag: the previous result goes out and stays the last output,
// no model runs, and the held frame computes no answer of its own.
TEST_F(FrameScenarios, HoldFlagOutputsThePreviousResult) {
    Camera camera(modelDir("confident"));
    camera.frame(coffee, Camera::params());
    AEParams held = with(&AEParams::holdFlag, 1);
    held.aec_lux = 480.0f;  // a dark scene: the frame's own answer is neutral
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(camera.frame(coffee, held).result, kConfidentScore);
        EXPECT_FLOAT_EQ(camera.state().lastAeScore, kConfidentScore);
        if (i == 0) {
            EXPECT_FLOAT_EQ(camera.state().aeScoreAverage->values.back(), 18.0f)
                << "the held frame computed no neutral answer";
        }
    }
    EXPECT_EQ(camera.state().modelRunCount, 1) << "a model ran during the hold";
}

// Guards the light path: the accepted map goes to the host with 0.92, and
// stable frames keep using it.
TEST_F(FrameScenarios, LightSceneWithSegmentationGivesTheLightMap) {
    Camera camera(modelDir("light"));
    const AEParams withSeg = with(&AEParams::enable_seg, 1);
    _XEPO_RES_ r = camera.frame(coffee, withSeg);
    EXPECT_FLOAT_EQ(r.result, 18.0f);
    EXPECT_EQ(camera.state().lastIsSegResult, 1);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(r.confidence, 0.92f) << i;
        EXPECT_GE(camera.lightCells(), 150) << i;
        r = camera.frame(coffee, withSeg);
    }
}

// Guards the camera's first frames: until a lux index of 0.1 or more has been
// reported, each frame starts without a remembered light map, so a capture
// right after a light-map frame hands the host none; afterwards it hands the
// map on.
TEST_F(FrameScenarios, NoLightMapIsRememberedBeforeTheFirstLuxIndex) {
    for (const float lux : {0.05f, 300.0f}) {
        Camera camera(modelDir("light"));
        AEParams p = with(&AEParams::enable_seg, 1);
        p.aec_lux = lux;
        camera.frame(coffee, p);
        EXPECT_GE(camera.lightCells(), 150) << lux;
        p.isPhotoing = 1;
        camera.frame(coffee, p);
        EXPECT_EQ(camera.lightCells() > 0, lux > 0.1f) << lux;
    }
}

// Guards the history across a pan: the gyro track carries on between frames,
// and coming back to a remembered picture hits its record.
TEST_F(FrameScenarios, ReturningToARememberedSceneHitsTheHistory) {
    Camera camera(modelDir("confident"));
    camera.frames(20, coffee);
    camera.frames(2, astronaut, Camera::params(), kMoving);
    camera.frames(20, astronaut);
    ASSERT_EQ(camera.state().historyHist.size(), 2u);
    camera.frames(2, coffee, Camera::params(), kMoving);
    camera.frames(4, coffee);
    EXPECT_GE(camera.state().historyHitCount, 1) << "no history hit on returning";
}

// Guards the history's start: a hit in force is dropped while fewer than six
// model runs have been made, and kept (and counted on) from the sixth.
TEST_F(FrameScenarios, AHistoryHitHoldsFromTheSixthModelRun) {
    for (const int runs : {5, 6}) {
        Camera camera(modelDir("confident"));
        camera.frames(30, coffee);
        std::tie(camera.state().modelRunCount, camera.state().historyHitCount) =
            std::tuple(runs, 2);
        camera.frame(coffee, Camera::params());
        EXPECT_EQ(camera.state().historyHitCount, runs == 6 ? 3 : 0) << runs << " runs";
    }
}

// Guards the direct controls (albedo x 100, entrance's neutral answer, no
// memory kept), control -1 without an engine, and refused null or released
// engines, which leave the result untouched.
TEST_F(FrameScenarios, DirectControlsAndRefusedHandles) {
    void* stale = nullptr;
    {
        Camera camera(modelDir("confident"));
        _XEPO_RES_ r = camera.frame(coffee, Camera::params(), nullptr, 1);
        EXPECT_NEAR(r.result, 30.0f, 1e-4);  // albedo 0.3 x 100
        EXPECT_FLOAT_EQ(r.confidence, 0.9f);
        r = camera.frame(coffee, Camera::params(), nullptr, 0);
        EXPECT_FLOAT_EQ(r.result, 18.0f);
        EXPECT_FLOAT_EQ(r.confidence, 0.9f);                 // entrance[1]
        EXPECT_FLOAT_EQ(camera.state().lastAeScore, 18.0f);  // direct paths keep no memory
        EXPECT_FLOAT_EQ(camera.state().lastAecLux, 0.0f);
        stale = camera.engine;
    }
    LogCapture log;
    _XEPO_RES_ neutral{0, 0, nullptr};
    qiraAeProcess(nullptr, nullptr, nullptr, &neutral, -1, nullptr);
    EXPECT_FLOAT_EQ(neutral.result, 18.0f);
    EXPECT_FLOAT_EQ(neutral.confidence, 0.9f);
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
TEST_F(FrameScenarios, RunAeEngineMatchesQiraAeProcess) {
    const float luxes[] = {300, 300, 300, 320, 320, 300, 300, 300, 300, 300, 250, 250};
    std::vector<float> answers[2];
    for (bool viaRunAeEngine : {false, true}) {
        Camera camera(modelDir("confident"));
        camera.viaRunAeEngine = viaRunAeEngine;
        for (float lux : luxes) {
            AEParams p = Camera::params(lux);
            p.rotation = 90;
            const _XEPO_RES_ r = camera.frame(astronaut, p);
            answers[viaRunAeEngine].insert(answers[viaRunAeEngine].end(), {r.result, r.confidence});
        }
    }
    EXPECT_EQ(answers[0], answers[1]);
}

}  // namespace
