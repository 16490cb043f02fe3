// Operator 21: RGB to one channel.
#include "simd_kernels.h"
#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {

// BT.601 luma weights 0.299, 0.587, 0.114 in 15-bit fixed point (9798, 19235,
// 3735; they sum to 2^15), rounded to nearest: see rgbToGrayRow.
int runColorToGray(Context& /*context*/, const TavkitParams& params) {
    ImageView src;
    ImageView dst;
    const int status = describePair(params, &src, &dst);
    if (status != kTavkitOk) {
        return status;
    }
    if (src.format != kTavkitFormatRgb || dst.format != kTavkitFormatGray ||
        src.type != kTavkitTypeU8 || dst.type != kTavkitTypeU8) {
        return kTavkitErrUnsupported;
    }
    if (const int sized = requireSameSize(src, dst); sized != kTavkitOk) {
        return sized;
    }
    for (int y = 0; y < src.height; ++y) {
        rgbToGrayRow(src.row(y), static_cast<size_t>(src.width), dst.row(y));
    }
    return kTavkitOk;
}

}  // namespace tavkit
