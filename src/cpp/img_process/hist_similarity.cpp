#include "cpp/img_process/hist_similarity.h"

#include <cmath>

namespace xepo {

float histSimilarity(const int32_t a[kHistSimilarityBins], const int32_t b[kHistSimilarityBins],
                     float totalA, float totalB) {
    // A missing histogram shares nothing with anything.
    if (a == nullptr || b == nullptr) {
        return 0.0f;
    }
    float sum = 0.0f;
    for (int i = 0; i < kHistSimilarityBins; ++i) {
        const float pa = static_cast<float>(a[i]) / totalA;
        const float pb = static_cast<float>(b[i]) / totalB;
        sum += std::sqrt(pa * pb);
    }
    return sum;
}

}  // namespace xepo
