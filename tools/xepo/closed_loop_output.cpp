#include "closed_loop_output.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

namespace fs = std::filesystem;

namespace {

// Decimals in the files: four for EV, scores and confidences (finer than any
// threshold of the engine), six for the measured mean (dark frames measure
// in thousandths).
constexpr int kDecimals = 4;
constexpr int kMeasuredDecimals = 6;
constexpr double kSummaryRounding = 1e4;

std::string fixed(double value, int decimals, const char* missing) {
    if (!std::isfinite(value)) {
        return missing;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A string as a JSON string literal.
std::string quoted(const std::string& text) {
    return nlohmann::json(text).dump();
}

// A value for the summary: rounded to four decimals, null when not a number.
nlohmann::ordered_json rounded(double value) {
    if (!std::isfinite(value)) {
        return nullptr;
    }
    return std::round(value * kSummaryRounding) / kSummaryRounding;
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (char c : text) {
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return out + "\"";
}

const char* motionName(MotionKind kind) {
    switch (kind) {
        case MotionKind::Pan:
            return "pan";
        case MotionKind::Shake:
            return "shake";
        case MotionKind::Still:
            break;
    }
    return "still";
}

// The file names an earlier simulation listed, or false when `path` is no manifest.
bool readManifest(const fs::path& path, std::set<std::string>& files) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line != kSimManifestHeader) {
        return false;
    }
    while (std::getline(in, line)) {
        if (!line.empty()) {
            files.insert(line);
        }
    }
    return true;
}

bool writeText(const fs::path& path, const std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (file == nullptr) {
        error = path.string() + ": cannot create (" + std::strerror(errno) + ")";
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = path.string() + ": write error";
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> simOutputFiles() {
    return {kSimManifestFile, kSimFramesJsonl, kSimFramesCsv, kSimRunsCsv, kSimSummaryJson};
}

bool prepareSimOutput(const std::string& directory, std::string& error) {
    const fs::path dir(directory);
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) {
        error = directory + ": exists and is not a directory";
        return false;
    }
    if (fs::exists(dir, ec) && !fs::is_empty(dir, ec)) {
        std::set<std::string> ours;
        if (!readManifest(dir / kSimManifestFile, ours)) {
            error = directory + ": not empty and not written by xepo sim (no " + kSimManifestFile +
                    "); choose an empty or new directory";
            return false;
        }
        for (const std::string& name : simOutputFiles()) {
            if (name != kSimManifestFile && fs::exists(dir / name, ec) && ours.count(name) == 0) {
                error = (dir / name).string() +
                        ": exists but was not written by xepo sim; it is left alone";
                return false;
            }
        }
    }
    fs::create_directories(dir, ec);
    if (ec) {
        error = directory + ": cannot create (" + ec.message() + ")";
        return false;
    }
    std::string manifest = std::string(kSimManifestHeader) + "\n";
    for (const std::string& name : simOutputFiles()) {
        if (name != kSimManifestFile) {
            manifest += name + "\n";
        }
    }
    return writeText(dir / kSimManifestFile, manifest, error);
}

std::string simFrameCsvHeader() {
    return "run,photo,policy,start_ev,frame,ev,aec_lux,measured,score,confidence,route,"
           "light_cells,capture,hold";
}

std::string simFrameCsvLine(const SimRun& run, const SimFrameRecord& f) {
    return std::to_string(run.id) + "," + csvField(run.photo) + "," + run.policy + "," +
           fixed(run.startEv, kDecimals, "") + "," + std::to_string(f.frame) + "," +
           fixed(f.ev, kDecimals, "") + "," + fixed(f.lux, kDecimals, "") + "," +
           fixed(f.measured, kMeasuredDecimals, "") + "," + fixed(f.score, kDecimals, "") + "," +
           fixed(f.confidence, kDecimals, "") + "," + f.route + "," +
           (f.lightCells >= 0 ? std::to_string(f.lightCells) : std::string()) + "," +
           (f.capture ? "1" : "0") + "," + (f.hold ? "1" : "0");
}

std::string simFrameJsonLine(const SimRun& run, const SimFrameRecord& f) {
    return "{\"run\": " + std::to_string(run.id) + ", \"photo\": " + quoted(run.photo) +
           ", \"policy\": " + quoted(run.policy) +
           ", \"start_ev\": " + fixed(run.startEv, kDecimals, "null") +
           ", \"frame\": " + std::to_string(f.frame) +
           ", \"ev\": " + fixed(f.ev, kDecimals, "null") +
           ", \"aec_lux\": " + fixed(f.lux, kDecimals, "null") +
           ", \"measured\": " + fixed(f.measured, kMeasuredDecimals, "null") +
           ", \"score\": " + fixed(f.score, kDecimals, "null") +
           ", \"confidence\": " + fixed(f.confidence, kDecimals, "null") +
           ", \"route\": " + (f.route.empty() ? std::string("null") : quoted(f.route)) +
           ", \"light_cells\": " +
           (f.lightCells >= 0 ? std::to_string(f.lightCells) : std::string("null")) +
           ", \"capture\": " + (f.capture ? "true" : "false") +
           ", \"hold\": " + (f.hold ? "true" : "false") + "}";
}

std::string simRunCsvHeader() {
    return "run,photo,policy,start_ev,final_ev,final_error,settle_frame,overshoot,oscillations,"
           "flicker";
}

std::string simRunCsvLine(const SimRun& run) {
    const RunMetrics& m = run.metrics;
    return std::to_string(run.id) + "," + csvField(run.photo) + "," + run.policy + "," +
           fixed(run.startEv, kDecimals, "") + "," + fixed(m.finalEv, kDecimals, "") + "," +
           fixed(m.finalError, kDecimals, "") + "," + std::to_string(m.settleFrame) + "," +
           fixed(m.overshoot, kDecimals, "") + "," + std::to_string(m.oscillations) + "," +
           fixed(m.flicker, kDecimals, "");
}

std::string simSummaryJson(const SimOptions& options, const SimResult& result) {
    nlohmann::ordered_json run;
    run["photos"] = options.photos;
    run["policies"] = options.policies;
    run["start_ev"] = options.startEvs;
    run["frames"] = options.frames;
    run["motion"] = motionName(options.motion);
    run["size"] = std::to_string(options.width) + "x" + std::to_string(options.height);
    run["lux"] = options.baseLux;
    run["lux_per_ev"] = kLuxPerEv;
    run["seed"] = options.seed;
    run["speed"] = options.speed;
    run["latency"] = options.latency;
    run["boost"] = options.boost;
    run["noise"] = options.noise;
    run["capture_at"] = options.captureAt;
    run["hold_at"] = options.holdAt;

    nlohmann::ordered_json policies = nlohmann::ordered_json::array();
    for (const PolicySummary& s : result.summaries) {
        nlohmann::ordered_json entry;
        entry["policy"] = s.policy;
        entry["runs"] = s.runs;
        entry["median_abs_ev_error"] = rounded(s.medianError);
        entry["p90_abs_ev_error"] = rounded(s.p90Error);
        entry["share_within_third_ev"] = rounded(s.onTargetShare);
        entry["median_settle_frames"] = rounded(s.medianSettle);
        entry["mean_oscillations"] = rounded(s.meanOscillations);
        entry["median_flicker"] = rounded(s.medianFlicker);
        policies.push_back(entry);
    }
    nlohmann::ordered_json summary;
    summary["format"] = "xepo-sim-summary";
    summary["version"] = 1;
    summary["options"] = run;
    summary["policies"] = policies;
    return summary.dump(2) + "\n";
}

bool writeSimOutput(const std::string& directory, const SimOptions& options,
                    const SimResult& result, std::string& error) {
    const fs::path dir(directory);
    std::string jsonl;
    std::string csv = simFrameCsvHeader() + "\n";
    std::string runs = simRunCsvHeader() + "\n";
    for (const SimRun& run : result.runs) {
        for (const SimFrameRecord& frame : run.frames) {
            jsonl += simFrameJsonLine(run, frame) + "\n";
            csv += simFrameCsvLine(run, frame) + "\n";
        }
        runs += simRunCsvLine(run) + "\n";
    }
    return writeText(dir / kSimFramesJsonl, jsonl, error) &&
           writeText(dir / kSimFramesCsv, csv, error) &&
           writeText(dir / kSimRunsCsv, runs, error) &&
           writeText(dir / kSimSummaryJson, simSummaryJson(options, result), error);
}
