// Operator 19: bilinear resize with colour conversion.
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {
namespace {

// Fixed-point precision of the interpolation weights of the RGB resize: 11
// bits keeps the two-stage product (255 * 2^11 * 2^11) inside 32 bits.
constexpr int kWeightBits = 11;
constexpr int kWeightOne = 1 << kWeightBits;

// Source sample positions of one axis: for each destination index the first
// source index and the weight of the second (which is first + 1, or first
// itself at the clamped edges).
struct AxisTaps {
    std::vector<int> first;
    std::vector<int> second;
    std::vector<int> weight;
};

AxisTaps axisTaps(int srcSize, int dstSize) {
    AxisTaps taps;
    taps.first.resize(dstSize);
    taps.second.resize(dstSize);
    taps.weight.resize(dstSize);
    const double scale = static_cast<double>(srcSize) / dstSize;
    for (int d = 0; d < dstSize; ++d) {
        // Pixel centres aligned: destination centre d + 0.5 maps to source (d + 0.5) * scale.
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

// One u8 image of interleaved channels, as the resampler reads or writes it.
struct Interleaved {
    uint8_t* data;
    size_t stride;
    int width;
    int height;
};

// Interleaved u8 resize that reads only the two source rows and two source
// columns behind each destination pixel, so its cost follows the destination.
// Used for RGB and for the V/U pairs of the frame (libyuv's pair scaler rounds
// down and shifts chroma by about one level, which tints the result).
void resizeInterleaved(const Interleaved& src, const Interleaved& dst, int channels) {
    const AxisTaps xs = axisTaps(src.width, dst.width);
    const AxisTaps ys = axisTaps(src.height, dst.height);
    constexpr uint32_t kRound = 1u << (2 * kWeightBits - 1);
    for (int y = 0; y < dst.height; ++y) {
        const uint8_t* top = src.data + src.stride * ys.first[y];
        const uint8_t* bottom = src.data + src.stride * ys.second[y];
        const uint32_t wy = static_cast<uint32_t>(ys.weight[y]);
        uint8_t* out = dst.data + dst.stride * y;
        for (int x = 0; x < dst.width; ++x) {
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

// 8-bit planes are resized here rather than with libyuv's bilinear scaler: that
// scaler rounds differently on each architecture (7-bit column weights on x86,
// 16-bit on ARM, in its plain C code as well), so the same frame would give a
// slightly different image on x86-64 and arm64. This integer resize gives the
// same bytes on every host.
//
// NV21 frame to RGB: scale the Y plane and the V/U pairs to the destination
// size (chroma to full destination resolution, so that it is interpolated, not
// repeated over 2x2 blocks), then convert only that small image. libyuv's
// "RAW" layout is R,G,B in memory.
int resizeNv21ToRgb(const ImageView& src, const ImageView& dst) {
    const int stride = static_cast<int>(src.stride);
    const int dstStride = static_cast<int>(dst.stride);
    if (src.width == dst.width && src.height == dst.height) {
        return libyuv::NV21ToRAW(src.plane0, stride, src.plane1, stride, dst.plane0, dstStride,
                                 dst.width, dst.height) == 0
                   ? kTavkitOk
                   : kTavkitErrInternal;
    }
    const size_t pixels = static_cast<size_t>(dst.width) * dst.height;
    std::vector<uint8_t> scratch(pixels * 5);
    uint8_t* luma = scratch.data();
    uint8_t* vu = luma + pixels;
    uint8_t* v = vu + 2 * pixels;
    uint8_t* u = v + pixels;
    resizeInterleaved({src.plane0, src.stride, src.width, src.height},
                      {luma, static_cast<size_t>(dst.width), dst.width, dst.height}, 1);
    resizeInterleaved({src.plane1, src.stride, src.chromaWidth, src.chromaHeight},
                      {vu, static_cast<size_t>(dst.width) * 2, dst.width, dst.height}, 2);
    // NV21 pairs are V first, then U.
    libyuv::SplitUVPlane(vu, dst.width * 2, v, dst.width, u, dst.width, dst.width, dst.height);
    if (libyuv::I444ToRAW(luma, dst.width, u, dst.width, v, dst.width, dst.plane0, dstStride,
                          dst.width, dst.height) != 0) {
        return kTavkitErrInternal;
    }
    return kTavkitOk;
}

}  // namespace

int runResizeBilinear(const TavkitParams& params) {
    ImageView src;
    ImageView dst;
    const int status = describePair(params, &src, &dst);
    if (status != kTavkitOk) {
        return status;
    }
    if (src.type != kTavkitTypeU8 || dst.type != kTavkitTypeU8) {
        return kTavkitErrUnsupported;
    }
    if (src.format == kTavkitFormatYuvSemiPlanar && dst.format == kTavkitFormatRgb) {
        return resizeNv21ToRgb(src, dst);
    }
    if (src.format != dst.format) {
        return kTavkitErrUnsupported;
    }
    switch (src.format) {
        case kTavkitFormatRgb:
            resizeInterleaved({src.plane0, src.stride, src.width, src.height},
                              {dst.plane0, dst.stride, dst.width, dst.height}, 3);
            return kTavkitOk;
        case kTavkitFormatGray:
            resizeInterleaved({src.plane0, src.stride, src.width, src.height},
                              {dst.plane0, dst.stride, dst.width, dst.height}, 1);
            return kTavkitOk;
        case kTavkitFormatGray16:
            // libyuv's 16-bit strides count samples, not bytes.
            libyuv::ScalePlane_16(
                reinterpret_cast<const uint16_t*>(src.plane0), static_cast<int>(src.stride / 2),
                src.width, src.height, reinterpret_cast<uint16_t*>(dst.plane0),
                static_cast<int>(dst.stride / 2), dst.width, dst.height, libyuv::kFilterBilinear);
            return kTavkitOk;
        default:
            return kTavkitErrUnsupported;
    }
}

}  // namespace tavkit
