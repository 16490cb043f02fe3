// Behaviour of the default models on the host runtime, run as the engine runs
// them: a QDNNRunner per file, backend "NEURON", the engine's buffer sizes.
//
// Scenes are given as radiance (linear RGB, 1 = the white of the published
// picture) and photographed the way the closed-loop simulation's camera does:
// frame = clip(radiance x 2^EV), sRGB-encoded to 8 bits. The sample photographs
// become radiance by sRGB decoding, with every channel at 255 taken as 4 x white
// (a lamp or the sun stays clipped when the exposure falls by 2 EV). The samples
// were never trained on; they only check.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "qdnn_runner/qdnn_runner.h"
#include "xepo/decision_thresholds.h"

namespace {

constexpr int kSize = 224;
constexpr int kGrid = kSize / 4;  // the light map's 4x4 cells
// The engine's thresholds: xepo::kEntranceSureConfidence on entrance[1] (scene,
// after its first model runs) and xepo::kLightSceneSure on entrance[3] (light scene).
// The engine accepts a light map from 150 of its 3072 map cells; the model's
// 3136 cells are resized onto them.
constexpr int kAcceptedLightCells = 150 * kGrid * kGrid / 3072 + 1;
// Highlight model of the renders: a channel at 255 is 4 x white.
constexpr float kHighlightBoost = 4.0f;
// The albedo answers either next to mid-grey (up to 0.20, raised to 0.24 for the
// engine's mapping: score 20) or bright (from 0.27, raised to 0.29: score 27), never
// in between, where the engine's mapping jumps at 27.
constexpr float kDimAnswerMax = 0.2405f;
constexpr float kBrightAnswerMin = 0.2895f;

struct Rgb {
    float r, g, b;
};
using Scene = std::function<Rgb(int x, int y)>;  // radiance at model-input pixels

float srgbEncode(float linear) {
    const float v = std::clamp(linear, 0.0f, 1.0f);
    return v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

float srgbDecode(float encoded) {
    return encoded <= 0.04045f ? encoded / 12.92f : std::pow((encoded + 0.055f) / 1.055f, 2.4f);
}

// The normalised NHWC input of a scene photographed at `ev`.
std::vector<float> expose(const Scene& scene, double ev) {
    const float gain = static_cast<float>(std::exp2(ev));
    std::vector<float> values;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const Rgb c = scene(x, y);
            for (float channel : {c.r, c.g, c.b}) {
                const float code = std::round(255.0f * srgbEncode(channel * gain));
                values.push_back((code - 127.5f) / 127.5f);
            }
        }
    }
    return values;
}

// A sample photograph as radiance at 224 x 224 (area average of its linear light).
Scene samplePhoto(const std::string& name) {
    int width = 0, height = 0, components = 0;
    const std::string path = std::string(XEPO_SOURCE_DIR) + "/samples/" + name;
    std::unique_ptr<unsigned char, void (*)(void*)> pixels(
        stbi_load(path.c_str(), &width, &height, &components, 3), stbi_image_free);
    if (!pixels) {
        ADD_FAILURE() << "cannot read " << path;
        return [](int, int) { return Rgb{0.0f, 0.0f, 0.0f}; };
    }
    auto radiance = std::make_shared<std::vector<Rgb>>(kSize * kSize, Rgb{0, 0, 0});
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const int x0 = x * width / kSize, x1 = std::max(x0 + 1, (x + 1) * width / kSize);
            const int y0 = y * height / kSize, y1 = std::max(y0 + 1, (y + 1) * height / kSize);
            std::array<float, 3> sum{};
            for (int sy = y0; sy < y1; ++sy) {
                for (int sx = x0; sx < x1; ++sx) {
                    const unsigned char* p = pixels.get() + 3 * (sy * width + sx);
                    for (int c = 0; c < 3; ++c) {
                        sum[c] += p[c] == 255 ? kHighlightBoost : srgbDecode(p[c] / 255.0f);
                    }
                }
            }
            const float n = static_cast<float>((x1 - x0) * (y1 - y0));
            (*radiance)[y * kSize + x] = {sum[0] / n, sum[1] / n, sum[2] / n};
        }
    }
    return [radiance](int x, int y) { return (*radiance)[y * kSize + x]; };
}

// Deterministic texture in [0, 1]: a few crossed waves.
float texture(int x, int y) {
    return 0.5f + 0.25f * std::sin(x * 0.21f + std::sin(y * 0.05f) * 3.0f) +
           0.25f * std::sin(y * 0.17f + x * 0.03f);
}

Scene grey(float level) {
    return [level](int, int) { return Rgb{level, level, level}; };
}

// An ordinary daylight scene: textured, coloured, around mid-grey.
Rgb meadow(int x, int y) {
    const float t = texture(x, y);
    const float sky = y < 70 ? 1.8f : 1.0f;
    return {0.10f * sky * (0.5f + t), 0.16f * sky * (0.5f + t), 0.08f * sky * (0.6f + t)};
}

// Lamps: discs of radius 5 pixels, clipped in the picture (4 x white).
constexpr std::array<std::array<int, 2>, 8> kLamps{
    {{30, 40}, {90, 30}, {160, 50}, {200, 120}, {40, 150}, {110, 110}, {150, 190}, {60, 200}}};
constexpr float kLampRadius = 5.0f;

float lampDistance(int x, int y) {
    float nearest = std::numeric_limits<float>::max();
    for (const auto& lamp : kLamps) {
        nearest = std::min(nearest, std::hypot(x - lamp[0] + 0.5f, y - lamp[1] + 0.5f));
    }
    return nearest;
}

// A street at night: dark textured surfaces, lamps with a glow around them.
Rgb nightStreet(int x, int y) {
    const float d = lampDistance(x, y);
    if (d <= kLampRadius) {
        return {kHighlightBoost, kHighlightBoost, kHighlightBoost};
    }
    const float glow = 0.6f * std::exp(-(d - kLampRadius) / 4.0f);
    const float base = 0.01f * (0.4f + texture(x, y));
    return {base + glow, base + 0.9f * glow, base + 0.7f * glow};
}

// A white wall filling the left half, clipped in the picture, beside a darker room.
Rgb clippedWall(int x, int y) {
    const float t = x < kSize / 2 ? kHighlightBoost : 0.08f * (0.5f + texture(x, y));
    return {t, t, t};
}

// One run of `file`; fails when the model writes past the engine's buffer or
// leaves part of it unwritten (every test's runs check this for their model).
std::vector<float> run(const char* file, std::vector<float> in, size_t outputFloats) {
    QDNNRunner runner(std::string(XEPO_SOURCE_DIR) + "/models/" + file, "NEURON", 20, 3);
    EXPECT_EQ(runner.init(), QDNNRunner::kOk) << file;
    // 64 floats after the engine's buffer must stay untouched.
    std::vector<float> out(outputFloats + 64, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(runner.forward({in.data()}, {out.data()}), QDNNRunner::kOk) << file;
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(std::isfinite(out[i]), i < outputFloats) << file << " element " << i;
    }
    out.resize(outputFloats);
    return out;
}

float albedo(const Scene& scene, double ev) {
    return run("xepo_albedo.qdnn", expose(scene, ev), 1)[0];
}

// What the host measures on a frame: its mean linear luminance (Rec. 709).
double frameMean(const Scene& scene, double ev) {
    const std::vector<float> values = expose(scene, ev);
    constexpr double kWeights[] = {0.2126, 0.7152, 0.0722};  // red, green, blue
    double sum = 0.0;
    for (size_t i = 0; i < values.size(); ++i) {
        sum += kWeights[i % 3] * srgbDecode(0.5f * values[i] + 0.5f);
    }
    return sum / static_cast<double>(values.size() / 3);
}

std::vector<float> entrance(const Scene& scene, double ev) {
    return run("xepo_entrance.qdnn", expose(scene, ev), 4);
}

// Light decision per cell (row-major 56 x 56), as the engine makes it.
std::vector<bool> lightCells(const Scene& scene, double ev) {
    const std::vector<float> out =
        run("light-STDCNet813.pt.tflite.qdnn", expose(scene, ev), 2 * kGrid * kGrid);
    std::vector<bool> light(kGrid * kGrid);
    for (int cell = 0; cell < kGrid * kGrid; ++cell) {
        light[cell] = out[2 * cell + 1] > out[2 * cell];
    }
    return light;
}

// Light cells in rows [row0, row1) and columns [col0, col1) of the map.
int lightIn(const std::vector<bool>& light, int row0, int row1, int col0, int col1) {
    int count = 0;
    for (int row = row0; row < row1; ++row) {
        for (int col = col0; col < col1; ++col) {
            count += light[row * kGrid + col];
        }
    }
    return count;
}

// The albedo model reads the scene, not the exposure: every rendering of the
// same picture from -2 EV up to its published exposure gets the same level within
// a quarter stop (a mean-of-the-frame answer would move by 2 stops). Brighter
// renderings clip their brightest cells and their answer may rise, but always
// by less than the frame brightened: the level asked for, against the frame's
// own mean, falls, so the camera's loop steps back down instead of creeping up.
// The answer is dim or bright, and a brighter frame never goes back from bright to
// dim: a loop that could would hop between the two.
TEST(DefaultModels, AlbedoHoldsUpToThePublishedExposureAndPullsBrighterFramesBack) {
    std::vector<std::pair<std::string, Scene>> scenes = {{"meadow", meadow},
                                                         {"night street", nightStreet}};
    for (const char* photo : {"astronaut.jpg", "chelsea.jpg", "coffee.jpg", "rocket.jpg"}) {
        scenes.emplace_back(photo, samplePhoto(photo));
    }
    constexpr std::array<double, 5> kEvs{-2.0, -1.0, 0.0, 1.0, 2.0};
    for (const auto& [name, scene] : scenes) {
        std::array<float, kEvs.size()> levels{};
        for (size_t i = 0; i < kEvs.size(); ++i) {
            const float level = levels[i] = albedo(scene, kEvs[i]);
            EXPECT_GT(level, 0.001f) << name << " at " << kEvs[i] << " EV";
            EXPECT_LT(level, 1.0f) << name << " at " << kEvs[i] << " EV";
            EXPECT_TRUE(level <= kDimAnswerMax || level >= kBrightAnswerMin)
                << name << " at " << kEvs[i] << " EV: " << level;
            if (i > 0 && levels[i - 1] >= kBrightAnswerMin) {
                EXPECT_GE(level, kBrightAnswerMin) << name << " back to dim at " << kEvs[i];
            }
        }
        const auto [low, high] = std::minmax({levels[0], levels[1], levels[2]});
        EXPECT_LE(std::log2(high / low), 0.25) << name << ": " << low << " to " << high;
        double step = std::log2(levels[2] / frameMean(scene, 0.0));
        for (size_t i = 3; i < kEvs.size(); ++i) {
            const double next = std::log2(levels[i] / frameMean(scene, kEvs[i]));
            // at least 0.1 EV lower: clearly more than the renders' rounding moves it
            EXPECT_LT(next, step - 0.1) << name << " at " << kEvs[i] << " EV";
            step = next;
        }
    }
}

// A night street shown brighter (+2 EV) than a daylight scene shown darker
// (-2 EV) is still put below it: the order follows the content, where a mean of
// the frame would reverse it. The margin is small (a quarter stop on these drawn
// scenes, see models/README.md): the model learned from 35 photographs.
TEST(DefaultModels, AlbedoPutsANightStreetBelowADaylightScene) {
    EXPECT_GT(albedo(meadow, -2.0), albedo(nightStreet, 2.0));
}

// Clipped lamps are light, at every exposure from -2 to +1 EV: each lamp's
// centre cell, and nothing far from any lamp.
TEST(DefaultModels, LampsAreLightCellsAndFarCellsAreNot) {
    for (double ev : {-2.0, 0.0, 1.0}) {
        const std::vector<bool> light = lightCells(nightStreet, ev);
        for (const auto& lamp : kLamps) {
            EXPECT_TRUE(light[(lamp[1] / 4) * kGrid + lamp[0] / 4])
                << "lamp at " << lamp[0] << "," << lamp[1] << ", " << ev << " EV";
        }
        int far = 0;
        for (int cell = 0; cell < kGrid * kGrid; ++cell) {
            const int x = cell % kGrid * 4 + 2, y = cell / kGrid * 4 + 2;
            far += light[cell] && lampDistance(x, y) > kLampRadius + 20.0f;
        }
        EXPECT_LE(far, 10) << ev << " EV";
        EXPECT_GE(std::count(light.begin(), light.end(), true), kAcceptedLightCells) << ev << " EV";
    }
}

// A clipped wall is a bright surface, not a light source: the middle of the
// wall is not light. Its edge is (a band up to 7 cells wide): a known limit.
TEST(DefaultModels, TheMiddleOfAClippedWallIsNoLightSource) {
    EXPECT_EQ(lightIn(lightCells(clippedWall, 0.0), 8, kGrid - 8, 4, kGrid / 2 - 8), 0);
}

// Entrance [1]: a flat frame (a covered lens, a uniform wall) cannot be scored
// from its content, an ordinary textured scene can, a mostly clipped frame
// cannot. A scene of lamps is a light scene ([3]) and is still scored from its
// content: the light map does not veto the content score.
TEST(DefaultModels, EntranceTrustsTexturedScenesAndMarksLampScenes) {
    for (float v : {0.0f, 0.18f, 1.0f}) {
        EXPECT_LT(entrance(grey(v), 0.0)[1], 0.2f) << v;
        EXPECT_LT(entrance(grey(v), 0.0)[3], 0.1f) << v;
    }
    for (double ev : {-1.0, 0.0, 1.0}) {
        const std::vector<float> day = entrance(meadow, ev);
        EXPECT_GE(day[1], xepo::kEntranceSureConfidence) << ev << " EV";
        EXPECT_LT(day[3], xepo::kLightSceneSure) << ev << " EV";
        EXPECT_NEAR(day[0] + day[1], 1.0f, 1e-5f);
    }
    EXPECT_LT(entrance(meadow, 4.0)[1], xepo::kEntranceSureConfidence)
        << "a frame clipped all over";
    const std::vector<float> night = entrance(nightStreet, 0.0);
    EXPECT_GE(night[3], xepo::kLightSceneSure);
    EXPECT_GE(night[1], xepo::kEntranceSureConfidence);
    // high-key: a bright neutral frame yes, the meadow no
    EXPECT_GE(entrance(grey(0.8f), 0.0)[2], 0.8f);
    EXPECT_LT(entrance(meadow, 0.0)[2], 0.2f);
}

// Acceptance check on the rocket sample (looked at, never trained or tuned on):
// its floodlights, along the bottom of the picture, are found and make a light
// map the engine accepts, and the entrance marks the frame a light scene.
// (The lit white rocket body is marked as well: a known limit.)
TEST(DefaultModels, RocketFloodlightsMakeALightMapTheEngineAccepts) {
    const Scene rocket = samplePhoto("rocket.jpg");
    const std::vector<bool> light = lightCells(rocket, 0.0);
    EXPECT_GE(std::count(light.begin(), light.end(), true), kAcceptedLightCells);
    // The floodlights stand in the picture's lowest tenth (rows 50 to 55 of the
    // cells), spread across its width: light cells in each third of those rows.
    for (int third = 0; third < 3; ++third) {
        EXPECT_GE(lightIn(light, kGrid - 6, kGrid, third * kGrid / 3, (third + 1) * kGrid / 3), 4)
            << "third " << third;
    }
    EXPECT_GE(entrance(rocket, 0.0)[3], xepo::kLightSceneSure);
}

TEST(DefaultModels, SmoothFollowsTheLuxIndex) {
    // previous lux, previous score, lux: ten index steps darker lower the score by one
    EXPECT_NEAR(run("xepo_smooth.qdnn", {300.0f, 25.0f, 310.0f}, 1)[0], 24.0f, 1e-4f);
    EXPECT_NEAR(run("xepo_smooth.qdnn", {300.0f, 25.0f, 280.0f}, 1)[0], 27.0f, 1e-4f);
}

}  // namespace
