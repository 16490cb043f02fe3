// xepo version: prints the engine's version line.
#include <cstdio>
#include <string>

#include "commands.h"
#include "engine_log.h"
#include "xepo.h"

void registerVersionCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("version", "Print the engine's version line");
    command->callback([] {
        std::string line;
        captureEngineLog(true, [&line](const char*, int, const char* message) { line = message; });
        getAeVersion();
        // The engine's line starts with its source position; show the text after it.
        const std::string marker = "() ";
        const size_t at = line.find(marker);
        std::printf("%s\n",
                    at == std::string::npos ? line.c_str() : line.c_str() + at + marker.size());
        setCommandExitCode(line.empty() ? 1 : 0);
    });
}
