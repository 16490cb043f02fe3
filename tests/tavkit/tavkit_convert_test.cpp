// Resize with colour conversion and RGB to gray, against OpenCV.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "tavkit_test_support.h"

namespace {

using tavkit_test::Context;
using tavkit_test::describe;
using tavkit_test::freshParams;
using tavkit_test::makeNv21;
using tavkit_test::maxAbsDiff;
using tavkit_test::meanAbsDiff;
using tavkit_test::Nv21Frame;

// OpenCV's NV21 input is packed: Y rows then V/U rows, no padding.
cv::Mat packedNv21(Nv21Frame& f) {
    cv::Mat packed(f.height * 3 / 2, f.width, CV_8UC1);
    for (int r = 0; r < f.height; ++r) {
        std::memcpy(packed.ptr(r), f.y() + r * f.stride, f.width);
    }
    for (int r = 0; r < f.height / 2; ++r) {
        std::memcpy(packed.ptr(f.height + r), f.vu() + r * f.stride, f.width);
    }
    return packed;
}

cv::Mat resizeFrame(Context& context, Nv21Frame& frame, int dstWidth, int dstHeight) {
    cv::Mat out(dstHeight, dstWidth, CV_8UC3, cv::Scalar::all(0));
    TavkitParams params = freshParams();
    frame.describeAsSource(params.src);
    describe(params.dst, kTavkitFormatRgb, kTavkitTypeU8, out);
    EXPECT_EQ(context.run(kTavkitResizeBilinear, params), 0);
    return out;
}

struct Nv21Case {
    int width, height, stride, dstWidth, dstHeight;
};

class TavkitNv21ToRgb : public testing::TestWithParam<Nv21Case> {};

// Bounds stated for the smooth test frames: the pipelines differ in where the
// chroma is interpolated (scaled as samples here, repeated over 2x2 blocks
// before resizing in OpenCV) and in fixed-point rounding. Measured on these
// cases: mean 0.20 to 0.45, largest single difference 3.
constexpr double kMaxMeanAbsDiff = 0.6;
constexpr double kMaxAbsDiff = 4.0;
// Per channel: blue carries the largest chroma weight (2.018); measured up to 0.68.
constexpr double kMaxChannelMeanAbsDiff = 1.0;

TEST_P(TavkitNv21ToRgb, MatchesOpenCvConvertThenResize) {
    const Nv21Case c = GetParam();
    Nv21Frame frame = makeNv21(c.width, c.height, c.stride);
    Context context;
    const cv::Mat ours = resizeFrame(context, frame, c.dstWidth, c.dstHeight);

    cv::Mat rgb;
    cv::cvtColor(packedNv21(frame), rgb, cv::COLOR_YUV2RGB_NV21);
    cv::Mat expected;
    cv::resize(rgb, expected, cv::Size(c.dstWidth, c.dstHeight), 0, 0, cv::INTER_LINEAR);

    EXPECT_LE(meanAbsDiff(ours, expected), kMaxMeanAbsDiff);
    EXPECT_LE(maxAbsDiff(ours, expected), kMaxAbsDiff);
    // Channel order: the frame's red-ish and blue-ish regions must not swap.
    cv::Mat ourChannels[3], expectedChannels[3];
    cv::split(ours, ourChannels);
    cv::split(expected, expectedChannels);
    EXPECT_LE(meanAbsDiff(ourChannels[0], expectedChannels[0]), kMaxChannelMeanAbsDiff);
    EXPECT_LE(meanAbsDiff(ourChannels[2], expectedChannels[2]), kMaxChannelMeanAbsDiff);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TavkitNv21ToRgb,
    testing::Values(Nv21Case{640, 480, 640, 224, 224}, Nv21Case{1920, 1080, 1984, 224, 224},
                    Nv21Case{4000, 3000, 4032, 224, 224}, Nv21Case{320, 240, 336, 640, 480},
                    Nv21Case{224, 224, 224, 224, 224}, Nv21Case{1280, 720, 1280, 64, 48}),
    [](const testing::TestParamInfo<Nv21Case>& info) {
        const Nv21Case& c = info.param;
        return std::to_string(c.width) + "x" + std::to_string(c.height) + "_to_" +
               std::to_string(c.dstWidth) + "x" + std::to_string(c.dstHeight);
    });

// Odd sizes cannot go through OpenCV; at the frame's own size the result is the
// plain per-pixel formula with the chroma of the 2x2 block.
TEST(TavkitNv21ToRgbOddSizes, SameSizeFollowsTheBt601Formula) {
    for (const auto& [width, height, stride] : {std::tuple{33, 21, 40}, std::tuple{7, 5, 8},
                                                std::tuple{1, 1, 2}, std::tuple{64, 48, 64}}) {
        Nv21Frame frame = makeNv21(width, height, stride);
        Context context;
        const cv::Mat ours = resizeFrame(context, frame, width, height);
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                const double y = 1.164 * (frame.y()[r * stride + c] - 16);
                const uint8_t* vu = frame.vu() + (r / 2) * stride + (c / 2) * 2;
                const double v = vu[0] - 128.0;
                const double u = vu[1] - 128.0;
                const double expected[3] = {y + 1.596 * v, y - 0.813 * v - 0.391 * u,
                                            y + 2.018 * u};
                for (int ch = 0; ch < 3; ++ch) {
                    const double clamped = std::min(255.0, std::max(0.0, expected[ch]));
                    ASSERT_NEAR(ours.at<cv::Vec3b>(r, c)[ch], clamped, 3.0)
                        << width << "x" << height << " at " << r << "," << c << " ch " << ch;
                }
            }
        }
    }
}

TEST(TavkitNv21ToRgbOddSizes, ScalesOddFramesToOddTargets) {
    Nv21Frame frame = makeNv21(101, 77, 104);
    Context context;
    const cv::Mat small = resizeFrame(context, frame, 13, 9);
    const cv::Mat same = resizeFrame(context, frame, 101, 77);
    cv::Mat expected;
    cv::resize(same, expected, cv::Size(13, 9), 0, 0, cv::INTER_LINEAR);
    EXPECT_LE(meanAbsDiff(small, expected), 2.0);
}

struct PlaneCase {
    int format, cvType, width, height, dstWidth, dstHeight, padBytes;
};

class TavkitPlaneResize : public testing::TestWithParam<PlaneCase> {};

// Same-format resizes: RGB and 8-bit gray against cv::resize, on smooth content.
TEST_P(TavkitPlaneResize, MatchesOpenCvBilinear) {
    const PlaneCase c = GetParam();
    cv::Mat smooth(c.height / 8 + 2, c.width / 8 + 2, c.cvType);
    cv::RNG(7).fill(smooth, cv::RNG::UNIFORM, 0, 256);
    cv::Mat full;
    cv::resize(smooth, full, cv::Size(c.width, c.height), 0, 0, cv::INTER_CUBIC);
    // Padded rows: a view into a wider image.
    cv::Mat wide(c.height, c.width + c.padBytes, c.cvType, cv::Scalar::all(99));
    full.copyTo(wide(cv::Rect(0, 0, c.width, c.height)));
    const cv::Mat src = wide(cv::Rect(0, 0, c.width, c.height));

    cv::Mat ours(c.dstHeight, c.dstWidth, c.cvType, cv::Scalar::all(0));
    Context context;
    TavkitParams params = freshParams();
    describe(params.src, c.format, kTavkitTypeU8, src);
    describe(params.dst, c.format, kTavkitTypeU8, ours);
    ASSERT_EQ(context.run(kTavkitResizeBilinear, params), 0);

    cv::Mat expected;
    cv::resize(src, expected, cv::Size(c.dstWidth, c.dstHeight), 0, 0, cv::INTER_LINEAR);
    EXPECT_LE(meanAbsDiff(ours, expected), 1.0);
    EXPECT_LE(maxAbsDiff(ours, expected), c.format == kTavkitFormatRgb ? 1.0 : 8.0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TavkitPlaneResize,
    testing::Values(PlaneCase{kTavkitFormatRgb, CV_8UC3, 640, 480, 224, 224, 0},
                    PlaneCase{kTavkitFormatRgb, CV_8UC3, 3000, 2000, 224, 224, 5},
                    PlaneCase{kTavkitFormatRgb, CV_8UC3, 57, 31, 120, 77, 3},
                    PlaneCase{kTavkitFormatGray, CV_8UC1, 224, 224, 64, 64, 0},
                    PlaneCase{kTavkitFormatGray, CV_8UC1, 56, 56, 64, 48, 7},
                    PlaneCase{kTavkitFormatGray, CV_8UC1, 333, 251, 17, 9, 1}),
    [](const testing::TestParamInfo<PlaneCase>& info) {
        const PlaneCase& c = info.param;
        return std::string(c.format == kTavkitFormatRgb ? "rgb_" : "gray_") +
               std::to_string(c.width) + "x" + std::to_string(c.height) + "_to_" +
               std::to_string(c.dstWidth) + "x" + std::to_string(c.dstHeight);
    });

TEST(TavkitGray16Resize, KeepsConstantAndRangeOfSixteenBitSamples) {
    cv::Mat src(40, 60, CV_16UC1, cv::Scalar(40000));
    src(cv::Rect(0, 0, 30, 40)).setTo(1000);
    cv::Mat ours(20, 30, CV_16UC1, cv::Scalar(0));
    Context context;
    TavkitParams params = freshParams();
    describe(params.src, kTavkitFormatGray16, kTavkitTypeU8, src);
    describe(params.dst, kTavkitFormatGray16, kTavkitTypeU8, ours);
    ASSERT_EQ(context.run(kTavkitResizeBilinear, params), 0);
    EXPECT_EQ(ours.at<uint16_t>(10, 2), 1000);
    EXPECT_EQ(ours.at<uint16_t>(10, 27), 40000);
}

TEST(TavkitColorToGray, EqualsOpenCvBt601GrayExactly) {
    for (const auto& [width, height, pad] :
         {std::tuple{224, 224, 0}, std::tuple{31, 17, 2}, std::tuple{1, 1, 0}}) {
        cv::Mat wide = tavkit_test::randomMat(height, width + pad, CV_8UC3, width);
        const cv::Mat src = wide(cv::Rect(0, 0, width, height));
        cv::Mat ours(height, width, CV_8UC1, cv::Scalar(0));
        Context context;
        TavkitParams params = freshParams();
        describe(params.src, kTavkitFormatRgb, kTavkitTypeU8, src);
        describe(params.dst, kTavkitFormatGray, kTavkitTypeU8, ours);
        ASSERT_EQ(context.run(kTavkitColorToGray, params), 0);
        cv::Mat expected;
        cv::cvtColor(src, expected, cv::COLOR_RGB2GRAY);
        EXPECT_EQ(maxAbsDiff(ours, expected), 0.0) << width << "x" << height;
    }
}

}  // namespace
