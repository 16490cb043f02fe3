#include "progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace {

int filledCells(uint64_t done, uint64_t total) {
    if (total == 0) {
        return 0;
    }
    return static_cast<int>(std::min(done, total) * kProgressBarWidth / total);
}

}  // namespace

std::string progressLine(uint64_t done, uint64_t total) {
    const int filled = filledCells(done, total);
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kProgressBarWidth - filled), ' ') + "] " +
           std::to_string(done) + "/" + std::to_string(total) + " frames";
}

void ProgressBar::update(uint64_t done, uint64_t total) {
    if (!shown_ || total == 0) {
        return;
    }
    const int filled = filledCells(done, total);
    if (filled == lastFilled_ && done != total) {
        return;
    }
    lastFilled_ = filled;
    const std::string line = progressLine(done, total);
    lastLength_ = std::max(lastLength_, line.size());
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
}

void ProgressBar::finish() {
    if (shown_ && lastLength_ > 0) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(lastLength_), "");
        std::fflush(stderr);
    }
}
