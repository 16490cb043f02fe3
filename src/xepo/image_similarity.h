// Image-similarity step of the frame pipeline: compares this frame with the
// references kept from earlier frames (the histogram of the last kept scene and
// the gray thumbnail of the last stable scene) and refines the stability class.
#ifndef XEPO_IMAGE_SIMILARITY_H
#define XEPO_IMAGE_SIMILARITY_H

#include <cstdint>

#include "xepo/ae_engine.h"

namespace xepo {

// Converts the frame to rgbImage, grayImage and grayThumb, computes curHist,
// and compares them with nccRefThumb (while nccRefValid) and lastHist. Writes
// the histogram similarity to *similarity (0 without lastHist) and the
// thumbnail correlation to *ncc_similarity (0 when not computed); may set
// AeEngine::isStable to 0 or 1 and nccRefValid to 0. Image-operation failures
// are logged and the step goes on with the buffers as they stand.
void calcImageSimilarity(AeEngine* engine, const uint8_t* yPlane, const uint8_t* uvPlane,
                         int32_t width, int32_t height, int32_t stride, int32_t planeHeight,
                         int32_t yuv_format, int32_t rotation, bool flip, float* similarity,
                         float* ncc_similarity, float gyro_similarity);

// Mean and standard deviation of one 64 x 64 thumbnail, in single precision,
// summed pixel by pixel in row-major order.
struct ThumbStats {
    float mean;
    float stdDev;
};
ThumbStats thumbStats(const uint8_t thumb[kThumbBytes]);

// Mean over the pixels of |(a - meanA) * (b - meanB)|, in single precision.
float meanAbsCentredProduct(const uint8_t a[kThumbBytes], const uint8_t b[kThumbBytes], float meanA,
                            float meanB);

// Correlation measure of two 64 x 64 thumbnails: the mean absolute centred
// product over the product of the standard deviations. Never negative (an image
// and its negative score 1); a uniform thumbnail gives not-a-number.
float nccSimilarity(const uint8_t a[kThumbBytes], const uint8_t b[kThumbBytes]);

// Stability class after the thumbnail comparison: a strong match with the
// stable reference makes the frame stable.
int32_t stabilityAfterNcc(int32_t isStable, float ncc);

// Stability class after the histogram comparison (s: histogram similarity,
// g: this frame's gyro distance): an unchanged colour distribution turns the
// classes -1, -3 and 0 into 0 (keep the last score); -4 and 1 are kept.
int32_t stabilityAfterHistogram(int32_t isStable, float s, float g, float lastAeThisScore);

}  // namespace xepo

#endif  // XEPO_IMAGE_SIMILARITY_H
