// The camera of the closed-loop simulation: it exposes the scene, reports a
// lux index for the exposure it chose, and its host moves the exposure toward
// the target an exposure policy names.
#ifndef XEPO_TOOL_CLOSED_LOOP_CAMERA_H
#define XEPO_TOOL_CLOSED_LOOP_CAMERA_H

#include <cstdint>
#include <vector>

#include "closed_loop_scene.h"
#include "session_frames.h"
#include "session_motion.h"

// Host exposure control.
// A host limits every move so that one odd frame cannot swing the exposure far.
constexpr double kMaxStepEv = 1.0;
// The exposure range around the photographer's: shutter times and gains of a
// phone's preview cover about sixteen stops.
constexpr double kExposureLimitEv = 8.0;
// Scores are targets in percent of white: 18 asks for a mean of 0.18.
constexpr double kScorePerTarget = 100.0;
// A black frame measures as the smallest step of the linear scale, so the
// logarithm of target over measured stays finite (and the step is clamped).
constexpr double kMeasuredFloor = 1.0 / 65536.0;
// Move speed unless asked otherwise: half of the remaining way (in EV) per frame.
constexpr double kDefaultSpeed = 0.5;

// Lux index of the exposure (larger = darker): the index is a log of the
// exposure the camera applies, 3 % of exposure per index step, so one EV is
// 1 / log2(1.03) = 23.45 steps.
constexpr double kLuxPerEv = 23.45;
// The index of the scene at the photographer's exposure unless asked otherwise.
constexpr double kDefaultBaseLux = 300.0;

// One rendered frame: 8-bit sRGB (interleaved) and the same frame as NV21.
struct CameraFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    std::vector<uint8_t> nv21;
};

// The gain of an exposure of `ev` in kLinearOne units (2^ev, rounded).
uint64_t exposureGain(double ev);

class SimCamera {
  public:
    // A camera of width x height (even sides) over `scene`, with sensor noise of
    // standard deviation `noise` in 8-bit code values (0: none) drawn from `seed`.
    SimCamera(const Scene& scene, int width, int height, double noise, uint64_t seed);

    // Renders the crop window `window` exposed by `ev`: bilinear sample of the
    // radiance, times 2^ev, clipped at white, sRGB-encoded to 8 bits, noise
    // added, then NV21. The sampled window is kept while `window` stays the
    // same, and the table from radiance to code while `ev` does.
    void render(const WindowRect& window, double ev, CameraFrame& frame);

  private:
    void sampleWindow(const WindowRect& window);
    void buildCodeTable(uint64_t gain);

    const Scene& scene_;
    int width_;
    int height_;
    double noiseScale_;
    SeededRandom random_;
    bool sampled_ = false;
    WindowRect sampledWindow_;
    // The window at the output size as radiance levels (see the .cpp).
    std::vector<uint16_t> window_;
    uint64_t tableGain_ = 0;
    std::vector<uint8_t> codeOfLevel_;  // 8-bit code of each level at tableGain_
};

// Mean linear luminance (0 = black, 1 = white) of an 8-bit sRGB frame of
// `pixels` pixels, as the host measures it.
double meanLinearLuminance(const uint8_t* rgb, size_t pixels);

// The lux index the camera reports for exposure `ev`: base + kLuxPerEv * ev,
// never below 0.
float luxIndexForExposure(double baseLux, double ev);

// The host's next exposure after a frame taken at `ev` measured `measured`
// (mean linear luminance) and the policy answered `score`: it moves by
// speed * log2(target / measured) with target = score / 100, each move clamped
// to kMaxStepEv and the exposure to kExposureLimitEv. A score that is not a
// positive number leaves the exposure where it is.
double nextExposure(double ev, double measured, double score, double speed);

#endif  // XEPO_TOOL_CLOSED_LOOP_CAMERA_H
