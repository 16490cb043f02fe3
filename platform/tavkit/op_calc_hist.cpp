// Operator 2: joint colour histogram.
#include <cstring>

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

}  // namespace

int runCalcHist(const TavkitParams& params) {
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

    // Level of each 8-bit value per channel, pre-multiplied by its place in the index.
    uint32_t place[3][256];
    const uint32_t weight[3] = {bins[1] * bins[2], bins[2], 1};
    for (uint32_t c = 0; c < channels; ++c) {
        const uint32_t w = channels == 1 ? 1 : weight[c];
        for (uint32_t v = 0; v < 256; ++v) {
            place[c][v] = ((v * bins[c]) >> 8) * w;
        }
    }
    std::memset(counters, 0, total * sizeof(int32_t));
    for (int y = 0; y < src.height; ++y) {
        const uint8_t* in = src.row(y);
        if (rgb) {
            for (int x = 0; x < src.width; ++x) {
                const uint8_t* p = in + x * 3;
                ++counters[place[0][p[0]] + place[1][p[1]] + place[2][p[2]]];
            }
        } else {
            for (int x = 0; x < src.width; ++x) {
                ++counters[place[0][in[x]]];
            }
        }
    }
    return kTavkitOk;
}

}  // namespace tavkit
