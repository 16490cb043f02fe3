// Replay of a recorded session through the engine's frame call.
#ifndef XEPO_TOOL_SESSION_REPLAY_H
#define XEPO_TOOL_SESSION_REPLAY_H

#include <string>

#include "session_summary.h"

struct ReplayOptions {
    std::string session;    // session directory
    std::string csv;        // per-frame CSV, or empty
    std::string jsonl;      // per-frame JSON Lines, or empty
    std::string modelDir;   // directory of the four model files
    bool verbose = false;   // show every engine line on standard error
    int repeat = 1;         // passes over the session, one engine throughout
    bool progress = false;  // progress bar on standard error
};

// Creates the engine, feeds every frame (repeat times) through qiraAeProcess,
// writes the per-frame files and fills `summary`. False with `error` set when
// the session, the models or an output file cannot be used.
bool replaySession(const ReplayOptions& options, ReplaySummary& summary, std::string& error);

#endif  // XEPO_TOOL_SESSION_REPLAY_H
