#include "session_summary.h"

#include <algorithm>
#include <cmath>

namespace {

// Histogram range: 1 microsecond to about 20 minutes per frame, 1 % per bin.
constexpr double kSmallestMs = 0.001;
constexpr double kBinRatio = 1.01;
constexpr size_t kBinCount = 2100;

size_t binOf(double milliseconds) {
    if (!(milliseconds > kSmallestMs)) {
        return 0;
    }
    const double index = std::log(milliseconds / kSmallestMs) / std::log(kBinRatio);
    return std::min(static_cast<size_t>(index), kBinCount - 1);
}

// The middle of a bin (geometric).
double binValue(size_t bin) {
    return kSmallestMs * std::pow(kBinRatio, static_cast<double>(bin) + 0.5);
}

}  // namespace

FrameTimeHistogram::FrameTimeHistogram() : bins_(kBinCount, 0) {}

void FrameTimeHistogram::add(double milliseconds) {
    ++bins_[binOf(milliseconds)];
    ++count_;
}

double FrameTimeHistogram::percentile(double share) const {
    if (count_ == 0) {
        return 0.0;
    }
    // The smallest time that at least `share` of the frames do not exceed.
    const uint64_t rank = std::max<uint64_t>(
        1, static_cast<uint64_t>(std::ceil(share * static_cast<double>(count_))));
    uint64_t seen = 0;
    for (size_t bin = 0; bin < bins_.size(); ++bin) {
        seen += bins_[bin];
        if (seen >= rank) {
            return binValue(bin);
        }
    }
    return binValue(bins_.size() - 1);
}

void ReplaySummary::addFrame(float result, Route route, double milliseconds, int errors) {
    ++frames_;
    failed_ += errors > 0 ? 1 : 0;
    ++routes_[static_cast<size_t>(route)];
    times_.add(milliseconds);
    if (!std::isfinite(result)) {
        ++unanswered_;
        return;
    }
    if (scored_ == 0) {
        min_ = max_ = result;
    }
    min_ = std::min(min_, result);
    max_ = std::max(max_, result);
    sum_ += result;
    ++scored_;
}

double ReplaySummary::scoreMean() const {
    return scored_ == 0 ? 0.0 : sum_ / static_cast<double>(scored_);
}

void ReplaySummary::print(std::FILE* out) const {
    std::fprintf(out, "frames: %llu%s\n", static_cast<unsigned long long>(frames_),
                 interrupted_ ? " (interrupted: the frames before Ctrl-C)" : "");
    std::fprintf(out, "frames with engine errors: %llu\n",
                 static_cast<unsigned long long>(failed_));
    std::fprintf(out, "score: mean %.4f min %.4f max %.4f\n", scoreMean(),
                 static_cast<double>(min_), static_cast<double>(max_));
    if (unanswered_ != 0) {
        std::fprintf(out, "frames without an answer: %llu\n",
                     static_cast<unsigned long long>(unanswered_));
    }
    std::fprintf(out, "routes:");
    for (Route route : allRoutes()) {
        const uint64_t count = routeCount(route);
        if (count != 0) {
            std::fprintf(out, " %s %llu", routeName(route), static_cast<unsigned long long>(count));
        }
    }
    std::fprintf(out, "\n");
    std::fprintf(out, "time per frame: median %.2f ms, p99 %.2f ms\n", times_.percentile(0.5),
                 times_.percentile(0.99));
}
