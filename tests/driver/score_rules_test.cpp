// The driver's small rules: score average, score choice, crossing limit, hold
// output, and the no-model route of unstable frames.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include "xepo/ae_engine.h"
#include "xepo/score_combination.h"
#include "xepo/unstable_scene.h"

namespace {

using xepo::AeEngine;

TEST(PushScoreAverage, AveragesTheLastFiveAndAnswersQueries) {
    xepo::ScoreAverage average;
    EXPECT_FLOAT_EQ(xepo::pushScoreAverage(&average, -1.0f), 18.0f);  // empty query
    // pushed score, average after
    const std::pair<float, float> steps[] = {{10, 10}, {20, 15}, {30, 20}, {40, 25},
                                             {50, 30}, {60, 40}, {-1, 40}, {70, 50}};
    for (const auto& [score, expected] : steps) {
        EXPECT_FLOAT_EQ(xepo::pushScoreAverage(&average, score), expected) << "after " << score;
    }
    EXPECT_EQ(average.values.size(), 5u);  // a query appends nothing
}

TEST(SelectScore, FirstMatchingRuleDecides) {
    // frame score, average, lux, last lux, last output, history hits, choice, why
    const std::tuple<float, float, float, float, float, int, float, const char*> cases[] = {
        {30, 10, 300, 300, 18, 1, 30, "history hit keeps the frame score"},
        {17, 18, 300, 300, 18, 0, 17, "darker frame against neutral average"},
        {18, 24, 300, 300, 18, 0, 18, "neutral frame against a mildly bright average"},
        {18, 24, 300, 300, 24, 0, 18, "an average of exactly 24 still takes the neutral frame"},
        {18, 24.5f, 300, 300, 24, 0, 24.5f, "above 24 the average nearer the last output wins"},
        {20, 14, 300, 300, 18, 0, 16, "bright frame against a dark average gives 16"},
        {20, 17, 300, 300, 18, 0, 20, "bright frame against a slightly dark average"},
        {15, 16, 300, 300, 18, 0, 15, "both dark, frame darker"},
        {28, 24, 300, 300, 18, 0, 28, "both bright, frame up to 5 above"},
        {22, 30, 302, 300, 30, 0, 22, "falling score explained by a darker lux"},
        {22, 30, 301, 300, 29, 0, 30, "a lux change of exactly 1 does not explain a fall"},
        {30, 22, 301, 300, 23, 0, 22, "nor a rise"},
        {35, 28, 300, 300, 18, 0, 35, "rising score with no lux rise"},
        {22, 30, 300, 300, 29, 0, 30, "unexplained fall: the average is nearer the last output"},
        {22, 30, 300, 300, 23, 0, 22, "unexplained fall: the frame is nearer the last output"},
        {22, 30, 300, 300, 26, 0, 30, "a tie goes to the average"},
    };
    for (const auto& [s, a, aecLux, lastAecLux, lastAeScore, hits, expected, why] : cases) {
        AeEngine engine;
        std::tie(engine.lastAecLux, engine.lastAeScore, engine.historyHitCount) =
            std::make_tuple(lastAecLux, lastAeScore, hits);
        EXPECT_FLOAT_EQ(xepo::selectScore(&engine, s, a, aecLux), expected) << why;
    }
}

// The first stable frame may not cross neutral. The lux rule keeps the last
// output against a move opposite to the lux, which needs a last lux other than
// this frame's: called as the driver calls it (the driver stores this frame's
// lux first) the rule is inert.
TEST(LimitScoreCrossing, FirstStableFrameMayNotCrossNeutral) {
    struct Case {
        int isStable, lastIsStable;
        float lastAeScore, s, aecLux, expected;
        const char* why;
        float lastAecLux = 0;  // 0: this frame's lux
        bool cameraFirst = false;
    } cases[] = {
        {1, 0, 15, 25, 300, 15, "dark last output caps a bright score"},
        {1, 0, 9, 25, 300, 11, "the cap is the last output clamped to 11"},
        {1, 0, 30, 12, 300, 30, "bright last output floors a dark score"},
        {1, 0, 50, 12, 300, 44, "the floor is clamped to 44"},
        {1, 0, 15, 17, 300, 17, "no crossing, no limit"},
        {1, 0, 17, 15, 300, 15, "both below neutral, the last output higher: no floor"},
        {1, 0, 25, 20, 300, 20, "both above neutral, the last output higher: no floor"},
        // With a lux change (which the driver never hands on) the last output is
        // scaled by 1 + k*r, and a move towards neutral meets it halfway.
        {1, 0, 15, 17, 320, 15.5f, "darker: 17 and 15 scaled to 14", 300},
        {1, 0, 15, 18, 320, 18, "darker: a neutral score stays", 300},
        {1, 0, 25, 20, 280, 25, "brighter: 20 and 25 scaled to 30", 300},
        {1, 3, 15, 25, 300, 25, "not the first stable frame"},
        {0, 0, 15, 25, 300, 25, "not stable"},
        {1, 0, 15, 25, 0, 25, "lux 0 is not limited"},
        {0, 0, 25, 15, 300, 15, "the lux rule is inert with the same lux", 300},
        // A darker scene (higher lux index) gives k*r < 0.
        {0, 0, 25, 30, 320, 25, "a rise above the last output is held", 300},
        {0, 0, 25, 30, 320, 30, "but not when the camera comes first", 300, true},
    };
    for (const Case& c : cases) {
        AeEngine engine;
        std::tie(engine.isStable, engine.lastIsStable, engine.lastAeScore, engine.lastAecLux) =
            std::make_tuple(c.isStable, c.lastIsStable, c.lastAeScore,
                            c.lastAecLux != 0 ? c.lastAecLux : c.aecLux);
        EXPECT_FLOAT_EQ(xepo::limitScoreCrossing(&engine, c.cameraFirst, c.s, c.aecLux, 0.5f),
                        c.expected)
            << c.why;
    }
}

// The hold output repeats the last answer; its confidence follows the map state
// or the entrance output the frame would have used (the rule itself is shared
// with the result writer and tested there).
TEST(WriteHoldResult, RepeatsTheLastAnswerAndTakesOverLuxAndZoom) {
    AeEngine engine;
    engine.lastAeScore = 27.5f;
    engine.lastSegMap.reset(new uint8_t[xepo::kSegMapBytes]);
    std::fill_n(engine.lastSegMap.get(), xepo::kSegMapBytes, uint8_t{255});
    std::vector<uint8_t> hostMap(xepo::kSegMapBytes, 7);
    XEPOSegMap map{0, 0, 0, hostMap.data()};
    _XEPO_RES_ result{0, 0, &map};
    xepo::writeHoldResult(&engine, &result, 1.2f, 321.0f, 2.0f);
    // Confidence 0.9: no entrance output yet.
    EXPECT_EQ(
        std::make_tuple(result.result, result.confidence, int{hostMap[xepo::kSegMapBytes - 1]},
                        engine.lastAecLux, engine.lastScale),
        std::make_tuple(27.5f, 0.9f, 255, 321.0f, 2.0f));

    engine.enResult.reset(new float[4]{0, 0.9f, 0, 0});
    engine.lastEnResult.reset(new float[4]{0, 0.5f, 0.9f, 0});
    xepo::writeHoldResult(&engine, &result, 1.2f, 321.0f, 2.0f);
    EXPECT_FLOAT_EQ(result.confidence, 0.82f);  // 1.2: no entrance run, lastEnResult counts
    engine.lastIsSegResult = 1;
    xepo::writeHoldResult(&engine, &result, 1.2f, 321.0f, 2.0f);
    EXPECT_FLOAT_EQ(result.confidence, 0.92f);  // a light-region map in force
}

TEST(HandleNotStableNotCameraFirst, KeepsDampsOrNeutralises) {
    // last lux, lux, similarity, last frame score, stable count, score, stable count after
    const std::tuple<float, float, float, float, int, float, int> cases[] = {
        {300, 305, 0.1f, 30, 3, 30, 0},   // lux change 5: keep, count reset
        {300, 306, 0.5f, 30, 3, 21, 0},   // 18 + 0.5 * 0.5 * 12
        {464, 470, 0.5f, 30, 3, 18, 0},   // dark: neutral
        {300, 306, 0.85f, 30, 3, 30, 1},  // unchanged picture: kept, stable count 1
        {300, 306, 0.85f, 30, 0, 30, 0}, {100, 149, 0.9f, 30, 0, 18, 0},  // too bright for keeping
    };
    for (const auto& [lastLux, lux, similarity, lastScore, count, score, countAfter] : cases) {
        AeEngine engine;
        std::tie(engine.lastAecLux, engine.lastAeThisScore, engine.lastIsStable) =
            std::make_tuple(lastLux, lastScore, count);
        float out = 0.0f;
        xepo::handleNotStableNotCameraFirst(&engine, &out, lux, similarity);
        EXPECT_FLOAT_EQ(out, score) << lux << " " << similarity;
        EXPECT_EQ(engine.lastIsStable, countAfter);
    }
}

}  // namespace
