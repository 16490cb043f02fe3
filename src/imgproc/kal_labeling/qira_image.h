// qiraImage: the image container of the labelling routines.
#ifndef KAL_QIRA_IMAGE_H
#define KAL_QIRA_IMAGE_H

#include <cstdint>

// Status codes of the labelling library.
constexpr int32_t kQiraOk = 0;
constexpr int32_t kQiraInvalidArgument = 3;
constexpr int32_t kQiraUnsupported = 4;
constexpr int32_t kQiraOutOfMemory = 5;

// Formats used here (the image-operator codes): 1 channel of 8 or 16 bits, RGB.
constexpr uint32_t kQiraFormatGray8 = 9;
constexpr uint32_t kQiraFormatGray16 = 24;
constexpr uint32_t kQiraFormatRgb = 2;

struct qiraImage {
    uint32_t format;
    int32_t width;
    int32_t height;
    void* data[3];      // one-plane formats use only data[0]
    int32_t stride[3];  // bytes per row; one-plane formats use only stride[0]
};

// A record of the given size and format with a new buffer in data[0] (null
// when the buffer could not be had); every other field zero.
qiraImage qiraImageCreate(int32_t width, int32_t height, uint32_t format);
// Frees the buffer and clears the pointer: kQiraInvalidArgument when the record
// or its buffer is null, else kQiraOk.
int32_t qiraImageRelease(qiraImage* image);

#endif  // KAL_QIRA_IMAGE_H
