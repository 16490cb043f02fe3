// Light regions of a light-segmentation mask: their labels and, for each, an
// inner box (a large rectangle inside the region) and an outer box (around it),
// plus the box transforms that map them onto the host's 64 x 48 grid.
#ifndef XEPO_LIGHT_REGION_BOXES_H
#define XEPO_LIGHT_REGION_BOXES_H

#include <cstdint>
#include <vector>

#include "imgproc/kal_labeling/qira_image.h"

namespace xepo {

struct Box {
    int32_t x0;
    int32_t y0;
    int32_t x1;
    int32_t y1;
};

// Result of maxInnerRect / maxOuterRect over a row of column heights.
struct RectSpan {
    uint32_t left;
    uint32_t right;
    float score;
    uint32_t height;
};

// Labels `src` (format 9 mask of 0 and 255) into `labels` (format 24, same
// size) with 8-connectivity, removes regions under 5 pixels and replaces
// `labelList` with the distinct labels present, ascending. On failure the list
// is left as it was.
void getConnectivityArea(const qiraImage& src, qiraImage& labels, std::vector<uint16_t>& labelList);

// One inner and one outer box per label of the list other than 0, in list order.
void getLightRegionBoxes(const qiraImage& labels, const std::vector<uint16_t>& labelList,
                         std::vector<Box>& outerBoxes, std::vector<Box>& innerBoxes);
void getLabelBoxes(const qiraImage& labels, uint16_t label, Box& inner, Box& outer);

RectSpan maxInnerRect(const std::vector<float>& heights);
RectSpan maxOuterRect(const std::vector<float>& heights);

// Turns a box back through the frame rotation (90, 180, 270; any other value
// returns it unchanged) on a W x H grid.
Box rotateBoxBack(Box box, int32_t rotation, int32_t W, int32_t H);
// x0, x1 times sx and y0, y1 times sy, in single precision, truncated.
void scaleBox(Box& box, float sy, float sx);

}  // namespace xepo

#endif  // XEPO_LIGHT_REGION_BOXES_H
