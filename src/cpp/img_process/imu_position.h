// Gyro integration: turns the angular-rate samples of one frame into three
// integrated angles, and measures how far two angle triples lie apart.
#ifndef XEPO_IMU_POSITION_H
#define XEPO_IMU_POSITION_H

#include <cstdint>

#include "xepo.h"

namespace xepo {

// Status of IMUPositionEstimate.
constexpr int32_t kImuTrackCarriedOn =
    1;  // angles continue from prevAngle (also on rejected input)
constexpr int32_t kImuTrackRestarted = 0;  // angles restarted from zero

// Integrates `gyro` into `angle`, starting from `prevAngle` when the block
// follows the previous one (last sample time `*lastTimestamp`) within 40 s, and
// from zero otherwise. Rejected input (a null pointer, or a sample count outside
// 1..kImuMaxSamples) is logged, leaves `angle` unwritten and returns
// kImuTrackCarriedOn.
int32_t IMUPositionEstimate(const float prevAngle[3], const uint64_t* lastTimestamp,
                            const IMUDataBlock* gyro, float angle[3]);

// Euclidean distance of two angle triples: single-precision differences, squares
// summed in double precision, single-precision square root.
float angleDistance(const float a[3], const float b[3]);

}  // namespace xepo

#endif  // XEPO_IMU_POSITION_H
