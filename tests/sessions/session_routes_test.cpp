// Replay in-process on constant-output models: the route read from the engine's
// log lines matches what the engine did on each frame.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "nv21_frames.h"
#include "session_frames.h"
#include "session_motion.h"
#include "session_replay.h"
#include "session_test_dirs.h"
#include "session_writer.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// "a*3 b" -> {a, a, a, b}
std::vector<std::string> expand(const std::string& text) {
    std::vector<std::string> routes;
    std::istringstream in(text);
    for (std::string token; in >> token;) {
        const size_t star = token.find('*');
        const int times = star == std::string::npos ? 1 : std::stoi(token.substr(star + 1));
        routes.insert(routes.end(), size_t(times), token.substr(0, star));
    }
    return routes;
}

using Script = std::function<void(int, SessionFrame&)>;

// Writes a session of `frames` still frames of the coffee photo (lux 300,
// segmentation on, control 2, scale 1, each changed by `script`), replays it
// `passes` times on a model set below TEST_MODEL_ROOT and returns the
// replay's JSON lines, whose routes the CSV's last column must repeat.
std::vector<nlohmann::json> replayStill(const std::string& name, const std::string& models,
                                        int frames, int passes, const Script& script) {
    SourcePhoto photo;
    std::string error;
    EXPECT_TRUE(loadSourcePhoto(samplePath("coffee.jpg"), photo, error)) << error;
    const std::string dir = freshTestDir("_" + name);
    SessionWriter writer(dir);
    std::vector<uint8_t> nv21;
    for (int i = 0; i < frames; ++i) {
        SessionFrame frame{"", kWidth, kHeight, kWidth};
        std::tie(frame.aec_lux, frame.enable_seg, frame.control) = std::make_tuple(300.0f, 1, 2);
        frame.gyro = gyroBlockForFrame(i, CameraPose{}, CameraPose{});
        script(i, frame);
        renderWindow(photo, windowGeometry(photo, kWidth, kHeight), 0, 0, frame.scale, kWidth,
                     kHeight, nv21);
        writer.addFrame(frame, nv21.data());
    }
    writer.finish();
    ReplayOptions options{dir, dir + "/replay.csv", dir + "/replay.jsonl",
                          TEST_MODEL_ROOT "/" + models};
    options.repeat = passes;
    ReplaySummary summary;
    EXPECT_TRUE(replaySession(options, summary, error)) << error;
    std::ifstream jsonl(options.jsonl), csv(options.csv);
    std::vector<nlohmann::json> lines;
    std::string row;
    std::getline(csv, row);  // the header
    for (std::string line; std::getline(jsonl, line) && std::getline(csv, row);) {
        lines.push_back(nlohmann::json::parse(line));
        EXPECT_EQ(row.substr(row.rfind(',') + 1), lines.back()["route"]) << "CSV's route column";
    }
    return lines;
}

// Guards: the route column (hold, zoom hold, stable with its periodic
// re-score, albedo / light / fallback, kept score, direct controls, a held
// exposure) follows
// the engine frame by frame; repeated passes keep one engine and its state.
TEST(SessionReplay, RoutesFollowTheEngine) {
    const auto still = [](int, SessionFrame&) {};
    // name, models, frames, passes, script, route of every frame replayed (see expand())
    const std::tuple<const char*, const char*, int, int, Script, const char*> cases[] = {
        {"CaptureAndZoom", "confident", 21, 1,
         [](int i, SessionFrame& f) {
             f.isPhotoing = i == 8;
             f.scale = i >= 10 ? 2.0f : 1.0f;
         },
         "unstable_albedo*5 stable*3 hold unstable_albedo zoom_hold*11"},
        {"LuxJumpsKeepTheScore", "confident", 4, 1,
         [](int i, SessionFrame& f) { f.aec_lux = i < 2 ? 300.0f : 240.0f + 60.0f * i; },
         "unstable_albedo*2 keep*2"},
        {"HeldExposureRunsNoAlbedo", "confident", 4, 1,
         [](int i, SessionFrame& f) { f.holdFlag = i >= 2; },
         "unstable_albedo*2 unstable_fallback*2"},
        {"LightScene", "light", 2, 1, still, "unstable_light*2"},
        {"UnsureScene", "unsure", 2, 1, still, "unstable_fallback*2"},
        {"DirectControls", "confident", 3, 1, [](int i, SessionFrame& f) { f.control = i - 1; },
         "neutral entrance_only albedo_only"},
        {"RepeatKeepsTheEngine", "confident", 6, 3, still,
         "unstable_albedo*5 stable*3 unstable_albedo stable*2 unstable_albedo stable*6"},
    };
    for (const auto& [name, models, frames, passes, script, expected] : cases) {
        SCOPED_TRACE(name);
        std::vector<std::string> routes;
        for (const nlohmann::json& line : replayStill(name, models, frames, passes, script)) {
            routes.push_back(line["route"]);
        }
        EXPECT_EQ(routes, expand(expected));
    }
}

// Guards: each recorded frame reaches the engine with its own rotation. The
// light path turns its map back by the frame's rotation, so the same frame
// recorded upright and turned by a quarter gives as many light cells in
// another place.
TEST(SessionReplay, FramesKeepTheirRotation) {
    std::vector<nlohmann::json> answers;
    for (const int32_t rotation : {0, 90}) {
        answers.push_back(replayStill("rotation" + std::to_string(rotation), "light", 1, 1,
                                      [rotation](int, SessionFrame& f) { f.rotation = rotation; })
                              .at(0));
        EXPECT_EQ(answers.back()["route"], "unstable_light");
    }
    EXPECT_GT(answers[0]["light_cells"].get<int>(), 0);
    EXPECT_EQ(answers[1]["light_cells"], answers[0]["light_cells"]);
    EXPECT_TRUE(answers[1]["light_map"] != answers[0]["light_map"])
        << "the quarter-turned frame's light map is the upright frame's";
}

}  // namespace
