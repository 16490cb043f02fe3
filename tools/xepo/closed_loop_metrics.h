// How a closed-loop run went: where the exposure settled, how fast, how far it
// overshot, how often it turned back, and how much the score flickered.
#ifndef XEPO_TOOL_CLOSED_LOOP_METRICS_H
#define XEPO_TOOL_CLOSED_LOOP_METRICS_H

#include <string>
#include <vector>

// Settled: the exposure stays within a sixth of a stop of its final value, less
// than a viewer notices between two frames.
constexpr double kSettleBandEv = 1.0 / 6.0;
// Steps up to this size are jitter, not a move, when turns are counted.
constexpr double kOscillationStepEv = 0.05;
// Score flicker is measured over the last second at 30 frames per second.
constexpr int kFlickerFrames = 30;
// A run that ends within a third of a stop of the intent counts as on target.
constexpr double kOnTargetEv = 1.0 / 3.0;

struct RunMetrics {
    double finalEv = 0.0;     // exposure of the last frame (intent: 0)
    double finalError = 0.0;  // |finalEv|
    int settleFrame = 0;      // first frame from which EV stays within kSettleBandEv of final
    double overshoot = 0.0;   // how far EV went past final on the side away from the start
    int oscillations = 0;     // sign changes between successive steps above kOscillationStepEv
    double flicker = 0.0;     // standard deviation of the score over the last kFlickerFrames
};

// The metrics of one run from the exposure of every frame (`evs`, at least one)
// and the score answered on every frame; scores that are not finite numbers
// are left out of the flicker. An exposure that ends where it started has no
// side away from the start: its overshoot is 0.
RunMetrics measureRun(double startEv, const std::vector<double>& evs,
                      const std::vector<double>& scores);

// The `share` (0..1) percentile by linear interpolation between the sorted
// values (the median of 1, 2, 3, 4 is 2.5); NaN for no values.
double percentile(std::vector<double> values, double share);

// One policy over all its runs.
struct PolicySummary {
    std::string policy;
    int runs = 0;
    double medianError = 0.0;       // median |final EV error|
    double p90Error = 0.0;          // 90th percentile of it
    double onTargetShare = 0.0;     // share of runs with |error| <= kOnTargetEv
    double medianSettle = 0.0;      // median frames to settle
    double meanOscillations = 0.0;  // oscillations per run
    double medianFlicker = 0.0;     // median score flicker
};
PolicySummary summarizePolicy(const std::string& policy, const std::vector<RunMetrics>& runs);

#endif  // XEPO_TOOL_CLOSED_LOOP_METRICS_H
