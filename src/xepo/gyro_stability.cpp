#include "xepo/gyro_stability.h"

#include <cmath>
#include <cstring>

#include "cpp/img_process/imu_position.h"
#include "xepo/decision_thresholds.h"
#include "xepo_log.h"

namespace xepo {

namespace {

// Seconds of uninterrupted stillness after which the device counts as resting.
constexpr float kLongRestSeconds = 3.0f;
// The processor-time clock counts microseconds.
constexpr double kTicksPerSecond = 1000000.0;

// Lux change bands of the stability class: under 0.3 the exposure is steady
// (double precision), under 1.0 it drifts, under 37.0 it moves, above it jumps.
constexpr double kSteadyLuxChange = 0.3;
constexpr float kDriftingLuxChange = 1.0f;
constexpr float kMovingLuxChange = 37.0f;

// (Above kDarkLuxEdge the scene is dark: nothing to score, and its lux becomes
// the reference.)
// A device resting for 3 s whose reference scene was at least this dark keeps
// the neutral score.
constexpr float kDarkRestReferenceLux = 440.0f;

bool isValidGyroBlock(const IMUDataBlock* gyro) {
    return gyro != nullptr && gyro->count >= 1 && gyro->count <= kImuMaxSamples;
}

// Rest code from this frame's distance g and the previous frame's distance L;
// starts the rest timer on the frame that comes to rest.
int32_t restCode(AeEngine* engine, float g, float L, int64_t now) {
    const bool still =
        static_cast<double>(g) > kMinGyroDistance && static_cast<double>(g) < kStillGyroDistance;
    if (!still) {
        return kGyroNotResting;
    }
    if (static_cast<double>(L) > kStillGyroDistance) {
        engine->stillSinceTicks = now;
        return kGyroCameToRest;
    }
    if (static_cast<double>(L) < kStillGyroDistance) {
        // Wrapping subtraction: a clock that jumped backwards gives a negative
        // difference rather than undefined behaviour.
        const int64_t elapsed = static_cast<int64_t>(
            static_cast<uint64_t>(now) - static_cast<uint64_t>(engine->stillSinceTicks));
        const float seconds = static_cast<float>(static_cast<double>(elapsed) / kTicksPerSecond);
        if (seconds >= kLongRestSeconds) {
            return kGyroRestingLong;
        }
    }
    return kGyroNotResting;
}

// Stability class from the movement and the change of the lux index.
int32_t stabilityClass(float g, float L, bool kept, float aec_lux, float lastAecLux) {
    if (static_cast<double>(L) > kStillGyroDistance && kept &&
        static_cast<double>(g) < kStillGyroDistance) {
        return kStableJustSettled;
    }
    const float d = std::fabs(aec_lux - lastAecLux);
    if (static_cast<double>(d) < kSteadyLuxChange) {
        return kStableSteady;
    }
    if (d < kDriftingLuxChange) {
        return kStableLuxDrifting;
    }
    if (d < kMovingLuxChange) {
        return kStableLuxMoving;
    }
    return kStableNothingNew;  // a jump of 37 or more, or a lux that is not a number
}

}  // namespace

float processGyroAndStability(AeEngine* engine, const IMUDataBlock* gyro, int64_t now,
                              int32_t* is_gyro_stable, float* thisScore, float angle[3],
                              float aec_lux) {
    if (engine == nullptr) {
        XEPO_LOGE("processGyroAndStability engine is null");
        if (is_gyro_stable != nullptr) {
            *is_gyro_stable = kGyroNotResting;
        }
        return 0.0f;
    }

    // This frame's angles; a block that IMUPositionEstimate rejects leaves the
    // previous angles here, so the frame moved by 0.
    float current[3] = {engine->imuAngle[0], engine->imuAngle[1], engine->imuAngle[2]};
    const float L = engine->last_gyrosimilarity;
    float g = 0.0f;
    int32_t code = kGyroNotResting;
    bool kept = false;

    if (isValidGyroBlock(gyro)) {
        const int32_t r =
            IMUPositionEstimate(engine->imuAngle, &engine->lastGyroTimestamp, gyro, current);
        kept = (r == kImuTrackCarriedOn && engine->lastImuStatus == kImuTrackCarriedOn);
        engine->lastImuStatus = r;

        g = angleDistance(engine->imuAngle, current);
        if (!std::isfinite(g)) {
            XEPO_LOGE("gyro_similarity is nan or inf, reset to 0");
            g = 0.0f;
        }

        code = restCode(engine, g, L, now);

        std::memcpy(engine->imuAngle, current, sizeof(current));
        engine->lastGyroTimestamp = gyro->timestamp[gyro->count - 1];
    } else {
        XEPO_LOGE("gyro block missing or sample count %d outside 1..%d, frame taken as moving",
                  gyro == nullptr ? 0 : gyro->count, kImuMaxSamples);
        g = kUnknownMotionDistance;
    }

    engine->isStable = stabilityClass(g, L, kept, aec_lux, engine->lastAecLux);
    XEPO_LOGD("aec_lux: %f gyro_similarity: %f isStable %d last_gyrosimilarity:%f ",
              static_cast<double>(aec_lux), static_cast<double>(g), engine->isStable,
              static_cast<double>(L));
    engine->last_gyrosimilarity = g;

    if (aec_lux > kDarkLuxEdge) {
        engine->isStable = kStableNothingNew;
        engine->refAecLux = aec_lux;
    }

    if (code == kGyroRestingLong && engine->refAecLux >= kDarkRestReferenceLux) {
        if (thisScore != nullptr) {
            *thisScore = kNeutralScore;
        }
        engine->isStable = kStableNothingNew;
        XEPO_LOGD("gyro is stable and aec_lux is dark");
    }

    if (angle != nullptr) {
        std::memcpy(angle, current, sizeof(current));
    }
    if (is_gyro_stable != nullptr) {
        *is_gyro_stable = code;
    }
    return g;
}

}  // namespace xepo
