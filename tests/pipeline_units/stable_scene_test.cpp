// Light-region map hold and refreshes, the history look-up and the stable-scene
// handler's counters and history, with a scripted light-segmentation step.
#include "xepo/stable_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "test_engine.h"
#include "xepo/model_scoring.h"

namespace {

struct ScriptedLightSeg {
    int32_t status = -1;
    uint8_t fill = 9;  // written into the map on every call, even a failed one
    int calls = 0;
} scripted;

}  // namespace

// Stands in for the model step: this program's pipeline steps link against it.
namespace xepo {
int32_t runLightSegModel(QDNNRunner*, int64_t, void*, uint32_t, float*, uint8_t* map) {
    ++scripted.calls;
    std::memset(map, scripted.fill, kSegMapBytes);
    return scripted.status;
}
}  // namespace xepo

namespace {

using pipeline_test::makeHist;
using pipeline_test::makeTestEngine;
using pipeline_test::mapIs;
using xepo::AeEngine;
using xepo::HistoryEntry;
using xepo::kSegMapBytes;

// An engine in map state `state` whose last accepted map is all 255.
std::unique_ptr<AeEngine> mapEngine(int32_t state) {
    scripted = ScriptedLightSeg{};
    auto e = makeTestEngine();
    e->lastIsSegResult = state;
    std::memset(e->lastSegMap.get(), 255, kSegMapBytes);
    return e;
}

// One moving frame as the driver runs it: segMap cleared, then the hold step.
int32_t movingFrame(AeEngine* e, int32_t cls, float* score) {
    std::memset(e->segMap.get(), 0, kSegMapBytes);
    e->isStable = cls;
    return xepo::handleSegResultWhenMoving(e, e->modelInput.get(), 90, score);
}

TEST(LightMapHold, CountsFromOneThroughMinusThirtyRefreshingOnTheFifteenth) {
    auto e = mapEngine(1);
    for (int frame = 1; frame <= 31; ++frame) {
        float score = 25.0f;
        EXPECT_EQ(movingFrame(e.get(), -3, &score), frame <= 30 ? 1 : 0) << frame;
        EXPECT_EQ(e->lastIsSegResult, -std::min(frame, 30));
        EXPECT_EQ(score, frame <= 30 ? 18.0f : 25.0f);
        EXPECT_TRUE(mapIs(e->segMap.get(), frame <= 30 ? 255 : 0)) << frame;
        EXPECT_EQ(scripted.calls, frame < 15 ? 0 : 1) << frame;
    }
}

// Rows: an accepted refresh replaces both maps with whatever it shows; past the
// hold, class 0 drops the kept map; no map state or a stable frame is not handled.
TEST(LightMapHold, Table) {
    struct Case {
        int32_t state, cls, status, ret, stateAfter;
        float score;
        uint8_t segMap, lastSegMap;
    } cases[] = {{1, 0, -1, 1, -1, 18, 255, 255},
                 {-14, -1, 0, 1, -15, 18, 9, 9},
                 {-30, 0, -1, 0, -30, 18, 0, 0},
                 {0, -3, -1, 0, 0, 25, 0, 255},
                 {7, 1, -1, 0, 7, 25, 0, 255}};
    for (const Case& c : cases) {
        auto e = mapEngine(c.state);
        scripted.status = c.status;
        float score = 25.0f;
        EXPECT_EQ(movingFrame(e.get(), c.cls, &score), c.ret) << c.state << " " << c.cls;
        EXPECT_EQ(e->lastIsSegResult, c.stateAfter) << c.state;
        EXPECT_EQ(score, c.score) << c.state;
        EXPECT_TRUE(mapIs(e->segMap.get(), c.segMap)) << c.state;
        EXPECT_TRUE(mapIs(e->lastSegMap.get(), c.lastSegMap)) << c.state;
    }
}

// One stable frame as the driver runs it (segMap cleared), with score 21 from
// the scoring steps; returns the frame's score and lsResult.
std::pair<float, int32_t> stableFrame(AeEngine* e, float lux) {
    std::memset(e->segMap.get(), 0, kSegMapBytes);
    const float angle[3] = {0, 0, 0};
    float score = 21.0f;
    int32_t ls = 0;
    xepo::handleStableScene(e, &score, &ls, nullptr, nullptr, 640, 480, 640, 480, 17, 0, false, 0,
                            0, lux, 1.0f, angle);
    return {score, ls};
}

// A stable frame keeps the last score (25), or on the frame of a history hit
// the hit's score. A held map is used (neutral score, lsResult 1) and every
// 15th frame refreshes it when the lux moved by more than 1.0; only an
// accepted refresh replaces the map and moves the map's lux.
TEST(StableScene, Table) {
    struct Case {
        int32_t state;
        float luxChange;
        int32_t status, hitCount, ls;
        float score;
        int calls;
        uint8_t map;
        float mapLux;
    } cases[] = {{1, 0.0f, 0, 0, 1, 18, 0, 255, 300},   {15, 1.0f, 0, 0, 1, 18, 0, 255, 300},
                 {15, 1.5f, 0, 0, 1, 18, 1, 9, 301.5f}, {30, 3.0f, -1, 0, 1, 18, 1, 255, 300},
                 {-15, 3.0f, 0, 0, 0, 25, 0, 0, 300},   {0, 0.0f, 0, 1, 0, 21, 0, 0, 300},
                 {0, 0.0f, 0, 2, 0, 25, 0, 0, 300},     {0, 0.0f, 0, 0, 0, 25, 0, 0, 300}};
    for (const Case& c : cases) {
        auto e = mapEngine(c.state);
        scripted.status = c.status;
        e->lastSegAecLux = 300.0f;
        e->lastAeThisScore = 25.0f;
        e->historyHitCount = c.hitCount;
        e->lastIsStable = 5;
        const auto [score, ls] = stableFrame(e.get(), 300.0f + c.luxChange);
        EXPECT_EQ(score, c.score) << c.state << " " << c.hitCount;
        EXPECT_EQ(ls, c.ls) << c.state;
        EXPECT_EQ(e->lastIsSegResult, c.ls ? c.state + 1 : c.state) << c.state;
        EXPECT_EQ(scripted.calls, c.calls) << c.state;
        EXPECT_TRUE(mapIs(e->segMap.get(), c.map)) << c.state;
        EXPECT_EQ(e->lastSegAecLux, c.mapLux) << c.state;
        EXPECT_EQ(e->historyHitCount, c.hitCount ? c.hitCount + 1 : 0) << c.hitCount;
        EXPECT_EQ(e->lastIsStable, 6);
    }
}

// The tenth stable frame records the scene; the eleventh entry drops the oldest.
TEST(StableScene, HistoryKeepsTheTenNewestScenes) {
    auto e = mapEngine(0);
    e->lastEnResult[1] = 0.81f;
    for (int i = 1; i <= 11; ++i) {
        e->lastIsStable = 10;
        e->lastAeThisScore = static_cast<float>(i);
        e->lastIsSegResult = i == 11 ? 4 : 0;  // a light scene is recorded as such
        stableFrame(e.get(), 200.0f);
    }
    ASSERT_EQ(e->historyHist.size(), 10u);
    EXPECT_EQ(e->historyHist.front().score, 2.0f);
    const HistoryEntry& last = e->historyHist.back();
    EXPECT_EQ(last.score, 18.0f);
    EXPECT_EQ(last.isSegResult, 1);
    EXPECT_EQ(last.enConfidence, 0.81f);
    EXPECT_EQ(last.aecLux, 200.0f);
    EXPECT_EQ(e->lastIsStable, 11);
}

// --- History look-up ---

// A remembered scene; the histogram's first bins are given, the rest are zero.
struct Entry {
    float score, confidence, lux = 300, scale = 1;
    int32_t ls = 0;
    std::vector<int32_t> bins = {50176};
};

// An engine whose frame histogram is all in bin 0, with the given history,
// oldest first.
std::unique_ptr<AeEngine> lookupEngine(float lastScore, const std::vector<Entry>& history) {
    auto e = makeTestEngine();
    e->lastAeThisScore = lastScore;
    e->curHist[0] = 50176;
    for (const Entry& s : history) {
        HistoryEntry h;
        h.hist = makeHist(s.bins);
        h.score = s.score;
        h.enConfidence = s.confidence;
        h.aecLux = s.lux;
        h.scale = s.scale;
        h.isSegResult = s.ls;
        e->historyHist.push_back(std::move(h));
    }
    return e;
}

// The look-up runs on stable frames 1, 4 and 7 of a period without a hit,
// after five model runs. An entry matches with the same zoom (to the bit), a
// histogram similarity of 0.97, a lux within 2 and a trusted confidence (0.73);
// the newest match wins, but a light-map match ends the search without a hit,
// which returns the frame's score 17. A hit takes the entry's score when the
// last score lies within 10 % of it, caps one more than 20 % above it at 1.1
// times it, else keeps the last score.
TEST(HistoryLookup, Table) {
    struct Case {
        const char* name;
        std::vector<Entry> history;
        float thisResult, lastScore, expected;
        int32_t count = 1, runs = 5, cls = 1, hitCount = 0;
    } cases[] = {
        {"same score", {{20, 0.8f}}, 1.2f, 20, 20},
        {"within 10 %", {{20, 0.8f}}, 1.2f, 21.9f, 20},
        {"15 % above keeps the last score", {{20, 0.8f}}, 1.2f, 23, 23},
        {"20 % above keeps the last score", {{20, 0.8f}}, 1.2f, 24, 24},
        {"22.5 % above capped", {{20, 0.8f}}, 1.2f, 24.5f, 22},
        {"30 % below keeps the last score", {{20, 0.8f}}, 1.2f, 14, 14},
        {"lux 2 apart", {{20, 0.8f, 298}}, 1.2f, 20, 20},
        {"lux 2.5 apart", {{20, 0.8f, 302.5f}}, 1.2f, 20, 17},
        {"zoom one ulp off", {{20, 0.8f, 300, std::nextafter(1.0f, 2.0f)}}, 1.2f, 20, 17},
        {"similarity 0.9695", {{20, 0.8f, 300, 1, 0, {47165, 3011}}}, 1.2f, 20, 17},
        {"similarity 0.9747", {{20, 0.8f, 300, 1, 0, {47667, 2509}}}, 1.2f, 20, 20},
        {"confidence above this_result", {{20, 0.8f}}, 0.5f, 20, 17},
        {"confidence 0.73", {{20, 0.73f}}, 1.2f, 20, 20},
        {"confidence 0.72 skipped", {{20, 0.72f}}, 1.2f, 20, 17},
        {"newest wins", {{21, 0.8f}, {20, 0.9f}}, 1.2f, 20, 20},
        {"low confidence passed over", {{20.5f, 0.8f}, {30, 0.72f}}, 1.2f, 20.5f, 20.5f},
        {"light-map entry ends the search", {{20, 0.9f}, {18, 0.9f, 300, 1, 1}}, 1.2f, 20, 17},
        {"other zoom does not hide a match", {{20, 0.9f}, {30, 0.9f, 300, 2}}, 1.2f, 20, 20},
        {"stable frame 4", {{20, 0.8f}}, 1.2f, 20, 20, 4},
        {"stable frame 7", {{20, 0.8f}}, 1.2f, 20, 20, 7},
        {"stable frame 2", {{20, 0.8f}}, 1.2f, 20, 17, 2},
        {"four model runs", {{20, 0.8f}}, 1.2f, 20, 17, 1, 4},
        {"not stable", {{20, 0.8f}}, 1.2f, 20, 17, 1, 5, -3},
        {"already hit", {{20, 0.8f}}, 1.2f, 20, 17, 1, 5, 1, 1},
    };
    for (const Case& c : cases) {
        auto e = lookupEngine(c.lastScore, c.history);
        e->lastIsStable = c.count;
        e->modelRunCount = c.runs;
        e->isStable = c.cls;
        e->historyHitCount = c.hitCount;
        float thisResult = c.thisResult;
        EXPECT_FLOAT_EQ(xepo::tryHitHistory(e.get(), &thisResult, 17.0f, 300, 1), c.expected)
            << c.name;
        const bool hit = thisResult != c.thisResult;  // a hit takes the entry's confidence
        EXPECT_EQ(hit, c.expected != 17) << c.name;
        EXPECT_EQ(e->historyHitCount, hit ? 1 : c.hitCount) << c.name;
    }
}

}  // namespace
