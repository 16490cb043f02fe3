// The subcommands of the xepo tool; each file registers one.
#ifndef XEPO_TOOL_COMMANDS_H
#define XEPO_TOOL_COMMANDS_H

#include <CLI/CLI.hpp>
#include <string>

// Exit codes of every command.
constexpr int kExitOk = 0;
// The work could not be done: an unreadable file, an engine that refused.
constexpr int kExitFailure = 1;
// The command line is wrong; nothing was done.
constexpr int kExitUsage = 2;
// A replay stopped by Ctrl-C: 128 + SIGINT, the shells' convention.
constexpr int kExitInterrupted = 130;

// The exit codes as the help text shows them.
constexpr const char* kExitCodesFooter =
    "Exit status: 0 done, 1 the work failed (unreadable input, an engine error, a frame the "
    "engine refused), 2 bad command line, 130 replay stopped by Ctrl-C.";

// Exit code the chosen subcommand left behind (0 on success).
int commandExitCode();
void setCommandExitCode(int code);

// The engine's version line (what `xepo version` and `xepo --version` print);
// empty when the engine gave none.
std::string engineVersionLine();

void registerVersionCommand(CLI::App& app);
void registerImageCommand(CLI::App& app);
void registerSynthCommand(CLI::App& app);
void registerReplayCommand(CLI::App& app);
void registerSimCommand(CLI::App& app);

#endif  // XEPO_TOOL_COMMANDS_H
