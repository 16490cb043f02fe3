// xepo: the engine's command-line host.
#include <CLI/CLI.hpp>

#include "commands.h"

namespace {
int exitCode = 0;
}

int commandExitCode() {
    return exitCode;
}
void setCommandExitCode(int code) {
    exitCode = code;
}

int main(int argc, char** argv) {
    CLI::App app{"xepo: run the XEPO auto-exposure engine on images and recorded sessions"};
    app.require_subcommand(1);
    registerVersionCommand(app);
    registerImageCommand(app);
    registerSynthCommand(app);
    registerReplayCommand(app);
    registerSimCommand(app);
    CLI11_PARSE(app, argc, argv);
    return commandExitCode();
}
