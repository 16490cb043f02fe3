// Synthesized sessions: motion plans and their gyro samples, the crop window
// and the lux index.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "session_frames.h"
#include "session_motion.h"

namespace {

// The engine's stillness band of the per-frame turn (radians).
constexpr double kEngineStillMin = 1e-6;
constexpr double kEngineStillMax = 0.015;

struct MotionCase {
    const char* name;
    MotionKind kind;
    int frames;
    double maxYaw;
    double maxPitch;
};

class MotionPlan : public testing::TestWithParam<MotionCase> {};

// Integrates the blocks the way the engine does: each sample's rate over the
// time since the sample before it (the previous block's last one).
TEST_P(MotionPlan, GyroSamplesTurnTheCameraToEveryPoseAndNeverLinger) {
    const MotionCase& c = GetParam();
    const std::vector<CameraPose> poses = planMotion(c.kind, c.frames, c.maxYaw, c.maxPitch, 7);
    ASSERT_EQ(poses.size(), static_cast<size_t>(c.frames));
    double yaw = poses[0].yaw;
    double pitch = poses[0].pitch;
    uint64_t last = 0;
    for (int i = 0; i < c.frames; ++i) {
        SCOPED_TRACE(i);
        const IMUDataBlock block = gyroBlockForFrame(
            i, poses[static_cast<size_t>(i == 0 ? 0 : i - 1)], poses[static_cast<size_t>(i)]);
        ASSERT_EQ(block.count, kGyroSamplesPerFrame);
        double turnYaw = 0.0;
        double turnPitch = 0.0;
        for (int s = 0; s < block.count; ++s) {
            const uint64_t t = block.timestamp[s];
            ASSERT_GT(t, last);
            const double dt = i == 0 && s == 0 ? 0.0 : (t - last) / 1e9;
            turnYaw += -block.gyroY[s] * dt;
            turnPitch += -block.gyroX[s] * dt;
            EXPECT_EQ(block.gyroZ[s], 0.0f);
            last = t;
        }
        yaw += turnYaw;
        pitch += turnPitch;
        EXPECT_NEAR(yaw, poses[static_cast<size_t>(i)].yaw, 1e-5);
        EXPECT_NEAR(pitch, poses[static_cast<size_t>(i)].pitch, 1e-5);
        const double turn = std::hypot(turnYaw, turnPitch);
        EXPECT_FALSE(turn > kEngineStillMin && turn < kEngineStillMax + 0.01) << turn;
        EXPECT_LE(std::fabs(poses[static_cast<size_t>(i)].yaw), c.maxYaw + 1e-9);
        EXPECT_LE(std::fabs(poses[static_cast<size_t>(i)].pitch), c.maxPitch + 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(Synth, MotionPlan,
                         testing::Values(MotionCase{"Still", MotionKind::Still, 20, 0.3, 0.2},
                                         MotionCase{"PanLong", MotionKind::Pan, 120, 0.36, 0.2},
                                         MotionCase{"PanShortFast", MotionKind::Pan, 30, 0.9, 0.2},
                                         MotionCase{"PanNarrow", MotionKind::Pan, 200, 0.05, 0.0},
                                         MotionCase{"Shake", MotionKind::Shake, 300, 0.2, 0.1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MotionPlanTest, PanRestsSweepsAndReturnsToItsStart) {
    const std::vector<CameraPose> poses = planMotion(MotionKind::Pan, 120, 0.4, 0.2, 1);
    int moving = 0;
    for (size_t i = 1; i < poses.size(); ++i) {
        moving += poses[i].yaw != poses[i - 1].yaw ? 1 : 0;
    }
    EXPECT_EQ(moving, 2 * 24);               // a fifth of the frames each way
    EXPECT_EQ(poses[29].yaw, poses[0].yaw);  // a quarter at rest first
    EXPECT_NEAR(poses[53].yaw, 0.4, 1e-9);
    EXPECT_NEAR(poses.back().yaw, poses[0].yaw, 1e-12);
}

TEST(MotionPlanTest, ShakeDependsOnlyOnItsSeed) {
    const auto a = planMotion(MotionKind::Shake, 50, 0.2, 0.1, 3);
    const auto b = planMotion(MotionKind::Shake, 50, 0.2, 0.1, 3);
    const auto c = planMotion(MotionKind::Shake, 50, 0.2, 0.1, 4);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].yaw, b[i].yaw);
        EXPECT_EQ(a[i].pitch, b[i].pitch);
    }
    EXPECT_NE(a[10].yaw, c[10].yaw);
}

SourcePhoto flatPhoto(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    SourcePhoto photo;
    photo.width = width;
    photo.height = height;
    for (int i = 0; i < width * height; ++i) {
        photo.rgb.insert(photo.rgb.end(), {r, g, b});
    }
    return photo;
}

struct LuxCase {
    uint8_t grey;
    double lux;
};

class LuxOfFrame : public testing::TestWithParam<LuxCase> {};

TEST_P(LuxOfFrame, FollowsBrightnessInsideTheCameraBand) {
    const SourcePhoto photo = flatPhoto(64, 48, GetParam().grey, GetParam().grey, GetParam().grey);
    std::vector<uint8_t> nv21;
    renderWindow(photo, windowGeometry(photo, 32, 24), 0, 0, 1, 32, 24, nv21);
    EXPECT_NEAR(luxForFrame(nv21, 32, 24) / 100.0, GetParam().lux, 1.5);
}

// Mid-grey 300, 1.25 lower per step brighter, held inside 150..460.
INSTANTIATE_TEST_SUITE_P(Synth, LuxOfFrame,
                         testing::Values(LuxCase{128, 300.0}, LuxCase{168, 250.0},
                                         LuxCase{88, 350.0}, LuxCase{255, 150.0},
                                         LuxCase{0, 460.0}));

TEST(RenderWindowTest, FlatColourBecomesLimitedRangeNv21) {
    const SourcePhoto photo = flatPhoto(40, 30, 255, 0, 0);
    std::vector<uint8_t> nv21;
    renderWindow(photo, windowGeometry(photo, 8, 6), 0, 0, 1, 8, 6, nv21);
    ASSERT_EQ(nv21.size(), 8u * 6u * 3u / 2u);
    EXPECT_EQ(nv21[0], 82);    // Y of pure red
    EXPECT_EQ(nv21[48], 240);  // V first (NV21)
    EXPECT_EQ(nv21[49], 90);   // then U
}

// A turn moves the picture by the window's pixels per radian, scaled to the
// output, so the gyro samples and the pixels tell the same story.
TEST(RenderWindowTest, YawMovesAnEdgeByTheGeometrysPixelsPerRadian) {
    SourcePhoto photo = flatPhoto(400, 300, 0, 0, 0);
    for (int row = 0; row < 300; ++row) {
        for (int col = 200; col < 400; ++col) {
            for (int c = 0; c < 3; ++c) {
                photo.rgb[(row * 400 + col) * 3 + c] = 255;
            }
        }
    }
    constexpr int kOut = 320;
    const WindowGeometry geometry = windowGeometry(photo, kOut, 240);
    const auto edgeColumn = [&](double yaw) {
        std::vector<uint8_t> nv21;
        renderWindow(photo, geometry, yaw, 0, 1, kOut, 240, nv21);
        for (int col = 0; col < kOut; ++col) {
            if (nv21[static_cast<size_t>(120 * kOut + col)] > 128) {
                return col;
            }
        }
        return kOut;
    };
    const double shift = 0.1 * geometry.pixelsPerRadian * kOut / geometry.baseWidth;
    EXPECT_NEAR(edgeColumn(0.0) - edgeColumn(0.1), shift, 1.0);
    EXPECT_NEAR(edgeColumn(-0.1) - edgeColumn(0.0), shift, 1.0);
}

}  // namespace
