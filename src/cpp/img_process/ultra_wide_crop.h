// The centre crop that takes the ultra-wide camera's zoomed-in frames back to
// the field of view the models were trained on.
#ifndef XEPO_ULTRA_WIDE_CROP_H
#define XEPO_ULTRA_WIDE_CROP_H

#include <cstdint>

namespace xepo {

// Camera type of the ultra-wide camera in AEParams::cameraType.
constexpr int32_t kUltraWideCameraType = 1;

// Where the 224 x 224 model square sits in the resized frame.
struct UltraWideCrop {
    bool applies;  // false: the frame is resized straight to 224 x 224
    int32_t size;  // side of the square the frame is resized to first
    int32_t off;   // first row and column of the cut; the cut is [off, off + 224)
};

// The crop applies for cameraType 1 with 0.5 <= scale < 1.0 (a NaN scale never
// crops): size = 224 / scale and off = (1 - scale) * size / 2, both computed in
// single precision and truncated toward zero.
UltraWideCrop computeUltraWideCrop(int32_t cameraType, float scale);

}  // namespace xepo

#endif  // XEPO_ULTRA_WIDE_CROP_H
