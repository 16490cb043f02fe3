// The subcommands of the xepo tool; each file registers one.
#ifndef XEPO_TOOL_COMMANDS_H
#define XEPO_TOOL_COMMANDS_H

#include <CLI/CLI.hpp>

// Exit code the chosen subcommand left behind (0 on success).
int commandExitCode();
void setCommandExitCode(int code);

void registerVersionCommand(CLI::App& app);
void registerImageCommand(CLI::App& app);
void registerSynthCommand(CLI::App& app);
void registerReplayCommand(CLI::App& app);
void registerSimCommand(CLI::App& app);

#endif  // XEPO_TOOL_COMMANDS_H
