// Operator 19: bilinear resize with colour conversion.
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <cstring>

#include "simd_kernels.h"
#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {
namespace {

constexpr uint32_t kRound = 1u << (2 * kWeightBits - 1);

// Destination rows whose source rows are asked for ahead of their use. A
// frame at 1080p and above is not in cache; asking four rows (16 source rows)
// ahead, into the second-level cache, keeps the column loads from waiting.
constexpr int kPrefetchRows = 4;

// Asks for the cache lines of row[begin, end) ahead of their use, into the
// second-level cache (locality 1).
void prefetchSpan(const uint8_t* row, size_t begin, size_t end) {
    constexpr size_t kLine = 64;
    for (size_t offset = begin; offset < end; offset += kLine) {
        __builtin_prefetch(row + offset, 0, 1);
    }
    __builtin_prefetch(row + end - 1, 0, 1);
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
// The plain form of every resize here; the row kernels compute the same sums.
template <int kChannels>
void resizeInterleavedPlain(const Interleaved& src, const Interleaved& dst, const AxisPlan& xs,
                            const AxisPlan& ys) {
    for (int y = 0; y < dst.height; ++y) {
        const uint8_t* top = src.data + src.stride * ys.first[y];
        const uint8_t* bottom = src.data + src.stride * ys.second[y];
        const uint32_t wy = ys.weight[y];
        uint8_t* out = dst.data + dst.stride * y;
        for (int x = 0; x < dst.width; ++x) {
            const int a = xs.first[x] * kChannels;
            const int b = xs.second[x] * kChannels;
            const uint32_t wx = xs.weight[x];
            for (int c = 0; c < kChannels; ++c) {
                const uint32_t upper = top[a + c] * (kWeightOne - wx) + top[b + c] * wx;
                const uint32_t lower = bottom[a + c] * (kWeightOne - wx) + bottom[b + c] * wx;
                const uint32_t value = upper * (kWeightOne - wy) + lower * wy;
                out[x * kChannels + c] =
                    static_cast<uint8_t>((value + kRound) >> (2 * kWeightBits));
            }
        }
    }
}

void resizeInterleaved(Workspace& workspace, const Interleaved& src, const Interleaved& dst,
                       int channels) {
    const AxisPlan& xs = workspace.plan(src.width, dst.width);
    const AxisPlan& ys = workspace.plan(src.height, dst.height);
    if (channels == 1 && !xs.pair.empty()) {
        uint16_t* stage = workspace.halves(2 * static_cast<size_t>(dst.width));
        for (int y = 0; y < dst.height; ++y) {
            const RowPair rows{src.data + src.stride * ys.first[y],
                               src.data + src.stride * ys.second[y], ys.weight[y]};
            resampleGrayRow(rows, xs, stage, dst.data + dst.stride * y);
        }
        return;
    }
    switch (channels) {
        case 1:
            resizeInterleavedPlain<1>(src, dst, xs, ys);
            return;
        case 2:
            resizeInterleavedPlain<2>(src, dst, xs, ys);
            return;
        default:
            resizeInterleavedPlain<3>(src, dst, xs, ys);
            return;
    }
}

// A frame one or two pixels wide has a single chroma column, so no pairs of
// neighbours to read: its planes are scaled whole with the plain resampler,
// then converted.
int resizeNarrowNv21ToRgb(Workspace& workspace, const ImageView& src, const ImageView& dst) {
    const size_t pixels = static_cast<size_t>(dst.width) * dst.height;
    uint8_t* luma = workspace.bytes(pixels * 5);
    uint8_t* vu = luma + pixels;
    uint8_t* v = vu + 2 * pixels;
    uint8_t* u = v + pixels;
    const size_t width = static_cast<size_t>(dst.width);
    resizeInterleavedPlain<1>(
        {src.plane0, src.stride, src.width, src.height}, {luma, width, dst.width, dst.height},
        workspace.plan(src.width, dst.width), workspace.plan(src.height, dst.height));
    resizeInterleavedPlain<2>({src.plane1, src.stride, src.chromaWidth, src.chromaHeight},
                              {vu, 2 * width, dst.width, dst.height},
                              workspace.plan(src.chromaWidth, dst.width),
                              workspace.plan(src.chromaHeight, dst.height));
    // NV21 pairs are V first, then U.
    libyuv::SplitUVPlane(vu, dst.width * 2, v, dst.width, u, dst.width, dst.width, dst.height);
    return libyuv::I444ToRAW(luma, dst.width, u, dst.width, v, dst.width, dst.plane0,
                             static_cast<int>(dst.stride), dst.width, dst.height) == 0
               ? kTavkitOk
               : kTavkitErrInternal;
}

// 8-bit planes are resized here rather than with libyuv's bilinear scaler: that
// scaler rounds differently on each architecture (7-bit column weights on x86,
// 16-bit on ARM, in its plain C code as well), so the same frame would give a
// slightly different image on x86-64 and arm64. This integer resize gives the
// same bytes on every host. libyuv's pair scaler is not used for the V/U pairs
// either: it rounds down and shifts chroma by about one level, which tints the
// result.
//
// NV21 frame to RGB: each destination row is made from the Y plane and the V/U
// pairs scaled to the destination width (chroma to full destination
// resolution, so that it is interpolated, not repeated over 2x2 blocks), then
// only that row is converted. Only the destination's pixels are ever computed,
// whatever the frame size. libyuv's "RAW" layout is R,G,B in memory.
int resizeNv21ToRgb(Workspace& workspace, const ImageView& src, const ImageView& dst) {
    const int stride = static_cast<int>(src.stride);
    const int dstStride = static_cast<int>(dst.stride);
    if (src.width == dst.width && src.height == dst.height) {
        return libyuv::NV21ToRAW(src.plane0, stride, src.plane1, stride, dst.plane0, dstStride,
                                 dst.width, dst.height) == 0
                   ? kTavkitOk
                   : kTavkitErrInternal;
    }
    const AxisPlan& lumaX = workspace.plan(src.width, dst.width);
    const AxisPlan& chromaX = workspace.plan(src.chromaWidth, dst.width);
    if (lumaX.pair.empty() || chromaX.pair.empty()) {
        return resizeNarrowNv21ToRgb(workspace, src, dst);
    }
    const AxisPlan& lumaY = workspace.plan(src.height, dst.height);
    const AxisPlan& chromaY = workspace.plan(src.chromaHeight, dst.height);
    const size_t width = static_cast<size_t>(dst.width);
    uint8_t* luma = workspace.bytes(3 * width);
    uint8_t* v = luma + width;
    uint8_t* u = v + width;
    uint32_t* stage = workspace.words(3 * width);
    // Both planes' first bytes per column, side by side, read with one load.
    int32_t* offsets = workspace.offsets(2 * width);
    for (size_t x = 0; x < width; ++x) {
        offsets[2 * x] = lumaX.pair[x];
        offsets[2 * x + 1] = 2 * chromaX.pair[x];
    }
    const Nv21Columns columns{offsets,
                              lumaX.nearWeight.data(),
                              lumaX.farWeight.data(),
                              chromaX.nearWeight.data(),
                              chromaX.farWeight.data(),
                              width};
    // The source rows of later destination rows are asked for while this one
    // is computed, so the column loads find them in cache.
    const size_t lumaBegin = static_cast<size_t>(lumaX.pair.front());
    const size_t lumaEnd = static_cast<size_t>(lumaX.pair[width - 1]) + 2;
    const size_t chromaBegin = 2 * static_cast<size_t>(chromaX.pair.front());
    const size_t chromaEnd = 2 * static_cast<size_t>(chromaX.pair[width - 1]) + 4;
    const auto prefetchRow = [&](int row) {
        prefetchSpan(src.plane0 + src.stride * lumaY.first[row], lumaBegin, lumaEnd);
        prefetchSpan(src.plane0 + src.stride * lumaY.second[row], lumaBegin, lumaEnd);
        prefetchSpan(src.plane1 + src.stride * chromaY.first[row], chromaBegin, chromaEnd);
        prefetchSpan(src.plane1 + src.stride * chromaY.second[row], chromaBegin, chromaEnd);
    };
    for (int y = 0; y < std::min(kPrefetchRows, dst.height); ++y) {
        prefetchRow(y);
    }
    for (int y = 0; y < dst.height; ++y) {
        if (y + kPrefetchRows < dst.height) {
            prefetchRow(y + kPrefetchRows);
        }
        resampleNv21Row({src.plane0 + src.stride * lumaY.first[y],
                         src.plane0 + src.stride * lumaY.second[y], lumaY.weight[y]},
                        {src.plane1 + src.stride * chromaY.first[y],
                         src.plane1 + src.stride * chromaY.second[y], chromaY.weight[y]},
                        columns, stage, luma, v, u);
        if (libyuv::I444ToRAW(luma, 0, u, 0, v, 0, dst.row(y), 0, dst.width, 1) != 0) {
            return kTavkitErrInternal;
        }
    }
    return kTavkitOk;
}

}  // namespace

int runResizeBilinear(Context& context, const TavkitParams& params) {
    ImageView src;
    ImageView dst;
    const int status = describePair(params, &src, &dst);
    if (status != kTavkitOk) {
        return status;
    }
    if (src.type != kTavkitTypeU8 || dst.type != kTavkitTypeU8) {
        return kTavkitErrUnsupported;
    }
    Workspace& workspace = context.workspace;
    if (src.format == kTavkitFormatYuvSemiPlanar && dst.format == kTavkitFormatRgb) {
        return resizeNv21ToRgb(workspace, src, dst);
    }
    if (src.format != dst.format) {
        return kTavkitErrUnsupported;
    }
    switch (src.format) {
        case kTavkitFormatRgb:
            resizeInterleaved(workspace, {src.plane0, src.stride, src.width, src.height},
                              {dst.plane0, dst.stride, dst.width, dst.height}, 3);
            return kTavkitOk;
        case kTavkitFormatGray:
            resizeInterleaved(workspace, {src.plane0, src.stride, src.width, src.height},
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
