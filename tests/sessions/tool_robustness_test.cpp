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
using Setup = std::function<void(const std::string& work)>;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;
// A tool that hangs on a pipe is stopped after this long.
constexpr double kHangSeconds = 30.0;
// Peak memory of `xepo image` on a file it refuses by its header, above its
// peak on a small picture: decoding what the header claims would take a
// gigabyte more.
constexpr long kRefusedImageExtraRssKb = 64 * 1024;

std::string photo() {
    return samplePath("rocket.jpg");
}

std::string models() {
    return std::string(SESSION_MODEL_ROOT) + "/confident";
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

struct RefusalCase {
    const char* name;
    Setup setup;                    // prepares the scratch directory
    std::vector<std::string> args;  // the command, run in the scratch directory
    int exitCode;
    std::string message;  // part of standard error
};

// Runs each case in a fresh scratch directory and checks that the refusal left
// every file there as it was and added none.
void expectRefusedWithoutTouchingFiles(const std::vector<RefusalCase>& cases) {
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string work = freshTestDir(std::string("_") + c.name);
        c.setup(work);
        const std::map<std::string, std::string> before = snapshot(work);
        const ToolRun run = runTool(c.args, work);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(snapshot(work), before);
    }
}

void writeText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

std::vector<std::string> synthArgs(const std::string& out) {
    return {"synth", photo(), "--out", out, "--frames", "2", "--size", "64x48"};
}

// Guards: synth writes only into a new or empty directory or over a session it
// wrote itself, and then removes only the files its manifest lists.
TEST(ToolFiles, SynthNeverTouchesFilesItDidNotWrite) {
    const auto ownSession = [](const std::function<void(const std::string&)>& then) {
        return [then](const std::string& work) {
            synthInto(work, "out", 3);
            then(work);
        };
    };
    expectRefusedWithoutTouchingFiles({
        {"ForeignFileBesideAnEmptyIndex",
         [](const std::string& work) {
             writeText(work + "/out/frames/mine.png", "keep");
             writeText(work + "/out/session.jsonl", "");
         },
         synthArgs("out"), kExitFailure, "no synth-manifest.txt"},
        {"DirectoryOfOtherFiles",
         [](const std::string& work) { writeText(work + "/out/notes.txt", "keep"); },
         synthArgs("out"), kExitFailure, "not empty and holds no session written by xepo synth"},
        {"EmptyOutName", [](const std::string& work) { writeText(work + "/mine.txt", "keep"); },
         synthArgs(""), kExitUsage, "--out is empty"},
        {"OutIsAFile", [](const std::string& work) { writeText(work + "/out", "keep"); },
         synthArgs("out"), kExitFailure, "exists and is not a directory"},
        {"ExtraFileBesideOwnSession",
         ownSession([](const std::string& work) { writeText(work + "/out/extra.txt", "keep"); }),
         synthArgs("out"), kExitFailure, "holds extra.txt, not written by xepo synth"},
        {"ManifestOfAnotherWriter", ownSession([](const std::string& work) {
             const std::string manifest = work + "/out/synth-manifest.txt";
             const std::string listing = readWholeFile(manifest);
             writeText(manifest, "# another tool\n" + listing.substr(listing.find('\n') + 1));
         }),
         synthArgs("out"), kExitFailure, "not a manifest written by xepo synth"},
        {"ManifestNamesAFileOutside", ownSession([](const std::string& work) {
             writeText(work + "/victim.txt", "keep");
             std::ofstream(work + "/out/synth-manifest.txt", std::ios::app) << "../victim.txt\n";
         }),
         synthArgs("out"), kExitFailure, "is not a file inside the session"},
        {"ListedFrameIsALinkOut", ownSession([](const std::string& work) {
             writeText(work + "/victim.nv21", "keep");
             fs::remove(work + "/out/frames/000000.nv21");
             fs::create_symlink("../../victim.nv21", work + "/out/frames/000000.nv21");
         }),
         synthArgs("out"), kExitFailure, "holds frames/000000.nv21, not written"},
        {"FramesFolderIsALinkOut", ownSession([](const std::string& work) {
             fs::rename(work + "/out/frames", work + "/elsewhere");
             fs::create_directory_symlink("../elsewhere", work + "/out/frames");
         }),
         synthArgs("out"), kExitFailure, "holds frames, not written"},
    });
}

// Guards: over its own session synth succeeds, removes the old frame files the
// new session does not use, and lists exactly what it wrote.
TEST(ToolFiles, SynthReplacesItsOwnSession) {
    const std::string work = freshTestDir();
    writeText(work + "/keep.txt", "keep");
    synthInto(work, "out", 4, "shake");  // four different frames
    ASSERT_TRUE(fs::exists(work + "/out/frames/000003.nv21"));
    synthInto(work, "out", 2, "shake");
    EXPECT_FALSE(fs::exists(work + "/out/frames/000003.nv21"));
    EXPECT_EQ(readWholeFile(work + "/keep.txt"), "keep");
    EXPECT_EQ(readWholeFile(work + "/out/synth-manifest.txt"),
              "# xepo synth wrote these files; it removes only these when it writes here again\n"
              "session.jsonl\nframes/000000.nv21\nframes/000001.nv21\n");
    EXPECT_EQ(readSession(work + "/out").frames.size(), 2u);
}

// Guards synth's lux index: the first frame reports its own brightness, and
// every later one covers half of the way from the last index to the frame's
// own (in whole hundredths), as a camera's exposure control settles.
TEST(ToolFiles, SynthLuxFollowsEachFrameHalfWay) {
    const std::string work = freshTestDir();
    synthInto(work, "out", 12, "pan");
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
}

std::vector<std::string> replayArgs(std::vector<std::string> outputs) {
    std::vector<std::string> args = {"replay", "s", "--models", models()};
    args.insert(args.end(), outputs.begin(), outputs.end());
    return args;
}

// Guards: replay never writes its results over the session's own files, by any
// spelling or link, nor both results into one file.
TEST(ToolFiles, ReplayRefusesOutputsThatAreItsInputs) {
    const auto session = [](const std::function<void(const std::string&)>& then) {
        return [then](const std::string& work) {
            synthInto(work, "s", 2, "shake");
            then(work);
        };
    };
    const auto nothing = [](const std::string&) {};
    expectRefusedWithoutTouchingFiles({
        {"CsvIsTheIndex", session(nothing), replayArgs({"--csv", "s/session.jsonl"}), kExitFailure,
         "is the session's file session.jsonl"},
        {"CsvIsAFrameSpelledOtherwise", session(nothing),
         replayArgs({"--csv", "./s/frames/../frames/000000.nv21"}), kExitFailure,
         "is the session's file frames/000000.nv21"},
        {"JsonlIsALinkToTheIndex", session([](const std::string& work) {
             fs::create_symlink("s/session.jsonl", work + "/link");
         }),
         replayArgs({"--jsonl", "link"}), kExitFailure, "is the session's file session.jsonl"},
        {"JsonlIsAHardLinkToAFrame", session([](const std::string& work) {
             fs::create_hard_link(work + "/s/frames/000001.nv21", work + "/hard");
         }),
         replayArgs({"--jsonl", "hard"}), kExitFailure, "is the session's file frames/000001.nv21"},
        {"BothNameOneNewFile", session(nothing),
         replayArgs({"--csv", "r.csv", "--jsonl", "./r.csv"}), kExitFailure, "name the same file"},
        {"BothNameOneOldFile", session([](const std::string& work) {
             writeText(work + "/old.csv", "previous results");
             fs::create_directory(work + "/sub");
         }),
         replayArgs({"--csv", "old.csv", "--jsonl", "sub/../old.csv"}), kExitFailure,
         "name the same file"},
    });
}

// Guards: a header that claims a huge picture is refused from the header
// (without the memory the claim asks for), and data that ends early is refused
// naming its format.
TEST(ToolImage, RefusesImagesItCannotAffordOrThatEndEarly) {
    const Bytes jpeg = encodeJpeg(64, 48);
    const Bytes png = encodePng(64, 48);
    // name, bytes, part of the message
    const std::tuple<const char*, Bytes, std::string> cases[] = {
        {"huge.jpg", concat(jpegHeaderOnly(withJpegSize(jpeg, 16384, 8192)), {0xFF, 0xD9}),
         "JPEG declares 16384x8192"},
        {"cut.jpg", firstBytes(jpeg, jpeg.size() / 2), "JPEG data ends before the image does"},
        {"cut.png", firstBytes(png, png.size() - 12), "PNG data ends before the image does"},
    };
    const std::string work = freshTestDir();
    writeBytes(work + "/small.jpg", jpeg);
    const ToolRun small = runTool({"image", "small.jpg"}, work);
    ASSERT_EQ(small.exitCode, 0) << small.err;
    for (const auto& [name, bytes, message] : cases) {
        SCOPED_TRACE(name);
        writeBytes(work + "/" + name, bytes);
        const ToolRun run = runTool({"image", name}, work);
        EXPECT_EQ(run.exitCode, kExitFailure);
        EXPECT_NE(run.err.find(std::string(name) + ": " + message), std::string::npos) << run.err;
        EXPECT_LT(run.maxRssKb, small.maxRssKb + kRefusedImageExtraRssKb);
    }
}

// Writes a session whose frame 1 is larger than the engine takes (16384 x 4098
// is above its 2^26 pixels); its file is sparse, so it costs no disk.
void writeSessionWithOversizedFrame(const std::string& dir) {
    fs::create_directories(dir + "/frames");
    std::ofstream index(dir + "/session.jsonl");
    index << sessionHeaderLine() << "\n";
    const int sizes[][2] = {{64, 48}, {16384, 4098}, {64, 48}};
    for (int i = 0; i < 3; ++i) {
        SessionFrame frame{"frames/" + std::to_string(i) + ".nv21", sizes[i][0], sizes[i][1],
                           sizes[i][0]};
        frame.aec_lux = 300.0f;
        frame.enable_seg = 1;
        frame.control = 2;
        frame.gyro = gyroBlockForFrame(i, {}, {});
        index << sessionFrameLine(frame) << "\n";
        std::ofstream(dir + "/" + frame.frameFile).close();
        fs::resize_file(dir + "/" + frame.frameFile, frameFileBytes(frame));
    }
}

// Guards: a frame the engine refuses (it logs an error line) counts as failed:
// the count is in the summary and per frame in both files, and the exit is 1.
TEST(ToolReplay, FramesTheEngineRefusedAreAFailure) {
    const std::string work = freshTestDir();
    writeSessionWithOversizedFrame(work + "/s");
    const ToolRun run = runTool(replayArgs({"--csv", "r.csv", "--jsonl", "r.jsonl"}), work);
    EXPECT_EQ(run.exitCode, kExitFailure) << run.err;
    EXPECT_NE(run.out.find("frames with engine errors: 1\n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("the engine logged errors on 1 of 3 frames"), std::string::npos);
    std::ifstream csv(work + "/r.csv");
    std::vector<std::string> errors;
    for (std::string line; std::getline(csv, line);) {
        const size_t last = line.rfind(',');
        const size_t before = line.rfind(',', last - 1);
        errors.push_back(line.substr(before + 1, last - before - 1));
    }
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0], "errors");
    EXPECT_EQ(errors[1], "0");
    EXPECT_NE(errors[2], "0");
    EXPECT_EQ(errors[3], "0");
    const std::string jsonl = readWholeFile(work + "/r.jsonl");
    EXPECT_NE(jsonl.find("\"errors\": " + errors[2] + ","), std::string::npos);
}

// Guards: Ctrl-C stops a replay between frames: whole lines in the file, the
// summary of the frames so far, exit 130.
TEST(ToolReplay, InterruptKeepsWholeLinesAndTheSummary) {
    const std::string work = freshTestDir();
    synthInto(work, "s", 2, "shake");
    const ToolRun run = runTool(replayArgs({"--repeat", "1000000", "--csv", "r.csv"}), work,
                                kHangSeconds, [&work](pid_t pid) {
                                    // Wait for the first buffer of lines to reach the file.
                                    const auto deadline =
                                        std::chrono::steady_clock::now() + std::chrono::seconds(20);
                                    std::error_code ec;
                                    while (fs::file_size(work + "/r.csv", ec) == 0 || ec) {
                                        if (std::chrono::steady_clock::now() > deadline) {
                                            break;
                                        }
                                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                    }
                                    kill(pid, SIGINT);
                                });
    EXPECT_EQ(run.exitCode, kExitInterrupted) << run.err;
    EXPECT_NE(run.out.find("(interrupted"), std::string::npos) << run.out;
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

// Guards: every bad command line ends with exit 2 and a message that names the
// fault; --version prints what `version` prints.
TEST(ToolCommandLine, BadValuesAreUsageErrors) {
    const std::string work = freshTestDir();
    fs::create_directories(work + "/a");
    fs::create_directories(work + "/b");
    fs::copy_file(photo(), work + "/a/x.jpg");
    fs::copy_file(photo(), work + "/b/x.jpg");
    const std::string luxMessage = "is not a lux index: expected a finite number 0..10000";
    // arguments, exit code, part of standard error
    std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        {{}, kExitUsage, "A subcommand is required"},
        {{"image", "a/x.jpg", "--bogus"}, kExitUsage, "--bogus"},
        {{"synth", "a/x.jpg", "--out", "o", "--frames", "abc"},
         kExitUsage,
         "--frames: 'abc' is not a number"},
        {{"synth", "a/x.jpg", "--out", "o", "--frames", "1.5"},
         kExitUsage,
         "'1.5' is not a whole number"},
        {{"synth", "a/x.jpg", "--out", "o", "--zoom-scale", "inf"},
         kExitUsage,
         "'inf' is not a finite number"},
        {{"replay", "s", "--repeat", "x1"}, kExitUsage, "--repeat: 'x1' is not a number"},
        {{"image", "a/x.jpg", "--control", "abc"}, kExitUsage, "'abc' is not a number"},
        {{"synth", "a/x.jpg", "--out", "o", "--frames", "5", "--zoom-at", "5"},
         kExitUsage,
         "--zoom-at 5: outside the session's frames 0..4"},
        {{"synth", "a/x.jpg", "--out", "o", "--frames", "5", "--capture-at", "-1"},
         kExitUsage,
         "--capture-at -1: outside the session's frames 0..4"},
        {{"image", "a/x.jpg", "b/x.jpg", "--control", "3", "--map-png", "m.png"},
         kExitUsage,
         "a/x.jpg and b/x.jpg would both write their picture to m_x.png"},
        {{"image", "a/x.jpg", "--control", "3", "--map-png", "b/../a/x.jpg"},
         kExitUsage,
         "would overwrite the input a/x.jpg"},
    };
    for (const char* lux : {"nan", "inf", "-1", "10001"}) {
        cases.push_back({{"image", "a/x.jpg", "--lux", lux}, kExitUsage, luxMessage});
        cases.push_back({{"synth", "a/x.jpg", "--out", "o", "--lux", lux}, kExitUsage, luxMessage});
    }
    for (const auto& [args, exitCode, message] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const ToolRun run = runTool(args, work);
        EXPECT_EQ(run.exitCode, exitCode);
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(work + "/o"));
    }
    const ToolRun flag = runTool({"--version"}, work);
    const ToolRun command = runTool({"version"}, work);
    EXPECT_EQ(flag.exitCode, 0);
    EXPECT_NE(flag.out.find("version"), std::string::npos);
    EXPECT_EQ(flag.out, command.out);
    const ToolRun help = runTool({"--help"}, work);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Exit status: 0 done, 1 "), std::string::npos);
}

// Guards: a pipe in the place of the index is refused at once, not waited on.
TEST(ToolCommandLine, PipeAsSessionIndexIsRefusedWithoutHanging) {
    const std::string work = freshTestDir();
    fs::create_directories(work + "/s");
    ASSERT_EQ(mkfifo((work + "/s/session.jsonl").c_str(), 0600), 0);
    const ToolRun run = runTool({"replay", "s", "--models", models()}, work, kHangSeconds);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_NE(run.err.find("session.jsonl: cannot open the session index (not a regular file)"),
              std::string::npos)
        << run.err;
}

}  // namespace
