// Metrics of a run on scripted exposure and score sequences, and the
// summary over runs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "closed_loop_metrics.h"

namespace {

struct MetricsCase {
    const char* name;
    double start;
    std::vector<double> evs;
    double finalError;
    int settle;
    double overshoot;
    int oscillations;
};

// Guards: each metric's rule: settling is the first frame after which EV
// stays in the band (a late excursion moves it; the band edge counts as
// inside), overshoot is measured only on the far side, small steps are not
// turns, and a start at the final value has no overshoot.
TEST(ClosedLoopMetrics, ScriptedExposureSequences) {
    const MetricsCase cases[] = {
        {"straight rise", -2.0, {-2, -1, -0.5, -0.25, -0.1, -0.05}, 0.05, 4, 0.0, 0},
        {"overshoot from below", -2.0, {-2, 0.5, 0.8, 0.2, 0.0, 0.0}, 0.0, 4, 0.8, 1},
        {"overshoot from above", 2.0, {2, -0.5, -0.1, 0.3, 0.3}, 0.3, 3, 0.8, 1},
        {"late excursion", 0.0, {0, 0, 0, 0.5, 0, 0}, 0.0, 4, 0.0, 1},
        {"band edge inside", -1.0, {-1, 0.0, 1.0 / 6.0, 0.0}, 0.0, 1, 1.0 / 6.0, 1},
        {"jitter is not turning", 1.0, {1, 0.52, 0.5, 0.54, 0.5, 0.53}, 0.53, 1, 0.03, 0},
        {"ringing", 1.0, {1, -1, 0.8, -0.6, 0.4, -0.2, 0.1}, 0.1, 6, 1.1, 5},
        {"single frame", 0.5, {0.5}, 0.5, 0, 0.0, 0},
        {"ends below", 0.0, {0, -1, -2, -3}, 3.0, 3, 0.0, 0},
    };
    for (const MetricsCase& c : cases) {
        const RunMetrics m = measureRun(c.start, c.evs, std::vector<double>(c.evs.size(), 18.0));
        EXPECT_NEAR(m.finalError, c.finalError, 1e-12) << c.name;
        EXPECT_EQ(m.finalEv, c.evs.back()) << c.name;
        EXPECT_EQ(m.settleFrame, c.settle) << c.name;
        EXPECT_NEAR(m.overshoot, c.overshoot, 1e-12) << c.name;
        EXPECT_EQ(m.oscillations, c.oscillations) << c.name;
    }
}

// Guards: flicker is the population deviation of the last 30 finite scores;
// older frames and missing answers do not count.
TEST(ClosedLoopMetrics, FlickerOfTheLastSecond) {
    std::vector<double> scores(40, 30.0);  // frames 0..9 differ but are too old
    for (int i = 10; i < 40; ++i) {
        scores[size_t(i)] = i % 2 == 0 ? 17.0 : 19.0;
    }
    const std::vector<double> evs(scores.size(), 0.0);
    EXPECT_NEAR(measureRun(0.0, evs, scores).flicker, 1.0, 1e-12);
    scores[39] = NAN;  // left out: 15 at 17, 14 at 19
    const double mean = (15 * 17.0 + 14 * 19.0) / 29.0;
    const double variance = (15 * (17 - mean) * (17 - mean) + 14 * (19 - mean) * (19 - mean)) / 29;
    EXPECT_NEAR(measureRun(0.0, evs, scores).flicker, std::sqrt(variance), 1e-12);
    EXPECT_NEAR(measureRun(0.0, {0, 0}, {10.0, 14.0}).flicker, 2.0, 1e-12);
    EXPECT_EQ(measureRun(0.0, {0}, {NAN}).flicker, 0.0);
}

// Guards: linear interpolation between order statistics, unsorted input and
// the empty case.
TEST(ClosedLoopMetrics, PercentileTable) {
    const std::tuple<std::vector<double>, double, double> cases[] = {
        {{4, 1, 3, 2}, 0.5, 2.5}, {{4, 1, 3, 2}, 0.9, 3.7}, {{5}, 0.9, 5.0},
        {{3, 1, 2}, 0.5, 2.0},    {{3, 1, 2}, 0.0, 1.0},    {{3, 1, 2}, 1.0, 3.0},
    };
    for (const auto& [values, share, expected] : cases) {
        EXPECT_NEAR(percentile(values, share), expected, 1e-12) << share;
    }
    EXPECT_TRUE(std::isnan(percentile({}, 0.5)));
}

// Guards: the summary's statistics over runs (the on-target edge included).
TEST(ClosedLoopMetrics, PolicySummaryOverRuns) {
    // finalEv, finalError, settleFrame, overshoot, oscillations, flicker
    const std::vector<RunMetrics> runs = {{0, 0.1, 3, 0, 0, 0.0},
                                          {0, 1.0 / 3.0, 5, 0, 1, 0.5},
                                          {0, 0.9, 9, 0, 0, 1.0},
                                          {0, 2.0, 20, 0, 3, 4.0}};
    const PolicySummary s = summarizePolicy("grey", runs);
    EXPECT_EQ(s.policy, "grey");
    EXPECT_EQ(s.runs, 4);
    EXPECT_NEAR(s.medianError, (1.0 / 3.0 + 0.9) / 2, 1e-12);
    EXPECT_NEAR(s.p90Error, 0.9 + 0.7 * 1.1, 1e-12);
    EXPECT_NEAR(s.onTargetShare, 0.5, 1e-12);
    EXPECT_NEAR(s.medianSettle, 7.0, 1e-12);
    EXPECT_NEAR(s.meanOscillations, 1.0, 1e-12);
    EXPECT_NEAR(s.medianFlicker, 0.75, 1e-12);
    EXPECT_TRUE(std::isnan(summarizePolicy("none", {}).onTargetShare));
}

}  // namespace
