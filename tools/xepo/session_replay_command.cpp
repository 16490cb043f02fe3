// xepo replay: feeds a recorded session through the engine, writes the
// per-frame results and prints a summary.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "cli_values.h"
#include "commands.h"
#include "session_replay.h"

namespace {

// Longest run --repeat allows (passes x frames is counted in 64 bits).
constexpr int kMaxRepeat = 1000000;

volatile std::sig_atomic_t stopRequested = 0;

// Ctrl-C asks the replay to stop after the frame in progress. The handler is
// installed once (SA_RESETHAND), so a second Ctrl-C ends the tool at once.
void requestStop(int) {
    stopRequested = 1;
}

// Catches SIGINT while it lives and restores the previous handling after.
class StopOnInterrupt {
  public:
    StopOnInterrupt() {
        stopRequested = 0;
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        installed_ = sigaction(SIGINT, &action, &previous_) == 0;
    }
    ~StopOnInterrupt() {
        if (installed_) {
            sigaction(SIGINT, &previous_, nullptr);
        }
    }
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

  private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

int runReplayCommand(ReplayOptions options) {
    ReplaySummary summary;
    std::string error;
    bool ok = false;
    {
        const StopOnInterrupt stop;
        options.stop = &stopRequested;
        ok = replaySession(options, summary, error);
    }
    if (!ok) {
        std::fprintf(stderr, "xepo replay: %s\n", error.c_str());
        return kExitFailure;
    }
    std::printf("session: %s\n", options.session.c_str());
    summary.print(stdout);
    std::fflush(stdout);
    if (summary.interrupted()) {
        std::fprintf(stderr, "xepo replay: interrupted after %llu frames\n",
                     static_cast<unsigned long long>(summary.frames()));
        return kExitInterrupted;
    }
    if (summary.failedFrames() != 0) {
        std::fprintf(stderr, "xepo replay: the engine logged errors on %llu of %llu frames\n",
                     static_cast<unsigned long long>(summary.failedFrames()),
                     static_cast<unsigned long long>(summary.frames()));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

void registerReplayCommand(CLI::App& app) {
    auto options = std::make_shared<ReplayOptions>();
    options->modelDir = XEPO_DEFAULT_MODEL_DIR;
    CLI::App* command = app.add_subcommand(
        "replay", "Feed a recorded session through the engine and summarise what it decided");
    command->footer(kExitCodesFooter);
    command->add_option("session", options->session, "Session directory")->required();
    command->add_option("--csv", options->csv,
                        "Write per-frame results as CSV (not one of the session's files)");
    command->add_option("--jsonl", options->jsonl,
                        "Write per-frame results as JSON Lines (not one of the session's files)");
    command->add_option("--models", options->modelDir, "Directory of the four model files")
        ->capture_default_str();
    command->add_flag("--verbose", options->verbose, "Show the engine's debug lines");
    command->add_option("--repeat", options->repeat, "Passes over the session with one engine")
        ->check(wholeNumberCheck(false))
        ->check(CLI::Range(1, kMaxRepeat))
        ->capture_default_str();
    command->callback([options] {
        ReplayOptions run = *options;
        // A bar only on a terminal, and not mixed into the engine's lines.
        run.progress = isatty(STDERR_FILENO) != 0 && !run.verbose;
        setCommandExitCode(runReplayCommand(run));
    });
}
