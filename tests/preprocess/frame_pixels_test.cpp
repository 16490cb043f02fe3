// Preprocessing on the real image-operator library: synthetic NV21 frames and
// small image files become model input and RGB copies whose pixels are checked
// for brightness, colour order, orientation, stride handling and the crop.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <numeric>
#include <vector>

#include "cpp/img_process/img_process.h"
#include "tavkit_api.h"
#include "test_images.h"
#include "xepo.h"

namespace {

constexpr int kSide = 224;
constexpr size_t kRgbBytes = kSide * kSide * 3;
constexpr float kNorm = 127.5f;
// One 8-bit step after normalisation.
constexpr float kOneLevel = 1.0f / 127.5f;
// Bytes outside the image rows: bright, so that reading them shows.
constexpr uint8_t kPadding = 255;
constexpr uint8_t kNeutralChroma = 128;

// An NV21 frame: Y rows, then interleaved V/U rows at half resolution, both
// with `stride` bytes per row.
struct Nv21Frame {
    int width;
    int height;
    int stride;
    std::vector<uint8_t> y;
    std::vector<uint8_t> vu;

    Nv21Frame(int w, int h, int rowBytes, const std::function<uint8_t(int, int)>& lumaAt,
              uint8_t v = kNeutralChroma, uint8_t u = kNeutralChroma)
        : width(w),
          height(h),
          stride(rowBytes),
          y(static_cast<size_t>(rowBytes) * h, kPadding),
          vu(static_cast<size_t>(rowBytes) * h / 2, kPadding) {
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                y[static_cast<size_t>(r) * stride + c] = lumaAt(c, r);
            }
        }
        for (int r = 0; r < h / 2; ++r) {
            for (int c = 0; c < w / 2; ++c) {
                vu[static_cast<size_t>(r) * stride + 2 * c] = v;
                vu[static_cast<size_t>(r) * stride + 2 * c + 1] = u;
            }
        }
    }
};

class FramePixels : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(initTAVKIT(handle), 0); }
    static void TearDownTestSuite() {
        int64_t h = handle;
        releaseTavkit(&h);
    }

    std::vector<uint8_t> toRgb(const Nv21Frame& f, int32_t rotation = 0, bool flip = false) {
        std::vector<uint8_t> out(kRgbBytes, 0);
        EXPECT_EQ(xepo::yuvtoRGB(handle, f.y.data(), f.vu.data(), f.width, f.height, f.stride,
                                 f.height, kSide, kSide, rotation, flip, 17, out.data()),
                  0);
        return out;
    }
    std::vector<float> toModelInput(const Nv21Frame& f, int32_t rotation = 0, bool flip = false,
                                    int32_t cameraType = 0, float scale = 1.0f) {
        std::vector<float> out(kRgbBytes, 0.0f);
        EXPECT_EQ(xepo::yuvtoBuffer(handle, f.y.data(), f.vu.data(), f.width, f.height, f.stride,
                                    f.height, rotation, 0, flip, 17, out.data(), cameraType, scale),
                  0);
        return out;
    }

    static long handle;
};

long FramePixels::handle = 0;

uint8_t rgbAt(const std::vector<uint8_t>& rgb, int x, int y, int channel) {
    return rgb[(static_cast<size_t>(y) * kSide + x) * 3 + channel];
}

float inputAt(const std::vector<float>& in, int x, int y, int channel) {
    return in[(static_cast<size_t>(y) * kSide + x) * 3 + channel];
}

TEST_F(FramePixels, UniformGrayFrameGivesOneValueEverywhere) {
    // Stride beyond the width, with bright padding that must not leak in.
    for (const uint8_t luma : {uint8_t{16}, uint8_t{60}, uint8_t{126}, uint8_t{235}}) {
        SCOPED_TRACE(static_cast<int>(luma));
        const Nv21Frame frame(320, 240, 336, [=](int, int) { return luma; });
        const std::vector<uint8_t> rgb = toRgb(frame);
        const auto [lo, hi] = std::minmax_element(rgb.begin(), rgb.end());
        EXPECT_LE(*hi - *lo, 1);
        // Limited-range video levels: 16 is black, 235 white.
        const float expected = std::clamp(1.164f * (luma - 16), 0.0f, 255.0f);
        EXPECT_NEAR(rgb[0], expected, 2.0f);

        const std::vector<float> input = toModelInput(frame);
        for (size_t i = 0; i < input.size(); ++i) {
            ASSERT_NEAR(input[i], (rgb[0] - kNorm) / kNorm, kOneLevel + 1e-6f) << i;
            ASSERT_GE(input[i], -1.0f);
            ASSERT_LE(input[i], 1.0f);
        }
    }
}

TEST_F(FramePixels, ChromaOrderIsVThenU) {
    struct ChromaCase {
        const char* name;
        uint8_t v, u;
        int strongest;  // channel index
    };
    const ChromaCase cases[] = {{"high V is red", 220, 128, 0}, {"high U is blue", 128, 220, 2}};
    for (const ChromaCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Nv21Frame frame(
            320, 240, 320, [](int, int) { return 120; }, c.v, c.u);
        const std::vector<uint8_t> rgb = toRgb(frame);
        const int other1 = (c.strongest + 1) % 3;
        const int other2 = (c.strongest + 2) % 3;
        EXPECT_GT(rgbAt(rgb, 112, 112, c.strongest), rgbAt(rgb, 112, 112, other1) + 50);
        EXPECT_GT(rgbAt(rgb, 112, 112, c.strongest), rgbAt(rgb, 112, 112, other2) + 50);
    }
}

// Four quadrants of distinct brightness follow the rotation (clockwise) and
// the left-right mirror.
TEST_F(FramePixels, QuadrantsFollowRotationAndFlip) {
    const uint8_t quadrantLuma[2][2] = {{30, 90}, {160, 230}};  // [row][column]
    const Nv21Frame frame(320, 240, 352, [&](int x, int y) {
        return quadrantLuma[y < 120 ? 0 : 1][x < 160 ? 0 : 1];
    });
    const std::vector<uint8_t> upright = toRgb(frame);
    const int centre[2] = {56, 168};  // quadrant centres in the 224 x 224 output
    auto quadrantValue = [&](const std::vector<uint8_t>& rgb, int row, int col) {
        return static_cast<int>(rgbAt(rgb, centre[col], centre[row], 0));
    };

    struct OrientationCase {
        int32_t rotation;
        bool flip;
        // Source quadrant (row, column) seen at output quadrant (r, c).
        std::function<std::array<int, 2>(int r, int c)> source;
    };
    const OrientationCase cases[] = {
        {0, false,
         [](int r, int c) {
             return std::array<int, 2>{r, c};
         }},
        {90, false,
         [](int r, int c) {
             return std::array<int, 2>{1 - c, r};
         }},
        {180, false,
         [](int r, int c) {
             return std::array<int, 2>{1 - r, 1 - c};
         }},
        {270, false,
         [](int r, int c) {
             return std::array<int, 2>{c, 1 - r};
         }},
        {450, false,
         [](int r, int c) {
             return std::array<int, 2>{1 - c, r};
         }},
        {-90, false,
         [](int r, int c) {
             return std::array<int, 2>{r, c};
         }},
        {0, true,
         [](int r, int c) {
             return std::array<int, 2>{r, 1 - c};
         }},
        {90, true,
         [](int r, int c) {
             return std::array<int, 2>{c, r};
         }},
    };
    for (const OrientationCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "rotation " << c.rotation << " flip " << c.flip);
        const std::vector<uint8_t> rgb = toRgb(frame, c.rotation, c.flip);
        const std::vector<float> input = toModelInput(frame, c.rotation, c.flip);
        for (int r = 0; r < 2; ++r) {
            for (int col = 0; col < 2; ++col) {
                const std::array<int, 2> from = c.source(r, col);
                EXPECT_NEAR(quadrantValue(rgb, r, col), quadrantValue(upright, from[0], from[1]), 2)
                    << "output quadrant " << r << "," << col;
            }
        }
        // The model input is the same image, normalised.
        for (size_t i = 0; i < input.size(); ++i) {
            ASSERT_NEAR(input[i], (rgb[i] - kNorm) / kNorm, 1e-6f) << i;
        }
    }
}

// A bright centre square of half the frame's side on a dark surround.
TEST_F(FramePixels, UltraWideCropZoomsIntoTheCentre) {
    const Nv21Frame frame(448, 448, 448, [](int x, int y) {
        const bool inside = x >= 112 && x < 336 && y >= 112 && y < 336;
        return static_cast<uint8_t>(inside ? 220 : 30);
    });
    const float bright = (1.164f * (220 - 16) - kNorm) / kNorm;
    const float dark = (1.164f * (30 - 16) - kNorm) / kNorm;
    constexpr float kTolerance = 0.05f;

    struct CropCase {
        const char* name;
        int32_t cameraType;
        float scale;
        int brightFrom, brightTo;  // output columns (and rows) inside the square
    };
    const CropCase cases[] = {
        {"no crop shows the square at half size", 0, 0.5f, 56, 168},
        {"half zoom fills the model input", 1, 0.5f, 0, 224},
        // Resized to 298, the square spans 74.5..223.5; the cut starts at 37.
        {"three quarter zoom shows it larger", 1, 0.75f, 37, 187},
        {"scale one is not cropped", 1, 1.0f, 56, 168},
    };
    for (const CropCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> input = toModelInput(frame, 0, false, c.cameraType, c.scale);
        for (int i = 0; i < kSide; i += 2) {
            const bool inside = i >= c.brightFrom && i < c.brightTo;
            const bool edge = std::abs(i - c.brightFrom) < 4 || std::abs(i - c.brightTo) < 4;
            if (edge) {
                continue;  // bilinear blending at the square's border
            }
            EXPECT_NEAR(inputAt(input, i, 112, 1), inside ? bright : dark, kTolerance)
                << "column " << i;
            EXPECT_NEAR(inputAt(input, 112, i, 1), inside ? bright : dark, kTolerance)
                << "row " << i;
        }
    }
}

TEST_F(FramePixels, OperationWrappersDriveTheRealOperators) {
    std::vector<uint8_t> rgb(kRgbBytes);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = 200;      // bin 3 of red
        rgb[i + 1] = 100;  // bin 1 of green
        rgb[i + 2] = 10;   // bin 0 of blue
    }
    std::vector<int32_t> hist(64, -1);
    ASSERT_EQ(xepo::calcHist(handle, kSide, kSide, rgb.data(), hist.data()), 0);
    EXPECT_EQ(std::accumulate(hist.begin(), hist.end(), 0), kSide * kSide);
    EXPECT_EQ(*std::max_element(hist.begin(), hist.end()), kSide * kSide);

    std::fill(rgb.begin(), rgb.end(), 77);
    std::vector<uint8_t> gray(kSide * kSide);
    ASSERT_EQ(xepo::RGBtoGray(handle, rgb.data(), kSide, kSide, gray.data()), 0);
    EXPECT_EQ(std::count(gray.begin(), gray.end(), 77), kSide * kSide);

    std::vector<uint8_t> thumb(64 * 64);
    ASSERT_EQ(
        xepo::resizeBilinear(handle, gray.data(), thumb.data(), kSide, kSide, 64, 64, 9, 9, 1, 1),
        0);
    EXPECT_EQ(std::count(thumb.begin(), thumb.end(), 77), 64 * 64);

    // A 56 x 56 mask with one lit cell in the top-left corner: clockwise 90
    // moves it to the top-right corner.
    std::vector<uint8_t> mask(56 * 56, 0);
    mask[0] = 255;
    std::vector<uint8_t> turned(56 * 56, 0);
    ASSERT_EQ(xepo::rotate(handle, mask.data(), turned.data(), 90, 56, 56, 1, 9, 1), 0);
    EXPECT_EQ(turned[55], 255);
    EXPECT_EQ(std::count(turned.begin(), turned.end(), 255), 1);
}

// ---- Image files ---------------------------------------------------------------

TEST_F(FramePixels, UniformImageFileNormalisesEveryChannel) {
    test_images::ScratchDir dir;
    const std::string path = dir.file("uniform.png");
    ASSERT_TRUE(test_images::writePng(path, 64, 48, [](int, int) {
        return test_images::Rgb{200, 100, 50};
    }));
    std::vector<float> input(kRgbBytes, 9.0f);
    ASSERT_EQ(
        xepo::imagePathtoBuffer(handle, path.c_str(), kSide, kSide, 3, input.data(), kNorm, kNorm),
        0);
    const float expected[3] = {(200 - kNorm) / kNorm, (100 - kNorm) / kNorm, (50 - kNorm) / kNorm};
    for (size_t i = 0; i < input.size(); ++i) {
        ASSERT_NEAR(input[i], expected[i % 3], 1e-6f) << i;
    }
}

TEST_F(FramePixels, ImageFileKeepsItsOrientationAndChannelOrder) {
    test_images::ScratchDir dir;
    const std::string path = dir.file("split.png");
    // Left half blue, right half red, on a 300 x 200 image resized to 112 x 100.
    ASSERT_TRUE(test_images::writePng(path, 300, 200, [](int x, int) {
        return x < 150 ? test_images::Rgb{0, 0, 255} : test_images::Rgb{255, 0, 0};
    }));
    constexpr int kWidth = 112;
    constexpr int kHeight = 100;
    std::vector<float> input(kRgbBytes, 9.0f);
    ASSERT_EQ(xepo::imagePathtoBuffer(handle, path.c_str(), kWidth, kHeight, 3, input.data(), 0, 0),
              0);
    auto at = [&](int x, int y, int ch) {
        return input[(static_cast<size_t>(y) * kWidth + x) * 3 + ch];
    };
    for (int y = 0; y < kHeight; y += 9) {
        EXPECT_NEAR(at(10, y, 0), -1.0f, 1e-6f);
        EXPECT_NEAR(at(10, y, 2), 1.0f, 1e-6f);
        EXPECT_NEAR(at(100, y, 0), 1.0f, 1e-6f);
        EXPECT_NEAR(at(100, y, 2), -1.0f, 1e-6f);
    }
    // Nothing past the requested size is written.
    EXPECT_EQ(input[kWidth * kHeight * 3], 9.0f);
}

TEST_F(FramePixels, MissingImageFileIsMissingInput) {
    std::vector<float> input(kRgbBytes);
    EXPECT_EQ(xepo::imagePathtoBuffer(handle, "/nonexistent/xepo/image.png", kSide, kSide, 3,
                                      input.data(), kNorm, kNorm),
              -2001);
}

}  // namespace
