#include "tavkit_image.h"

#include "tavkit_status.h"

namespace tavkit {
namespace {

// Strides above this are certainly a corrupted field (the widest accepted row
// is kMaxSide 32-bit RGB pixels, 196608 bytes); they also keep libyuv's int strides safe.
constexpr size_t kMaxStride = size_t{1} << 20;

int elementBytesOf(uint32_t format, uint32_t type) {
    if (format == kTavkitFormatYuvSemiPlanar) {
        return type == kTavkitTypeU8 ? 1 : 0;
    }
    if (format == kTavkitFormatGray16) {
        return type == kTavkitTypeU8 ? 2 : 0;
    }
    switch (type) {
        case kTavkitTypeU8:
            return 1;
        case kTavkitTypeS32:
        case kTavkitTypeF32:
            return 4;
        default:
            return 0;
    }
}

int channelsOf(uint32_t format) {
    switch (format) {
        case kTavkitFormatRgb:
            return 3;
        case kTavkitFormatGray:
        case kTavkitFormatYuvSemiPlanar:
        case kTavkitFormatGray16:
            return 1;
        default:
            return 0;
    }
}

struct ByteRange {
    uintptr_t begin;
    uintptr_t end;  // exclusive
};

ByteRange planeRange(const uint8_t* plane, size_t stride, int rows, size_t rowBytes) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(plane);
    return {begin, begin + stride * static_cast<size_t>(rows - 1) + rowBytes};
}

bool rangesOverlap(ByteRange a, ByteRange b) {
    return a.begin < b.end && b.begin < a.end;
}

int rangesOf(const ImageView& image, ByteRange ranges[2]) {
    ranges[0] = planeRange(image.plane0, image.stride, image.height, image.rowBytes);
    if (image.plane1 == nullptr) {
        return 1;
    }
    ranges[1] = planeRange(image.plane1, image.stride, image.chromaHeight,
                           static_cast<size_t>(image.chromaWidth) * 2);
    return 2;
}

}  // namespace

int describeImage(const TavkitImageDesc& desc, ImageView* view) {
    const int channels = channelsOf(desc.format);
    const int elementBytes = elementBytesOf(desc.format, desc.elementType);
    if (channels == 0 || elementBytes == 0) {
        return kTavkitErrUnsupported;
    }
    const int32_t width = static_cast<int32_t>(desc.width);
    const int32_t height = static_cast<int32_t>(desc.height);
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        int64_t{width} * height > kMaxPixels) {
        return kTavkitErrBadSize;
    }
    const bool semiPlanar = desc.format == kTavkitFormatYuvSemiPlanar;
    if (desc.plane0 == nullptr || (semiPlanar && desc.plane1 == nullptr)) {
        return kTavkitErrNullPlane;
    }

    ImageView v;
    v.format = desc.format;
    v.type = desc.elementType;
    v.width = width;
    v.height = height;
    v.channels = channels;
    v.elementBytes = elementBytes;
    v.pixelBytes = channels * elementBytes;
    v.rowBytes = static_cast<size_t>(width) * v.pixelBytes;
    v.plane0 = static_cast<uint8_t*>(desc.plane0);
    size_t minStride = v.rowBytes;
    if (semiPlanar) {
        v.plane1 = static_cast<uint8_t*>(desc.plane1);
        v.chromaWidth = (width + 1) / 2;
        v.chromaHeight = (height + 1) / 2;
        minStride = static_cast<size_t>(v.chromaWidth) * 2;
        const int32_t planeHeight = static_cast<int32_t>(desc.planeHeight);
        if (planeHeight != 0 && planeHeight < height) {
            return kTavkitErrBadSize;
        }
    }
    v.stride = desc.stride == 0 ? minStride : desc.stride;
    if (v.stride < minStride || v.stride > kMaxStride || v.stride % elementBytes != 0) {
        return kTavkitErrBadStride;
    }
    if (reinterpret_cast<uintptr_t>(v.plane0) % elementBytes != 0) {
        return kTavkitErrBadStride;
    }
    *view = v;
    return kTavkitOk;
}

bool imagesOverlap(const ImageView& a, const ImageView& b) {
    ByteRange ra[2];
    ByteRange rb[2];
    const int na = rangesOf(a, ra);
    const int nb = rangesOf(b, rb);
    for (int i = 0; i < na; ++i) {
        for (int j = 0; j < nb; ++j) {
            if (rangesOverlap(ra[i], rb[j])) {
                return true;
            }
        }
    }
    return false;
}

bool imageOverlapsRange(const ImageView& image, const uint8_t* begin, size_t bytes) {
    ByteRange ranges[2];
    const int n = rangesOf(image, ranges);
    const uintptr_t b = reinterpret_cast<uintptr_t>(begin);
    for (int i = 0; i < n; ++i) {
        if (rangesOverlap(ranges[i], {b, b + bytes})) {
            return true;
        }
    }
    return false;
}

int describePair(const TavkitParams& params, ImageView* src, ImageView* dst) {
    int status = describeImage(params.src, src);
    if (status != kTavkitOk) {
        return status;
    }
    status = describeImage(params.dst, dst);
    if (status != kTavkitOk) {
        return status;
    }
    return imagesOverlap(*src, *dst) ? kTavkitErrOverlap : kTavkitOk;
}

int describeGeometryPair(const TavkitParams& params, ImageView* src, ImageView* dst) {
    const int status = describePair(params, src, dst);
    if (status != kTavkitOk) {
        return status;
    }
    if (src->format == kTavkitFormatYuvSemiPlanar || dst->format != src->format ||
        dst->type != src->type) {
        return kTavkitErrUnsupported;
    }
    return kTavkitOk;
}

int requireSameSize(const ImageView& src, const ImageView& dst) {
    return dst.width == src.width && dst.height == src.height ? kTavkitOk : kTavkitErrBadSize;
}

}  // namespace tavkit
