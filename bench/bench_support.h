// What the benchmark programs share: camera-like NV21 frames made from the
// sample photographs, and a tally of the engine's log lines.
#ifndef XEPO_BENCH_SUPPORT_H
#define XEPO_BENCH_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "xepo.h"

namespace bench {

// Frame sizes of the benchmarks: VGA, 1080p and a 12-megapixel sensor.
struct FrameSize {
    int width;
    int height;
};
constexpr FrameSize kFrameSizes[] = {{640, 480}, {1920, 1080}, {4000, 3000}};

// The sample photographs, in the order the scenarios use them.
extern const char* const kSamplePhotos[4];

// Path of a bundled sample photograph ("samples/<name>").
std::string samplePath(const std::string& name);

// A photograph as an NV21 canvas larger than the frame by `margin` pixels on
// each axis, so that a frame can be taken at any even offset inside it (a pan
// of the camera) without copying: the frame's planes point into the canvas and
// its stride is the canvas width.
class Nv21Canvas {
  public:
    // Decodes the photo and scales it (area filter) to the canvas size; an
    // unreadable photo gives an empty canvas.
    Nv21Canvas(const std::string& photoPath, int frameWidth, int frameHeight, int margin);

    bool empty() const { return y.empty(); }
    int frameWidth() const { return width; }
    int frameHeight() const { return height; }
    int maxOffset() const { return margin; }

    // The frame at offset (x, y), each rounded down to even so that the chroma
    // pairs stay aligned and clamped to the margin.
    VImage frame(int offsetX, int offsetY) const;

  private:
    int width;
    int height;
    int margin;
    int canvasWidth;
    int canvasHeight;
    std::vector<uint8_t> y;
    std::vector<uint8_t> vu;  // interleaved V, U at half resolution
};

// The canvas of a photo at a size, made once per process and kept.
const Nv21Canvas& canvasFor(int photo, int frameWidth, int frameHeight, int margin);

// Drops every engine log line from here on (a host that keeps the default
// priority, so debug lines are refused by the log library). The engine's
// error line on release would otherwise clutter the benchmark output.
void silenceEngineLog();

// Counts the engine's log lines while it lives: every error line, and the lines
// that contain each of the watched fragments. With `withDebug` the debug lines
// are let through to the tally (slower; used for the untimed route census);
// without it only errors reach it, as in a production host. Ending the
// tally silences the log again.
class LogTally {
  public:
    LogTally(std::vector<std::string> watched, bool withDebug);
    ~LogTally();
    LogTally(const LogTally&) = delete;
    LogTally& operator=(const LogTally&) = delete;

    int64_t errors() const;
    // Lines seen so far that contain watched fragment i.
    int64_t count(size_t i) const;
    // The first error line seen, for the benchmark's error message.
    std::string firstError() const;
};

}  // namespace bench

#endif  // XEPO_BENCH_SUPPORT_H
