// Preprocessing on image operators: each operation fills operator parameter
// records, chains operators through temporaries and reports failures.
//
// Every operation takes the image-operator context handle first. Destination
// buffers belong to the caller; the composite preparations keep their
// temporaries per thread and reuse them, so that a frame allocates nothing.
#ifndef XEPO_IMG_PROCESS_H
#define XEPO_IMG_PROCESS_H

#include <cstdint>

// Status codes of the preprocessing operations: kStatusMissingInput,
// kStatusNoTavkit and kStatusOperatorFailed.
#include "xepo_status.h"

namespace xepo {

// Normalisation parameters used at every call site: out = (in - 127.5) / 127.5.
constexpr float kNormalizationMean = 127.5f;
constexpr float kNormalizationScale = 127.5f;

// Side of the models' square input: the frame and image preparations make
// 224 x 224 pictures, and the engine sizes its buffers by the same side.
constexpr int32_t kModelSide = 224;

// Single-operator operations: 0, or kStatusOperatorFailed after logging.
int32_t resizeBilinear(int64_t handle, const void* src, void* dst, int32_t srcWidth,
                       int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, uint32_t srcFormat,
                       uint32_t dstFormat, uint32_t srcType, uint32_t dstType);
int32_t yuvResizeBilinear(int64_t handle, const uint8_t* yPlane, const uint8_t* uvPlane, void* dst,
                          int32_t width, int32_t height, int32_t stride, int32_t planeHeight,
                          int32_t dstWidth, int32_t dstHeight, uint32_t srcFormat, uint32_t srcType,
                          uint32_t dstFormat, uint32_t dstType);
int32_t normalization(int64_t handle, const void* src, void* dst, int32_t width, int32_t height,
                      int32_t channels, uint32_t format, uint32_t srcType, uint32_t dstType,
                      float p1, float p2);
int32_t rectCut(int64_t handle, const void* src, void* dst, int32_t srcWidth, int32_t srcHeight,
                int32_t dstWidth, int32_t dstHeight, uint32_t format, uint32_t type, int32_t b0,
                int32_t b1, int32_t b2, int32_t b3);
int32_t flip(int64_t handle, const void* src, void* dst, int32_t width, int32_t height,
             uint32_t format, uint32_t type, uint32_t code);
int32_t RGBtoGray(int64_t handle, const uint8_t* src, int32_t width, int32_t height, uint8_t* dst);
int32_t calcHist(int64_t handle, int32_t width, int32_t height, const uint8_t* src, int32_t* hist);
int32_t guassianFilter(int64_t handle, const void* src, void* dst, int32_t width, int32_t height,
                       uint32_t format, uint32_t type, uint32_t kernel);

// Rotates clockwise by angle modulo 360 (taken as unsigned): 90, 180 and 270
// run the rotate operator, any other angle copies width x height x channels bytes.
int32_t rotate(int64_t handle, const void* src, void* dst, uint32_t angle, int32_t width,
               int32_t height, int32_t channels, uint32_t format, uint32_t type);

// Frame to the normalised 224 x 224 x 3 float model input (out: 602112 bytes),
// with the ultra-wide centre crop, rotation and flip.
//
// orientedRgb, when given, is this frame already made into 224 x 224 RGB by
// yuvtoRGB with the same rotation and flip: without an ultra-wide crop that is
// exactly the picture the steps before normalisation would make, so only the
// normalisation runs (same checks first, same log lines). With the crop it is
// not read.
int32_t yuvtoBuffer(int64_t handle, const uint8_t* yPlane, const uint8_t* uvPlane, int32_t width,
                    int32_t height, int32_t stride, int32_t planeHeight, int32_t rotation,
                    int32_t reserved0, bool flip, int32_t yuv_format, float* out,
                    int32_t cameraType, float scale, const uint8_t* orientedRgb = nullptr);

// Frame to 8-bit RGB (out: dstWidth x dstHeight x 3; callers pass 224 x 224).
int32_t yuvtoRGB(int64_t handle, const uint8_t* yPlane, const uint8_t* uvPlane, int32_t width,
                 int32_t height, int32_t stride, int32_t planeHeight, int32_t dstWidth,
                 int32_t dstHeight, int32_t rotation, bool flip, int32_t yuv_format, uint8_t* out);

// Image file to the normalised float model input; p1 and p2 are not read
// (127.5 is always used).
int32_t imagePathtoBuffer(int64_t handle, const char* path, int32_t dstWidth, int32_t dstHeight,
                          int32_t channels, float* out, float p1, float p2);

}  // namespace xepo

#endif  // XEPO_IMG_PROCESS_H
