// runAeEngineImage end to end on constant-output models, and the light-region
// map that runLightSegModel makes from a known light rectangle.
//
// The engine is a single instance, so each test (re)creates it on the model
// set it needs; the sets are made at build time under IMAGE_MODEL_ROOT.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "log_capture.h"
#include "xepo.h"
#include "xepo/ae_engine.h"
#include "xepo/model_scoring.h"

namespace {

// The light rectangle of the "light" model set, in 56 x 56 model cells
// (rows 14..27, columns 7..20). Its edges are multiples of 7, so they fall on
// map cell edges after scaling by 64/56 and 48/56 in every orientation.
constexpr int kRectRow0 = 14;
constexpr int kRectCol0 = 7;
constexpr int kRectRow1 = 27;
constexpr int kRectCol1 = 20;
constexpr int kGrid = 56;

std::string modelDir(const char* set) {
    return std::string(IMAGE_MODEL_ROOT) + "/" + set + "/";
}

void releaseEngine() {
    void* engine = xepo::engineInstance;
    if (engine != nullptr) {
        releaseAeEngine(&engine);
    }
    ASSERT_EQ(xepo::engineInstance, nullptr);
}

// Releases any engine and creates one on the model set `set`.
void createEngine(const char* set) {
    releaseEngine();
    void* handle = CreateParamHandle();
    ASSERT_NE(handle, nullptr);
    const std::string dir = modelDir(set);
    for (int key : {kAeKeyAlbedo, kAeKeyEntrance, kAeKeyLightSeg, kAeKeySmooth}) {
        ASSERT_EQ(AeSetParam(handle, key, dir.c_str()), 0);
    }
    void* engine = initAeEngine(handle);
    releaseParamHandle(&handle);
    ASSERT_NE(engine, nullptr) << dir;
    ASSERT_EQ(engine, xepo::engineInstance);
}

// A small test picture, written once per process.
std::string testImagePath() {
    static const std::string path = [] {
        const std::string file = ::testing::TempDir() + "image_entry_test.png";
        std::vector<uint8_t> pixels(40 * 30 * 3);
        for (size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = static_cast<uint8_t>(i * 7);
        }
        stbi_write_png(file.c_str(), 40, 30, 3, pixels.data(), 40 * 3);
        return file;
    }();
    return path;
}

// A host record prefilled so that an untouched record shows.
struct HostResult {
    std::vector<uint8_t> mapData = std::vector<uint8_t>(xepo::kSegMapBytes, 7);
    XEPOSegMap map{-1, -1, -1, mapData.data()};
    _XEPO_RES_ res{-5.0f, -5.0f, &map};
};

struct Cells {
    int col0, row0, col1, row1;  // inclusive
};

// The map cells covered by the light rectangle after the mask is turned back
// by `rotation` and scaled onto the 64 x 48 map: the rectangle's cell edges
// (x0, y0 inclusive, x1, y1 exclusive) turned like the mask, then scaled.
Cells expectedCells(uint32_t rotation) {
    int x0 = kRectCol0, y0 = kRectRow0, x1 = kRectCol1 + 1, y1 = kRectRow1 + 1;
    switch (rotation % 360) {
        case 90: {  // the mask turns by 270 clockwise: (x, y) -> (y, W - x)
            const int nx0 = y0, nx1 = y1, ny0 = kGrid - x1, ny1 = kGrid - x0;
            x0 = nx0, x1 = nx1, y0 = ny0, y1 = ny1;
            break;
        }
        case 180: {
            const int nx0 = kGrid - x1, nx1 = kGrid - x0, ny0 = kGrid - y1, ny1 = kGrid - y0;
            x0 = nx0, x1 = nx1, y0 = ny0, y1 = ny1;
            break;
        }
        case 270: {  // the mask turns by 90 clockwise: (x, y) -> (H - y, x)
            const int nx0 = kGrid - y1, nx1 = kGrid - y0, ny0 = x0, ny1 = x1;
            x0 = nx0, x1 = nx1, y0 = ny0, y1 = ny1;
            break;
        }
        default:
            break;
    }
    return {x0 * 64 / kGrid, y0 * 48 / kGrid, x1 * 64 / kGrid - 1, y1 * 48 / kGrid - 1};
}

// Every cell inside `cells` is 255 and every other cell 0; the first wrong
// cell is reported.
::testing::AssertionResult mapMatches(const uint8_t* map, const Cells& cells) {
    for (int row = 0; row < xepo::kSegMapHeight; ++row) {
        for (int col = 0; col < xepo::kSegMapWidth; ++col) {
            const bool inside =
                col >= cells.col0 && col <= cells.col1 && row >= cells.row0 && row <= cells.row1;
            const uint8_t value = map[row * xepo::kSegMapWidth + col];
            if (value != (inside ? 255 : 0)) {
                return ::testing::AssertionFailure()
                       << "cell (" << col << ", " << row << ") is " << int(value) << ", expected "
                       << (inside ? 255 : 0) << "; light cells expected in columns " << cells.col0
                       << ".." << cells.col1 << ", rows " << cells.row0 << ".." << cells.row1;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// ------------------------------------------------------------ without models

TEST(ImageEntryWithoutEngine, NeutralControlNeedsNoEngine) {
    releaseEngine();
    HostResult host;
    LogCapture log;
    runAeEngineImage(nullptr, "/no/such/file.png", &host.res, 300.0f, -1);
    EXPECT_FLOAT_EQ(host.res.result, 18.0f);
    EXPECT_FLOAT_EQ(host.res.confidence, 0.9f);
    EXPECT_EQ(log.count("control = -1"), 1);
    EXPECT_EQ(host.map.type, -1);  // no map
    // A null record is only logged.
    runAeEngineImage(nullptr, nullptr, nullptr, 300.0f, -1);
    EXPECT_EQ(log.count("control = -1"), 2);
}

TEST(ImageEntryWithoutEngine, OtherControlsNeedAnEngine) {
    releaseEngine();
    HostResult host;
    LogCapture log;
    runAeEngineImage(nullptr, testImagePath().c_str(), &host.res, 300.0f, 2);
    EXPECT_FLOAT_EQ(host.res.result, -5.0f);
    EXPECT_EQ(log.count("handle or xepo_result is NULL"), 1);
}

// ----------------------------------------------------------- control values

struct ControlCase {
    const char* name;
    const char* set;
    int control;
    float lux;
    float result;
    float confidence;
    bool albedoRuns;
};

void PrintTo(const ControlCase& c, std::ostream* os) {
    *os << c.name;
}

class ImageEntryControl : public ::testing::TestWithParam<ControlCase> {};

TEST_P(ImageEntryControl, WritesTheExpectedAnswer) {
    const ControlCase& c = GetParam();
    createEngine(c.set);
    HostResult host;
    LogCapture log;
    runAeEngineImage(nullptr, testImagePath().c_str(), &host.res, c.lux, c.control);
    EXPECT_FLOAT_EQ(host.res.result, c.result);
    EXPECT_FLOAT_EQ(host.res.confidence, c.confidence);
    EXPECT_EQ(log.contains("ae_excute time:"), c.albedoRuns);
    EXPECT_TRUE(log.contains("image_process time:  ["));
    // Only control 3 writes the map record.
    EXPECT_EQ(host.map.type, -1);
    for (const LoggedLine& line : log.lines()) {
        EXPECT_NE(line.priority, 6) << line.message;
        // Every line but the score mapping's own comes from the entry itself.
        if (line.text().rfind("origin_score", 0) != 0) {
            EXPECT_NE(line.message.find(" runAeEngineImage() "), std::string::npos) << line.message;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, ImageEntryControl,
    ::testing::Values(
        // Entrance alone: neutral with the entrance confidence.
        ControlCase{"entrance_only", "light", 0, 300.0f, 18.0f, 0.625f, false},
        // Albedo alone: the fraction itself, not times 100.
        ControlCase{"albedo_only", "light", 1, 300.0f, 0.25f, 0.9f, true},
        // Plain scene: the albedo model is not asked.
        ControlCase{"plain_scene", "plain", 2, 300.0f, 18.0f, 0.5f, false},
        // 31.25 maps to 29.25 at lux 300; no raise.
        ControlCase{"sure_lux300", "sure", 2, 300.0f, 29.25f, 0.9f, true},
        // Mid band: 31.25 also maps to 29.25.
        ControlCase{"sure_lux180", "sure", 2, 180.0f, 29.25f, 0.9f, true},
        // Both raises: 29.25 -> 33.25 -> 37.25.
        ControlCase{"both_raises", "raises", 2, 300.0f, 37.25f, 0.9f, true},
        // Outside the lux range the mapping gives 18; only the first raise
        // applies (18 + 4 = 22 is below the light-scene raise's 25).
        ControlCase{"raises_lux150", "raises", 2, 150.0f, 22.0f, 0.9f, true},
        ControlCase{"raises_lux400", "raises", 2, 400.0f, 22.0f, 0.9f, true},
        // 12.5 maps to 18 at lux 180, raised once to 22.
        ControlCase{"dim_lux180", "dim", 2, 180.0f, 22.0f, 0.5f, true},
        // 12.5 is kept at lux 300, raised to 16.5, then lifted to 18 because
        // the entrance confidence is low.
        ControlCase{"dim_lux300", "dim", 2, 300.0f, 18.0f, 0.5f, true},
        // A light scene asks for the albedo: 25 maps to 21; the light-scene
        // raise needs 25 or more.
        ControlCase{"light_scene", "light", 2, 300.0f, 21.0f, 0.625f, true},
        // Any control other than -1, 0, 1 and 3 takes the full path.
        ControlCase{"control_7", "sure", 7, 300.0f, 29.25f, 0.9f, true},
        ControlCase{"control_minus_2", "sure", -2, 300.0f, 29.25f, 0.9f, true}),
    [](const ::testing::TestParamInfo<ControlCase>& info) { return info.param.name; });

TEST(ImageEntry, FullPathLogsEntranceOutputsAndScore) {
    createEngine("raises");
    HostResult host;
    LogCapture log;
    runAeEngineImage(nullptr, testImagePath().c_str(), &host.res, 300.0f, 2);
    EXPECT_EQ(log.count("en_excute result:  [0.000000, 0.900000, 0.875000]\n"), 1);
    EXPECT_EQ(log.count("origin_score: 31.250000"), 1);
    EXPECT_EQ(log.count("this_albedo 37.250000"), 1);
    EXPECT_TRUE(log.contains("en_excute time:  ["));
}

TEST(ImageEntry, LightControlWritesTheMapTurnedBackBy90) {
    createEngine("light");
    HostResult host;
    LogCapture log;
    runAeEngineImage(nullptr, testImagePath().c_str(), &host.res, 300.0f, 3);
    EXPECT_FLOAT_EQ(host.res.result, 18.0f);
    EXPECT_FLOAT_EQ(host.res.confidence, 0.75f);
    EXPECT_EQ(log.count("control is 3, Confidence is 0.750000"), 1);
    EXPECT_EQ(host.map.type, 9);
    EXPECT_EQ(host.map.width, 64);
    EXPECT_EQ(host.map.height, 48);
    EXPECT_TRUE(mapMatches(host.mapData.data(), expectedCells(90)));
    EXPECT_TRUE(mapMatches(xepo::engineInstance->segMap.get(), expectedCells(90)));
}

TEST(ImageEntry, LightControlWithoutMapDataOrRecord) {
    createEngine("light");
    HostResult host;
    host.map.data = nullptr;
    runAeEngineImage(nullptr, testImagePath().c_str(), &host.res, 300.0f, 3);
    EXPECT_EQ(host.map.type, 9);
    EXPECT_FLOAT_EQ(host.res.confidence, 0.75f);

    HostResult noRecord;
    noRecord.res.segMap = nullptr;
    LogCapture log;
    runAeEngineImage(nullptr, testImagePath().c_str(), &noRecord.res, 300.0f, 3);
    EXPECT_FLOAT_EQ(noRecord.res.confidence, 0.75f);
    EXPECT_TRUE(log.contains("segMap record is null"));
}

TEST(ImageEntry, LightControlWithoutLightGivesAnEmptyMap) {
    createEngine("plain");
    HostResult host;
    LogCapture log;
    runAeEngineImage(nullptr, testImagePath().c_str(), &host.res, 300.0f, 3);
    EXPECT_EQ(host.mapData, std::vector<uint8_t>(xepo::kSegMapBytes, 0));
    EXPECT_FALSE(log.contains("innerbox"));
}

// ------------------------------------------------------------ bad image files

class ImageEntryBadFile : public ::testing::TestWithParam<const char*> {};

TEST_P(ImageEntryBadFile, LeavesTheResultUntouchedAndClearsTheMap) {
    createEngine("sure");
    std::string path = GetParam();
    if (path == "corrupt") {
        path = ::testing::TempDir() + "image_entry_corrupt.png";
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        // A PNG signature followed by garbage.
        const unsigned char bytes[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 1, 2, 3, 4};
        std::fwrite(bytes, 1, sizeof(bytes), file);
        std::fclose(file);
    }
    std::memset(xepo::engineInstance->segMap.get(), 255, xepo::kSegMapBytes);
    for (int control : {0, 1, 2, 3}) {
        HostResult host;
        LogCapture log;
        runAeEngineImage(nullptr, path.c_str(), &host.res, 300.0f, control);
        EXPECT_FLOAT_EQ(host.res.result, -5.0f) << control;
        EXPECT_FLOAT_EQ(host.res.confidence, -5.0f) << control;
        EXPECT_EQ(host.map.type, -1) << control;
        EXPECT_EQ(log.count("error imagePathtoBuffer"), 1) << control;
    }
    EXPECT_EQ(std::vector<uint8_t>(xepo::engineInstance->segMap.get(),
                                   xepo::engineInstance->segMap.get() + xepo::kSegMapBytes),
              std::vector<uint8_t>(xepo::kSegMapBytes, 0));
}

INSTANTIATE_TEST_SUITE_P(Files, ImageEntryBadFile,
                         ::testing::Values("/no/such/image.png", "corrupt"));

TEST(ImageEntry, NullPathIsLogged) {
    createEngine("sure");
    HostResult host;
    LogCapture log;
    runAeEngineImage(nullptr, nullptr, &host.res, 300.0f, 2);
    EXPECT_FLOAT_EQ(host.res.result, -5.0f);
    EXPECT_EQ(log.count("input iamge error path"), 1);
}

// ------------------------------------------------------- light-region map

class LightSegMap : public ::testing::TestWithParam<uint32_t> {};

TEST_P(LightSegMap, RectangleLandsOnTheExpectedCells) {
    createEngine("light");
    xepo::AeEngine& engine = *xepo::engineInstance;
    std::vector<uint8_t> map(xepo::kSegMapBytes, 9);
    const int32_t status = xepo::runLightSegModel(engine.lightSegRunner.get(), engine.tavkit_handle,
                                                  engine.modelInput.get(), GetParam(),
                                                  engine.lightSegOutput.get(), map.data());
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(mapMatches(map.data(), expectedCells(GetParam()))) << "rotation " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Rotations, LightSegMap,
                         ::testing::Values(0u, 90u, 180u, 270u, 360u, 450u));

TEST(LightSegMapBoxes, BoxLinesForRotations0And90) {
    createEngine("light");
    xepo::AeEngine& engine = *xepo::engineInstance;
    std::vector<uint8_t> map(xepo::kSegMapBytes);
    struct {
        uint32_t rotation;
        std::vector<std::string> lines;
    } const cases[] = {
        // Inner box (7, 14, 21, 27) and outer box (4, 11, 24, 30) on the model
        // grid, scaled by 8/7 and 6/7 and truncated.
        {0, {"innerbox: 8, 12, 24, 23\n", "outerbox: 4, 9, 27, 25\n"}},
        // Turned back by 90 first: (14, 35, 27, 49) and (11, 32, 30, 52).
        {90, {"innerbox: 16, 30, 30, 42\n", "outerbox: 12, 27, 34, 44\n"}},
    };
    for (const auto& c : cases) {
        LogCapture log;
        ASSERT_EQ(xepo::runLightSegModel(engine.lightSegRunner.get(), engine.tavkit_handle,
                                         engine.modelInput.get(), c.rotation,
                                         engine.lightSegOutput.get(), map.data()),
                  0);
        std::vector<std::string> boxLines;
        for (const std::string& text : log.texts()) {
            if (text.rfind("innerbox", 0) == 0 || text.rfind("outerbox", 0) == 0) {
                boxLines.push_back(text);
            }
        }
        EXPECT_EQ(boxLines, c.lines) << "rotation " << c.rotation;
    }
}

TEST(LightSegMapFailures, ModelFailureLeavesTheMapUntouched) {
    createEngine("light");
    xepo::AeEngine& engine = *xepo::engineInstance;
    std::vector<uint8_t> map(xepo::kSegMapBytes, 77);
    LogCapture log;
    EXPECT_EQ(xepo::runLightSegModel(nullptr, engine.tavkit_handle, engine.modelInput.get(), 90,
                                     engine.lightSegOutput.get(), map.data()),
              -1);
    EXPECT_EQ(map, std::vector<uint8_t>(xepo::kSegMapBytes, 77));
    EXPECT_EQ(log.count("run ls model fail, error code: -1"), 1);
}

TEST(LightSegMapFailures, RotateFailureLeavesTheMapUntouched) {
    createEngine("light");
    xepo::AeEngine& engine = *xepo::engineInstance;
    std::vector<uint8_t> map(xepo::kSegMapBytes, 77);
    LogCapture log;
    // No image-operator context: the 90-degree turn runs the rotate operator and fails.
    EXPECT_EQ(xepo::runLightSegModel(engine.lightSegRunner.get(), 0, engine.modelInput.get(), 90,
                                     engine.lightSegOutput.get(), map.data()),
              -3003);
    EXPECT_EQ(map, std::vector<uint8_t>(xepo::kSegMapBytes, 77));
    EXPECT_EQ(log.count("ls result rotate fail, tavkit error code: -3003"), 1);
}

TEST(LightSegMapFailures, ResizeFailureStillThresholdsTheMap) {
    createEngine("light");
    xepo::AeEngine& engine = *xepo::engineInstance;
    std::vector<uint8_t> map(xepo::kSegMapBytes);
    for (int i = 0; i < xepo::kSegMapBytes; ++i) {
        map[i] = static_cast<uint8_t>(i % 2 == 0 ? 127 : 128);
    }
    LogCapture log;
    // Rotation 0 only copies, so the first operator to run (and fail) is the resize.
    EXPECT_EQ(xepo::runLightSegModel(engine.lightSegRunner.get(), 0, engine.modelInput.get(), 0,
                                     engine.lightSegOutput.get(), map.data()),
              -3003);
    for (int i = 0; i < xepo::kSegMapBytes; ++i) {
        ASSERT_EQ(map[i], i % 2 == 0 ? 0 : 255) << i;
    }
    EXPECT_EQ(log.count("ls result resize fail, tavkit error code: -3003"), 1);
}

TEST(LightSegMapFailures, MissingBuffersAreRefused) {
    std::vector<uint8_t> map(xepo::kSegMapBytes, 77);
    std::vector<float> raw(xepo::kLightSegFloats);
    LogCapture log;
    EXPECT_EQ(xepo::runLightSegModel(nullptr, 0, nullptr, 0, nullptr, map.data()), -2001);
    EXPECT_EQ(xepo::runLightSegModel(nullptr, 0, nullptr, 0, raw.data(), nullptr), -2001);
    EXPECT_EQ(map, std::vector<uint8_t>(xepo::kSegMapBytes, 77));
}

TEST(ImageEntryZZ, ReleaseAfterAll) {
    releaseEngine();
}

}  // namespace
