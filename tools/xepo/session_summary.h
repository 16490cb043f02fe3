// The summary of a replay: frames, score statistics, frames per route and the
// time per frame. Its memory does not grow with the number of frames.
#ifndef XEPO_TOOL_SESSION_SUMMARY_H
#define XEPO_TOOL_SESSION_SUMMARY_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "session_routes.h"

// Times per frame kept as a histogram with logarithmic bins of 1 % width from
// 1 microsecond up, so percentiles come out within 1 % at any session length.
class FrameTimeHistogram {
  public:
    FrameTimeHistogram();
    void add(double milliseconds);
    // The value below which `share` (0..1) of the times lie; 0 when empty.
    double percentile(double share) const;
    uint64_t count() const { return count_; }

  private:
    std::vector<uint64_t> bins_;
    uint64_t count_ = 0;
};

class ReplaySummary {
  public:
    // `errors`: error lines the engine logged during the frame call; a frame
    // with any counts as failed.
    void addFrame(float result, Route route, double milliseconds, int errors = 0);
    // The replay stopped before the end (Ctrl-C); the summary covers the frames so far.
    void setInterrupted() { interrupted_ = true; }

    uint64_t frames() const { return frames_; }
    uint64_t unanswered() const { return unanswered_; }
    uint64_t failedFrames() const { return failed_; }
    bool interrupted() const { return interrupted_; }
    double scoreMean() const;
    float scoreMin() const { return min_; }
    float scoreMax() const { return max_; }
    uint64_t routeCount(Route route) const { return routes_[static_cast<size_t>(route)]; }
    const FrameTimeHistogram& times() const { return times_; }

    // The summary as lines of text.
    void print(std::FILE* out) const;

  private:
    uint64_t frames_ = 0;
    uint64_t unanswered_ = 0;  // frames whose result was not a finite number
    uint64_t failed_ = 0;      // frames with an engine error line
    bool interrupted_ = false;
    uint64_t scored_ = 0;
    double sum_ = 0.0;
    float min_ = 0.0f;
    float max_ = 0.0f;
    std::array<uint64_t, kRouteCount> routes_{};
    FrameTimeHistogram times_;
};

#endif  // XEPO_TOOL_SESSION_SUMMARY_H
