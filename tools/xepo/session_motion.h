// Camera motion of a synthesized session: where the camera points on every
// frame, and the gyro samples that such a motion produces.
#ifndef XEPO_TOOL_SESSION_MOTION_H
#define XEPO_TOOL_SESSION_MOTION_H

#include <cstdint>
#include <string>
#include <vector>

#include "xepo.h"

enum class MotionKind { Still, Pan, Shake };

// Parses "still", "pan" or "shake"; false for anything else.
bool parseMotionKind(const std::string& text, MotionKind& kind);

// Gyro timing: samples at 240 Hz, eight per frame, so frames come at 30 Hz.
constexpr int kGyroSamplesPerFrame = 8;
constexpr uint64_t kGyroSampleRateHz = 240;
// Time of the first sample: well past the start of the device's clock, as on a
// phone that has been running for a while.
constexpr uint64_t kGyroStartNs = 1000ull * 1000000000ull;

// A frame that moves turns the camera by at least this much (radians). The
// engine takes a turn between 1e-6 and 0.015 rad as the device being at rest,
// and after 3 s of processor time at rest it changes its answer; processor time
// differs between machines and runs, so synthesized motion never lingers in
// that band: a frame either does not turn at all or turns clearly.
constexpr double kMinFrameTurn = 0.03;
// Fastest pan step per frame (0.08 rad at 30 Hz is 2.4 rad/s, a quick sweep).
constexpr double kMaxPanTurn = 0.08;
// Shake steps lie in [kMinFrameTurn, kMaxShakeTurn] on the horizontal axis and
// up to kMaxShakeTilt on the vertical one.
constexpr double kMaxShakeTurn = 0.06;
constexpr double kMaxShakeTilt = 0.02;

// splitmix64: a small seeded generator whose sequence is the same on every
// machine (integer arithmetic only).
class SeededRandom {
  public:
    explicit SeededRandom(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool coin() { return (next() >> 63) != 0; }

  private:
    uint64_t state_;
};

// Where the camera points, in radians from the start of the image's centre:
// yaw positive to the right, pitch positive downwards.
struct CameraPose {
    double yaw = 0.0;
    double pitch = 0.0;
};

// The poses of `frames` frames. Yaw stays within [-maxYaw, maxYaw] and pitch
// within [-maxPitch, maxPitch] (both at least 0).
//  - still: every pose is (0, 0).
//  - pan: a quarter of the frames at rest at the left end, a pan to the right,
//    a quarter at rest, a pan back to the same start, rest to the end; the pan
//    fills a fifth of the frames unless the step would leave
//    [kMinFrameTurn, kMaxPanTurn], in which case it is shorter.
//  - shake: from frame 1 on, every frame turns by a seeded random step (see the
//    constants above), reflected at the range ends.
// Frame 0 is always at its pose without turning.
std::vector<CameraPose> planMotion(MotionKind kind, int frames, double maxYaw, double maxPitch,
                                   uint64_t seed);

// The gyro block of frame `index`: eight samples whose rates turn the camera
// from `from` to `to` over the frame's interval. gyroY carries the yaw rate
// with the device's sign (turning right is negative about the up axis), gyroX
// the pitch rate (tilting down is negative), gyroZ is zero.
IMUDataBlock gyroBlockForFrame(int index, const CameraPose& from, const CameraPose& to);

#endif  // XEPO_TOOL_SESSION_MOTION_H
