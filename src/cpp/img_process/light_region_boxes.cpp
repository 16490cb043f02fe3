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

// What the span searches and box scans reuse from one row or label to the
// next, so that labelling a mask allocates only when it meets a wider one.
struct SpanScratch {
    std::vector<int64_t> lo;
    std::vector<int64_t> hi;
    std::vector<size_t> stack;
    std::vector<float> heights;
    // First and last row of each label (getLightRegionBoxes).
    std::vector<int32_t> firstRow;
    std::vector<int32_t> lastRow;
    // Which label values occur (getConnectivityArea).
    std::vector<uint8_t> present;
};

SpanScratch& spanScratch() {
    thread_local SpanScratch scratch;
    return scratch;
}

RectSpan innerSpan(const std::vector<float>& heights, SpanScratch& scratch) {
    const size_t n = heights.size();
    if (n < 1) {
        return RectSpan{0, 0, 0.0f, 0};
    }
    // lo[i] / hi[i]: nearest column on the left / right that is lower than
    // column i (-1 / n when there is none), found with a stack of indices.
    std::vector<int64_t>& lo = scratch.lo;
    std::vector<int64_t>& hi = scratch.hi;
    std::vector<size_t>& stack = scratch.stack;
    lo.resize(n);
    hi.resize(n);
    stack.clear();
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

RectSpan outerSpan(const std::vector<float>& heights, SpanScratch& scratch) {
    const size_t n = heights.size();
    if (n < 1) {
        return RectSpan{0, 0, 0.0f, 0};
    }
    // lo[i] / hi[i]: nearest empty column (height 0 or less) on the left /
    // right of column i, so the span is the whole run of filled columns.
    std::vector<int64_t>& lo = scratch.lo;
    std::vector<int64_t>& hi = scratch.hi;
    lo.resize(n);
    hi.resize(n);
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

// The boxes of `label`, whose pixels all lie in rows firstRow..lastRow
// (firstRow > lastRow: it has none).
//
// Row by row, each column's height counts the label's pixels ending on that
// row; the row's best inner and outer spans become the boxes when they score
// at least as well as the best so far (">=": on equal scores the later row
// wins). A row without the label scores 0, which changes a box only while no
// row with the label has been seen; the first row with it scores more than 0
// and replaces whatever such rows left. So only the rows that hold the label
// are scored, and a label that is absent keeps what the last row leaves.
void labelBoxesInRows(const qiraImage& labels, uint16_t label, int32_t firstRow, int32_t lastRow,
                      SpanScratch& scratch, Box& inner, Box& outer) {
    inner = Box{0, 0, 0, 0};
    outer = Box{0, 0, 0, 0};
    const int32_t width = labels.width;
    std::vector<float>& heights = scratch.heights;
    heights.assign(static_cast<size_t>(width), 0.0f);
    float bestInnerScore = 0.0f;
    float bestOuterScore = 0.0f;
    // The box of a span found on row r: from its top row down to r, with x1
    // one past its last column.
    auto spanBox = [width](const RectSpan& span, int32_t row) {
        const int64_t top = std::max<int64_t>(static_cast<int64_t>(row) - span.height + 1, 0);
        const int64_t right = std::min<int64_t>(span.right, width);
        return Box{clampToInt32(span.left), clampToInt32(top), clampToInt32(right), row};
    };
    if (firstRow > lastRow) {
        firstRow = lastRow = labels.height - 1;
    }
    for (int32_t row = firstRow; row <= lastRow; ++row) {
        const uint16_t* values = labelRow(labels, row);
        bool present = false;
        for (int32_t column = 0; column < width; ++column) {
            const bool match = values[column] == label;
            heights[column] = match ? heights[column] + 1.0f : 0.0f;
            present = present || match;
        }
        if (!present && bestInnerScore > 0.0f && bestOuterScore > 0.0f) {
            continue;
        }
        const RectSpan innerRowSpan = innerSpan(heights, scratch);
        if (innerRowSpan.score >= bestInnerScore) {
            bestInnerScore = innerRowSpan.score;
            inner = spanBox(innerRowSpan, row);
        }
        const RectSpan outerRowSpan = outerSpan(heights, scratch);
        if (outerRowSpan.score >= bestOuterScore) {
            bestOuterScore = outerRowSpan.score;
            outer = spanBox(outerRowSpan, row);
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

    // Successful labelling leaves `labels` readable and of the mask's size,
    // with final labels, which number at most one per pixel.
    const size_t pixels = static_cast<size_t>(labels.width) * static_cast<size_t>(labels.height);
    std::vector<uint8_t>& present = spanScratch().present;
    present.assign(std::min(pixels + 1, kLabelValues), 0);
    for (int32_t y = 0; y < labels.height; ++y) {
        const uint16_t* row = labelRow(labels, y);
        for (int32_t x = 0; x < labels.width; ++x) {
            if (row[x] >= present.size()) {
                present.resize(kLabelValues, 0);
            }
            present[row[x]] = 1;
        }
    }
    std::vector<uint16_t> found;
    for (size_t value = 0; value < present.size(); ++value) {
        if (present[value] != 0) {
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
    // The rows of every label, found in one pass, so that each label's boxes
    // look at its own rows only.
    SpanScratch& scratch = spanScratch();
    const size_t labelCount =
        labelList.empty()
            ? 0
            : static_cast<size_t>(*std::max_element(labelList.begin(), labelList.end())) + 1;
    scratch.firstRow.assign(labelCount, std::numeric_limits<int32_t>::max());
    scratch.lastRow.assign(labelCount, -1);
    // Label 0 (the background) gets no boxes, so a list of it alone needs no pass.
    for (int32_t y = 0; y < labels.height && labelCount > 1; ++y) {
        const uint16_t* row = labelRow(labels, y);
        for (int32_t x = 0; x < labels.width; ++x) {
            const uint16_t label = row[x];
            if (label != 0 && label < labelCount) {
                scratch.firstRow[label] = std::min(scratch.firstRow[label], y);
                scratch.lastRow[label] = y;
            }
        }
    }
    for (uint16_t label : labelList) {
        if (label == 0) {
            continue;
        }
        Box inner{};
        Box outer{};
        labelBoxesInRows(labels, label, scratch.firstRow[label], scratch.lastRow[label], scratch,
                         inner, outer);
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
    int32_t firstRow = std::numeric_limits<int32_t>::max();
    int32_t lastRow = -1;
    for (int32_t y = 0; y < labels.height; ++y) {
        const uint16_t* row = labelRow(labels, y);
        if (std::find(row, row + labels.width, label) != row + labels.width) {
            firstRow = std::min(firstRow, y);
            lastRow = y;
        }
    }
    labelBoxesInRows(labels, label, firstRow, lastRow, spanScratch(), inner, outer);
}

RectSpan maxInnerRect(const std::vector<float>& heights) {
    SpanScratch scratch;
    return innerSpan(heights, scratch);
}

RectSpan maxOuterRect(const std::vector<float>& heights) {
    SpanScratch scratch;
    return outerSpan(heights, scratch);
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
