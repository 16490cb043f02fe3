// The composite preparations: a camera frame to the normalised model input or
// to 8-bit RGB, and an image file to the normalised model input. Each chains
// single operators through temporaries.
#include <stb_image.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "cpp/img_process/img_process.h"
#include "cpp/img_process/ultra_wide_crop.h"
#include "tavkit_api.h"
#include "xepo_log.h"

namespace xepo {
namespace {

// The models see RGB.
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

// The temporaries of the chains: per thread, grown to the largest image asked
// for and then reused, so that a frame allocates nothing. A chain reads a
// temporary only after an operator has written it, and stops at the first
// failure, so nothing left over from an earlier call reaches a result.
class Temporaries {
  public:
    uint8_t* first(size_t bytes) { return grown(first_, bytes); }
    uint8_t* second(size_t bytes) { return grown(second_, bytes); }

  private:
    static uint8_t* grown(std::vector<uint8_t>& buffer, size_t bytes) {
        if (buffer.size() < bytes) {
            buffer.resize(bytes);
        }
        return buffer.data();
    }
    std::vector<uint8_t> first_;
    std::vector<uint8_t> second_;
};

Temporaries& temporaries() {
    thread_local Temporaries instance;
    return instance;
}

// Rotation angles that run the rotate operator; rotate() copies for any other.
bool rotationMovesPixels(int32_t rotation) {
    const uint32_t turn = static_cast<uint32_t>(rotation) % 360;
    return turn == 90 || turn == 180 || turn == 270;
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
                    int32_t cameraType, float scale, const uint8_t* orientedRgb) {
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

    // The picture moves between two temporaries: each step reads `current`
    // and writes the other one.
    Temporaries& temps = temporaries();
    const uint8_t* current = orientedRgb;
    if (current == nullptr || crop.applies) {
        const size_t resizedBytes = static_cast<size_t>(crop.size) * crop.size * kRgbChannels;
        uint8_t* const buffers[2] = {temps.first(std::max(resizedBytes, kModelRgbBytes)),
                                     temps.second(kModelRgbBytes)};
        int latest = 0;
        // Frame to an RGB square of the crop size (224 without the crop).
        if (yuvResizeBilinear(handle, yPlane, uvPlane, buffers[latest], width, height, stride,
                              planeHeight, crop.size, crop.size, static_cast<uint32_t>(yuv_format),
                              kTavkitTypeU8, kTavkitFormatRgb, kTavkitTypeU8) != 0) {
            return kStatusOperatorFailed;
        }
        if (crop.applies) {
            if (rectCut(handle, buffers[latest], buffers[1 - latest], crop.size, crop.size,
                        kModelSide, kModelSide, kTavkitFormatRgb, kTavkitTypeU8, crop.off,
                        crop.off + kModelSide, crop.off, crop.off + kModelSide) != 0) {
                return kStatusOperatorFailed;
            }
            latest = 1 - latest;
        }
        // Any other angle would only copy the square.
        if (rotationMovesPixels(rotation)) {
            const int32_t rotateStatus = rotate(
                handle, buffers[latest], buffers[1 - latest], static_cast<uint32_t>(rotation),
                kModelSide, kModelSide, kRgbChannels, kTavkitFormatRgb, kTavkitTypeU8);
            if (rotateStatus != 0) {
                XEPO_LOGE("XEPO rotate failed %d", rotateStatus);
                return kStatusOperatorFailed;
            }
            latest = 1 - latest;
        }
        if (flipImage) {
            if (flip(handle, buffers[latest], buffers[1 - latest], kModelSide, kModelSide,
                     kTavkitFormatRgb, kTavkitTypeU8, kFlipMirror) != 0) {
                XEPO_LOGE("XEPO flip failed %d", kStatusOperatorFailed);
                return kStatusOperatorFailed;
            }
            latest = 1 - latest;
        }
        current = buffers[latest];
    }

    if (normalization(handle, current, out, kModelSide, kModelSide, kRgbChannels, kTavkitFormatRgb,
                      kTavkitTypeU8, kTavkitTypeF32, kNormalizationMean,
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

    // A 224 x 224 picture that is neither turned nor mirrored would only be
    // copied from the first stage to out: it is resized straight into out.
    // (The operators check a record before writing anything, so a failing
    // resize leaves out as it was, as the copy it replaces would.)
    const bool resizeIntoOut = dstWidth == kModelSide && dstHeight == kModelSide &&
                               !rotationMovesPixels(rotation) && !flipImage;
    Temporaries& temps = temporaries();
    uint8_t* resized =
        resizeIntoOut ? out : temps.first(static_cast<size_t>(dstWidth) * dstHeight * kRgbChannels);
    if (yuvResizeBilinear(handle, yPlane, uvPlane, resized, width, height, stride, planeHeight,
                          dstWidth, dstHeight, static_cast<uint32_t>(yuv_format), kTavkitTypeU8,
                          kTavkitFormatRgb, kTavkitTypeU8) != 0) {
        XEPO_LOGE("XEPO Tavkit_ResizeBilinear failed %d", kStatusOperatorFailed);
        return kStatusOperatorFailed;
    }
    if (resizeIntoOut) {
        return 0;
    }

    const int32_t rotateStatus =
        rotate(handle, resized, out, static_cast<uint32_t>(rotation), kModelSide, kModelSide,
               kRgbChannels, kTavkitFormatRgb, kTavkitTypeU8);
    if (rotateStatus != 0) {
        XEPO_LOGE("XEPO rotate failed %d", rotateStatus);
        return kStatusOperatorFailed;
    }

    if (flipImage) {
        uint8_t* mirrored = temps.second(kModelRgbBytes);
        if (flip(handle, out, mirrored, kModelSide, kModelSide, kTavkitFormatRgb, kTavkitTypeU8,
                 kFlipMirror) != 0) {
            XEPO_LOGE("XEPO flip failed %d", kStatusOperatorFailed);
            return kStatusOperatorFailed;
        }
        std::memcpy(out, mirrored, kModelRgbBytes);
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

    uint8_t* resized = temporaries().first(kModelRgbBytes);
    if (resizeBilinear(handle, decoded.get(), resized, width, height, dstWidth, dstHeight,
                       kTavkitFormatRgb, kTavkitFormatRgb, kTavkitTypeU8, kTavkitTypeU8) != 0) {
        XEPO_LOGE("XEPO Tavkit_ResizeBilinear failed %d", kStatusOperatorFailed);
        return kStatusOperatorFailed;
    }
    decoded.reset();

    if (normalization(handle, resized, out, dstWidth, dstHeight, kRgbChannels, kTavkitFormatRgb,
                      kTavkitTypeU8, kTavkitTypeF32, kNormalizationMean,
                      kNormalizationScale) != 0) {
        XEPO_LOGE("XEPO Tavkit_Normalization failed %d", kStatusOperatorFailed);
        return kStatusOperatorFailed;
    }
    return 0;
}

}  // namespace xepo
