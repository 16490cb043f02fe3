// Options of the simulation, its output directory and its files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "../sessions/session_test_dirs.h"
#include "closed_loop_output.h"
#include "closed_loop_run.h"
#include "nv21_frames.h"

namespace fs = std::filesystem;

namespace {

using Change = std::function<void(SimOptions&)>;

// Valid options with one change.
SimOptions validWith(const Change& change) {
    SimOptions options;
    options.photos = {"photo.jpg"};
    change(options);
    return options;
}

// The change that sets one option (the value's type is taken from the option).
template <typename T>
Change set(T SimOptions::*option, std::common_type_t<T> value) {
    return [=](SimOptions& o) { o.*option = value; };
}

// Guards: every refusal of a bad option, each naming its option, and the
// edges that are still accepted.
TEST(ClosedLoopOptions, BadOptionsAreRefusedByName) {
    const std::tuple<const char*, Change, const char*> cases[] = {
        {"no photo", set(&SimOptions::photos, {}), "photograph"},
        {"frames 0", set(&SimOptions::frames, 0), "--frames"},
        {"frames too many", set(&SimOptions::frames, kMaxSimFrames + 1), "--frames"},
        {"start beyond range", set(&SimOptions::startEvs, {0, 8.5}), "--start-ev"},
        {"start nan", set(&SimOptions::startEvs, {NAN}), "--start-ev"},
        {"no start", set(&SimOptions::startEvs, {}), "--start-ev"},
        {"unknown policy", set(&SimOptions::policies, {"grey", "magic"}), "--policy"},
        {"no policy", set(&SimOptions::policies, {}), "--policy"},
        {"odd size", set(&SimOptions::width, 641), "--size"},
        {"lux negative", set(&SimOptions::baseLux, -1), "--lux"},
        {"lux above 10000", set(&SimOptions::baseLux, 10000.5), "--lux"},
        {"speed nan", set(&SimOptions::speed, NAN), "--speed"},
        {"speed zero", set(&SimOptions::speed, 0), "--speed"},
        {"speed too fast", set(&SimOptions::speed, 2.01), "--speed"},
        {"latency 3", set(&SimOptions::latency, 3), "--latency"},
        {"latency 0", set(&SimOptions::latency, 0), "--latency"},
        {"boost below 1", set(&SimOptions::boost, 0.5), "--boost"},
        {"boost too big", set(&SimOptions::boost, 65), "--boost"},
        {"noise negative", set(&SimOptions::noise, -1), "--noise"},
        {"noise infinite", set(&SimOptions::noise, INFINITY), "--noise"},
        {"capture past the end", set(&SimOptions::captureAt, {5, 60}), "--capture-at"},
        {"capture before the start", set(&SimOptions::captureAt, {-1}), "--capture-at"},
        {"hold past the end", set(&SimOptions::holdAt, {60}), "--hold-at"},
    };
    for (const auto& [name, change, option] : cases) {
        const SimOptions options = validWith(change);
        std::string error;
        EXPECT_FALSE(checkSimOptions(options, error)) << name;
        EXPECT_NE(error.find(option), std::string::npos) << name << ": " << error;
        SimResult result;
        EXPECT_FALSE(runSimulation(options, result, error)) << name;
    }
    const Change accepted[] = {
        [](SimOptions&) {},           set(&SimOptions::startEvs, {-8, 8}),
        set(&SimOptions::frames, 1),  set(&SimOptions::baseLux, 10000),
        set(&SimOptions::speed, 2.0), set(&SimOptions::latency, 2),
        set(&SimOptions::boost, 1.0), [](SimOptions& o) { o.captureAt = o.holdAt = {0, 59}; },
    };
    for (const auto& change : accepted) {
        const SimOptions options = validWith(change);
        std::string error;
        EXPECT_TRUE(checkSimOptions(options, error)) << error;
    }
}

// Guards: the command-line lists and sizes: numbers, ranges, repeats, blanks.
TEST(ClosedLoopOptions, ListsAndSizesParse) {
    std::vector<double> evs;
    std::vector<std::string> names;
    std::string error;
    EXPECT_TRUE(parseEvList("-2,-1,0,1.5,2", evs, error));
    EXPECT_EQ(evs, std::vector<double>({-2, -1, 0, 1.5, 2}));
    for (const char* bad : {"", "-2,x", "1,,2", "1,", "9", "nan", "inf", "1,1", "2e"}) {
        EXPECT_FALSE(parseEvList(bad, evs, error)) << bad;
        EXPECT_NE(error.find("--start-ev"), std::string::npos) << bad;
    }
    EXPECT_TRUE(parsePolicyList("mean-highlight,engine", names, error));
    EXPECT_EQ(names, std::vector<std::string>({"mean-highlight", "engine"}));
    for (const char* bad : {"", "grey,", "grey,grey", "Grey", "engine,magic"}) {
        EXPECT_FALSE(parsePolicyList(bad, names, error)) << bad;
        EXPECT_NE(error.find("--policy"), std::string::npos) << bad;
    }
    int width = 0, height = 0;
    EXPECT_TRUE(parseFrameSize("320x240", width, height));
    EXPECT_EQ(width * 1000 + height, 320240);
    for (const char* bad : {"321x240", "320x241", "0x240", "320", "320x240x", "-2x4", "20000x2"}) {
        EXPECT_FALSE(parseFrameSize(bad, width, height)) << bad;
    }
}

// Guards: the output directory is refused unless it is new, empty or written
// by an earlier simulation, and files the simulation did not write are never
// replaced or removed.
TEST(ClosedLoopOutput, DirectoryIsUsedOnlyWhenItIsOurs) {
    const std::string header = std::string(kSimManifestHeader) + "\n";
    const std::string manifest = kSimManifestFile;
    using Files = std::map<std::string, std::string>;  // name ("": the directory) -> text
    const std::tuple<const char*, bool, Files, bool> cases[] = {
        // name, directory made, its files, usable
        {"new", false, {}, true},
        {"empty", true, {}, true},
        {"foreign file", true, {{"notes.txt", "mine"}}, false},
        {"foreign file named like ours", true, {{kSimRunsCsv, "mine"}}, false},
        {"earlier run with a plot beside it",
         true,
         {{manifest, header + "frames.csv\nruns.csv\n"},
          {kSimRunsCsv, "old"},
          {"plot.png", "picture"}},
         true},
        {"manifest that does not list an existing file",
         true,
         {{manifest, header + "frames.csv\n"}, {kSimSummaryJson, "mine"}},
         false},
        {"manifest of something else", true, {{manifest, "runs.csv\n"}}, false},
        {"a file, not a directory", false, {{"", "file"}}, false},
    };
    int index = 0;
    for (const auto& [name, made, files, usable] : cases) {
        SCOPED_TRACE(name);
        const fs::path dir = freshTestDir("_" + std::to_string(index++));
        if (!made) {
            fs::remove(dir);
        }
        const auto at = [&dir](const std::string& file) { return file.empty() ? dir : dir / file; };
        for (const auto& [file, text] : files) {
            writeText(at(file), text);
        }
        std::string error;
        EXPECT_EQ(prepareSimOutput(dir.string(), error), usable) << error;
        if (usable) {
            EXPECT_EQ(readWholeFile(dir / kSimManifestFile).rfind(header, 0), 0u);
        } else {
            EXPECT_FALSE(error.empty());
        }
        for (const auto& [file, text] : files) {
            if (!usable || file == "plot.png") {
                EXPECT_EQ(readWholeFile(at(file)), text) << file << " was changed";
            }
        }
    }
}

// Guards: a file that cannot be created, or not written in full (a full disk),
// fails the writing with its name and the reason, rather than silently.
TEST(ClosedLoopOutput, AFullDiskIsReported) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    const std::pair<bool, std::string> cases[] = {
        {true, std::string(kSimRunsCsv) + ": write error"},  // the disk is full
        {false, std::string(kSimRunsCsv) + ": cannot create (Is a directory)"},
    };
    for (const auto& [fullDisk, message] : cases) {
        const fs::path dir = freshTestDir(fullDisk ? "_full_disk" : "_not_creatable");
        std::string error;
        ASSERT_TRUE(prepareSimOutput(dir.string(), error)) << error;
        fs::create_symlink(fullDisk ? fs::path("/dev/full") : dir, dir / kSimRunsCsv);
        const SimResult result{std::vector<SimRun>(1), {}};
        EXPECT_FALSE(writeSimOutput(dir.string(), SimOptions{}, result, error));
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

// Guards: the per-frame lines: missing numbers written empty (CSV) or null
// (JSON), a photo path with a comma or quote kept intact, flags written.
TEST(ClosedLoopOutput, FrameLinesMarkWhatAPolicyDidNotGive) {
    const SimRun run{3, "dir/a,\"b\".jpg", "grey", -2.0, {}, {}};
    // frame, ev, lux, measured, score, confidence, route, light cells, capture, hold, ms
    SimFrameRecord frame{7, -0.5, 288.275f, 0.1234567, 18.0, NAN, "", -1, true, false, 0.0};
    EXPECT_EQ(simFrameCsvLine(run, frame),
              "3,\"dir/a,\"\"b\"\".jpg\",grey,-2.0000,7,-0.5000,288.2750,0.123457,18.0000,,,,1,0");
    EXPECT_EQ(simFrameJsonLine(run, frame),
              "{\"run\": 3, \"photo\": \"dir/a,\\\"b\\\".jpg\", \"policy\": \"grey\", "
              "\"start_ev\": -2.0000, \"frame\": 7, \"ev\": -0.5000, \"aec_lux\": 288.2750, "
              "\"measured\": 0.123457, \"score\": 18.0000, \"confidence\": null, \"route\": null, "
              "\"light_cells\": null, \"capture\": true, \"hold\": false}");
    frame.route = "stable";
    frame.lightCells = 12;
    frame.confidence = 0.9;
    EXPECT_NE(simFrameJsonLine(run, frame)
                  .find("\"confidence\": 0.9000, \"route\": \"stable\", "
                        "\"light_cells\": 12"),
              std::string::npos);
    EXPECT_NE(simFrameCsvLine(run, frame).find(",0.9000,stable,12,"), std::string::npos);
}

// Guards: determinism of the whole simulation through its files: the same
// options write the same bytes, one row per frame and per run.
TEST(ClosedLoopOutput, SameOptionsWriteTheSameBytes) {
    SimOptions options;
    options.photos = {samplePath("coffee.jpg"), samplePath("rocket.jpg")};
    options.policies = {"grey", "mean-highlight"};
    options.startEvs = {-2.0, 1.0};
    options.frames = 12;
    options.width = 96;
    options.height = 64;
    options.motion = MotionKind::Shake;
    options.noise = 2.0;
    options.latency = 2;
    std::map<std::string, std::string> files[2];  // name -> text, by pass
    for (int pass = 0; pass < 2; ++pass) {
        const std::string dir = freshTestDir("_" + std::to_string(pass));
        SimResult result;
        std::string error;
        std::pair<uint64_t, uint64_t> last;  // frames done, frames in all
        const auto progress = [&last](uint64_t done, uint64_t total) { last = {done, total}; };
        ASSERT_TRUE(runSimulation(options, result, error, progress)) << error;
        EXPECT_EQ(last, std::make_pair(uint64_t{2 * 2 * 2 * 12}, uint64_t{2 * 2 * 2 * 12}));
        ASSERT_EQ(result.runs.size(), 8u);
        ASSERT_EQ(result.summaries.size(), 2u);
        EXPECT_EQ(result.summaries[1].policy, "mean-highlight");
        EXPECT_EQ(result.runs[3].policy, "mean-highlight");
        EXPECT_EQ(result.runs[3].id, 3);  // runs are numbered from 0, in the order they ran
        EXPECT_EQ(result.runs[3].startEv, 1.0);
        EXPECT_EQ(result.runs[3].photo, options.photos[0]);
        EXPECT_EQ(result.runs[4].photo, options.photos[1]);
        ASSERT_TRUE(prepareSimOutput(dir, error)) << error;
        ASSERT_TRUE(writeSimOutput(dir, options, result, error)) << error;
        for (const std::string& file : simOutputFiles()) {
            files[pass][file] = readWholeFile(fs::path(dir) / file);
        }
    }
    EXPECT_EQ(files[0], files[1]);
    // One line per frame or run, and a header in each CSV file.
    const std::pair<const char*, long> lines[] = {
        {kSimFramesJsonl, 8 * 12}, {kSimFramesCsv, 8 * 12 + 1}, {kSimRunsCsv, 8 + 1}};
    for (const auto& [file, count] : lines) {
        EXPECT_EQ(std::count(files[0][file].begin(), files[0][file].end(), '\n'), count) << file;
    }
}

}  // namespace
