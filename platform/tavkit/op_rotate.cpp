// Operator 53: clockwise rotation by 90, 180 or 270 degrees.
#include <libyuv/rotate.h>

#include <cstddef>
#include <cstring>

#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {
namespace {

// Clockwise rotation by any multiple of 90 degrees for pixels of kBytes
// bytes. Destination (row r, column c) reads the source pixel given per angle
// below; each destination row walks one source column or row.
template <size_t kBytes>
void rotatePixels(const ImageView& src, const ImageView& dst, uint32_t code) {
    const ptrdiff_t srcStride = static_cast<ptrdiff_t>(src.stride);
    for (int r = 0; r < dst.height; ++r) {
        uint8_t* out = dst.row(r);
        if (code == kTavkitRotate90) {
            // The source's left column becomes the top row: (r, c) <- (height - 1 - c, r).
            const uint8_t* in = src.row(src.height - 1) + r * kBytes;
            for (int c = 0; c < dst.width; ++c, in -= srcStride) {
                std::memcpy(out + c * kBytes, in, kBytes);
            }
        } else if (code == kTavkitRotate180) {
            // (r, c) <- (height - 1 - r, width - 1 - c).
            const uint8_t* in = src.row(src.height - 1 - r) + (src.width - 1) * kBytes;
            for (int c = 0; c < dst.width; ++c, in -= kBytes) {
                std::memcpy(out + c * kBytes, in, kBytes);
            }
        } else {
            // 270 clockwise: the source's right column becomes the top row:
            // (r, c) <- (c, width - 1 - r).
            const uint8_t* in = src.plane0 + (src.width - 1 - r) * kBytes;
            for (int c = 0; c < dst.width; ++c, in += srcStride) {
                std::memcpy(out + c * kBytes, in, kBytes);
            }
        }
    }
}

// The same for a pixel size without its own loop.
void rotateAnySize(const ImageView& src, const ImageView& dst, uint32_t code) {
    const size_t bytes = static_cast<size_t>(src.pixelBytes);
    for (int r = 0; r < dst.height; ++r) {
        uint8_t* out = dst.row(r);
        for (int c = 0; c < dst.width; ++c) {
            int sr = 0;
            int sc = 0;
            if (code == kTavkitRotate90) {
                sr = src.height - 1 - c;
                sc = r;
            } else if (code == kTavkitRotate180) {
                sr = src.height - 1 - r;
                sc = src.width - 1 - c;
            } else {
                sr = c;
                sc = src.width - 1 - r;
            }
            std::memcpy(out + c * bytes, src.row(sr) + sc * bytes, bytes);
        }
    }
}

void rotateGeneric(const ImageView& src, const ImageView& dst, uint32_t code) {
    switch (src.pixelBytes) {
        case 2:
            rotatePixels<2>(src, dst, code);
            return;
        case 3:
            rotatePixels<3>(src, dst, code);
            return;
        case 4:
            rotatePixels<4>(src, dst, code);
            return;
        case 12:
            rotatePixels<12>(src, dst, code);
            return;
        default:
            rotateAnySize(src, dst, code);
            return;
    }
}

libyuv::RotationMode libyuvMode(uint32_t code) {
    switch (code) {
        case kTavkitRotate90:
            return libyuv::kRotate90;
        case kTavkitRotate180:
            return libyuv::kRotate180;
        default:
            return libyuv::kRotate270;
    }
}

}  // namespace

int runRotate(Context& /*context*/, const TavkitParams& params) {
    ImageView src;
    ImageView dst;
    const int status = describeGeometryPair(params, &src, &dst);
    if (status != kTavkitOk) {
        return status;
    }
    const uint32_t code = params.code;
    if (code != kTavkitRotate90 && code != kTavkitRotate180 && code != kTavkitRotate270) {
        return kTavkitErrBadParameter;
    }
    const bool quarterTurn = code != kTavkitRotate180;
    const int wantWidth = quarterTurn ? src.height : src.width;
    const int wantHeight = quarterTurn ? src.width : src.height;
    if (dst.width != wantWidth || dst.height != wantHeight) {
        return kTavkitErrBadSize;
    }
    if (src.pixelBytes == 1) {
        // libyuv's modes are clockwise too.
        return libyuv::RotatePlane(src.plane0, static_cast<int>(src.stride), dst.plane0,
                                   static_cast<int>(dst.stride), src.width, src.height,
                                   libyuvMode(code)) == 0
                   ? kTavkitOk
                   : kTavkitErrInternal;
    }
    rotateGeneric(src, dst, code);
    return kTavkitOk;
}

}  // namespace tavkit
