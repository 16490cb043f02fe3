// xepo: the engine's command-line host.
#include <CLI/CLI.hpp>

#include "commands.h"

namespace {
int exitCode = kExitOk;
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
    app.set_version_flag("--version", engineVersionLine,
                         "Print the engine's version line and exit");
    app.footer(kExitCodesFooter);
    registerVersionCommand(app);
    registerImageCommand(app);
    registerSynthCommand(app);
    registerReplayCommand(app);
    registerSimCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& request) {
        // --help and --version: printed, nothing else to do.
        app.exit(request);
        return kExitOk;
    } catch (const CLI::ParseError& error) {
        // Every other parse error is a usage error, whatever CLI11's own code.
        app.exit(error);
        return kExitUsage;
    }
    return commandExitCode();
}
