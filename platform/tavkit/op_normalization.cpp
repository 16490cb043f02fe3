// Operator 14: u8 to f32 normalisation.
#include <cmath>
#include <cstring>

#include "simd_kernels.h"
#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {

int runNormalization(Context& /*context*/, const TavkitParams& params) {
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
    // The quotient is rounded once, as IEEE division does on every host.
    const size_t samples = static_cast<size_t>(src.width) * src.channels;
    for (int y = 0; y < src.height; ++y) {
        normalizeRow(src.row(y), samples, offset, divisor, reinterpret_cast<float*>(dst.row(y)));
    }
    return kTavkitOk;
}

}  // namespace tavkit
