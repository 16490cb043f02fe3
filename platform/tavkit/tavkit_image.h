// A checked view of one image descriptor of the parameter record.
//
// Every operator turns its descriptors into ImageViews first; after that the
// sizes, strides and planes are known to be sane and the operator only checks
// the combination it supports.
#ifndef TAVKIT_IMAGE_H
#define TAVKIT_IMAGE_H

#include <cstddef>
#include <cstdint>

#include "tavkit_api.h"

namespace tavkit {

// Largest accepted width or height: far beyond any camera frame, small enough
// that no size computation overflows and no caller can make us touch gigabytes.
constexpr int kMaxSide = 16384;
// Largest accepted pixel count (a 64 MP frame), for the same reason.
constexpr int64_t kMaxPixels = int64_t{1} << 26;

struct ImageView {
    uint32_t format = 0;
    uint32_t type = 0;
    int width = 0;
    int height = 0;
    int channels = 0;      // 3 for RGB, 1 otherwise (format 17: the Y plane)
    int elementBytes = 0;  // bytes of one channel sample
    int pixelBytes = 0;    // channels * elementBytes
    size_t rowBytes = 0;   // bytes of one row of plane 0 that belong to the image
    size_t stride = 0;     // bytes from one row to the next (both planes of format 17)
    uint8_t* plane0 = nullptr;
    uint8_t* plane1 = nullptr;  // format 17 only: interleaved V/U at half resolution
    int chromaWidth = 0;        // format 17 only: V/U pairs per chroma row
    int chromaHeight = 0;       // format 17 only: chroma rows

    uint8_t* row(int y) const { return plane0 + static_cast<size_t>(y) * stride; }
};

// Checks a descriptor and fills the view. Returns 0 or a TavkitStatus.
//  - format 2 (RGB, 3 channels), 9 (1 channel) with element type 1, 6 or 8;
//  - format 17 (NV21) and format 24 (1 channel of unsigned 16 bits) with type 1 only;
//  - width and height, read as signed, in 1..kMaxSide and at most kMaxPixels together;
//  - stride 0 means packed rows; otherwise at least one row (format 17: the
//    chroma row, which is the width rounded up to even) and a multiple of the
//    element size; plane 0 aligned to the element size;
//  - format 17 needs plane 1 (the V/U plane) and a plane height of 0 or >= height.
int describeImage(const TavkitImageDesc& desc, ImageView* view);

// True when any byte the two images may touch is shared.
bool imagesOverlap(const ImageView& a, const ImageView& b);

// True when the image touches any byte of [begin, begin + bytes).
bool imageOverlapsRange(const ImageView& image, const uint8_t* begin, size_t bytes);

// Describes src and dst of a record and rejects overlapping memory.
int describePair(const TavkitParams& params, ImageView* src, ImageView* dst);

// describePair for the geometric operators (flip, rotate, crop): both images
// in the same planar format and element type; the camera frame is refused.
int describeGeometryPair(const TavkitParams& params, ImageView* src, ImageView* dst);

// kTavkitOk when both images have the same size, else kTavkitErrBadSize.
int requireSameSize(const ImageView& src, const ImageView& dst);

}  // namespace tavkit

#endif  // TAVKIT_IMAGE_H
