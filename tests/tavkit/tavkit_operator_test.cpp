// The image operators byte for byte against independent oracles, on every
// instruction set the library was built for: OpenCV core/imgproc for the pixel
// moves, gray and histograms, and the plain forms the row kernels replaced for
// the resizes and the normalisation. Random content, many sizes, odd sizes,
// rows padded by amounts that are not whole pixels, upscales and downscales.
// Then a table of records each refused with its status.
#include <gtest/gtest.h>
#include <hwy/targets.h>
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <tuple>
#include <vector>

#include "tavkit_api.h"
#include "tavkit_status.h"

namespace {

// --- The plain forms, kept exactly as the library computed before its row
// kernels: a frame whose bytes change here would change the engine's scores ---

constexpr int kWeightBits = 11;
constexpr int kWeightOne = 1 << kWeightBits;

// The two source samples behind destination position `d` of an axis and the
// weight of the second, out of kWeightOne.
std::tuple<int, int, uint32_t> tap(int d, int srcSize, int dstSize) {
    const double scale = static_cast<double>(srcSize) / dstSize;
    const double pos = std::clamp((d + 0.5) * scale - 0.5, 0.0, srcSize - 1.0);
    const int i = static_cast<int>(pos);
    return {i, std::min(i + 1, srcSize - 1),
            static_cast<uint32_t>(std::lround((pos - i) * kWeightOne))};
}

// `src` (bytes) resized to `size`, each channel on its own.
cv::Mat plainResize(const cv::Mat& src, cv::Size size) {
    constexpr uint32_t kRound = 1u << (2 * kWeightBits - 1);
    const int channels = src.channels();
    cv::Mat dst(size, src.type());
    for (int y = 0; y < size.height; ++y) {
        const auto [topRow, bottomRow, wy] = tap(y, src.rows, size.height);
        const uint8_t *top = src.ptr(topRow), *bottom = src.ptr(bottomRow);
        uint8_t* out = dst.ptr(y);
        for (int x = 0; x < size.width; ++x) {
            const auto [first, second, wx] = tap(x, src.cols, size.width);
            const int a = first * channels, b = second * channels;
            for (int c = 0; c < channels; ++c) {
                const uint32_t upper = top[a + c] * (kWeightOne - wx) + top[b + c] * wx;
                const uint32_t lower = bottom[a + c] * (kWeightOne - wx) + bottom[b + c] * wx;
                const uint32_t value = upper * (kWeightOne - wy) + lower * wy;
                out[x * channels + c] = static_cast<uint8_t>((value + kRound) >> (2 * kWeightBits));
            }
        }
    }
    return dst;
}

// NV21 (planes with a shared stride) to packed R,G,B of the destination size.
cv::Mat plainNv21ToRgb(const uint8_t* y, const uint8_t* vu, int stride, cv::Size src,
                       cv::Size dst) {
    cv::Mat rgb(dst, CV_8UC3);
    if (src == dst) {
        libyuv::NV21ToRAW(y, stride, vu, stride, rgb.data, dst.width * 3, dst.width, dst.height);
        return rgb;
    }
    const cv::Mat luma = plainResize(cv::Mat(src, CV_8UC1, const_cast<uint8_t*>(y), stride), dst);
    const cv::Size chroma((src.width + 1) / 2, (src.height + 1) / 2);
    cv::Mat vAndU[2];
    cv::split(plainResize(cv::Mat(chroma, CV_8UC2, const_cast<uint8_t*>(vu), stride), dst), vAndU);
    libyuv::I444ToRAW(luma.data, dst.width, vAndU[1].data, dst.width, vAndU[0].data, dst.width,
                      rgb.data, dst.width * 3, dst.width, dst.height);
    return rgb;
}

// --- Records, images and instruction sets ---

// A context with the operators `ids` registered (by default every one the
// tests use), released at scope end.
struct Context {
    int64_t handle = 0;
    explicit Context(std::initializer_list<int32_t> ids = {2, 3, 14, 19, 21, 27, 47, 48, 50, 53}) {
        TavkitConfig config;
        initTavkitConfig(&config);
        EXPECT_EQ(initTavkit(&handle, &config), 0);
        for (int32_t id : ids) {
            EXPECT_EQ(registTavkitOperator(handle, id), 0) << id;
        }
    }
    ~Context() { releaseTavkit(&handle); }
    int run(int32_t id, TavkitParams& params) const { return runTavkit(handle, id, &params); }
};

// One channel is gray, three are RGB; the element type is the matrix depth.
void describe(TavkitImageDesc& desc, const cv::Mat& mat) {
    desc.format = mat.channels() == 3 ? kTavkitFormatRgb : kTavkitFormatGray;
    desc.elementType = mat.depth() == CV_8U    ? kTavkitTypeU8
                       : mat.depth() == CV_32F ? kTavkitTypeF32
                                               : kTavkitTypeS32;
    desc.width = mat.cols;
    desc.height = mat.rows;
    desc.stride = mat.step[0];
    desc.plane0 = mat.data;
}

// A fresh record reading `src` and writing `dst`, both with their own row step.
TavkitParams record(const cv::Mat& src, const cv::Mat& dst) {
    TavkitParams p;
    initTavkitParams(&p);
    describe(p.src, src);
    describe(p.dst, dst);
    return p;
}

// An image in rows padded by `pad` elements of its depth (not whole pixels, so
// that only the stride finds a row), every byte 0xA5 until written.
struct Padded {
    cv::Mat wide, view;
    Padded(cv::Size size, int type, int pad = 5)
        : wide(size.height, size.width * CV_MAT_CN(type) + pad, CV_MAT_DEPTH(type)),
          view(wide.colRange(0, size.width * CV_MAT_CN(type)).reshape(CV_MAT_CN(type))) {
        std::memset(wide.data, 0xA5, wide.total() * wide.elemSize());
    }
    // Whether the view holds exactly the bytes of `expected` (floats compared
    // as bytes) and nothing was written past it.
    bool holds(const cv::Mat& expected) const {
        Padded want(view.size(), view.type(), wide.cols - view.cols * view.channels());
        expected.copyTo(want.view);
        return std::memcmp(wide.data, want.wide.data, wide.total() * wide.elemSize()) == 0;
    }
};

// Random content in rows padded by `pad` elements.
cv::Mat paddedRandom(cv::Size size, int type, int pad) {
    Padded image(size, type, pad);
    cv::RNG(size.area() * 31 + type).fill(image.wide, cv::RNG::UNIFORM, 0, 256);
    return image.view;
}

// Every instruction set the library was built with that this CPU runs, each
// in turn; the library dispatches to the one chosen.
template <typename Check>
void onEveryInstructionSet(const Check& check) {
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        hwy::SetSupportedTargetsForTest(target);
        check();
    }
    hwy::SetSupportedTargetsForTest(0);
}

// Frames: the camera sizes at small scale, odd sizes, one and two pixels wide
// or high, and a few larger than their destination in one axis only.
const cv::Size kFrames[] = {{640, 480}, {1920, 1080}, {333, 211}, {97, 64},  {31, 17}, {7, 5},
                            {3, 3},     {2, 2},       {1, 1},     {2, 9},    {1, 6},   {5, 1},
                            {224, 224}, {225, 223},   {448, 100}, {100, 448}};
const cv::Size kTargets[] = {{224, 224}, {64, 48}, {17, 9}, {1, 1}, {300, 200}, {3, 250}};
// The camera's full sizes to the model input, and an upscale.
const std::pair<cv::Size, cv::Size> kCameraCases[] = {
    {{4000, 3000}, {224, 224}}, {{1920, 1080}, {224, 224}}, {{320, 240}, {640, 480}}};

// Guards the resizes of NV21 (with its conversion: chroma order, stride 0 as
// packed rows), gray and RGB: sample positions and weights, rounding, padding
// left unwritten. Every frame to every target, and the camera's full sizes.
TEST(TavkitOperators, ResizesEqualThePlainForms) {
    std::vector cases(std::begin(kCameraCases), std::end(kCameraCases));
    for (const cv::Size& frame : kFrames) {
        for (const cv::Size& target : kTargets) {
            cases.emplace_back(frame, target);
        }
    }
    Context context;
    onEveryInstructionSet([&] {
        for (const auto& [frame, target] : cases) {
            SCOPED_TRACE(testing::Message() << frame << " -> " << target);
            for (const int padding : {0, 6}) {
                const int stride = (frame.width + 1) / 2 * 2 + padding;
                const cv::Mat planes =
                    paddedRandom({stride, frame.height + (frame.height + 1) / 2}, CV_8UC1, 0);
                Padded ours(target, CV_8UC3);
                TavkitParams p = record(planes, ours.view);
                p.src.format = kTavkitFormatYuvSemiPlanar;
                p.src.width = frame.width;
                p.src.height = frame.height;
                p.src.stride = padding == 0 ? 0 : stride;
                p.src.plane1 = const_cast<uint8_t*>(planes.ptr(frame.height));
                ASSERT_EQ(context.run(kTavkitResizeBilinear, p), 0);
                ASSERT_TRUE(ours.holds(
                    plainNv21ToRgb(planes.data, planes.ptr(frame.height), stride, frame, target)))
                    << "NV21 padding " << padding;
            }
            for (const int type : {CV_8UC1, CV_8UC3}) {
                const cv::Mat src = paddedRandom(frame, type, 5);
                Padded ours(target, type);
                TavkitParams p = record(src, ours.view);
                ASSERT_EQ(context.run(kTavkitResizeBilinear, p), 0);
                ASSERT_TRUE(ours.holds(plainResize(src, target))) << "channels " << src.channels();
            }
        }
    });
}

// Guards what the plain form shares with the library and so cannot check: the
// colour matrix, the V/U order and the sample positions, against OpenCV's
// convert-then-resize on smooth frames of the camera's sizes (scaling the
// planes first differs from it by rounding only).
TEST(TavkitOperators, Nv21ResizeAgreesWithOpenCvConvertThenResize) {
    for (const auto& [frame, target] : kCameraCases) {
        SCOPED_TRACE(testing::Message() << frame << " -> " << target);
        // Luma, V and U each a smooth field of its own.
        cv::Mat fields[3], planes;
        cv::RNG random(frame.area());
        for (int i = 0; i < 3; ++i) {
            cv::Mat seed(3, 4, CV_8UC1);
            random.fill(seed, cv::RNG::UNIFORM, 64, 192);
            const cv::Size size = i == 0 ? frame : cv::Size(frame.width / 2, frame.height / 2);
            cv::resize(seed, fields[i], size, 0, 0, cv::INTER_CUBIC);
        }
        cv::Mat vu;
        cv::merge(&fields[1], 2, vu);
        cv::vconcat(fields[0], vu.reshape(1), planes);
        cv::Mat rgb, expected, diff;
        cv::cvtColor(planes, rgb, cv::COLOR_YUV2RGB_NV21);
        cv::resize(rgb, expected, target, 0, 0, cv::INTER_LINEAR);
        cv::absdiff(
            plainNv21ToRgb(planes.data, planes.ptr(frame.height), frame.width, frame, target),
            expected, diff);
        EXPECT_LE(cv::norm(diff, cv::NORM_INF), 4.0);
        // The mean of each channel: red and blue must not swap.
        EXPECT_LE(cv::norm(cv::mean(diff), cv::NORM_INF), 1.0) << cv::mean(diff);
    }
}

// Sizes of the exact operators: square and odd shapes, and widths that leave
// a partial vector at the end of each row.
const cv::Size kSizes[] = {{224, 224}, {33, 17}, {31, 17}, {64, 64}, {1, 1},
                           {37, 3},    {65, 2},  {130, 7}, {3, 40}};

// What OpenCV makes of `src` for one row of the table below.
cv::Mat openCv(int32_t id, int cvCode, const cv::Mat& src) {
    cv::Mat out;
    if (id == kTavkitRotate) {
        cv::rotate(src, out, cvCode);
    } else if (id == kTavkitFlip) {
        cv::flip(src, out, cvCode);
    } else if (id == kTavkitColorToGray) {
        cv::cvtColor(src, out, cv::COLOR_RGB2GRAY);
    } else {  // the cut: columns 3 to width - 2, rows 1 to height - 1
        out = src(cv::Range(1, src.rows - 1), cv::Range(3, src.cols - 2));
    }
    return out;
}

// Guards rotation (clockwise), flip and crop moving pixels on RGB and gray
// bytes and RGB floats, RGB to gray rounding and the histogram (bins per
// channel, counts cleared first) exactly as OpenCV, and the normalisation as
// the plain single-precision form.
TEST(TavkitOperators, ExactOperatorsEqualTheirOracles) {
    const std::tuple<int32_t, uint32_t, int> cases[] = {
        // operator, code, OpenCV's code
        {kTavkitRotate, kTavkitRotate90, cv::ROTATE_90_CLOCKWISE},
        {kTavkitRotate, kTavkitRotate180, cv::ROTATE_180},
        {kTavkitRotate, kTavkitRotate270, cv::ROTATE_90_COUNTERCLOCKWISE},
        {kTavkitFlip, 1, 1},  // left-right
        {kTavkitFlip, 0, 0},  // top-bottom
        {kTavkitFlip, 2, -1},
        {kTavkitRectCut, 0, 0},
        {kTavkitColorToGray, 0, 0}};
    const int binSets[][3] = {{4, 4, 4}, {1, 1, 1}, {256, 16, 1}, {3, 7, 5}, {16, 16, 16}};
    const int picked[] = {0, 1, 2};
    const float range[] = {0, 256}, *ranges[] = {range, range, range};
    Context context;
    onEveryInstructionSet([&] {
        for (const cv::Size& size : kSizes) {
            for (const int type : {CV_8UC3, CV_8UC1, CV_32FC3}) {
                SCOPED_TRACE(testing::Message() << size << " type " << type);
                const cv::Mat src = paddedRandom(size, type, 7);
                for (const auto& [id, code, cvCode] : cases) {
                    if ((id == kTavkitColorToGray && type != CV_8UC3) ||
                        (id == kTavkitRectCut && (size.width < 6 || size.height < 3))) {
                        continue;
                    }
                    const cv::Mat expected = openCv(id, cvCode, src);
                    Padded ours(expected.size(), expected.type());
                    TavkitParams p = record(src, ours.view);
                    p.code = code;
                    const int32_t bounds[] = {3, size.width - 2, 1, size.height - 1};
                    std::copy(bounds, bounds + 4, p.cropBounds);
                    ASSERT_EQ(context.run(id, p), 0);
                    EXPECT_TRUE(ours.holds(expected)) << "operator " << id << " code " << code;
                }
                if (type == CV_32FC3) {
                    continue;  // histograms and normalisation read bytes only
                }
                for (const auto& bins : binSets) {
                    cv::Mat counts;
                    cv::calcHist(&src, 1, picked, {}, counts, src.channels(), bins, ranges);
                    std::vector<int32_t> hist(counts.total(), -1);
                    TavkitParams p = record(src, cv::Mat(1, 1, CV_32SC1, hist.data()));
                    p.histChannels = static_cast<uint32_t>(src.channels());
                    std::copy(bins, bins + 3, p.histBins);
                    ASSERT_EQ(context.run(kTavkitCalcHist, p), 0);
                    const float* expected = counts.ptr<float>();
                    ASSERT_EQ(hist, std::vector<int32_t>(expected, expected + counts.total()))
                        << bins[0] << "," << bins[1] << "," << bins[2];
                }
                if (type != CV_8UC3) {
                    continue;  // normalisation reads RGB
                }
                for (const auto& [offset, divisor] :
                     {std::pair{127.5f, 127.5f}, std::pair{0.0f, 255.0f}, std::pair{-3.25f, 0.7f},
                      std::pair{1e30f, 3e-9f}}) {
                    Padded ours(size, CV_32FC3);
                    TavkitParams p = record(src, ours.view);
                    p.normParam1 = offset;
                    p.normParam2 = divisor;
                    ASSERT_EQ(context.run(kTavkitNormalization, p), 0);
                    cv::Mat expected;
                    src.convertTo(expected, CV_32F);
                    for (float& value : cv::Mat_<float>(expected.reshape(1))) {
                        value = (value - offset) / divisor;
                    }
                    ASSERT_TRUE(ours.holds(expected)) << offset << " / " << divisor;
                }
            }
        }
    });
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
        TavkitParams p = record(rgb, id == kTavkitColorToGray ? gray : out);
        if (id == kTavkitResizeBilinear) {
            describe(p.src, nv21);
            p.src.format = kTavkitFormatYuvSemiPlanar;
            p.src.height = p.src.planeHeight = 6;
            p.src.plane1 = nv21.ptr(6);
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

// Guards each record check (null planes, sizes, strides, formats, parameters,
// overlap, unknown, unregistered and released) with its own status, and that
// a refused record writes nothing.
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
    const Context bare({});
    EXPECT_EQ(bare.run(kTavkitFlip, p), kTavkitErrNotRegistered);
    int64_t copy = bare.handle;
    releaseTavkit(&copy);
    EXPECT_EQ(bare.run(kTavkitFlip, p), kTavkitErrBadHandle);
    EXPECT_TRUE(records.untouched());
}

}  // namespace
