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

// A still session over a photo: lux 300, scale 1, control 2 unless `script` changes it.
std::string writeSession(const std::string& name, int count,
                         const std::function<void(int, SessionFrame&)>& script) {
    SourcePhoto photo;
    std::string error;
    EXPECT_TRUE(loadSourcePhoto(samplePath("coffee.jpg"), photo, error)) << error;
    const WindowGeometry geometry = windowGeometry(photo, kWidth, kHeight);
    const std::string dir = freshTestDir("_" + name);
    SessionWriter writer(dir);
    std::vector<uint8_t> nv21;
    for (int i = 0; i < count; ++i) {
        SessionFrame frame{"", kWidth, kHeight, kWidth};
        frame.aec_lux = 300.0f;
        frame.enable_seg = 1;
        frame.control = 2;
        frame.gyro = gyroBlockForFrame(i, CameraPose{}, CameraPose{});
        if (script) {
            script(i, frame);
        }
        renderWindow(photo, geometry, 0, 0, frame.scale, kWidth, kHeight, nv21);
        writer.addFrame(frame, nv21.data());
    }
    writer.finish();
    return dir;
}

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
    // name, models (folder below SESSION_MODEL_ROOT), frames, passes, script,
    // route of every frame replayed (see expand())
    const std::tuple<const char*, const char*, int, int, std::function<void(int, SessionFrame&)>,
                     const char*>
        cases[] = {
            {"CaptureAndZoom", "confident", 21, 1,
             [](int i, SessionFrame& f) {
                 f.isPhotoing = i == 8;
                 f.scale = i >= 10 ? 2.0f : 1.0f;
             },
             "unstable_albedo*5 stable*3 hold unstable_albedo zoom_hold*11"},
            {"LuxJumpsKeepTheScore", "confident", 4, 1,
             [](int i, SessionFrame& f) { f.aec_lux = i < 2 ? 300.0f : 240.0f + 60.0f * i; },
             "unstable_albedo*2 keep*2"},
            {"LightScene", "light", 2, 1, nullptr, "unstable_light*2"},
            {"UnsureScene", "unsure", 2, 1, nullptr, "unstable_fallback*2"},
            {"DirectControls", "confident", 3, 1, [](int i, SessionFrame& f) { f.control = i - 1; },
             "neutral entrance_only albedo_only"},
            {"RepeatKeepsTheEngine", "confident", 6, 3, nullptr,
             "unstable_albedo*5 stable*3 unstable_albedo stable*2 unstable_albedo stable*6"},
        };
    for (const auto& [name, models, frames, passes, script, expected] : cases) {
        SCOPED_TRACE(name);
        ReplayOptions options;
        options.session = writeSession(name, frames, script);
        options.modelDir = std::string(SESSION_MODEL_ROOT) + "/" + models;
        options.csv = options.session + "/replay.csv";
        options.repeat = passes;
        ReplaySummary summary;
        std::string error;
        ASSERT_TRUE(replaySession(options, summary, error)) << error;
        std::ifstream csv(options.csv);
        std::vector<std::string> routes;
        std::string line;
        std::getline(csv, line);  // header
        while (std::getline(csv, line)) {
            routes.push_back(line.substr(line.rfind(',') + 1));
        }
        EXPECT_EQ(routes, expand(expected));
    }
}

}  // namespace
