// xepo replay: feeds a recorded session through the engine, writes the
// per-frame results and prints a summary.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "session_replay.h"

namespace {

constexpr int kExitFailure = 1;
// Longest run --repeat allows (passes x frames is counted in 64 bits).
constexpr int kMaxRepeat = 1000000;

int runReplayCommand(const ReplayOptions& options) {
    ReplaySummary summary;
    std::string error;
    if (!replaySession(options, summary, error)) {
        std::fprintf(stderr, "xepo replay: %s\n", error.c_str());
        return kExitFailure;
    }
    std::printf("session: %s\n", options.session.c_str());
    summary.print(stdout);
    return 0;
}

}  // namespace

void registerReplayCommand(CLI::App& app) {
    auto options = std::make_shared<ReplayOptions>();
    options->modelDir = XEPO_DEFAULT_MODEL_DIR;
    CLI::App* command = app.add_subcommand(
        "replay", "Feed a recorded session through the engine and summarise what it decided");
    command->add_option("session", options->session, "Session directory")->required();
    command->add_option("--csv", options->csv, "Write per-frame results as CSV");
    command->add_option("--jsonl", options->jsonl, "Write per-frame results as JSON Lines");
    command->add_option("--models", options->modelDir, "Directory of the four model files")
        ->capture_default_str();
    command->add_flag("--verbose", options->verbose, "Show the engine's debug lines");
    command->add_option("--repeat", options->repeat, "Passes over the session with one engine")
        ->check(CLI::Range(1, kMaxRepeat))
        ->capture_default_str();
    command->callback([options] {
        ReplayOptions run = *options;
        // A bar only on a terminal, and not mixed into the engine's lines.
        run.progress = isatty(STDERR_FILENO) != 0 && !run.verbose;
        setCommandExitCode(runReplayCommand(run));
    });
}
