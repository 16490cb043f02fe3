// Frames through qiraAeProcess end to end, with constant-output models and
// frames made from the sample photographs. Because the models answer the same
// whatever they see, every change of the result comes from the decision logic.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log_capture.h"
#include "nv21_frames.h"
#include "xepo.h"
#include "xepo/ae_engine.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr float kLux = 300.0f;
// Frame interval of the gyro blocks: 30 frames per second.
constexpr uint64_t kFrameNs = 33'000'000;
// A rate that moves the angles well past the stillness limit within one frame.
constexpr float kMovingRate = 1.0f;

// Engine with one model directory, fed frame by frame.
class Camera {
  public:
    explicit Camera(const std::string& modelDir) {
        params = CreateParamHandle();
        for (int key : {kAeKeyEntrance, kAeKeyAlbedo, kAeKeyLightSeg, kAeKeySmooth}) {
            AeSetParam(params, key, modelDir.c_str());
        }
        engine = initAeEngine(params);
    }
    ~Camera() {
        releaseAeEngine(&engine);
        releaseParamHandle(&params);
    }

    AEParams defaults() const {
        AEParams p{};
        p.scale = 1.0f;
        p.aec_lux = kLux;
        return p;
    }

    // One frame; `moving` gives the gyro block a rotation.
    _XEPO_RES_ frame(const Nv21Frame& f, const AEParams& p, bool moving = false, int control = 2) {
        VImage image{};
        image.yuv_format = 17;
        image.width = f.width;
        image.height = f.height;
        image.stride = f.width;
        image.yPlane = const_cast<uint8_t*>(f.y.data());
        image.uvPlane = const_cast<uint8_t*>(f.vu.data());
        AEParams params = p;
        IMUDataBlock imu = nextGyro(moving);
        std::fill(map.begin(), map.end(), uint8_t{1});
        _XEPO_RES_ result{-1.0f, -1.0f, &mapRecord};
        mapRecord = XEPOSegMap{0, 0, 0, map.data()};
        if (viaRunAeEngine) {
            runAeEngine(engine, image.yPlane, image.uvPlane, f.width, f.height, p.rotation, p.scale,
                        p.reserved0, p.flip, &result, control, p.aec_lux, &imu);
        } else {
            qiraAeProcess(engine, &image, &params, &result, control, &imu);
        }
        return result;
    }

    xepo::AeEngine& state() { return *static_cast<xepo::AeEngine*>(engine); }
    int lightCells() const {
        return static_cast<int>(std::count(map.begin(), map.end(), uint8_t{255}));
    }

    void* params = nullptr;
    void* engine = nullptr;
    bool viaRunAeEngine = false;  // feed frames through the plain-buffer entry instead
    std::vector<uint8_t> map = std::vector<uint8_t>(xepo::kSegMapBytes);
    XEPOSegMap mapRecord{};

  private:
    IMUDataBlock nextGyro(bool moving) {
        IMUDataBlock imu{};
        imu.count = 2;
        for (int i = 0; i < imu.count; ++i) {
            clockNs += kFrameNs / 2;
            imu.timestamp[i] = clockNs;
            imu.gyroX[i] = moving ? kMovingRate : 0.0f;
        }
        return imu;
    }
    uint64_t clockNs = 100'000'000'000;  // the first block restarts the angle track
};

std::string modelDir(const char* set) {
    return std::string(XEPO_BINARY_DIR) + "/tests/driver/" + set + "/";
}

class FrameScenarios : public ::testing::Test {
  protected:
    Nv21Frame coffee = nv21FromImageFile(samplePath("coffee.jpg"), kWidth, kHeight);
    Nv21Frame astronaut = nv21FromImageFile(samplePath("astronaut.jpg"), kWidth, kHeight);
};

// Confident entrance (0.9), albedo 0.3: at lux 300 every model score maps to 28.
constexpr float kConfidentScore = 28.0f;

TEST_F(FrameScenarios, SteadySceneKeepsItsScoreAndIsRecordedOnce) {
    Camera camera(modelDir("confident"));
    ASSERT_NE(camera.engine, nullptr);
    for (int i = 0; i < 30; ++i) {
        const _XEPO_RES_ r = camera.frame(coffee, camera.defaults());
        EXPECT_FLOAT_EQ(r.result, kConfidentScore) << "frame " << i;
        EXPECT_FLOAT_EQ(r.confidence, 0.9f) << "frame " << i;
    }
    // Five model frames, then stable, except the re-checks at counts 4 and 7.
    EXPECT_EQ(camera.state().modelRunCount, 7);
    EXPECT_EQ(camera.state().historyHist.size(), 1u);
    EXPECT_EQ(camera.mapRecord.type, 9);
    EXPECT_EQ(camera.mapRecord.width, 64);
    EXPECT_EQ(camera.mapRecord.height, 48);
    EXPECT_EQ(camera.lightCells(), 0);
}

TEST_F(FrameScenarios, ZoomSwitchHoldsElevenFrames) {
    Camera camera(modelDir("confident"));
    for (int i = 0; i < 8; ++i) {
        camera.frame(coffee, camera.defaults());
    }
    AEParams zoomed = camera.defaults();
    zoomed.scale = 2.0f;
    // The countdown after each frame; a held frame counts it down, so the
    // twelfth frame, with the countdown at 0, is not held.
    std::vector<int> countdowns;
    for (int i = 0; i < 12; ++i) {
        const _XEPO_RES_ r = camera.frame(coffee, zoomed);
        EXPECT_FLOAT_EQ(r.result, kConfidentScore);
        countdowns.push_back(camera.state().satCountdown);
    }
    EXPECT_EQ(countdowns, (std::vector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0}));
    // A zoom of 0 (not reported) never starts a hold.
    AEParams unreported = camera.defaults();
    unreported.scale = 0.0f;
    camera.frame(coffee, unreported);
    EXPECT_EQ(camera.state().satCountdown, 0);
}

TEST_F(FrameScenarios, StillCaptureRepeatsTheLastAnswerWithoutModels) {
    Camera camera(modelDir("confident"));
    for (int i = 0; i < 3; ++i) {
        camera.frame(coffee, camera.defaults());
    }
    AEParams capture = camera.defaults();
    capture.isPhotoing = 1;
    capture.aec_lux = 380.0f;
    const _XEPO_RES_ r = camera.frame(astronaut, capture);
    EXPECT_FLOAT_EQ(r.result, kConfidentScore);
    EXPECT_FLOAT_EQ(r.confidence, 0.9f);
    EXPECT_EQ(camera.state().modelRunCount, 3);
    EXPECT_EQ(camera.mapRecord.type, 9);
    EXPECT_FLOAT_EQ(camera.state().lastAecLux, 380.0f);
}

TEST_F(FrameScenarios, HoldFlagOutputsThePreviousResult) {
    Camera camera(modelDir("confident"));
    camera.frame(coffee, camera.defaults());
    AEParams held = camera.defaults();
    held.holdFlag = 1;
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

TEST_F(FrameScenarios, DarkStretchGoesNeutralAndStays) {
    Camera camera(modelDir("confident"));
    for (int i = 0; i < 8; ++i) {
        camera.frame(coffee, camera.defaults());
    }
    AEParams dark = camera.defaults();
    dark.aec_lux = 470.0f;
    for (int i = 0; i < 10; ++i) {
        EXPECT_FLOAT_EQ(camera.frame(coffee, dark).result, 18.0f) << "dark frame " << i;
    }
    EXPECT_FLOAT_EQ(camera.state().refAecLux, 470.0f);
}

TEST_F(FrameScenarios, LuxStepsOnAnUnchangedPictureKeepTheScore) {
    Camera camera(modelDir("confident"));
    for (int i = 0; i < 8; ++i) {
        camera.frame(coffee, camera.defaults());
    }
    // The thumbnail still matches the stable reference, so the frames count as stable.
    for (float lux : {320.0f, 340.0f, 330.0f}) {
        AEParams step = camera.defaults();
        step.aec_lux = lux;
        EXPECT_FLOAT_EQ(camera.frame(coffee, step).result, kConfidentScore) << lux;
        EXPECT_EQ(camera.state().isStable, 1) << lux;
    }
}

TEST_F(FrameScenarios, LightSceneWithSegmentationGivesTheLightMap) {
    Camera camera(modelDir("light"));
    AEParams withSeg = camera.defaults();
    withSeg.enable_seg = 1;
    const _XEPO_RES_ lit = camera.frame(coffee, withSeg);
    EXPECT_FLOAT_EQ(lit.result, 18.0f);
    EXPECT_FLOAT_EQ(lit.confidence, 0.92f);
    EXPECT_GE(camera.lightCells(), 150);
    EXPECT_EQ(camera.state().lastIsSegResult, 1);
    // Stable frames keep using the accepted map.
    for (int i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(camera.frame(coffee, withSeg).confidence, 0.92f);
        EXPECT_GE(camera.lightCells(), 150);
    }
}

TEST_F(FrameScenarios, ReturningToARememberedSceneHitsTheHistory) {
    Camera camera(modelDir("confident"));
    auto stay = [&](const Nv21Frame& f, int frames) {
        for (int i = 0; i < frames; ++i) {
            camera.frame(f, camera.defaults());
        }
    };
    auto pan = [&](const Nv21Frame& f) {
        camera.frame(f, camera.defaults(), /*moving=*/true);
        camera.frame(f, camera.defaults(), /*moving=*/true);
    };
    stay(coffee, 20);
    pan(astronaut);
    stay(astronaut, 20);
    ASSERT_EQ(camera.state().historyHist.size(), 2u);
    pan(coffee);
    stay(coffee, 4);
    EXPECT_GE(camera.state().historyHitCount, 1) << "no history hit on returning";
}

TEST_F(FrameScenarios, DirectControlsAndRefusedHandles) {
    void* stale = nullptr;
    {
        Camera camera(modelDir("confident"));
        _XEPO_RES_ r = camera.frame(coffee, camera.defaults(), false, 1);
        EXPECT_NEAR(r.result, 30.0f, 1e-4);  // albedo 0.3 x 100
        EXPECT_FLOAT_EQ(r.confidence, 0.9f);
        r = camera.frame(coffee, camera.defaults(), false, 0);
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

// runAeEngine builds the same records (format 17, stride = width, no capture,
// hold, ultra-wide or segmentation flags) and so answers exactly alike.
TEST_F(FrameScenarios, RunAeEngineMatchesQiraAeProcess) {
    const float luxes[] = {300, 300, 300, 320, 320, 300, 300, 300, 300, 300, 250, 250};
    std::vector<float> answers[2];
    for (bool viaRunAeEngine : {false, true}) {
        Camera camera(modelDir("confident"));
        camera.viaRunAeEngine = viaRunAeEngine;
        for (float lux : luxes) {
            AEParams p = camera.defaults();
            p.aec_lux = lux;
            p.rotation = 90;
            const _XEPO_RES_ r = camera.frame(astronaut, p);
            answers[viaRunAeEngine].insert(answers[viaRunAeEngine].end(), {r.result, r.confidence});
        }
    }
    EXPECT_EQ(answers[0], answers[1]);
}

}  // namespace
