#include "closed_loop_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

#include "session_format.h"

namespace {

// The simulated camera does not zoom.
constexpr double kNoZoom = 1.0;
// Every frame asks for the light-region path, as the synth's sessions do.
constexpr int kEnableSeg = 1;

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        items.push_back(item);
    }
    if (!text.empty() && text.back() == ',') {
        items.emplace_back();
    }
    return items;
}

bool inFrames(const std::vector<int>& frames, int count, const char* option, std::string& error) {
    for (int frame : frames) {
        if (frame < 0 || frame >= count) {
            error = std::string(option) + " " + std::to_string(frame) +
                    ": outside the run (frames 0.." + std::to_string(count - 1) + ")";
            return false;
        }
    }
    return true;
}

bool inRange(double value, double low, double high) {
    return std::isfinite(value) && value >= low && value <= high;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

bool parseEvList(const std::string& text, std::vector<double>& evs, std::string& error) {
    evs.clear();
    for (const std::string& item : splitList(text)) {
        char* end = nullptr;
        const double ev = std::strtod(item.c_str(), &end);
        if (item.empty() || end != item.c_str() + item.size() ||
            !inRange(ev, -kExposureLimitEv, kExposureLimitEv)) {
            error = "--start-ev " + text + ": \"" + item + "\" is not an EV between " +
                    number(-kExposureLimitEv) + " and " + number(kExposureLimitEv);
            return false;
        }
        if (std::find(evs.begin(), evs.end(), ev) != evs.end()) {
            error = "--start-ev " + text + ": " + item + " is given twice";
            return false;
        }
        evs.push_back(ev);
    }
    if (evs.empty()) {
        error = "--start-ev: expected a list such as -2,-1,0,1,2";
        return false;
    }
    return true;
}

bool parsePolicyList(const std::string& text, std::vector<std::string>& names, std::string& error) {
    names.clear();
    const std::vector<std::string>& known = policyNames();
    for (const std::string& item : splitList(text)) {
        if (std::find(known.begin(), known.end(), item) == known.end()) {
            error = "--policy " + text + ": unknown policy \"" + item + "\" (known: engine, " +
                    "grey, mean-highlight)";
            return false;
        }
        if (std::find(names.begin(), names.end(), item) != names.end()) {
            error = "--policy " + text + ": " + item + " is given twice";
            return false;
        }
        names.push_back(item);
    }
    if (names.empty()) {
        error = "--policy: expected a list such as engine,grey,mean-highlight";
        return false;
    }
    return true;
}

bool parseFrameSize(const std::string& text, int& width, int& height) {
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &tail) != 2) {
        return false;
    }
    return width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0 &&
           width <= kSessionMaxSide && height <= kSessionMaxSide;
}

bool checkSimOptions(const SimOptions& options, std::string& error) {
    std::string listError;
    std::vector<std::string> names;
    if (options.photos.empty()) {
        error = "no photograph given";
    } else if (options.frames < 1 || options.frames > kMaxSimFrames) {
        error = "--frames " + std::to_string(options.frames) + ": expected 1.." +
                std::to_string(kMaxSimFrames);
    } else if (options.startEvs.empty()) {
        error = "--start-ev: no start given";
    } else if (std::any_of(options.startEvs.begin(), options.startEvs.end(), [](double ev) {
                   return !inRange(ev, -kExposureLimitEv, kExposureLimitEv);
               })) {
        error = "--start-ev: every start must lie between " + number(-kExposureLimitEv) + " and " +
                number(kExposureLimitEv) + " EV";
    } else if (options.policies.empty()) {
        error = "--policy: no policy given";
    } else if (std::any_of(options.policies.begin(), options.policies.end(),
                           [](const std::string& name) {
                               const auto& known = policyNames();
                               return std::find(known.begin(), known.end(), name) == known.end();
                           })) {
        error = "--policy: unknown policy (known: engine, grey, mean-highlight)";
    } else if (options.width <= 0 || options.height <= 0 || options.width % 2 != 0 ||
               options.height % 2 != 0 || options.width > kSessionMaxSide ||
               options.height > kSessionMaxSide) {
        error = "--size: expected WxH with even sides up to " + std::to_string(kSessionMaxSide);
    } else if (!inRange(options.baseLux, 0.0, kMaxBaseLux)) {
        error =
            "--lux " + number(options.baseLux) + ": expected a number 0.." + number(kMaxBaseLux);
    } else if (!(options.speed > 0.0) || !inRange(options.speed, 0.0, kMaxSpeed)) {
        error = "--speed " + number(options.speed) + ": expected a number above 0 and up to " +
                number(kMaxSpeed);
    } else if (options.latency < kMinLatency || options.latency > kMaxLatency) {
        error = "--latency " + std::to_string(options.latency) + ": expected 1 or 2";
    } else if (!inRange(options.boost, 1.0, kMaxHighlightBoost)) {
        error = "--boost " + number(options.boost) + ": expected a number 1.." +
                number(kMaxHighlightBoost);
    } else if (!inRange(options.noise, 0.0, kMaxNoise)) {
        error = "--noise " + number(options.noise) + ": expected a number 0.." + number(kMaxNoise);
    } else if (!inFrames(options.captureAt, options.frames, "--capture-at", error) ||
               !inFrames(options.holdAt, options.frames, "--hold-at", error)) {
        // error set
    } else {
        return true;
    }
    return false;
}

SimPhoto prepareSimPhoto(std::string label, SourcePhoto photo, const SimOptions& options) {
    SimPhoto prepared;
    prepared.label = std::move(label);
    prepared.photo = std::move(photo);
    prepared.scene = makeScene(prepared.photo, options.boost);
    prepared.geometry = windowGeometry(prepared.photo, options.width, options.height);
    prepared.poses = planMotion(options.motion, options.frames, prepared.geometry.maxYaw,
                                prepared.geometry.maxPitch, options.seed);
    return prepared;
}

bool runClosedLoop(const SimOptions& options, const SimPhoto& photo, ExposurePolicy& policy,
                   double startEv, SimRun& run, std::string& error) {
    run.policy = policy.name();
    run.photo = photo.label;
    run.startEv = startEv;
    run.frames.clear();
    if (!policy.startRun(error)) {
        return false;
    }
    const std::set<int> captureAt(options.captureAt.begin(), options.captureAt.end());
    const std::set<int> holdAt(options.holdAt.begin(), options.holdAt.end());
    SimCamera camera(photo.scene, options.width, options.height, options.noise, options.seed);
    CameraFrame frame;
    // The exposure of every frame; the first `latency` frames keep the start.
    std::vector<double> exposure(static_cast<size_t>(options.frames), startEv);
    std::vector<double> evs;
    std::vector<double> scores;
    for (int t = 0; t < options.frames; ++t) {
        const CameraPose& pose = photo.poses[static_cast<size_t>(t)];
        const CameraPose& before = photo.poses[static_cast<size_t>(t == 0 ? 0 : t - 1)];
        const double ev = exposure[static_cast<size_t>(t)];
        camera.render(cropWindow(photo.photo, photo.geometry, pose.yaw, pose.pitch, kNoZoom), ev,
                      frame);

        SimFrameRecord record;
        record.frame = t;
        record.ev = ev;
        record.lux = luxIndexForExposure(options.baseLux, ev);
        record.measured =
            meanLinearLuminance(frame.rgb.data(), static_cast<size_t>(frame.width) * frame.height);
        record.capture = captureAt.count(t) != 0;
        record.hold = holdAt.count(t) != 0;

        PolicyInput input;
        input.frame = &frame;
        input.measured = record.measured;
        input.params.scale = static_cast<float>(kNoZoom);
        input.params.aec_lux = record.lux;
        input.params.isPhotoing = record.capture ? 1 : 0;
        input.params.holdFlag = record.hold ? 1 : 0;
        input.params.enable_seg = kEnableSeg;
        input.gyro = gyroBlockForFrame(t, before, pose);
        const PolicyAnswer answer = policy.answer(input);
        record.score = answer.score;
        record.confidence = answer.confidence;
        record.route = answer.route;
        record.lightCells = answer.lightCells;
        record.milliseconds = answer.milliseconds;

        const size_t next = static_cast<size_t>(t + options.latency);
        if (next < exposure.size()) {
            exposure[next] = nextExposure(ev, record.measured, record.score, options.speed);
        }
        evs.push_back(ev);
        scores.push_back(record.score);
        run.frames.push_back(std::move(record));
    }
    policy.endRun();
    run.metrics = measureRun(startEv, evs, scores);
    return true;
}

bool runSimulation(const SimOptions& options, SimResult& result, std::string& error,
                   const SimProgress& progress) {
    result = SimResult{};
    if (!checkSimOptions(options, error)) {
        return false;
    }
    std::vector<std::unique_ptr<ExposurePolicy>> policies;
    for (const std::string& name : options.policies) {
        policies.push_back(makePolicy(name, options.modelDir));
    }
    const uint64_t total = static_cast<uint64_t>(options.photos.size()) * options.startEvs.size() *
                           policies.size() * static_cast<uint64_t>(options.frames);
    uint64_t done = 0;
    for (const std::string& path : options.photos) {
        SourcePhoto source;
        if (!loadSourcePhoto(path, source, error)) {
            return false;
        }
        const SimPhoto photo = prepareSimPhoto(path, std::move(source), options);
        for (double startEv : options.startEvs) {
            for (const auto& policy : policies) {
                SimRun run;
                run.id = static_cast<int>(result.runs.size());
                if (!runClosedLoop(options, photo, *policy, startEv, run, error)) {
                    return false;
                }
                result.runs.push_back(std::move(run));
                done += static_cast<uint64_t>(options.frames);
                if (progress) {
                    progress(done, total);
                }
            }
        }
    }
    for (const std::string& name : options.policies) {
        std::vector<RunMetrics> metrics;
        for (const SimRun& run : result.runs) {
            if (run.policy == name) {
                metrics.push_back(run.metrics);
            }
        }
        result.summaries.push_back(summarizePolicy(name, metrics));
    }
    return true;
}
