#include "xepo/image_similarity.h"

#include <cmath>

#include "cpp/img_process/hist_similarity.h"
#include "cpp/img_process/img_process.h"
#include "tavkit_api.h"
#include "xepo/gyro_stability.h"
#include "xepo_log.h"

namespace xepo {

namespace {

// Thumbnails hold 4096 = 2^12 pixels; means are taken by this exact factor.
constexpr float kInvThumbPixels = 1.0f / 4096.0f;

// A thumbnail correlation above 0.85 with the stable reference means the scene
// is still the stable one (double precision).
constexpr double kNccStableMatch = 0.85;
// Below 0.8 the reference no longer describes the scene and is not compared
// again till a new stable scene renews it (double precision).
constexpr double kNccReferenceLost = 0.8;

// Histogram similarity from which the colour distribution counts as unchanged
// whatever the gyro says (double precision).
constexpr double kHistUnchanged = 0.9;
// Lower similarity that still counts as unchanged when the gyro is still, or
// when the device moves and the last score was darker than neutral.
constexpr double kHistUnchangedWhenSupported = 0.8;

}  // namespace

ThumbStats thumbStats(const uint8_t thumb[kThumbBytes]) {
    float sum = 0.0f;
    for (int i = 0; i < kThumbBytes; ++i) {
        sum += static_cast<float>(thumb[i]);
    }
    const float mean = sum * kInvThumbPixels;
    float squares = 0.0f;
    for (int i = 0; i < kThumbBytes; ++i) {
        const float d = static_cast<float>(thumb[i]) - mean;
        squares += d * d;
    }
    return ThumbStats{mean, std::sqrt(squares * kInvThumbPixels)};
}

float meanAbsCentredProduct(const uint8_t a[kThumbBytes], const uint8_t b[kThumbBytes], float meanA,
                            float meanB) {
    float cross = 0.0f;
    for (int i = 0; i < kThumbBytes; ++i) {
        cross += std::fabs((static_cast<float>(a[i]) - meanA) * (static_cast<float>(b[i]) - meanB));
    }
    return cross * kInvThumbPixels;
}

float nccSimilarity(const uint8_t a[kThumbBytes], const uint8_t b[kThumbBytes]) {
    const ThumbStats sa = thumbStats(a);
    const ThumbStats sb = thumbStats(b);
    return meanAbsCentredProduct(a, b, sa.mean, sb.mean) / (sa.stdDev * sb.stdDev);
}

int32_t stabilityAfterNcc(int32_t isStable, float ncc) {
    if (static_cast<double>(ncc) > kNccStableMatch && isStable != kStableSteady) {
        return kStableSteady;
    }
    return isStable;
}

int32_t stabilityAfterHistogram(int32_t isStable, float s, float g, float lastAeThisScore) {
    const double sd = static_cast<double>(s);
    const double gd = static_cast<double>(g);
    const bool keepsClass = isStable == kStableJustSettled || isStable == kStableSteady;
    // Rule A: the colour distribution has not changed.
    if (!keepsClass && (sd >= kHistUnchanged || (gd > kMinGyroDistance && gd < kStillGyroDistance &&
                                                 sd >= kHistUnchangedWhenSupported))) {
        isStable = kStableNothingNew;
    }
    // Rule B: moving, a similar picture, and a last score below neutral.
    const bool keepsClassNow = isStable == kStableJustSettled || isStable == kStableSteady;
    if (gd > kStillGyroDistance && !keepsClassNow && sd >= kHistUnchangedWhenSupported &&
        lastAeThisScore < kNeutralScore) {
        isStable = kStableNothingNew;
    }
    return isStable;
}

void calcImageSimilarity(AeEngine* engine, const uint8_t* yPlane, const uint8_t* uvPlane,
                         int32_t width, int32_t height, int32_t stride, int32_t planeHeight,
                         int32_t yuv_format, int32_t rotation, bool flip, float* similarity,
                         float* ncc_similarity, float gyro_similarity) {
    if (engine == nullptr || !engine->rgbImage || !engine->grayImage || !engine->grayThumb ||
        !engine->curHist) {
        XEPO_LOGE("calcImageSimilarity engine or its image buffers are null");
        if (similarity != nullptr) {
            *similarity = 0.0f;
        }
        if (ncc_similarity != nullptr) {
            *ncc_similarity = 0.0f;
        }
        return;
    }
    const int64_t handle = engine->tavkit_handle;

    int32_t ret = yuvtoRGB(handle, yPlane, uvPlane, width, height, stride, planeHeight, kModelSide,
                           kModelSide, rotation, flip, yuv_format, engine->rgbImage.get());
    if (ret != 0) {
        XEPO_LOGE("yuvtoRGB failed %d", ret);
    }
    engine->rgbImageIsThisFrame = ret == 0;
    ret =
        RGBtoGray(handle, engine->rgbImage.get(), kModelSide, kModelSide, engine->grayImage.get());
    if (ret != 0) {
        XEPO_LOGE("RGBtoGray failed %d", ret);
    }
    // resizeBilinear logs its own failure; the step goes on with the thumbnail
    // as it stands.
    (void)resizeBilinear(handle, engine->grayImage.get(), engine->grayThumb.get(), kModelSide,
                         kModelSide, kThumbSide, kThumbSide, kTavkitFormatGray, kTavkitFormatGray,
                         kTavkitTypeU8, kTavkitTypeU8);

    float ncc = 0.0f;
    if (engine->nccRefThumb && engine->nccRefValid == 1) {
        ncc = nccSimilarity(engine->grayThumb.get(), engine->nccRefThumb.get());
        XEPO_LOGD("ncc_similarity: %f", static_cast<double>(ncc));
        engine->isStable = stabilityAfterNcc(engine->isStable, ncc);
        if (static_cast<double>(ncc) < kNccReferenceLost) {
            engine->nccRefValid = 0;
        }
    }

    ret = calcHist(handle, kModelSide, kModelSide, engine->rgbImage.get(), engine->curHist.get());
    if (ret != 0) {
        XEPO_LOGE("calcHist failed %d", ret);
    }

    float s = 0.0f;
    if (engine->lastHist) {
        s = histSimilarity(engine->curHist.get(), engine->lastHist.get(), kHistTotal, kHistTotal);
        XEPO_LOGD("all_similarity: %f", static_cast<double>(s));
    }

    engine->isStable =
        stabilityAfterHistogram(engine->isStable, s, gyro_similarity, engine->lastAeThisScore);

    if (similarity != nullptr) {
        *similarity = s;
    }
    if (ncc_similarity != nullptr) {
        *ncc_similarity = ncc;
    }
}

}  // namespace xepo
