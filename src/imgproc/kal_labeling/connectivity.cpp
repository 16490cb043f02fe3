#include "imgproc/kal_labeling/connectivity.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "imgproc/kal_labeling/labeling_log.h"

namespace {

// The two neighbourhoods: 4 (left, upper) and 8 (also both upper diagonals).
constexpr int32_t kConnectivity4 = 4;
constexpr int32_t kConnectivity8 = 8;
// Only the low byte of the connectivity argument names the neighbourhood.
constexpr int32_t kConnectivityMask = 0xFF;
// Mode 0 is the plain labelling; 255 is accepted with 4-connectivity only and
// labels the same way here.
constexpr int32_t kModePlain = 0;
constexpr int32_t kModeFull = 255;
// Provisional labels run from 1 to this value. One less than the largest
// 16-bit value, so that "one past the last label" still fits the 16-bit strip
// table.
constexpr uint32_t kMaxProvisionalLabel = 65534;
// Every image is one strip (no thread pool is used).
constexpr int32_t kSingleStrip = 1;
constexpr uint32_t kFirstProvisionalLabel = 1;
constexpr int32_t kBoxValues = 4;

int64_t bytesPerPixel(uint32_t format) {
    switch (format) {
        case kQiraFormatGray16:
            return 2;
        case kQiraFormatRgb:
            return 3;
        default:
            // 8-bit formats, and formats rejected later by the format check.
            return 1;
    }
}

// Present, of a size the labelling handles, with a first plane whose rows
// hold the whole width.
bool imageUsable(const qiraImage* image) {
    if (image == nullptr) {
        return false;
    }
    if (image->width < 1 || image->width > kQiraMaxImageSide || image->height < 1 ||
        image->height > kQiraMaxImageSide) {
        return false;
    }
    if (image->data[0] == nullptr) {
        return false;
    }
    return image->stride[0] >= bytesPerPixel(image->format) * image->width;
}

// 16-bit label planes are read and written as uint16_t, so the plane and each
// row must start on an even address.
bool labelPlaneAligned(const qiraImage& image) {
    return reinterpret_cast<uintptr_t>(image.data[0]) % alignof(uint16_t) == 0 &&
           image.stride[0] % static_cast<int32_t>(alignof(uint16_t)) == 0;
}

const uint8_t* maskRow(const qiraImage& image, int32_t y) {
    return static_cast<const uint8_t*>(image.data[0]) + static_cast<ptrdiff_t>(y) * image.stride[0];
}

uint16_t* labelRow(const qiraImage& image, int32_t y) {
    return reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(image.data[0]) +
                                       static_cast<ptrdiff_t>(y) * image.stride[0]);
}

// Logs the library's status line for a failure and yields the status.
#define KAL_FAIL(status) (KAL_LOG_STATUS(status), (status))

void freeStripTables(ConnectivityContext* context) {
    delete[] context->stripRowCounts;
    delete[] context->stripLabelBegin;
    delete[] context->stripLabelEnd;
    context->stripRowCounts = nullptr;
    context->stripLabelBegin = nullptr;
    context->stripLabelEnd = nullptr;
    context->stripCount = 0;
    context->stripRows = 0;
}

bool allocateStripTables(ConnectivityContext* context, int32_t strips) {
    freeStripTables(context);
    context->stripRowCounts = new (std::nothrow) uint16_t[strips]();
    context->stripLabelBegin = new (std::nothrow) uint16_t[strips]();
    context->stripLabelEnd = new (std::nothrow) uint16_t[strips]();
    if (context->stripRowCounts == nullptr || context->stripLabelBegin == nullptr ||
        context->stripLabelEnd == nullptr) {
        freeStripTables(context);
        return false;
    }
    context->stripCount = strips;
    return true;
}

void freeLabelTables(ConnectivityContext* context) {
    delete[] context->labelMap;
    delete[] context->areas;
    delete[] context->boxes;
    context->labelMap = nullptr;
    context->areas = nullptr;
    context->boxes = nullptr;
    context->tableSize = 0;
}

// Label tables for an image of `pixels` pixels: every provisional label is
// some pixel's, and label 0 is the background. The first pass writes each
// entry before anything reads it, so the tables are not cleared.
bool ensureLabelTables(ConnectivityContext* context, int64_t pixels) {
    const uint32_t needed =
        static_cast<uint32_t>(std::min<int64_t>(pixels + 1, kQiraLabelTableSize));
    if (context->tableSize >= needed) {
        return true;
    }
    freeLabelTables(context);
    context->labelMap = new (std::nothrow) uint16_t[needed];
    context->areas = new (std::nothrow) uint32_t[needed];
    context->boxes = new (std::nothrow) int32_t[kBoxValues * static_cast<size_t>(needed)];
    if (context->labelMap == nullptr || context->areas == nullptr || context->boxes == nullptr) {
        freeLabelTables(context);
        return false;
    }
    context->tableSize = needed;
    return true;
}

// Root of a label's tree. Every parent is smaller than its child, so the walk
// ends; halving the path on the way keeps later walks short and does not
// change which label is the root.
uint16_t findRoot(uint16_t* labelMap, uint16_t label) {
    while (labelMap[label] < label) {
        labelMap[label] = labelMap[labelMap[label]];
        label = labelMap[label];
    }
    return label;
}

// Joins two trees: the larger root takes the smaller as its parent, so each
// root is the first-scanned label of its region.
void unite(uint16_t* labelMap, uint16_t a, uint16_t b) {
    const uint16_t rootA = findRoot(labelMap, a);
    const uint16_t rootB = findRoot(labelMap, b);
    if (rootA < rootB) {
        labelMap[rootB] = rootA;
    } else if (rootB < rootA) {
        labelMap[rootA] = rootB;
    }
}

void widenBox(int32_t* box, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    box[0] = std::min(box[0], x0);
    box[1] = std::min(box[1], y0);
    box[2] = std::max(box[2], x1);
    box[3] = std::max(box[3], y1);
}

// First pass in raster order: provisional labels into `dst`, with the area and
// box of each provisional label and the parent links in the context. Returns
// one past the last label used, or 0 when the image needs more labels than
// 16 bits hold.
uint32_t labelFirstPass(const qiraImage& src, const qiraImage& dst, bool eightConnected,
                        ConnectivityContext* context) {
    uint16_t* labelMap = context->labelMap;
    uint32_t* areas = context->areas;
    int32_t* boxes = context->boxes;
    uint32_t next = kFirstProvisionalLabel;
    for (int32_t y = 0; y < src.height; ++y) {
        const uint8_t* values = maskRow(src, y);
        uint16_t* labels = labelRow(dst, y);
        const uint8_t* upperValues = y > 0 ? maskRow(src, y - 1) : nullptr;
        const uint16_t* upperLabels = y > 0 ? labelRow(dst, y - 1) : nullptr;
        for (int32_t x = 0; x < src.width; ++x) {
            const uint8_t value = values[x];
            if (value == 0) {
                labels[x] = 0;
                continue;
            }
            // Labels of the already scanned neighbours that connect: left,
            // upper-left, upper, upper-right.
            uint16_t neighbours[4];
            int count = 0;
            if (x > 0 && values[x - 1] == value) {
                neighbours[count++] = labels[x - 1];
            }
            if (upperValues != nullptr) {
                if (eightConnected && x > 0 && upperValues[x - 1] == value) {
                    neighbours[count++] = upperLabels[x - 1];
                }
                if (upperValues[x] == value) {
                    neighbours[count++] = upperLabels[x];
                }
                if (eightConnected && x + 1 < src.width && upperValues[x + 1] == value) {
                    neighbours[count++] = upperLabels[x + 1];
                }
            }
            if (count == 0) {
                if (next > kMaxProvisionalLabel) {
                    return 0;
                }
                const uint16_t label = static_cast<uint16_t>(next++);
                labelMap[label] = label;
                areas[label] = 1;
                int32_t* box = boxes + kBoxValues * label;
                box[0] = x;
                box[1] = y;
                box[2] = x;
                box[3] = y;
                labels[x] = label;
                continue;
            }
            const uint16_t label = neighbours[0];
            labels[x] = label;
            areas[label] += 1;
            widenBox(boxes + kBoxValues * label, x, y, x, y);
            for (int i = 1; i < count; ++i) {
                unite(labelMap, label, neighbours[i]);
            }
        }
    }
    return next;
}

// Turns the parent links into final labels numbered in order of each region's
// first provisional label, and gathers the areas and boxes under the final
// labels. areas[0] ends as the number of final labels including 0.
void resolveLabels(ConnectivityContext* context, uint32_t labelEnd) {
    uint16_t* labelMap = context->labelMap;
    uint32_t* areas = context->areas;
    int32_t* boxes = context->boxes;
    uint32_t finalCount = 0;
    for (uint32_t i = 0; i < labelEnd; ++i) {
        const uint16_t parent = labelMap[i];
        if (parent < i) {
            // The parent came earlier and already holds its final label.
            const uint16_t finalLabel = labelMap[parent];
            areas[finalLabel] += areas[i];
            const int32_t* box = boxes + kBoxValues * i;
            widenBox(boxes + kBoxValues * finalLabel, box[0], box[1], box[2], box[3]);
            labelMap[i] = finalLabel;
        } else {
            areas[finalCount] = areas[i];
            std::copy(boxes + kBoxValues * i, boxes + kBoxValues * (i + 1),
                      boxes + kBoxValues * finalCount);
            labelMap[i] = static_cast<uint16_t>(finalCount);
            ++finalCount;
        }
    }
    areas[0] = finalCount;
}

}  // namespace

ConnectivityContext* qiraConnectivityInit() {
    ConnectivityContext* context = new (std::nothrow) ConnectivityContext{};
    if (context == nullptr) {
        KAL_LOG_STATUS(kQiraOutOfMemory);
        return nullptr;
    }
    return context;
}

int32_t qiraConnectivityFindLabelAndRect(const qiraImage* src, qiraImage* dst, int32_t connectivity,
                                         int32_t mode, ConnectivityContext* context,
                                         qiraThreadPool* /*pool: single strip, never used*/) {
    if (!imageUsable(src) || !imageUsable(dst)) {
        return KAL_FAIL(kQiraInvalidArgument);
    }
    const int32_t neighbourhood = connectivity & kConnectivityMask;
    if (neighbourhood != kConnectivity4 && neighbourhood != kConnectivity8) {
        return KAL_FAIL(kQiraUnsupported);
    }
    if ((mode != kModePlain && mode != kModeFull) ||
        (mode == kModeFull && neighbourhood == kConnectivity8)) {
        return KAL_FAIL(kQiraUnsupported);
    }
    if (context == nullptr) {
        return KAL_FAIL(kQiraInvalidArgument);
    }
    // The mask must be 8-bit and the label image 16-bit.
    if (src->format != kQiraFormatGray8 || dst->format != kQiraFormatGray16) {
        return KAL_FAIL(kQiraUnsupported);
    }
    if (src->width != dst->width || src->height != dst->height || !labelPlaneAligned(*dst)) {
        return KAL_FAIL(kQiraInvalidArgument);
    }

    if (!ensureLabelTables(context, static_cast<int64_t>(src->width) * src->height)) {
        return KAL_FAIL(kQiraOutOfMemory);
    }
    context->width = src->width;
    context->height = src->height;
    if (!allocateStripTables(context, kSingleStrip)) {
        return KAL_FAIL(kQiraOutOfMemory);
    }
    context->stripRows = src->height;
    context->stripRowCounts[0] = static_cast<uint16_t>(src->height);
    context->stripLabelBegin[0] = static_cast<uint16_t>(kFirstProvisionalLabel);
    context->labelMap[0] = 0;
    context->areas[0] = 0;
    std::fill(context->boxes, context->boxes + kBoxValues, 0);

    const uint32_t labelEnd = labelFirstPass(*src, *dst, neighbourhood == kConnectivity8, context);
    if (labelEnd == 0) {
        // More regions than 16-bit labels can number.
        freeStripTables(context);
        return KAL_FAIL(kQiraUnsupported);
    }
    context->stripLabelEnd[0] = static_cast<uint16_t>(labelEnd);
    resolveLabels(context, labelEnd);
    return kQiraOk;
}

int32_t qiraConnectivityDeleteSmallRegion(ConnectivityContext* context, uint32_t minArea,
                                          int32_t deleteAtBorder) {
    if (context == nullptr) {
        return KAL_FAIL(kQiraInvalidArgument);
    }
    // Only a labelling whose labels are not yet updated can lose regions.
    if (context->stripLabelBegin == nullptr || context->stripLabelEnd == nullptr) {
        return KAL_FAIL(kQiraInvalidArgument);
    }
    const uint32_t finalCount = context->areas[0];
    for (int32_t strip = 0; strip < context->stripCount; ++strip) {
        for (uint32_t label = context->stripLabelBegin[strip];
             label < context->stripLabelEnd[strip]; ++label) {
            const uint16_t finalLabel = context->labelMap[label];
            if (finalLabel == 0 || finalLabel >= finalCount ||
                context->areas[finalLabel] >= minArea) {
                continue;
            }
            const int32_t* box = context->boxes + kBoxValues * finalLabel;
            const bool touchesBorder = box[0] == 0 || box[1] == 0 || box[2] == context->width - 1 ||
                                       box[3] == context->height - 1;
            if (deleteAtBorder == 0 && touchesBorder) {
                continue;
            }
            context->labelMap[label] = 0;
        }
    }
    return kQiraOk;
}

int32_t qiraConnectivityUpdateLabels(qiraImage* dst, ConnectivityContext* context,
                                     qiraThreadPool* /*pool: single strip, never used*/) {
    if (!imageUsable(dst) || context == nullptr) {
        return KAL_FAIL(kQiraInvalidArgument);
    }
    if (dst->format != kQiraFormatGray16) {
        return KAL_FAIL(kQiraUnsupported);
    }
    // The image must be the one just labelled, with its labels not yet updated.
    if (dst->width != context->width || dst->height != context->height ||
        !labelPlaneAligned(*dst) || context->stripRowCounts == nullptr) {
        return KAL_FAIL(kQiraInvalidArgument);
    }
    int32_t y = 0;
    for (int32_t strip = 0; strip < context->stripCount; ++strip) {
        const int32_t stripEnd = std::min(y + context->stripRowCounts[strip], dst->height);
        for (; y < stripEnd; ++y) {
            uint16_t* labels = labelRow(*dst, y);
            for (int32_t x = 0; x < dst->width; ++x) {
                if (labels[x] != 0) {
                    labels[x] = context->labelMap[labels[x]];
                }
            }
        }
    }
    freeStripTables(context);
    return kQiraOk;
}

int32_t qiraConnectivityRelease(ConnectivityContext* context) {
    if (context == nullptr) {
        return KAL_FAIL(kQiraInvalidArgument);
    }
    freeStripTables(context);
    freeLabelTables(context);
    delete context;
    return kQiraOk;
}
