// Replay in-process on constant-output models: the route read from the engine's
// log lines matches what the engine did on each frame.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

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

// Guards: the route column (hold, zoom hold, stable with its periodic
// re-score, albedo / light / fallback, kept score, direct controls) follows
// the engine frame by frame; repeated passes keep one engine and its state.
TEST(SessionReplay, RoutesFollowTheEngine) {
    SourcePhoto photo;
    std::string error;
    ASSERT_TRUE(loadSourcePhoto(samplePath("coffee.jpg"), photo, error)) << error;
    const auto still = [](int, SessionFrame&) {};
    // name, models (folder below SESSION_MODEL_ROOT), frames, passes, script that
    // changes a still frame (lux 300, scale 1, control 2), route of every frame
    // replayed (see expand())
    using Script = std::function<void(int, SessionFrame&)>;
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
        {"LightScene", "light", 2, 1, still, "unstable_light*2"},
        {"UnsureScene", "unsure", 2, 1, still, "unstable_fallback*2"},
        {"DirectControls", "confident", 3, 1, [](int i, SessionFrame& f) { f.control = i - 1; },
         "neutral entrance_only albedo_only"},
        {"RepeatKeepsTheEngine", "confident", 6, 3, still,
         "unstable_albedo*5 stable*3 unstable_albedo stable*2 unstable_albedo stable*6"},
    };
    for (const auto& [name, models, frames, passes, script, expected] : cases) {
        SCOPED_TRACE(name);
        ReplayOptions options;
        options.session = freshTestDir(std::string("_") + name);
        SessionWriter writer(options.session);
        std::vector<uint8_t> nv21;
        for (int i = 0; i < frames; ++i) {
            SessionFrame frame{"", kWidth, kHeight, kWidth};
            std::tie(frame.aec_lux, frame.enable_seg, frame.control) =
                std::make_tuple(300.0f, 1, 2);
            frame.gyro = gyroBlockForFrame(i, CameraPose{}, CameraPose{});
            script(i, frame);
            renderWindow(photo, windowGeometry(photo, kWidth, kHeight), 0, 0, frame.scale, kWidth,
                         kHeight, nv21);
            writer.addFrame(frame, nv21.data());
        }
        writer.finish();
        options.modelDir = std::string(SESSION_MODEL_ROOT) + "/" + models;
        options.csv = options.session + "/replay.csv";
        options.repeat = passes;
        ReplaySummary summary;
        ASSERT_TRUE(replaySession(options, summary, error)) << error;
        std::ifstream csv(options.csv);
        std::vector<std::string> routes;
        for (std::string line; std::getline(csv, line);) {
            routes.push_back(line.substr(line.rfind(',') + 1));
        }
        routes.erase(routes.begin());  // header
        EXPECT_EQ(routes, expand(expected));
    }
}

}  // namespace
