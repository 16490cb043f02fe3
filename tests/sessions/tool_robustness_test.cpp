// The built xepo tool end to end on bad input: it never deletes or overwrites
// files it did not write, never decodes more than it can afford, reports
// frames the engine refused as a failure, and refuses bad command lines with
// exit 2 and a clear message.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "crafted_images.h"
#include "nv21_frames.h"
#include "session_format.h"
#include "session_frames.h"
#include "session_motion.h"
#include "session_test_dirs.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
using Prepare = std::function<void(const std::string& work)>;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;
// A tool that hangs (on a pipe, say) is stopped after this long.
constexpr double kHangSeconds = 30.0;
// Peak memory of `xepo image` on a file it refuses by its header, above its
// peak on a small picture: decoding what the header claims would take a
// gigabyte more.
constexpr long kRefusedImageExtraRssKb = 64 * 1024;

std::string photo() {
    return samplePath("rocket.jpg");
}

// Every file below `dir` (the tool's captured output aside) with its bytes, or
// the target of a link.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (fs::recursive_directory_iterator it(dir), end; it != end; ++it) {
        const std::string name = it->path().lexically_relative(dir).string();
        if (name.rfind("tool_std", 0) == 0) {
            continue;
        }
        files[name] = it->is_symlink()        ? "-> " + fs::read_symlink(it->path()).string()
                      : it->is_regular_file() ? readWholeFile(it->path().string())
                                              : std::string("(folder)");
    }
    return files;
}

void synthInto(const std::string& work, const std::string& out, int frames,
               const char* motion = "pan") {
    const ToolRun run = runTool({"synth", photo(), "--out", out, "--frames", std::to_string(frames),
                                 "--size", "64x48", "--motion", motion},
                                work);
    ASSERT_EQ(run.exitCode, 0) << run.err;
}

std::vector<std::string> synthArgs(const std::string& out) {
    return {"synth", photo(), "--out", out, "--frames", "2", "--size", "64x48"};
}

std::vector<std::string> replayArgs(std::vector<std::string> outputs) {
    std::vector<std::string> args = {"replay", "s", "--models",
                                     std::string(TEST_MODEL_ROOT) + "/confident"};
    args.insert(args.end(), outputs.begin(), outputs.end());
    return args;
}

struct RefusalCase {
    Prepare setup;                  // prepares the scratch directory, or nothing
    std::vector<std::string> args;  // the command, run in the scratch directory
    int exitCode;
    std::string message;  // part of standard error
};

// A bad command line: nothing prepared, exit 2, `message` on standard error.
RefusalCase usage(std::vector<std::string> args, std::string message) {
    return {[](const std::string&) {}, std::move(args), kExitUsage, std::move(message)};
}

// Guards: a refused command leaves every file in its directory as it was and
// adds none, exits with its code and names the fault. Synth writes only into a
// new or empty directory or over a session it wrote itself, and then removes
// only the files its manifest lists; replay never writes its results over the
// session's own files, by any spelling or link, nor both results into one file;
// a pipe in the place of the index is refused at once, not waited on; every bad
// command line ends with exit 2. Also: --version prints what `version` prints.
TEST(ToolRefusals, NeverTouchAFileAndNameTheFault) {
    // A session synth wrote in "s" (three different frames), then `then`.
    const auto session = [](const Prepare& then) {
        return [then](const std::string& work) {
            synthInto(work, "s", 3, "shake");
            then(work);
        };
    };
    const Prepare nothing = [](const std::string&) {};
    const std::string luxMessage = "is not a lux index: expected a finite number 0..10000";
    std::vector<RefusalCase> cases = {
        // Synth's output directory.
        {[](const std::string& work) {
             writeText(work + "/s/frames/mine.png", "keep");
             writeText(work + "/s/session.jsonl", "");
         },
         synthArgs("s"), kExitFailure, "no synth-manifest.txt"},
        {[](const std::string& work) { writeText(work + "/s/notes.txt", "keep"); }, synthArgs("s"),
         kExitFailure, "not empty and holds no session written by xepo synth"},
        usage(synthArgs(""), "--out is empty"),
        {[](const std::string& work) { writeText(work + "/s", "keep"); }, synthArgs("s"),
         kExitFailure, "exists and is not a directory"},
        {session([](const std::string& work) { writeText(work + "/s/extra.txt", "keep"); }),
         synthArgs("s"), kExitFailure, "holds extra.txt, not written by xepo synth"},
        {session([](const std::string& work) {
             const std::string manifest = work + "/s/synth-manifest.txt";
             const std::string listing = readWholeFile(manifest);
             writeText(manifest, "# another tool\n" + listing.substr(listing.find('\n') + 1));
         }),
         synthArgs("s"), kExitFailure, "not a manifest written by xepo synth"},
        {session([](const std::string& work) {
             writeText(work + "/victim.txt", "keep");
             std::ofstream(work + "/s/synth-manifest.txt", std::ios::app) << "../victim.txt\n";
         }),
         synthArgs("s"), kExitFailure, "is not a file inside the session"},
        {session([](const std::string& work) {
             writeText(work + "/victim.nv21", "keep");
             fs::remove(work + "/s/frames/000000.nv21");
             fs::create_symlink("../../victim.nv21", work + "/s/frames/000000.nv21");
         }),
         synthArgs("s"), kExitFailure, "holds frames/000000.nv21, not written"},
        {session([](const std::string& work) {
             fs::rename(work + "/s/frames", work + "/elsewhere");
             fs::create_directory_symlink("../elsewhere", work + "/s/frames");
         }),
         synthArgs("s"), kExitFailure, "holds frames, not written"},
        // Replay's outputs.
        {session(nothing), replayArgs({"--csv", "s/session.jsonl"}), kExitFailure,
         "is the session's file session.jsonl"},
        {session(nothing), replayArgs({"--csv", "./s/frames/../frames/000000.nv21"}), kExitFailure,
         "is the session's file frames/000000.nv21"},
        {session([](const std::string& work) {
             fs::create_symlink("s/session.jsonl", work + "/link");
         }),
         replayArgs({"--jsonl", "link"}), kExitFailure, "is the session's file session.jsonl"},
        {session([](const std::string& work) {
             fs::create_hard_link(work + "/s/frames/000001.nv21", work + "/hard");
         }),
         replayArgs({"--jsonl", "hard"}), kExitFailure, "is the session's file frames/000001.nv21"},
        {session(nothing), replayArgs({"--csv", "r.csv", "--jsonl", "./r.csv"}), kExitFailure,
         "name the same file"},
        {session([](const std::string& work) {
             writeText(work + "/old.csv", "previous results");
             fs::create_directory(work + "/sub");
         }),
         replayArgs({"--csv", "old.csv", "--jsonl", "sub/../old.csv"}), kExitFailure,
         "name the same file"},
        // A result through a link to a file not there yet: the refusal removes the
        // file it made and keeps the link.
        {session([](const std::string& work) { fs::create_symlink("r.csv", work + "/link.csv"); }),
         replayArgs({"--csv", "link.csv", "--jsonl", "s/session.jsonl"}), kExitFailure,
         "is the session's file session.jsonl"},
        // A result that cannot be written in full (a full disk).
        {session(nothing), replayArgs({"--csv", "/dev/full"}), kExitFailure,
         "/dev/full: write error"},
        // A pipe as the session index.
        {[](const std::string& work) {
             fs::create_directories(work + "/s");
             ASSERT_EQ(mkfifo((work + "/s/session.jsonl").c_str(), 0600), 0);
         },
         replayArgs({}), kExitFailure,
         "session.jsonl: cannot open the session index (not a regular file)"},
        // Bad command lines (a/x.jpg and b/x.jpg are copies of the photo).
        usage({}, "A subcommand is required"),
        usage({"image", "a/x.jpg", "--bogus"}, "--bogus"),
        usage({"synth", "a/x.jpg", "--out", "o", "--frames", "abc"},
              "--frames: 'abc' is not a number"),
        usage({"synth", "a/x.jpg", "--out", "o", "--frames", "1.5"}, "'1.5' is not a whole number"),
        usage({"synth", "a/x.jpg", "--out", "o", "--zoom-scale", "inf"},
              "'inf' is not a finite number"),
        usage({"replay", "s", "--repeat", "x1"}, "--repeat: 'x1' is not a number"),
        usage({"image", "a/x.jpg", "--control", "abc"}, "'abc' is not a number"),
        usage({"synth", "a/x.jpg", "--out", "o", "--frames", "5", "--zoom-at", "5"},
              "--zoom-at 5: outside the session's frames 0..4"),
        usage({"synth", "a/x.jpg", "--out", "o", "--frames", "5", "--capture-at", "-1"},
              "--capture-at -1: outside the session's frames 0..4"),
        usage({"synth", "a/x.jpg", "--out", "o", "--frames", "5", "--hold-at", "5"},
              "--hold-at 5: outside the session's frames 0..4"),
        usage({"image", "a/x.jpg", "b/x.jpg", "--control", "3", "--map-png", "m.png"},
              "a/x.jpg and b/x.jpg would both write their picture to m_x.png"),
        usage({"image", "a/x.jpg", "--control", "3", "--map-png", "b/../a/x.jpg"},
              "would overwrite the input a/x.jpg"),
    };
    for (const char* lux : {"nan", "inf", "-1", "10001"}) {
        cases.push_back(usage({"image", "a/x.jpg", "--lux", lux}, luxMessage));
        cases.push_back(usage({"synth", "a/x.jpg", "--out", "o", "--lux", lux}, luxMessage));
    }
    // an odd side, one side too large while the other fits, no height
    for (const char* size : {"66x47", "64x16386", "64x"}) {
        cases.push_back(usage({"synth", "a/x.jpg", "--out", "o", "--size", size},
                              "expected WxH with even sides up to 16384"));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        const RefusalCase& c = cases[i];
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const std::string work = freshTestDir("_" + std::to_string(i));
        for (const char* copy : {"/a/x.jpg", "/b/x.jpg"}) {
            fs::create_directories(fs::path(work + copy).parent_path());
            fs::copy_file(photo(), work + copy);
        }
        c.setup(work);
        const std::map<std::string, std::string> before = snapshot(work);
        const ToolRun run = runTool(c.args, work, kHangSeconds);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(snapshot(work), before);
    }
    const std::string work = freshTestDir();
    const ToolRun flag = runTool({"--version"}, work);
    EXPECT_EQ(flag.exitCode, 0);
    EXPECT_NE(flag.out.find("version"), std::string::npos);
    EXPECT_EQ(flag.out, runTool({"version"}, work).out);
    const ToolRun help = runTool({"--help"}, work);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Exit status: 0 done, 1 "), std::string::npos);
}

// Guards: over its own session synth succeeds, removes the old frame files the
// new session does not use, and lists exactly what it wrote. And synth's lux
// index: the first frame reports its own brightness, and every later one covers
// half of the way from the last index to the frame's own (in whole hundredths),
// as a camera's exposure control settles.
TEST(ToolFiles, SynthReplacesItsOwnSessionAndItsLuxFollowsHalfWay) {
    const std::string work = freshTestDir();
    writeText(work + "/keep.txt", "keep");
    synthInto(work, "out", 12, "pan");  // frames 0, 3 and 4 differ
    ASSERT_TRUE(fs::exists(work + "/out/frames/000004.nv21"));
    const Session session = readSession(work + "/out");
    std::vector<uint8_t> pixels;
    int64_t previous = 0;
    for (size_t i = 0; i < session.frames.size(); ++i) {
        const SessionFrame& frame = session.frames[i];
        loadFramePixels(session, frame, pixels);
        const int64_t own = luxForFrame(pixels, frame.width, frame.height);
        const int64_t expected = i == 0 ? own : previous + (own - previous) / 2;
        EXPECT_EQ(std::llround(frame.aec_lux * 100.0f), expected) << "frame " << i;
        previous = expected;
    }
    synthInto(work, "out", 2, "shake");
    EXPECT_FALSE(fs::exists(work + "/out/frames/000004.nv21"));
    EXPECT_EQ(readWholeFile(work + "/keep.txt"), "keep");
    EXPECT_EQ(readWholeFile(work + "/out/synth-manifest.txt"),
              "# xepo synth wrote these files; it removes only these when it writes here again\n"
              "session.jsonl\nframes/000000.nv21\nframes/000001.nv21\n");
    EXPECT_EQ(readSession(work + "/out").frames.size(), 2u);
}

// Guards: a header that claims a huge picture is refused from the header,
// without the memory the claim asks for, naming the file. (Data that ends early
// is refused by the same check: ImageFileCheck.RefusesDamagedAndOversizedFilesByFormat.)
// A picture it can afford leaves standard error empty.
TEST(ToolImage, RefusesImagesItCannotAfford) {
    const Bytes jpeg = encodeJpeg(64, 48);
    const std::string work = freshTestDir();
    writeBytes(work + "/small.jpg", jpeg);
    writeBytes(work + "/huge.jpg",
               concat(jpegHeaderOnly(withJpegSize(jpeg, 16384, 8192)), {0xFF, 0xD9}));
    const ToolRun small = runTool({"image", "small.jpg"}, work);
    ASSERT_EQ(small.exitCode, 0) << small.err;
    EXPECT_EQ(small.err, "") << "the engine's release notice shows only with --verbose";
    const ToolRun run = runTool({"image", "huge.jpg"}, work);
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_NE(run.err.find("huge.jpg: JPEG declares 16384x8192"), std::string::npos) << run.err;
    EXPECT_LT(run.maxRssKb, small.maxRssKb + kRefusedImageExtraRssKb);
}

// Guards: a frame the engine refuses (it logs an error line) counts as failed:
// the count is in the summary and per frame in both files, and the exit is 1.
TEST(ToolReplay, FramesTheEngineRefusedAreAFailure) {
    const std::string work = freshTestDir();
    // Frame 1 is larger than the engine takes (16384 x 4098 is above its 2^26
    // pixels); its file is sparse, so it costs no disk.
    fs::create_directories(work + "/s/frames");
    std::ofstream index(work + "/s/session.jsonl");
    index << sessionHeaderLine() << "\n";
    const int sizes[][2] = {{64, 48}, {16384, 4098}, {64, 48}};
    for (int i = 0; i < 3; ++i) {
        SessionFrame frame{"frames/" + std::to_string(i) + ".nv21", sizes[i][0], sizes[i][1],
                           sizes[i][0]};
        std::tie(frame.aec_lux, frame.enable_seg, frame.control) = std::make_tuple(300.0f, 1, 2);
        frame.gyro = gyroBlockForFrame(i, {}, {});
        index << sessionFrameLine(frame) << "\n";
        std::ofstream(work + "/s/" + frame.frameFile).close();
        fs::resize_file(work + "/s/" + frame.frameFile, frameFileBytes(frame));
    }
    index.close();
    const ToolRun run = runTool(replayArgs({"--csv", "r.csv", "--jsonl", "r.jsonl"}), work);
    EXPECT_EQ(run.exitCode, kExitFailure) << run.err;
    EXPECT_NE(run.out.find("frames with engine errors: 1\n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("the engine logged errors on 1 of 3 frames"), std::string::npos);
    // The errors column is the last but one.
    std::ifstream csv(work + "/r.csv");
    std::vector<std::string> errors;
    for (std::string line; std::getline(csv, line);) {
        const size_t last = line.rfind(',');
        const size_t before = line.rfind(',', last - 1);
        errors.push_back(line.substr(before + 1, last - before - 1));
    }
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_NE(errors[2], "0");
    const std::string jsonl = readWholeFile(work + "/r.jsonl");
    EXPECT_NE(jsonl.find("\"errors\": " + errors[2] + ","), std::string::npos);
    errors[2] = "N";
    EXPECT_EQ(errors, std::vector<std::string>({"errors", "0", "N", "0"}));
}

// Guards: Ctrl-C stops a replay between frames: whole lines in the file, the
// summary of the frames so far, exit 130.
TEST(ToolReplay, InterruptKeepsWholeLinesAndTheSummary) {
    const std::string work = freshTestDir();
    synthInto(work, "s", 2, "shake");
    const auto interrupt = [&work](pid_t pid) {
        // Wait (up to 20 s) for the first buffer of lines to reach the file.
        std::error_code ec;
        for (int i = 0; i < 1000 && (fs::file_size(work + "/r.csv", ec) == 0 || ec); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(pid, SIGINT);
    };
    const ToolRun run = runTool(replayArgs({"--repeat", "1000000", "--csv", "r.csv"}), work,
                                kHangSeconds, interrupt);
    EXPECT_EQ(run.exitCode, kExitInterrupted) << run.err;
    const std::string csv = readWholeFile(work + "/r.csv");
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv.back(), '\n');
    size_t rows = 0;
    std::istringstream lines(csv);
    for (std::string line; std::getline(lines, line); ++rows) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 7) << line;
    }
    EXPECT_NE(run.out.find("frames: " + std::to_string(rows - 1) + " (interrupted"),
              std::string::npos)
        << run.out << rows;
}

}  // namespace
