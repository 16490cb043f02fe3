#include "session_results.h"

#include <cmath>
#include <cstdio>

namespace {

// Four decimals: finer than any threshold of the engine, short enough to read.
std::string fixed(float value, const char* missing) {
    if (!std::isfinite(value)) {
        return missing;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.4f", static_cast<double>(value));
    return text;
}

}  // namespace

int countMapCells(const uint8_t* map) {
    int count = 0;
    for (int i = 0; map != nullptr && i < kResultMapBytes; ++i) {
        count += map[i] != 0 ? 1 : 0;
    }
    return count;
}

std::string base64(const uint8_t* bytes, size_t size) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t a = bytes[i];
        const uint32_t b = i + 1 < size ? bytes[i + 1] : 0;
        const uint32_t c = i + 2 < size ? bytes[i + 2] : 0;
        const uint32_t triple = (a << 16) | (b << 8) | c;
        out += kAlphabet[(triple >> 18) & 63];
        out += kAlphabet[(triple >> 12) & 63];
        out += i + 1 < size ? kAlphabet[(triple >> 6) & 63] : '=';
        out += i + 2 < size ? kAlphabet[triple & 63] : '=';
    }
    return out;
}

std::string csvHeader() {
    return "frame,aec_lux,scale,result,confidence,light_cells,errors,route";
}

std::string csvLine(const FrameResult& r) {
    return std::to_string(r.frame) + "," + fixed(r.aec_lux, "") + "," + fixed(r.scale, "") + "," +
           fixed(r.result, "") + "," + fixed(r.confidence, "") + "," +
           std::to_string(r.lightCells) + "," + std::to_string(r.errors) + "," + routeName(r.route);
}

std::string jsonLine(const FrameResult& r) {
    const std::string map =
        r.map != nullptr ? "\"" + base64(r.map, kResultMapBytes) + "\"" : std::string("null");
    return "{\"frame\": " + std::to_string(r.frame) + ", \"aec_lux\": " + fixed(r.aec_lux, "null") +
           ", \"scale\": " + fixed(r.scale, "null") + ", \"result\": " + fixed(r.result, "null") +
           ", \"confidence\": " + fixed(r.confidence, "null") +
           ", \"light_cells\": " + std::to_string(r.lightCells) +
           ", \"errors\": " + std::to_string(r.errors) + ", \"route\": \"" + routeName(r.route) +
           "\", \"light_map\": " + map + "}";
}
