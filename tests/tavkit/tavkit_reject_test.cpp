// Every kind of bad record is refused with its status, never a crash, and
// leaves the destination untouched.
#include <cmath>
#include <functional>
#include <opencv2/core.hpp>

#include "tavkit_test_support.h"

namespace {

using tavkit_test::Context;
using tavkit_test::describe;
using tavkit_test::freshParams;

constexpr int kWidth = 8;
constexpr int kHeight = 6;
constexpr uint8_t kUntouched = 0xEE;

// Buffers for one valid record of each operator.
struct Buffers {
    cv::Mat rgb{kHeight, kWidth, CV_8UC3, cv::Scalar::all(60)};
    cv::Mat rgbOut{kHeight, kWidth, CV_8UC3, cv::Scalar::all(kUntouched)};
    cv::Mat rotatedOut{kWidth, kHeight, CV_8UC3, cv::Scalar::all(kUntouched)};
    cv::Mat grayOut{kHeight, kWidth, CV_8UC1, cv::Scalar::all(kUntouched)};
    cv::Mat floatOut{kHeight, kWidth, CV_32FC3, cv::Scalar::all(0)};
    std::vector<int32_t> hist = std::vector<int32_t>(64, 0);
    std::vector<uint8_t> nv21 = std::vector<uint8_t>(kWidth * kHeight * 3 / 2, 128);
};

TavkitParams validRecord(int32_t id, Buffers& b) {
    TavkitParams p = freshParams();
    describe(p.src, kTavkitFormatRgb, kTavkitTypeU8, b.rgb);
    describe(p.dst, kTavkitFormatRgb, kTavkitTypeU8, b.rgbOut);
    switch (id) {
        case kTavkitResizeBilinear:
            p.src.format = kTavkitFormatYuvSemiPlanar;
            p.src.stride = kWidth;
            p.src.planeHeight = kHeight;
            p.src.plane0 = b.nv21.data();
            p.src.plane1 = b.nv21.data() + kWidth * kHeight;
            break;
        case kTavkitNormalization:
            describe(p.dst, kTavkitFormatRgb, kTavkitTypeF32, b.floatOut);
            p.normParam1 = 127.5f;
            p.normParam2 = 127.5f;
            break;
        case kTavkitRectCut:
            p.cropBounds[0] = 0;
            p.cropBounds[1] = kWidth;
            p.cropBounds[2] = 0;
            p.cropBounds[3] = kHeight;
            break;
        case kTavkitRotate:
            describe(p.dst, kTavkitFormatRgb, kTavkitTypeU8, b.rotatedOut);
            p.code = kTavkitRotate90;
            break;
        case kTavkitFlip:
            p.code = 1;
            break;
        case kTavkitColorToGray:
            describe(p.dst, kTavkitFormatGray, kTavkitTypeU8, b.grayOut);
            break;
        case kTavkitCalcHist:
            p.dst.elementType = kTavkitTypeS32;
            p.dst.width = p.dst.height = 1;
            p.dst.plane0 = b.hist.data();
            p.histChannels = 3;
            p.histBins[0] = p.histBins[1] = p.histBins[2] = 4;
            break;
        case kTavkitGaussianFilter:
            p.gaussianKernel = 3;
            break;
        default:
            break;
    }
    return p;
}

constexpr int32_t kWorkingOperators[] = {2, 3, 14, 19, 21, 47, 50, 53};

TEST(TavkitRejectedRecords, BaseRecordsAreValid) {
    Context context;
    for (int32_t id : kWorkingOperators) {
        Buffers b;
        TavkitParams p = validRecord(id, b);
        EXPECT_EQ(context.run(id, p), 0) << id;
    }
}

struct RejectCase {
    const char* name;
    int32_t id;
    std::function<void(TavkitParams&, Buffers&)> spoil;
    int status;
};

const uint32_t kNegative = static_cast<uint32_t>(-4);

const RejectCase kCases[] = {
    {"null source plane", 47, [](TavkitParams& p, Buffers&) { p.src.plane0 = nullptr; },
     kTavkitErrNullPlane},
    {"null destination plane", 53, [](TavkitParams& p, Buffers&) { p.dst.plane0 = nullptr; },
     kTavkitErrNullPlane},
    {"null chroma plane", 19, [](TavkitParams& p, Buffers&) { p.src.plane1 = nullptr; },
     kTavkitErrNullPlane},
    {"null histogram", 2, [](TavkitParams& p, Buffers&) { p.dst.plane0 = nullptr; },
     kTavkitErrNullPlane},
    {"zero width", 47, [](TavkitParams& p, Buffers&) { p.src.width = 0; }, kTavkitErrBadSize},
    {"zero height", 21, [](TavkitParams& p, Buffers&) { p.dst.height = 0; }, kTavkitErrBadSize},
    {"negative width", 19, [](TavkitParams& p, Buffers&) { p.src.width = kNegative; },
     kTavkitErrBadSize},
    {"negative height", 14, [](TavkitParams& p, Buffers&) { p.src.height = kNegative; },
     kTavkitErrBadSize},
    {"absurd side", 3, [](TavkitParams& p, Buffers&) { p.src.width = 100000; }, kTavkitErrBadSize},
    {"absurd pixel count", 19,
     [](TavkitParams& p, Buffers&) { p.dst.width = p.dst.height = 16000; }, kTavkitErrBadSize},
    {"chroma plane height below height", 19,
     [](TavkitParams& p, Buffers&) { p.src.planeHeight = kHeight - 1; }, kTavkitErrBadSize},
    {"source stride shorter than a row", 47,
     [](TavkitParams& p, Buffers&) { p.src.stride = kWidth * 3 - 1; }, kTavkitErrBadStride},
    {"destination stride shorter than a row", 21,
     [](TavkitParams& p, Buffers&) { p.dst.stride = kWidth - 1; }, kTavkitErrBadStride},
    {"odd frame width with stride missing the last chroma pair", 19,
     [](TavkitParams& p, Buffers&) { p.src.width = p.src.stride = kWidth - 1; },
     kTavkitErrBadStride},
    {"float stride not a whole sample", 14,
     [](TavkitParams& p, Buffers&) { p.dst.stride = kWidth * 12 + 2; }, kTavkitErrBadStride},
    {"misaligned float plane", 14,
     [](TavkitParams& p, Buffers&) { p.dst.plane0 = static_cast<uint8_t*>(p.dst.plane0) + 1; },
     kTavkitErrBadStride},
    {"absurd stride", 50, [](TavkitParams& p, Buffers&) { p.src.stride = 1u << 30; },
     kTavkitErrBadStride},
    {"unknown format", 47, [](TavkitParams& p, Buffers&) { p.src.format = 5; },
     kTavkitErrUnsupported},
    {"unknown element type", 53, [](TavkitParams& p, Buffers&) { p.dst.elementType = 2; },
     kTavkitErrUnsupported},
    {"float camera frame", 19, [](TavkitParams& p, Buffers&) { p.src.elementType = 8; },
     kTavkitErrUnsupported},
    {"flip of a camera frame", 47,
     [](TavkitParams& p, Buffers& b) {
         p.src.format = p.dst.format = kTavkitFormatYuvSemiPlanar;
         p.src.plane1 = b.nv21.data();
         p.dst.plane1 = b.hist.data();
     },
     kTavkitErrUnsupported},
    {"rotate changing format", 53, [](TavkitParams& p, Buffers&) { p.dst.format = 9; },
     kTavkitErrUnsupported},
    {"resize RGB to gray", 19,
     [](TavkitParams& p, Buffers& b) {
         describe(p.src, kTavkitFormatRgb, kTavkitTypeU8, b.rgb);
         describe(p.dst, kTavkitFormatGray, kTavkitTypeU8, b.grayOut);
     },
     kTavkitErrUnsupported},
    {"resize of floats", 19,
     [](TavkitParams& p, Buffers& b) {
         describe(p.src, kTavkitFormatRgb, kTavkitTypeF32, b.floatOut);
     },
     kTavkitErrUnsupported},
    {"normalisation into bytes", 14,
     [](TavkitParams& p, Buffers& b) {
         describe(p.dst, kTavkitFormatRgb, kTavkitTypeU8, b.rgbOut);
     },
     kTavkitErrUnsupported},
    {"normalisation divisor zero", 14, [](TavkitParams& p, Buffers&) { p.normParam2 = 0.0f; },
     kTavkitErrBadParameter},
    {"normalisation offset NaN", 14, [](TavkitParams& p, Buffers&) { p.normParam1 = NAN; },
     kTavkitErrBadParameter},
    {"normalisation flag unknown", 14, [](TavkitParams& p, Buffers&) { p.normFlag = 1; },
     kTavkitErrBadParameter},
    {"normalisation size mismatch", 14, [](TavkitParams& p, Buffers&) { p.dst.width = 4; },
     kTavkitErrBadSize},
    {"rotate code 3", 53, [](TavkitParams& p, Buffers&) { p.code = 3; }, kTavkitErrBadParameter},
    {"rotate 90 without swapped size", 53,
     [](TavkitParams& p, Buffers& b) {
         describe(p.dst, kTavkitFormatRgb, kTavkitTypeU8, b.rgbOut);
     },
     kTavkitErrBadSize},
    {"flip code 3", 47, [](TavkitParams& p, Buffers&) { p.code = 3; }, kTavkitErrBadParameter},
    {"flip size mismatch", 47, [](TavkitParams& p, Buffers&) { p.dst.height = 2; },
     kTavkitErrBadSize},
    {"cut empty columns", 50, [](TavkitParams& p, Buffers&) { p.cropBounds[1] = 0; },
     kTavkitErrBadParameter},
    {"cut beyond the right edge", 50,
     [](TavkitParams& p, Buffers&) { p.cropBounds[1] = kWidth + 1; }, kTavkitErrBadParameter},
    {"cut from a negative row", 50, [](TavkitParams& p, Buffers&) { p.cropBounds[2] = -1; },
     kTavkitErrBadParameter},
    {"cut with destination of another size", 50,
     [](TavkitParams& p, Buffers&) { p.cropBounds[3] = kHeight - 1; }, kTavkitErrBadSize},
    {"histogram channel count 2", 2, [](TavkitParams& p, Buffers&) { p.histChannels = 2; },
     kTavkitErrBadParameter},
    {"histogram zero bins", 2, [](TavkitParams& p, Buffers&) { p.histBins[1] = 0; },
     kTavkitErrBadParameter},
    {"histogram too many counters", 2,
     [](TavkitParams& p, Buffers&) { p.histBins[0] = p.histBins[1] = p.histBins[2] = 17; },
     kTavkitErrBadParameter},
    {"histogram into bytes", 2, [](TavkitParams& p, Buffers&) { p.dst.elementType = 1; },
     kTavkitErrUnsupported},
    {"gaussian kernel 0", 3, [](TavkitParams& p, Buffers&) { p.gaussianKernel = 0; },
     kTavkitErrBadParameter},
    {"gaussian kernel even", 3, [](TavkitParams& p, Buffers&) { p.gaussianKernel = 4; },
     kTavkitErrBadParameter},
    {"gaussian kernel too large", 3, [](TavkitParams& p, Buffers&) { p.gaussianKernel = 33; },
     kTavkitErrBadParameter},
    {"gray into RGB", 21,
     [](TavkitParams& p, Buffers& b) {
         describe(p.dst, kTavkitFormatRgb, kTavkitTypeU8, b.rgbOut);
     },
     kTavkitErrUnsupported},
    {"in place flip", 47, [](TavkitParams& p, Buffers&) { p.dst.plane0 = p.src.plane0; },
     kTavkitErrOverlap},
    {"destination overlapping the last source row", 21,
     [](TavkitParams& p, Buffers& b) { p.dst.plane0 = b.rgb.ptr(kHeight - 1) + 5; },
     kTavkitErrOverlap},
    {"histogram inside the image", 2,
     [](TavkitParams& p, Buffers& b) { p.dst.plane0 = b.rgb.ptr(2); }, kTavkitErrOverlap},
};

TEST(TavkitRejectedRecords, EachSpoiledFieldIsRefused) {
    Context context;
    for (const RejectCase& c : kCases) {
        Buffers b;
        TavkitParams p = validRecord(c.id, b);
        c.spoil(p, b);
        EXPECT_EQ(context.run(c.id, p), c.status) << c.name;
        EXPECT_EQ(cv::countNonZero(b.grayOut != kUntouched), 0) << c.name;
        EXPECT_EQ(cv::countNonZero(b.rgbOut.reshape(1) != kUntouched), 0) << c.name;
        EXPECT_EQ(cv::countNonZero(b.rotatedOut.reshape(1) != kUntouched), 0) << c.name;
    }
}

TEST(TavkitRejectedRecords, ValidRecordOfAnUnregisteredOperatorIsRefused) {
    for (int32_t id : kWorkingOperators) {
        TavkitConfig config;
        initTavkitConfig(&config);
        int64_t handle = 0;
        ASSERT_EQ(initTavkit(&handle, &config), 0);
        for (int32_t other : kWorkingOperators) {
            if (other != id) {
                ASSERT_EQ(registTavkitOperator(handle, other), 0);
            }
        }
        Buffers b;
        TavkitParams p = validRecord(id, b);
        EXPECT_EQ(runTavkit(handle, id, &p), kTavkitErrNotRegistered) << id;
        EXPECT_EQ(cv::countNonZero(b.rgbOut.reshape(1) != kUntouched), 0) << id;
        releaseTavkit(&handle);
    }
}

}  // namespace
