// The image operators against OpenCV core/imgproc as an independent oracle, and
// a table of records each refused with its status.
#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "tavkit_api.h"
#include "tavkit_status.h"
#include "tavkit_test_context.h"

namespace {

using Context = TavkitTestContext;

// A fresh record reading `src` and writing `dst`, both with their own row step.
TavkitParams record(uint32_t srcFormat, const cv::Mat& src, uint32_t dstFormat, const cv::Mat& dst,
                    uint32_t type = kTavkitTypeU8) {
    TavkitParams p;
    initTavkitParams(&p);
    const auto describe = [type](TavkitImageDesc& desc, uint32_t format, const cv::Mat& mat) {
        desc.format = format;
        desc.elementType = type;
        desc.width = mat.cols;
        desc.height = mat.rows;
        desc.stride = mat.step[0];
        desc.plane0 = mat.data;
    };
    describe(p.src, srcFormat, src);
    describe(p.dst, dstFormat, dst);
    return p;
}

// Random content with padded rows: a view into a wider matrix.
cv::Mat paddedRandom(int rows, int cols, int type, int pad) {
    cv::Mat wide(rows, cols + pad, type);
    cv::RNG(rows * 31 + cols).fill(wide, cv::RNG::UNIFORM, 0, 256);
    return wide(cv::Rect(0, 0, cols, rows));
}

// An NV21 frame as the camera hands it over (Y rows, then V/U rows, same
// stride) with smooth content, so that two bilinear resamplers agree closely.
cv::Mat smoothNv21(int width, int height, int stride) {
    cv::Mat frame(height * 3 / 2, stride, CV_8UC1, cv::Scalar(7));
    std::vector<double> columnWave(width);
    for (int c = 0; c < width; ++c) {
        columnWave[c] = 90 * std::sin(6.0 * c / width + 1);
    }
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            frame.at<uint8_t>(r, c) = 120 + columnWave[c] * std::cos(4.0 * r / height);
        }
    }
    for (int r = 0; r < height / 2; ++r) {
        for (int c = 0; c < width / 2; ++c) {
            frame.at<uint8_t>(height + r, 2 * c) =
                128 + 50 * std::cos(6.0 * c / width + 4.0 * r / height);
            frame.at<uint8_t>(height + r, 2 * c + 1) = 128 + 60 * std::sin(10.0 * r / height);
        }
    }
    return frame;
}

double meanAbsDiff(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    return cv::sum(diff.reshape(1))[0] / diff.total() / diff.channels();
}

// Bounds for the smooth frames: the pipelines differ in where chroma is
// interpolated (scaled as samples here, repeated over 2x2 blocks in OpenCV) and
// in fixed-point rounding. Measured: mean 0.20 to 0.45, largest difference 3,
// per channel up to 0.68 (blue carries the largest chroma weight).
constexpr double kMaxMeanAbsDiff = 0.6;
constexpr double kMaxAbsDiff = 4.0;
constexpr double kMaxChannelMeanAbsDiff = 1.0;

// A large frame is scaled in its YUV planes and only then converted.
TEST(TavkitOperators, Nv21ToRgbWithResizeMatchesOpenCvConvertThenResize) {
    const std::tuple<int, int, int, int, int> cases[] = {// width, height, stride, target
                                                         {4000, 3000, 4032, 224, 224},
                                                         {1920, 1080, 1984, 224, 224},
                                                         {224, 224, 224, 224, 224},
                                                         {320, 240, 336, 640, 480}};
    Context context;
    for (const auto& [width, height, stride, dstWidth, dstHeight] : cases) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        cv::Mat frame = smoothNv21(width, height, stride);
        cv::Mat ours(dstHeight, dstWidth, CV_8UC3, cv::Scalar::all(0));
        TavkitParams p = record(kTavkitFormatYuvSemiPlanar, frame, kTavkitFormatRgb, ours);
        p.src.width = width;
        p.src.height = p.src.planeHeight = height;
        p.src.plane1 = frame.ptr(height);
        ASSERT_EQ(context.run(kTavkitResizeBilinear, p), 0);

        cv::Mat rgb, expected;
        cv::cvtColor(frame(cv::Rect(0, 0, width, height * 3 / 2)).clone(), rgb,
                     cv::COLOR_YUV2RGB_NV21);
        cv::resize(rgb, expected, ours.size(), 0, 0, cv::INTER_LINEAR);
        EXPECT_LE(meanAbsDiff(ours, expected), kMaxMeanAbsDiff);
        EXPECT_LE(cv::norm(ours, expected, cv::NORM_INF), kMaxAbsDiff);
        cv::Mat ourChannels[3], expectedChannels[3];  // red and blue must not swap
        cv::split(ours, ourChannels);
        cv::split(expected, expectedChannels);
        EXPECT_LE(meanAbsDiff(ourChannels[0], expectedChannels[0]), kMaxChannelMeanAbsDiff);
        EXPECT_LE(meanAbsDiff(ourChannels[2], expectedChannels[2]), kMaxChannelMeanAbsDiff);
    }
}

// Rotation (clockwise), flip and crop move pixels exactly, on padded rows of
// bytes and floats, square and odd shapes.
TEST(TavkitOperators, RotateFlipAndCutExactlyAsOpenCv) {
    const std::tuple<int32_t, uint32_t, int> cases[] = {
        // operator, code, OpenCV's code
        {kTavkitRotate, kTavkitRotate90, cv::ROTATE_90_CLOCKWISE},
        {kTavkitRotate, kTavkitRotate180, cv::ROTATE_180},
        {kTavkitRotate, kTavkitRotate270, cv::ROTATE_90_COUNTERCLOCKWISE},
        {kTavkitFlip, 1, 1},  // left-right
        {kTavkitFlip, 0, 0},  // top-bottom
        {kTavkitFlip, 2, -1},
        {kTavkitRectCut, 0, 0}};  // columns 3 to width - 2, rows 1 to height - 1
    const std::tuple<uint32_t, uint32_t, int> layouts[] = {
        {kTavkitFormatRgb, kTavkitTypeU8, CV_8UC3},
        {kTavkitFormatGray, kTavkitTypeU8, CV_8UC1},
        {kTavkitFormatRgb, kTavkitTypeF32, CV_32FC3}};
    Context context;
    for (const auto& [format, type, cvType] : layouts) {
        for (const cv::Size& size : {cv::Size(224, 224), cv::Size(33, 17)}) {
            const cv::Mat src = paddedRandom(size.height, size.width, cvType, 3);
            for (const auto& [id, code, cvCode] : cases) {
                cv::Mat expected;
                if (id == kTavkitRectCut) {
                    expected = src(cv::Range(1, src.rows - 1), cv::Range(3, src.cols - 2));
                } else if (id == kTavkitRotate) {
                    cv::rotate(src, expected, cvCode);
                } else if (id == kTavkitFlip) {
                    cv::flip(src, expected, cvCode);
                }
                cv::Mat ours = paddedRandom(expected.rows, expected.cols, cvType, 2);
                TavkitParams p = record(format, src, format, ours, type);
                p.code = code;
                const int32_t bounds[] = {3, size.width - 2, 1, size.height - 1};
                std::copy(bounds, bounds + 4, p.cropBounds);
                ASSERT_EQ(context.run(id, p), 0);
                EXPECT_EQ(cv::norm(ours, expected, cv::NORM_INF), 0.0)
                    << "operator " << id << " code " << code << " format " << format << " type "
                    << type << " " << size;
            }
        }
    }
}

TEST(TavkitOperators, RgbToGrayEqualsOpenCvExactly) {
    Context context;
    for (const cv::Size& size : {cv::Size(224, 224), cv::Size(31, 17)}) {
        const cv::Mat src = paddedRandom(size.height, size.width, CV_8UC3, 2);
        cv::Mat ours(size, CV_8UC1, cv::Scalar(0)), expected;
        TavkitParams p = record(kTavkitFormatRgb, src, kTavkitFormatGray, ours);
        ASSERT_EQ(context.run(kTavkitColorToGray, p), 0);
        cv::cvtColor(src, expected, cv::COLOR_RGB2GRAY);
        EXPECT_EQ(cv::norm(ours, expected, cv::NORM_INF), 0.0) << size;
    }
}

// Buffers of one valid 8x6 record per operator; a refused record leaves every
// destination untouched.
constexpr uint8_t kUntouched = 0xEE;
struct Records {
    cv::Mat rgb{6, 8, CV_8UC3, cv::Scalar::all(60)}, nv21{9, 8, CV_8UC1, cv::Scalar::all(128)};
    cv::Mat out{6, 8, CV_8UC3, cv::Scalar::all(kUntouched)},
        gray{6, 8, CV_8UC1, cv::Scalar::all(kUntouched)};
    std::vector<int32_t> hist = std::vector<int32_t>(64);

    TavkitParams valid(int32_t id) {
        TavkitParams p = record(kTavkitFormatRgb, rgb, kTavkitFormatRgb, out);
        if (id == kTavkitResizeBilinear) {
            p = record(kTavkitFormatYuvSemiPlanar, nv21, kTavkitFormatRgb, out);
            p.src.height = p.src.planeHeight = 6;
            p.src.plane1 = nv21.ptr(6);
        } else if (id == kTavkitColorToGray) {
            p = record(kTavkitFormatRgb, rgb, kTavkitFormatGray, gray);
        } else if (id == kTavkitCalcHist) {
            p.dst.elementType = kTavkitTypeS32;
            p.dst.width = p.dst.height = 1;
            p.dst.plane0 = hist.data();
            p.histBins[0] = p.histBins[1] = p.histBins[2] = 4;
            p.histChannels = 3;
        }
        p.code = 1;  // rotate by 180, flip left-right: the size stays
        const int32_t bounds[] = {0, 8, 0, 6};
        std::copy(bounds, bounds + 4, p.cropBounds);
        p.gaussianKernel = 3;
        return p;
    }
    bool untouched() const {
        return cv::countNonZero(out.reshape(1) != kUntouched) == 0 &&
               cv::countNonZero(gray != kUntouched) == 0;
    }
};

TEST(TavkitOperators, EachBadRecordIsRefusedWithItsStatus) {
    using Spoil = void (*)(TavkitParams&);
    // clang-format off
    const std::tuple<int32_t, Spoil, int> cases[] = {
        {47, [](TavkitParams&) {}, 0},  // the valid records pass
        {53, [](TavkitParams&) {}, 0},
        {19, [](TavkitParams&) {}, 0},
        {21, [](TavkitParams&) {}, 0},
        {2, [](TavkitParams&) {}, 0},
        {47, [](TavkitParams& p) { p.src.plane0 = nullptr; }, kTavkitErrNullPlane},
        {53, [](TavkitParams& p) { p.dst.plane0 = nullptr; }, kTavkitErrNullPlane},
        {19, [](TavkitParams& p) { p.src.plane1 = nullptr; }, kTavkitErrNullPlane},
        {47, [](TavkitParams& p) { p.src.width = 0; }, kTavkitErrBadSize},
        {21, [](TavkitParams& p) { p.src.height = static_cast<uint32_t>(-4); }, kTavkitErrBadSize},
        {19, [](TavkitParams& p) { p.dst.width = p.dst.height = 16000; }, kTavkitErrBadSize},
        {19, [](TavkitParams& p) { p.src.planeHeight = 5; }, kTavkitErrBadSize},  // chroma inside Y
        {47, [](TavkitParams& p) { p.dst.height = 2; }, kTavkitErrBadSize},
        {47, [](TavkitParams& p) { p.src.stride = 8 * 3 - 1; }, kTavkitErrBadStride},
        {21, [](TavkitParams& p) { p.dst.stride = 8 - 1; }, kTavkitErrBadStride},
        {47, [](TavkitParams& p) { p.src.format = 5; }, kTavkitErrUnsupported},
        {53, [](TavkitParams& p) { p.dst.elementType = 2; }, kTavkitErrUnsupported},
        {19, [](TavkitParams& p) { p.src.elementType = kTavkitTypeF32; }, kTavkitErrUnsupported},
        {53, [](TavkitParams& p) { p.code = 3; }, kTavkitErrBadParameter},
        {47, [](TavkitParams& p) { p.code = 3; }, kTavkitErrBadParameter},
        {50, [](TavkitParams& p) { p.cropBounds[1] = 9; }, kTavkitErrBadParameter},
        {2, [](TavkitParams& p) { p.histBins[1] = 0; }, kTavkitErrBadParameter},
        {3, [](TavkitParams& p) { p.gaussianKernel = 4; }, kTavkitErrBadParameter},
        {47, [](TavkitParams& p) { p.dst.plane0 = p.src.plane0; }, kTavkitErrOverlap},
        {4, [](TavkitParams&) {}, kTavkitErrUnknownOperator}};
    // clang-format on
    Context context;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const auto& [id, spoil, status] = cases[k];
        Records records;
        TavkitParams p = records.valid(id);
        spoil(p);
        EXPECT_EQ(context.run(id, p), status) << "case " << k;
        EXPECT_TRUE(status == 0 || records.untouched()) << "case " << k;
    }
    // A valid record on a context without the operator, and on a released one.
    Records records;
    TavkitParams p = records.valid(kTavkitFlip);
    int64_t released = 0;
    {
        TavkitConfig config;
        initTavkitConfig(&config);
        ASSERT_EQ(initTavkit(&released, &config), 0);
        EXPECT_EQ(runTavkit(released, kTavkitFlip, &p), kTavkitErrNotRegistered);
        int64_t copy = released;
        releaseTavkit(&copy);
    }
    EXPECT_EQ(runTavkit(released, kTavkitFlip, &p), kTavkitErrBadHandle);
    EXPECT_TRUE(records.untouched());
}

}  // namespace
