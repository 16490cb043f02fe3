// Gyro step of the frame pipeline: integrates the frame's gyro samples, measures
// the movement since the previous frame and classifies the frame's stability
// from that movement and from the change of the camera's lux index.
#ifndef XEPO_GYRO_STABILITY_H
#define XEPO_GYRO_STABILITY_H

#include <cstdint>

#include "xepo.h"
#include "xepo/ae_engine.h"

namespace xepo {

// Stability classes written to AeEngine::isStable.
constexpr int32_t kStableSteady = 1;        // lux steady
constexpr int32_t kStableNothingNew = 0;    // lux jumped, dark scene, or nothing to recompute
constexpr int32_t kStableLuxDrifting = -1;  // lux drifting a little
constexpr int32_t kStableLuxMoving = -3;    // lux moving
constexpr int32_t kStableJustSettled = -4;  // the device has just stopped moving

// Rest codes returned in is_gyro_stable.
constexpr int32_t kGyroNotResting = 0;   // moving, resting under 3 s, or no measurable distance
constexpr int32_t kGyroRestingLong = 1;  // at rest for at least 3 s of processor time
constexpr int32_t kGyroCameToRest = 2;   // came to rest on this frame

// Below this angle distance between two frames the device counts as still;
// compared in double precision.
constexpr double kStillGyroDistance = 0.015;
// At or below this distance nothing was measured (no sample moved the track),
// which is not taken as stillness; compared in double precision.
constexpr double kMinGyroDistance = 1e-6;

// Movement reported for a frame whose gyro block is missing or holds a sample
// count outside 1..kImuMaxSamples: clearly above the stillness threshold, so
// that no rest, stillness or settling is inferred without measurements.
constexpr float kUnknownMotionDistance = 1.0f;

// Runs the gyro step of one frame. `now` is the processor-time clock of the
// frame call in microseconds. Returns the frame's gyro_similarity (the angle
// distance moved since the previous frame, always finite), writes the rest code
// to *is_gyro_stable, sets AeEngine::isStable, may set *thisScore to 18.0 (at
// rest in a dark scene), and leaves this frame's angles in `angle`.
//
// A null `gyro` or a sample count outside 1..kImuMaxSamples skips integration:
// the angle track (angles, last sample time, last status) stays untouched,
// `angle` receives the previous angles, the frame counts as moving
// (kUnknownMotionDistance, rest code 0) and the lux rules still apply.
// Null output pointers are skipped; a null engine gives 0 and rest code 0.
float processGyroAndStability(AeEngine* engine, const IMUDataBlock* gyro, int64_t now,
                              int32_t* is_gyro_stable, float* thisScore, float angle[3],
                              float aec_lux);

}  // namespace xepo

#endif  // XEPO_GYRO_STABILITY_H
