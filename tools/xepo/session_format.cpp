#include "session_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

#include "regular_file.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Where a problem was found: the index file as named by the caller, and a line.
struct Place {
    std::string file;
    int line = 0;
};

[[noreturn]] void fail(const Place& place, const std::string& message) {
    throw SessionError(place.file + ":" + std::to_string(place.line) + ": " + message);
}

const Json& field(const Place& place, const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) {
        fail(place, std::string("missing field \"") + key + "\"");
    }
    return *it;
}

int32_t readInt(const Place& place, const Json& object, const char* key) {
    const Json& value = field(place, object, key);
    if (!value.is_number_integer()) {
        fail(place, std::string("field \"") + key + "\" must be an integer");
    }
    const int64_t wide = value.is_number_unsigned()
                             ? static_cast<int64_t>(std::min<uint64_t>(
                                   value.get<uint64_t>(), std::numeric_limits<int64_t>::max()))
                             : value.get<int64_t>();
    if (wide < std::numeric_limits<int32_t>::min() || wide > std::numeric_limits<int32_t>::max()) {
        fail(place, std::string("field \"") + key + "\" is out of the 32-bit range");
    }
    return static_cast<int32_t>(wide);
}

float readFloat(const Place& place, const Json& object, const char* key) {
    const Json& value = field(place, object, key);
    // JSON has no NaN or infinity; a writer that had one would leave null.
    if (!value.is_number()) {
        fail(place, std::string("field \"") + key + "\" must be a finite number");
    }
    const float narrow = static_cast<float>(value.get<double>());
    if (!std::isfinite(narrow)) {
        fail(place, std::string("field \"") + key + "\" must be a finite number");
    }
    return narrow;
}

const Json& readArray(const Place& place, const Json& object, const char* key, size_t length) {
    const Json& value = field(place, object, key);
    if (!value.is_array()) {
        fail(place, std::string("gyro field \"") + key + "\" must be an array");
    }
    if (value.size() != length) {
        fail(place, std::string("gyro field \"") + key + "\" has " + std::to_string(value.size()) +
                        " entries, count is " + std::to_string(length));
    }
    return value;
}

void readGyro(const Place& place, const Json& line, IMUDataBlock& gyro) {
    const Json& block = field(place, line, "gyro");
    if (!block.is_object()) {
        fail(place, "field \"gyro\" must be an object");
    }
    const int32_t count = readInt(place, block, "count");
    if (count < 0) {
        fail(place, "gyro block has a negative sample count " + std::to_string(count));
    }
    if (count > kImuMaxSamples) {
        fail(place, "gyro block has " + std::to_string(count) + " samples, at most " +
                        std::to_string(kImuMaxSamples));
    }
    gyro = IMUDataBlock{};
    gyro.count = count;
    const size_t n = static_cast<size_t>(count);
    const Json& times = readArray(place, block, "timestamp", n);
    for (size_t i = 0; i < n; ++i) {
        if (!times[i].is_number_unsigned()) {
            fail(place, "gyro timestamp " + std::to_string(i) +
                            " must be a non-negative integer (nanoseconds)");
        }
        gyro.timestamp[i] = times[i].get<uint64_t>();
    }
    const std::pair<const char*, float*> axes[] = {
        {"gyroX", gyro.gyroX}, {"gyroY", gyro.gyroY}, {"gyroZ", gyro.gyroZ}};
    for (const auto& [key, rates] : axes) {
        const Json& values = readArray(place, block, key, n);
        for (size_t i = 0; i < n; ++i) {
            const float rate = values[i].is_number() ? static_cast<float>(values[i].get<double>())
                                                     : std::numeric_limits<float>::quiet_NaN();
            if (!std::isfinite(rate)) {
                fail(place, std::string("gyro field \"") + key + "\" entry " + std::to_string(i) +
                                " must be a finite number");
            }
            rates[i] = rate;
        }
    }
}

void checkGeometry(const Place& place, const SessionFrame& frame) {
    if (frame.format != kSessionPixelFormat) {
        fail(place, "format " + std::to_string(frame.format) + " is not supported (only " +
                        std::to_string(kSessionPixelFormat) + ", NV21)");
    }
    if (frame.width <= 0 || frame.height <= 0 || frame.width > kSessionMaxSide ||
        frame.height > kSessionMaxSide) {
        fail(place, "frame size " + std::to_string(frame.width) + "x" +
                        std::to_string(frame.height) + " is outside 1.." +
                        std::to_string(kSessionMaxSide));
    }
    if (frame.width % 2 != 0 || frame.height % 2 != 0) {
        fail(place, "frame size " + std::to_string(frame.width) + "x" +
                        std::to_string(frame.height) + " is odd; NV21 needs even sides");
    }
    if (frame.stride < frame.width || frame.stride > kSessionMaxSide) {
        fail(place, "stride " + std::to_string(frame.stride) + " is below the width " +
                        std::to_string(frame.width) + " or too large");
    }
}

SessionFrame parseFrame(const Place& place, const Json& line) {
    if (!line.is_object()) {
        fail(place, "a frame line must be a JSON object");
    }
    SessionFrame frame;
    const Json& file = field(place, line, "frame");
    if (!file.is_string() || file.get<std::string>().empty()) {
        fail(place, "field \"frame\" must be a non-empty file name");
    }
    frame.frameFile = file.get<std::string>();
    // Frame files live inside the session directory: no absolute path, no "..".
    const fs::path framePath(frame.frameFile);
    const bool leavesSession =
        framePath.is_absolute() || std::any_of(framePath.begin(), framePath.end(),
                                               [](const fs::path& part) { return part == ".."; });
    if (leavesSession) {
        fail(place, "frame file " + frame.frameFile + " must be relative to the session directory");
    }
    frame.width = readInt(place, line, "width");
    frame.height = readInt(place, line, "height");
    frame.stride = readInt(place, line, "stride");
    frame.format = readInt(place, line, "format");
    frame.rotation = readInt(place, line, "rotation");
    frame.scale = readFloat(place, line, "scale");
    const Json& flip = field(place, line, "flip");
    if (!flip.is_boolean()) {
        fail(place, "field \"flip\" must be true or false");
    }
    frame.flip = flip.get<bool>();
    frame.aec_lux = readFloat(place, line, "aec_lux");
    frame.isPhotoing = readInt(place, line, "isPhotoing");
    frame.holdFlag = readInt(place, line, "holdFlag");
    frame.cameraType = readInt(place, line, "cameraType");
    frame.enable_seg = readInt(place, line, "enable_seg");
    frame.control = readInt(place, line, "control");
    readGyro(place, line, frame.gyro);
    checkGeometry(place, frame);
    return frame;
}

void checkHeader(const Place& place, const Json& header) {
    if (!header.is_object() || !header.contains("format") || !header["format"].is_string() ||
        header["format"].get<std::string>() != kSessionFormatName) {
        fail(place, std::string("not a session index: the first line must be a header with "
                                "\"format\": \"") +
                        kSessionFormatName + "\"");
    }
    const auto version = header.find("version");
    if (version == header.end() || !version->is_number_integer()) {
        fail(place, "the header has no integer \"version\"");
    }
    if (version->get<int64_t>() != kSessionFormatVersion) {
        fail(place, "version " + version->dump() + " is not supported (this reader knows version " +
                        std::to_string(kSessionFormatVersion) + ")");
    }
}

// True when `path` is `root` or lies below it (both absolute and resolved).
bool isInside(const fs::path& path, const fs::path& root) {
    auto part = path.begin();
    for (const fs::path& rootPart : root) {
        if (rootPart.empty()) {
            continue;  // a trailing separator
        }
        if (part == path.end() || *part != rootPart) {
            return false;
        }
        ++part;
    }
    return true;
}

fs::path resolved(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    const fs::path canonical = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : canonical;
}

// `root` is the session directory resolved (links followed).
void checkFrameFile(const Place& place, const std::string& directory, const fs::path& root,
                    const SessionFrame& frame) {
    const fs::path path = fs::path(directory) / frame.frameFile;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
        fail(place, "frame file " + frame.frameFile + " does not exist");
    }
    // A link inside the session may not lead out of it.
    if (!isInside(resolved(path), root)) {
        fail(place, "frame file " + frame.frameFile + " leads out of the session directory (to " +
                        resolved(path).string() + ")");
    }
    if (!fs::is_regular_file(status)) {
        fail(place, "frame file " + frame.frameFile + " is not a regular file");
    }
    const uint64_t actual = fs::file_size(path, ec);
    const uint64_t expected = frameFileBytes(frame);
    if (ec || actual != expected) {
        fail(place, "frame file " + frame.frameFile + " has " + std::to_string(actual) +
                        " bytes, expected " + std::to_string(expected) + " (stride " +
                        std::to_string(frame.stride) + " x height " + std::to_string(frame.height) +
                        " x 3/2)");
    }
}

// One line of `file` without its newline; false at the end.
bool readLine(std::FILE* file, std::string& line) {
    line.clear();
    int c = 0;
    while ((c = getc_unlocked(file)) != EOF && c != '\n') {
        line += static_cast<char>(c);
    }
    return c != EOF || !line.empty();
}

// The shortest decimal text that reads back as the same float, so the index
// shows 0.1 rather than 0.100000001490116.
double shortestDecimal(float value) {
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) {
            break;
        }
    }
    return std::strtod(text, nullptr);
}

OrderedJson floatArray(const float* values, int count) {
    OrderedJson array = OrderedJson::array();
    for (int i = 0; i < count; ++i) {
        array.push_back(shortestDecimal(values[i]));
    }
    return array;
}

}  // namespace

uint64_t frameFileBytes(const SessionFrame& frame) {
    return static_cast<uint64_t>(frame.stride) * static_cast<uint64_t>(frame.height) * 3 / 2;
}

std::string sessionHeaderLine() {
    OrderedJson header{{"format", kSessionFormatName}, {"version", kSessionFormatVersion}};
    return header.dump();
}

std::string sessionFrameLine(const SessionFrame& frame) {
    const int count = std::clamp(frame.gyro.count, 0, kImuMaxSamples);
    OrderedJson gyro{
        {"count", count},
        {"timestamp", std::vector<uint64_t>(frame.gyro.timestamp, frame.gyro.timestamp + count)},
        {"gyroX", floatArray(frame.gyro.gyroX, count)},
        {"gyroY", floatArray(frame.gyro.gyroY, count)},
        {"gyroZ", floatArray(frame.gyro.gyroZ, count)}};
    OrderedJson line{{"frame", frame.frameFile},
                     {"width", frame.width},
                     {"height", frame.height},
                     {"stride", frame.stride},
                     {"format", frame.format},
                     {"rotation", frame.rotation},
                     {"scale", shortestDecimal(frame.scale)},
                     {"flip", frame.flip},
                     {"aec_lux", shortestDecimal(frame.aec_lux)},
                     {"isPhotoing", frame.isPhotoing},
                     {"holdFlag", frame.holdFlag},
                     {"cameraType", frame.cameraType},
                     {"enable_seg", frame.enable_seg},
                     {"control", frame.control},
                     {"gyro", gyro}};
    return line.dump();
}

Session readSession(const std::string& directory) {
    const std::string indexPath = (fs::path(directory) / kSessionIndexFile).string();
    // A pipe or device in the index's place is refused, never waited on.
    std::string reason;
    const OpenFile in = openRegularFile(indexPath, reason);
    if (in == nullptr) {
        throw SessionError(indexPath + ": cannot open the session index (" + reason + ")");
    }
    const fs::path root = resolved(directory);
    Session session;
    session.directory = directory;
    Place place{indexPath, 0};
    std::string text;
    bool sawHeader = false;
    while (readLine(in.get(), text)) {
        ++place.line;
        if (text.find_first_not_of(" \t\r") == std::string::npos) {
            continue;  // blank lines carry nothing
        }
        Json line;
        try {
            line = Json::parse(text);
        } catch (const Json::parse_error& error) {
            // Keep the parser's reason, not its own position inside the line.
            const std::string reason = error.what();
            const size_t colon = reason.find(": ");
            fail(place, "bad JSON (" +
                            (colon == std::string::npos ? reason : reason.substr(colon + 2)) + ")");
        }
        if (!sawHeader) {
            checkHeader(place, line);
            sawHeader = true;
            continue;
        }
        SessionFrame frame = parseFrame(place, line);
        checkFrameFile(place, directory, root, frame);
        session.frames.push_back(std::move(frame));
    }
    if (!sawHeader) {
        fail(place, "the session index is empty");
    }
    if (session.frames.empty()) {
        fail(place, "the session has no frames");
    }
    return session;
}

void loadFramePixels(const Session& session, const SessionFrame& frame,
                     std::vector<uint8_t>& pixels) {
    const fs::path path = fs::path(session.directory) / frame.frameFile;
    const uint64_t expected = frameFileBytes(frame);
    std::error_code ec;
    if (fs::file_size(path, ec) != expected || ec) {
        throw SessionError(path.string() +
                           ": frame file missing or changed size since the "
                           "session was read");
    }
    std::string reason;
    const OpenFile file = openRegularFile(path.string(), reason);
    pixels.resize(expected);
    const size_t got =
        file != nullptr ? std::fread(pixels.data(), 1, pixels.size(), file.get()) : 0;
    if (got != expected) {
        throw SessionError(path.string() + ": cannot read the frame file" +
                           (reason.empty() ? std::string() : " (" + reason + ")"));
    }
}
