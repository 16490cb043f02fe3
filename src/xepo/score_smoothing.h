// Mapping of albedo scores onto the output scale, and the smooth model's
// arbitration of lux changes.
#ifndef XEPO_SCORE_SMOOTHING_H
#define XEPO_SCORE_SMOOTHING_H

#include <cstdint>

#include "xepo/ae_engine.h"

namespace xepo {

// Lux-banded mapping of a model score (albedo fraction x 100) for the frame path.
float getSmoothScore(float score, int32_t modelRunCount, float aec_lux);
// The same mapping for the image-file entry.
float getSmoothScoreGT(float score, float aec_lux);
// Lets the smooth model arbitrate a lux change; returns the score that goes on
// to the crossing limit.
float applySmoothModel(AeEngine* engine, float candidate, float thisScore, float aec_lux,
                       float similarity);

}  // namespace xepo

#endif  // XEPO_SCORE_SMOOTHING_H
