// Connected-component labelling of a one-channel 8-bit mask into a 16-bit
// label image, with the pixel count and bounding box of every region.
//
// Use: qiraConnectivityInit, then qiraConnectivityFindLabelAndRect (the label
// image then holds provisional labels), optionally
// qiraConnectivityDeleteSmallRegion, then qiraConnectivityUpdateLabels (the
// label image then holds final labels), and qiraConnectivityRelease.
//
// Labels are 16-bit: 0 is the background, final labels count from 1 in raster
// order of each region's first pixel. Pixels of value 0 are background; two
// non-zero pixels connect when they hold the same value and are neighbours.
//
// Only the single-strip path is implemented: the whole image is one strip and
// a thread-pool argument, when given, is accepted and ignored (the work runs on
// the calling thread).
//
// Failures return the library's status codes (see qira_image.h) and log the
// line "<file> <line> ret=<status>" under the tag "LOG_DBG".
#ifndef KAL_CONNECTIVITY_H
#define KAL_CONNECTIVITY_H

#include <cstdint>

#include "imgproc/kal_labeling/qira_image.h"

// Largest size of each label table: one entry per possible 16-bit label. An
// image never needs more entries than its pixel count plus the background, so
// the tables are sized by that when an image is labelled.
constexpr uint32_t kQiraLabelTableSize = 65536;
// Largest width or height that the labelling accepts.
constexpr int32_t kQiraMaxImageSide = 32760;

// A worker pool of the image-processing library; labelling never uses one.
struct qiraThreadPool;

struct ConnectivityContext {
    // Entries of each label table below: none before the first labelling, then
    // enough for the largest image labelled with this context.
    uint32_t tableSize;
    // Provisional label to parent during the first pass, then provisional
    // label to final label.
    uint16_t* labelMap;
    // Pixel count per label; after resolution areas[0] is the number of final
    // labels including the background label 0.
    uint32_t* areas;
    // Four values per label: x0, y0, x1, y1, all inclusive.
    int32_t* boxes;
    int32_t width;
    int32_t height;
    // Division of the rows into strips, one provisional label range per strip.
    // Allocated by qiraConnectivityFindLabelAndRect, freed by
    // qiraConnectivityUpdateLabels.
    int32_t stripCount;
    int32_t stripRows;
    uint16_t* stripRowCounts;
    uint16_t* stripLabelBegin;
    uint16_t* stripLabelEnd;  // one past the last provisional label used
};

// A new context, or null when it cannot be allocated. Its label tables are
// allocated by the first labelling, for that image's size.
ConnectivityContext* qiraConnectivityInit();

// Labels `src` (format 9) into `dst` (format 24, same size). `connectivity` is 4 or 8 (low
// byte); `mode` is 0, or 255 with 4-connectivity (which labels the same way as 0). Leaves
// provisional labels in `dst` and the final labels' areas and boxes in the context.
// Status 3 for missing or malformed images (a 16-bit plane and its stride must be 2-byte
// aligned), sizes outside 1..32760, rows shorter than the width, unequal sizes or no context;
// 4 for another connectivity, mode or format, and for an image that needs more than 65534
// provisional labels; 5 when the label or strip tables cannot be allocated.
int32_t qiraConnectivityFindLabelAndRect(const qiraImage* src, qiraImage* dst, int32_t connectivity,
                                         int32_t mode, ConnectivityContext* context,
                                         qiraThreadPool* pool);

// Removes the final labels of fewer than `minArea` pixels (when
// `deleteAtBorder` is 0, regions whose box touches the image border stay).
// Final labels are not renumbered. Status 3 without a context or when no
// labelling is pending (none found yet, or labels already updated).
int32_t qiraConnectivityDeleteSmallRegion(ConnectivityContext* context, uint32_t minArea,
                                          int32_t deleteAtBorder);

// Rewrites the provisional labels of `dst` as final labels and frees the strip
// tables. Status 3 for a malformed image, one of another size than the one
// labelled, no context or no pending labelling; 4 when `dst` is not format 24.
int32_t qiraConnectivityUpdateLabels(qiraImage* dst, ConnectivityContext* context,
                                     qiraThreadPool* pool);

// Frees the label tables, any strip tables and the context itself.
int32_t qiraConnectivityRelease(ConnectivityContext* context);

#endif  // KAL_CONNECTIVITY_H
