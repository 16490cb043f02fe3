// Operator 50: rectangular crop.
#include <cstring>

#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {

int runRectCut(Context& /*context*/, const TavkitParams& params) {
    ImageView src;
    ImageView dst;
    const int status = describeGeometryPair(params, &src, &dst);
    if (status != kTavkitOk) {
        return status;
    }
    const int x0 = params.cropBounds[0];
    const int x1 = params.cropBounds[1];
    const int y0 = params.cropBounds[2];
    const int y1 = params.cropBounds[3];
    if (x0 < 0 || x0 >= x1 || x1 > src.width || y0 < 0 || y0 >= y1 || y1 > src.height) {
        return kTavkitErrBadParameter;
    }
    if (dst.width != x1 - x0 || dst.height != y1 - y0) {
        return kTavkitErrBadSize;
    }
    const size_t offset = static_cast<size_t>(x0) * src.pixelBytes;
    for (int y = 0; y < dst.height; ++y) {
        std::memcpy(dst.row(y), src.row(y0 + y) + offset, dst.rowBytes);
    }
    return kTavkitOk;
}

}  // namespace tavkit
