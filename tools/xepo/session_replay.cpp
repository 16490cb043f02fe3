// Replay: feeds a recorded session through qiraAeProcess and writes what the
// engine answered on every frame and the route it took.
//
// A host of the public interface: parameter handle, initAeEngine, one frame
// call per recorded frame, release. The route comes from the engine's own log
// lines, captured through the log API at debug priority whether or not they
// are shown.
#include "session_replay.h"

#include <android/log.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine_handle.h"
#include "engine_log.h"
#include "session_format.h"
#include "session_results.h"
#include "xepo.h"

namespace {

// Width of the progress bar in characters.
constexpr int kProgressWidth = 40;
// Gap assumed between passes when a session's first block has a single sample
// (one frame at 30 Hz).
constexpr uint64_t kDefaultPassGapNs = 33333333;

// An output file opened for writing, closed with a check.
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
    bool open(const std::string& path, std::string& error) {
        if (path.empty()) {
            return true;
        }
        path_ = path;
        file_ = std::fopen(path.c_str(), "w");
        if (file_ == nullptr) {
            error = path + ": cannot create (" + std::strerror(errno) + ")";
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
    std::string path_;
    std::FILE* file_ = nullptr;
};

class ProgressBar {
  public:
    ProgressBar(bool shown, uint64_t total) : shown_(shown), total_(total) {}
    void update(uint64_t done) {
        if (!shown_ || total_ == 0) {
            return;
        }
        const int filled = static_cast<int>(done * kProgressWidth / total_);
        if (filled == lastFilled_ && done != total_) {
            return;
        }
        lastFilled_ = filled;
        std::fprintf(stderr, "\r[%.*s%*s] %llu/%llu", filled,
                     "########################################", kProgressWidth - filled, "",
                     static_cast<unsigned long long>(done),
                     static_cast<unsigned long long>(total_));
        std::fflush(stderr);
    }
    void finish() {
        if (shown_) {
            // Clear the bar so the summary starts on a clean line.
            std::fprintf(stderr, "\r%*s\r", kProgressWidth + 32, "");
            std::fflush(stderr);
        }
    }

  private:
    bool shown_;
    uint64_t total_;
    int lastFilled_ = -1;
};

// How far gyro time moves on from one pass to the next, so that the device's
// clock keeps running forward when a session is looped.
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

// Routes the engine's lines to the route tracker and, as asked, to stderr.
void captureLines(RouteTracker& tracker, bool verbose) {
    captureEngineLog(true, [&tracker, verbose](const char* tag, int priority, const char* message) {
        tracker.observe(message);
        const bool shown = verbose || (priority >= ANDROID_LOG_ERROR &&
                                       std::strstr(message, kEngineReleaseNotice) == nullptr);
        if (shown) {
            // Many engine messages end in their own newline.
            const size_t length = std::strlen(message);
            const int visible =
                static_cast<int>(length > 0 && message[length - 1] == '\n' ? length - 1 : length);
            std::fprintf(stderr, "%s: %.*s\n", tag, visible, message);
        }
    });
}

bool runFrames(const ReplayOptions& options, const Session& session, void* engine,
               RouteTracker& tracker, OutputFile& csv, OutputFile& jsonl, ReplaySummary& summary,
               std::string& error) {
    const uint64_t total = static_cast<uint64_t>(options.repeat) * session.frames.size();
    ProgressBar progress(options.progress, total);
    const uint64_t passShift = passDuration(session);
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> map(kResultMapBytes, 0);
    uint64_t index = 0;
    for (int pass = 0; pass < options.repeat; ++pass) {
        for (const SessionFrame& frame : session.frames) {
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
            IMUDataBlock imu = frame.gyro;
            for (int i = 0; i < imu.count; ++i) {
                imu.timestamp[i] += passShift * static_cast<uint64_t>(pass);
            }
            std::fill(map.begin(), map.end(), 0);
            XEPOSegMap mapRecord{0, 0, 0, map.data()};
            // A NaN left behind shows that the engine did not answer.
            _XEPO_RES_ result{NAN, NAN, &mapRecord};

            tracker.startFrame(frame.control);
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
            row.route = tracker.route(result.confidence);
            row.map = map.data();
            csv.line(csvLine(row));
            jsonl.line(jsonLine(row));
            summary.addFrame(result.result, row.route, ms);
            progress.update(++index);
        }
    }
    progress.finish();
    return true;
}

}  // namespace

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
    if (!csv.open(options.csv, error) || !jsonl.open(options.jsonl, error)) {
        return false;
    }
    csv.line(csvHeader());

    RouteTracker tracker;
    captureLines(tracker, options.verbose);
    bool ok = false;
    {
        EngineHandle engine;
        ok = engine.open(options.modelDir, error) &&
             runFrames(options, session, engine.get(), tracker, csv, jsonl, summary, error);
    }
    // The tracker goes out of scope with this call: stop routing lines to it.
    captureEngineLog(false, nullptr);
    return ok && csv.close(error) && jsonl.close(error);
}
