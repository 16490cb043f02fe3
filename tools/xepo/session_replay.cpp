// Replay: feeds a recorded session through qiraAeProcess and writes what the
// engine answered on every frame and the route it took.
//
// A host of the public interface: parameter handle, initAeEngine, one frame
// call per recorded frame, release. The route comes from the engine's own log
// lines, captured through the log API at debug priority whether or not they
// are shown.
#include "session_replay.h"

#include <android/log.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "engine_handle.h"
#include "engine_log.h"
#include "progress_bar.h"
#include "session_format.h"
#include "session_results.h"
#include "xepo.h"

namespace {

// Gap assumed between passes when a session's first block has a single sample
// (one frame at 30 Hz).
constexpr uint64_t kDefaultPassGapNs = 33333333;

// What identifies a file whatever its spelling: device and inode.
using FileId = std::pair<dev_t, ino_t>;

// An output file. It is opened without emptying it, so that it can be compared
// with the session's files first; only then is it emptied and written.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    bool open(const char* option, const std::string& path, std::string& error) {
        if (path.empty()) {
            return true;
        }
        option_ = option;
        path_ = path;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            createdPath_ = path;
        } else if (errno == EEXIST) {
            fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT) {  // a link to a file not there yet
                fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
                // The file was made where the link points: an abandoned run
                // removes that file and keeps the user's link.
                std::error_code unresolved;
                const std::string target = std::filesystem::canonical(path, unresolved).string();
                if (fd >= 0 && !unresolved) {
                    createdPath_ = target;
                }
            }
        }
        struct stat status {};
        if (fd < 0 || ::fstat(fd, &status) != 0) {
            error =
                std::string(option) + " " + path + ": cannot create (" + std::strerror(errno) + ")";
            if (fd >= 0) {
                ::close(fd);
            }
            return false;
        }
        regular_ = S_ISREG(status.st_mode);
        id_ = FileId(status.st_dev, status.st_ino);
        file_ = ::fdopen(fd, "w");
        if (file_ == nullptr) {
            ::close(fd);
            error = std::string(option) + " " + path + ": cannot open";
            return false;
        }
        return true;
    }
    // A regular file this output writes to (devices and pipes never clash).
    bool isRegular() const { return file_ != nullptr && regular_; }
    const FileId& id() const { return id_; }
    const std::string& option() const { return option_; }
    const std::string& path() const { return path_; }
    // Refused: closed, and removed when this run made it.
    void abandon() {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
            if (!createdPath_.empty()) {
                ::unlink(createdPath_.c_str());
            }
        }
    }
    // Accepted: emptied of what an earlier run left.
    bool empty(std::string& error) {
        if (isRegular() && ::ftruncate(::fileno(file_), 0) != 0) {
            error = path_ + ": cannot empty (" + std::strerror(errno) + ")";
            return false;
        }
        return true;
    }
    void line(const std::string& text) {
        if (file_ != nullptr) {
            std::fputs(text.c_str(), file_);
            std::fputc('\n', file_);
        }
    }
    bool close(std::string& error) {
        if (file_ == nullptr) {
            return true;
        }
        const bool ok = std::ferror(file_) == 0 && std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok) {
            error = path_ + ": write error";
        }
        return ok;
    }

  private:
    std::string option_;
    std::string path_;
    // The file this output made (empty when it made none), removed if abandoned.
    std::string createdPath_;
    std::FILE* file_ = nullptr;
    bool regular_ = false;
    FileId id_{};
};

// The session's files (index and frames) by identity, with their names.
std::map<FileId, std::string> sessionInputs(const Session& session) {
    std::map<FileId, std::string> inputs;
    const auto add = [&inputs, &session](const std::string& name) {
        struct stat status {};
        const std::string path = (std::filesystem::path(session.directory) / name).string();
        if (::stat(path.c_str(), &status) == 0) {
            inputs.emplace(FileId(status.st_dev, status.st_ino), name);
        }
    };
    add(kSessionIndexFile);
    for (const SessionFrame& frame : session.frames) {
        add(frame.frameFile);
    }
    return inputs;
}

// Refuses outputs that would overwrite the session's files or each other;
// empties them when accepted.
bool acceptOutputs(const Session& session, OutputFile& csv, OutputFile& jsonl, std::string& error) {
    const std::map<FileId, std::string> inputs = sessionInputs(session);
    for (OutputFile* out : {&csv, &jsonl}) {
        const auto input = out->isRegular() ? inputs.find(out->id()) : inputs.end();
        if (input != inputs.end()) {
            error = out->option() + " " + out->path() + " is the session's file " + input->second +
                    "; refusing to overwrite it";
        }
    }
    if (error.empty() && csv.isRegular() && jsonl.isRegular() && csv.id() == jsonl.id()) {
        error = "--csv " + csv.path() + " and --jsonl " + jsonl.path() +
                " name the same file; give them different files";
    }
    if (!error.empty()) {
        csv.abandon();
        jsonl.abandon();
        return false;
    }
    return csv.empty(error) && jsonl.empty(error);
}

// Routes the engine's lines to the route tracker and, as asked, to stderr, and
// counts the error lines in `errors` (the release notice is no error).
void captureLines(RouteTracker& tracker, bool verbose, int& errors) {
    captureEngineLog(true, [&tracker, &errors, verbose](const char* tag, int priority,
                                                        const char* message) {
        tracker.observe(message);
        const bool error =
            priority >= ANDROID_LOG_ERROR && std::strstr(message, kEngineReleaseNotice) == nullptr;
        errors += error ? 1 : 0;
        if (verbose || error) {
            // Many engine messages end in their own newline.
            const size_t length = std::strlen(message);
            const int visible =
                static_cast<int>(length > 0 && message[length - 1] == '\n' ? length - 1 : length);
            std::fprintf(stderr, "%s: %.*s\n", tag, visible, message);
        }
    });
}

bool runFrames(const ReplayOptions& options, const Session& session, void* engine,
               RouteTracker& tracker, int& errors, OutputFile& csv, OutputFile& jsonl,
               ReplaySummary& summary, std::string& error) {
    const uint64_t total = static_cast<uint64_t>(options.repeat) * session.frames.size();
    ProgressBar progress(options.progress);
    const uint64_t passShift = passDuration(session);
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> map(kResultMapBytes, 0);
    uint64_t index = 0;
    for (int pass = 0; pass < options.repeat; ++pass) {
        for (const SessionFrame& frame : session.frames) {
            if (options.stop != nullptr && *options.stop != 0) {
                summary.setInterrupted();
                progress.finish();
                return true;
            }
            try {
                loadFramePixels(session, frame, pixels);
            } catch (const SessionError& failure) {
                error = failure.what();
                progress.finish();
                return false;
            }
            VImage image{};
            image.yuv_format = frame.format;
            image.width = frame.width;
            image.height = frame.height;
            image.stride = frame.stride;
            image.yPlane = pixels.data();
            image.uvPlane = pixels.data() + static_cast<size_t>(frame.stride) * frame.height;
            AEParams params{};
            params.rotation = frame.rotation;
            params.scale = frame.scale;
            params.flip = frame.flip;
            params.aec_lux = frame.aec_lux;
            params.isPhotoing = frame.isPhotoing;
            params.holdFlag = frame.holdFlag;
            params.cameraType = frame.cameraType;
            params.enable_seg = frame.enable_seg;
            IMUDataBlock imu = gyroForPass(frame.gyro, passShift, pass);
            std::fill(map.begin(), map.end(), 0);
            XEPOSegMap mapRecord{0, 0, 0, map.data()};
            // A NaN left behind shows that the engine did not answer.
            _XEPO_RES_ result{NAN, NAN, &mapRecord};

            tracker.startFrame(frame.control);
            errors = 0;
            const auto start = std::chrono::steady_clock::now();
            qiraAeProcess(engine, &image, &params, &result, frame.control, &imu);
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();

            FrameResult row;
            row.frame = index;
            row.aec_lux = frame.aec_lux;
            row.scale = frame.scale;
            row.result = result.result;
            row.confidence = result.confidence;
            row.lightCells = countMapCells(map.data());
            row.errors = errors;
            row.route = tracker.route(result.confidence);
            row.map = map.data();
            csv.line(csvLine(row));
            jsonl.line(jsonLine(row));
            summary.addFrame(result.result, row.route, ms, errors);
            progress.update(++index, total);
        }
    }
    progress.finish();
    return true;
}

}  // namespace

uint64_t passDuration(const Session& session) {
    const IMUDataBlock& first = session.frames.front().gyro;
    uint64_t firstTime = 0;
    uint64_t lastTime = 0;
    bool any = false;
    for (const SessionFrame& frame : session.frames) {
        for (int i = 0; i < frame.gyro.count; ++i) {
            const uint64_t t = frame.gyro.timestamp[i];
            firstTime = any ? std::min(firstTime, t) : t;
            lastTime = any ? std::max(lastTime, t) : t;
            any = true;
        }
    }
    const uint64_t gap = first.count >= 2 && first.timestamp[1] > first.timestamp[0]
                             ? first.timestamp[1] - first.timestamp[0]
                             : kDefaultPassGapNs;
    return any ? lastTime - firstTime + gap : 0;
}

IMUDataBlock gyroForPass(const IMUDataBlock& gyro, uint64_t passDuration, int pass) {
    IMUDataBlock shifted = gyro;
    for (int i = 0; i < shifted.count; ++i) {
        shifted.timestamp[i] += passDuration * static_cast<uint64_t>(pass);
    }
    return shifted;
}

bool replaySession(const ReplayOptions& options, ReplaySummary& summary, std::string& error) {
    if (options.repeat < 1) {
        error = "--repeat must be at least 1";
        return false;
    }
    Session session;
    try {
        session = readSession(options.session);
    } catch (const SessionError& failure) {
        error = failure.what();
        return false;
    }
    OutputFile csv;
    OutputFile jsonl;
    if (!csv.open("--csv", options.csv, error) || !jsonl.open("--jsonl", options.jsonl, error) ||
        !acceptOutputs(session, csv, jsonl, error)) {
        csv.abandon();
        jsonl.abandon();
        return false;
    }
    csv.line(csvHeader());

    RouteTracker tracker;
    int errors = 0;
    captureLines(tracker, options.verbose, errors);
    bool ok = false;
    {
        EngineHandle engine;
        ok = engine.open(options.modelDir, error) &&
             runFrames(options, session, engine.get(), tracker, errors, csv, jsonl, summary, error);
    }
    // The tracker goes out of scope with this call: stop routing lines to it.
    captureEngineLog(false, nullptr);
    return ok && csv.close(error) && jsonl.close(error);
}
