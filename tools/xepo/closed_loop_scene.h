// The scene of the closed-loop simulation: a photograph taken as the light of
// the world in front of the camera.
#ifndef XEPO_TOOL_CLOSED_LOOP_SCENE_H
#define XEPO_TOOL_CLOSED_LOOP_SCENE_H

#include <cstdint>
#include <vector>

#include "session_frames.h"

// Highlight boost the simulation uses unless asked otherwise: lamps and sky
// clipped in the file are taken as four times (two EV) brighter than white.
constexpr double kDefaultHighlightBoost = 4.0;
// Largest boost accepted: 64 is six EV above the file's white, more than any
// preview exposure range needs, and keeps every product in 64 bits.
constexpr double kMaxHighlightBoost = 64.0;

// The scene's radiance: linear RGB (interleaved, kLinearOne = the file's
// white) at the photograph's size. Exposing it by EV 0 gives back the file.
struct Scene {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> radiance;
};

// Linearises the photograph with the sRGB transfer function. A channel at 255
// was clipped when the photograph was taken, so its light is unknown but at
// least white: it is taken as `boost` times white (1 leaves it at white), and
// it stays clipped when the exposure drops by up to log2(boost) EV.
Scene makeScene(const SourcePhoto& photo, double boost);

#endif  // XEPO_TOOL_CLOSED_LOOP_SCENE_H
