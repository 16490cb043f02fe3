// The progress bar of the tool's long commands (replay, sim): one line on
// stderr, redrawn in place, shown only when the command asks (it asks when
// stderr is a terminal).
#ifndef XEPO_TOOL_PROGRESS_BAR_H
#define XEPO_TOOL_PROGRESS_BAR_H

#include <cstddef>
#include <cstdint>
#include <string>

// Width of the bar between its brackets, in characters.
constexpr int kProgressBarWidth = 40;

// The bar's text for `done` of `total` frames, for example
// "[####################                    ] 60/120 frames". `done` past
// `total` shows a full bar; a total of 0 shows an empty one.
std::string progressLine(uint64_t done, uint64_t total);

class ProgressBar {
  public:
    explicit ProgressBar(bool shown) : shown_(shown) {}
    // Redraws the line when the bar's fill has changed, and at the end.
    void update(uint64_t done, uint64_t total);
    // Blanks the line, so that what follows starts on a clean one.
    void finish();

  private:
    bool shown_;
    int lastFilled_ = -1;
    size_t lastLength_ = 0;
};

#endif  // XEPO_TOOL_PROGRESS_BAR_H
