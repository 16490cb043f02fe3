#include "closed_loop_scene.h"

#include <cmath>

#include "closed_loop_tone.h"

namespace {
// The code a clipped channel has in the file.
constexpr uint8_t kClippedCode = 255;
}  // namespace

Scene makeScene(const SourcePhoto& photo, double boost) {
    Scene scene;
    scene.width = photo.width;
    scene.height = photo.height;
    const std::array<uint32_t, kCodeCount>& linear = linearOfCode();
    const uint32_t clipped =
        static_cast<uint32_t>(std::llround(static_cast<double>(kLinearOne) * boost));
    scene.radiance.resize(photo.rgb.size());
    for (size_t i = 0; i < photo.rgb.size(); ++i) {
        const uint8_t code = photo.rgb[i];
        scene.radiance[i] = code == kClippedCode ? clipped : linear[code];
    }
    return scene;
}
