// Light-region map hold and refreshes, the history look-up and the stable-scene
// handler's counters and history. The light-segmentation model is answered by
// the scripted runtime: a refresh that succeeds shows light everywhere (a map
// of 255), the map kept from before is 7, and a cleared map is 0.
#include "xepo/stable_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "log_capture.h"
#include "scripted_engine.h"

namespace {

using scripted::ScriptedEngine;
using xepo::AeEngine;
using xepo::kSegMapBytes;

constexpr int kOld = 7;    // the map kept from before
constexpr int kNew = 255;  // a refresh that succeeded

// Every byte of a 64 x 48 map equals `value`.
bool mapIs(const uint8_t* map, int value) {
    return std::all_of(map, map + kSegMapBytes, [value](uint8_t v) { return v == value; });
}

// An engine in map state `state` whose last accepted map is all kOld and
// whose light-segmentation runs answer with `status` (light everywhere).
std::unique_ptr<ScriptedEngine> mapEngine(int32_t state, int32_t status = 0) {
    auto se = std::make_unique<ScriptedEngine>();
    se->lightSeg().outputs = {scripted::lightCells(0, 0, 55, 55)};
    se->lightSeg().runStatus = {status};
    se->state().lastIsSegResult = state;
    std::memset(se->state().lastSegMap.get(), kOld, kSegMapBytes);
    return se;
}

// One moving frame as the driver runs it: segMap cleared, then the hold step.
int32_t movingFrame(AeEngine* e, int32_t cls, float* score) {
    std::memset(e->segMap.get(), 0, kSegMapBytes);
    e->isStable = cls;
    return xepo::handleSegResultWhenMoving(e, e->modelInput.get(), 90, score);
}

TEST(LightMapHold, CountsFromOneThroughMinusThirtyRefreshingOnTheFifteenth) {
    auto se = mapEngine(1);
    AeEngine& e = se->state();
    for (int frame = 1; frame <= 31; ++frame) {
        float score = 25.0f;
        const int32_t ret = movingFrame(&e, -3, &score);
        EXPECT_EQ(std::make_tuple(ret, e.lastIsSegResult, score, se->lightSeg().runs),
                  std::make_tuple(frame <= 30, -std::min(frame, 30), frame <= 30 ? 18.0f : 25.0f,
                                  frame < 15 ? 0 : 1))
            << frame;
        EXPECT_TRUE(mapIs(e.segMap.get(), frame > 30 ? 0 : frame < 15 ? kOld : kNew)) << frame;
    }
}

// Rows: an accepted refresh replaces both maps with whatever it shows, a failed
// one keeps the old map; past the hold, class 0 drops the kept map; no map
// state or a stable frame is not handled.
TEST(LightMapHold, Table) {
    // map state, class, refresh status, result, state after, score, segMap, lastSegMap
    const std::tuple<int32_t, int32_t, int32_t, int32_t, int32_t, float, int, int> cases[] = {
        {1, 0, -1, 1, -1, 18, kOld, kOld},     {-14, -1, 0, 1, -15, 18, kNew, kNew},
        {-14, -1, -1, 1, -15, 18, kOld, kOld}, {-30, 0, -1, 0, -30, 18, 0, 0},
        {0, -3, -1, 0, 0, 25, 0, kOld},        {7, 1, -1, 0, 7, 25, 0, kOld}};
    for (const auto& [state, cls, status, ret, stateAfter, score, segMap, lastSegMap] : cases) {
        auto se = mapEngine(state, status);
        AeEngine& e = se->state();
        float frameScore = 25.0f;
        const int32_t frameRet = movingFrame(&e, cls, &frameScore);
        EXPECT_EQ(std::make_tuple(frameRet, e.lastIsSegResult, frameScore),
                  std::make_tuple(ret, stateAfter, score))
            << state << " " << cls;
        EXPECT_TRUE(mapIs(e.segMap.get(), segMap) && mapIs(e.lastSegMap.get(), lastSegMap))
            << state << " " << status;
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
// accepted refresh replaces the map and moves the map's lux and the reference
// lux that later drift is measured from. The frame's line names the map state,
// the lux, the map's lux and the stable count.
TEST(StableScene, Table) {
    // map state, lux change, refresh status, hit count, lsResult, score, refreshes, map, map lux
    const std::tuple<int32_t, float, int32_t, int32_t, int32_t, float, int, int, float> cases[] = {
        {1, 0.0f, 0, 0, 1, 18, 0, kOld, 300},     {15, 1.0f, 0, 0, 1, 18, 0, kOld, 300},
        {15, 1.5f, 0, 0, 1, 18, 1, kNew, 301.5f}, {30, 3.0f, -1, 0, 1, 18, 1, kOld, 300},
        {-15, 3.0f, 0, 0, 0, 25, 0, 0, 300},      {0, 0.0f, 0, 1, 0, 21, 0, 0, 300},
        {0, 0.0f, 0, 2, 0, 25, 0, 0, 300},        {0, 0.0f, 0, 0, 0, 25, 0, 0, 300}};
    for (const auto& [state, luxChange, status, hits, ls, score, calls, map, mapLux] : cases) {
        auto se = mapEngine(state, status);
        AeEngine& e = se->state();
        std::tie(e.lastSegAecLux, e.refAecLux, e.lastAeThisScore, e.historyHitCount,
                 e.lastIsStable) = std::make_tuple(300.0f, 300.0f, 25.0f, hits, 5);
        LogCapture log;
        const auto [frameScore, frameLs] = stableFrame(&e, 300.0f + luxChange);
        EXPECT_TRUE(log.contains("handleStableScene, lastIsSegResult: " + std::to_string(state) +
                                 ", aec_lux: " + std::to_string(300.0f + luxChange) +
                                 ", lastSegAecLux: 300.000000 lastIsStable:5"));
        EXPECT_EQ(std::make_tuple(frameScore, frameLs, e.lastIsSegResult, se->lightSeg().runs,
                                  e.lastSegAecLux, e.refAecLux, e.historyHitCount, e.lastIsStable),
                  std::make_tuple(score, ls, ls ? state + 1 : state, calls, mapLux, mapLux,
                                  hits ? hits + 1 : 0, 6))
            << state << " " << hits;
        EXPECT_TRUE(mapIs(e.segMap.get(), map)) << state;
    }
}

// Only the first stable frame of a period takes the similarity references: its
// lux becomes the reference lux and its thumbnail the image reference. The
// tenth stable frame records the scene; the eleventh entry drops the oldest.
TEST(StableScene, FirstFrameTakesTheReferencesTheTenthRecordsTheScene) {
    auto se = mapEngine(0);
    AeEngine& e = se->state();
    e.nccRefValid = 0;  // an earlier reference went stale
    for (int32_t count = 1; count <= 3; ++count) {
        e.lastIsStable = count;
        std::memset(e.grayThumb.get(), 10 * count, xepo::kThumbBytes);
        stableFrame(&e, 100.0f * static_cast<float>(count));
    }
    ASSERT_TRUE(e.nccRefThumb);
    EXPECT_EQ(std::make_tuple(e.refAecLux, e.nccRefValid, e.nccRefThumb[0]),
              std::make_tuple(100.0f, 1, uint8_t{10}));
    e.lastEnResult[1] = 0.81f;
    for (int i = 1; i <= 11; ++i) {
        e.lastIsStable = 10;
        e.lastAeThisScore = static_cast<float>(i);
        e.lastIsSegResult = i == 11 ? 4 : 0;  // a light scene is recorded as such
        stableFrame(&e, 200.0f);
    }
    ASSERT_EQ(e.historyHist.size(), 10u);
    const xepo::HistoryEntry& last = e.historyHist.back();
    EXPECT_EQ(std::make_tuple(e.historyHist.front().score, last.score, last.isSegResult,
                              last.enConfidence, last.aecLux, e.lastIsStable),
              std::make_tuple(2.0f, 18.0f, 1, 0.81f, 200.0f, 11));
}

// --- History look-up ---

// A remembered scene; the histogram's first bins are given, the rest are zero.
struct Entry {
    float score, confidence, lux = 300, scale = 1;
    int32_t ls = 0;
    std::vector<int32_t> bins = {50176};
};

// The look-up runs on stable frames 1, 4 and 7 of a period without a hit,
// after five model runs. An entry matches with the same zoom (to the bit), a
// histogram similarity of 0.97, a lux within 2 and a trusted confidence (0.73);
// the newest match wins, but a light-map match ends the search without a hit,
// which returns the frame's score 17. A hit takes the entry's score when the
// last score lies within 10 % of it, caps one more than 20 % above it at 1.1
// times it, else keeps the last score. The frame's histogram is all in bin 0.
TEST(HistoryLookup, Table) {
    struct Case {
        const char* name;
        std::vector<Entry> history;
        float thisResult, lastScore, expected;
        int32_t count = 1, runs = 5, cls = 1, hitCount = 0;
    } cases[] = {
        {"within 10 %", {{20, 0.8f}}, 1.2f, 21.9f, 20},
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
        {"score 0 passed over", {{20.5f, 0.8f}, {0, 0.8f}}, 1.2f, 20.5f, 20.5f},
        {"light-map entry ends the search", {{20, 0.9f}, {18, 0.9f, 300, 1, 1}}, 1.2f, 20, 17},
        {"other zoom does not hide a match", {{20, 0.9f}, {30, 0.9f, 300, 2}}, 1.2f, 20, 20},
        {"stable frame 7", {{20, 0.8f}}, 1.2f, 20, 20, 7},
        {"stable frame 2", {{20, 0.8f}}, 1.2f, 20, 17, 2},
        {"four model runs", {{20, 0.8f}}, 1.2f, 20, 17, 1, 4},
        {"not stable", {{20, 0.8f}}, 1.2f, 20, 17, 1, 5, -3},
        {"already hit", {{20, 0.8f}}, 1.2f, 20, 17, 1, 5, 1, 1},
    };
    for (const Case& c : cases) {
        auto e = scripted::bareEngine();
        std::tie(e->lastAeThisScore, e->curHist[0], e->lastIsStable, e->modelRunCount, e->isStable,
                 e->historyHitCount) =
            std::make_tuple(c.lastScore, 50176, c.count, c.runs, c.cls, c.hitCount);
        for (const Entry& s : c.history) {  // oldest first
            xepo::HistoryEntry entry{{}, s.score, s.confidence, 0, s.ls, s.lux, s.scale};
            std::copy(s.bins.begin(), s.bins.end(), entry.hist.begin());
            e->historyHist.push_back(entry);
        }
        float thisResult = c.thisResult;
        EXPECT_FLOAT_EQ(xepo::tryHitHistory(e.get(), &thisResult, 17.0f, 300, 1), c.expected)
            << c.name;
        const bool hit = thisResult != c.thisResult;  // a hit takes the entry's confidence
        EXPECT_EQ(hit, c.expected != 17) << c.name;
        EXPECT_EQ(e->historyHitCount, hit ? 1 : c.hitCount) << c.name;
    }
}

}  // namespace
