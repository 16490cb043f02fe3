// xepo sim: closed-loop camera simulation. A camera looks at a photograph,
// its host moves the exposure toward the target each policy answers, and the
// next frame comes out brighter or darker; the command prints how the
// policies settled and writes every frame and run.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "closed_loop_output.h"
#include "closed_loop_run.h"
#include "commands.h"
#include "progress_bar.h"
#include "session_format.h"

namespace {

// The tool's exit codes: the work failed, or the command line is wrong.
constexpr int kSimExitFailure = 1;
constexpr int kSimExitUsage = 2;
constexpr double kPercent = 100.0;

struct SimCommandOptions {
    SimOptions sim;
    std::string policies = "engine,grey,mean-highlight";
    std::string startEvs = "-2,-1,0,1,2";
    std::string size = "640x480";
    std::string motion = "still";
    std::string out;
};

// Mean time of a policy's answer per frame (frames that run the models and
// frames that keep the last answer alike), or NaN for a policy that is not
// timed (the stand-ins).
double meanMilliseconds(const SimResult& result, const std::string& policy) {
    double sum = 0.0;
    uint64_t frames = 0;
    for (const SimRun& run : result.runs) {
        if (run.policy == policy) {
            for (const SimFrameRecord& frame : run.frames) {
                sum += frame.milliseconds;
                ++frames;
            }
        }
    }
    return sum > 0.0 ? sum / static_cast<double>(frames) : NAN;
}

void printTable(const SimOptions& options, const SimResult& result) {
    std::printf(
        "%zu photo(s) x %zu start(s) x %zu policy(ies), %d frames per run, latency %d, "
        "speed %g\n",
        options.photos.size(), options.startEvs.size(), options.policies.size(), options.frames,
        options.latency, options.speed);
    std::printf("%-15s %5s %12s %9s %9s %8s %9s %8s %9s\n", "policy", "runs", "|err| median",
                "|err| p90", "<=1/3 EV", "settle", "turns", "flicker", "ms/frame");
    for (const PolicySummary& s : result.summaries) {
        const double ms = meanMilliseconds(result, s.policy);
        char time[32] = "-";
        if (std::isfinite(ms)) {
            std::snprintf(time, sizeof time, "%.2f", ms);
        }
        std::printf("%-15s %5d %9.2f EV %6.2f EV %7.0f %% %8.1f %9.2f %8.3f %9s\n",
                    s.policy.c_str(), s.runs, s.medianError, s.p90Error, s.onTargetShare * kPercent,
                    s.medianSettle, s.meanOscillations, s.medianFlicker, time);
    }
    std::printf(
        "|err|: |EV| of the last frame (0 = the photographer's exposure); settle: median "
        "frames until EV stays within 1/6 EV; turns: direction changes per run; flicker: "
        "score standard deviation over the last %d frames\n",
        kFlickerFrames);
}

int runSimCommand(SimCommandOptions& command, bool progressShown) {
    SimOptions& options = command.sim;
    std::string error;
    if (!parsePolicyList(command.policies, options.policies, error) ||
        !parseEvList(command.startEvs, options.startEvs, error)) {
        std::fprintf(stderr, "xepo sim: %s\n", error.c_str());
        return kSimExitUsage;
    }
    if (!parseFrameSize(command.size, options.width, options.height)) {
        std::fprintf(stderr, "xepo sim: --size %s: expected WxH with even sides up to %d\n",
                     command.size.c_str(), kSessionMaxSide);
        return kSimExitUsage;
    }
    if (!parseMotionKind(command.motion, options.motion)) {
        std::fprintf(stderr, "xepo sim: --motion %s: expected still, pan or shake\n",
                     command.motion.c_str());
        return kSimExitUsage;
    }
    if (!checkSimOptions(options, error)) {
        std::fprintf(stderr, "xepo sim: %s\n", error.c_str());
        return kSimExitUsage;
    }
    if (!command.out.empty() && !prepareSimOutput(command.out, error)) {
        std::fprintf(stderr, "xepo sim: %s\n", error.c_str());
        return kSimExitFailure;
    }

    ProgressBar progress(progressShown);
    SimResult result;
    const bool ran =
        runSimulation(options, result, error,
                      [&progress](uint64_t done, uint64_t total) { progress.update(done, total); });
    progress.finish();
    if (!ran) {
        std::fprintf(stderr, "xepo sim: %s\n", error.c_str());
        return kSimExitFailure;
    }
    printTable(options, result);
    if (!command.out.empty()) {
        if (!writeSimOutput(command.out, options, result, error)) {
            std::fprintf(stderr, "xepo sim: %s\n", error.c_str());
            return kSimExitFailure;
        }
        std::printf("wrote %s/{%s,%s,%s,%s}\n", command.out.c_str(), kSimFramesJsonl, kSimFramesCsv,
                    kSimRunsCsv, kSimSummaryJson);
    }
    return 0;
}

}  // namespace

void registerSimCommand(CLI::App& app) {
    auto options = std::make_shared<SimCommandOptions>();
    options->sim.modelDir = XEPO_DEFAULT_MODEL_DIR;
    CLI::App* command = app.add_subcommand(
        "sim", "Closed-loop camera simulation: exposure policies settling on photographs");
    command->add_option("photos", options->sim.photos, "Photographs taken as scenes")->required();
    command->add_option("--policy", options->policies, "Policies: engine, grey, mean-highlight")
        ->capture_default_str();
    command->add_option("--start-ev", options->startEvs, "Start exposures in EV from the photo's")
        ->capture_default_str();
    command->add_option("--frames", options->sim.frames, "Frames per run")->capture_default_str();
    command->add_option("--motion", options->motion, "Camera motion: still, pan or shake")
        ->capture_default_str();
    command->add_option("--size", options->size, "Frame size WxH (even sides)")
        ->capture_default_str();
    command->add_option("--lux", options->sim.baseLux, "Lux index at the photo's exposure")
        ->capture_default_str();
    command->add_option("--seed", options->sim.seed, "Seed of the shake motion and the noise")
        ->capture_default_str();
    command->add_option("--models", options->sim.modelDir, "Directory of the four model files")
        ->capture_default_str();
    command->add_option("--out", options->out, "Directory for the per-frame and per-run files");
    command->add_option("--speed", options->sim.speed, "Share of the EV error the host corrects")
        ->capture_default_str();
    command->add_option("--latency", options->sim.latency, "Frames until an answer takes effect")
        ->capture_default_str();
    command->add_option("--boost", options->sim.boost, "Light of clipped pixels (x white; 1 off)")
        ->capture_default_str();
    command->add_option("--noise", options->sim.noise, "Sensor noise in 8-bit code values")
        ->capture_default_str();
    command->add_option("--capture-at", options->sim.captureAt, "Frame of a still capture");
    command->add_option("--hold-at", options->sim.holdAt, "Frame with the hold flag set");
    command->callback([options] {
        const bool progress = isatty(STDERR_FILENO) != 0;
        setCommandExitCode(runSimCommand(*options, progress));
    });
}
