#include "imgproc/kal_labeling/qira_image.h"

#include <cstddef>
#include <limits>
#include <new>

#include "imgproc/kal_labeling/labeling_log.h"

namespace {

// Bytes of one pixel of a one-plane format; 0 for formats this library does
// not create.
int64_t bytesPerPixel(uint32_t format) {
    switch (format) {
        case kQiraFormatGray8:
            return 1;
        case kQiraFormatGray16:
            return 2;
        case kQiraFormatRgb:
            return 3;
        default:
            return 0;
    }
}

}  // namespace

qiraImage qiraImageCreate(int32_t width, int32_t height, uint32_t format) {
    qiraImage image{};
    image.format = format;
    image.width = width;
    image.height = height;
    const int64_t stride = bytesPerPixel(format) * static_cast<int64_t>(width);
    // Unknown formats, empty sizes and strides that do not fit the record get
    // no buffer; the caller sees the null pointer.
    if (stride <= 0 || height <= 0 || stride > std::numeric_limits<int32_t>::max()) {
        return image;
    }
    image.stride[0] = static_cast<int32_t>(stride);
    const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
    if (bytes > std::numeric_limits<size_t>::max()) {
        return image;
    }
    image.data[0] = new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]();
    return image;
}

int32_t qiraImageRelease(qiraImage* image) {
    if (image == nullptr || image->data[0] == nullptr) {
        KAL_LOG_STATUS(kQiraInvalidArgument);
        return kQiraInvalidArgument;
    }
    delete[] static_cast<uint8_t*>(image->data[0]);
    image->data[0] = nullptr;
    return kQiraOk;
}
