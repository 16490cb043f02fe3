// Replay of a recorded session through the engine's frame call.
#ifndef XEPO_TOOL_SESSION_REPLAY_H
#define XEPO_TOOL_SESSION_REPLAY_H

#include <csignal>
#include <string>

#include "session_format.h"
#include "session_summary.h"

struct ReplayOptions {
    std::string session;    // session directory
    std::string csv;        // per-frame CSV, or empty
    std::string jsonl;      // per-frame JSON Lines, or empty
    std::string modelDir;   // directory of the four model files
    bool verbose = false;   // show every engine line on standard error
    int repeat = 1;         // passes over the session, one engine throughout
    bool progress = false;  // progress bar on standard error
    // When set, a flag (set by a signal handler) that ends the replay after the
    // frame in progress; the files and the summary then cover the frames so far.
    const volatile std::sig_atomic_t* stop = nullptr;
};

// Creates the engine, feeds every frame (repeat times) through qiraAeProcess,
// writes the per-frame files and fills `summary` (frames with engine error
// lines are counted there, and a stop is noted). False with `error` set when
// the session, the models or an output file cannot be used; an output that is
// one of the session's files, or both outputs naming one file, is refused
// before anything is written.
bool replaySession(const ReplayOptions& options, ReplaySummary& summary, std::string& error);

// How far gyro time moves on from one pass to the next, so that the device's
// clock keeps running forward when a session is looped: the span of all its
// gyro samples plus the interval between the first two samples (one frame at
// 30 Hz when the first block has no such interval); 0 without samples.
uint64_t passDuration(const Session& session);

// The gyro block of a frame on pass `pass` (0 first): its timestamps moved on
// by `pass` times `passDuration`.
IMUDataBlock gyroForPass(const IMUDataBlock& gyro, uint64_t passDuration, int pass);

#endif  // XEPO_TOOL_SESSION_REPLAY_H
