// Operator 47: mirror.
#include <libyuv/planar_functions.h>

#include <cstring>

#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {
namespace {

constexpr uint32_t kFlipTopBottom = 0;
constexpr uint32_t kFlipLeftRight = 1;
constexpr uint32_t kFlipBoth = 2;

void flipGeneric(const ImageView& src, const ImageView& dst, bool leftRight, bool topBottom) {
    const size_t bytes = static_cast<size_t>(src.pixelBytes);
    for (int r = 0; r < dst.height; ++r) {
        const uint8_t* in = src.row(topBottom ? src.height - 1 - r : r);
        uint8_t* out = dst.row(r);
        if (!leftRight) {
            std::memcpy(out, in, dst.rowBytes);
            continue;
        }
        for (int c = 0; c < dst.width; ++c) {
            std::memcpy(out + c * bytes, in + (src.width - 1 - c) * bytes, bytes);
        }
    }
}

}  // namespace

int runFlip(Context& /*context*/, const TavkitParams& params) {
    ImageView src;
    ImageView dst;
    const int status = describeGeometryPair(params, &src, &dst);
    if (status != kTavkitOk) {
        return status;
    }
    if (const int sized = requireSameSize(src, dst); sized != kTavkitOk) {
        return sized;
    }
    const uint32_t code = params.code;
    if (code != kFlipTopBottom && code != kFlipLeftRight && code != kFlipBoth) {
        return kTavkitErrBadParameter;
    }
    const int srcStride = static_cast<int>(src.stride);
    const int dstStride = static_cast<int>(dst.stride);
    if (code == kFlipLeftRight && src.pixelBytes == 1) {
        libyuv::MirrorPlane(src.plane0, srcStride, dst.plane0, dstStride, src.width, src.height);
        return kTavkitOk;
    }
    if (code == kFlipLeftRight && src.pixelBytes == 3) {
        return libyuv::RGB24Mirror(src.plane0, srcStride, dst.plane0, dstStride, src.width,
                                   src.height) == 0
                   ? kTavkitOk
                   : kTavkitErrInternal;
    }
    flipGeneric(src, dst, code != kFlipTopBottom, code != kFlipLeftRight);
    return kTavkitOk;
}

}  // namespace tavkit
