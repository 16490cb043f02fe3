// Gyro step: the angle track's restart, stability classes from the lux change,
// the settling class, rest codes with their 3 s timer, dark-scene rules, and
// blocks that cannot be integrated.
#include "xepo/gyro_stability.h"

#include <gtest/gtest.h>

#include <limits>

#include "cpp/img_process/imu_position.h"
#include "log_capture.h"
#include "test_engine.h"

namespace {

using pipeline_test::makeGyroBlock;

constexpr uint64_t kMs = 1000000ULL;  // in ns
constexpr uint64_t kS = 1000 * kMs;
constexpr int64_t kUs = 1000000;     // processor-clock ticks per second
constexpr uint64_t kTrack = 5 * kS;  // last sample of a running angle track
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// An engine whose angle track runs, with the given previous distance, lux,
// rest timer and track status.
std::unique_ptr<xepo::AeEngine> runningEngine(float lastDistance, float lastLux,
                                              int64_t stillSince = 0, int32_t lastStatus = 1) {
    auto e = pipeline_test::makeTestEngine();
    e->lastGyroTimestamp = kTrack;
    e->lastImuStatus = lastStatus;
    e->last_gyrosimilarity = lastDistance;
    e->lastAecLux = lastLux;
    e->stillSinceTicks = stillSince;
    return e;
}

struct Frame {
    float g;
    int32_t rest = -1;
    float score = 25.0f;
    float angle[3] = {};
};

// One frame whose block moves the x angle by rate * 0.01.
Frame runFrame(xepo::AeEngine* e, float rate, int64_t now, float lux) {
    const IMUDataBlock move = makeGyroBlock(1, kTrack + 10 * kMs, 0, rate, 0, 0);
    Frame f;
    f.g = xepo::processGyroAndStability(e, &move, now, &f.rest, &f.score, f.angle, lux);
    return f;
}

// From angles 1 and three samples 10 ms apart at rate 1: a gap of exactly 40 s
// is still integrated, one ns more restarts the track from zero (as does a
// fresh track), and a carried-on block integrates its first sample over the gap.
TEST(ImuEstimate, RestartsOnlyAfterAGapAbove40Seconds) {
    struct Case {
        uint64_t last, first;
        int32_t status;
        float x;
    } cases[] = {{0, 50 * kS, 0, 0.02f},
                 {1 * kS, 41 * kS, 1, 41.02f},
                 {1 * kS, 41 * kS + 1, 0, 0.02f},
                 {1 * kS, 1 * kS + 20 * kMs, 1, 1.04f}};
    for (const Case& c : cases) {
        const IMUDataBlock block = makeGyroBlock(3, c.first, 10 * kMs, 1.0f, 2.0f, 3.0f);
        const float prev[3] = {1, 1, 1};
        float angle[3] = {};
        EXPECT_EQ(xepo::IMUPositionEstimate(prev, &c.last, &block, angle), c.status);
        EXPECT_FLOAT_EQ(angle[0], c.x) << c.first;
        EXPECT_FLOAT_EQ(angle[2], c.status == 1 ? 3 * c.x - 2 : 3 * c.x);
    }
}

// Moving: the lux change bounds the classes at 0.3, 1.0 and 37.0 (NaN: 0).
// Just stopped with both estimates on the track: -4 whatever the lux.
TEST(GyroStability, ClassTable) {
    struct Case {
        float lastDistance, rate, lastLux, lux;
        int32_t lastStatus, expected;
    } cases[] = {
        {0, 3, 0, 0.29f, 1, 1},      {0, 3, 0, 0.3f, 1, -1},      {0, 3, 0, 0.99f, 1, -1},
        {0, 3, 0, 1.0f, 1, -3},      {0, 3, 0, 36.99f, 1, -3},    {0, 3, 0, 37.0f, 1, 0},
        {0, 3, 300, 100, 1, 0},      {0, 3, 100, kNaN, 1, 0},     {0, 3, kNaN, 100, 1, 0},
        {0.02f, 1, 100, 300, 1, -4}, {0.02f, 1, 100, 100, 1, -4}, {0.02f, 1, 100, 120, 0, -3}};
    for (const Case& c : cases) {
        auto e = runningEngine(c.lastDistance, c.lastLux, 0, c.lastStatus);
        runFrame(e.get(), c.rate, 7 * kUs, c.lux);
        EXPECT_EQ(e->isStable, c.expected) << c.lastDistance << " " << c.lastLux << "->" << c.lux;
    }
}

// Rest code 2 on coming to rest (restarting the timer), 1 after 3 s at rest,
// else 0: moving, under 3 s, no measured movement, or a clock behind the timer.
// A previous distance of 0.015f is below 0.015 in double precision: still.
TEST(GyroStability, RestCodeTable) {
    struct Case {
        float lastDistance, rate;
        int64_t stillSince, now;
        int32_t rest;
        int64_t stillSinceAfter;
    } cases[] = {{0.02f, 1, 1, 9 * kUs, 2, 9 * kUs},
                 {0.01f, 1, kUs, 4 * kUs, 1, kUs},
                 {0.01f, 1, kUs, 4 * kUs - 1, 0, kUs},
                 {0.015f, 1, 0, 5 * kUs, 1, 0},
                 {0.01f, 2, 0, 5 * kUs, 0, 0},
                 {0.0f, 0, 0, 5 * kUs, 0, 0},
                 {0.01f, 1, 10 * kUs, 2 * kUs, 0, 10 * kUs}};
    for (const Case& c : cases) {
        auto e = runningEngine(c.lastDistance, 100.0f, c.stillSince);
        EXPECT_EQ(runFrame(e.get(), c.rate, c.now, 100.0f).rest, c.rest) << c.lastDistance;
        EXPECT_EQ(e->stillSinceTicks, c.stillSinceAfter);
    }
}

// Above lux 400 a frame is class 0 and the reference; at rest for 3 s with a
// reference of 440 or more the score turns neutral.
TEST(GyroStability, DarkSceneTable) {
    struct Case {
        float lux, refLux;
        bool still;
        int64_t rested;
        int32_t cls;
        float score, refAfter;
    } cases[] = {{401, 0, false, 0, 0, 25, 401},
                 {400, 0, false, 0, 1, 25, 0},
                 {300, 450, true, 3500000, 0, 18, 450},
                 {300, 440, true, 3000000, 0, 18, 440},
                 {300, 439.9f, true, 3500000, 1, 25, 439.9f},
                 {300, 450, true, 2900000, 1, 25, 450}};
    for (const Case& c : cases) {
        auto e = runningEngine(c.still ? 0.01f : 0.0f, c.lux, kUs);
        e->refAecLux = c.refLux;
        const Frame f = runFrame(e.get(), c.still ? 1.0f : 3.0f, kUs + c.rested, c.lux);
        EXPECT_EQ(e->isStable, c.cls) << c.lux << " " << c.refLux << " " << c.rested;
        EXPECT_EQ(f.score, c.score);
        EXPECT_EQ(e->refAecLux, c.refAfter);
    }
}

// A missing or oversized block counts as moving and leaves the angle track as
// it was; an infinite distance is reset to 0.
TEST(GyroStability, BadGyroInput) {
    IMUDataBlock oversized = makeGyroBlock(80, kTrack + 10 * kMs, kMs, 1, 1, 1);
    oversized.count = 81;
    for (const IMUDataBlock* block : {static_cast<const IMUDataBlock*>(nullptr),
                                      static_cast<const IMUDataBlock*>(&oversized)}) {
        auto e = runningEngine(0.01f, 100.0f, 0, 0);
        e->imuAngle[0] = 0.25f;
        Frame f;
        LogCapture log;
        f.g = xepo::processGyroAndStability(e.get(), block, kUs, &f.rest, &f.score, f.angle, 100);
        EXPECT_EQ(f.g, xepo::kUnknownMotionDistance);
        EXPECT_EQ(f.rest, 0);
        EXPECT_EQ(f.angle[0], 0.25f);
        EXPECT_EQ(e->imuAngle[0], 0.25f);
        EXPECT_EQ(e->lastGyroTimestamp, kTrack);
        EXPECT_TRUE(log.contains("frame taken as moving"));
    }
    auto e = runningEngine(0.02f, 100.0f);
    const Frame f = runFrame(e.get(), std::numeric_limits<float>::infinity(), 0, 100.0f);
    EXPECT_EQ(f.g, 0.0f);
    EXPECT_EQ(f.rest, 0);
}

}  // namespace
