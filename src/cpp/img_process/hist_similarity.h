// Similarity of two 64-bin colour histograms (Bhattacharyya coefficient of the
// normalised histograms): 1 for equal distributions, 0 for disjoint ones.
#ifndef XEPO_HIST_SIMILARITY_H
#define XEPO_HIST_SIMILARITY_H

#include <cstdint>

namespace xepo {

constexpr int kHistSimilarityBins = 64;

// Sum over the 64 bins, in bin order and in single precision, of
// sqrt((a[i] / totalA) * (b[i] / totalB)). Every engine caller passes the pixel
// count of a 224 x 224 image (50176) for both totals. A null histogram gives 0.
float histSimilarity(const int32_t a[kHistSimilarityBins], const int32_t b[kHistSimilarityBins],
                     float totalA, float totalB);

}  // namespace xepo

#endif  // XEPO_HIST_SIMILARITY_H
