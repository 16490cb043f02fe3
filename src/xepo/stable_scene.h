// Stable-scene steps of the frame pipeline: the hold of the light-region map
// while the camera moves, the look-up of earlier stable scenes with the same
// picture, lux and zoom, and the handler of a frame judged stable (keeps the
// last score, captures the similarity references, records the scene).
#ifndef XEPO_STABLE_SCENE_H
#define XEPO_STABLE_SCENE_H

#include <cstdint>

#include "xepo/ae_engine.h"

namespace xepo {

// Light-region map state (AeEngine::lastIsSegResult) on a frame that is not
// stable: holds the last accepted map in segMap for 30 moving frames,
// refreshing it with the light-segmentation model on the 15th, then lets it go.
// `modelInput` is the buffer the refresh runs on (the last prepared input).
// Returns the frame's starting lsResult: 1 while the held map is in force, else 0.
int32_t handleSegResultWhenMoving(AeEngine* engine, float* modelInput, int32_t rotation,
                                  float* thisScore);

// On the stable frames counted 1, 4 and 7 (and only up to the first hit of a
// stable period), looks for a remembered scene with the same zoom, a histogram
// similarity of 0.97 or more and a lux within 2.0, and takes over its score
// (limited to 10 % above it). On a hit sets *this_result to the entry's
// confidence and historyHitCount to 1. Returns the new score, or `thisScore`
// unchanged.
float tryHitHistory(AeEngine* engine, float* this_result, float thisScore, float aec_lux,
                    float scale);

// A frame judged stable: keeps the last score (or the history score of a hit),
// holds or refreshes the light-region map, captures the similarity references
// on the first stable frame, records the scene in the history on the tenth, and
// counts the frame in lastIsStable. The frame description is handed through to
// the preprocessing operations.
void handleStableScene(AeEngine* engine, float* thisScore, int32_t* lsResult, const uint8_t* yPlane,
                       const uint8_t* uvPlane, int32_t width, int32_t height, int32_t stride,
                       int32_t planeHeight, int32_t yuv_format, int32_t rotation, bool flip,
                       int32_t reserved0, int32_t cameraType, float aec_lux, float scale,
                       const float angle[3]);

}  // namespace xepo

#endif  // XEPO_STABLE_SCENE_H
