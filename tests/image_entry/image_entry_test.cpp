// runAeEngineImage end to end on constant-output models, and the light map
// that runLightSegModel makes from a known light rectangle. The engine is a
// single instance, so each case (re)creates it on the model set it needs.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "log_capture.h"
#include "scripted_engine.h"
#include "xepo.h"
#include "xepo/ae_engine.h"
#include "xepo/model_scoring.h"

namespace {

// The engine on the model set `set`, released when it goes.
scripted::ScriptedEngine engineOn(const std::string& set) {
    return scripted::ScriptedEngine(std::string(IMAGE_MODEL_ROOT) + "/" + set + "/");
}

// The models answer the same whatever the picture shows.
const std::string kPicture = samplePath("coffee.jpg");

// A host record prefilled so that untouched fields show.
struct HostResult {
    std::vector<uint8_t> data = std::vector<uint8_t>(xepo::kSegMapBytes, 7);
    XEPOSegMap map{-1, -1, -1, data.data()};
    _XEPO_RES_ res{-5.0f, -5.0f, &map};
};

// The 64 x 48 map with light in the given inclusive cell ranges.
// The light set's rectangle covers model cells x 7..20, y 14..27 of 56 x 56.
// Scaled by 64/56 and 48/56 it covers map cells x 8..23, y 12..23; turned back
// by 90 first it covers x 14..27, y 35..48, i.e. map cells x 16..31, y 30..41.
std::vector<uint8_t> lightMap(int col0, int row0, int col1, int row1) {
    std::vector<uint8_t> map(xepo::kSegMapBytes, 0);
    for (int row = row0; row <= row1; ++row) {
        std::fill_n(&map[row * xepo::kSegMapWidth + col0], col1 - col0 + 1, 255);
    }
    return map;
}

// Control -1 answers without an engine; every other control needs one.
TEST(ImageEntry, WithoutEngine) {
    HostResult host;
    runAeEngineImage(nullptr, kPicture.c_str(), &host.res, 300.0f, 2);
    EXPECT_FLOAT_EQ(host.res.result, -5.0f);
    runAeEngineImage(nullptr, "/no/such/file.png", &host.res, 300.0f, -1);
    EXPECT_FLOAT_EQ(host.res.result, 18.0f);
    EXPECT_FLOAT_EQ(host.res.confidence, 0.9f);
}

// Entrance only (control 0), albedo fraction only (1), the light map (3) and
// the full path: the albedo model is asked only for a sure, high-key or light
// scene; 31.25 maps to 29.25 at lux 180 and 300, 12.5 to 18 at 180 and stays at
// 300; +4 for high key, another +4 for a light scene from 25 on; a low-confidence
// result under 18 is lifted to 18; lux 150 and 400 map to 18 before the raises.
TEST(ImageEntry, WorkedExamples) {
    // model set, control, lux, result, confidence
    const std::tuple<const char*, int, float, float, float> cases[] = {
        {"light", 0, 300, 18, 0.625f},    {"light", 1, 300, 0.25f, 0.9f},
        {"light", 3, 300, 18, 0.75f},     {"light", 2, 300, 21, 0.625f},
        {"plain", 2, 300, 18, 0.5f},      {"sure", 2, 300, 29.25f, 0.9f},
        {"sure", 2, 180, 29.25f, 0.9f},   {"sure", 7, 300, 29.25f, 0.9f},
        {"raises", 2, 300, 37.25f, 0.9f}, {"raises", 2, 150, 22, 0.9f},
        {"raises", 2, 400, 22, 0.9f},     {"dim", 2, 180, 22, 0.5f},
        {"dim", 2, 300, 18, 0.5f}};
    for (const auto& [set, control, lux, result, confidence] : cases) {
        const auto engine = engineOn(set);
        HostResult host;
        runAeEngineImage(nullptr, kPicture.c_str(), &host.res, lux, control);
        EXPECT_FLOAT_EQ(host.res.result, result) << set << " " << control << " " << lux;
        EXPECT_FLOAT_EQ(host.res.confidence, confidence) << set << " " << control;
        EXPECT_EQ(host.map.type, control == 3 ? 9 : -1);
        if (control == 3) {
            EXPECT_TRUE(host.data == lightMap(16, 30, 31, 41));
            host.res = {-5.0f, -5.0f, nullptr};  // without a map record
            runAeEngineImage(nullptr, kPicture.c_str(), &host.res, 300.0f, 3);
            EXPECT_FLOAT_EQ(host.res.confidence, 0.75f);
        }
    }
}

// A missing or undecodable file leaves the result and map record untouched
// and the engine's map cleared.
TEST(ImageEntry, BadFileLeavesTheResultUntouched) {
    const std::string corrupt = ::testing::TempDir() + "image_entry_corrupt.png";
    std::ofstream(corrupt, std::ios::binary) << "\x89PNG\r\n\x1a\n\1\2\3\4";  // header, then junk
    const auto engine = engineOn("sure");
    for (const std::string& path : {std::string("/no/such/image.png"), corrupt}) {
        for (int control : {2, 3}) {
            std::memset(xepo::engineInstance->segMap.get(), 255, xepo::kSegMapBytes);
            HostResult host;
            LogCapture log;
            runAeEngineImage(nullptr, path.c_str(), &host.res, 300.0f, control);
            EXPECT_FLOAT_EQ(host.res.result, -5.0f) << path << " " << control;
            EXPECT_FLOAT_EQ(host.res.confidence, -5.0f);
            EXPECT_EQ(host.map.type, -1);
            EXPECT_EQ(log.count("error imagePathtoBuffer"), 1);
            EXPECT_EQ(xepo::engineInstance->segMap[100], 0);
        }
    }
}

// At rotation 0 the light map is the rectangle scaled, not turned (rotation
// 90 is checked through the image entry above). Without a map to write into
// nothing runs.
TEST(ImageEntry, LightMapAtRotation0) {
    const auto engine = engineOn("light");
    xepo::AeEngine& e = *xepo::engineInstance;
    std::vector<uint8_t> map(xepo::kSegMapBytes, 9);
    ASSERT_EQ(xepo::runLightSegModel(e.lightSegRunner.get(), e.tavkit_handle, e.modelInput.get(), 0,
                                     e.lightSegOutput.get(), map.data()),
              0);
    EXPECT_TRUE(map == lightMap(8, 12, 23, 23));
    LogCapture log;
    EXPECT_EQ(xepo::runLightSegModel(e.lightSegRunner.get(), e.tavkit_handle, e.modelInput.get(), 0,
                                     e.lightSegOutput.get(), nullptr),
              -2001);
    EXPECT_EQ(log.count("ls model buffers missing"), 1);
}

}  // namespace
