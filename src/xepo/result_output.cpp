// writeResultToOutput: the frame's answer, its confidence and the light-region
// map into the host's record, and the engine's memory of the last output.
#include "xepo/result_output.h"

#include <cstring>

#include "tavkit_api.h"
#include "xepo/decision_thresholds.h"
#include "xepo_log.h"

namespace xepo {
namespace {

// Confidences written with the answer.
constexpr float kHighConfidence = 0.9f;     // the entrance model is sure of the scene
constexpr float kMediumConfidence = 0.82f;  // only of high key
constexpr float kLowConfidence = 0.8f;      // of neither

// this_result above this still holds its start value (1.2): this frame ran no
// entrance model, so the confidence comes from the last one that did (double
// precision).
constexpr double kNoEntranceRunAbove = 1.1;

// Scores strictly between these are too close to neutral to be worth a change.
constexpr float kSnapToNeutralAbove = 16.0f;
constexpr float kSnapToNeutralBelow = 20.0f;

constexpr int32_t kLsResultLightRegion = 1;
constexpr int32_t kLsResultModelScore = 0;
constexpr int32_t kHoldFlagSet = 1;

}  // namespace

float entranceConfidence(const float* source) {
    if (source == nullptr) {
        // No entrance output to read (the engine was not fully made): the least
        // confidence the pipeline gives.
        return kLowConfidence;
    }
    if (source[kEntranceSceneConfidence] >= kEntranceSureConfidence) {
        return kHighConfidence;
    }
    return static_cast<double>(source[kEntranceHighKey]) >= kHighKeySure ? kMediumConfidence
                                                                         : kLowConfidence;
}

const float* confidenceSource(const AeEngine* engine, float this_result) {
    const bool noEntranceRun = static_cast<double>(this_result) > kNoEntranceRunAbove;
    return noEntranceRun ? engine->lastEnResult.get() : engine->enResult.get();
}

void writeMapRecord(XEPOSegMap* record, const uint8_t* map) {
    if (record == nullptr) {
        // The host must always pass a map record; without one only the map is skipped.
        XEPO_LOGE("result segMap record is null, map not written");
        return;
    }
    record->type = kTavkitFormatGray;
    record->width = kSegMapWidth;
    record->height = kSegMapHeight;
    if (record->data != nullptr && map != nullptr) {
        std::memcpy(record->data, map, kSegMapBytes);
    }
}

void writeResultToOutput(AeEngine* engine, _XEPO_RES_* res, int32_t lsResult, int32_t holdFlag,
                         float finalScore, float thisScore, float averageScore, float this_result) {
    if (engine == nullptr) {
        XEPO_LOGE("no engine, result not written");
        return;
    }
    float r = kNeutralScore;
    float confidence = kLowConfidence;

    if (lsResult == kLsResultLightRegion) {
        confidence = kLightRegionConfidence;
    }
    if (lsResult == kLsResultModelScore) {
        // This frame's map (all zeros unless a handler wrote it) ends the
        // light-region state.
        if (engine->segMap != nullptr && engine->lastSegMap != nullptr) {
            std::memcpy(engine->lastSegMap.get(), engine->segMap.get(), kSegMapBytes);
        }
        engine->lastIsSegResult = 0;
        const bool nearNeutral =
            finalScore > kSnapToNeutralAbove && finalScore < kSnapToNeutralBelow;
        r = nearNeutral ? kNeutralScore : finalScore;
    }
    if (lsResult != kLsResultLightRegion) {
        confidence = entranceConfidence(confidenceSource(engine, this_result));
    }

    float output = r;
    if (holdFlag == kHoldFlagSet) {
        output = engine->lastAeScore;
    } else {
        engine->lastAeScore = r;
        engine->lastAeThisScore = thisScore;
    }

    if (res == nullptr) {
        XEPO_LOGE("result record is null, result not written");
    } else {
        res->result = output;
        res->confidence = confidence;
        writeMapRecord(res->segMap, engine->segMap.get());
    }

    XEPO_LOGD("predict complete, this_albedo: %f final_albedo: %f result %f final_confidence: %f",
              thisScore, averageScore, r, confidence);
}

}  // namespace xepo
