#include "session_motion.h"

#include <algorithm>
#include <cmath>

namespace {

// Shares of a pan session (see planMotion).
constexpr double kPanRestShare = 0.25;
constexpr double kPanSweepShare = 0.2;

constexpr double kNanosPerSecond = 1e9;

std::vector<CameraPose> planPan(int frames, double maxYaw) {
    std::vector<CameraPose> poses(static_cast<size_t>(frames));
    const int rest = static_cast<int>(std::lround(frames * kPanRestShare));
    int sweep = std::max(1, static_cast<int>(std::lround(frames * kPanSweepShare)));
    double step = 2.0 * maxYaw / sweep;
    if (step > kMaxPanTurn) {
        step = kMaxPanTurn;
    } else if (step < kMinFrameTurn) {
        step = kMinFrameTurn;
        sweep = static_cast<int>(std::floor(2.0 * maxYaw / kMinFrameTurn));
    }
    if (sweep < 1) {
        return poses;  // no room to pan: the camera stays where it is
    }
    const double start = -0.5 * step * sweep;
    int frame = 0;
    auto hold = [&](int count, double yaw) {
        for (int i = 0; i < count && frame < frames; ++i) {
            poses[static_cast<size_t>(frame++)].yaw = yaw;
        }
    };
    hold(rest, start);
    for (int i = 1; i <= sweep && frame < frames; ++i) {
        poses[static_cast<size_t>(frame++)].yaw = start + step * i;
    }
    hold(rest, start + step * sweep);
    for (int i = sweep - 1; i >= 0 && frame < frames; --i) {
        poses[static_cast<size_t>(frame++)].yaw = start + step * i;
    }
    hold(frames - frame, start);
    return poses;
}

// One random step that keeps `angle` inside [-limit, limit] when it can.
double reflectedStep(double angle, double magnitude, bool positive, double limit) {
    const double step = positive ? magnitude : -magnitude;
    return std::fabs(angle + step) > limit ? -step : step;
}

std::vector<CameraPose> planShake(int frames, double maxYaw, double maxPitch, uint64_t seed) {
    std::vector<CameraPose> poses(static_cast<size_t>(frames));
    SeededRandom random(seed);
    for (size_t i = 1; i < poses.size(); ++i) {
        const CameraPose& last = poses[i - 1];
        const double turn = kMinFrameTurn + (kMaxShakeTurn - kMinFrameTurn) * random.unit();
        const bool right = random.coin();
        const double tilt = kMaxShakeTilt * random.unit();
        const bool down = random.coin();
        poses[i].yaw = last.yaw + reflectedStep(last.yaw, turn, right, maxYaw);
        poses[i].pitch = last.pitch + reflectedStep(last.pitch, tilt, down, maxPitch);
    }
    return poses;
}

uint64_t sampleTime(uint64_t sample) {
    return kGyroStartNs + sample * 1000000000ull / kGyroSampleRateHz;
}

}  // namespace

bool parseMotionKind(const std::string& text, MotionKind& kind) {
    if (text == "still") {
        kind = MotionKind::Still;
    } else if (text == "pan") {
        kind = MotionKind::Pan;
    } else if (text == "shake") {
        kind = MotionKind::Shake;
    } else {
        return false;
    }
    return true;
}

std::vector<CameraPose> planMotion(MotionKind kind, int frames, double maxYaw, double maxPitch,
                                   uint64_t seed) {
    frames = std::max(frames, 0);
    maxYaw = std::max(maxYaw, 0.0);
    maxPitch = std::max(maxPitch, 0.0);
    switch (kind) {
        case MotionKind::Pan:
            return planPan(frames, maxYaw);
        case MotionKind::Shake:
            return planShake(frames, maxYaw, maxPitch, seed);
        case MotionKind::Still:
            break;
    }
    return std::vector<CameraPose>(static_cast<size_t>(frames));
}

IMUDataBlock gyroBlockForFrame(int index, const CameraPose& from, const CameraPose& to) {
    IMUDataBlock block{};
    block.count = kGyroSamplesPerFrame;
    // The frame's interval runs from its predecessor's last sample to its own.
    const uint64_t first = static_cast<uint64_t>(index) * kGyroSamplesPerFrame;
    const double seconds =
        static_cast<double>(sampleTime(first + kGyroSamplesPerFrame) - sampleTime(first)) /
        kNanosPerSecond;
    const float yawRate = static_cast<float>((from.yaw - to.yaw) / seconds);
    const float pitchRate = static_cast<float>((from.pitch - to.pitch) / seconds);
    for (int i = 0; i < kGyroSamplesPerFrame; ++i) {
        block.timestamp[i] = sampleTime(first + 1 + static_cast<uint64_t>(i));
        block.gyroX[i] = pitchRate;
        block.gyroY[i] = yawRate;
        block.gyroZ[i] = 0.0f;
    }
    return block;
}
