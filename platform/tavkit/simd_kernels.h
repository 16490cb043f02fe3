// Row kernels of the operators, in portable SIMD (Highway) with the best
// instruction set of the running CPU chosen at run time. They are integer code,
// or IEEE single-precision arithmetic without contraction, so every instruction
// set gives the same bytes as the plain formulas written beside each kernel.
#ifndef TAVKIT_SIMD_KERNELS_H
#define TAVKIT_SIMD_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "tavkit_workspace.h"

namespace tavkit {

// The two source rows behind one destination row of a bilinear resize and the
// weight of the lower one, out of kWeightOne.
struct RowPair {
    const uint8_t* top;
    const uint8_t* bottom;
    uint32_t bottomWeight;
};

// One destination row of a one-channel bilinear resize, for the columns of
// `xs` (which must have pairs):
//   upper = top[a] * (kWeightOne - wx) + top[b] * wx  (lower likewise)
//   out[x] = (upper * (kWeightOne - wy) + lower * wy + 2^21) >> 22
// with a, b, wx the taps of x. `stage` holds 2 * xs.dstSize entries.
void resampleGrayRow(const RowPair& rows, const AxisPlan& xs, uint16_t* stage, uint8_t* out);

// The same for a row of interleaved V/U pairs: V into v[x], U into u[x].
// `stage` holds 2 * xs.dstSize entries.
void resampleVuRow(const RowPair& rows, const AxisPlan& xs, uint32_t* stage, uint8_t* v,
                   uint8_t* u);

// The columns of one NV21 destination row: for column x, offsets[2x] is the
// luma pair's first byte and offsets[2x + 1] the chroma pairs' first byte in
// their rows, with the pair weights of each plane's plan.
struct Nv21Columns {
    const int32_t* offsets;
    const uint32_t* lumaNear;
    const uint32_t* lumaFar;
    const uint32_t* chromaNear;
    const uint32_t* chromaFar;
    size_t count;
};

// One NV21 destination row: Y as resampleGrayRow computes it from the luma
// rows, V and U as resampleVuRow computes them from the chroma rows, each
// into its own row. `stage` holds 3 * count entries.
void resampleNv21Row(const RowPair& luma, const RowPair& chroma, const Nv21Columns& columns,
                     uint32_t* stage, uint8_t* y, uint8_t* v, uint8_t* u);

// gray[x] = (9798 R + 19235 G + 3735 B + 16384) >> 15 over `count` RGB pixels.
void rgbToGrayRow(const uint8_t* rgb, size_t count, uint8_t* gray);

// out[i] = (float(in[i]) - offset) / divisor, in single precision.
void normalizeRow(const uint8_t* in, size_t count, float offset, float divisor, float* out);

// Histogram index of each pixel of a row of `channels` (1 or 3) interleaved
// samples: level_c = (v_c * bins[c]) >> 8, index = sum of level_c * place[c].
// Every index must fit 16 bits.
void histogramIndexRow(const uint8_t* in, size_t count, int channels, const uint16_t bins[3],
                       const uint16_t place[3], uint16_t* index);

}  // namespace tavkit

#endif  // TAVKIT_SIMD_KERNELS_H
