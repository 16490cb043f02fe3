// Labelling over arbitrary masks: the engine's getConnectivityArea and
// getLightRegionBoxes as the light-segmentation step calls them, and the
// qiraConnectivity routines directly with fuzzed arguments and image records.
//
// Input layout (little-endian; missing bytes read as zero):
//   u8 flags: 1 mask values as given (else 0/255 by the low bit), 2 label image
//      of another size, 4 label image of format 9, 8 null mask data,
//      16 direct routine calls with fuzzed arguments
//   u16 width, u16 height (each modulo kMaxSide + 2, minus 1: -1..kMaxSide)
//   u8 extra stride, u8 connectivity, u8 mode selector, u32 minimum area,
//   u8 delete-at-border, i32 rotation
//   the rest: mask bytes, repeated over the mask.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "cpp/img_process/light_region_boxes.h"
#include "fuzz_input.h"
#include "imgproc/kal_labeling/connectivity.h"
#include "imgproc/kal_labeling/qira_image.h"
#include "quiet_log.h"

namespace {

// Light-segmentation masks are 56 x 56; larger sides add cost, not paths.
constexpr int32_t kMaxSide = 96;
// Box search walks the label image once per label: bounded so that one input
// stays fast.
constexpr int64_t kMaxBoxWork = int64_t{1} << 20;

struct Mask {
    std::unique_ptr<uint8_t[]> bytes;
    qiraImage image{};
};

Mask makeMask(int32_t width, int32_t height, int32_t stride, bool rawValues, bool nullData,
              const uint8_t* pattern, size_t patternSize) {
    Mask mask;
    const int64_t bytes = static_cast<int64_t>(stride > 0 ? stride : 0) * (height > 0 ? height : 0);
    const size_t size = bytes > 0 ? static_cast<size_t>(bytes) : 1;
    mask.bytes.reset(new uint8_t[size]);
    fillRepeating(mask.bytes.get(), size, pattern, patternSize);
    if (!rawValues) {
        for (size_t i = 0; i < size; ++i) {
            mask.bytes[i] = (mask.bytes[i] & 1) != 0 ? 255 : 0;
        }
    }
    mask.image.format = kQiraFormatGray8;
    mask.image.width = width;
    mask.image.height = height;
    mask.image.data[0] = nullData ? nullptr : mask.bytes.get();
    mask.image.stride[0] = stride;
    return mask;
}

void runDirect(const qiraImage& mask, qiraImage& labels, int32_t connectivity, int32_t mode,
               uint32_t minArea, int32_t deleteAtBorder) {
    ConnectivityContext* context = qiraConnectivityInit();
    if (context == nullptr) {
        return;
    }
    qiraConnectivityFindLabelAndRect(&mask, &labels, connectivity, mode, context, nullptr);
    qiraConnectivityDeleteSmallRegion(context, minArea, deleteAtBorder);
    qiraConnectivityUpdateLabels(&labels, context, nullptr);
    // A second update without a pending labelling must be refused, not redone.
    qiraConnectivityUpdateLabels(&labels, context, nullptr);
    qiraConnectivityRelease(context);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quietEngineLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t flags = in.u8();
    const int32_t width = static_cast<int32_t>((in.u8() | in.u8() << 8) % (kMaxSide + 2)) - 1;
    const int32_t height = static_cast<int32_t>((in.u8() | in.u8() << 8) % (kMaxSide + 2)) - 1;
    const int32_t stride = width + in.u8() % 9 - 1;  // one short of the width up to 7 over
    const int32_t connectivity = in.u8();
    constexpr int32_t kModes[] = {0, 255, 1, -1};
    const int32_t mode = kModes[in.u8() % 4];
    const uint32_t minArea = in.u32();
    const int32_t deleteAtBorder = in.u8() & 1;
    const int32_t rotation = in.i32();

    Mask mask = makeMask(width, height, stride, (flags & 1) != 0, (flags & 8) != 0, in.rest(),
                         in.restSize());
    const int32_t labelWidth = (flags & 2) != 0 ? width + 1 : width;
    const uint32_t labelFormat = (flags & 4) != 0 ? kQiraFormatGray8 : kQiraFormatGray16;
    qiraImage labels =
        qiraImageCreate(labelWidth > 0 ? labelWidth : 1, height > 0 ? height : 1, labelFormat);
    labels.width = labelWidth;
    labels.height = height;

    if ((flags & 16) != 0) {
        runDirect(mask.image, labels, connectivity, mode, minArea, deleteAtBorder);
    } else {
        std::vector<uint16_t> labelList;
        xepo::getConnectivityArea(mask.image, labels, labelList);
        const int64_t work = static_cast<int64_t>(labelList.size()) * (width > 0 ? width : 0) *
                             (height > 0 ? height : 0);
        if (work <= kMaxBoxWork) {
            std::vector<xepo::Box> outer;
            std::vector<xepo::Box> inner;
            xepo::getLightRegionBoxes(labels, labelList, outer, inner);
            for (xepo::Box& box : inner) {
                box = xepo::rotateBoxBack(box, rotation, width, height);
                xepo::scaleBox(box, 48.0f / 56.0f, 64.0f / 56.0f);
            }
        }
    }
    qiraImageRelease(&labels);
    return 0;
}
