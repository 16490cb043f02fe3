// Gyro integration and angle distance.
#include "cpp/img_process/imu_position.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "log_capture.h"
#include "test_engine.h"

namespace {

using pipeline_test::makeGyroBlock;
using xepo::angleDistance;
using xepo::IMUPositionEstimate;

constexpr uint64_t kMs = 1000000ULL;  // one millisecond in ns
constexpr uint64_t kS = 1000000000ULL;

// Reference: angle += rate * dt in double precision, stored in single precision.
float integrateStep(float angle, float rate, uint64_t dtNs) {
    return static_cast<float>(static_cast<double>(rate) * (static_cast<double>(dtNs) / 1e9) +
                              static_cast<double>(angle));
}

struct EstimateCase {
    const char* name;
    float prev[3];
    uint64_t lastTimestamp;
    std::vector<uint64_t> timestamps;
    std::vector<float> rateX;  // y and z rates are twice and three times x
    int32_t expectedStatus;
    float expectedX;
    bool restartLogged;
};

class EstimateTable : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(EstimateTable, IntegratesAsExpected) {
    const EstimateCase& c = GetParam();
    IMUDataBlock block{};
    block.count = static_cast<int32_t>(c.timestamps.size());
    for (size_t i = 0; i < c.timestamps.size(); ++i) {
        block.timestamp[i] = c.timestamps[i];
        block.gyroX[i] = c.rateX[i];
        block.gyroY[i] = 2.0f * c.rateX[i];
        block.gyroZ[i] = 3.0f * c.rateX[i];
    }
    float angle[3] = {-99.0f, -99.0f, -99.0f};
    LogCapture log;
    EXPECT_EQ(IMUPositionEstimate(c.prev, &c.lastTimestamp, &block, angle), c.expectedStatus);
    EXPECT_FLOAT_EQ(angle[0], c.expectedX);
    EXPECT_EQ(log.count("IMUPositionEstimate gyro start timestamp too less, reset initial angle."),
              c.restartLogged ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Imu, EstimateTable,
    ::testing::Values(
        // A fresh track (last time 0) and a block at 50 s: restart from zero, the
        // first sample integrates nothing, the next two 10 ms each.
        EstimateCase{"first_block_restarts",
                     {5, 5, 5},
                     0,
                     {50 * kS, 50 * kS + 10 * kMs, 50 * kS + 20 * kMs},
                     {9.0f, 1.0f, 2.0f},
                     0,
                     0.01f + 0.02f,
                     true},
        // Exactly 40 s after the last sample still carries on, over the whole gap.
        EstimateCase{
            "gap_of_40s_carries_on", {1, 1, 1}, 1 * kS, {41 * kS}, {0.5f}, 1, 1.0f + 20.0f, false},
        // One nanosecond more restarts.
        EstimateCase{
            "gap_above_40s_restarts", {1, 1, 1}, 1 * kS, {41 * kS + 1}, {0.5f}, 0, 0.0f, true},
        // A carried-on track integrates the first sample over the gap from the
        // previous block's last sample.
        EstimateCase{"carried_on_integrates_gap",
                     {1, 1, 1},
                     1 * kS,
                     {1 * kS + 20 * kMs, 1 * kS + 30 * kMs},
                     {2.0f, 4.0f},
                     1,
                     1.0f + 0.04f + 0.04f,
                     false},
        // Repeated timestamps add nothing; the next sample integrates from them.
        EstimateCase{"repeated_timestamps_add_nothing",
                     {0, 0, 0},
                     1 * kS,
                     {1 * kS + 10 * kMs, 1 * kS + 10 * kMs, 1 * kS + 10 * kMs, 1 * kS + 20 * kMs},
                     {1.0f, 100.0f, 100.0f, 3.0f},
                     1,
                     0.01f + 0.03f,
                     false},
        // A block older than the last sample carries on; its first sample adds
        // nothing and the following ones integrate from it.
        EstimateCase{"older_block_carries_on",
                     {1, 1, 1},
                     10 * kS,
                     {5 * kS, 5 * kS + 10 * kMs},
                     {7.0f, 1.0f},
                     1,
                     1.0f + 0.01f,
                     false}),
    [](const ::testing::TestParamInfo<EstimateCase>& info) {
        return std::string(info.param.name);
    });

TEST(ImuEstimate, AllThreeAxesIntegrateTheirOwnRates) {
    IMUDataBlock block = makeGyroBlock(1, 1 * kS + 10 * kMs, 0, 1.0f, -2.0f, 4.0f);
    const float prev[3] = {0.5f, 0.5f, 0.5f};
    const uint64_t last = 1 * kS;
    float angle[3] = {};
    ASSERT_EQ(IMUPositionEstimate(prev, &last, &block, angle), 1);
    EXPECT_FLOAT_EQ(angle[0], 0.51f);
    EXPECT_FLOAT_EQ(angle[1], 0.48f);
    EXPECT_FLOAT_EQ(angle[2], 0.54f);
}

TEST(ImuEstimate, AccumulatesInDoublePrecision) {
    // rate 2.5 over 10 ms onto 0.01: the double-precision step and an all-float
    // step round to different floats.
    const float rate = 2.5f;
    const float start = 0.01f;
    const float viaFloat = rate * static_cast<float>(10 * kMs / 1e9) + start;
    const float viaDouble = integrateStep(start, rate, 10 * kMs);
    ASSERT_NE(viaFloat, viaDouble);

    IMUDataBlock block = makeGyroBlock(1, 1 * kS + 10 * kMs, 0, rate, rate, rate);
    const float prev[3] = {start, start, start};
    const uint64_t last = 1 * kS;
    float angle[3] = {};
    ASSERT_EQ(IMUPositionEstimate(prev, &last, &block, angle), 1);
    EXPECT_EQ(angle[0], viaDouble);
}

TEST(ImuEstimate, EightySamplesRoundOncePerStep) {
    IMUDataBlock block = makeGyroBlock(80, 2 * kS + 3 * kMs, 3 * kMs + 333, 0.3f, 1.7f, -2.5f);
    const float prev[3] = {0.7f, -0.2f, 3.1f};
    const uint64_t last = 2 * kS;
    float expected[3] = {prev[0], prev[1], prev[2]};
    uint64_t t = last;
    for (int i = 0; i < 80; ++i) {
        expected[0] = integrateStep(expected[0], block.gyroX[i], block.timestamp[i] - t);
        expected[1] = integrateStep(expected[1], block.gyroY[i], block.timestamp[i] - t);
        expected[2] = integrateStep(expected[2], block.gyroZ[i], block.timestamp[i] - t);
        t = block.timestamp[i];
    }
    float angle[3] = {};
    ASSERT_EQ(IMUPositionEstimate(prev, &last, &block, angle), 1);
    EXPECT_EQ(angle[0], expected[0]);
    EXPECT_EQ(angle[1], expected[1]);
    EXPECT_EQ(angle[2], expected[2]);
}

TEST(ImuEstimate, RejectedInputLeavesAngleUnwritten) {
    IMUDataBlock good = makeGyroBlock(2, 1 * kS, kMs, 1, 1, 1);
    IMUDataBlock empty = makeGyroBlock(0, 1 * kS, kMs, 1, 1, 1);
    IMUDataBlock oversized = makeGyroBlock(80, 1 * kS, kMs, 1, 1, 1);
    oversized.count = 81;
    IMUDataBlock negative = good;
    negative.count = -3;
    const float prev[3] = {1, 2, 3};
    const uint64_t last = 0;
    struct Case {
        const float* prev;
        const uint64_t* last;
        const IMUDataBlock* block;
        bool useAngle;
        const char* logFragment;
    } cases[] = {
        {nullptr, &last, &good, true, "IMUPositionEstimate input null ptr. will do nothing."},
        {prev, nullptr, &good, true, "IMUPositionEstimate input null ptr. will do nothing."},
        {prev, &last, nullptr, true, "IMUPositionEstimate input null ptr. will do nothing."},
        {prev, &last, &good, false, "IMUPositionEstimate input null ptr. will do nothing."},
        {prev, &last, &empty, true, "IMUPositionEstimate gyro item too less. will do nothing."},
        {prev, &last, &negative, true, "IMUPositionEstimate gyro item too less. will do nothing."},
        {prev, &last, &oversized, true, "IMUPositionEstimate gyro item count 81 above 80"},
    };
    for (const Case& c : cases) {
        float angle[3] = {-7.0f, -7.0f, -7.0f};
        LogCapture log;
        EXPECT_EQ(IMUPositionEstimate(c.prev, c.last, c.block, c.useAngle ? angle : nullptr), 1)
            << c.logFragment;
        EXPECT_EQ(angle[0], -7.0f);
        EXPECT_EQ(angle[2], -7.0f);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].priority, 6);
        EXPECT_TRUE(log.contains(c.logFragment)) << log.texts()[0];
    }
}

TEST(AngleDistance, Table) {
    struct Case {
        float a[3];
        float b[3];
        float expected;
    } cases[] = {
        {{0, 0, 0}, {0, 0, 0}, 0.0f},   {{3, 4, 0}, {0, 0, 0}, 5.0f},
        {{0, 0, 0}, {3, 4, 0}, 5.0f},   {{1, 2, 3}, {1, 2, 3}, 0.0f},
        {{-1, -2, 2}, {0, 0, 0}, 3.0f}, {{0.01f, 0, 0}, {0, 0, 0}, 0.01f},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(angleDistance(c.a, c.b), c.expected);
    }
}

TEST(AngleDistance, SumsSquaresInDoublePrecision) {
    const float a[3] = {4097.0f, 3.3f, 0.7f};
    const float b[3] = {0.0f, 0.0f, 0.0f};
    const float allFloat = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    const double sum = static_cast<double>(a[0]) * a[0] + static_cast<double>(a[1]) * a[1] +
                       static_cast<double>(a[2]) * a[2];
    const float expected = std::sqrt(static_cast<float>(sum));
    ASSERT_NE(allFloat, expected);
    EXPECT_EQ(angleDistance(a, b), expected);
}

TEST(AngleDistance, NonFiniteInputGivesNonFiniteDistance) {
    const float inf = std::numeric_limits<float>::infinity();
    const float a[3] = {inf, 0, 0};
    const float b[3] = {0, 0, 0};
    EXPECT_FALSE(std::isfinite(angleDistance(a, b)));
}

}  // namespace
