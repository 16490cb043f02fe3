// Gyro step: the angle track's restart, stability classes from the lux change,
// the settling class, rest codes with their 3 s timer, dark-scene rules, and
// blocks that cannot be integrated.
#include "xepo/gyro_stability.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "cpp/img_process/imu_position.h"
#include "log_capture.h"
#include "scripted_engine.h"

namespace {

constexpr uint64_t kMs = 1000000ULL;  // in ns
constexpr uint64_t kS = 1000 * kMs;
constexpr int64_t kUs = 1000000;     // processor-clock ticks per second
constexpr uint64_t kTrack = 5 * kS;  // last sample of a running angle track
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// A gyro block of `count` samples `stepNs` apart from `start` ns, all at the same rates (a
// count past the record's 80 fills the 80).
IMUDataBlock makeGyroBlock(int32_t count, uint64_t start, uint64_t stepNs, float x, float y,
                           float z) {
    IMUDataBlock b{};
    b.count = count;
    for (int32_t i = 0; i < count && i < kImuMaxSamples; ++i) {
        b.timestamp[i] = start + stepNs * static_cast<uint64_t>(i);
        std::tie(b.gyroX[i], b.gyroY[i], b.gyroZ[i]) = std::tie(x, y, z);
    }
    return b;
}

// An engine whose angle track runs, with the given previous distance, lux,
// rest timer and track status.
std::unique_ptr<xepo::AeEngine> runningEngine(float lastDistance, float lastLux,
                                              int64_t stillSince = 0, int32_t lastStatus = 1) {
    auto e = scripted::bareEngine();
    std::tie(e->lastGyroTimestamp, e->lastImuStatus, e->last_gyrosimilarity, e->lastAecLux,
             e->stillSinceTicks) =
        std::make_tuple(kTrack, lastStatus, lastDistance, lastLux, stillSince);
    return e;
}

struct Frame {
    float g, score = 25.0f, angle[3] = {};
    int32_t rest = -1;
};

// One frame whose block moves the x angle by rate * 0.01 (and y and z by theirs).
Frame runFrame(xepo::AeEngine* e, float rate, int64_t now, float lux, float y = 0, float z = 0) {
    const IMUDataBlock move = makeGyroBlock(1, kTrack + 10 * kMs, 0, rate, y, z);
    Frame f;
    f.g = xepo::processGyroAndStability(e, &move, now, &f.rest, &f.score, f.angle, lux);
    return f;
}

// From angles 1 and three samples 10 ms apart at rates 1, 2, 3: a fresh track
// and one after a gap of more than 40 s restart all three angles from zero,
// whatever the output held; a carried-on block (a gap of 40 s at most)
// integrates its first sample over the gap since the track's last sample. A
// full record of 80 samples is integrated, a count of 81 (past the record) is
// not.
TEST(ImuEstimate, RestartsAfterALongGap) {
    const std::tuple<uint64_t, uint64_t, int32_t, float> cases[] = {{0, 50 * kS, 0, 0.02f},
                                                                    {1 * kS, 61 * kS, 0, 0.02f},
                                                                    {kS, kS + 20 * kMs, 1, 1.04f},
                                                                    {kS, 41 * kS, 1, 41.02f},
                                                                    {kS, 41 * kS + 1, 0, 0.02f}};
    for (const auto& [last, first, status, x] : cases) {
        const IMUDataBlock block = makeGyroBlock(3, first, 10 * kMs, 1.0f, 2.0f, 3.0f);
        const float prev[3] = {1, 1, 1};
        float angle[3] = {7, 8, 9};  // stale values the call must not build on
        EXPECT_EQ(xepo::IMUPositionEstimate(prev, &last, &block, angle), status);
        EXPECT_FLOAT_EQ(angle[0], x) << first;
        EXPECT_FLOAT_EQ(angle[1], status == 1 ? 2 * x - 1 : 2 * x) << first;
        EXPECT_FLOAT_EQ(angle[2], status == 1 ? 3 * x - 2 : 3 * x) << first;
    }
    for (const int32_t count : {80, 81}) {
        const IMUDataBlock full = makeGyroBlock(count, kS + 10 * kMs, kMs, 1.0f, 0.0f, 0.0f);
        const uint64_t last = kS;
        const float prev[3] = {0, 0, 0};
        float angle[3] = {0, 0, 0};
        xepo::IMUPositionEstimate(prev, &last, &full, angle);
        EXPECT_NEAR(angle[0], count == 80 ? 0.089f : 0.0f, 1e-5f) << count;
    }
}

// Moving: the lux change bounds the classes at 0.3, 1.0 and 37.0 (NaN: 0).
// Just stopped with both estimates on the track: -4 whatever the lux.
TEST(GyroStability, ClassTable) {
    // previous distance, rate, previous lux, lux, previous track status, class
    const std::tuple<float, float, float, float, int32_t, int32_t> cases[] = {
        {0, 3, 0, 0.29f, 1, 1},      {0, 3, 0, 0.3f, 1, -1},      {0, 3, 0, 0.99f, 1, -1},
        {0, 3, 0, 1.0f, 1, -3},      {0, 3, 0, 36.99f, 1, -3},    {0, 3, 0, 37.0f, 1, 0},
        {0, 3, 300, 100, 1, 0},      {0, 3, 100, kNaN, 1, 0},     {0, 3, kNaN, 100, 1, 0},
        {0.02f, 1, 100, 300, 1, -4}, {0.02f, 1, 100, 100, 1, -4}, {0.02f, 1, 100, 120, 0, -3}};
    for (const auto& [lastDistance, rate, lastLux, lux, lastStatus, expected] : cases) {
        auto e = runningEngine(lastDistance, lastLux, 0, lastStatus);
        runFrame(e.get(), rate, 7 * kUs, lux);
        EXPECT_EQ(e->isStable, expected) << lastDistance << " " << lastLux << "->" << lux;
    }
}

// Rest code 2 on coming to rest (restarting the timer), 1 after 3 s at rest,
// else 0: moving, under 3 s, no measured movement, or a clock behind the timer.
// A previous distance of 0.015f is below 0.015 in double precision: still.
TEST(GyroStability, RestCodeTable) {
    // previous distance, rate, rest timer, now, rest code, rest timer after
    const std::tuple<float, float, int64_t, int64_t, int32_t, int64_t> cases[] = {
        {0.02f, 1, 1, 9 * kUs, 2, 9 * kUs},
        {0.01f, 1, kUs, 4 * kUs, 1, kUs},
        {0.01f, 1, kUs, 4 * kUs - 1, 0, kUs},
        {0.015f, 1, 0, 5 * kUs, 1, 0},
        {0.01f, 2, 0, 5 * kUs, 0, 0},
        {0.0f, 0, 0, 5 * kUs, 0, 0},
        {0.01f, 1, 10 * kUs, 2 * kUs, 0, 10 * kUs}};
    for (const auto& [lastDistance, rate, stillSince, now, rest, stillSinceAfter] : cases) {
        auto e = runningEngine(lastDistance, 100.0f, stillSince);
        EXPECT_EQ(runFrame(e.get(), rate, now, 100.0f).rest, rest) << lastDistance;
        EXPECT_EQ(e->stillSinceTicks, stillSinceAfter);
    }
}

// Above lux 400 a frame is class 0 and the reference; at rest for 3 s with a
// reference of 440 or more the score turns neutral.
TEST(GyroStability, DarkSceneTable) {
    // lux, reference lux, still, ms at rest, class, score, reference after
    const std::tuple<float, float, bool, int64_t, int32_t, float, float> cases[] = {
        {401, 0, false, 0, 0, 25, 401},           {400, 0, false, 0, 1, 25, 0},
        {300, 450, true, 3500, 0, 18, 450},       {300, 440, true, 3000, 0, 18, 440},
        {300, 439.9f, true, 3500, 1, 25, 439.9f}, {300, 450, true, 2900, 1, 25, 450}};
    for (const auto& [lux, refLux, still, rested, cls, score, refAfter] : cases) {
        auto e = runningEngine(still ? 0.01f : 0.0f, lux, kUs);
        e->refAecLux = refLux;
        EXPECT_EQ(runFrame(e.get(), still ? 1.0f : 3.0f, kUs + rested * 1000, lux).score, score)
            << lux;
        EXPECT_EQ(e->isStable, cls) << lux << " " << refLux << " " << rested;
        EXPECT_EQ(e->refAecLux, refAfter);
    }
}

// The distance moved is the length of the turn about all three axes at once:
// from angles (1, 2, 3), each of these turns measures 0.13.
TEST(GyroStability, DistanceAboutThreeAxes) {
    const std::tuple<float, float, float> rates[] = {{3, 4, 12}, {-12, 3, 4}, {4, -12, -3}};
    for (const auto& [x, y, z] : rates) {
        auto e = runningEngine(0.02f, 100.0f);
        std::tie(e->imuAngle[0], e->imuAngle[1], e->imuAngle[2]) = std::make_tuple(1, 2, 3);
        const Frame f = runFrame(e.get(), x, kUs, 100.0f, y, z);
        EXPECT_NEAR(f.g, 0.13f, 1e-5f) << x << " " << y << " " << z;
        EXPECT_NEAR(f.angle[2], 3 + z * 0.01f, 1e-5f);
    }
}

// A missing or oversized block counts as moving and leaves the angle track as
// it was; an infinite distance is reset to 0.
TEST(GyroStability, BadGyroInput) {
    const IMUDataBlock oversized = makeGyroBlock(81, kTrack + 10 * kMs, kMs, 1, 1, 1);
    const IMUDataBlock* blocks[] = {nullptr, &oversized};
    for (const IMUDataBlock* block : blocks) {
        auto e = runningEngine(0.01f, 100.0f, 0, 0);
        e->imuAngle[0] = 0.25f;
        LogCapture log;
        Frame f;
        f.g = xepo::processGyroAndStability(e.get(), block, kUs, &f.rest, &f.score, f.angle, 100);
        EXPECT_EQ(std::make_tuple(f.g, f.rest, f.angle[0], e->imuAngle[0], e->lastGyroTimestamp),
                  std::make_tuple(xepo::kUnknownMotionDistance, 0, 0.25f, 0.25f, kTrack))
            << (block ? "oversized" : "missing");
        EXPECT_TRUE(log.contains("frame taken as moving"));
    }
    auto e = runningEngine(0.02f, 100.0f);
    const Frame f = runFrame(e.get(), std::numeric_limits<float>::infinity(), 0, 100.0f);
    EXPECT_EQ(std::make_tuple(f.g, f.rest), std::make_tuple(0.0f, 0));
}

}  // namespace
