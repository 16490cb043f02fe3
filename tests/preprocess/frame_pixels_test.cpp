// Preprocessing on the real image-operator library: synthetic NV21 frames and
// small image files become model input and RGB copies whose brightness,
// orientation and channel order are checked.
#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <functional>
#include <tuple>
#include <vector>

#include "cpp/img_process/img_process.h"
#include "log_capture.h"
#include "tavkit_api.h"
#include "xepo.h"

namespace {

constexpr int kSide = 224;
constexpr size_t kRgbBytes = kSide * kSide * 3;
constexpr float kNorm = 127.5f;

// An NV21 frame whose row padding is bright, so that reading it shows.
struct Frame {
    int width, height, stride;
    std::vector<uint8_t> y, vu;
    Frame(int w, int h, int rowBytes, const std::function<uint8_t(int, int)>& lumaAt,
          uint8_t v = 128, uint8_t u = 128)
        : width(w), height(h), stride(rowBytes), y(rowBytes * h, 255), vu(rowBytes * h / 2, 255) {
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                y[r * stride + c] = lumaAt(c, r);
                vu[r / 2 * stride + c / 2 * 2] = v;
                vu[r / 2 * stride + c / 2 * 2 + 1] = u;
            }
        }
    }
};

// Limited-range video levels: 16 is black, 235 white.
float videoLevel(int luma) {
    return std::clamp(1.164f * (luma - 16), 0.0f, 255.0f);
}

class FramePixels : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(initTAVKIT(handle), 0); }
    static void TearDownTestSuite() {
        int64_t h = handle;
        releaseTavkit(&h);
    }
    std::vector<uint8_t> toRgb(const Frame& f, int32_t rotation, bool flip) {
        std::vector<uint8_t> out(kRgbBytes, 0);
        EXPECT_EQ(xepo::yuvtoRGB(handle, f.y.data(), f.vu.data(), f.width, f.height, f.stride,
                                 f.height, kSide, kSide, rotation, flip, 17, out.data()),
                  0);
        return out;
    }
    // Every element starts at 9, so that one left unwritten shows.
    std::vector<float> toModelInput(const Frame& f, int32_t rotation, bool flip,
                                    int32_t cameraType = 0, float scale = 1.0f,
                                    const uint8_t* picture = nullptr) {
        std::vector<float> out(kRgbBytes, 9.0f);
        EXPECT_EQ(xepo::yuvtoBuffer(handle, f.y.data(), f.vu.data(), f.width, f.height, f.stride,
                                    f.height, rotation, 0, flip, 17, out.data(), cameraType, scale,
                                    picture),
                  0);
        return out;
    }
    static long handle;
};

long FramePixels::handle = 0;

// Guards brightness, row padding that must not leak in, clockwise rotation
// (modulo 360), the mirror and their order: four quadrants of distinct
// brightness move as the table says.
TEST_F(FramePixels, QuadrantsFollowRotationAndFlip) {
    const uint8_t quadrantLuma[4] = {30, 90, 160, 230};  // top-left, top-right, ...
    const Frame frame(320, 240, 352, [&](int x, int y) {
        return quadrantLuma[(y < 120 ? 0 : 2) + (x < 160 ? 0 : 1)];
    });
    struct Case {
        int32_t rotation;
        bool flip;
        int source[4];  // source quadrant seen at each output quadrant
    };
    const Case cases[] = {{0, false, {0, 1, 2, 3}},   {90, false, {2, 0, 3, 1}},
                          {180, false, {3, 2, 1, 0}}, {270, false, {1, 3, 0, 2}},
                          {450, false, {2, 0, 3, 1}}, {-90, false, {0, 1, 2, 3}},
                          {0, true, {1, 0, 3, 2}},    {90, true, {0, 2, 1, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rotation " << c.rotation << " flip " << c.flip);
        const std::vector<uint8_t> rgb = toRgb(frame, c.rotation, c.flip);
        for (int q = 0; q < 4; ++q) {
            const int x = q % 2 == 0 ? 56 : 168, y = q < 2 ? 56 : 168;
            EXPECT_NEAR(rgb[(y * kSide + x) * 3], videoLevel(quadrantLuma[c.source[q]]), 3) << q;
        }
        const std::vector<float> input = toModelInput(frame, c.rotation, c.flip);
        for (size_t i = 0; i < input.size(); ++i) {
            ASSERT_NEAR(input[i], (rgb[i] - kNorm) / kNorm, 1e-6f) << i;
        }
    }
}

// Guards the model input made from yuvtoRGB's picture of the frame: the same
// floats as from the frame itself for every rotation and flip, and the
// picture is not read when the ultra-wide crop applies.
TEST_F(FramePixels, ModelInputFromTheFramesRgbPictureEqualsTheFramesOwn) {
    const Frame frame(
        333, 212, 340, [](int x, int y) { return static_cast<uint8_t>((x * 7 + y * 13) % 256); },
        90, 170);
    for (const int32_t rotation : {0, 90, 180, 270, 45}) {
        for (const bool flip : {false, true}) {
            SCOPED_TRACE(testing::Message() << "rotation " << rotation << " flip " << flip);
            const std::vector<uint8_t> rgb = toRgb(frame, rotation, flip);
            EXPECT_EQ(toModelInput(frame, rotation, flip, 0, 1.0f, rgb.data()),
                      toModelInput(frame, rotation, flip));
        }
    }
    const std::vector<uint8_t> unrelated(kRgbBytes, 3);
    EXPECT_EQ(toModelInput(frame, 90, true, 1, 0.75f, unrelated.data()),
              toModelInput(frame, 90, true, 1, 0.75f));
}

// Guards an image file to model input: orientation, channel order, fixed
// normalisation (the caller's 0, 0 are not read), nothing written past the size.
TEST_F(FramePixels, ImageFileToModelInput) {
    const std::string prefix = testing::TempDir() + "xepo_preprocess_" + std::to_string(getpid());
    const std::string path = prefix + "_split.png", text = prefix + "_text.png";
    const std::string huge = prefix + "_huge.ppm";
    std::vector<uint8_t> pixels(300 * 200 * 3, 0);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i + (i / 3 % 300 < 150 ? 2 : 0)] = 255;  // left half blue, right half red
    }
    ASSERT_NE(stbi_write_png(path.c_str(), 300, 200, 3, pixels.data(), 300 * 3), 0);
    std::vector<float> input(kRgbBytes, 9.0f);
    ASSERT_EQ(xepo::imagePathtoBuffer(handle, path.c_str(), 112, 100, 3, input.data(), 0, 0), 0);
    for (int y = 0; y < 100; y += 9) {
        EXPECT_EQ(input[(y * 112 + 10) * 3 + 0], -1.0f);
        EXPECT_EQ(input[(y * 112 + 10) * 3 + 2], 1.0f);
        EXPECT_EQ(input[(y * 112 + 100) * 3 + 0], 1.0f);
        EXPECT_EQ(input[(y * 112 + 100) * 3 + 2], -1.0f);
    }
    EXPECT_EQ(input[112 * 100 * 3], 9.0f);
    // Guards the refusals: missing, undecodable, a header promising 10^10
    // pixels, and targets larger than one model input.
    std::ofstream(text) << "plain text, no pixels";
    std::ofstream(huge) << "P6\n100000 100000\n255\n";
    LogCapture log;
    const std::tuple<std::string, int, int> refused[] = {{"/nonexistent/xepo/image.png", 224, 224},
                                                         {text, 224, 224},
                                                         {huge, 224, 224},
                                                         {path, 225, 224},
                                                         {path, -8, -8},
                                                         {path, INT_MAX, INT_MAX}};
    for (const auto& [file, w, h] : refused) {
        EXPECT_EQ(xepo::imagePathtoBuffer(handle, file.c_str(), w, h, 3, input.data(), 0, 0), -2001)
            << file << " " << w << "x" << h;
    }
    EXPECT_EQ(xepo::imagePathtoBuffer(handle, nullptr, 224, 224, 3, input.data(), 0, 0), -2001);
    EXPECT_TRUE(log.contains("image size 100000x100000 is too large to decode"));
    for (const std::string& file : {path, text, huge}) {
        std::remove(file.c_str());
    }
}

}  // namespace
