// Mapping of the albedo model's score onto the output scale by lux band, and the
// smooth model's arbitration of a lux change.
#include "xepo/score_smoothing.h"

#include <cmath>

#include "xepo/decision_thresholds.h"
#include "xepo/model_scoring.h"
#include "xepo_log.h"

namespace xepo {
namespace {

// Lux bands (larger lux means a darker scene): outside (kBrightLuxEdge,
// kDarkLuxEdge) the camera's own exposure is trusted and the model score is not
// used; kLuxBandSplit splits the usable range into the mid and the dark band.

// Frame-path mapping (getSmoothScore).
// Mid band (150, 210]: low scores are floored at the scale minimum.
constexpr float kMidFloorAt = 12.0f;  // at or below: the scale minimum
// Dark band (210, 400): the floor starts lower.
constexpr float kDarkFloorAt = 11.0f;  // at or below: the scale minimum
// Both bands: scores up to here are dark scenes kept as they are.
constexpr float kKeepLowUpTo = 15.0f;
// Dark band: just above kKeepLowUpTo the score is still kept while the models
// have run only a few times, before the neutral snap takes over.
constexpr float kEarlyKeepBelow = 16.0f;
constexpr int32_t kEarlyRunCount = 6;  // model runs below this count as "early"
// Both bands: high scores are pulled back towards neutral.
constexpr float kCapFrom = 46.0f;        // at or above: the scale maximum
constexpr float kSmallPullFrom = 27.0f;  // [27, 46): two below the model
constexpr float kLargePullFrom = 22.0f;  // [22, 27): four below the model
constexpr float kSmallPull = 2.0f;
constexpr float kLargePull = 4.0f;

// Image-file mapping (getSmoothScoreGT): the mid band caps lower and keeps no
// low scores; the dark band keeps only scores up to 13.
constexpr float kGtMidCapFrom = 38.0f;  // at or above: capped
constexpr float kGtMidCap = 36.0f;      // the mid band's cap
constexpr float kGtDarkKeepUpTo = 13.0f;

// applySmoothModel conditions.
// The scene must have changed a little (compared in double precision).
constexpr double kSmoothMaxSimilarity = 0.98;
// The models must have scored enough frames for the previous output to mean something.
constexpr int32_t kSmoothMinRunCount = 5;
// Frame scores inside [17, 19] are near neutral and need no arbitration.
constexpr float kNearNeutralLow = 17.0f;
constexpr float kNearNeutralHigh = 19.0f;
// A lux change under one step is noise.
constexpr float kMinLuxChange = 1.0f;

bool outsideModelLuxRange(float aec_lux) {
    return aec_lux >= kDarkLuxEdge || aec_lux <= kBrightLuxEdge;
}

// The pull of high scores towards neutral, shared by every band: s itself when
// it is not high (the caller decides then).
bool pullHighScore(float s, float cap, float capFrom, float* out) {
    if (s >= capFrom) {
        *out = cap;
    } else if (s >= kSmallPullFrom) {
        *out = s - kSmallPull;
    } else if (s >= kLargePullFrom) {
        *out = s - kLargePull;
    } else {
        return false;
    }
    return true;
}

}  // namespace

float getSmoothScore(float score, int32_t modelRunCount, float aec_lux) {
    XEPO_LOGD("origin_score: %f", score);
    const float s = score;
    if (outsideModelLuxRange(aec_lux)) {
        return kNeutralScore;
    }
    float pulled = 0.0f;
    if (aec_lux <= kLuxBandSplit) {
        if (s <= kMidFloorAt) {
            return kMinScore;
        }
        if (s <= kKeepLowUpTo) {
            return s;
        }
        return pullHighScore(s, kMaxScore, kCapFrom, &pulled) ? pulled : kNeutralScore;
    }
    if (s <= kDarkFloorAt) {
        return kMinScore;
    }
    if (s <= kKeepLowUpTo) {
        return s;
    }
    if (s < kEarlyKeepBelow && modelRunCount < kEarlyRunCount) {
        return s;
    }
    return pullHighScore(s, kMaxScore, kCapFrom, &pulled) ? pulled : kNeutralScore;
}

float getSmoothScoreGT(float score, float aec_lux) {
    XEPO_LOGD("origin_score: %f", score);
    const float s = score;
    if (outsideModelLuxRange(aec_lux)) {
        return kNeutralScore;
    }
    float pulled = 0.0f;
    if (aec_lux <= kLuxBandSplit) {
        if (s <= kMidFloorAt) {
            return kMinScore;
        }
        return pullHighScore(s, kGtMidCap, kGtMidCapFrom, &pulled) ? pulled : kNeutralScore;
    }
    if (s <= kDarkFloorAt) {
        return kMinScore;
    }
    if (s <= kGtDarkKeepUpTo) {
        return s;
    }
    return pullHighScore(s, kMaxScore, kCapFrom, &pulled) ? pulled : kNeutralScore;
}

float applySmoothModel(AeEngine* engine, float candidate, float thisScore, float aec_lux,
                       float similarity) {
    if (engine == nullptr || engine->smoothInput == nullptr || engine->smoothResult == nullptr) {
        XEPO_LOGE("smooth model state missing, score kept");
        return candidate;
    }
    const bool sceneMoved = engine->isStable == 0 &&
                            static_cast<double>(similarity) < kSmoothMaxSimilarity &&
                            engine->modelRunCount >= kSmoothMinRunCount;
    const bool scoreAwayFromNeutral = thisScore < kNearNeutralLow || thisScore > kNearNeutralHigh;
    const bool luxChanged =
        aec_lux > 0.0f && std::fabs(engine->lastAecLux - aec_lux) >= kMinLuxChange;
    if (!sceneMoved || !scoreAwayFromNeutral || !luxChanged) {
        return candidate;
    }

    float* input = engine->smoothInput.get();
    input[0] = engine->lastAecLux;
    input[1] = engine->lastAeScore;
    input[2] = aec_lux;
    XEPO_LOGD("xepo smooth last_aec: %f, last_albedo: %f, aec: %f", input[0], input[1], input[2]);

    // A failed run is not reported: the previous answer in smoothResult stands.
    runModel(engine->smoothRunner.get(), input, engine->smoothResult.get());

    float modelScore = engine->smoothResult[0];
    XEPO_LOGD("xepo smooth result: %f", modelScore);
    if (modelScore <= kMinScore) {
        modelScore = kMinScore;
    } else if (modelScore >= kMaxScore) {
        modelScore = kMaxScore;
    }

    // The model wins only when it moves the score the same way the lux moved.
    const float luxDelta = aec_lux - engine->lastAecLux;
    const float scoreDelta = candidate - modelScore;
    const bool sameDirection =
        (luxDelta < 0.0f && scoreDelta < 0.0f) || (luxDelta > 0.0f && scoreDelta > 0.0f);
    return sameDirection ? modelScore : candidate;
}

}  // namespace xepo
