// Values the host and the engine agree on beyond the records of xepo.h: the
// frame format the frame entries take, what `control` asks for, and the
// confidences an answer carries. The engine, the tools and the Python module
// all read them from here.
#ifndef XEPO_CONTRACT_H
#define XEPO_CONTRACT_H

#include <cstdint>

namespace xepo {

// Format code of the camera's semi-planar frame (NV21: Y plane, then V/U
// pairs), the only one the frame entries take.
constexpr int32_t kFrameFormatNv21 = 17;

// --- Values of `control`
constexpr int kControlNeutral = -1;      // no model: the neutral answer
constexpr int kControlEntranceOnly = 0;  // the entrance model only
constexpr int kControlAlbedoOnly = 1;    // the albedo model only
// The image entry only: entrance and light segmentation, with the light map.
// On the frame entries this, like every other value, runs the full pipeline.
constexpr int kControlLightSeg = 3;

// --- Confidences an answer carries
// The engine stands by the answer: the entrance model was sure of the scene,
// or the answer needs no model (the neutral answer, a hold before any entrance
// output, the image entry's fixed answers).
constexpr float kConfidenceSure = 0.9f;
// Only the entrance model's high-key mark was sure.
constexpr float kConfidenceHighKey = 0.82f;
// Neither was.
constexpr float kConfidenceUnsure = 0.8f;
// The answer rests on a light-region map.
constexpr float kConfidenceLightMap = 0.92f;

}  // namespace xepo

#endif  // XEPO_CONTRACT_H
