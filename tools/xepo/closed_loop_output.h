// The files of a closed-loop simulation: per-frame JSON Lines and CSV, one row
// of metrics per run, and a summary. Numbers have a fixed format and nothing
// depends on timing, so the same options give the same bytes on every machine.
//
// The output directory carries a manifest of the files the simulation wrote.
// A directory is used only when it is empty or new, or when its manifest shows
// that an earlier simulation wrote it; a file it would write is replaced only
// when that manifest lists it. Files it did not write are never touched.
#ifndef XEPO_TOOL_CLOSED_LOOP_OUTPUT_H
#define XEPO_TOOL_CLOSED_LOOP_OUTPUT_H

#include <string>
#include <vector>

#include "closed_loop_run.h"

constexpr const char* kSimManifestFile = "sim-manifest.txt";
// First line of the manifest.
constexpr const char* kSimManifestHeader = "xepo-sim-output 1";
constexpr const char* kSimFramesJsonl = "frames.jsonl";
constexpr const char* kSimFramesCsv = "frames.csv";
constexpr const char* kSimRunsCsv = "runs.csv";
constexpr const char* kSimSummaryJson = "summary.json";

// The files the simulation writes, manifest included.
std::vector<std::string> simOutputFiles();

// Makes `directory` ready: creates it or checks that it may be written (see
// above), then writes the manifest. False with `error` when refused.
bool prepareSimOutput(const std::string& directory, std::string& error);

// Writes the per-frame files, the runs and the summary into a prepared directory.
bool writeSimOutput(const std::string& directory, const SimOptions& options,
                    const SimResult& result, std::string& error);

// The lines, without their newline.
std::string simFrameCsvHeader();
std::string simFrameCsvLine(const SimRun& run, const SimFrameRecord& frame);
std::string simFrameJsonLine(const SimRun& run, const SimFrameRecord& frame);
std::string simRunCsvHeader();
std::string simRunCsvLine(const SimRun& run);
std::string simSummaryJson(const SimOptions& options, const SimResult& result);

#endif  // XEPO_TOOL_CLOSED_LOOP_OUTPUT_H
