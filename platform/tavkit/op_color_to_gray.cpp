// Operator 21: RGB to one channel.
#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {
namespace {

// BT.601 luma weights 0.299, 0.587, 0.114 in 15-bit fixed point; they sum to 2^15.
constexpr uint32_t kRedWeight = 9798;
constexpr uint32_t kGreenWeight = 19235;
constexpr uint32_t kBlueWeight = 3735;
constexpr int kWeightBits = 15;
constexpr uint32_t kRound = 1u << (kWeightBits - 1);

}  // namespace

int runColorToGray(const TavkitParams& params) {
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
        const uint8_t* in = src.row(y);
        uint8_t* out = dst.row(y);
        for (int x = 0; x < src.width; ++x) {
            const uint8_t* p = in + x * 3;
            out[x] = static_cast<uint8_t>(
                (p[0] * kRedWeight + p[1] * kGreenWeight + p[2] * kBlueWeight + kRound) >>
                kWeightBits);
        }
    }
    return kTavkitOk;
}

}  // namespace tavkit
