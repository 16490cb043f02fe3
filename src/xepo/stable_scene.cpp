#include "xepo/stable_scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "cpp/img_process/hist_similarity.h"
#include "cpp/img_process/img_process.h"
#include "xepo/decision_thresholds.h"
#include "xepo/gyro_stability.h"
#include "xepo/model_scoring.h"
#include "xepo_log.h"

namespace xepo {

namespace {

// --- Light-region map hold while moving ---
// Moving frames counted below this (the 31st on) no longer hold the map.
constexpr int32_t kLastHeldMovingState = -29;
// The held map is refreshed once, on the 15th moving frame, from the last
// prepared model input, so a light source that moved is followed.
constexpr int32_t kMovingRefreshState = -15;

// --- Light-region map in a stable scene ---
// The map is refreshed every 15 stable frames that used it...
constexpr int32_t kStableRefreshPeriod = 15;
// ...(states from -5 on; with the period this means 15, 30, 45, ...)...
constexpr int32_t kMinRefreshState = -5;
// ...and only when the lux moved by more than 1.0 since the map was taken.
constexpr float kRefreshLuxChange = 1.0f;

// --- Stable-period counts (AeEngine::lastIsStable) ---
// The first stable frame captures the similarity references.
constexpr int32_t kReferenceCount = 1;
// The tenth stable frame records the scene in the history.
constexpr int32_t kRecordCount = 10;
// The history is looked up on these stable frames only.
constexpr int32_t kLookupCounts[] = {1, 4, 7};

// --- History look-up ---
// Before five scored frames the engine's own scores are still settling.
constexpr int32_t kMinModelRunsForLookup = 5;
// Histogram similarity from which a remembered scene is the same picture and
// its score may be taken over (double precision).
constexpr double kHistoryHitSimilarity = 0.97;
// Largest lux difference to a remembered scene.
constexpr float kHistoryMatchLux = 2.0f;
// A remembered confidence may exceed this frame's by less than this
// (double precision).
constexpr double kHistoryConfidenceMargin = 0.01;
// Within 10 % of the remembered score the remembered score is taken as it is
// (double precision).
constexpr double kHistoryKeepRatio = 0.1;
// More than 20 % above the remembered score is capped...
constexpr float kHistoryCapRatio = 0.2f;
// ...at 10 % above it (double precision).
constexpr double kHistoryCapStep = 0.1;

bool isLookupCount(int32_t count) {
    return std::find(std::begin(kLookupCounts), std::end(kLookupCounts), count) !=
           std::end(kLookupCounts);
}

// Counters that grow once per frame stop at the largest value instead of
// overflowing on a scene that stays stable for years.
int32_t countUp(int32_t value) {
    return value < std::numeric_limits<int32_t>::max() ? value + 1 : value;
}

void copyMap(uint8_t* dst, const uint8_t* src) {
    std::memcpy(dst, src, kSegMapBytes);
}

// Score taken over from a history hit, given the last frame's score.
float historyHitScore(float entryScore, float lastAeThisScore) {
    const float r = (lastAeThisScore - entryScore) / entryScore;
    if (static_cast<double>(std::fabs(r)) < kHistoryKeepRatio) {
        return entryScore;
    }
    if (r > kHistoryCapRatio) {
        return static_cast<float>(static_cast<double>(entryScore) * kHistoryCapStep +
                                  static_cast<double>(entryScore));
    }
    // Lands on lastAeThisScore up to rounding.
    return std::fma(entryScore, r, entryScore);
}

// Light-region map of a stable frame: refresh, hold, or nothing.
void updateStableMap(AeEngine* engine, float* thisScore, int32_t* lsResult, const uint8_t* yPlane,
                     const uint8_t* uvPlane, int32_t width, int32_t height, int32_t stride,
                     int32_t planeHeight, int32_t yuv_format, int32_t rotation, bool flip,
                     int32_t reserved0, int32_t cameraType, float aec_lux, float scale) {
    const int32_t c = engine->lastIsSegResult;
    const bool refresh = c >= kMinRefreshState && c != 0 && c % kStableRefreshPeriod == 0 &&
                         std::fabs(aec_lux - engine->lastSegAecLux) > kRefreshLuxChange;
    if (refresh) {
        int32_t ret = yuvtoBuffer(engine->tavkit_handle, yPlane, uvPlane, width, height, stride,
                                  planeHeight, rotation, reserved0, flip, yuv_format,
                                  engine->modelInput.get(), cameraType, scale);
        if (ret != 0) {
            XEPO_LOGE("handleStableScene yuvtoBuffer failed! %d", ret);
        }
        XEPO_LOGD("update ls result, run ls model: %d", c);
        ret = runLightSegModel(engine->lightSegRunner.get(), engine->tavkit_handle,
                               engine->modelInput.get(), static_cast<uint32_t>(rotation),
                               engine->lightSegOutput.get(), engine->segMap.get());
        if (ret != 0) {
            XEPO_LOGE("run ls model failed %d", ret);
            *lsResult = 1;
            *thisScore = kNeutralScore;
            XEPO_LOGD("keep use last ls result");
            copyMap(engine->segMap.get(), engine->lastSegMap.get());
        } else {
            *lsResult = 1;
            *thisScore = kNeutralScore;
            copyMap(engine->lastSegMap.get(), engine->segMap.get());
            engine->lastSegAecLux = aec_lux;
            engine->refAecLux = aec_lux;
        }
        engine->lastIsSegResult = countUp(c);
    } else if (c >= 1) {
        copyMap(engine->segMap.get(), engine->lastSegMap.get());
        *lsResult = 1;
        *thisScore = kNeutralScore;
        XEPO_LOGD("keep use ls result: %d", c);
        engine->lastIsSegResult = countUp(c);
    }
}

// First stable frame: the references that image similarity compares against.
void captureReferences(AeEngine* engine, float aec_lux) {
    engine->refAecLux = aec_lux;
    if (!engine->nccRefThumb) {
        engine->nccRefThumb = std::make_unique<uint8_t[]>(kThumbBytes);
    }
    std::memcpy(engine->nccRefThumb.get(), engine->grayThumb.get(), kThumbBytes);
    engine->nccRefValid = 1;

    // The temporary lives on the stack; zeroed so that a failed histogram
    // (logged by calcHist) leaves an empty reference, not stale memory.
    std::array<int32_t, kHistBins> hist{};
    (void)calcHist(engine->tavkit_handle, kModelSide, kModelSide, engine->rgbImage.get(),
                   hist.data());
    if (!engine->lastHist) {
        engine->lastHist = std::make_unique<int32_t[]>(kHistBins);
    }
    std::memcpy(engine->lastHist.get(), hist.data(), sizeof(int32_t) * kHistBins);
}

// Tenth stable frame: remember the scene.
void recordScene(AeEngine* engine, float thisScore, int32_t lsResult, const uint8_t* yPlane,
                 const uint8_t* uvPlane, int32_t width, int32_t height, int32_t stride,
                 int32_t planeHeight, int32_t yuv_format, int32_t rotation, bool flip,
                 float aec_lux, float scale, const float angle[3]) {
    HistoryEntry entry;

    // The driver skips the similarity step on this frame, so the RGB copy is
    // made here.
    const int32_t ret =
        yuvtoRGB(engine->tavkit_handle, yPlane, uvPlane, width, height, stride, planeHeight,
                 kModelSide, kModelSide, rotation, flip, yuv_format, engine->rgbImage.get());
    if (ret != 0) {
        XEPO_LOGE("yuvtoRGB failed %d", ret);
    }
    (void)calcHist(engine->tavkit_handle, kModelSide, kModelSide, engine->rgbImage.get(),
                   entry.hist.data());

    entry.score = thisScore;
    entry.enConfidence =
        engine->lastEnResult ? engine->lastEnResult[kEntranceSceneConfidence] : 0.0f;
    entry.enLsProb = engine->lastEnResult ? engine->lastEnResult[kEntranceLightScene] : 0.0f;
    entry.isSegResult = lsResult;
    entry.aecLux = aec_lux;
    entry.scale = scale;
    if (angle != nullptr) {
        std::memcpy(entry.imuAngle, angle, sizeof(entry.imuAngle));
    }

    if (engine->historyHist.size() > kMaxHistoryEntries - 1) {
        XEPO_LOGD("update historyHist update");
        engine->historyHist.pop_front();
    } else {
        XEPO_LOGD("update historyHist add");
    }
    engine->historyHist.push_back(entry);
}

}  // namespace

int32_t handleSegResultWhenMoving(AeEngine* engine, float* modelInput, int32_t rotation,
                                  float* thisScore) {
    if (engine == nullptr || thisScore == nullptr || !engine->segMap || !engine->lastSegMap) {
        XEPO_LOGE("handleSegResultWhenMoving engine, map buffers or score is null");
        return 0;
    }
    if (engine->isStable == kStableSteady) {
        return 0;
    }
    int32_t c = engine->lastIsSegResult;
    if (c == 0) {
        return 0;
    }
    if (c < kLastHeldMovingState) {
        if (engine->isStable == kStableNothingNew) {
            *thisScore = kNeutralScore;
            // segMap was cleared at the start of the frame: this drops the map.
            copyMap(engine->lastSegMap.get(), engine->segMap.get());
        }
        return 0;
    }

    *thisScore = kNeutralScore;
    c = std::min(c, 0) - 1;
    engine->lastIsSegResult = c;
    XEPO_LOGD("ls scene moving, keep ls result: %d", c);

    if (c != kMovingRefreshState) {
        copyMap(engine->segMap.get(), engine->lastSegMap.get());
        return 1;
    }

    XEPO_LOGD("update ls result, run ls model: %d", c);
    const int32_t ret = runLightSegModel(engine->lightSegRunner.get(), engine->tavkit_handle,
                                         modelInput, static_cast<uint32_t>(rotation),
                                         engine->lightSegOutput.get(), engine->segMap.get());
    if (ret != 0) {
        XEPO_LOGE("run ls model failed %d, use last ls result", ret);
        copyMap(engine->segMap.get(), engine->lastSegMap.get());
    } else {
        // Accepted whatever it shows.
        copyMap(engine->lastSegMap.get(), engine->segMap.get());
    }
    return 1;
}

float tryHitHistory(AeEngine* engine, float* this_result, float thisScore, float aec_lux,
                    float scale) {
    if (engine == nullptr || this_result == nullptr || !engine->curHist) {
        XEPO_LOGE("tryHitHistory engine, histogram or this_result is null");
        return thisScore;
    }
    if (engine->modelRunCount < kMinModelRunsForLookup || engine->isStable != kStableSteady ||
        engine->historyHist.empty() || engine->historyHitCount != 0 ||
        !isLookupCount(engine->lastIsStable)) {
        return thisScore;
    }

    for (size_t i = engine->historyHist.size(); i-- > 0;) {  // newest first
        const HistoryEntry& entry = engine->historyHist[i];
        const float s =
            histSimilarity(engine->curHist.get(), entry.hist.data(), kHistTotal, kHistTotal);
        const bool matches =
            entry.scale == scale && static_cast<double>(s) >= kHistoryHitSimilarity &&
            std::fabs(entry.aecLux - aec_lux) <= kHistoryMatchLux &&
            static_cast<double>(entry.enConfidence - *this_result) < kHistoryConfidenceMargin;
        if (!matches) {
            continue;
        }
        if (entry.isSegResult == 1) {
            XEPO_LOGD("hit ls history");
            return thisScore;
        }
        // Remembered scenes scored without a sure entrance verdict are not trusted.
        if (entry.enConfidence < kEntranceSureConfidence) {
            continue;
        }
        // Scores on the engine's scale lie in 11..44; an entry without a usable
        // score cannot serve as a ratio base and is passed over.
        if (!(entry.score > 0.0f) || !std::isfinite(entry.score)) {
            continue;
        }
        XEPO_LOGD("hit history, history_ae: %f, similarity: %f, history_aec_lux: %f, diff: %f",
                  static_cast<double>(entry.score), static_cast<double>(s),
                  static_cast<double>(entry.aecLux), static_cast<double>(entry.aecLux - aec_lux));
        const float score = historyHitScore(entry.score, engine->lastAeThisScore);
        *this_result = entry.enConfidence;
        engine->historyHitCount = 1;
        return score;
    }
    return thisScore;
}

void handleStableScene(AeEngine* engine, float* thisScore, int32_t* lsResult, const uint8_t* yPlane,
                       const uint8_t* uvPlane, int32_t width, int32_t height, int32_t stride,
                       int32_t planeHeight, int32_t yuv_format, int32_t rotation, bool flip,
                       int32_t reserved0, int32_t cameraType, float aec_lux, float scale,
                       const float angle[3]) {
    if (engine == nullptr || thisScore == nullptr || lsResult == nullptr || !engine->segMap ||
        !engine->lastSegMap || !engine->modelInput || !engine->rgbImage || !engine->grayThumb) {
        XEPO_LOGE("handleStableScene engine, its buffers or the frame values are null");
        return;
    }

    if (engine->historyHitCount == 1) {
        engine->historyHitCount = 2;  // keep the history score of this frame
    } else {
        *thisScore = engine->lastAeThisScore;
        if (engine->historyHitCount >= 2) {
            engine->historyHitCount = countUp(engine->historyHitCount);
        }
    }

    XEPO_LOGD(
        "handleStableScene, lastIsSegResult: %d, aec_lux: %f, lastSegAecLux: %f "
        "lastIsStable:%d",
        engine->lastIsSegResult, static_cast<double>(aec_lux),
        static_cast<double>(engine->lastSegAecLux), engine->lastIsStable);

    updateStableMap(engine, thisScore, lsResult, yPlane, uvPlane, width, height, stride,
                    planeHeight, yuv_format, rotation, flip, reserved0, cameraType, aec_lux, scale);

    if (engine->lastIsStable == kReferenceCount) {
        captureReferences(engine, aec_lux);
    }
    if (engine->lastIsStable == kRecordCount) {
        recordScene(engine, *thisScore, *lsResult, yPlane, uvPlane, width, height, stride,
                    planeHeight, yuv_format, rotation, flip, aec_lux, scale, angle);
    }
    engine->lastIsStable = countUp(engine->lastIsStable);
}

}  // namespace xepo
