// Writes the frame's answer into the host's result record.
#ifndef XEPO_RESULT_OUTPUT_H
#define XEPO_RESULT_OUTPUT_H

#include <cstdint>

#include "xepo.h"
#include "xepo/ae_engine.h"

namespace xepo {

void writeResultToOutput(AeEngine* engine, _XEPO_RES_* res, int32_t lsResult, int32_t holdFlag,
                         float finalScore, float thisScore, float averageScore, float this_result);

}  // namespace xepo

#endif  // XEPO_RESULT_OUTPUT_H
