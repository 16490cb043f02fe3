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

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// A tool that hangs (on a pipe, say) is stopped after this long.
constexpr double kHangSeconds = 30.0;
const std::string kPhoto = samplePath("rocket.jpg");

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

std::vector<std::string> synthArgs(const std::string& out, int frames = 2,
                                   const char* motion = "pan") {
    return {"synth",  kPhoto,  "--out",    out,   "--frames", std::to_string(frames),
            "--size", "64x48", "--motion", motion};
}

void synthInto(const std::string& work, const std::string& out, int frames, const char* motion) {
    const ToolRun run = runTool(synthArgs(out, frames, motion), work);
    ASSERT_EQ(run.exitCode, 0) << run.err;
}

std::vector<std::string> replayArgs(std::vector<std::string> outputs) {
    outputs.insert(outputs.begin(), {"replay", "s", "--models", TEST_MODEL_ROOT "/confident"});
    return outputs;
}

// A command run in a scratch directory, which is the working directory while
// `setup` prepares it. A bad command line has no setup and exits 2; the others
// exit 1.
struct RefusalCase {
    std::vector<std::string> args;
    std::string message;  // part of standard error
    std::function<void()> setup = nullptr;
};

// Guards: a refused command leaves every file in its directory as it was and
// adds none, exits with its code and names the fault. Synth writes only into a
// new or empty directory or over a session it wrote itself, and then removes
// only the files its manifest lists; replay never writes its results over the
// session's own files, by any spelling or link, nor both results into one file;
// a pipe in the place of the index is refused at once, not waited on; every bad
// command line ends with exit 2. Also: --version prints what `version` prints.
TEST(ToolRefusals, NeverTouchAFileAndNameTheFault) {
    // A session synth wrote in "s" (three different frames), then `then`.
    const auto session = [](const std::function<void()>& then) {
        return [then] {
            synthInto(".", "s", 3, "shake");
            then();
        };
    };
    const auto synthed = session([] {});
    const std::string luxMessage = "is not a lux index: expected a finite number 0..10000";
    std::vector<RefusalCase> cases = {
        // Synth's output directory.
        {synthArgs("s"), "no synth-manifest.txt",
         [] {
             writeText("s/frames/mine.png", "keep");
             writeText("s/session.jsonl", "");
         }},
        {synthArgs("s"), "not empty and holds no session written by xepo synth",
         [] { writeText("s/notes.txt", "keep"); }},
        {synthArgs(""), "--out is empty"},
        {synthArgs("s"), "exists and is not a directory", [] { writeText("./s", "keep"); }},
        {synthArgs("s"), "holds extra.txt, not written by xepo synth",
         session([] { writeText("s/extra.txt", "keep"); })},
        {synthArgs("s"), "not a manifest written by xepo synth", session([] {
             const std::string listing = readWholeFile("s/synth-manifest.txt");
             writeText("s/synth-manifest.txt",
                       "# another tool\n" + listing.substr(listing.find('\n') + 1));
         })},
        {synthArgs("s"), "is not a file inside the session", session([] {
             writeText("./victim.txt", "keep");
             std::ofstream("s/synth-manifest.txt", std::ios::app) << "../victim.txt\n";
         })},
        {synthArgs("s"), "holds frames/000000.nv21, not written", session([] {
             writeText("./victim.nv21", "keep");
             fs::remove("s/frames/000000.nv21");
             fs::create_symlink("../../victim.nv21", "s/frames/000000.nv21");
         })},
        {synthArgs("s"), "holds frames, not written", session([] {
             fs::rename("s/frames", "elsewhere");
             fs::create_directory_symlink("../elsewhere", "s/frames");
         })},
        // Replay's outputs.
        {replayArgs({"--csv", "s/session.jsonl"}), "is the session's file session.jsonl", synthed},
        {replayArgs({"--csv", "./s/frames/../frames/000000.nv21"}),
         "is the session's file frames/000000.nv21", synthed},
        {replayArgs({"--jsonl", "link"}), "is the session's file session.jsonl",
         session([] { fs::create_symlink("s/session.jsonl", "link"); })},
        {replayArgs({"--jsonl", "hard"}), "is the session's file frames/000001.nv21",
         session([] { fs::create_hard_link("s/frames/000001.nv21", "hard"); })},
        {replayArgs({"--csv", "r.csv", "--jsonl", "./r.csv"}), "name the same file", synthed},
        {replayArgs({"--csv", "old.csv", "--jsonl", "sub/../old.csv"}), "name the same file",
         session([] {
             writeText("./old.csv", "previous results");
             fs::create_directory("sub");
         })},
        // A result through a link to a file not there yet: the refusal removes the
        // file it made and keeps the link.
        {replayArgs({"--csv", "link.csv", "--jsonl", "s/session.jsonl"}),
         "is the session's file session.jsonl",
         session([] { fs::create_symlink("r.csv", "link.csv"); })},
        // A result that cannot be written in full (a full disk).
        {replayArgs({"--csv", "/dev/full"}), "/dev/full: write error", synthed},
        // A pipe as the session index.
        {replayArgs({}), "session.jsonl: cannot open the session index (not a regular file)",
         [] {
             fs::create_directory("s");
             ASSERT_EQ(mkfifo("s/session.jsonl", 0600), 0);
         }},
        // Bad command lines (a/x.jpg and b/x.jpg are copies of the photo).
        {{}, "A subcommand is required"},
        {{"image", "a/x.jpg", "--bogus"}, "--bogus"},
        {{"synth", "a/x.jpg", "--out", "o", "--frames", "abc"}, "--frames: 'abc' is not a number"},
        {{"synth", "a/x.jpg", "--out", "o", "--frames", "1.5"}, "'1.5' is not a whole number"},
        {{"synth", "a/x.jpg", "--out", "o", "--zoom-scale", "inf"}, "'inf' is not a finite number"},
        {{"replay", "s", "--repeat", "x1"}, "--repeat: 'x1' is not a number"},
        {{"image", "a/x.jpg", "--control", "abc"}, "'abc' is not a number"},
        {{"synth", "a/x.jpg", "--out", "o", "--frames", "5", "--zoom-at", "5"},
         "--zoom-at 5: outside the session's frames 0..4"},
        {{"synth", "a/x.jpg", "--out", "o", "--frames", "5", "--capture-at", "-1"},
         "--capture-at -1: outside the session's frames 0..4"},
        {{"synth", "a/x.jpg", "--out", "o", "--frames", "5", "--hold-at", "5"},
         "--hold-at 5: outside the session's frames 0..4"},
        {{"image", "a/x.jpg", "b/x.jpg", "--control", "3", "--map-png", "m.png"},
         "a/x.jpg and b/x.jpg would both write their picture to m_x.png"},
        {{"image", "a/x.jpg", "--control", "3", "--map-png", "b/../a/x.jpg"},
         "would overwrite the input a/x.jpg"},
    };
    for (const char* lux : {"nan", "inf", "-1", "10001"}) {
        cases.push_back({{"image", "a/x.jpg", "--lux", lux}, luxMessage});
        cases.push_back({{"synth", "a/x.jpg", "--out", "o", "--lux", lux}, luxMessage});
    }
    // an odd side, one side too large while the other fits, no height
    for (const char* size : {"66x47", "64x16386", "64x"}) {
        cases.push_back({{"synth", "a/x.jpg", "--out", "o", "--size", size},
                         "expected WxH with even sides up to 16384"});
    }
    // Each case runs in its own folder; the program's folder comes back after
    // the test, so that tests after it in the same process are not moved.
    struct BackToStart {
        const fs::path start = fs::current_path();
        ~BackToStart() { fs::current_path(start); }
    } backToStart;
    for (size_t i = 0; i < cases.size(); ++i) {
        const RefusalCase& c = cases[i];
        SCOPED_TRACE(::testing::PrintToString(c.args));
        fs::current_path(freshTestDir("_" + std::to_string(i)));
        writeText("a/x.jpg", readWholeFile(kPhoto));
        writeText("b/x.jpg", readWholeFile(kPhoto));
        if (c.setup) {
            c.setup();
        }
        const std::map<std::string, std::string> before = snapshot(".");
        const ToolRun run = runTool(c.args, ".", kHangSeconds);
        EXPECT_EQ(run.exitCode, c.setup ? kExitFailure : kExitUsage) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(snapshot("."), before);
    }
    const ToolRun flag = runTool({"--version"}, ".");
    EXPECT_EQ(flag.exitCode, 0);
    EXPECT_NE(flag.out.find("version"), std::string::npos);
    EXPECT_EQ(flag.out, runTool({"version"}, ".").out);
    const ToolRun help = runTool({"--help"}, ".");
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
    int64_t expected = 0;
    for (size_t i = 0; i < session.frames.size(); ++i) {
        const SessionFrame& frame = session.frames[i];
        loadFramePixels(session, frame, pixels);
        const int64_t own = luxForFrame(pixels, frame.width, frame.height);
        expected = i == 0 ? own : expected + (own - expected) / 2;
        EXPECT_EQ(std::llround(frame.aec_lux * 100.0f), expected) << "frame " << i;
        EXPECT_EQ(frame.control, 2) << "frame " << i << " does not ask for the full pipeline";
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
    // Its peak memory stays near its peak on the small picture: decoding what
    // the header claims would take a gigabyte more.
    EXPECT_LT(run.maxRssKb, small.maxRssKb + 64 * 1024);
}

// Guards: a frame the engine refuses (it logs an error line) counts as failed:
// the count is in the summary and per frame in both files, and the exit is 1.
TEST(ToolReplay, FramesTheEngineRefusedAreAFailure) {
    const std::string work = freshTestDir();
    // Frame 1 is larger than the engine takes (16384 x 4098 is above its 2^26
    // pixels); its file is sparse, so it costs no disk.
    std::string index = sessionHeaderLine() + "\n";
    const int sizes[][2] = {{64, 48}, {16384, 4098}, {64, 48}};
    for (int i = 0; i < 3; ++i) {
        SessionFrame frame{"frames/" + std::to_string(i) + ".nv21", sizes[i][0], sizes[i][1],
                           sizes[i][0]};
        std::tie(frame.aec_lux, frame.enable_seg, frame.control) = std::make_tuple(300.0f, 1, 2);
        frame.gyro = gyroBlockForFrame(i, {}, {});
        index += sessionFrameLine(frame) + "\n";
        writeText(work + "/s/" + frame.frameFile, "");
        fs::resize_file(work + "/s/" + frame.frameFile, frameFileBytes(frame));
    }
    writeText(work + "/s/session.jsonl", index);
    const ToolRun run = runTool(replayArgs({"--csv", "r.csv", "--jsonl", "r.jsonl"}), work);
    EXPECT_EQ(run.exitCode, kExitFailure) << run.err;
    EXPECT_NE(run.out.find("frames with engine errors: 1\n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("the engine logged errors on 1 of 3 frames"), std::string::npos);
    // The errors column is the last but one.
    std::ifstream csv(work + "/r.csv");
    std::vector<std::string> errors;
    for (std::string line; std::getline(csv, line);) {
        line.erase(line.rfind(','));
        errors.push_back(line.substr(line.rfind(',') + 1));
    }
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_NE(errors[2], "0");
    const std::string jsonl = readWholeFile(work + "/r.jsonl");
    EXPECT_NE(jsonl.find("\"errors\": " + errors[2] + ","), std::string::npos);
    errors[2] = "N";
    EXPECT_EQ(errors, std::vector<std::string>({"errors", "0", "N", "0"}));
}

// Guards: Ctrl-C stops a replay between frames: whole lines in the file, the
// summary of the frames so far, exit 130 (128 + SIGINT).
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
    EXPECT_EQ(run.exitCode, 130) << run.err;
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
