#include "closed_loop_metrics.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kMedian = 0.5;
constexpr double kHighPercentile = 0.9;
}  // namespace

RunMetrics measureRun(double startEv, const std::vector<double>& evs,
                      const std::vector<double>& scores) {
    RunMetrics metrics;
    if (evs.empty()) {
        return metrics;
    }
    metrics.finalEv = evs.back();
    metrics.finalError = std::fabs(metrics.finalEv);

    const int count = static_cast<int>(evs.size());
    metrics.settleFrame = count - 1;
    while (metrics.settleFrame > 0 && std::fabs(evs[static_cast<size_t>(metrics.settleFrame - 1)] -
                                                metrics.finalEv) <= kSettleBandEv) {
        --metrics.settleFrame;
    }

    const double way = metrics.finalEv - startEv;
    for (double ev : evs) {
        const double past = way > 0.0   ? ev - metrics.finalEv
                            : way < 0.0 ? metrics.finalEv - ev
                                        : 0.0;
        metrics.overshoot = std::max(metrics.overshoot, past);
    }

    double lastStep = 0.0;
    for (size_t i = 1; i < evs.size(); ++i) {
        const double step = evs[i] - evs[i - 1];
        if (std::fabs(step) <= kOscillationStepEv) {
            continue;
        }
        if (lastStep != 0.0 && (step > 0.0) != (lastStep > 0.0)) {
            ++metrics.oscillations;
        }
        lastStep = step;
    }

    std::vector<double> tail;
    const size_t first = scores.size() > static_cast<size_t>(kFlickerFrames)
                             ? scores.size() - static_cast<size_t>(kFlickerFrames)
                             : 0;
    for (size_t i = first; i < scores.size(); ++i) {
        if (std::isfinite(scores[i])) {
            tail.push_back(scores[i]);
        }
    }
    if (!tail.empty()) {
        double sum = 0.0;
        for (double score : tail) {
            sum += score;
        }
        const double mean = sum / static_cast<double>(tail.size());
        double squares = 0.0;
        for (double score : tail) {
            squares += (score - mean) * (score - mean);
        }
        metrics.flicker = std::sqrt(squares / static_cast<double>(tail.size()));
    }
    return metrics;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const double position = share * static_cast<double>(values.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(position));
    const size_t above = std::min(below + 1, values.size() - 1);
    const double fraction = position - static_cast<double>(below);
    return values[below] + (values[above] - values[below]) * fraction;
}

PolicySummary summarizePolicy(const std::string& policy, const std::vector<RunMetrics>& runs) {
    PolicySummary summary;
    summary.policy = policy;
    summary.runs = static_cast<int>(runs.size());
    std::vector<double> errors;
    std::vector<double> settles;
    std::vector<double> flickers;
    int onTarget = 0;
    int oscillations = 0;
    for (const RunMetrics& run : runs) {
        errors.push_back(run.finalError);
        settles.push_back(run.settleFrame);
        flickers.push_back(run.flicker);
        onTarget += run.finalError <= kOnTargetEv ? 1 : 0;
        oscillations += run.oscillations;
    }
    summary.medianError = percentile(errors, kMedian);
    summary.p90Error = percentile(errors, kHighPercentile);
    summary.medianSettle = percentile(settles, kMedian);
    summary.medianFlicker = percentile(flickers, kMedian);
    const double count = static_cast<double>(runs.size());
    summary.onTargetShare = runs.empty() ? NAN : onTarget / count;
    summary.meanOscillations = runs.empty() ? NAN : oscillations / count;
    return summary;
}
