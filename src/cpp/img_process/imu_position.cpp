#include "cpp/img_process/imu_position.h"

#include <cmath>

#include "xepo_log.h"

namespace xepo {

namespace {

// A block that starts more than 40 s after the last sample belongs to a new
// session of the sensor: integrating over such a gap would add a huge bogus
// rotation, so the track restarts from zero instead.
constexpr int64_t kMaxCarriedGapNs = 40000000001LL;  // first start gap that restarts

constexpr double kNanosecondsPerSecond = 1e9;

}  // namespace

int32_t IMUPositionEstimate(const float prevAngle[3], const uint64_t* lastTimestamp,
                            const IMUDataBlock* gyro, float angle[3]) {
    if (prevAngle == nullptr || lastTimestamp == nullptr || gyro == nullptr || angle == nullptr) {
        XEPO_LOGE("IMUPositionEstimate input null ptr. will do nothing.");
        return kImuTrackCarriedOn;
    }
    if (gyro->count < 1) {
        XEPO_LOGE("IMUPositionEstimate gyro item too less. will do nothing.");
        return kImuTrackCarriedOn;
    }
    // The record holds at most kImuMaxSamples samples; a larger count would read
    // past it, so such a block is rejected like an empty one.
    if (gyro->count > kImuMaxSamples) {
        XEPO_LOGE("IMUPositionEstimate gyro item count %d above %d. will do nothing.", gyro->count,
                  kImuMaxSamples);
        return kImuTrackCarriedOn;
    }

    uint64_t t = *lastTimestamp;
    int32_t status = kImuTrackCarriedOn;
    // Signed difference: a block older than the last sample also carries on.
    const int64_t startGap = static_cast<int64_t>(gyro->timestamp[0] - t);
    if (startGap < kMaxCarriedGapNs) {
        angle[0] = prevAngle[0];
        angle[1] = prevAngle[1];
        angle[2] = prevAngle[2];
    } else {
        XEPO_LOGD("IMUPositionEstimate gyro start timestamp too less, reset initial angle.");
        t = gyro->timestamp[0];
        angle[0] = 0.0f;
        angle[1] = 0.0f;
        angle[2] = 0.0f;
        status = kImuTrackRestarted;
    }

    for (int32_t i = 0; i < gyro->count; ++i) {
        const uint64_t ts = gyro->timestamp[i];
        if (ts > t) {
            const double dt = static_cast<double>(ts - t) / kNanosecondsPerSecond;
            angle[0] = static_cast<float>(static_cast<double>(gyro->gyroX[i]) * dt +
                                          static_cast<double>(angle[0]));
            angle[1] = static_cast<float>(static_cast<double>(gyro->gyroY[i]) * dt +
                                          static_cast<double>(angle[1]));
            angle[2] = static_cast<float>(static_cast<double>(gyro->gyroZ[i]) * dt +
                                          static_cast<double>(angle[2]));
        }
        t = ts;
    }
    return status;
}

float angleDistance(const float a[3], const float b[3]) {
    const float dx = a[0] - b[0];
    const float dy = a[1] - b[1];
    const float dz = a[2] - b[2];
    double sum = static_cast<double>(dx) * static_cast<double>(dx);
    sum += static_cast<double>(dy) * static_cast<double>(dy);
    sum += static_cast<double>(dz) * static_cast<double>(dz);
    return std::sqrt(static_cast<float>(sum));
}

}  // namespace xepo
