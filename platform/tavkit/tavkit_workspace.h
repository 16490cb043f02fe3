// What a context keeps between operator runs: the sample positions of the
// bilinear resizes per size pair, and row buffers. Nothing here changes a
// result; it only spares a run from recomputing positions and allocating.
#ifndef TAVKIT_WORKSPACE_H
#define TAVKIT_WORKSPACE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tavkit {

// Fixed-point precision of the bilinear weights: 11 bits keeps the two-stage
// product (255 * 2^11 * 2^11) inside 32 bits.
constexpr int kWeightBits = 11;
constexpr uint32_t kWeightOne = 1u << kWeightBits;

// The vector loops read the pair weights in whole vectors; the weights are
// stored up to a multiple of this many entries (the widest vector of 32-bit
// lanes has 16).
constexpr size_t kPlanPadding = 64;

// Sample positions of one axis of a bilinear resize from srcSize to dstSize
// samples, pixel centres aligned and edges clamped.
struct AxisPlan {
    int srcSize = 0;
    int dstSize = 0;
    // For each destination index: the first source index, the second (first +
    // 1, or first itself at the clamped edges) and the weight of the second,
    // out of kWeightOne.
    std::vector<int32_t> first;
    std::vector<int32_t> second;
    std::vector<uint32_t> weight;
    // The same taps as two neighbours read together: source indices pair[d]
    // and pair[d] + 1 with the weights nearWeight[d] and farWeight[d]. Where
    // both taps are the same sample (the clamped last one, whose second weight
    // is 0), the pair starts one sample earlier and puts the whole weight on
    // its second sample: the weighted sum is the same integer. Empty when the
    // source has a single sample. The weights are padded with zeros to a
    // multiple of kPlanPadding.
    std::vector<int32_t> pair;
    std::vector<uint32_t> nearWeight;
    std::vector<uint32_t> farWeight;
};

class Workspace {
  public:
    // The plan of a size pair, made on first use and kept among the most
    // recently used ones. A reference stays valid until kMaxPlans other size
    // pairs have been asked for.
    const AxisPlan& plan(int srcSize, int dstSize);

    // Scratch of at least `count` elements, contents undefined, valid until
    // the next call of the same function.
    uint8_t* bytes(size_t count);
    uint16_t* halves(size_t count);
    uint32_t* words(size_t count);
    int32_t* offsets(size_t count);

  private:
    static constexpr size_t kMaxPlans = 16;
    std::vector<std::unique_ptr<AxisPlan>> plans_;  // most recently used first
    std::vector<uint8_t> bytes_;
    std::vector<uint16_t> halves_;
    std::vector<uint32_t> words_;
    std::vector<int32_t> offsets_;
};

}  // namespace tavkit

#endif  // TAVKIT_WORKSPACE_H
