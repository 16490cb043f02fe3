// The composite preparations: a camera frame to the normalised model input or
// to 8-bit RGB, and an image file to the normalised model input. Each chains
// single operators through temporaries that are released on every path.
#include <stb_image.h>

#include <cstring>
#include <memory>

#include "cpp/img_process/img_process.h"
#include "cpp/img_process/ultra_wide_crop.h"
#include "tavkit_api.h"
#include "xepo_log.h"

namespace xepo {
namespace {

// The models see 224 x 224 RGB.
constexpr int32_t kModelSide = 224;
constexpr int32_t kRgbChannels = 3;
constexpr size_t kModelRgbBytes = static_cast<size_t>(kModelSide) * kModelSide * kRgbChannels;

// Zoom ratios of the ultra-wide camera that are cropped back: below 0.5 the
// resized square would exceed twice the model side, at 1.0 nothing is zoomed.
constexpr float kUltraWideMinScale = 0.5f;
constexpr float kUltraWideMaxScale = 1.0f;
// When truncation leaves fewer than 224 columns after the offset, the cut is
// moved back so that it ends one column before the edge.
constexpr int32_t kCropEdgeMargin = kModelSide + 1;

// Mirror code of the flip operator.
constexpr uint32_t kFlipMirror = 1;

// yuvtoRGB rotates and flips a 224 x 224 image taken from its first stage, so
// the first stage must hold at least that; a larger side than this is a
// caller error, not a camera size.
constexpr int32_t kMaxRgbSide = 4096;

// Image files: a declared size beyond these is a corrupt or hostile header
// rather than a photo (the largest phone sensors stay below 2^27 pixels), so it
// is refused before anything is decoded.
constexpr int kMaxImageSide = 1 << 15;
constexpr long long kMaxImagePixels = 1LL << 27;

using Buffer = std::unique_ptr<uint8_t[]>;

// Temporaries are zero-filled so that a failing operator never leaves
// indeterminate bytes behind.
Buffer allocateBuffer(size_t bytes) {
    return std::make_unique<uint8_t[]>(bytes);
}

struct StbImageFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};
using DecodedImage = std::unique_ptr<stbi_uc, StbImageFree>;

}  // namespace

UltraWideCrop computeUltraWideCrop(int32_t cameraType, float scale) {
    UltraWideCrop crop{false, kModelSide, 0};
    // Written so that a NaN scale fails the test and takes no crop.
    const bool applies = scale < kUltraWideMaxScale && scale >= kUltraWideMinScale &&
                         cameraType == kUltraWideCameraType;
    if (!applies) {
        return crop;
    }
    crop.applies = true;
    crop.size = static_cast<int32_t>(static_cast<float>(kModelSide) / scale);
    crop.off = static_cast<int32_t>((1.0f - scale) * static_cast<float>(crop.size) * 0.5f);
    if (crop.size - crop.off < kModelSide) {
        crop.off = crop.size - kCropEdgeMargin;
    }
    return crop;
}

int32_t yuvtoBuffer(int64_t handle, const uint8_t* yPlane, const uint8_t* uvPlane, int32_t width,
                    int32_t height, int32_t stride, int32_t planeHeight, int32_t rotation,
                    int32_t /*reserved0: not read*/, bool flipImage, int32_t yuv_format, float* out,
                    int32_t cameraType, float scale) {
    if (yPlane == nullptr || uvPlane == nullptr) {
        XEPO_LOGE("input image is null");
        return kStatusMissingInput;
    }
    if (handle == 0) {
        XEPO_LOGE("tavkit_handle is 0");
        return kStatusNoTavkit;
    }

    const UltraWideCrop crop = computeUltraWideCrop(cameraType, scale);
    if (crop.applies) {
        XEPO_LOGD("need_uwcrop %d", 1);
    }

    // Frame to an RGB square of the crop size (224 without the crop).
    Buffer resized = allocateBuffer(static_cast<size_t>(crop.size) * crop.size * kRgbChannels);
    if (yuvResizeBilinear(handle, yPlane, uvPlane, resized.get(), width, height, stride,
                          planeHeight, crop.size, crop.size, static_cast<uint32_t>(yuv_format),
                          kTavkitTypeU8, kTavkitFormatRgb, kTavkitTypeU8) != 0) {
        return kStatusOperatorFailed;
    }

    Buffer square = allocateBuffer(kModelRgbBytes);
    if (crop.applies) {
        if (rectCut(handle, resized.get(), square.get(), crop.size, crop.size, kModelSide,
                    kModelSide, kTavkitFormatRgb, kTavkitTypeU8, crop.off, crop.off + kModelSide,
                    crop.off, crop.off + kModelSide) != 0) {
            return kStatusOperatorFailed;
        }
    } else {
        std::memcpy(square.get(), resized.get(), kModelRgbBytes);
    }
    resized.reset();

    Buffer oriented = allocateBuffer(kModelRgbBytes);
    const int32_t rotateStatus =
        rotate(handle, square.get(), oriented.get(), static_cast<uint32_t>(rotation), kModelSide,
               kModelSide, kRgbChannels, kTavkitFormatRgb, kTavkitTypeU8);
    square.reset();
    if (rotateStatus != 0) {
        XEPO_LOGE("XEPO rotate failed %d", rotateStatus);
        return kStatusOperatorFailed;
    }

    if (flipImage) {
        Buffer mirrored = allocateBuffer(kModelRgbBytes);
        if (flip(handle, oriented.get(), mirrored.get(), kModelSide, kModelSide, kTavkitFormatRgb,
                 kTavkitTypeU8, kFlipMirror) != 0) {
            XEPO_LOGE("XEPO flip failed %d", kStatusOperatorFailed);
            return kStatusOperatorFailed;
        }
        std::memcpy(oriented.get(), mirrored.get(), kModelRgbBytes);
    }

    if (normalization(handle, oriented.get(), out, kModelSide, kModelSide, kRgbChannels,
                      kTavkitFormatRgb, kTavkitTypeU8, kTavkitTypeF32, kNormalizationMean,
                      kNormalizationScale) != 0) {
        XEPO_LOGE("XEPO Tavkit_Normalization failed %d", kStatusOperatorFailed);
        return kStatusOperatorFailed;
    }
    return 0;
}

int32_t yuvtoRGB(int64_t handle, const uint8_t* yPlane, const uint8_t* uvPlane, int32_t width,
                 int32_t height, int32_t stride, int32_t planeHeight, int32_t dstWidth,
                 int32_t dstHeight, int32_t rotation, bool flipImage, int32_t yuv_format,
                 uint8_t* out) {
    // Rotation and flip below work on 224 x 224 taken from the first stage and
    // written to out, so a smaller destination would be overrun.
    if (dstWidth <= 0 || dstHeight <= 0 || dstWidth > kMaxRgbSide || dstHeight > kMaxRgbSide ||
        static_cast<size_t>(dstWidth) * dstHeight * kRgbChannels < kModelRgbBytes) {
        XEPO_LOGE("RGB size %dx%d is out of range", dstWidth, dstHeight);
        return kStatusMissingInput;
    }

    Buffer resized = allocateBuffer(static_cast<size_t>(dstWidth) * dstHeight * kRgbChannels);
    if (yuvResizeBilinear(handle, yPlane, uvPlane, resized.get(), width, height, stride,
                          planeHeight, dstWidth, dstHeight, static_cast<uint32_t>(yuv_format),
                          kTavkitTypeU8, kTavkitFormatRgb, kTavkitTypeU8) != 0) {
        XEPO_LOGE("XEPO Tavkit_ResizeBilinear failed %d", kStatusOperatorFailed);
        return kStatusOperatorFailed;
    }

    const int32_t rotateStatus =
        rotate(handle, resized.get(), out, static_cast<uint32_t>(rotation), kModelSide, kModelSide,
               kRgbChannels, kTavkitFormatRgb, kTavkitTypeU8);
    resized.reset();
    if (rotateStatus != 0) {
        XEPO_LOGE("XEPO rotate failed %d", rotateStatus);
        return kStatusOperatorFailed;
    }

    if (flipImage) {
        Buffer mirrored = allocateBuffer(kModelRgbBytes);
        if (flip(handle, out, mirrored.get(), kModelSide, kModelSide, kTavkitFormatRgb,
                 kTavkitTypeU8, kFlipMirror) != 0) {
            XEPO_LOGE("XEPO flip failed %d", kStatusOperatorFailed);
            return kStatusOperatorFailed;
        }
        std::memcpy(out, mirrored.get(), kModelRgbBytes);
    }
    return 0;
}

int32_t imagePathtoBuffer(int64_t handle, const char* path, int32_t dstWidth, int32_t dstHeight,
                          int32_t /*channels: always 3*/, float* out, float /*p1: not read*/,
                          float /*p2: not read*/) {
    // The resize target is one model-sized temporary.
    if (dstWidth <= 0 || dstHeight <= 0 ||
        static_cast<size_t>(dstWidth) * static_cast<size_t>(dstHeight) * kRgbChannels >
            kModelRgbBytes) {
        XEPO_LOGE("model input size %dx%d is out of range", dstWidth, dstHeight);
        return kStatusMissingInput;
    }
    if (path == nullptr) {
        XEPO_LOGE("XEPO stbi_load failed");
        return kStatusMissingInput;
    }

    // Look at the declared size before decoding, so that a corrupt header
    // cannot make the decoder allocate gigabytes.
    int declaredWidth = 0;
    int declaredHeight = 0;
    int declaredComponents = 0;
    if (stbi_info(path, &declaredWidth, &declaredHeight, &declaredComponents) == 0) {
        XEPO_LOGE("XEPO stbi_load failed");
        return kStatusMissingInput;
    }
    if (declaredWidth <= 0 || declaredHeight <= 0 || declaredWidth > kMaxImageSide ||
        declaredHeight > kMaxImageSide ||
        static_cast<long long>(declaredWidth) * declaredHeight > kMaxImagePixels) {
        XEPO_LOGE("image size %dx%d is too large to decode", declaredWidth, declaredHeight);
        return kStatusMissingInput;
    }

    int width = 0;
    int height = 0;
    int components = 0;
    DecodedImage decoded(stbi_load(path, &width, &height, &components, kRgbChannels));
    if (decoded == nullptr) {
        XEPO_LOGE("XEPO stbi_load failed");
        return kStatusMissingInput;
    }

    Buffer resized = allocateBuffer(kModelRgbBytes);
    if (resizeBilinear(handle, decoded.get(), resized.get(), width, height, dstWidth, dstHeight,
                       kTavkitFormatRgb, kTavkitFormatRgb, kTavkitTypeU8, kTavkitTypeU8) != 0) {
        XEPO_LOGE("XEPO Tavkit_ResizeBilinear failed %d", kStatusOperatorFailed);
        return kStatusOperatorFailed;
    }
    decoded.reset();

    if (normalization(handle, resized.get(), out, dstWidth, dstHeight, kRgbChannels,
                      kTavkitFormatRgb, kTavkitTypeU8, kTavkitTypeF32, kNormalizationMean,
                      kNormalizationScale) != 0) {
        XEPO_LOGE("XEPO Tavkit_Normalization failed %d", kStatusOperatorFailed);
        return kStatusOperatorFailed;
    }
    return 0;
}

}  // namespace xepo
