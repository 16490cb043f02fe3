// The image operators' vector row kernels against the plain forms they
// replace, byte for byte: random frames of many sizes, odd sizes, padded rows,
// upscales and downscales, on every instruction set the library was built for.
// The plain forms below are kept exactly as the library computed before its
// row kernels: a frame whose bytes change here would change the engine's scores.
#include <gtest/gtest.h>
#include <hwy/targets.h>
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tavkit_api.h"

namespace {

// --- The plain forms ---

constexpr int kWeightBits = 11;
constexpr int kWeightOne = 1 << kWeightBits;

struct AxisTaps {
    std::vector<int> first, second, weight;
};

AxisTaps axisTaps(int srcSize, int dstSize) {
    AxisTaps taps;
    taps.first.resize(dstSize);
    taps.second.resize(dstSize);
    taps.weight.resize(dstSize);
    const double scale = static_cast<double>(srcSize) / dstSize;
    for (int d = 0; d < dstSize; ++d) {
        const double pos = (d + 0.5) * scale - 0.5;
        int i = static_cast<int>(std::floor(pos));
        double frac = pos - i;
        if (i < 0) {
            i = 0;
            frac = 0.0;
        }
        if (i >= srcSize - 1) {
            i = srcSize - 1;
            frac = 0.0;
        }
        taps.first[d] = i;
        taps.second[d] = std::min(i + 1, srcSize - 1);
        taps.weight[d] = static_cast<int>(std::lround(frac * kWeightOne));
    }
    return taps;
}

void plainResize(const uint8_t* src, size_t srcStride, int srcWidth, int srcHeight, uint8_t* dst,
                 size_t dstStride, int dstWidth, int dstHeight, int channels) {
    const AxisTaps xs = axisTaps(srcWidth, dstWidth);
    const AxisTaps ys = axisTaps(srcHeight, dstHeight);
    constexpr uint32_t kRound = 1u << (2 * kWeightBits - 1);
    for (int y = 0; y < dstHeight; ++y) {
        const uint8_t* top = src + srcStride * ys.first[y];
        const uint8_t* bottom = src + srcStride * ys.second[y];
        const uint32_t wy = static_cast<uint32_t>(ys.weight[y]);
        uint8_t* out = dst + dstStride * y;
        for (int x = 0; x < dstWidth; ++x) {
            const int a = xs.first[x] * channels;
            const int b = xs.second[x] * channels;
            const uint32_t wx = static_cast<uint32_t>(xs.weight[x]);
            for (int c = 0; c < channels; ++c) {
                const uint32_t upper = top[a + c] * (kWeightOne - wx) + top[b + c] * wx;
                const uint32_t lower = bottom[a + c] * (kWeightOne - wx) + bottom[b + c] * wx;
                const uint32_t value = upper * (kWeightOne - wy) + lower * wy;
                out[x * channels + c] = static_cast<uint8_t>((value + kRound) >> (2 * kWeightBits));
            }
        }
    }
}

// NV21 (planes with a shared stride) to packed R,G,B of the destination size.
std::vector<uint8_t> plainNv21ToRgb(const uint8_t* y, const uint8_t* vu, int stride, int width,
                                    int height, int dstWidth, int dstHeight) {
    std::vector<uint8_t> rgb(static_cast<size_t>(dstWidth) * dstHeight * 3);
    if (width == dstWidth && height == dstHeight) {
        libyuv::NV21ToRAW(y, stride, vu, stride, rgb.data(), dstWidth * 3, dstWidth, dstHeight);
        return rgb;
    }
    const size_t pixels = static_cast<size_t>(dstWidth) * dstHeight;
    std::vector<uint8_t> scratch(pixels * 5);
    uint8_t* luma = scratch.data();
    uint8_t* pairs = luma + pixels;
    uint8_t* v = pairs + 2 * pixels;
    uint8_t* u = v + pixels;
    plainResize(y, stride, width, height, luma, dstWidth, dstWidth, dstHeight, 1);
    plainResize(vu, stride, (width + 1) / 2, (height + 1) / 2, pairs, dstWidth * 2, dstWidth,
                dstHeight, 2);
    libyuv::SplitUVPlane(pairs, dstWidth * 2, v, dstWidth, u, dstWidth, dstWidth, dstHeight);
    libyuv::I444ToRAW(luma, dstWidth, u, dstWidth, v, dstWidth, rgb.data(), dstWidth * 3, dstWidth,
                      dstHeight);
    return rgb;
}

// --- Inputs ---

// Deterministic noise, so that every sample position and weight matters.
std::vector<uint8_t> noise(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> out(bytes);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : out) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return out;
}

struct Context {
    int64_t handle = 0;
    Context() {
        TavkitConfig config;
        initTavkitConfig(&config);
        EXPECT_EQ(initTavkit(&handle, &config), 0);
        for (int32_t id : {2, 14, 19, 21}) {
            EXPECT_EQ(registTavkitOperator(handle, id), 0);
        }
    }
    ~Context() { releaseTavkit(&handle); }
};

void describe(TavkitImageDesc& desc, uint32_t format, uint32_t type, int width, int height,
              size_t stride, const void* plane) {
    desc.format = format;
    desc.elementType = type;
    desc.width = static_cast<uint32_t>(width);
    desc.height = static_cast<uint32_t>(height);
    desc.stride = static_cast<uint32_t>(stride);
    desc.plane0 = const_cast<void*>(plane);
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

struct Size {
    int width, height;
};

// Frames: the camera sizes at small scale, odd sizes, one and two pixels wide
// or high, and a few larger than their destination in one axis only.
const Size kFrames[] = {{640, 480}, {1920, 1080}, {333, 211}, {97, 64},  {31, 17}, {7, 5},
                        {3, 3},     {2, 2},       {1, 1},     {2, 9},    {1, 6},   {5, 1},
                        {224, 224}, {225, 223},   {448, 100}, {100, 448}};
const Size kTargets[] = {{224, 224}, {64, 48}, {17, 9}, {1, 1}, {300, 200}, {3, 250}};

TEST(TavkitFastPath, Nv21ToRgbEqualsThePlainForm) {
    Context context;
    onEveryInstructionSet([&] {
        uint32_t seed = 1;
        for (const Size& frame : kFrames) {
            for (const Size& target : kTargets) {
                for (const int padding : {0, 6}) {
                    SCOPED_TRACE(testing::Message()
                                 << frame.width << "x" << frame.height << " -> " << target.width
                                 << "x" << target.height << " padding " << padding);
                    const int stride = (frame.width + 1) / 2 * 2 + padding;
                    const std::vector<uint8_t> y =
                        noise(static_cast<size_t>(stride) * frame.height, seed++);
                    const std::vector<uint8_t> vu =
                        noise(static_cast<size_t>(stride) * ((frame.height + 1) / 2), seed++);
                    const size_t dstStride = static_cast<size_t>(target.width) * 3 + padding;
                    std::vector<uint8_t> ours(dstStride * target.height, 0xA5);
                    TavkitParams p;
                    initTavkitParams(&p);
                    describe(p.src, kTavkitFormatYuvSemiPlanar, kTavkitTypeU8, frame.width,
                             frame.height, padding == 0 ? 0 : stride, y.data());
                    p.src.plane1 = const_cast<uint8_t*>(vu.data());
                    describe(p.dst, kTavkitFormatRgb, kTavkitTypeU8, target.width, target.height,
                             dstStride, ours.data());
                    ASSERT_EQ(runTavkit(context.handle, kTavkitResizeBilinear, &p), 0);
                    const std::vector<uint8_t> expected =
                        plainNv21ToRgb(y.data(), vu.data(), stride, frame.width, frame.height,
                                       target.width, target.height);
                    for (int r = 0; r < target.height; ++r) {
                        ASSERT_EQ(
                            std::memcmp(ours.data() + dstStride * r,
                                        expected.data() + static_cast<size_t>(r) * target.width * 3,
                                        static_cast<size_t>(target.width) * 3),
                            0)
                            << "row " << r;
                        for (size_t i = static_cast<size_t>(target.width) * 3; i < dstStride; ++i) {
                            ASSERT_EQ(ours[dstStride * r + i], 0xA5) << "padding written";
                        }
                    }
                }
            }
        }
    });
}

TEST(TavkitFastPath, GrayAndRgbResizeEqualThePlainForm) {
    Context context;
    onEveryInstructionSet([&] {
        uint32_t seed = 100;
        for (const Size& frame : kFrames) {
            for (const Size& target : kTargets) {
                for (const auto& [format, channels] :
                     {std::pair{kTavkitFormatGray, 1}, std::pair{kTavkitFormatRgb, 3}}) {
                    SCOPED_TRACE(testing::Message()
                                 << frame.width << "x" << frame.height << " -> " << target.width
                                 << "x" << target.height << " channels " << channels);
                    const size_t stride = static_cast<size_t>(frame.width) * channels + 5;
                    const std::vector<uint8_t> src = noise(stride * frame.height, seed++);
                    const size_t dstStride = static_cast<size_t>(target.width) * channels + 3;
                    std::vector<uint8_t> ours(dstStride * target.height, 0);
                    std::vector<uint8_t> expected(dstStride * target.height, 0);
                    TavkitParams p;
                    initTavkitParams(&p);
                    describe(p.src, format, kTavkitTypeU8, frame.width, frame.height, stride,
                             src.data());
                    describe(p.dst, format, kTavkitTypeU8, target.width, target.height, dstStride,
                             ours.data());
                    ASSERT_EQ(runTavkit(context.handle, kTavkitResizeBilinear, &p), 0);
                    plainResize(src.data(), stride, frame.width, frame.height, expected.data(),
                                dstStride, target.width, target.height, channels);
                    ASSERT_EQ(ours, expected);
                }
            }
        }
    });
}

// Gray, histogram and normalisation on padded rows of many widths, including
// widths that leave a partial vector at the end of each row.
TEST(TavkitFastPath, GrayHistogramAndNormalisationEqualThePlainForms) {
    Context context;
    onEveryInstructionSet([&] {
        uint32_t seed = 500;
        for (const Size& size : {Size{224, 224}, Size{64, 64}, Size{1, 1}, Size{37, 3}, Size{65, 2},
                                 Size{130, 7}, Size{3, 40}}) {
            SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
            const size_t stride = static_cast<size_t>(size.width) * 3 + 7;
            const std::vector<uint8_t> rgb = noise(stride * size.height, seed++);

            std::vector<uint8_t> gray(static_cast<size_t>(size.width) * size.height);
            TavkitParams p;
            initTavkitParams(&p);
            describe(p.src, kTavkitFormatRgb, kTavkitTypeU8, size.width, size.height, stride,
                     rgb.data());
            describe(p.dst, kTavkitFormatGray, kTavkitTypeU8, size.width, size.height, 0,
                     gray.data());
            ASSERT_EQ(runTavkit(context.handle, kTavkitColorToGray, &p), 0);
            for (int r = 0; r < size.height; ++r) {
                for (int c = 0; c < size.width; ++c) {
                    const uint8_t* px = rgb.data() + stride * r + 3 * c;
                    ASSERT_EQ(gray[static_cast<size_t>(r) * size.width + c],
                              (px[0] * 9798 + px[1] * 19235 + px[2] * 3735 + 16384) >> 15);
                }
            }

            const uint32_t binSets[][3] = {
                {4, 4, 4}, {1, 1, 1}, {256, 16, 1}, {3, 7, 5}, {16, 16, 16}};
            for (const auto& bins : binSets) {
                for (const int channels : {1, 3}) {
                    uint32_t total = channels == 1 ? bins[0] : bins[0] * bins[1] * bins[2];
                    std::vector<int32_t> hist(total, -1), expected(total, 0);
                    const uint8_t* plane = channels == 1 ? gray.data() : rgb.data();
                    const size_t planeStride =
                        channels == 1 ? static_cast<size_t>(size.width) : stride;
                    for (int r = 0; r < size.height; ++r) {
                        for (int c = 0; c < size.width; ++c) {
                            const uint8_t* px = plane + planeStride * r + channels * c;
                            uint32_t index = (px[0] * bins[0]) >> 8;
                            if (channels == 3) {
                                index = (index * bins[1] + ((px[1] * bins[1]) >> 8)) * bins[2] +
                                        ((px[2] * bins[2]) >> 8);
                            }
                            ++expected[index];
                        }
                    }
                    initTavkitParams(&p);
                    describe(p.src, channels == 1 ? kTavkitFormatGray : kTavkitFormatRgb,
                             kTavkitTypeU8, size.width, size.height, planeStride, plane);
                    describe(p.dst, kTavkitFormatRgb, kTavkitTypeS32, 1, 1, 0, hist.data());
                    p.histChannels = static_cast<uint32_t>(channels);
                    std::copy(bins, bins + 3, p.histBins);
                    ASSERT_EQ(runTavkit(context.handle, kTavkitCalcHist, &p), 0);
                    ASSERT_EQ(hist, expected) << bins[0] << "," << bins[1] << "," << bins[2];
                }
            }

            for (const auto& [offset, divisor] :
                 {std::pair{127.5f, 127.5f}, std::pair{0.0f, 255.0f}, std::pair{-3.25f, 0.7f},
                  std::pair{1e30f, 3e-9f}}) {
                std::vector<float> out(static_cast<size_t>(size.width) * 3 * size.height + 5, 9.0f);
                initTavkitParams(&p);
                describe(p.src, kTavkitFormatRgb, kTavkitTypeU8, size.width, size.height, stride,
                         rgb.data());
                describe(p.dst, kTavkitFormatRgb, kTavkitTypeF32, size.width, size.height, 0,
                         out.data());
                p.normParam1 = offset;
                p.normParam2 = divisor;
                ASSERT_EQ(runTavkit(context.handle, kTavkitNormalization, &p), 0);
                for (int r = 0; r < size.height; ++r) {
                    for (int i = 0; i < size.width * 3; ++i) {
                        const float expected =
                            (static_cast<float>(rgb[stride * r + i]) - offset) / divisor;
                        const float got = out[static_cast<size_t>(r) * size.width * 3 + i];
                        ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
                            << offset << " / " << divisor << " at " << r << "," << i;
                    }
                }
                ASSERT_EQ(out.back(), 9.0f);
            }
        }
    });
}

}  // namespace
