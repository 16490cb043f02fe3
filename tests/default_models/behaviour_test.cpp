// Behaviour of the default models on the host runtime, run as the engine runs
// them: a QDNNRunner per file, backend "NEURON", the engine's buffer sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "qdnn_runner/qdnn_runner.h"

namespace {

constexpr int kSize = 224;
constexpr int kGrid = kSize / 4;  // the light map's 4x4 cells
constexpr size_t kLightFloats = kGrid * kGrid * 2;
// Floats after the engine's buffer that must stay untouched.
constexpr size_t kGuardFloats = 64;
// The engine's thresholds on entrance[1] (scene) and entrance[3] (light scene).
constexpr float kSceneThreshold = 0.73f;
constexpr float kLightSceneThreshold = 0.3f;
// Mean cell luminance (0..1) above which a cell is light, and a band around it
// where float rounding may decide either way.
constexpr float kLightPivot = 0.92f;
constexpr float kPivotBand = 0.005f;

using Picture = std::function<float(int x, int y)>;  // 8-bit gray value per pixel

// The normalised NHWC input the engine makes of a gray picture.
std::vector<float> input(const Picture& gray) {
    std::vector<float> values;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            values.insert(values.end(), 3, (gray(x, y) - 127.5f) / 127.5f);
        }
    }
    return values;
}

Picture flat(float v) {
    return [v](int, int) { return v; };
}

// A saturated disc on a dark background, its edge falling off over 12 pixels so
// that the cells along it take every mean and the light decision is tested
// close to its pivot.
float disc(int x, int y) {
    const float t = (std::hypot(x - 111.5f, y - 111.5f) - 26.0f) / 12.0f;
    return 255.0f + std::fmin(std::fmax(t, 0.0f), 1.0f) * (20.0f - 255.0f);
}

// One run of `file`; fails when the model writes past the engine's buffer.
std::vector<float> run(const char* file, std::vector<float> in, size_t outputFloats) {
    QDNNRunner runner(std::string(XEPO_SOURCE_DIR) + "/models/" + file, "NEURON", 20, 3);
    EXPECT_EQ(runner.init(), QDNNRunner::kOk) << file;
    std::vector<float> out(outputFloats + kGuardFloats, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(runner.forward({in.data()}, {out.data()}), QDNNRunner::kOk) << file;
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(std::isfinite(out[i]), i < outputFloats) << file << " element " << i;
    }
    out.resize(outputFloats);
    return out;
}

TEST(DefaultModels, AllFourFillExactlyTheEngineBuffers) {
    const std::vector<float> image = input([](int x, int y) { return (x + y) * 255.0f / 446; });
    run("xepo_entrance.qdnn", image, 4);
    run("xepo_albedo.qdnn", image, 1);
    run("light-STDCNet813.pt.tflite.qdnn", image, kLightFloats);
    run("xepo_smooth.qdnn", {300.0f, 25.0f, 310.0f}, 1);
}

// Gray value 118 is mid-grey: 18 % linear reflectance.
TEST(DefaultModels, AlbedoOrdersWhiteAboveMidGreyAboveDark) {
    const float white = run("xepo_albedo.qdnn", input(flat(255.0f)), 1)[0];
    const float grey = run("xepo_albedo.qdnn", input(flat(118.0f)), 1)[0];
    const float dark = run("xepo_albedo.qdnn", input(flat(30.0f)), 1)[0];
    EXPECT_NEAR(white, 1.0f, 0.01f);
    EXPECT_NEAR(grey, 0.18f, 0.01f);
    EXPECT_NEAR(dark, 0.01f, 0.01f);
    EXPECT_GT(white, grey);
    EXPECT_GT(grey, dark);
}

TEST(DefaultModels, SaturatedDiscGivesLightCellsExactlyOverItAndALightScene) {
    const std::vector<float> out =
        run("light-STDCNet813.pt.tflite.qdnn", input(disc), kLightFloats);
    int light = 0, decided = 0;
    for (int cell = 0; cell < kGrid * kGrid; ++cell) {
        float mean = 0.0f;  // of the cell's luminance, 0..1
        for (int k = 0; k < 16; ++k) {
            mean += disc(cell % kGrid * 4 + k % 4, cell / kGrid * 4 + k / 4) / 255.0f / 16;
        }
        const bool modelLight = out[2 * cell + 1] > out[2 * cell];
        light += modelLight;
        if (std::fabs(mean - kLightPivot) >= kPivotBand) {
            ++decided;
            EXPECT_EQ(modelLight, mean > kLightPivot) << "cell " << cell;
        }
    }
    // About 143 cells reach the pivot; almost every cell must be clear-cut.
    EXPECT_GT(decided, kGrid * kGrid - 40);
    EXPECT_GT(light, 120);
    EXPECT_LT(light, 170);

    const float background = run("xepo_entrance.qdnn", input(flat(20.0f)), 4)[3];
    const float withDisc = run("xepo_entrance.qdnn", input(disc), 4)[3];
    EXPECT_LT(background, 0.1f);
    EXPECT_GE(withDisc, kLightSceneThreshold);
}

// A flat frame (a covered lens) gets a low scene confidence, a textured one a high one.
TEST(DefaultModels, SceneConfidenceRisesWithContrast) {
    for (float v : {0.0f, 128.0f, 255.0f}) {
        EXPECT_LT(run("xepo_entrance.qdnn", input(flat(v)), 4)[1], 0.2f) << v;
    }
    const Picture checkerboard = [](int x, int y) {
        return (x / 16 + y / 16) % 2 ? 200.0f : 60.0f;
    };
    EXPECT_GE(run("xepo_entrance.qdnn", input(checkerboard), 4)[1], kSceneThreshold);
}

}  // namespace
