// What synth and replay write, value by value: the sampling positions and the
// rendering of a gradient against a direct bilinear sample, the lux index of
// every synthesized frame, and gyro time over repeated replay passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "session_format.h"
#include "session_frames.h"
#include "session_replay.h"

namespace {

// A photo whose green rises two levels per column and blue two per row, so a
// bilinear sample at (x, y) is (64, 2x, 2y) exactly.
SourcePhoto gradientPhoto(int width, int height) {
    SourcePhoto photo;
    photo.width = width;
    photo.height = height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            photo.rgb.insert(photo.rgb.end(),
                             {64, static_cast<uint8_t>(2 * x), static_cast<uint8_t>(2 * y)});
        }
    }
    return photo;
}

// Guards the pixel-centre mapping: output sample i of n over [start, start +
// length) lies at start + (i + 0.5) * length / n - 0.5, clamped to the image.
TEST(SynthSampling, PositionsAreThoseOfPixelCentres) {
    struct Case {
        double start, length;
        int count, sourceCount;
    };
    for (const Case& c : {Case{10.0, 40.0, 8, 100}, Case{0.0, 100.0, 10, 100},
                          Case{3.25, 7.5, 5, 20}, Case{0.0, 4.0, 8, 4}}) {
        const std::vector<int64_t> positions =
            samplePositions(c.start, c.length, c.count, c.sourceCount);
        for (int i = 0; i < c.count; ++i) {
            const double expected = std::clamp(c.start + (i + 0.5) * c.length / c.count - 0.5, 0.0,
                                               static_cast<double>(c.sourceCount - 1));
            EXPECT_NEAR(positions[static_cast<size_t>(i)] / 65536.0, expected, 1e-4)
                << c.start << " " << c.length << " " << i;
        }
    }
}

// Guards the whole rendering: every luma sample of a window over the gradient
// equals the BT.601 luma of a direct sample at the window's pixel centre.
TEST(SynthSampling, AGradientRendersAsADirectBilinearSample) {
    const SourcePhoto photo = gradientPhoto(120, 100);
    const WindowGeometry geometry = windowGeometry(photo, 24, 20);
    const struct {
        double yaw, pitch, scale;
    } views[] = {{0.0, 0.0, 1.0}, {0.05, -0.03, 1.0}, {0.0, 0.0, 2.0}};
    for (const auto& view : views) {
        std::vector<uint8_t> nv21;
        renderWindow(photo, geometry, view.yaw, view.pitch, view.scale, 24, 20, nv21);
        const WindowRect rect = cropWindow(photo, geometry, view.yaw, view.pitch, view.scale);
        for (int row = 0; row < 20; ++row) {
            for (int col = 0; col < 24; ++col) {
                const double x = rect.left + (col + 0.5) * rect.width / 24 - 0.5;
                const double y = rect.top + (row + 0.5) * rect.height / 20 - 0.5;
                const int expected = bt601Luma(64, static_cast<int>(std::lround(2 * x)),
                                               static_cast<int>(std::lround(2 * y)));
                EXPECT_NEAR(nv21[static_cast<size_t>(row) * 24 + col], expected, 1)
                    << view.yaw << " " << view.scale << " at " << col << "," << row;
            }
        }
    }
}

// Guards the window's geometry: it covers 70 % of the largest box of the
// output's aspect, one radian of turn is the window's width over a 1.2-radian
// field of view, and a turn to the limit keeps the window inside the photo.
TEST(SynthSampling, WindowGeometryOfAPhoneCamera) {
    struct Case {
        int photoWidth, photoHeight, outWidth, outHeight;
        double baseWidth, baseHeight;
    };
    for (const Case& c :
         {Case{1000, 750, 64, 48, 700.0, 525.0}, Case{1000, 500, 64, 48, 466.6667, 350.0}}) {
        const SourcePhoto photo = gradientPhoto(c.photoWidth, c.photoHeight);
        const WindowGeometry g = windowGeometry(photo, c.outWidth, c.outHeight);
        EXPECT_NEAR(g.baseWidth, c.baseWidth, 1e-3);
        EXPECT_NEAR(g.baseHeight, c.baseHeight, 1e-3);
        EXPECT_NEAR(g.pixelsPerRadian, c.baseWidth / 1.2, 1e-3);
        const WindowRect edge = cropWindow(photo, g, g.maxYaw, -g.maxPitch, 1.0);
        EXPECT_NEAR(edge.left + edge.width, c.photoWidth, 1e-6);
        EXPECT_NEAR(edge.top, 0.0, 1e-6);
    }
}

IMUDataBlock block(std::vector<uint64_t> times) {
    IMUDataBlock gyro{};
    gyro.count = static_cast<int32_t>(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        gyro.timestamp[i] = times[i];
    }
    return gyro;
}

// Guards looped replays: each pass moves gyro time on by the session's span
// plus one sample interval (one frame at 30 Hz when the first block has none),
// so time never runs backwards from one pass into the next.
TEST(ReplayPasses, GyroTimeMovesOnByOneSessionPerPass) {
    struct Case {
        std::vector<std::vector<uint64_t>> blocks;
        uint64_t duration;
    };
    const Case cases[] = {
        {{{1000, 1010}, {1020, 1030}}, 30 + 10},
        {{{1000}, {2000}}, 1000 + 33333333},
        {{{1000, 1000}, {1020}}, 20 + 33333333},  // no interval in the first block
        {{{}, {}}, 0},
    };
    for (const Case& c : cases) {
        Session session;
        for (const auto& times : c.blocks) {
            SessionFrame frame;
            frame.gyro = block(times);
            session.frames.push_back(frame);
        }
        const uint64_t duration = passDuration(session);
        EXPECT_EQ(duration, c.duration);
        for (int pass : {0, 1, 3}) {
            const IMUDataBlock shifted = gyroForPass(session.frames[0].gyro, duration, pass);
            for (size_t i = 0; i < c.blocks[0].size(); ++i) {
                EXPECT_EQ(shifted.timestamp[i], c.blocks[0][i] + duration * pass) << pass;
            }
        }
    }
}

}  // namespace
