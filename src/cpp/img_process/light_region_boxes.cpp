#include "cpp/img_process/light_region_boxes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <new>

#include "imgproc/kal_labeling/connectivity.h"
#include "xepo_log.h"

namespace xepo {

namespace {

// The mask's regions are 8-connected.
constexpr int32_t kMaskConnectivity = 8;
// Plain labelling mode of the connectivity routines.
constexpr int32_t kLabelingMode = 0;
// Regions of fewer pixels are specks of the segmentation, not light sources.
constexpr uint32_t kMinRegionPixels = 5;
// Specks are removed at the image border too.
constexpr int32_t kDeleteSpecksAtBorder = 1;
// The outer box reaches at least this many cells beyond the inner box.
constexpr int32_t kOuterBoxMargin = 3;
// Number of distinct 16-bit labels.
constexpr size_t kLabelValues = 65536;

// A label image this module can read: 16-bit, non-empty, with aligned rows
// that hold the whole width.
bool labelImageReadable(const qiraImage& image) {
    return image.format == kQiraFormatGray16 && image.data[0] != nullptr && image.width > 0 &&
           image.height > 0 &&
           static_cast<int64_t>(image.stride[0]) >=
               static_cast<int64_t>(sizeof(uint16_t)) * image.width &&
           image.stride[0] % static_cast<int32_t>(alignof(uint16_t)) == 0 &&
           reinterpret_cast<uintptr_t>(image.data[0]) % alignof(uint16_t) == 0;
}

const uint16_t* labelRow(const qiraImage& image, int32_t y) {
    return reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(image.data[0]) +
                                             static_cast<ptrdiff_t>(y) * image.stride[0]);
}

// Float to int32, truncated toward zero; out-of-range values saturate and NaN
// gives 0, so that no input makes the conversion undefined.
int32_t truncateToInt32(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483648.0f) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < -2147483648.0f) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

// Column height to uint32, truncated; negative, NaN and too large heights are
// clamped.
uint32_t truncateHeight(float value) {
    if (!(value >= 0.0f)) {
        return 0;
    }
    if (value >= 4294967296.0f) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(value);
}

int32_t clampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Picks the first column with the largest positive score h * (hi - lo + 1),
// where lo and hi bound the column's span on either side.
RectSpan pickBestSpan(const std::vector<float>& heights, const std::vector<int64_t>& lo,
                      const std::vector<int64_t>& hi) {
    size_t best = 0;
    float bestScore = 0.0f;
    for (size_t i = 0; i < heights.size(); ++i) {
        const float score = heights[i] * static_cast<float>(hi[i] - lo[i] + 1);
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    return RectSpan{static_cast<uint32_t>(lo[best] + 1), static_cast<uint32_t>(hi[best]), bestScore,
                    truncateHeight(heights[best])};
}

}  // namespace

void getConnectivityArea(const qiraImage& src, qiraImage& labels,
                         std::vector<uint16_t>& labelList) {
    ConnectivityContext* context = qiraConnectivityInit();
    if (context == nullptr) {
        XEPO_LOGE(" run qiraConnectivityInit fail !");
        return;
    }
    bool labelled = false;
    if (qiraConnectivityFindLabelAndRect(&src, &labels, kMaskConnectivity, kLabelingMode, context,
                                         nullptr) != kQiraOk) {
        XEPO_LOGE(" run qiraConnectivityFindLabelAndRect fail !");
    } else if (qiraConnectivityDeleteSmallRegion(context, kMinRegionPixels,
                                                 kDeleteSpecksAtBorder) != kQiraOk) {
        XEPO_LOGE(" run qiraConnectivityDeleteSmallRegion fail !");
    } else if (qiraConnectivityUpdateLabels(&labels, context, nullptr) != kQiraOk) {
        XEPO_LOGE(" run qiraConnectivityDeleteSmallRegion fail !");
    } else {
        labelled = true;
    }
    qiraConnectivityRelease(context);
    if (!labelled) {
        return;
    }

    // Successful labelling leaves `labels` readable and of the mask's size.
    std::vector<bool> present(kLabelValues, false);
    for (int32_t y = 0; y < labels.height; ++y) {
        const uint16_t* row = labelRow(labels, y);
        for (int32_t x = 0; x < labels.width; ++x) {
            present[row[x]] = true;
        }
    }
    std::vector<uint16_t> found;
    for (size_t value = 0; value < kLabelValues; ++value) {
        if (present[value]) {
            found.push_back(static_cast<uint16_t>(value));
        }
    }
    labelList = std::move(found);
}

void getLightRegionBoxes(const qiraImage& labels, const std::vector<uint16_t>& labelList,
                         std::vector<Box>& outerBoxes, std::vector<Box>& innerBoxes) {
    if (!labelImageReadable(labels)) {
        XEPO_LOGE("label image unreadable, no light-region boxes");
        return;
    }
    for (uint16_t label : labelList) {
        if (label == 0) {
            continue;
        }
        Box inner{};
        Box outer{};
        getLabelBoxes(labels, label, inner, outer);
        innerBoxes.push_back(inner);
        outerBoxes.push_back(outer);
    }
}

void getLabelBoxes(const qiraImage& labels, uint16_t label, Box& inner, Box& outer) {
    inner = Box{0, 0, 0, 0};
    outer = Box{0, 0, 0, 0};
    if (!labelImageReadable(labels)) {
        XEPO_LOGE("label image unreadable, empty boxes for label %u", static_cast<unsigned>(label));
        return;
    }
    const int32_t width = labels.width;
    std::vector<float> heights(static_cast<size_t>(width), 0.0f);
    float bestInnerScore = 0.0f;
    float bestOuterScore = 0.0f;
    // The box of a span found on row r: from its top row down to r, with x1
    // one past its last column.
    auto spanBox = [width](const RectSpan& span, int32_t row) {
        const int64_t top = std::max<int64_t>(static_cast<int64_t>(row) - span.height + 1, 0);
        const int64_t right = std::min<int64_t>(span.right, width);
        return Box{clampToInt32(span.left), clampToInt32(top), clampToInt32(right), row};
    };
    for (int32_t row = 0; row < labels.height; ++row) {
        const uint16_t* values = labelRow(labels, row);
        for (int32_t column = 0; column < width; ++column) {
            heights[column] = values[column] == label ? heights[column] + 1.0f : 0.0f;
        }
        // ">=": on equal scores the later row wins.
        const RectSpan innerSpan = maxInnerRect(heights);
        if (innerSpan.score >= bestInnerScore) {
            bestInnerScore = innerSpan.score;
            inner = spanBox(innerSpan, row);
        }
        const RectSpan outerSpan = maxOuterRect(heights);
        if (outerSpan.score >= bestOuterScore) {
            bestOuterScore = outerSpan.score;
            outer = spanBox(outerSpan, row);
        }
    }
    const int64_t height = labels.height;
    outer.x0 = clampToInt32(std::max<int64_t>(
        0, std::min<int64_t>(outer.x0, static_cast<int64_t>(inner.x0) - kOuterBoxMargin)));
    outer.y0 = clampToInt32(std::max<int64_t>(
        0, std::min<int64_t>(outer.y0, static_cast<int64_t>(inner.y0) - kOuterBoxMargin)));
    outer.x1 = clampToInt32(std::min<int64_t>(
        std::max<int64_t>(outer.x1, static_cast<int64_t>(inner.x1) + kOuterBoxMargin), width));
    outer.y1 = clampToInt32(std::min<int64_t>(
        std::max<int64_t>(outer.y1, static_cast<int64_t>(inner.y1) + kOuterBoxMargin), height));
}

RectSpan maxInnerRect(const std::vector<float>& heights) {
    const size_t n = heights.size();
    if (n < 1) {
        return RectSpan{0, 0, 0.0f, 0};
    }
    // lo[i] / hi[i]: nearest column on the left / right that is lower than
    // column i (-1 / n when there is none), found with a stack of indices.
    std::vector<int64_t> lo(n);
    std::vector<int64_t> hi(n);
    std::vector<size_t> stack;
    stack.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        while (!stack.empty() && heights[stack.back()] >= heights[i]) {
            stack.pop_back();
        }
        lo[i] = stack.empty() ? -1 : static_cast<int64_t>(stack.back());
        stack.push_back(i);
    }
    stack.clear();
    for (size_t i = n; i-- > 0;) {
        while (!stack.empty() && heights[stack.back()] >= heights[i]) {
            stack.pop_back();
        }
        hi[i] = stack.empty() ? static_cast<int64_t>(n) : static_cast<int64_t>(stack.back());
        stack.push_back(i);
    }
    return pickBestSpan(heights, lo, hi);
}

RectSpan maxOuterRect(const std::vector<float>& heights) {
    const size_t n = heights.size();
    if (n < 1) {
        return RectSpan{0, 0, 0.0f, 0};
    }
    // lo[i] / hi[i]: nearest empty column (height 0 or less) on the left /
    // right of column i, so the span is the whole run of filled columns.
    std::vector<int64_t> lo(n);
    std::vector<int64_t> hi(n);
    int64_t lastEmpty = -1;
    for (size_t i = 0; i < n; ++i) {
        lo[i] = lastEmpty;
        if (heights[i] <= 0.0f) {
            lastEmpty = static_cast<int64_t>(i);
        }
    }
    int64_t nextEmpty = static_cast<int64_t>(n);
    for (size_t i = n; i-- > 0;) {
        hi[i] = nextEmpty;
        if (heights[i] <= 0.0f) {
            nextEmpty = static_cast<int64_t>(i);
        }
    }
    return pickBestSpan(heights, lo, hi);
}

Box rotateBoxBack(Box box, int32_t rotation, int32_t W, int32_t H) {
    const int64_t w = W;
    const int64_t h = H;
    const int64_t x0 = box.x0;
    const int64_t y0 = box.y0;
    const int64_t x1 = box.x1;
    const int64_t y1 = box.y1;
    switch (rotation) {
        case 90:
            return Box{box.y0, clampToInt32(std::min(w - x1, w - 1)), box.y1,
                       clampToInt32(std::min(w - x0, w - 1))};
        case 180:
            return Box{clampToInt32(std::min(w - x1, w - 1)), clampToInt32(std::min(h - y1, h - 1)),
                       clampToInt32(std::min(w - x0, w - 1)),
                       clampToInt32(std::min(h - y0, h - 1))};
        case 270:
            return Box{clampToInt32(std::min(h - y1, h - 1)), box.x0,
                       clampToInt32(std::min(h - y0, h - 1)), box.x1};
        default:
            // Only the three quarter turns are recognised; 0, 360 and anything
            // else leave the box as it is.
            return box;
    }
}

void scaleBox(Box& box, float sy, float sx) {
    box.x0 = truncateToInt32(static_cast<float>(box.x0) * sx);
    box.y0 = truncateToInt32(static_cast<float>(box.y0) * sy);
    box.x1 = truncateToInt32(static_cast<float>(box.x1) * sx);
    box.y1 = truncateToInt32(static_cast<float>(box.y1) * sy);
}

}  // namespace xepo
