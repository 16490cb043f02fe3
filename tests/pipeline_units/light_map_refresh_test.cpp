// Refreshes of the light-region map with a scripted light-segmentation step in
// place of the model, to see what a successful and a failed refresh leave.
#include <gtest/gtest.h>

#include <cstring>

#include "log_capture.h"
#include "test_engine.h"
#include "xepo/model_scoring.h"
#include "xepo/stable_scene.h"

namespace {

struct ScriptedLightSeg {
    int32_t status = 0;
    uint8_t fill = 0;  // written into the map on every call, even a failed one
    int calls = 0;
    void* lastInput = nullptr;
    uint32_t lastRotation = 0;
} scripted;

}  // namespace

// Stands in for the model step: the stable-scene code is linked against this
// definition instead of the engine's.
namespace xepo {
int32_t runLightSegModel(QDNNRunner* /*runner*/, int64_t /*tavkitHandle*/, void* input,
                         uint32_t rotation, float* /*rawOutput*/, uint8_t* map) {
    ++scripted.calls;
    scripted.lastInput = input;
    scripted.lastRotation = rotation;
    std::memset(map, scripted.fill, kSegMapBytes);
    return scripted.status;
}
}  // namespace xepo

namespace {

using pipeline_test::makeTestEngine;
using xepo::kSegMapBytes;

bool mapIs(const uint8_t* map, uint8_t value) {
    for (int i = 0; i < kSegMapBytes; ++i) {
        if (map[i] != value) {
            return false;
        }
    }
    return true;
}

TEST(LightMapRefresh, MovingRefreshAcceptsANewMapWhateverItShows) {
    for (uint8_t fill : {uint8_t{0}, uint8_t{255}}) {
        scripted = ScriptedLightSeg{0, fill};
        auto e = makeTestEngine();
        e->isStable = -3;
        e->lastIsSegResult = -14;
        e->lastSegAecLux = 50.0f;
        std::memset(e->lastSegMap.get(), 77, kSegMapBytes);
        float score = 25.0f;
        LogCapture log;
        EXPECT_EQ(xepo::handleSegResultWhenMoving(e.get(), e->modelInput.get(), 270, &score), 1);
        EXPECT_EQ(scripted.calls, 1);
        EXPECT_EQ(scripted.lastInput, e->modelInput.get());
        EXPECT_EQ(scripted.lastRotation, 270u);
        EXPECT_EQ(e->lastIsSegResult, -15);
        EXPECT_TRUE(mapIs(e->segMap.get(), fill));
        EXPECT_TRUE(mapIs(e->lastSegMap.get(), fill));
        EXPECT_EQ(e->lastSegAecLux, 50.0f);
        EXPECT_EQ(score, 18.0f);
        EXPECT_EQ(log.count("update ls result, run ls model: -15"), 1);
        EXPECT_FALSE(log.contains("run ls model failed"));
    }
}

TEST(LightMapRefresh, FailedMovingRefreshKeepsTheLastMap) {
    scripted = ScriptedLightSeg{-3003, 9};
    auto e = makeTestEngine();
    e->isStable = 0;
    e->lastIsSegResult = -14;
    std::memset(e->lastSegMap.get(), 255, kSegMapBytes);
    float score = 25.0f;
    LogCapture log;
    EXPECT_EQ(xepo::handleSegResultWhenMoving(e.get(), e->modelInput.get(), 0, &score), 1);
    EXPECT_TRUE(mapIs(e->segMap.get(), 255));
    EXPECT_TRUE(mapIs(e->lastSegMap.get(), 255));
    EXPECT_EQ(log.count("run ls model failed -3003, use last ls result"), 1);
    EXPECT_EQ(log.lines().back().priority, 6);
}

TEST(LightMapRefresh, OnlyTheFifteenthMovingFrameRunsTheModel) {
    scripted = ScriptedLightSeg{0, 255};
    auto e = makeTestEngine();
    e->lastIsSegResult = 20;
    for (int frame = 1; frame <= 40; ++frame) {
        e->isStable = -1;
        float score = 25.0f;
        xepo::handleSegResultWhenMoving(e.get(), e->modelInput.get(), 0, &score);
    }
    EXPECT_EQ(scripted.calls, 1);
}

struct StableRefreshCase {
    int32_t status;
    bool accepted;
};

TEST(LightMapRefresh, StableRefresh) {
    for (const StableRefreshCase& c : {StableRefreshCase{0, true}, StableRefreshCase{-1, false}}) {
        scripted = ScriptedLightSeg{c.status, 128};
        auto e = makeTestEngine();
        e->lastIsSegResult = 30;
        e->lastSegAecLux = 100.0f;
        e->refAecLux = 90.0f;
        e->lastIsStable = 40;
        e->lastAeThisScore = 25.0f;
        std::memset(e->lastSegMap.get(), 255, kSegMapBytes);
        float score = 25.0f;
        int32_t ls = 0;
        const float angle[3] = {0, 0, 0};
        LogCapture log;
        xepo::handleStableScene(e.get(), &score, &ls, nullptr, nullptr, 640, 480, 640, 480, 17, 90,
                                false, 0, 0, 102.0f, 1.0f, angle);
        EXPECT_EQ(scripted.calls, 1);
        EXPECT_EQ(scripted.lastInput, e->modelInput.get());
        EXPECT_EQ(scripted.lastRotation, 90u);
        EXPECT_EQ(ls, 1);
        EXPECT_EQ(score, 18.0f);
        EXPECT_EQ(e->lastIsSegResult, 31);
        EXPECT_TRUE(mapIs(e->segMap.get(), c.accepted ? 128 : 255));
        EXPECT_TRUE(mapIs(e->lastSegMap.get(), c.accepted ? 128 : 255));
        EXPECT_EQ(e->lastSegAecLux, c.accepted ? 102.0f : 100.0f);
        EXPECT_EQ(e->refAecLux, c.accepted ? 102.0f : 90.0f);
        EXPECT_EQ(log.count("keep use last ls result"), c.accepted ? 0 : 1);
        EXPECT_EQ(log.count("run ls model failed -1"), c.accepted ? 0 : 1);
    }
}

}  // namespace
