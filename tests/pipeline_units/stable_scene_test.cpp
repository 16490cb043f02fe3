// Light-region map hold while moving, history look-up, and the counters of the
// stable-scene handler (without image work).
#include "xepo/stable_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "log_capture.h"
#include "test_engine.h"

namespace {

using pipeline_test::makeHist;
using pipeline_test::makeTestEngine;
using xepo::AeEngine;
using xepo::HistoryEntry;
using xepo::kSegMapBytes;

bool mapIs(const uint8_t* map, uint8_t value) {
    for (int i = 0; i < kSegMapBytes; ++i) {
        if (map[i] != value) {
            return false;
        }
    }
    return true;
}

// One moving frame as the driver runs it: segMap cleared, then the hold step.
int32_t movingFrame(AeEngine* e, int32_t cls, float* score) {
    std::memset(e->segMap.get(), 0, kSegMapBytes);
    e->isStable = cls;
    return xepo::handleSegResultWhenMoving(e, e->modelInput.get(), 90, score);
}

// --- handleSegResultWhenMoving ---

TEST(LightMapHold, CountsFromOneThroughMinusThirtyThenLetsGo) {
    auto e = makeTestEngine();  // no light-segmentation runner: the refresh fails
    e->lastIsSegResult = 1;
    std::memset(e->lastSegMap.get(), 255, kSegMapBytes);
    for (int frame = 1; frame <= 30; ++frame) {
        LogCapture log;
        float score = 25.0f;
        EXPECT_EQ(movingFrame(e.get(), -3, &score), 1) << frame;
        EXPECT_EQ(e->lastIsSegResult, -frame);
        EXPECT_EQ(score, 18.0f);
        EXPECT_TRUE(mapIs(e->segMap.get(), 255)) << frame;  // the held map is in force
        EXPECT_EQ(log.count("ls scene moving, keep ls result: " + std::to_string(-frame)), 1);
        const bool refresh = frame == 15;
        EXPECT_EQ(log.count("update ls result, run ls model: -15"), refresh ? 1 : 0) << frame;
        EXPECT_EQ(log.count("run ls model failed -1, use last ls result"), refresh ? 1 : 0);
    }
    // From the 31st moving frame on: no hold. A class other than 0 keeps the map.
    for (int32_t cls : {-3, -1, -4}) {
        LogCapture log;
        float score = 25.0f;
        EXPECT_EQ(movingFrame(e.get(), cls, &score), 0);
        EXPECT_EQ(e->lastIsSegResult, -30);
        EXPECT_EQ(score, 25.0f);
        EXPECT_TRUE(mapIs(e->lastSegMap.get(), 255));
        EXPECT_TRUE(log.lines().empty());
    }
    // A class-0 frame drops the kept map.
    float score = 25.0f;
    EXPECT_EQ(movingFrame(e.get(), 0, &score), 0);
    EXPECT_EQ(score, 18.0f);
    EXPECT_TRUE(mapIs(e->lastSegMap.get(), 0));
    EXPECT_EQ(e->lastIsSegResult, -30);
}

TEST(LightMapHold, Table) {
    struct Case {
        int32_t state;
        int32_t cls;
        int32_t expectedReturn;
        int32_t expectedState;
        float expectedScore;
        bool segMapHeld;
        bool lastMapDropped;
    } cases[] = {
        {5, -3, 1, -1, 18.0f, true, false},      // a stable count turns into -1
        {1, 0, 1, -1, 18.0f, true, false},       // class 0 also holds while counting
        {-14, -1, 1, -15, 18.0f, true, false},   // refresh fails: the held map stays
        {-29, -3, 1, -30, 18.0f, true, false},   // the 30th moving frame still holds
        {-30, -3, 0, -30, 25.0f, false, false},  // the 31st does not
        {-30, 0, 0, -30, 18.0f, false, true},   {-45, 0, 0, -45, 18.0f, false, true},
        {0, -3, 0, 0, 25.0f, false, false},  // no map state
        {7, 1, 0, 7, 25.0f, false, false},   // stable frames are not handled here
        {-10, 1, 0, -10, 25.0f, false, false},
    };
    for (const Case& c : cases) {
        auto e = makeTestEngine();
        e->lastIsSegResult = c.state;
        std::memset(e->lastSegMap.get(), 255, kSegMapBytes);
        float score = 25.0f;
        EXPECT_EQ(movingFrame(e.get(), c.cls, &score), c.expectedReturn) << c.state;
        EXPECT_EQ(e->lastIsSegResult, c.expectedState) << c.state;
        EXPECT_EQ(score, c.expectedScore) << c.state;
        EXPECT_TRUE(mapIs(e->segMap.get(), c.segMapHeld ? 255 : 0)) << c.state;
        EXPECT_TRUE(mapIs(e->lastSegMap.get(), c.lastMapDropped ? 0 : 255)) << c.state;
    }
}

TEST(LightMapHold, NullArgumentsAreRefused) {
    auto e = makeTestEngine();
    e->lastIsSegResult = 3;
    e->isStable = -3;
    LogCapture log;
    EXPECT_EQ(xepo::handleSegResultWhenMoving(nullptr, nullptr, 0, nullptr), 0);
    EXPECT_EQ(xepo::handleSegResultWhenMoving(e.get(), e->modelInput.get(), 0, nullptr), 0);
    EXPECT_EQ(e->lastIsSegResult, 3);
    EXPECT_EQ(log.lines().size(), 2u);
}

// --- tryHitHistory ---

constexpr float kLux = 300.0f;
constexpr float kScale = 1.0f;

HistoryEntry makeEntry(const std::vector<int32_t>& bins, float score, float confidence,
                       float lux = kLux, float scale = kScale, int32_t isSeg = 0) {
    HistoryEntry h;
    h.hist = makeHist(bins);
    h.score = score;
    h.enConfidence = confidence;
    h.aecLux = lux;
    h.scale = scale;
    h.isSegResult = isSeg;
    return h;
}

// An engine ready for a look-up: stable first frame, enough model runs, and
// this frame's histogram all in bin 0.
std::unique_ptr<AeEngine> lookupEngine(float lastScore) {
    auto e = makeTestEngine();
    e->modelRunCount = 5;
    e->isStable = 1;
    e->lastIsStable = 1;
    e->historyHitCount = 0;
    e->lastAeThisScore = lastScore;
    e->curHist[0] = 50176;
    return e;
}

struct HitScoreCase {
    const char* name;
    float lastScore;
    float expected;
};

class HistoryHitScore : public ::testing::TestWithParam<HitScoreCase> {};

TEST_P(HistoryHitScore, ScoreRule) {
    const HitScoreCase& c = GetParam();
    auto e = lookupEngine(c.lastScore);
    e->historyHist.push_back(makeEntry({50176}, 20.0f, 0.8f, kLux + 1.5f));
    float thisResult = 1.2f;
    LogCapture log;
    const float score = xepo::tryHitHistory(e.get(), &thisResult, 18.0f, kLux, kScale);
    EXPECT_FLOAT_EQ(score, c.expected);
    EXPECT_FLOAT_EQ(thisResult, 0.8f);
    EXPECT_EQ(e->historyHitCount, 1);
    EXPECT_EQ(log.count("hit history, history_ae: 20.000000, similarity: 1.000000, "
                        "history_aec_lux: 301.500000, diff: 1.500000"),
              1);
}

INSTANTIATE_TEST_SUITE_P(
    History, HistoryHitScore,
    ::testing::Values(HitScoreCase{"same_score", 20.0f, 20.0f},
                      HitScoreCase{"within_10_percent_takes_entry", 21.9f, 20.0f},
                      HitScoreCase{"10_percent_below_takes_entry", 18.1f, 20.0f},
                      HitScoreCase{"15_percent_above_keeps_last", 23.0f, 23.0f},
                      // (24 - 20) / 20 is 0.2f, not above 0.2f: the last score stays.
                      HitScoreCase{"20_percent_above_keeps_last", 24.0f, 24.0f},
                      HitScoreCase{"30_percent_above_capped", 26.0f, 22.0f},
                      HitScoreCase{"far_above_capped", 44.0f, 22.0f},
                      HitScoreCase{"30_percent_below_keeps_last", 14.0f, 14.0f}),
    [](const ::testing::TestParamInfo<HitScoreCase>& info) {
        return std::string(info.param.name);
    });

TEST(HistoryLookup, GatesOfTheLookup) {
    struct Case {
        const char* name;
        int32_t modelRunCount;
        int32_t isStable;
        int32_t hitCount;
        int32_t lastIsStable;
        bool emptyHistory;
        bool hit;
    } cases[] = {
        {"first_stable_frame", 5, 1, 0, 1, false, true},
        {"fourth", 900, 1, 0, 4, false, true},
        {"seventh", 5, 1, 0, 7, false, true},
        {"few_model_runs", 4, 1, 0, 1, false, false},
        {"not_stable", 5, -3, 0, 1, false, false},
        {"already_hit", 5, 1, 1, 1, false, false},
        {"hit_counting", 5, 1, 3, 4, false, false},
        {"second_frame", 5, 1, 0, 2, false, false},
        {"tenth_frame", 5, 1, 0, 10, false, false},
        {"unstable_count", 5, 1, 0, 0, false, false},
        {"empty_history", 5, 1, 0, 1, true, false},
    };
    for (const Case& c : cases) {
        auto e = lookupEngine(30.0f);
        e->modelRunCount = c.modelRunCount;
        e->isStable = c.isStable;
        e->historyHitCount = c.hitCount;
        e->lastIsStable = c.lastIsStable;
        if (!c.emptyHistory) {
            e->historyHist.push_back(makeEntry({50176}, 30.0f, 0.9f));
        }
        float thisResult = 1.2f;
        const float score = xepo::tryHitHistory(e.get(), &thisResult, 17.0f, kLux, kScale);
        EXPECT_EQ(score, c.hit ? 30.0f : 17.0f) << c.name;
        EXPECT_EQ(thisResult, c.hit ? 0.9f : 1.2f) << c.name;
        EXPECT_EQ(e->historyHitCount, c.hit ? 1 : c.hitCount) << c.name;
    }
}

TEST(HistoryLookup, MatchConditions) {
    const float nextScale = std::nextafter(kScale, 2.0f);
    struct Case {
        const char* name;
        HistoryEntry entry;
        float thisResult;
        bool hit;
    };
    std::vector<Case> cases;
    cases.push_back({"lux_2_apart", makeEntry({50176}, 20, 0.8f, kLux - 2.0f), 1.2f, true});
    cases.push_back({"lux_2_5_apart", makeEntry({50176}, 20, 0.8f, kLux + 2.5f), 1.2f, false});
    cases.push_back(
        {"zoom_one_ulp_off", makeEntry({50176}, 20, 0.8f, kLux, nextScale), 1.2f, false});
    // bin 0 holds 94 % of the entry's pixels: similarity sqrt(0.94) = 0.9695.
    cases.push_back({"similarity_below_0_97", makeEntry({47165, 3011}, 20, 0.8f), 1.2f, false});
    // 95 %: similarity 0.9747.
    cases.push_back({"similarity_above_0_97", makeEntry({47667, 2509}, 20, 0.8f), 1.2f, true});
    cases.push_back({"confidence_above_this_result", makeEntry({50176}, 20, 0.8f), 0.5f, false});
    cases.push_back(
        {"confidence_just_below_this_result", makeEntry({50176}, 20, 0.8f), 0.795f, true});
    cases.push_back({"confidence_0_73_hits", makeEntry({50176}, 20, 0.73f), 1.2f, true});
    cases.push_back({"confidence_0_72_skipped", makeEntry({50176}, 20, 0.72f), 1.2f, false});
    for (Case& c : cases) {
        auto e = lookupEngine(20.0f);
        e->historyHist.push_back(std::move(c.entry));
        float thisResult = c.thisResult;
        xepo::tryHitHistory(e.get(), &thisResult, 17.0f, kLux, kScale);
        EXPECT_EQ(e->historyHitCount, c.hit ? 1 : 0) << c.name;
    }
}

TEST(HistoryLookup, SearchesNewestFirstAndSkipsLowConfidence) {
    {  // two matching entries: the newest wins
        auto e = lookupEngine(20.0f);
        e->historyHist.push_back(makeEntry({50176}, 21.0f, 0.8f));
        e->historyHist.push_back(makeEntry({50176}, 20.0f, 0.9f));
        float thisResult = 1.2f;
        EXPECT_EQ(xepo::tryHitHistory(e.get(), &thisResult, 18.0f, kLux, kScale), 20.0f);
        EXPECT_EQ(thisResult, 0.9f);
    }
    {  // a low-confidence newest entry is passed over for an older one
        auto e = lookupEngine(20.0f);
        e->historyHist.push_back(makeEntry({50176}, 20.5f, 0.8f));
        e->historyHist.push_back(makeEntry({50176}, 30.0f, 0.72f));
        float thisResult = 1.2f;
        EXPECT_EQ(xepo::tryHitHistory(e.get(), &thisResult, 18.0f, kLux, kScale), 20.5f);
        EXPECT_EQ(thisResult, 0.8f);
        EXPECT_EQ(e->historyHitCount, 1);
    }
    {  // a matching light-map entry ends the search without a hit
        auto e = lookupEngine(20.0f);
        e->historyHist.push_back(makeEntry({50176}, 20.0f, 0.9f));
        e->historyHist.push_back(makeEntry({50176}, 18.0f, 0.9f, kLux, kScale, 1));
        float thisResult = 1.2f;
        LogCapture log;
        EXPECT_EQ(xepo::tryHitHistory(e.get(), &thisResult, 17.0f, kLux, kScale), 17.0f);
        EXPECT_EQ(thisResult, 1.2f);
        EXPECT_EQ(e->historyHitCount, 0);
        EXPECT_EQ(log.count("hit ls history"), 1);
    }
    {  // a newer entry of another zoom does not hide an older match
        auto e = lookupEngine(20.0f);
        e->historyHist.push_back(makeEntry({50176}, 20.0f, 0.9f));
        e->historyHist.push_back(makeEntry({50176}, 30.0f, 0.9f, kLux, 2.0f));
        float thisResult = 1.2f;
        EXPECT_EQ(xepo::tryHitHistory(e.get(), &thisResult, 17.0f, kLux, kScale), 20.0f);
    }
}

// --- handleStableScene: score, counters and the map (no image work) ---

void stableFrame(AeEngine* e, float* score, int32_t* lsResult, float lux) {
    std::memset(e->segMap.get(), 0, kSegMapBytes);
    const float angle[3] = {0, 0, 0};
    xepo::handleStableScene(e, score, lsResult, nullptr, nullptr, 640, 480, 640, 480, 17, 0, false,
                            0, 0, lux, kScale, angle);
}

TEST(StableScene, ScoreAndHitCounter) {
    struct Case {
        int32_t hitCount;
        float score;
        int32_t expectedHitCount;
        float expectedScore;
    } cases[] = {
        {1, 21.0f, 2, 21.0f},  // the frame of a hit keeps the history score
        {0, 21.0f, 0, 19.0f},  // otherwise the last score
        {2, 21.0f, 3, 19.0f},
        {7, 21.0f, 8, 19.0f},
    };
    for (const Case& c : cases) {
        auto e = makeTestEngine();
        e->historyHitCount = c.hitCount;
        e->lastAeThisScore = 19.0f;
        e->lastIsStable = 5;
        float score = c.score;
        int32_t ls = 0;
        stableFrame(e.get(), &score, &ls, kLux);
        EXPECT_EQ(e->historyHitCount, c.expectedHitCount);
        EXPECT_EQ(score, c.expectedScore);
        EXPECT_EQ(ls, 0);
        EXPECT_EQ(e->lastIsStable, 6);
    }
}

TEST(StableScene, LightMapHoldAndRefresh) {
    struct Case {
        const char* name;
        int32_t state;
        float luxFromMap;  // |aec_lux - lastSegAecLux|
        bool refresh;
        bool held;  // lsResult 1, neutral score, map copied
        int32_t expectedState;
    } cases[] = {
        {"hold_first", 1, 0.0f, false, true, 2},
        {"hold_15_small_lux_change", 15, 0.5f, false, true, 16},
        {"hold_15_lux_change_of_1", 15, 1.0f, false, true, 16},
        {"refresh_15", 15, 1.5f, true, true, 16},
        {"refresh_30", 30, 3.0f, true, true, 31},
        {"hold_16", 16, 3.0f, false, true, 17},
        {"no_map", 0, 3.0f, false, false, 0},
        {"moving_state_not_held", -3, 3.0f, false, false, -3},
        {"moving_state_15_not_refreshed", -15, 3.0f, false, false, -15},
    };
    for (const Case& c : cases) {
        auto e = makeTestEngine();  // no runner: a refresh fails and keeps the map
        e->lastIsSegResult = c.state;
        e->lastSegAecLux = kLux;
        e->lastAeThisScore = 25.0f;
        e->lastIsStable = 5;
        std::memset(e->lastSegMap.get(), 255, kSegMapBytes);
        float score = 25.0f;
        int32_t ls = 0;
        LogCapture log;
        stableFrame(e.get(), &score, &ls, kLux + c.luxFromMap);
        EXPECT_EQ(e->lastIsSegResult, c.expectedState) << c.name;
        EXPECT_EQ(ls, c.held ? 1 : 0) << c.name;
        EXPECT_EQ(score, c.held ? 18.0f : 25.0f) << c.name;
        EXPECT_TRUE(mapIs(e->segMap.get(), c.held ? 255 : 0)) << c.name;
        EXPECT_TRUE(mapIs(e->lastSegMap.get(), 255)) << c.name;
        EXPECT_EQ(log.count("update ls result, run ls model: " + std::to_string(c.state)),
                  c.refresh ? 1 : 0)
            << c.name;
        EXPECT_EQ(log.count("run ls model failed -1"), c.refresh ? 1 : 0) << c.name;
        EXPECT_EQ(log.count("keep use last ls result"), c.refresh ? 1 : 0) << c.name;
        EXPECT_TRUE(log.contains("handleStableScene yuvtoBuffer failed! ") == c.refresh) << c.name;
        EXPECT_EQ(log.count("keep use ls result: " + std::to_string(c.state)),
                  c.held && !c.refresh ? 1 : 0)
            << c.name;
        EXPECT_EQ(e->lastSegAecLux, kLux) << c.name;  // only a successful refresh moves it
    }
}

TEST(StableScene, LogsItsStateLine) {
    auto e = makeTestEngine();
    e->lastIsSegResult = 0;
    e->lastSegAecLux = 12.5f;
    e->lastIsStable = 3;
    float score = 20.0f;
    int32_t ls = 0;
    LogCapture log;
    stableFrame(e.get(), &score, &ls, 250.0f);
    EXPECT_EQ(log.count("handleStableScene, lastIsSegResult: 0, aec_lux: 250.000000, "
                        "lastSegAecLux: 12.500000 lastIsStable:3"),
              1);
}

TEST(StableScene, NullArgumentsAreRefused) {
    auto e = makeTestEngine();
    e->lastIsStable = 3;
    float score = 20.0f;
    int32_t ls = 0;
    LogCapture log;
    xepo::handleStableScene(e.get(), nullptr, &ls, nullptr, nullptr, 0, 0, 0, 0, 17, 0, false, 0, 0,
                            kLux, kScale, nullptr);
    xepo::handleStableScene(e.get(), &score, nullptr, nullptr, nullptr, 0, 0, 0, 0, 17, 0, false, 0,
                            0, kLux, kScale, nullptr);
    xepo::handleStableScene(nullptr, &score, &ls, nullptr, nullptr, 0, 0, 0, 0, 17, 0, false, 0, 0,
                            kLux, kScale, nullptr);
    EXPECT_EQ(e->lastIsStable, 3);
    EXPECT_EQ(log.lines().size(), 3u);
    float thisResult = 1.2f;
    EXPECT_EQ(xepo::tryHitHistory(nullptr, &thisResult, 17.0f, kLux, kScale), 17.0f);
    EXPECT_EQ(xepo::tryHitHistory(e.get(), nullptr, 17.0f, kLux, kScale), 17.0f);
}

}  // namespace
