// Frames that are not judged stable: keep or damp the last score without
// models, or score the frame afresh with the models.
#ifndef XEPO_UNSTABLE_SCENE_H
#define XEPO_UNSTABLE_SCENE_H

#include <cstdint>

#include "xepo/ae_engine.h"

namespace xepo {

// The picture has not changed (or the lux jumped) on an engine that has seen
// frames before: no model runs; the last score stays or is pulled toward 18.
void handleNotStableNotCameraFirst(AeEngine* engine, float* thisScore, float aec_lux,
                                   float similarity);

// Runs the entrance model, then the albedo or light-segmentation model or a
// fallback, and blends the new score with the last one and a matching
// remembered scene.
void handleUnstableScene(AeEngine* engine, float* thisScore, float* this_result, float* use_ae_aver,
                         int32_t* lsResult, int32_t holdFlag, bool enable_seg,
                         int32_t is_gyro_stable, bool cameraFirst, const uint8_t* yPlane,
                         const uint8_t* uvPlane, int32_t width, int32_t height, int32_t stride,
                         int32_t planeHeight, int32_t yuv_format, int32_t rotation, bool flip,
                         int32_t reserved0, int32_t cameraType, float aec_lux,
                         float gyro_similarity, float similarity, float ncc_similarity, float scale,
                         const float angle[3]);

// Entrance confidence needed to trust the albedo model: lower while the
// engine has scored only a few frames since creation.
float entranceConfidenceThreshold(int32_t modelRunCount);

}  // namespace xepo

#endif  // XEPO_UNSTABLE_SCENE_H
