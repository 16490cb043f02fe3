// Unstable scenes: the two routes a frame takes when the driver does not judge
// it stable.
#include "xepo/unstable_scene.h"

#include <cmath>
#include <cstring>

#include "cpp/img_process/hist_similarity.h"
#include "cpp/img_process/img_process.h"
#include "cpp/img_process/imu_position.h"
#include "xepo/decision_thresholds.h"
#include "xepo/gyro_stability.h"
#include "xepo/model_scoring.h"
#include "xepo/score_smoothing.h"
#include "xepo_log.h"

namespace xepo {
namespace {

// --- handleNotStableNotCameraFirst
// A lux change up to this is noise: the last score is kept as it is.
constexpr float kKeepScoreLuxChange = 5.0f;
// Histogram similarity from which the picture counts as unchanged.
constexpr double kUnchangedSimilarity = 0.8;
// Outside the lux band from kBrightLuxEdge to this (both exclusive) the score
// falls back to neutral rather than being kept.
constexpr float kKeepScoreMaxLux = 460.0f;

// --- handleUnstableScene: entrance confidence
// The threshold (kEntranceSureConfidence) is lowered for the first model runs
// after creation (below this count, this one included), when there is no
// history to lean on.
constexpr int32_t kWarmupModelRuns = 6;
constexpr float kWarmupConfidence = 0.71f;
// modelRunCount saturates here so it never overflows on long sessions.
constexpr int32_t kModelRunCountCap = 1000;
constexpr int32_t kModelRunCountLastStep = 998;

// --- albedo path
// Bright scores (kRaiseFromScore up to this, the top of the scale) are raised
// once for high key and once for a light scene.
constexpr float kRaiseMaxScore = 44.0f;

// --- light path
// A map cell above this value is a light cell.
constexpr uint8_t kLightCellThreshold = 128;
// Light cells a map needs to be accepted without a hold.
constexpr int kMinLightCells = 150;
// The held map is reused on moving frames down to this count.
constexpr int32_t kHeldMapLastCount = -14;

// --- fallback decision: the last score is kept when one of four signs says the
// scene has not changed (gyro, similarity and NCC compared in double precision;
// the gyro stillness limits are those of the gyro step; the lux conditions hold
// only in the indoor-to-daylight band from kLuxBandSplit to kDarkLuxEdge, both
// exclusive, where keeping is safe):
// a still device, a similar picture and a sure last entrance verdict;
constexpr double kKeepSimilarityStill = 0.8;
// a nearly identical picture alone, with the lux near the stable reference;
constexpr double kKeepSimilarityAlone = 0.95;
constexpr float kKeepRefLuxAlone = 5.0f;
// a still device whose thumbnail correlates, lux a little further off;
constexpr double kKeepNccStill = 0.88;
constexpr float kKeepRefLuxNcc = 10.0f;
// a device at rest for 3 s with a strongly correlated, similar picture, where
// the lux may have wandered furthest.
constexpr double kKeepNccResting = 0.92;
constexpr double kKeepSimilarityResting = 0.9;
constexpr float kKeepRefLuxResting = 25.0f;

// --- blend with the last score: each rule names a case where the fresh score
// and the last one describe the same kind of scene.
// On the recheck counts no similarity (this little) means "same scene": the
// last score gets full weight.
constexpr double kTinySimilarity = 0.01;
// Dark last scores: a dark fresh model score (above 13, up to 15) meets one
// halfway, and so does any score in the darker band near the reference lux.
constexpr float kLowScore = 16.0f;
constexpr float kLowOriginMin = 13.0f;
constexpr float kLowOriginMax = 15.0f;
constexpr float kBlendLowLuxRef = 6.0f;
// Bright scores this close to each other meet halfway.
constexpr float kBrightScore = 23.0f;
constexpr float kBlendCloseScores = 10.0f;
// A moving device's bright score that jumps this far above a bright last one is
// pulled back halfway, so that one moving frame does not jump the exposure.
constexpr float kMovingBrightScore = 20.0f;
constexpr float kMovingJump = 10.0f;
// A last output this near neutral gives way partly to a bright fresh score...
constexpr float kNearNeutral = 0.5f;
// ...and a near-neutral fresh score gives way partly to a dark last output when
// the lux is near the reference.
constexpr float kNeutralBandMin = 17.0f;
constexpr float kNeutralBandMax = 19.0f;
constexpr float kBlendNeutralLuxRef = 5.0f;
// Halfway, and the partial step of the near-neutral rules.
constexpr double kHalfBlend = 0.5;
constexpr double kPartBlend = 0.4;

// --- history consistency
// Histogram similarity from which a remembered scene is close enough to pull
// the score toward its own (less strict than taking it over on a stable frame).
constexpr double kHistoryBlendSimilarity = 0.9;
// How hard it pulls depends on how far the device turned since it was recorded:
// within the stillness distance most, within kHistoryGyroNear less, and up to
// kHistoryGyroFar as much when this frame is unsure but the remembered scene was
// sure, their confidences less than kHistoryConfidenceGap apart; else little.
constexpr double kHistoryGyroNear = 0.02;
constexpr double kHistoryGyroFar = 0.08;
constexpr float kHistoryConfidenceGap = 0.2f;
constexpr float kHistoryWeightClose = 0.7f;
constexpr float kHistoryWeightNear = 0.5f;
constexpr float kHistoryWeightOther = 0.2f;

bool isStillDistance(float g) {
    const double d = g;
    return d > kMinGyroDistance && d < kStillGyroDistance;
}

bool isMidLux(float aec_lux) {
    return aec_lux > kLuxBandSplit && aec_lux < kDarkLuxEdge;
}

// from + factor * (weight * (to - from)): the difference and the product with
// the weight in single precision, the final multiply-add in double precision.
float blendToward(float from, float to, float weight, double factor) {
    const float weighted = weight * (to - from);
    return static_cast<float>(static_cast<double>(from) + factor * static_cast<double>(weighted));
}

// The fallback decision: keep the last score when the scene evidently has not
// changed, else go neutral.
void decideFallback(AeEngine* engine, float* thisScore, float* use_ae_aver, float T,
                    int32_t is_gyro_stable, float aec_lux, float g, float similarity,
                    float ncc_similarity) {
    const bool still = isStillDistance(g);
    const double sim = similarity;
    const double ncc = ncc_similarity;
    const float refLuxDistance = std::fabs(aec_lux - engine->refAecLux);
    const bool midLux = isMidLux(aec_lux);
    const bool keep =
        (still && sim >= kKeepSimilarityStill &&
         engine->lastEnResult[kEntranceSceneConfidence] >= T) ||
        (sim >= kKeepSimilarityAlone && midLux && refLuxDistance < kKeepRefLuxAlone) ||
        (still && midLux && ncc > kKeepNccStill && refLuxDistance < kKeepRefLuxNcc) ||
        (static_cast<double>(g) > kMinGyroDistance && ncc > kKeepNccResting &&
         static_cast<double>(g) < kStillGyroDistance && is_gyro_stable == 1 && midLux &&
         sim > kKeepSimilarityResting && refLuxDistance < kKeepRefLuxResting);
    if (keep) {
        *thisScore = engine->lastAeThisScore;
    } else {
        *thisScore = kNeutralScore;
        *use_ae_aver = 1.0f;
    }
}

// Pulls the fresh score toward the last one when both describe the same kind of scene.
float blendWithLastScore(const AeEngine* engine, float score, float origin, float weight,
                         float aec_lux, float g) {
    const float L = engine->lastAeThisScore;
    const float A = score;
    const float refLuxDistance = std::fabs(aec_lux - engine->refAecLux);
    if (origin != 0.0f && L < kLowScore && origin > kLowOriginMin && origin <= kLowOriginMax) {
        return blendToward(origin, L, weight, kHalfBlend);
    }
    if (std::fabs(A - L) <= kBlendCloseScores && A >= kBrightScore && L >= kBrightScore) {
        return blendToward(A, L, weight, kHalfBlend);
    }
    if (L < kLowScore && aec_lux > kLuxBandSplit && refLuxDistance < kBlendLowLuxRef) {
        return blendToward(A, L, weight, kHalfBlend);
    }
    if (static_cast<double>(g) > kStillGyroDistance && A >= kMovingBrightScore &&
        L >= kMovingBrightScore && A - L >= kMovingJump) {
        return blendToward(A, L, weight, kHalfBlend);
    }
    if (std::fabs(engine->lastAeScore - kNeutralScore) <= kNearNeutral && A >= kBrightScore) {
        return blendToward(L, A, weight, kPartBlend);
    }
    if (engine->lastAeScore < kLowScore && A > kNeutralBandMin && A < kNeutralBandMax &&
        refLuxDistance < kBlendNeutralLuxRef) {
        return blendToward(A, L, weight, kPartBlend);
    }
    return A;
}

// Pulls the score toward the newest remembered scene that looks the same.
float blendWithHistory(AeEngine* engine, float score, float this_result, float T,
                       const float angle[3]) {
    for (size_t i = engine->historyHist.size(); i-- > 0;) {  // newest first
        const HistoryEntry* entry = &engine->historyHist[i];
        const float s =
            histSimilarity(engine->curHist.get(), entry->hist.data(), kHistTotal, kHistTotal);
        if (static_cast<double>(s) < kHistoryBlendSimilarity) {
            continue;
        }
        const float gd = angleDistance(entry->imuAngle, angle);
        const double d = gd;
        float f = kHistoryWeightOther;
        if (d > kMinGyroDistance && d < kStillGyroDistance) {
            f = kHistoryWeightClose;
        } else if (d > kMinGyroDistance && d < kHistoryGyroNear) {
            f = kHistoryWeightNear;
        } else if (this_result < T && entry->enConfidence >= T && d > kMinGyroDistance &&
                   d < kHistoryGyroFar &&
                   std::fabs(this_result - entry->enConfidence) < kHistoryConfidenceGap) {
            f = kHistoryWeightNear;
        }
        const float blended = blendToward(score, entry->score, f * s, 1.0);
        XEPO_LOGD(
            "consistency similarity: %f similarity_gyro: %f similar_albedo: %f "
            "this_albedo:%f",
            s, gd, entry->score, blended);
        return blended;
    }
    return score;
}

}  // namespace

float entranceConfidenceThreshold(int32_t modelRunCount) {
    return modelRunCount < kWarmupModelRuns ? kWarmupConfidence : kEntranceSureConfidence;
}

void handleNotStableNotCameraFirst(AeEngine* engine, float* thisScore, float aec_lux,
                                   float similarity) {
    const float luxChange = std::fabs(aec_lux - engine->lastAecLux);
    if (luxChange <= kKeepScoreLuxChange) {
        *thisScore = engine->lastAeThisScore;
        engine->lastIsStable = 0;
        return;
    }
    XEPO_LOGD("lastIsStable notstable: %d similarity: %f", engine->lastIsStable, similarity);
    const bool unchanged = static_cast<double>(similarity) >= kUnchangedSimilarity;
    engine->lastIsStable = (engine->lastIsStable >= 1 && unchanged) ? 1 : 0;
    const float candidate =
        unchanged ? engine->lastAeThisScore
                  : blendToward(kNeutralScore, engine->lastAeThisScore, similarity, kHalfBlend);
    *thisScore =
        (aec_lux > kBrightLuxEdge && aec_lux < kKeepScoreMaxLux) ? candidate : kNeutralScore;
}

void handleUnstableScene(AeEngine* engine, float* thisScore, float* this_result, float* use_ae_aver,
                         int32_t* lsResult, int32_t holdFlag, bool enable_seg,
                         int32_t is_gyro_stable, bool cameraFirst, const uint8_t* yPlane,
                         const uint8_t* uvPlane, int32_t width, int32_t height, int32_t stride,
                         int32_t planeHeight, int32_t yuv_format, int32_t rotation, bool flip,
                         int32_t reserved0, int32_t cameraType, float aec_lux,
                         float gyro_similarity, float similarity, float ncc_similarity, float scale,
                         const float angle[3]) {
    // 1. Model input from this frame, normalised from the similarity step's
    // picture of it when there is one.
    const int32_t prepared =
        yuvtoBuffer(engine->tavkit_handle, yPlane, uvPlane, width, height, stride, planeHeight,
                    rotation, reserved0, flip, yuv_format, engine->modelInput.get(), cameraType,
                    scale, engine->rgbImageIsThisFrame ? engine->rgbImage.get() : nullptr);
    if (prepared != 0) {
        XEPO_LOGE("IMAGE preprocess failed %d", prepared);
    }

    // 2-4. Entrance model.
    engine->modelRunCount = engine->modelRunCount > kModelRunCountLastStep
                                ? kModelRunCountCap
                                : engine->modelRunCount + 1;
    const int32_t entrance =
        runModel(engine->entranceRunner.get(), engine->modelInput.get(), engine->enResult.get());
    if (entrance != 0) {
        XEPO_LOGE("runmodel en failed %d", entrance);
    }
    *this_result = engine->enResult[kEntranceSceneConfidence];
    const float x = engine->enResult[kEntranceHighKey];
    const float p = engine->enResult[kEntranceLightScene];
    XEPO_LOGD("entrance model this_result: %f,xj re:%f ls result: %f enable_seg:%d", *this_result,
              x, p, enable_seg ? 1 : 0);
    const float T = entranceConfidenceThreshold(engine->modelRunCount);

    // 5. Path choice.
    const bool highKey = static_cast<double>(x) >= kHighKeySure;
    const bool lightScene = static_cast<double>(p) >= kLightSceneSure;
    const bool albedoPath = (*this_result >= T || highKey) && aec_lux >= kBrightLuxEdge &&
                            holdFlag == 0 && engine->lastIsSegResult <= 0;
    const bool lightPath = !albedoPath && enable_seg && lightScene;

    float origin = 0.0f;
    if (albedoPath) {
        // 6. Albedo path.
        const int32_t albedo = runModel(engine->albedoRunner.get(), engine->modelInput.get(),
                                        engine->albedoResult.get());
        if (albedo != 0) {
            XEPO_LOGE("runmodel ae failed %d", albedo);
        }
        origin = engine->albedoResult[0] * kAlbedoToScore;
        XEPO_LOGD("ae model this_result: %f", engine->albedoResult[0]);
        float score = getSmoothScore(origin, engine->modelRunCount, aec_lux);
        if (score == kNeutralScore && engine->isStable != 1) {
            *use_ae_aver = 1.0f;
        }
        if (highKey && score >= kRaiseFromScore && score <= kRaiseMaxScore) {
            score += kRaiseStep;
        }
        if (lightScene && score >= kRaiseFromScore && score <= kRaiseMaxScore) {
            score += kRaiseStep;
        }
        if (*this_result < T && score < kNeutralScore) {
            score = kNeutralScore;
        }
        *thisScore = score;
    } else {
        bool decided = false;
        if (lightPath) {
            // 7. Light path.
            XEPO_LOGD("run ls model, use ls result");
            const int32_t light =
                runLightSegModel(engine->lightSegRunner.get(), engine->tavkit_handle,
                                 engine->modelInput.get(), static_cast<uint32_t>(rotation),
                                 engine->lightSegOutput.get(), engine->segMap.get());
            int lightCells = 0;
            for (int i = 0; i < kSegMapBytes; ++i) {
                lightCells += engine->segMap[i] > kLightCellThreshold ? 1 : 0;
            }
            if (light != 0) {
                XEPO_LOGE("run ls model ls failed %d", light);
                *lsResult = 0;
            } else if (holdFlag != 0 || lightCells >= kMinLightCells) {
                *lsResult = 1;
                *thisScore = kNeutralScore;
                engine->lastIsSegResult = 1;
                engine->lastSegAecLux = aec_lux;
                std::memcpy(engine->lastSegMap.get(), engine->segMap.get(), kSegMapBytes);
                decided = true;
            } else {
                *lsResult = 0;
            }
        } else if (engine->lastIsSegResult != 0 && engine->lastIsSegResult >= kHeldMapLastCount) {
            // 8.1 A map still held from before the movement stays in force.
            *thisScore = kNeutralScore;
            *lsResult = 1;
            std::memcpy(engine->segMap.get(), engine->lastSegMap.get(), kSegMapBytes);
            decided = true;
        }
        if (!decided && *lsResult == 0) {
            // 8.2 Fallback decision.
            decideFallback(engine, thisScore, use_ae_aver, T, is_gyro_stable, aec_lux,
                           gyro_similarity, similarity, ncc_similarity);
        }
    }

    // 9.
    XEPO_LOGD(
        "lastAeThisScore: %f, is_gyro_stable: %d this_albedo:%f use_ae_aver:%f "
        "lastIsStable:%d origin_albedo:%f similarity:%f lastAeScore:%f lastIsSegResult:%d",
        engine->lastAeThisScore, is_gyro_stable, *thisScore, *use_ae_aver, engine->lastIsStable,
        origin, similarity, engine->lastAeScore, engine->lastIsSegResult);

    // 10-11. Blend with the last score and with a matching remembered scene,
    // unless the device rests or this is the camera's first frame.
    float weight = similarity;
    if (isRecheckCount(engine->lastIsStable) &&
        static_cast<double>(similarity) <= kTinySimilarity) {
        weight = 1.0f;
    }
    if (is_gyro_stable != 1 && !cameraFirst) {
        *thisScore =
            blendWithLastScore(engine, *thisScore, origin, weight, aec_lux, gyro_similarity);
        *thisScore = blendWithHistory(engine, *thisScore, *this_result, T, angle);
    }

    // 12. This frame's histogram becomes the comparison reference.
    if (!engine->lastHist) {
        engine->lastHist.reset(new int32_t[kHistBins]);
    }
    std::memcpy(engine->lastHist.get(), engine->curHist.get(), kHistBins * sizeof(int32_t));

    // 13-14.
    XEPO_LOGD("lastIsStable %d", engine->lastIsStable);
    if (isRecheckCount(engine->lastIsStable)) {
        engine->lastIsStable += 1;
    } else {
        engine->lastIsStable = engine->isStable;
    }
    std::memcpy(engine->lastEnResult.get(), engine->enResult.get(),
                kEntranceOutputs * sizeof(float));
}

}  // namespace xepo
