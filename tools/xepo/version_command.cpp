// xepo version (and xepo --version): prints the engine's version line.
#include <cstdio>
#include <string>

#include "commands.h"
#include "engine_log.h"
#include "xepo.h"

std::string engineVersionLine() {
    std::string line;
    captureEngineLog(true, [&line](const char*, int, const char* message) { line = message; });
    getAeVersion();
    captureEngineLog(false, nullptr);
    // The engine's line starts with its source position; show the text after it.
    const std::string marker = "() ";
    const size_t at = line.find(marker);
    return at == std::string::npos ? line : line.substr(at + marker.size());
}

void registerVersionCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("version", "Print the engine's version line");
    command->footer(kExitCodesFooter);
    command->callback([] {
        const std::string line = engineVersionLine();
        std::printf("%s\n", line.c_str());
        setCommandExitCode(line.empty() ? kExitFailure : kExitOk);
    });
}
