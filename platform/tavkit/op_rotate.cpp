// Operator 53: clockwise rotation by 90, 180 or 270 degrees.
#include <libyuv/rotate.h>

#include <cstring>

#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {
namespace {

// Clockwise rotation by any multiple of 90 degrees for any pixel size.
// Destination (row r, column c) reads the source pixel given per angle below.
void rotateGeneric(const ImageView& src, const ImageView& dst, uint32_t code) {
    const size_t bytes = static_cast<size_t>(src.pixelBytes);
    for (int r = 0; r < dst.height; ++r) {
        uint8_t* out = dst.row(r);
        for (int c = 0; c < dst.width; ++c) {
            int sr = 0;
            int sc = 0;
            if (code == kTavkitRotate90) {  // the source's left column becomes the top row
                sr = src.height - 1 - c;
                sc = r;
            } else if (code == kTavkitRotate180) {
                sr = src.height - 1 - r;
                sc = src.width - 1 - c;
            } else {  // 270 clockwise: the source's right column becomes the top row
                sr = c;
                sc = src.width - 1 - r;
            }
            std::memcpy(out + c * bytes, src.row(sr) + sc * bytes, bytes);
        }
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

int runRotate(const TavkitParams& params) {
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
