// Synthesized sessions: gyro samples against the planned motion, and the
// colour and lux index of a rendered window.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "session_frames.h"
#include "session_motion.h"

namespace {

// The engine's stillness band of the per-frame turn (radians), widened by a margin.
constexpr double kEngineStillMin = 1e-6;
constexpr double kEngineStillMaxWithMargin = 0.025;

// Guards: integrating each gyro block the way the engine does (each rate over
// the time since the sample before) gives the planned turn, poses stay in
// range, and no frame turns inside the engine's stillness band. The pan cases
// cover a step clamped from above (short, fast) and from below (narrow).
TEST(SynthMotion, GyroSamplesFollowThePlanAndNeverLinger) {
    const std::tuple<const char*, MotionKind, int, double, double> cases[] = {
        {"Still", MotionKind::Still, 20, 0.3, 0.2},
        {"PanLong", MotionKind::Pan, 120, 0.36, 0.2},
        {"PanShortFast", MotionKind::Pan, 30, 0.9, 0.2},
        {"PanNarrow", MotionKind::Pan, 200, 0.05, 0.0},
        {"Shake", MotionKind::Shake, 300, 0.2, 0.1}};
    for (const auto& [name, kind, frames, maxYaw, maxPitch] : cases) {
        const std::vector<CameraPose> poses = planMotion(kind, frames, maxYaw, maxPitch, 7);
        ASSERT_EQ(poses.size(), size_t(frames)) << name;
        uint64_t last = 0;
        for (size_t i = 0; i < poses.size(); ++i) {
            SCOPED_TRACE(std::string(name) + " frame " + std::to_string(i));
            const CameraPose& from = poses[i == 0 ? 0 : i - 1];
            const IMUDataBlock block = gyroBlockForFrame(int(i), from, poses[i]);
            ASSERT_EQ(block.count, kGyroSamplesPerFrame);
            double turnYaw = 0.0, turnPitch = 0.0;
            for (int s = 0; s < block.count; ++s) {
                ASSERT_GT(block.timestamp[s], last);
                const double dt = i == 0 && s == 0 ? 0.0 : (block.timestamp[s] - last) / 1e9;
                turnYaw -= block.gyroY[s] * dt;
                turnPitch -= block.gyroX[s] * dt;
                last = block.timestamp[s];
            }
            EXPECT_NEAR(turnYaw, poses[i].yaw - from.yaw, 1e-6);
            EXPECT_NEAR(turnPitch, poses[i].pitch - from.pitch, 1e-6);
            const double turn = std::hypot(turnYaw, turnPitch);
            EXPECT_FALSE(turn > kEngineStillMin && turn < kEngineStillMaxWithMargin) << turn;
            EXPECT_LE(std::fabs(poses[i].yaw), maxYaw + 1e-9);
            EXPECT_LE(std::fabs(poses[i].pitch), maxPitch + 1e-9);
        }
    }
}

SourcePhoto flatPhoto(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    SourcePhoto photo{width, height, {}};
    for (int i = 0; i < width * height; ++i) {
        photo.rgb.insert(photo.rgb.end(), {r, g, b});
    }
    return photo;
}

// Guards: limited-range BT.601 with V before U (a swap or full range shows
// here), and a lux index that falls as the frame brightens, clamped to 150..460.
TEST(SynthFrames, ColourAndLuxOfAFlatWindow) {
    std::vector<uint8_t> nv21;
    const SourcePhoto red = flatPhoto(40, 30, 255, 0, 0);
    renderWindow(red, windowGeometry(red, 8, 6), 0, 0, 1, 8, 6, nv21);
    ASSERT_EQ(nv21.size(), 8u * 6u * 3u / 2u);
    EXPECT_EQ(std::vector<int>({nv21[0], nv21[48], nv21[49]}), std::vector<int>({82, 240, 90}));

    const std::pair<uint8_t, double> greyToLux[] = {{128, 300}, {168, 250}, {255, 150}, {0, 460}};
    for (const auto& [grey, lux] : greyToLux) {
        const SourcePhoto photo = flatPhoto(64, 48, grey, grey, grey);
        renderWindow(photo, windowGeometry(photo, 32, 24), 0, 0, 1, 32, 24, nv21);
        EXPECT_NEAR(luxForFrame(nv21, 32, 24) / 100.0, lux, 0.5) << int(grey);
    }
}

}  // namespace
