// The session reader on malformed sessions, and the writer's output read back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "session_format.h"
#include "session_motion.h"
#include "session_test_dirs.h"
#include "session_writer.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Damage = std::function<void(const std::string& dir)>;

constexpr int kSide = 4;
constexpr size_t kFrameBytes = kSide * kSide * 3 / 2;

// A valid session of three frames with different pixels: index lines 2..4,
// files frames/000000.nv21 .. 000002.nv21.
std::string writeValidSession(const std::string& suffix = "") {
    const std::string dir = freshTestDir(suffix);
    SessionWriter writer(dir);
    for (int i = 0; i < 3; ++i) {
        SessionFrame frame{"", kSide, kSide, kSide};
        frame.gyro = gyroBlockForFrame(i, {}, {});  // eight samples
        writer.addFrame(frame, std::vector<uint8_t>(kFrameBytes, uint8_t(100 + i)).data());
    }
    writer.finish();
    return dir;
}

// Damage that sets the value at `pointer` in the object on index line `line`
// (1-based), or removes it when `value` is null.
Damage edit(int line, const std::string& pointer, const Json& value) {
    const Json patch = {
        {"op", value.is_null() ? "remove" : "replace"}, {"path", pointer}, {"value", value}};
    return [=](const std::string& dir) {
        std::ifstream in(dir + "/session.jsonl");
        std::string text, out;
        for (int n = 1; std::getline(in, text); ++n) {
            out += (n == line ? Json::parse(text).patch(Json::array({patch})).dump() : text) + "\n";
        }
        std::ofstream(dir + "/session.jsonl") << out;
    };
}

// Damage that makes the index a header and `rest`.
Damage replaceFrames(const std::string& rest) {
    return [=](const std::string& dir) {
        std::ofstream(dir + "/session.jsonl") << sessionHeaderLine() + "\n" + rest;
    };
}

// Guards: every malformed session is refused with a message naming the index
// file and the line at fault.
TEST(SessionReader, RejectsMalformedSessionsNamingFileAndLine) {
    const std::vector<int> ones(81, 1);
    const Json gyro81 = {
        {"count", 81}, {"timestamp", ones}, {"gyroX", ones}, {"gyroY", ones}, {"gyroZ", ones}};
    // damage, the message after "<dir>/session.jsonl:"
    std::vector<std::pair<Damage, std::string>> cases = {
        {edit(1, "/version", 2), "1: version 2 is not supported (this reader knows version 1)"},
        {edit(1, "/format", "other"), "1: not a session index: the first line must be a header"},
        {replaceFrames(""), "1: the session has no frames"},
        {replaceFrames("{\"frame\": \n"), "2: bad JSON (syntax error"},
        {edit(4, "/gyro", gyro81), "4: gyro block has 81 samples, at most 80"},
        {edit(2, "/gyro/gyroZ", std::vector<int>(7)),
         "2: gyro field \"gyroZ\" has 7 entries, count is 8"},
        {edit(2, "/gyro/timestamp/3", -5),
         "2: gyro timestamp 3 must be a non-negative integer (nanoseconds)"},
        {edit(3, "/width", "4"), "3: field \"width\" must be an integer"},
        {edit(2, "/aec_lux", 1e300), "2: field \"aec_lux\" must be a finite number"},
        {edit(2, "/format", 23), "2: format 23 is not supported (only 17, NV21)"},
        {edit(2, "/width", 3), "2: frame size 3x4 is odd; NV21 needs even sides"},
        {edit(2, "/stride", 2), "2: stride 2 is below the width 4 or too large"},
        {[](const std::string& d) { fs::resize_file(d + "/frames/000001.nv21", kFrameBytes - 1); },
         "3: frame file frames/000001.nv21 has 23 bytes, expected 24"},
        {[](const std::string& d) { fs::remove(d + "/frames/000001.nv21"); },
         "3: frame file frames/000001.nv21 does not exist"},
        {[](const std::string& d) {
             // The same bytes beside the session directory, linked from inside it.
             fs::copy_file(d + "/frames/000001.nv21", d + "_outside.nv21",
                           fs::copy_options::overwrite_existing);
             fs::remove(d + "/frames/000001.nv21");
             fs::create_symlink(d + "_outside.nv21", d + "/frames/000001.nv21");
         },
         "3: frame file frames/000001.nv21 leads out of the session directory"},
        {[](const std::string& d) {
             fs::remove(d + "/frames/000001.nv21");
             mkfifo((d + "/frames/000001.nv21").c_str(), 0600);
         },
         "3: frame file frames/000001.nv21 is not a regular file"},
        {edit(2, "/frame", ""), "2: field \"frame\" must be a non-empty file name"},
        {edit(2, "/frame", "/etc/passwd"),
         "2: frame file /etc/passwd must be relative to the session directory"},
        {edit(2, "/frame", "../other/frames/000000.nv21"),
         "2: frame file ../other/frames/000000.nv21 must be relative to the session directory"},
    };
    // Every field of a frame line is required, gyro members included.
    for (std::string path :
         {"/frame",      "/width",          "/height",     "/stride",     "/format",
          "/rotation",   "/scale",          "/flip",       "/aec_lux",    "/isPhotoing",
          "/holdFlag",   "/cameraType",     "/enable_seg", "/control",    "/gyro",
          "/gyro/count", "/gyro/timestamp", "/gyro/gyroX", "/gyro/gyroY", "/gyro/gyroZ"}) {
        cases.push_back({edit(4, path, nullptr),
                         "4: missing field \"" + path.substr(path.rfind('/') + 1) + "\""});
    }
    int index = 0;
    for (const auto& [damage, message] : cases) {
        SCOPED_TRACE(message);
        const std::string dir = writeValidSession("_" + std::to_string(index++));
        damage(dir);
        const std::string expected = dir + "/session.jsonl:" + message;
        try {
            readSession(dir);
            ADD_FAILURE() << "accepted";
        } catch (const SessionError& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, expected.size()), expected);
        }
    }
}

// Guards: every field survives writer -> reader bit for bit (awkward floats,
// timestamps near 2^64, 0 and 80 gyro samples), equal frames share one file,
// rewriting a session removes the frame files it no longer uses, a frame file
// may be a link that stays inside the session, and blank index lines are passed
// over.
TEST(SessionWriter, OutputReadsBackExactly) {
    const std::string dir = writeValidSession();  // leaves frames/000002.nv21
    const float awkward[] = {0.1f, -1e-7f, 3.4028235e38f, 1.17549435e-38f, -0.0f, 12345.678f};
    std::vector<SessionFrame> written;
    SessionWriter writer(dir);
    for (int i = 0; i < 3; ++i) {
        SessionFrame frame{"", 6, 4, 8};  // stride wider than the picture
        std::tie(frame.scale, frame.aec_lux, frame.flip) =
            std::make_tuple(i == 1 ? 2.0f : 0.6f, 0.1f + 150.25f * i, i == 2);
        int32_t* ints[] = {&frame.rotation,   &frame.isPhotoing, &frame.holdFlag,
                           &frame.cameraType, &frame.enable_seg, &frame.control};
        for (int k = 0; k < 6; ++k) {
            *ints[k] = (i + 1) * (k - 3) + 90 * k;  // distinct, some negative
        }
        frame.gyro.count = i == 2 ? kImuMaxSamples : i * 3;
        for (int s = 0; s < frame.gyro.count; ++s) {
            frame.gyro.timestamp[s] = 18446744073709551000ull + s;
            std::tie(frame.gyro.gyroX[s], frame.gyro.gyroY[s], frame.gyro.gyroZ[s]) =
                std::tie(awkward[s % 6], awkward[(s + 1) % 6], awkward[(s + 2) % 6]);
        }
        // Frames 0 and 2 share their pixels.
        writer.addFrame(frame, std::vector<uint8_t>(frameFileBytes(frame), i % 2).data());
        written.push_back(frame);
    }
    writer.finish();
    EXPECT_EQ(writer.fileCount(), 2);
    EXPECT_FALSE(fs::exists(dir + "/frames/000002.nv21"));
    fs::rename(dir + "/frames/000001.nv21", dir + "/frames/kept.nv21");
    fs::create_symlink("kept.nv21", dir + "/frames/000001.nv21");
    // A hand-edited index may hold blank lines between frames.
    std::string index = readWholeFile(dir + "/session.jsonl");
    // Floats are written as their shortest decimals.
    EXPECT_NE(index.find("\"scale\":0.6,\"flip\":false,\"aec_lux\":0.1,"), std::string::npos);
    index.insert(index.find('\n', index.find('\n') + 1) + 1, "\n \t\r\n");
    writeText(dir + "/session.jsonl", index);
    const Session session = readSession(dir);
    ASSERT_EQ(session.frames.size(), written.size());
    EXPECT_EQ(session.frames[2].frameFile, session.frames[0].frameFile);
    EXPECT_NE(session.frames[1].frameFile, session.frames[0].frameFile);
    for (size_t i = 0; i < written.size(); ++i) {
        const SessionFrame& a = written[i];
        const SessionFrame& b = session.frames[i];
        EXPECT_EQ(sessionFrameLine(b), sessionFrameLine(a));
        EXPECT_EQ(std::tie(b.scale, b.aec_lux), std::tie(a.scale, a.aec_lux));
        EXPECT_EQ(std::memcmp(&b.gyro, &a.gyro, sizeof(IMUDataBlock)), 0) << i;  // unused tail too
    }
    std::vector<uint8_t> pixels;
    loadFramePixels(session, session.frames[1], pixels);
    EXPECT_EQ(pixels, std::vector<uint8_t>(frameFileBytes(session.frames[1]), 1));
}

}  // namespace
