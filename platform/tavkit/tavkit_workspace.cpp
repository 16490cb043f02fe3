#include "tavkit_workspace.h"

#include <algorithm>
#include <cmath>

namespace tavkit {
namespace {

std::unique_ptr<AxisPlan> makePlan(int srcSize, int dstSize) {
    auto plan = std::make_unique<AxisPlan>();
    plan->srcSize = srcSize;
    plan->dstSize = dstSize;
    plan->first.resize(dstSize);
    plan->second.resize(dstSize);
    plan->weight.resize(dstSize);
    const double scale = static_cast<double>(srcSize) / dstSize;
    for (int d = 0; d < dstSize; ++d) {
        // Pixel centres aligned: destination centre d + 0.5 maps to source (d + 0.5) * scale.
        const double pos = (d + 0.5) * scale - 0.5;
        int i = static_cast<int>(std::floor(pos));
        double frac = pos - i;
        if (i < 0) {
            i = 0;
            frac = 0.0;
        }
        if (i >= srcSize - 1) {
            i = srcSize - 1;
            frac = 0.0;
        }
        plan->first[d] = i;
        plan->second[d] = std::min(i + 1, srcSize - 1);
        plan->weight[d] = static_cast<uint32_t>(std::lround(frac * kWeightOne));
    }
    if (srcSize < 2) {
        return plan;
    }
    const size_t padded =
        (static_cast<size_t>(dstSize) + kPlanPadding - 1) / kPlanPadding * kPlanPadding;
    plan->pair.assign(padded, 0);
    plan->nearWeight.assign(padded, 0);
    plan->farWeight.assign(padded, 0);
    for (int d = 0; d < dstSize; ++d) {
        const uint32_t w = plan->weight[d];
        if (plan->second[d] == plan->first[d]) {
            // Only the clamped last sample, whose second weight is 0.
            plan->pair[d] = plan->first[d] - 1;
            plan->nearWeight[d] = 0;
            plan->farWeight[d] = kWeightOne - w;
        } else {
            plan->pair[d] = plan->first[d];
            plan->nearWeight[d] = kWeightOne - w;
            plan->farWeight[d] = w;
        }
    }
    return plan;
}

template <typename T>
T* grown(std::vector<T>& buffer, size_t count) {
    if (buffer.size() < count) {
        buffer.resize(count);
    }
    return buffer.data();
}

}  // namespace

const AxisPlan& Workspace::plan(int srcSize, int dstSize) {
    const auto found = std::find_if(plans_.begin(), plans_.end(), [&](const auto& p) {
        return p->srcSize == srcSize && p->dstSize == dstSize;
    });
    if (found != plans_.end()) {
        std::rotate(plans_.begin(), found, found + 1);
        return *plans_.front();
    }
    if (plans_.size() == kMaxPlans) {
        plans_.pop_back();
    }
    plans_.insert(plans_.begin(), makePlan(srcSize, dstSize));
    return *plans_.front();
}

uint8_t* Workspace::bytes(size_t count) {
    return grown(bytes_, count);
}

uint16_t* Workspace::halves(size_t count) {
    return grown(halves_, count);
}

uint32_t* Workspace::words(size_t count) {
    return grown(words_, count);
}

int32_t* Workspace::offsets(size_t count) {
    return grown(offsets_, count);
}

}  // namespace tavkit
