// Operator 2: joint colour histogram.
#include <cstring>

#include "simd_kernels.h"
#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {
namespace {

// Upper bound of levels per channel: one level per 8-bit value.
constexpr uint32_t kMaxBinsPerChannel = 256;
// Upper bound of counters together (16 levels on each of three channels); the
// destination is caller memory of unknown size, so keep what we write modest.
constexpr uint32_t kMaxCounters = 4096;
// Interleaved sets of counters (see below).
constexpr size_t kCounterSets = 8;

}  // namespace

int runCalcHist(Context& context, const TavkitParams& params) {
    ImageView src;
    int status = describeImage(params.src, &src);
    if (status != kTavkitOk) {
        return status;
    }
    const bool rgb = src.format == kTavkitFormatRgb;
    if ((!rgb && src.format != kTavkitFormatGray) || src.type != kTavkitTypeU8) {
        return kTavkitErrUnsupported;
    }
    // The destination is a flat array of counters: only its type and plane count.
    if (params.dst.elementType != kTavkitTypeS32) {
        return kTavkitErrUnsupported;
    }
    int32_t* counters = static_cast<int32_t*>(params.dst.plane0);
    if (counters == nullptr) {
        return kTavkitErrNullPlane;
    }
    if (reinterpret_cast<uintptr_t>(counters) % alignof(int32_t) != 0) {
        return kTavkitErrBadStride;
    }
    const uint32_t channels = params.histChannels;
    if (channels != static_cast<uint32_t>(src.channels)) {
        return kTavkitErrBadParameter;
    }
    uint32_t bins[3] = {1, 1, 1};
    uint32_t total = 1;
    for (uint32_t c = 0; c < channels; ++c) {
        bins[c] = params.histBins[c];
        if (bins[c] == 0 || bins[c] > kMaxBinsPerChannel) {
            return kTavkitErrBadParameter;
        }
        total *= bins[c];
    }
    if (total > kMaxCounters) {
        return kTavkitErrBadParameter;
    }
    if (imageOverlapsRange(src, reinterpret_cast<const uint8_t*>(counters),
                           total * sizeof(int32_t))) {
        return kTavkitErrOverlap;
    }

    // Each row's indices are computed in vectors, then counted into
    // kCounterSets interleaved sets of counters, so that runs of equal indices
    // do not wait on each other's increments; the sets are summed at the end.
    const uint16_t binsOf[3] = {static_cast<uint16_t>(bins[0]), static_cast<uint16_t>(bins[1]),
                                static_cast<uint16_t>(bins[2])};
    const uint16_t place[3] = {static_cast<uint16_t>(channels == 1 ? 1 : bins[1] * bins[2]),
                               static_cast<uint16_t>(bins[2]), 1};
    const size_t width = static_cast<size_t>(src.width);
    Workspace& workspace = context.workspace;
    uint16_t* index = workspace.halves(width);
    uint32_t* sets = workspace.words(kCounterSets * total);
    std::memset(sets, 0, kCounterSets * total * sizeof(uint32_t));
    for (int y = 0; y < src.height; ++y) {
        histogramIndexRow(src.row(y), width, static_cast<int>(channels), binsOf, place, index);
        size_t x = 0;
        for (; x + kCounterSets <= width; x += kCounterSets) {
            for (size_t k = 0; k < kCounterSets; ++k) {
                ++sets[k * total + index[x + k]];
            }
        }
        for (; x < width; ++x) {
            ++sets[index[x]];
        }
    }
    for (uint32_t i = 0; i < total; ++i) {
        uint32_t sum = 0;
        for (size_t k = 0; k < kCounterSets; ++k) {
            sum += sets[k * total + i];
        }
        counters[i] = static_cast<int32_t>(sum);
    }
    return kTavkitOk;
}

}  // namespace tavkit
