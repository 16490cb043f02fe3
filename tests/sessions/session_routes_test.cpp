// Replay in-process on constant-output models: the route read from the engine's
// log lines matches what the engine did on each frame.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
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

// What one frame of a scripted session looks like to the engine.
struct ScriptedFrame {
    float lux = 300.0f;
    float scale = 1.0f;
    int isPhotoing = 0;
    int control = 2;
};

std::string writeSession(const std::vector<ScriptedFrame>& script) {
    const std::string dir = freshTestDir("_session");
    SourcePhoto photo;
    std::string error;
    EXPECT_TRUE(loadSourcePhoto(samplePath("coffee.jpg"), photo, error)) << error;
    const WindowGeometry geometry = windowGeometry(photo, kWidth, kHeight);
    SessionWriter writer(dir);
    std::vector<uint8_t> nv21;
    const CameraPose still;
    for (size_t i = 0; i < script.size(); ++i) {
        renderWindow(photo, geometry, 0, 0, script[i].scale, kWidth, kHeight, nv21);
        SessionFrame frame;
        frame.width = kWidth;
        frame.height = kHeight;
        frame.stride = kWidth;
        frame.scale = script[i].scale;
        frame.aec_lux = script[i].lux;
        frame.isPhotoing = script[i].isPhotoing;
        frame.enable_seg = 1;
        frame.control = script[i].control;
        frame.gyro = gyroBlockForFrame(static_cast<int>(i), still, still);
        writer.addFrame(frame, nv21.data());
    }
    writer.finish();
    return dir;
}

// The route column of the replay's CSV.
std::vector<std::string> replayRoutes(const std::string& session, const std::string& models,
                                      ReplaySummary& summary) {
    ReplayOptions options;
    options.session = session;
    options.modelDir = models;
    options.csv = session + "/replay.csv";
    std::string error;
    EXPECT_TRUE(replaySession(options, summary, error)) << error;
    std::ifstream in(options.csv);
    std::vector<std::string> routes;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        routes.push_back(line.substr(line.rfind(',') + 1));
    }
    return routes;
}

std::vector<ScriptedFrame> steady(int count, float lux = 300.0f) {
    ScriptedFrame frame;
    frame.lux = lux;
    return std::vector<ScriptedFrame>(static_cast<size_t>(count), frame);
}

struct RouteCase {
    const char* name;
    const char* models;  // folder below SESSION_MODEL_ROOT
    std::vector<ScriptedFrame> frames;
    std::vector<std::string> routes;  // expected route of every frame
};

std::vector<RouteCase> routeCases() {
    std::vector<RouteCase> cases;
    {
        // The first five frames are scored by the models, then the unchanged
        // scene is stable, except for the re-score on its fourth stable count
        // (frame 9); a capture and a zoom switch are held.
        std::vector<ScriptedFrame> frames = steady(21);
        frames[8].isPhotoing = 1;
        for (size_t i = 10; i < frames.size(); ++i) {
            frames[i].scale = 2.0f;
        }
        cases.push_back({"ConfidentCaptureAndZoom",
                         "confident",
                         frames,
                         {"unstable_albedo", "unstable_albedo", "unstable_albedo",
                          "unstable_albedo", "unstable_albedo", "stable",
                          "stable",          "stable",          "hold",
                          "unstable_albedo", "zoom_hold",       "zoom_hold",
                          "zoom_hold",       "zoom_hold",       "zoom_hold",
                          "zoom_hold",       "zoom_hold",       "zoom_hold",
                          "zoom_hold",       "zoom_hold",       "zoom_hold"}});
    }
    {
        // A lux jump (class 0) after the first frame: the last score is kept
        // without a model.
        std::vector<ScriptedFrame> frames = steady(4);
        frames[2].lux = 360.0f;
        frames[3].lux = 420.0f;
        cases.push_back({"LuxJumpsKeepTheScore",
                         "confident",
                         frames,
                         {"unstable_albedo", "unstable_albedo", "keep", "keep"}});
    }
    {
        // An unsure entrance on a light scene with a large light map.
        cases.push_back({"LightScene", "light", steady(2), {"unstable_light", "unstable_light"}});
    }
    {
        // An unsure entrance without light: neither model decides.
        cases.push_back(
            {"UnsureScene", "unsure", steady(2), {"unstable_fallback", "unstable_fallback"}});
    }
    {
        std::vector<ScriptedFrame> frames = steady(3);
        frames[0].control = -1;
        frames[1].control = 0;
        frames[2].control = 1;
        cases.push_back(
            {"DirectControls", "confident", frames, {"neutral", "entrance_only", "albedo_only"}});
    }
    return cases;
}

class ReplayRoutes : public testing::TestWithParam<RouteCase> {};

TEST_P(ReplayRoutes, FollowTheEngine) {
    const RouteCase& c = GetParam();
    const std::string session = writeSession(c.frames);
    ReplaySummary summary;
    const std::vector<std::string> routes =
        replayRoutes(session, std::string(SESSION_MODEL_ROOT) + "/" + c.models, summary);
    EXPECT_EQ(routes, c.routes);
    EXPECT_EQ(summary.frames(), c.frames.size());
}

INSTANTIATE_TEST_SUITE_P(Sessions, ReplayRoutes, testing::ValuesIn(routeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReplayTest, RepeatRunsEveryFrameAgainWithOneEngine) {
    const std::string session = writeSession(steady(6));
    ReplayOptions options;
    options.session = session;
    options.modelDir = std::string(SESSION_MODEL_ROOT) + "/confident";
    options.repeat = 3;
    ReplaySummary summary;
    std::string error;
    ASSERT_TRUE(replaySession(options, summary, error)) << error;
    EXPECT_EQ(summary.frames(), 18u);
    // The engine keeps its state across passes: after the five first model
    // runs only the re-scores on the stable counts 4 and 7 run the models.
    EXPECT_EQ(summary.routeCount(Route::UnstableAlbedo), 7u);
    EXPECT_EQ(summary.routeCount(Route::Stable), 11u);
}

TEST(ReplayTest, MissingModelsAndBrokenSessionsAreReported) {
    const std::string session = writeSession(steady(1));
    ReplayOptions options;
    options.session = session;
    options.modelDir = session + "/no-models";
    ReplaySummary summary;
    std::string error;
    EXPECT_FALSE(replaySession(options, summary, error));
    EXPECT_NE(error.find("no-models does not exist"), std::string::npos) << error;

    options.session = session + "/nowhere";
    EXPECT_FALSE(replaySession(options, summary, error));
    EXPECT_NE(error.find("cannot open the session index"), std::string::npos) << error;
}

}  // namespace
