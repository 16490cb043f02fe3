// Capture of the engine's log lines through the platform log API.
#ifndef XEPO_TOOL_ENGINE_LOG_H
#define XEPO_TOOL_ENGINE_LOG_H

#include <functional>
#include <string>

// Routes the engine's log lines to `sink` (tag, priority, message); debug
// lines are included only when `verbose` is set.
void captureEngineLog(bool verbose,
                      std::function<void(const char* tag, int priority, const char* message)> sink);

// Prints captured lines to standard error as "<tag>: <message>".
void printEngineLogToStderr(bool verbose);

#endif  // XEPO_TOOL_ENGINE_LOG_H
