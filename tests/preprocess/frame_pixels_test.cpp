// Preprocessing on the real image-operator library: the model input made from
// an NV21 frame's RGB picture equals the one made from the frame itself, and
// small image files become model input with their orientation and channel
// order. (Which operators run with which records is checked against the
// recording stand-in; each operator's pixels against OpenCV in tests/tavkit.)
#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <tuple>
#include <vector>

#include "cpp/img_process/img_process.h"
#include "log_capture.h"
#include "tavkit_api.h"
#include "xepo.h"

namespace {

constexpr int kSide = 224;
constexpr size_t kRgbBytes = kSide * kSide * 3;

// An NV21 frame of odd width whose row padding is bright, so that reading it
// shows: a luma pattern and one V, U pair throughout.
struct Frame {
    static constexpr int width = 333, height = 212, stride = 340;
    std::vector<uint8_t> y = std::vector<uint8_t>(stride * height, 255);
    std::vector<uint8_t> vu = std::vector<uint8_t>(stride * height / 2, 255);
    Frame() {
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                y[r * stride + c] = static_cast<uint8_t>((c * 7 + r * 13) % 256);
                vu[r / 2 * stride + c / 2 * 2] = 90;
                vu[r / 2 * stride + c / 2 * 2 + 1] = 170;
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

// Guards the model input made from yuvtoRGB's picture of the frame: the same
// floats as from the frame itself for every rotation and flip, and the
// picture is not read when the ultra-wide crop applies.
TEST_F(FramePixels, ModelInputFromTheFramesRgbPictureEqualsTheFramesOwn) {
    const Frame frame;
    for (const int32_t rotation : {0, 90, 180, 270, 45}) {
        for (const bool flip : {false, true}) {
            SCOPED_TRACE(testing::Message() << "rotation " << rotation << " flip " << flip);
            std::vector<uint8_t> rgb(kRgbBytes, 0);
            ASSERT_EQ(xepo::yuvtoRGB(handle, frame.y.data(), frame.vu.data(), frame.width,
                                     frame.height, frame.stride, frame.height, kSide, kSide,
                                     rotation, flip, 17, rgb.data()),
                      0);
            EXPECT_EQ(toModelInput(frame, rotation, flip, 0, 1.0f, rgb.data()),
                      toModelInput(frame, rotation, flip));
        }
    }
    const std::vector<uint8_t> unrelated(kRgbBytes, 3);
    EXPECT_EQ(toModelInput(frame, 90, true, 1, 0.75f, unrelated.data()),
              toModelInput(frame, 90, true, 1, 0.75f));
    // The ultra-wide crop at zoom 0.5: the middle 224 x 224 of the frame's
    // 448 x 448 picture, each step reading what the one before wrote.
    std::vector<uint8_t> wide(4 * kRgbBytes);
    ASSERT_EQ(
        xepo::yuvResizeBilinear(handle, frame.y.data(), frame.vu.data(), wide.data(), frame.width,
                                frame.height, frame.stride, frame.height, 2 * kSide, 2 * kSide, 17,
                                kTavkitTypeU8, kTavkitFormatRgb, kTavkitTypeU8),
        0);
    std::vector<float> middle;
    for (int row = kSide / 2; row < kSide / 2 + kSide; ++row) {
        for (int byte = kSide / 2 * 3; byte < (kSide / 2 + kSide) * 3; ++byte) {
            middle.push_back((wide[row * 2 * kSide * 3 + byte] - 127.5f) / 127.5f);
        }
    }
    EXPECT_EQ(toModelInput(frame, 0, false, 1, 0.5f), middle);
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
    const char* const files[] = {"/nonexistent/xepo/image.png", text.c_str(), huge.c_str(),
                                 nullptr};
    for (const char* file : files) {
        EXPECT_EQ(xepo::imagePathtoBuffer(handle, file, 224, 224, 3, input.data(), 0, 0), -2001)
            << file;
    }
    for (const auto& [w, h] : {std::pair{225, 224}, std::pair{-8, -8}, std::pair{0, 224},
                               std::pair{224, 0}, std::pair{INT_MAX, INT_MAX}}) {
        EXPECT_EQ(xepo::imagePathtoBuffer(handle, path.c_str(), w, h, 3, input.data(), 0, 0), -2001)
            << w << "x" << h;
    }
    EXPECT_TRUE(log.contains("image size 100000x100000 is too large to decode"));
    for (const std::string& file : {path, text, huge}) {
        std::remove(file.c_str());
    }
}

}  // namespace
