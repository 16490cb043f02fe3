// Per-frame results of a replay as CSV and JSON Lines. Numbers are printed with
// a fixed format and nothing depends on timing, so the same session gives the
// same bytes on every run and machine.
#ifndef XEPO_TOOL_SESSION_RESULTS_H
#define XEPO_TOOL_SESSION_RESULTS_H

#include <cstdint>
#include <string>

#include "session_routes.h"

// Cells of the engine's light-region map: 64 columns by 48 rows, 255 = light.
constexpr int kResultMapBytes = 64 * 48;

struct FrameResult {
    uint64_t frame = 0;
    float aec_lux = 0.0f;
    float scale = 0.0f;
    float result = 0.0f;
    float confidence = 0.0f;
    int lightCells = 0;
    int errors = 0;  // error lines the engine logged during the frame call
    Route route = Route::Keep;
    const uint8_t* map = nullptr;  // kResultMapBytes, row by row
};

// Light cells: cells that are not zero.
int countMapCells(const uint8_t* map);

// Standard base64 (RFC 4648, with padding).
std::string base64(const uint8_t* bytes, size_t size);

std::string csvHeader();
// One line each, without the newline.
std::string csvLine(const FrameResult& result);
std::string jsonLine(const FrameResult& result);

#endif  // XEPO_TOOL_SESSION_RESULTS_H
