// Gyro step: stability classes, rest codes, dark rules and bad gyro blocks.
#include "xepo/gyro_stability.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "log_capture.h"
#include "test_engine.h"

namespace {

using pipeline_test::makeGyroBlock;
using pipeline_test::makeTestEngine;
using xepo::AeEngine;
using xepo::processGyroAndStability;

constexpr uint64_t kMs = 1000000ULL;
constexpr uint64_t kS = 1000000000ULL;
constexpr int64_t kUs = 1000000;  // processor-clock ticks per second
constexpr uint64_t kTrackTime = 5 * kS;

// An engine whose angle track is running (last sample at kTrackTime, kept
// status) with the given previous distance and lux.
std::unique_ptr<AeEngine> runningEngine(float lastDistance, float lastLux) {
    auto e = makeTestEngine();
    e->lastGyroTimestamp = kTrackTime;
    e->lastImuStatus = 1;
    e->last_gyrosimilarity = lastDistance;
    e->lastAecLux = lastLux;
    return e;
}

// A one-sample block 10 ms after the track that moves the x angle by
// rate * 0.01.
IMUDataBlock moveBy(float rate) {
    return makeGyroBlock(1, kTrackTime + 10 * kMs, 0, rate, 0, 0);
}

struct Frame {
    float g = 0.0f;
    int32_t rest = -1;
    float score = 25.0f;
    float angle[3] = {-9, -9, -9};
};

Frame runFrame(AeEngine* e, const IMUDataBlock* block, int64_t now, float lux) {
    Frame f;
    f.g = processGyroAndStability(e, block, now, &f.rest, &f.score, f.angle, lux);
    return f;
}

// --- Stability class from the lux change (device moving, so no -4) ---

struct LuxCase {
    float lastLux;
    float lux;
    int32_t expectedClass;
};

class LuxClassTable : public ::testing::TestWithParam<LuxCase> {};

TEST_P(LuxClassTable, ClassFollowsLuxChange) {
    const LuxCase& c = GetParam();
    auto e = runningEngine(0.0f, c.lastLux);
    IMUDataBlock block = moveBy(3.0f);  // 0.03: moving
    runFrame(e.get(), &block, 0, c.lux);
    EXPECT_EQ(e->isStable, c.expectedClass) << c.lastLux << " -> " << c.lux;
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(Gyro, LuxClassTable,
                         ::testing::Values(LuxCase{100.0f, 100.0f, 1}, LuxCase{0.0f, 0.29f, 1},
                                           LuxCase{0.0f, 0.3f, -1},  // exactly 0.3: drifting
                                           LuxCase{100.0f, 100.3f, -1}, LuxCase{10.0f, 9.5f, -1},
                                           LuxCase{0.0f, 0.99f, -1},
                                           LuxCase{0.0f, 1.0f, -3},  // exactly 1.0
                                           LuxCase{200.0f, 180.0f, -3}, LuxCase{0.0f, 36.99f, -3},
                                           LuxCase{0.0f, 37.0f, 0},  // exactly 37.0: jumped
                                           LuxCase{300.0f, 100.0f, 0}, LuxCase{100.0f, kNaN, 0},
                                           LuxCase{kNaN, 100.0f, 0}));

TEST(GyroStability, LogsTheClassLineWithItsTrailingBlank) {
    auto e = runningEngine(0.0f, 100.0f);
    IMUDataBlock block = moveBy(0.0f);
    LogCapture log;
    runFrame(e.get(), &block, 0, 100.0f);
    EXPECT_EQ(log.count("aec_lux: 100.000000 gyro_similarity: 0.000000 isStable 1 "
                        "last_gyrosimilarity:0.000000 "),
              1)
        << (log.texts().empty() ? "" : log.texts()[0]);
}

// --- The "just settled" class -4 ---

TEST(GyroStability, JustSettledWhateverTheLuxChange) {
    for (float lux : {100.0f, 100.5f, 120.0f, 300.0f}) {
        auto e = runningEngine(0.02f, 100.0f);
        IMUDataBlock block = moveBy(1.0f);  // 0.01
        Frame f = runFrame(e.get(), &block, 7 * kUs, lux);
        EXPECT_FLOAT_EQ(f.g, 0.01f);
        EXPECT_EQ(e->isStable, -4) << lux;
        EXPECT_EQ(f.rest, 2);
        EXPECT_EQ(e->stillSinceTicks, 7 * kUs);
    }
}

TEST(GyroStability, JustSettledNeedsBothEstimatesToKeepTheTrack) {
    {  // previous estimate restarted
        auto e = runningEngine(0.02f, 100.0f);
        e->lastImuStatus = 0;
        IMUDataBlock block = moveBy(1.0f);
        runFrame(e.get(), &block, 0, 120.0f);
        EXPECT_EQ(e->isStable, -3);
        EXPECT_EQ(e->lastImuStatus, 1);
    }
    {  // this estimate restarts (gap above 40 s)
        auto e = runningEngine(0.02f, 100.0f);
        e->imuAngle[0] = 0.005f;
        IMUDataBlock block = makeGyroBlock(2, kTrackTime + 41 * kS, 10 * kMs, 0.5f, 0, 0);
        Frame f = runFrame(e.get(), &block, 0, 120.0f);
        ASSERT_LT(f.g, 0.015f);
        EXPECT_EQ(e->isStable, -3);
        EXPECT_EQ(e->lastImuStatus, 0);
    }
}

TEST(GyroStability, FirstFramesAfterCreationNeverSettle) {
    auto e = makeTestEngine();
    LogCapture log;
    // First block: restart, integrated from zero over its own intervals.
    IMUDataBlock first = makeGyroBlock(3, 50 * kS, 10 * kMs, 1.0f, 0, 0);
    Frame f1 = runFrame(e.get(), &first, 0, 100.0f);
    EXPECT_EQ(log.count("IMUPositionEstimate gyro start timestamp too less, reset initial angle."),
              1);
    EXPECT_EQ(e->lastImuStatus, 0);
    EXPECT_FLOAT_EQ(f1.g, 0.02f);
    EXPECT_FLOAT_EQ(f1.angle[0], 0.02f);
    EXPECT_EQ(e->lastGyroTimestamp, 50 * kS + 20 * kMs);
    EXPECT_NE(e->isStable, -4);
    // Second block: carried on, moving 0.01 after 0.02, but the previous
    // estimate restarted. The driver has stored this frame's lux meanwhile.
    e->lastAecLux = 100.0f;
    IMUDataBlock second = makeGyroBlock(1, 50 * kS + 30 * kMs, 0, 1.0f, 0, 0);
    Frame f2 = runFrame(e.get(), &second, 0, 100.0f);
    EXPECT_FLOAT_EQ(f2.g, 0.01f);
    EXPECT_EQ(e->lastImuStatus, 1);
    EXPECT_EQ(e->isStable, 1);
    EXPECT_EQ(f2.rest, 2);
}

// --- Rest codes ---

struct RestCase {
    const char* name;
    float lastDistance;
    float rate;  // this frame moves by rate * 0.01
    int64_t stillSince;
    int64_t now;
    int32_t expectedRest;
    int64_t expectedStillSince;
};

class RestCodeTable : public ::testing::TestWithParam<RestCase> {};

TEST_P(RestCodeTable, RestCodeAndTimer) {
    const RestCase& c = GetParam();
    auto e = runningEngine(c.lastDistance, 100.0f);
    e->stillSinceTicks = c.stillSince;
    IMUDataBlock block = moveBy(c.rate);
    Frame f = runFrame(e.get(), &block, c.now, 100.0f);
    EXPECT_EQ(f.rest, c.expectedRest);
    EXPECT_EQ(e->stillSinceTicks, c.expectedStillSince);
}

INSTANTIATE_TEST_SUITE_P(
    Gyro, RestCodeTable,
    ::testing::Values(
        RestCase{"came_to_rest", 0.02f, 1.0f, 1, 9 * kUs, 2, 9 * kUs},
        RestCase{"rested_exactly_3s", 0.01f, 1.0f, 1 * kUs, 4 * kUs, 1, 1 * kUs},
        RestCase{"rested_just_under_3s", 0.01f, 1.0f, 1 * kUs, 4 * kUs - 1, 0, 1 * kUs},
        RestCase{"rested_long", 0.01f, 1.0f, 0, 3600 * kUs, 1, 0},
        // 0.015f lies below 0.015 in double precision: still, not moving.
        RestCase{"previous_0_015f_counts_as_still", 0.015f, 1.0f, 0, 5 * kUs, 1, 0},
        RestCase{"this_0_015f_counts_as_still", 0.02f, 1.5f, 0, 5 * kUs, 2, 5 * kUs},
        RestCase{"moving", 0.01f, 2.0f, 0, 5 * kUs, 0, 0},
        RestCase{"zero_distance_is_not_still", 0.0f, 0.0f, 0, 5 * kUs, 0, 0},
        RestCase{"clock_behind_the_timer", 0.01f, 1.0f, 10 * kUs, 2 * kUs, 0, 10 * kUs}),
    [](const ::testing::TestParamInfo<RestCase>& info) { return std::string(info.param.name); });

TEST(GyroStability, ThisDistanceOf0015fIsStill) {
    // Precondition of the table row above: the frame really moved by 0.015f.
    auto e = runningEngine(0.02f, 100.0f);
    IMUDataBlock block = moveBy(1.5f);
    Frame f = runFrame(e.get(), &block, 0, 100.0f);
    EXPECT_EQ(f.g, 0.015f);
    EXPECT_EQ(e->isStable, -4);
}

TEST(GyroStability, ZeroRatesTwentyMillisecondsApart) {
    auto e = runningEngine(0.0f, 100.0f);
    e->imuAngle[0] = 0.3f;
    IMUDataBlock block = makeGyroBlock(2, kTrackTime + 10 * kMs, 10 * kMs, 0, 0, 0);
    Frame f = runFrame(e.get(), &block, 0, 100.5f);
    EXPECT_EQ(f.g, 0.0f);
    EXPECT_EQ(f.rest, 0);
    EXPECT_EQ(e->isStable, -1);
    EXPECT_EQ(f.angle[0], 0.3f);
    EXPECT_EQ(e->lastGyroTimestamp, kTrackTime + 20 * kMs);
}

TEST(GyroStability, TakesOverThisFramesTrack) {
    auto e = runningEngine(0.0f, 100.0f);
    IMUDataBlock block = makeGyroBlock(3, kTrackTime + 10 * kMs, 10 * kMs, 1.0f, 2.0f, -1.0f);
    Frame f = runFrame(e.get(), &block, 0, 100.0f);
    EXPECT_FLOAT_EQ(e->imuAngle[0], 0.03f);
    EXPECT_FLOAT_EQ(e->imuAngle[1], 0.06f);
    EXPECT_FLOAT_EQ(e->imuAngle[2], -0.03f);
    EXPECT_EQ(f.angle[1], e->imuAngle[1]);
    EXPECT_EQ(e->lastGyroTimestamp, kTrackTime + 30 * kMs);
    EXPECT_EQ(e->last_gyrosimilarity, f.g);
}

// --- Dark scenes ---

TEST(GyroStability, DarkSceneIsClassZeroAndBecomesTheReference) {
    auto e = runningEngine(0.0f, 401.0f);
    IMUDataBlock block = moveBy(3.0f);
    Frame f = runFrame(e.get(), &block, 0, 401.0f);
    EXPECT_EQ(e->isStable, 0);
    EXPECT_EQ(e->refAecLux, 401.0f);
    EXPECT_EQ(f.score, 25.0f);

    auto bright = runningEngine(0.0f, 400.0f);
    runFrame(bright.get(), &block, 0, 400.0f);
    EXPECT_EQ(bright->isStable, 1);
    EXPECT_EQ(bright->refAecLux, 0.0f);
}

struct DarkRestCase {
    float refLux;
    int64_t restedUs;
    bool neutral;
};

TEST(GyroStability, RestingInADarkReferenceScene) {
    const DarkRestCase cases[] = {
        {450.0f, 3500000, true},   // rested 3.5 s, reference from an earlier frame
        {440.0f, 3000000, true},   // boundaries included
        {439.9f, 3500000, false},  // reference not dark enough
        {450.0f, 2900000, false},  // not rested long enough
    };
    for (const DarkRestCase& c : cases) {
        auto e = runningEngine(0.01f, 300.0f);
        e->refAecLux = c.refLux;
        e->stillSinceTicks = 1 * kUs;
        IMUDataBlock block = moveBy(1.0f);
        LogCapture log;
        Frame f = runFrame(e.get(), &block, 1 * kUs + c.restedUs, 300.0f);
        EXPECT_EQ(f.score, c.neutral ? 18.0f : 25.0f) << c.refLux << " " << c.restedUs;
        EXPECT_EQ(e->isStable, c.neutral ? 0 : 1);
        EXPECT_EQ(f.rest, c.restedUs >= 3000000 ? 1 : 0);
        EXPECT_EQ(log.count("gyro is stable and aec_lux is dark"), c.neutral ? 1 : 0);
    }
}

// --- Bad gyro blocks ---

TEST(GyroStability, MissingOrOversizedBlockCountsAsMovingAndKeepsTheTrack) {
    IMUDataBlock empty = makeGyroBlock(0, kTrackTime + 10 * kMs, 0, 1, 1, 1);
    IMUDataBlock oversized = makeGyroBlock(80, kTrackTime + 10 * kMs, kMs, 1, 1, 1);
    oversized.count = 81;
    IMUDataBlock negative = oversized;
    negative.count = -1;
    const IMUDataBlock* blocks[] = {nullptr, &empty, &oversized, &negative};
    for (const IMUDataBlock* block : blocks) {
        auto e = runningEngine(0.01f, 100.0f);
        e->imuAngle[0] = 0.25f;
        e->lastImuStatus = 0;
        e->stillSinceTicks = 0;
        LogCapture log;
        Frame f = runFrame(e.get(), block, 10 * kUs, 100.0f);
        EXPECT_EQ(f.g, xepo::kUnknownMotionDistance);
        EXPECT_EQ(f.rest, 0);
        EXPECT_EQ(e->isStable, 1);  // lux rules still apply
        EXPECT_EQ(f.angle[0], 0.25f);
        EXPECT_EQ(e->imuAngle[0], 0.25f);
        EXPECT_EQ(e->lastGyroTimestamp, kTrackTime);
        EXPECT_EQ(e->lastImuStatus, 0);
        EXPECT_EQ(e->last_gyrosimilarity, xepo::kUnknownMotionDistance);
        EXPECT_TRUE(log.contains("frame taken as moving"));
    }
}

TEST(GyroStability, NextStillFrameAfterAMissingBlockComesToRest) {
    auto e = runningEngine(0.01f, 100.0f);
    runFrame(e.get(), nullptr, 1 * kUs, 100.0f);
    IMUDataBlock block = moveBy(1.0f);
    Frame f = runFrame(e.get(), &block, 2 * kUs, 100.0f);
    EXPECT_EQ(f.rest, 2);
    EXPECT_EQ(e->stillSinceTicks, 2 * kUs);
}

TEST(GyroStability, NonFiniteDistanceIsResetToZero) {
    auto e = runningEngine(0.02f, 100.0f);
    IMUDataBlock block = moveBy(std::numeric_limits<float>::infinity());
    LogCapture log;
    Frame f = runFrame(e.get(), &block, 0, 100.0f);
    EXPECT_EQ(f.g, 0.0f);
    EXPECT_EQ(log.count("gyro_similarity is nan or inf, reset to 0"), 1);
    EXPECT_EQ(f.rest, 0);
    EXPECT_EQ(e->last_gyrosimilarity, 0.0f);
}

TEST(GyroStability, NullOutputsAndEngineAreSafe) {
    auto e = runningEngine(0.01f, 100.0f);
    IMUDataBlock block = moveBy(1.0f);
    EXPECT_FLOAT_EQ(processGyroAndStability(e.get(), &block, 0, nullptr, nullptr, nullptr, 100.0f),
                    0.01f);
    int32_t rest = 5;
    EXPECT_EQ(processGyroAndStability(nullptr, &block, 0, &rest, nullptr, nullptr, 100.0f), 0.0f);
    EXPECT_EQ(rest, 0);
}

}  // namespace
