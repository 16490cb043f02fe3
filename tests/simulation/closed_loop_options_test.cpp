// Options of the simulation, its output directory and its files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "closed_loop_output.h"
#include "closed_loop_run.h"
#include "nv21_frames.h"

namespace fs = std::filesystem;

namespace {

std::string scratchDir(const std::string& name) {
    const fs::path dir = fs::path(XEPO_BINARY_DIR) / "tests/simulation/scratch" / name;
    fs::remove_all(dir);
    fs::create_directories(dir.parent_path());
    return dir.string();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

SimOptions validOptions() {
    SimOptions options;
    options.photos = {"photo.jpg"};
    return options;
}

// Guards: every refusal of a bad option, each naming its option, and the
// edges that are still accepted.
TEST(ClosedLoopOptions, BadOptionsAreRefusedByName) {
    using Change = std::function<void(SimOptions&)>;
    const std::tuple<const char*, Change, const char*> cases[] = {
        {"no photo", [](SimOptions& o) { o.photos.clear(); }, "photograph"},
        {"frames 0", [](SimOptions& o) { o.frames = 0; }, "--frames"},
        {"frames too many", [](SimOptions& o) { o.frames = kMaxSimFrames + 1; }, "--frames"},
        {"start beyond range",
         [](SimOptions& o) {
             o.startEvs = {0, 8.5};
         },
         "--start-ev"},
        {"start nan", [](SimOptions& o) { o.startEvs = {NAN}; }, "--start-ev"},
        {"no start", [](SimOptions& o) { o.startEvs.clear(); }, "--start-ev"},
        {"unknown policy",
         [](SimOptions& o) {
             o.policies = {"grey", "magic"};
         },
         "--policy"},
        {"no policy", [](SimOptions& o) { o.policies.clear(); }, "--policy"},
        {"odd size", [](SimOptions& o) { o.width = 641; }, "--size"},
        {"lux negative", [](SimOptions& o) { o.baseLux = -1; }, "--lux"},
        {"lux above 10000", [](SimOptions& o) { o.baseLux = 10000.5; }, "--lux"},
        {"speed nan", [](SimOptions& o) { o.speed = NAN; }, "--speed"},
        {"speed zero", [](SimOptions& o) { o.speed = 0; }, "--speed"},
        {"speed too fast", [](SimOptions& o) { o.speed = 2.01; }, "--speed"},
        {"latency 3", [](SimOptions& o) { o.latency = 3; }, "--latency"},
        {"latency 0", [](SimOptions& o) { o.latency = 0; }, "--latency"},
        {"boost below 1", [](SimOptions& o) { o.boost = 0.5; }, "--boost"},
        {"boost too big", [](SimOptions& o) { o.boost = 65; }, "--boost"},
        {"noise negative", [](SimOptions& o) { o.noise = -1; }, "--noise"},
        {"noise infinite", [](SimOptions& o) { o.noise = INFINITY; }, "--noise"},
        {"capture past the end",
         [](SimOptions& o) {
             o.captureAt = {5, 60};
         },
         "--capture-at"},
        {"capture before the start", [](SimOptions& o) { o.captureAt = {-1}; }, "--capture-at"},
        {"hold past the end", [](SimOptions& o) { o.holdAt = {60}; }, "--hold-at"},
    };
    for (const auto& [name, change, option] : cases) {
        SimOptions options = validOptions();
        change(options);
        std::string error;
        EXPECT_FALSE(checkSimOptions(options, error)) << name;
        EXPECT_NE(error.find(option), std::string::npos) << name << ": " << error;
        SimResult result;
        EXPECT_FALSE(runSimulation(options, result, error)) << name;
    }
    const std::function<void(SimOptions&)> accepted[] = {
        [](SimOptions&) {},
        [](SimOptions& o) {
            o.startEvs = {-8, 8};
        },
        [](SimOptions& o) { o.frames = 1; },
        [](SimOptions& o) { o.baseLux = 10000; },
        [](SimOptions& o) { o.speed = 2.0; },
        [](SimOptions& o) { o.latency = 2; },
        [](SimOptions& o) { o.boost = 1.0; },
        [](SimOptions& o) {
            o.captureAt = {0, 59};
            o.holdAt = {59};
        },
    };
    for (const auto& change : accepted) {
        SimOptions options = validOptions();
        change(options);
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
    using Setup = std::function<void(const fs::path&)>;
    const std::string header = std::string(kSimManifestHeader) + "\n";
    const std::tuple<const char*, Setup, bool> cases[] = {
        {"new", [](const fs::path&) {}, true},
        {"empty", [](const fs::path& d) { fs::create_directories(d); }, true},
        {"foreign file",
         [](const fs::path& d) {
             fs::create_directories(d);
             writeFile(d / "notes.txt", "mine");
         },
         false},
        {"foreign file named like ours",
         [](const fs::path& d) {
             fs::create_directories(d);
             writeFile(d / kSimRunsCsv, "mine");
         },
         false},
        {"earlier run with a plot beside it",
         [&header](const fs::path& d) {
             fs::create_directories(d);
             writeFile(d / kSimManifestFile, header + "frames.csv\nruns.csv\n");
             writeFile(d / kSimRunsCsv, "old");
             writeFile(d / "plot.png", "picture");
         },
         true},
        {"manifest that does not list an existing file",
         [&header](const fs::path& d) {
             fs::create_directories(d);
             writeFile(d / kSimManifestFile, header + "frames.csv\n");
             writeFile(d / kSimSummaryJson, "mine");
         },
         false},
        {"manifest of something else",
         [](const fs::path& d) {
             fs::create_directories(d);
             writeFile(d / kSimManifestFile, "runs.csv\n");
         },
         false},
        {"a file, not a directory", [](const fs::path& d) { writeFile(d, "file"); }, false},
    };
    int index = 0;
    for (const auto& [name, setup, usable] : cases) {
        const fs::path dir = scratchDir("output_" + std::to_string(index++));
        setup(dir);
        std::map<std::string, std::string> before;
        if (fs::is_directory(dir)) {
            for (const auto& entry : fs::directory_iterator(dir)) {
                before[entry.path().filename().string()] = readFile(entry.path());
            }
        }
        std::string error;
        EXPECT_EQ(prepareSimOutput(dir.string(), error), usable) << name << ": " << error;
        if (usable) {
            EXPECT_EQ(readFile(dir / kSimManifestFile).rfind(header, 0), 0u) << name;
            if (before.count("plot.png") != 0) {
                EXPECT_EQ(readFile(dir / "plot.png"), "picture");
            }
        } else {
            EXPECT_FALSE(error.empty()) << name;
            for (const auto& [file, text] : before) {
                EXPECT_EQ(readFile(dir / file), text) << name << ": " << file << " was changed";
            }
            if (fs::is_directory(dir)) {
                EXPECT_EQ(before.count(kSimManifestFile) != 0, fs::exists(dir / kSimManifestFile))
                    << name;
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
        const fs::path dir = scratchDir(fullDisk ? "full_disk" : "not_creatable");
        std::string error;
        ASSERT_TRUE(prepareSimOutput(dir.string(), error)) << error;
        if (fullDisk) {
            fs::create_symlink("/dev/full", dir / kSimRunsCsv);
        } else {
            fs::create_directory(dir / kSimRunsCsv);
        }
        SimOptions options = validOptions();
        SimResult result;
        result.runs.resize(1);
        EXPECT_FALSE(writeSimOutput(dir.string(), options, result, error));
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

// Guards: the per-frame lines: missing numbers written empty (CSV) or null
// (JSON), a photo path with a comma or quote kept intact, flags written.
TEST(ClosedLoopOutput, FrameLinesMarkWhatAPolicyDidNotGive) {
    SimRun run;
    run.id = 3;
    run.photo = "dir/a,\"b\".jpg";
    run.policy = "grey";
    run.startEv = -2.0;
    SimFrameRecord frame;
    frame.frame = 7;
    frame.ev = -0.5;
    frame.lux = 288.275f;
    frame.measured = 0.1234567;
    frame.score = 18.0;
    frame.confidence = NAN;
    frame.capture = true;
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
    std::string texts[2];
    for (int pass = 0; pass < 2; ++pass) {
        const std::string dir = scratchDir("determinism_" + std::to_string(pass));
        SimResult result;
        std::string error;
        uint64_t lastDone = 0, lastTotal = 0;
        ASSERT_TRUE(runSimulation(options, result, error, [&](uint64_t done, uint64_t total) {
            lastDone = done;
            lastTotal = total;
        })) << error;
        EXPECT_EQ(lastDone, 2u * 2u * 2u * 12u);
        EXPECT_EQ(lastTotal, lastDone);
        ASSERT_EQ(result.runs.size(), 8u);
        ASSERT_EQ(result.summaries.size(), 2u);
        EXPECT_EQ(result.summaries[1].policy, "mean-highlight");
        EXPECT_EQ(result.runs[3].policy, "mean-highlight");
        EXPECT_EQ(result.runs[3].startEv, 1.0);
        EXPECT_EQ(result.runs[3].photo, options.photos[0]);
        EXPECT_EQ(result.runs[4].photo, options.photos[1]);
        ASSERT_TRUE(prepareSimOutput(dir, error)) << error;
        ASSERT_TRUE(writeSimOutput(dir, options, result, error)) << error;
        for (const std::string& file : simOutputFiles()) {
            texts[pass] += "== " + file + "\n" + readFile(fs::path(dir) / file);
        }
    }
    EXPECT_EQ(texts[0], texts[1]);
    const auto lines = [](const std::string& text, const std::string& file) {
        const size_t start = text.find("== " + file + "\n");
        const size_t end = text.find("== ", start + 3);
        return std::count(text.begin() + long(start), text.begin() + long(end), '\n') - 1;
    };
    EXPECT_EQ(lines(texts[0], kSimFramesJsonl), 8 * 12);
    EXPECT_EQ(lines(texts[0], kSimFramesCsv), 8 * 12 + 1);
    EXPECT_EQ(lines(texts[0], kSimRunsCsv), 8 + 1);
}

}  // namespace
