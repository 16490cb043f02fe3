// Writes the frame's answer into the host's result record.
#ifndef XEPO_RESULT_OUTPUT_H
#define XEPO_RESULT_OUTPUT_H

#include <cstdint>

#include "xepo.h"
#include "xepo/ae_engine.h"

namespace xepo {

// Confidence of an answer that rests on a light-region map.
constexpr float kLightRegionConfidence = 0.92f;

// Confidence from an entrance output: 0.9 when its scene confidence is sure
// (kEntranceSureConfidence), else 0.82 when its high-key confidence is
// (kHighKeySure), else 0.8 (also for a null output).
float entranceConfidence(const float* source);
// The entrance output a frame's confidence comes from: lastEnResult when the
// frame ran no entrance model (this_result still above 1.1), else enResult.
const float* confidenceSource(const AeEngine* engine, float this_result);
// Fills the host's map record (format 9, 64 x 48) and copies `map` into its data
// when both are present; a null record is logged and skipped.
void writeMapRecord(XEPOSegMap* record, const uint8_t* map);

void writeResultToOutput(AeEngine* engine, _XEPO_RES_* res, int32_t lsResult, int32_t holdFlag,
                         float finalScore, float thisScore, float averageScore, float this_result);

}  // namespace xepo

#endif  // XEPO_RESULT_OUTPUT_H
