// The driver's own small steps: the hold output of a still capture or zoom
// switch, the five-frame average, the choice between the frame's score and
// that average, and the last limit on the score.
#ifndef XEPO_SCORE_COMBINATION_H
#define XEPO_SCORE_COMBINATION_H

#include "xepo.h"
#include "xepo/ae_engine.h"

namespace xepo {

// Writes the last output again (used while a still capture is taken or the
// zoom switches) and takes over this frame's lux and zoom.
void writeHoldResult(AeEngine* engine, _XEPO_RES_* result, float this_result, float aec_lux,
                     float scale);

// Appends `score` and returns the average of the last five; -1 only queries.
float pushScoreAverage(ScoreAverage* average, float score);

// Chooses between this frame's score `s` and the average `a`.
float selectScore(const AeEngine* engine, float s, float a, float aec_lux);

// Keeps the output of the first stable frame after an unstable run from
// crossing the neutral value away from the last output.
float limitScoreCrossing(const AeEngine* engine, bool cameraFirst, float s, float aec_lux,
                         float similarity);

}  // namespace xepo

#endif  // XEPO_SCORE_COMBINATION_H
