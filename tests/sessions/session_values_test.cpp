// What synth and replay write, value by value: the sampling positions and the
// rendering of a gradient against a direct bilinear sample, gyro samples
// against the planned motion, the colour and lux index of a rendered window,
// gyro time over repeated replay passes, and the progress line of both.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "progress_bar.h"
#include "session_format.h"
#include "session_frames.h"
#include "session_motion.h"
#include "session_replay.h"
#include "test_photos.h"

namespace {

// A photo whose green rises two levels per column and blue two per row, so a
// bilinear sample at (x, y) is (64, 2x, 2y) exactly.
SourcePhoto gradientPhoto(int width, int height) {
    return photoOf(width, height, [](int x, int y) {
        return std::array<uint8_t, 3>{64, static_cast<uint8_t>(2 * x), static_cast<uint8_t>(2 * y)};
    });
}

// Guards the pixel-centre mapping: output sample i of n over [start, start +
// length) lies at start + (i + 0.5) * length / n - 0.5, clamped to the image.
TEST(SynthSampling, PositionsAreThoseOfPixelCentres) {
    // start, length, count, source count
    const std::tuple<double, double, int, int> cases[] = {
        {10.0, 40.0, 8, 100}, {0.0, 100.0, 10, 100}, {3.25, 7.5, 5, 20}, {0.0, 4.0, 8, 4}};
    for (const auto& [start, length, count, sourceCount] : cases) {
        const std::vector<int64_t> positions = samplePositions(start, length, count, sourceCount);
        for (int i = 0; i < count; ++i) {
            const double expected = std::clamp(start + (i + 0.5) * length / count - 0.5, 0.0,
                                               static_cast<double>(sourceCount - 1));
            EXPECT_NEAR(positions[static_cast<size_t>(i)] / 65536.0, expected, 1e-4)
                << start << " " << length << " " << i;
        }
    }
}

// Guards the whole rendering: every luma sample of a window over the gradient
// equals the BT.601 luma of a direct sample at the window's pixel centre.
TEST(SynthSampling, AGradientRendersAsADirectBilinearSample) {
    const SourcePhoto photo = gradientPhoto(120, 100);
    const WindowGeometry geometry = windowGeometry(photo, 24, 20);
    // yaw, pitch, scale
    for (const auto& [yaw, pitch, scale] :
         {std::tuple{0.0, 0.0, 1.0}, {0.05, -0.03, 1.0}, {0.0, 0.0, 2.0}}) {
        std::vector<uint8_t> nv21;
        renderWindow(photo, geometry, yaw, pitch, scale, 24, 20, nv21);
        const WindowRect rect = cropWindow(photo, geometry, yaw, pitch, scale);
        for (int row = 0; row < 20; ++row) {
            for (int col = 0; col < 24; ++col) {
                const double x = rect.left + (col + 0.5) * rect.width / 24 - 0.5;
                const double y = rect.top + (row + 0.5) * rect.height / 20 - 0.5;
                const int expected = bt601Luma(64, static_cast<int>(std::lround(2 * x)),
                                               static_cast<int>(std::lround(2 * y)));
                EXPECT_NEAR(nv21[static_cast<size_t>(row) * 24 + col], expected, 1)
                    << yaw << " " << scale << " at " << col << "," << row;
            }
        }
    }
}

// Guards the window's geometry: it covers 70 % of the largest box of the
// output's aspect, one radian of turn is the window's width over a 1.2-radian
// field of view, a turn to the limit reaches the photo's edge and half that
// turn goes half the way there.
TEST(SynthSampling, WindowGeometryOfAPhoneCamera) {
    // the photo's size and the window's at no zoom, for a 64 x 48 output
    for (const auto& [photoWidth, photoHeight, baseWidth, baseHeight] :
         {std::tuple{1000, 750, 700.0, 525.0}, {1000, 500, 466.6667, 350.0}}) {
        const SourcePhoto photo = gradientPhoto(photoWidth, photoHeight);
        const WindowGeometry g = windowGeometry(photo, 64, 48);
        EXPECT_NEAR(g.baseWidth, baseWidth, 1e-3);
        EXPECT_NEAR(g.baseHeight, baseHeight, 1e-3);
        EXPECT_NEAR(g.pixelsPerRadian, baseWidth / 1.2, 1e-3);
        const WindowRect edge = cropWindow(photo, g, g.maxYaw, -g.maxPitch, 1.0);
        EXPECT_NEAR(edge.left + edge.width, photoWidth, 1e-6);
        EXPECT_NEAR(edge.top, 0.0, 1e-6);
        const WindowRect half = cropWindow(photo, g, 0.5 * g.maxYaw, 0.5 * g.maxPitch, 1.0);
        EXPECT_NEAR(half.left, 0.75 * (photoWidth - half.width), 1e-6);
        EXPECT_NEAR(half.top, 0.75 * (photoHeight - half.height), 1e-6);
    }
}

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
            // The engine's stillness band (radians), widened by a margin.
            EXPECT_FALSE(turn > 1e-6 && turn < 0.025) << turn;
            EXPECT_LE(std::fabs(poses[i].yaw), maxYaw + 1e-9);
            EXPECT_LE(std::fabs(poses[i].pitch), maxPitch + 1e-9);
        }
    }
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

// Guards looped replays: each pass moves gyro time on by the session's span
// plus one sample interval (one frame at 30 Hz when the first block has none),
// so time never runs backwards from one pass into the next.
TEST(ReplayPasses, GyroTimeMovesOnByOneSessionPerPass) {
    // each frame's gyro times, the pass duration
    const std::pair<std::vector<std::vector<uint64_t>>, uint64_t> cases[] = {
        {{{1000, 1010}, {1020, 1030}}, 30 + 10},
        {{{1000}, {2000}}, 1000 + 33333333},
        {{{1000, 1000}, {1020}}, 20 + 33333333},  // no interval in the first block
        {{{}, {}}, 0},
    };
    for (const auto& [blocks, expectedDuration] : cases) {
        Session session;
        for (const auto& times : blocks) {
            SessionFrame frame;
            frame.gyro.count = static_cast<int32_t>(times.size());
            std::copy(times.begin(), times.end(), frame.gyro.timestamp);
            session.frames.push_back(frame);
        }
        const uint64_t duration = passDuration(session);
        EXPECT_EQ(duration, expectedDuration);
        for (int pass : {0, 1, 3}) {
            const IMUDataBlock shifted = gyroForPass(session.frames[0].gyro, duration, pass);
            for (size_t i = 0; i < blocks[0].size(); ++i) {
                EXPECT_EQ(shifted.timestamp[i], blocks[0][i] + duration * pass) << pass;
            }
        }
    }
}

// The bar is 40 cells wide whatever the count; a count past the total fills it
// and a total of 0 leaves it empty rather than dividing by it.
TEST(ProgressBar, FillsOneCellPerFortiethOfTheFrames) {
    const std::string empty(40, ' ');
    const std::string full(40, '#');
    EXPECT_EQ(progressLine(0, 120), "[" + empty + "] 0/120 frames");
    EXPECT_EQ(progressLine(59, 120),
              "[" + full.substr(0, 19) + empty.substr(19) + "] 59/120 frames");
    EXPECT_EQ(progressLine(120, 120), "[" + full + "] 120/120 frames");
    EXPECT_EQ(progressLine(121, 120), "[" + full + "] 121/120 frames");
    EXPECT_EQ(progressLine(3, 0), "[" + empty + "] 3/0 frames");
}

}  // namespace
