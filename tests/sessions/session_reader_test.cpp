// The session reader on well-formed and malformed sessions, and the writer's
// output read back.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "session_format.h"
#include "session_test_dirs.h"
#include "session_writer.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kWidth = 4;
constexpr int kHeight = 4;
constexpr size_t kFrameBytes = kWidth * kHeight * 3 / 2;

SessionFrame smallFrame(float lux) {
    SessionFrame frame;
    frame.width = kWidth;
    frame.height = kHeight;
    frame.stride = kWidth;
    frame.aec_lux = lux;
    frame.control = 2;
    frame.gyro.count = 8;
    for (int i = 0; i < 8; ++i) {
        frame.gyro.timestamp[i] = 1000000000000ull + 4166666ull * i;
        frame.gyro.gyroY[i] = 0.5f;
    }
    return frame;
}

// A valid three-frame session; frames 0 and 2 have the same pixels.
std::string writeValidSession() {
    const std::string dir = freshTestDir();
    SessionWriter writer(dir);
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> pixels(kFrameBytes, static_cast<uint8_t>(i == 1 ? 200 : 100));
        SessionFrame frame = smallFrame(300.0f + i);
        writer.addFrame(frame, pixels.data());
    }
    writer.finish();
    return dir;
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void writeLines(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& line : lines) {
        out << line << "\n";
    }
}

// Changes the JSON object on line `line` (1-based) of the index.
void editLine(const std::string& dir, int line, const std::function<void(Json&)>& edit) {
    const std::string index = dir + "/session.jsonl";
    std::vector<std::string> lines = readLines(index);
    Json object = Json::parse(lines.at(static_cast<size_t>(line - 1)));
    edit(object);
    lines[static_cast<size_t>(line - 1)] = object.dump();
    writeLines(index, lines);
}

std::string readError(const std::string& dir) {
    try {
        readSession(dir);
    } catch (const SessionError& error) {
        return error.what();
    }
    return "(no error)";
}

struct MalformedCase {
    const char* name;
    std::function<void(const std::string& dir)> damage;
    const char* expected;  // the message after the directory
};

class MalformedSession : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedSession, IsRejectedWithFileAndLine) {
    const std::string dir = writeValidSession();
    GetParam().damage(dir);
    const std::string expected = dir + "/" + GetParam().expected;
    EXPECT_EQ(readError(dir).substr(0, expected.size()), expected);
}

const MalformedCase kMalformedCases[] = {
    {"UnknownVersion",
     [](const std::string& d) { editLine(d, 1, [](Json& j) { j["version"] = 2; }); },
     "session.jsonl:1: version 2 is not supported (this reader knows version 1)"},
    {"NotASession",
     [](const std::string& d) { editLine(d, 1, [](Json& j) { j["format"] = "other"; }); },
     "session.jsonl:1: not a session index: the first line must be a header with \"format\": "
     "\"xepo-session\""},
    {"GyroOver80",
     [](const std::string& d) {
         editLine(d, 3, [](Json& j) {
             j["gyro"]["count"] = 81;
             for (const char* key : {"timestamp", "gyroX", "gyroY", "gyroZ"}) {
                 j["gyro"][key] = std::vector<int>(81, 1);
             }
         });
     },
     "session.jsonl:3: gyro block has 81 samples, at most 80"},
    {"GyroArrayShort",
     [](const std::string& d) { editLine(d, 2, [](Json& j) { j["gyro"]["gyroZ"].erase(0); }); },
     "session.jsonl:2: gyro field \"gyroZ\" has 7 entries, count is 8"},
    {"NegativeTimestamp",
     [](const std::string& d) { editLine(d, 2, [](Json& j) { j["gyro"]["timestamp"][3] = -5; }); },
     "session.jsonl:2: gyro timestamp 3 must be a non-negative integer (nanoseconds)"},
    {"BadJson",
     [](const std::string& d) {
         std::vector<std::string> lines = readLines(d + "/session.jsonl");
         lines[2].pop_back();  // drop the closing brace
         writeLines(d + "/session.jsonl", lines);
     },
     "session.jsonl:3: bad JSON (syntax error while parsing object"},
    {"FrameFileTooShort",
     [](const std::string& d) { fs::resize_file(d + "/frames/000001.nv21", kFrameBytes - 1); },
     "session.jsonl:3: frame file frames/000001.nv21 has 23 bytes, expected 24 (stride 4 x height "
     "4 x 3/2)"},
    {"StrideDoesNotMatchFile",
     [](const std::string& d) { editLine(d, 2, [](Json& j) { j["stride"] = 6; }); },
     "session.jsonl:2: frame file frames/000000.nv21 has 24 bytes, expected 36 (stride 6 x height "
     "4 x 3/2)"},
    {"MissingFrameFile", [](const std::string& d) { fs::remove(d + "/frames/000001.nv21"); },
     "session.jsonl:3: frame file frames/000001.nv21 does not exist"},
    {"TextForInteger",
     [](const std::string& d) { editLine(d, 4, [](Json& j) { j["width"] = "4"; }); },
     "session.jsonl:4: field \"width\" must be an integer"},
    {"NullLux",
     [](const std::string& d) { editLine(d, 2, [](Json& j) { j["aec_lux"] = nullptr; }); },
     "session.jsonl:2: field \"aec_lux\" must be a finite number"},
    {"OverflowingLux",
     [](const std::string& d) { editLine(d, 2, [](Json& j) { j["aec_lux"] = 1e300; }); },
     "session.jsonl:2: field \"aec_lux\" must be a finite number"},
    {"OtherPixelFormat",
     [](const std::string& d) { editLine(d, 2, [](Json& j) { j["format"] = 23; }); },
     "session.jsonl:2: format 23 is not supported (only 17, NV21)"},
    {"OddWidth", [](const std::string& d) { editLine(d, 2, [](Json& j) { j["width"] = 3; }); },
     "session.jsonl:2: frame size 3x4 is odd; NV21 needs even sides"},
    {"StrideBelowWidth",
     [](const std::string& d) { editLine(d, 2, [](Json& j) { j["stride"] = 2; }); },
     "session.jsonl:2: stride 2 is below the width 4 or too large"},
    {"AbsoluteFramePath",
     [](const std::string& d) { editLine(d, 2, [](Json& j) { j["frame"] = "/etc/passwd"; }); },
     "session.jsonl:2: frame file /etc/passwd must be relative to the session directory"},
    {"NoFrames",
     [](const std::string& d) {
         writeLines(d + "/session.jsonl", {readLines(d + "/session.jsonl")[0]});
     },
     "session.jsonl:1: the session has no frames"},
};

INSTANTIATE_TEST_SUITE_P(Reader, MalformedSession, testing::ValuesIn(kMalformedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every field of a frame line is required.
class MissingField : public testing::TestWithParam<const char*> {};

TEST_P(MissingField, IsNamed) {
    const std::string dir = writeValidSession();
    const std::string key = GetParam();
    editLine(dir, 3, [&key](Json& j) {
        if (key.rfind("gyro.", 0) == 0) {
            j["gyro"].erase(key.substr(5));
        } else {
            j.erase(key);
        }
    });
    const std::string field = key.rfind("gyro.", 0) == 0 ? key.substr(5) : key;
    EXPECT_EQ(readError(dir), dir + "/session.jsonl:3: missing field \"" + field + "\"");
}

INSTANTIATE_TEST_SUITE_P(Reader, MissingField,
                         testing::Values("frame", "width", "height", "stride", "format", "rotation",
                                         "scale", "flip", "aec_lux", "isPhotoing", "holdFlag",
                                         "cameraType", "enable_seg", "control", "gyro",
                                         "gyro.count", "gyro.timestamp", "gyro.gyroX", "gyro.gyroY",
                                         "gyro.gyroZ"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name) {
                                 c = c == '.' ? '_' : c;
                             }
                             return name;
                         });

TEST(SessionRoundTrip, WriterOutputReadsBackExactly) {
    const std::string dir = freshTestDir();
    std::vector<SessionFrame> written;
    {
        SessionWriter writer(dir);
        const float awkward[] = {0.1f, -1e-7f, 3.4028235e38f, 1.17549435e-38f, -0.0f, 12345.678f};
        for (int i = 0; i < 3; ++i) {
            SessionFrame frame = smallFrame(0.1f + 150.25f * i);
            frame.width = 6;
            frame.stride = 8;
            frame.rotation = 90 * i;
            frame.scale = i == 1 ? 2.0f : 0.6f;
            frame.flip = i == 2;
            frame.isPhotoing = i == 1;
            frame.holdFlag = i;
            frame.cameraType = 1;
            frame.enable_seg = 0;
            frame.control = i - 1;
            frame.gyro = IMUDataBlock{};
            frame.gyro.count = i == 2 ? kImuMaxSamples : i * 3;
            for (int s = 0; s < frame.gyro.count; ++s) {
                frame.gyro.timestamp[s] = 18446744073709551000ull + s;
                frame.gyro.gyroX[s] = awkward[s % 6];
                frame.gyro.gyroY[s] = awkward[(s + 1) % 6];
                frame.gyro.gyroZ[s] = awkward[(s + 2) % 6];
            }
            // Frames 0 and 2 share their pixels.
            std::vector<uint8_t> pixels(frameFileBytes(frame), static_cast<uint8_t>(i % 2));
            writer.addFrame(frame, pixels.data());
            written.push_back(frame);
        }
        writer.finish();
        EXPECT_EQ(writer.fileCount(), 2);
    }
    const Session session = readSession(dir);
    ASSERT_EQ(session.frames.size(), written.size());
    EXPECT_EQ(session.frames[2].frameFile, session.frames[0].frameFile);
    EXPECT_NE(session.frames[1].frameFile, session.frames[0].frameFile);
    for (size_t i = 0; i < written.size(); ++i) {
        const SessionFrame& a = written[i];
        const SessionFrame& b = session.frames[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(b.frameFile, a.frameFile);
        EXPECT_EQ(std::vector<int>({b.width, b.height, b.stride, b.format, b.rotation, b.isPhotoing,
                                    b.holdFlag, b.cameraType, b.enable_seg, b.control}),
                  std::vector<int>({a.width, a.height, a.stride, a.format, a.rotation, a.isPhotoing,
                                    a.holdFlag, a.cameraType, a.enable_seg, a.control}));
        EXPECT_EQ(b.flip, a.flip);
        EXPECT_EQ(b.scale, a.scale);
        EXPECT_EQ(b.aec_lux, a.aec_lux);
        // Bit for bit, including the unused tail of the arrays.
        EXPECT_EQ(std::memcmp(&b.gyro, &a.gyro, sizeof(IMUDataBlock)), 0);
    }
    std::vector<uint8_t> pixels;
    loadFramePixels(session, session.frames[1], pixels);
    EXPECT_EQ(pixels, std::vector<uint8_t>(frameFileBytes(session.frames[1]), 1));
}

TEST(SessionWriterTest, RefusesADirectoryThatHoldsSomethingElse) {
    const std::string dir = freshTestDir();
    std::ofstream(dir + "/notes.txt") << "keep me";
    EXPECT_THROW(SessionWriter writer(dir), SessionError);
    EXPECT_TRUE(fs::exists(dir + "/notes.txt"));
}

TEST(SessionWriterTest, RewritingASessionDropsItsOldFrames) {
    const std::string dir = writeValidSession();
    {
        SessionWriter writer(dir);
        std::vector<uint8_t> pixels(kFrameBytes, 7);
        SessionFrame frame = smallFrame(300.0f);
        writer.addFrame(frame, pixels.data());
        writer.finish();
    }
    EXPECT_EQ(readSession(dir).frames.size(), 1u);
    EXPECT_FALSE(fs::exists(dir + "/frames/000001.nv21"));
}

}  // namespace
