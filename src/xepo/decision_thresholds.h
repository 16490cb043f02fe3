// Thresholds that several decision steps share, and what each of the entrance
// model's outputs means. Each value here has this one definition; a threshold
// that only one step uses stays in that step's file, named there.
//
// A constant's type is the precision its comparisons are made in. A step that
// compares a double threshold in single precision converts it where it does so.
#ifndef XEPO_DECISION_THRESHOLDS_H
#define XEPO_DECISION_THRESHOLDS_H

#include <cstdint>

namespace xepo {

// --- The entrance model's four outputs (enResult, lastEnResult); [0] is not read.
// How sure the model is that the frame shows a scene it can judge.
constexpr int kEntranceSceneConfidence = 1;
// How sure it is that the scene is high key: bright and nearly colourless.
constexpr int kEntranceHighKey = 2;
// How likely light sources are in view.
constexpr int kEntranceLightScene = 3;

// Scene confidence from which the model's verdict is trusted: the albedo model
// scores the frame, a remembered scene may stand in for it, and the answer goes
// out with the high confidence.
constexpr float kEntranceSureConfidence = 0.73f;
// High-key confidence from which a scene is scored even without a sure scene
// confidence, and its score raised.
constexpr double kHighKeySure = 0.8;
// Light-scene probability from which light sources are looked for and a bright
// score raised.
constexpr double kLightSceneSure = 0.3;

// --- Albedo scores
// The albedo model answers a fraction; scores are that fraction in percent.
constexpr float kAlbedoToScore = 100.0f;
// Scenes marked high key or light are raised only from this score on, as darker
// scores are not what the marks describe...
constexpr float kRaiseFromScore = 25.0f;
// ...and by this much each time.
constexpr float kRaiseStep = 4.0f;

// --- Lux index bands (a larger index is a darker scene)
// At or below: too bright for a model score, the camera's own exposure is
// trusted; the albedo model and a kept score need more than this.
constexpr float kBrightLuxEdge = 150.0f;
// Splits the lux range where model scores count into a brighter and a darker
// band, which map scores differently; above it lies the band where keeping the
// last score is safe.
constexpr float kLuxBandSplit = 210.0f;
// At or above: too dark for a model score; above it nothing is scored.
constexpr float kDarkLuxEdge = 400.0f;

// --- Stable-period counts (AeEngine::lastIsStable)
// On the stable frames counted 4 and 7 the scene is scored afresh by the models
// (and compared again), so that a stable scene cannot drift away unnoticed.
constexpr int32_t kFirstRecheckCount = 4;
constexpr int32_t kSecondRecheckCount = 7;

inline bool isRecheckCount(int32_t lastIsStable) {
    return lastIsStable == kFirstRecheckCount || lastIsStable == kSecondRecheckCount;
}

}  // namespace xepo

#endif  // XEPO_DECISION_THRESHOLDS_H
