// Behaviour of the default models on the host runtime, run the way the engine
// runs them: one QDNNRunner per file, backend "NEURON", the engine's buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "qdnn_runner/qdnn_runner.h"

namespace {

constexpr int kSize = 224;
constexpr int kCell = 4;
constexpr int kGrid = kSize / kCell;
constexpr size_t kImageFloats = kSize * kSize * 3;
constexpr size_t kEntranceFloats = 4;
constexpr size_t kAlbedoFloats = 1;
constexpr size_t kLightFloats = kGrid * kGrid * 2;
constexpr size_t kSmoothInFloats = 3;
constexpr size_t kSmoothFloats = 1;

// Sentinel values after the expected output show whether a model writes more
// than the engine's buffer holds.
constexpr size_t kGuardFloats = 64;

// The engine's thresholds on the entrance outputs.
constexpr float kSceneThreshold = 0.73f;
constexpr float kHighKeyThreshold = 0.8f;
constexpr float kLightSceneThreshold = 0.3f;
// Mean cell luma above which the light model must call a cell light, and a band
// around it in which float rounding may decide either way.
constexpr float kLightPivot = 0.92f;
constexpr float kPivotBand = 0.005f;

const std::string kModelDir = std::string(XEPO_SOURCE_DIR) + "/models/";
const char* const kEntrance = "xepo_entrance.qdnn";
const char* const kAlbedo = "xepo_albedo.qdnn";
const char* const kLight = "light-STDCNet813.pt.tflite.qdnn";
const char* const kSmooth = "xepo_smooth.qdnn";

struct Rgb {
    float r, g, b;
};
using PixelFn = std::function<Rgb(int x, int y)>;

// An 8-bit RGB picture and the normalised model input the engine makes of it.
struct Frame {
    std::vector<Rgb> pixels;
    std::vector<float> input;
};

Frame makeFrame(const PixelFn& pixel) {
    Frame frame;
    frame.pixels.reserve(kSize * kSize);
    frame.input.reserve(kImageFloats);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const Rgb p = pixel(x, y);
            frame.pixels.push_back(p);
            for (float v : {p.r, p.g, p.b}) {
                frame.input.push_back((v - 127.5f) / 127.5f);
            }
        }
    }
    return frame;
}

Frame uniform(float v) {
    return makeFrame([v](int, int) { return Rgb{v, v, v}; });
}

// A saturated disc on a dark background. Its edge falls off over a few pixels,
// so that the cells along it take every mean between dark and saturated and the
// light decision is tested close to its pivot.
constexpr float kDiscCentre = 111.5f;
constexpr float kDiscRadius = 26.0f;
constexpr float kDiscEdge = 12.0f;
constexpr float kDark = 20.0f;
Frame discOnDark() {
    return makeFrame([](int x, int y) {
        const float r = std::hypot(x - kDiscCentre, y - kDiscCentre);
        const float t = std::fmin(std::fmax((r - kDiscRadius) / kDiscEdge, 0.0f), 1.0f);
        const float v = 255.0f + t * (kDark - 255.0f);
        return Rgb{v, v, v};
    });
}

// Mean Rec. 709 luma of one 4x4 cell, on values scaled to [0, 1].
float cellLuma(const Frame& frame, int cx, int cy) {
    float sum = 0.0f;
    for (int y = cy * kCell; y < (cy + 1) * kCell; ++y) {
        for (int x = cx * kCell; x < (cx + 1) * kCell; ++x) {
            const Rgb& p = frame.pixels[y * kSize + x];
            sum += (0.2126f * p.r + 0.7152f * p.g + 0.0722f * p.b) / 255.0f;
        }
    }
    return sum / (kCell * kCell);
}

class DefaultModels : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        for (const char* file : {kEntrance, kAlbedo, kLight, kSmooth}) {
            auto runner = std::make_unique<QDNNRunner>(kModelDir + file, "NEURON", 20, 3);
            initCodes().push_back(runner->init());
            runners().push_back(std::move(runner));
        }
    }
    static void TearDownTestSuite() { runners().clear(); }

    static std::vector<std::unique_ptr<QDNNRunner>>& runners() {
        static std::vector<std::unique_ptr<QDNNRunner>> all;
        return all;
    }
    static std::vector<int32_t>& initCodes() {
        static std::vector<int32_t> codes;
        return codes;
    }
    static QDNNRunner* runner(const char* file) {
        const char* const order[] = {kEntrance, kAlbedo, kLight, kSmooth};
        for (size_t i = 0; i < 4 && i < runners().size(); ++i) {
            if (std::string(order[i]) == file && initCodes()[i] == QDNNRunner::kOk) {
                return runners()[i].get();
            }
        }
        return nullptr;
    }

    // Runs one model; the returned vector holds the expected output followed by
    // the untouched (or overwritten) guard.
    static std::vector<float> runWithGuard(const char* file, std::vector<float> input,
                                           size_t outputFloats) {
        std::vector<float> output(outputFloats + kGuardFloats,
                                  std::numeric_limits<float>::quiet_NaN());
        QDNNRunner* r = runner(file);
        if (r == nullptr) {
            ADD_FAILURE() << file << " did not load";
            return output;
        }
        EXPECT_EQ(r->forward({input.data()}, {output.data()}), QDNNRunner::kOk) << file;
        return output;
    }
    static std::vector<float> run(const char* file, const std::vector<float>& input,
                                  size_t outputFloats) {
        std::vector<float> output = runWithGuard(file, input, outputFloats);
        output.resize(outputFloats);
        return output;
    }

    static float albedo(const Frame& f) { return run(kAlbedo, f.input, kAlbedoFloats)[0]; }
    static std::vector<float> entrance(const Frame& f) {
        return run(kEntrance, f.input, kEntranceFloats);
    }
};

TEST_F(DefaultModels, AllFourLoadAndFillExactlyTheEngineBuffers) {
    struct Case {
        const char* file;
        size_t inputFloats;
        size_t outputFloats;
    };
    const Case cases[] = {{kEntrance, kImageFloats, kEntranceFloats},
                          {kAlbedo, kImageFloats, kAlbedoFloats},
                          {kLight, kImageFloats, kLightFloats},
                          {kSmooth, kSmoothInFloats, kSmoothFloats}};
    const Frame scene = makeFrame([](int x, int y) {
        return Rgb{x * 255.0f / (kSize - 1), y * 255.0f / (kSize - 1), 128.0f};
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<float> input =
            c.inputFloats == kImageFloats ? scene.input : std::vector<float>{300.0f, 25.0f, 310.0f};
        const std::vector<float> out = runWithGuard(c.file, input, c.outputFloats);
        for (size_t i = 0; i < c.outputFloats; ++i) {
            ASSERT_TRUE(std::isfinite(out[i])) << "output element " << i << " not written";
        }
        for (size_t i = c.outputFloats; i < out.size(); ++i) {
            ASSERT_TRUE(std::isnan(out[i])) << "wrote past the engine's buffer at " << i;
        }
    }
}

TEST_F(DefaultModels, AlbedoOrdersWhiteAboveMidGreyAboveDark) {
    struct Case {
        const char* name;
        float value;
        float low;
        float high;
    };
    // Value 118 is mid-grey: 18 % linear reflectance, the engine's neutral score.
    const Case cases[] = {{"white", 255.0f, 0.99f, 1.01f},
                          {"mid-grey", 118.0f, 0.17f, 0.19f},
                          {"dark", 30.0f, 0.0f, 0.02f}};
    float previous = 2.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const float a = albedo(uniform(c.value));
        EXPECT_GE(a, c.low);
        EXPECT_LE(a, c.high);
        EXPECT_LT(a, previous);
        previous = a;
    }
}

TEST_F(DefaultModels, LightCellsLieExactlyOverASaturatedDisc) {
    const Frame disc = discOnDark();
    const std::vector<float> out = run(kLight, disc.input, kLightFloats);
    int light = 0;
    int decided = 0;
    for (int cy = 0; cy < kGrid; ++cy) {
        for (int cx = 0; cx < kGrid; ++cx) {
            const int i = cy * kGrid + cx;
            const bool modelLight = out[2 * i + 1] > out[2 * i];
            light += modelLight ? 1 : 0;
            const float mean = cellLuma(disc, cx, cy);
            if (std::fabs(mean - kLightPivot) < kPivotBand) {
                continue;
            }
            ++decided;
            EXPECT_EQ(modelLight, mean > kLightPivot) << "cell " << cx << "," << cy;
        }
    }
    // Cells reach the pivot at a radius of about 27 pixels, some 143 cells; almost
    // every cell must be clear-cut.
    EXPECT_GT(decided, kGrid * kGrid - 40);
    EXPECT_GT(light, 120);
    EXPECT_LT(light, 170);
}

TEST_F(DefaultModels, UniformFramesTurnLightJustAboveThePivot) {
    struct Case {
        float value;
        int lightCells;
    };
    // The pivot 0.92 lies at value 234.6.
    const Case cases[] = {
        {0.0f, 0}, {118.0f, 0}, {233.0f, 0}, {236.0f, kGrid * kGrid}, {255.0f, kGrid * kGrid}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const std::vector<float> out = run(kLight, uniform(c.value).input, kLightFloats);
        int light = 0;
        for (size_t i = 0; i < kLightFloats / 2; ++i) {
            light += out[2 * i + 1] > out[2 * i] ? 1 : 0;
        }
        EXPECT_EQ(light, c.lightCells);
    }
}

TEST_F(DefaultModels, SaturatedDiscRaisesTheLightSceneProbability) {
    const float background = entrance(uniform(kDark))[3];
    const float withDisc = entrance(discOnDark())[3];
    EXPECT_LT(background, 0.1f);
    EXPECT_GE(withDisc, kLightSceneThreshold);
    EXPECT_GT(withDisc, background);
}

TEST_F(DefaultModels, FlatFramesGetLowSceneConfidenceAndScenesHighOne) {
    struct Case {
        const char* name;
        Frame frame;
        bool scene;
    };
    const Case cases[] = {
        {"flat black", uniform(0.0f), false},
        {"flat mid-grey", uniform(128.0f), false},
        {"flat white", uniform(255.0f), false},
        {"flat orange", makeFrame([](int, int) {
             return Rgb{230.0f, 120.0f, 20.0f};
         }),
         false},
        {"horizontal ramp", makeFrame([](int x, int) {
             const float v = x * 255.0f / (kSize - 1);
             return Rgb{v, v, v};
         }),
         true},
        {"checkerboard", makeFrame([](int x, int y) {
             const float v = ((x / 16 + y / 16) % 2) ? 200.0f : 60.0f;
             return Rgb{v, 0.9f * v, 0.7f * v};
         }),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> e = entrance(c.frame);
        for (float v : e) {
            EXPECT_GE(v, 0.0f);
            EXPECT_LE(v, 1.0f);
        }
        EXPECT_NEAR(e[0], 1.0f - e[1], 1e-5f);
        if (c.scene) {
            EXPECT_GE(e[1], kSceneThreshold);
        } else {
            EXPECT_LT(e[1], 0.2f);
        }
    }
}

TEST_F(DefaultModels, HighKeyConfidenceNeedsBrightNeutralPixels) {
    struct Case {
        const char* name;
        Frame frame;
        bool highKey;
    };
    const Case cases[] = {
        {"white", uniform(255.0f), true},
        {"snow-like texture", makeFrame([](int x, int y) {
             const float v = 220.0f + static_cast<float>((x * 7 + y * 13) % 30);
             return Rgb{v, v, std::fmin(255.0f, v + 8.0f)};
         }),
         true},
        {"mid-grey", uniform(118.0f), false},
        {"bright saturated yellow", makeFrame([](int, int) {
             return Rgb{250.0f, 240.0f, 30.0f};
         }),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const float highKey = entrance(c.frame)[2];
        if (c.highKey) {
            EXPECT_GE(highKey, kHighKeyThreshold);
        } else {
            EXPECT_LT(highKey, 0.1f);
        }
    }
}

TEST_F(DefaultModels, SmoothModelMovesTheScoreAgainstTheLuxChange) {
    struct Case {
        float lastLux, lastScore, lux;
        float expected;
    };
    // A higher lux index is a darker scene: the score goes down by 0.1 per step.
    const Case cases[] = {{300.0f, 25.0f, 310.0f, 24.0f},
                          {300.0f, 25.0f, 280.0f, 27.0f},
                          {200.0f, 18.0f, 200.0f, 18.0f},
                          {400.0f, 40.0f, 160.0f, 64.0f}};
    for (const Case& c : cases) {
        const std::vector<float> out = run(kSmooth, {c.lastLux, c.lastScore, c.lux}, kSmoothFloats);
        EXPECT_NEAR(out[0], c.expected, 1e-3f) << c.lastLux << " " << c.lastScore << " " << c.lux;
        EXPECT_LT((out[0] - c.lastScore) * (c.lux - c.lastLux), 1e-3f);
    }
}

}  // namespace
