// Operator 14: u8 to f32 normalisation.
#include <cmath>
#include <cstring>

#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {

int runNormalization(const TavkitParams& params) {
    ImageView src;
    ImageView dst;
    const int status = describePair(params, &src, &dst);
    if (status != kTavkitOk) {
        return status;
    }
    const bool formatOk = src.format == kTavkitFormatRgb || src.format == kTavkitFormatGray;
    if (!formatOk || dst.format != src.format || src.type != kTavkitTypeU8 ||
        dst.type != kTavkitTypeF32) {
        return kTavkitErrUnsupported;
    }
    if (const int sized = requireSameSize(src, dst); sized != kTavkitOk) {
        return sized;
    }
    const float offset = params.normParam1;
    const float divisor = params.normParam2;
    if (params.normFlag != 0 || !std::isfinite(offset) || !std::isfinite(divisor) ||
        divisor == 0.0f) {
        return kTavkitErrBadParameter;
    }
    // 256 possible inputs: compute each result once, exactly as the formula reads.
    float table[256];
    for (int v = 0; v < 256; ++v) {
        table[v] = (static_cast<float>(v) - offset) / divisor;
    }
    const size_t samples = static_cast<size_t>(src.width) * src.channels;
    for (int y = 0; y < src.height; ++y) {
        const uint8_t* in = src.row(y);
        float* out = reinterpret_cast<float*>(dst.row(y));
        for (size_t i = 0; i < samples; ++i) {
            out[i] = table[in[i]];
        }
    }
    return kTavkitOk;
}

}  // namespace tavkit
