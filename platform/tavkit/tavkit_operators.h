// The operators of the image-operator library. Each takes the context it runs
// on and a filled parameter record and returns 0 or a TavkitStatus. No result
// depends on an earlier run: the context only lends its workspace (cached
// sample positions and row buffers).
//
// Rules shared by all operators: descriptors are checked by describeImage
// (tavkit_image.h); source and destination must not overlap; a destination
// stride of 0 means packed rows.
#ifndef TAVKIT_OPERATORS_H
#define TAVKIT_OPERATORS_H

#include "tavkit_api.h"
#include "tavkit_context.h"

namespace tavkit {

// Id 19. Bilinear resize (pixel centres aligned, edges clamped), u8 only:
//  - 17 -> 2: the NV21 frame's Y plane and V/U plane are both scaled to the
//    target size first (chroma centred between its two luma columns and rows)
//    and only that small image is converted to RGB (R,G,B in memory) with the
//    BT.601 limited-range matrix: R = 1.164(Y-16) + 1.596(V-128), G = 1.164(Y-16)
//    - 0.813(V-128) - 0.391(U-128), B = 1.164(Y-16) + 2.018(U-128). A large frame
//    is thus never converted as a whole.
//  - 2 -> 2: interleaved RGB, sampling only the rows and columns it needs;
//  - 9 -> 9 and 24 -> 24: one plane of 8 or 16 bits.
int runResizeBilinear(Context& context, const TavkitParams& params);

// Id 14. Normalisation of u8 (format 2 or 9) into f32 of the same format and
// size: out = (in - normParam1) / normParam2, channel order kept. normFlag must
// be 0 (the only arithmetic offered); normParam2 must be finite and non-zero.
int runNormalization(Context& context, const TavkitParams& params);

// Id 50. Crop of format 2, 9 or 24 (any element type) to the rectangle
// columns cropBounds[0] .. cropBounds[1] (exclusive), rows cropBounds[2] ..
// cropBounds[3] (exclusive). The destination must be exactly that size.
int runRectCut(Context& context, const TavkitParams& params);

// Id 53. Clockwise rotation of format 2, 9 or 24 (any element type): code 0 =
// 90 degrees, 1 = 180, 2 = 270 (clockwise, i.e. 90 counter-clockwise). For 90
// and 270 the destination is height x width. Exact pixel moves, no resampling.
int runRotate(Context& context, const TavkitParams& params);

// Id 47. Mirror of format 2, 9 or 24 (any element type), same size: code 1 =
// left-right (each row reversed, about the vertical axis), 0 = top-bottom (row
// order reversed), 2 = both (the same as a 180-degree rotation).
int runFlip(Context& context, const TavkitParams& params);

// Id 21. RGB u8 (format 2) to one channel u8 (format 9), same size, with the
// BT.601 luma weights: gray = (9798 R + 19235 G + 3735 B + 16384) >> 15, i.e.
// 0.299 R + 0.587 G + 0.114 B rounded to nearest.
int runColorToGray(Context& context, const TavkitParams& params);

// Id 2. Joint colour histogram of a u8 image: format 2 with histChannels 3, or
// format 9 with histChannels 1; histBins[c] levels per channel, 1..256 each and
// at most 4096 counters together. A value v falls into level (v * bins) >> 8.
// The levels combine with the first channel most significant:
// index = (l0 * bins1 + l1) * bins2 + l2, so for 4,4,4 bins
// index = (R >> 6) * 16 + (G >> 6) * 4 + (B >> 6).
// The destination's plane 0 receives the counters as s32 (element type 6),
// overwritten, not accumulated; its width and height are not read. The counters
// sum to width * height.
int runCalcHist(Context& context, const TavkitParams& params);

// Id 3. Gaussian smoothing of u8 format 2 or 9, same size. gaussianKernel is
// the odd side length k of the square kernel, 1..31 (1 copies); sigma follows
// from it as 0.3 * ((k - 1) / 2 - 1) + 0.8. Borders are mirrored without
// repeating the edge pixel (dcb|abcd|cba). Separable, computed in float and
// rounded to nearest.
int runGaussianFilter(Context& context, const TavkitParams& params);

}  // namespace tavkit

#endif  // TAVKIT_OPERATORS_H
