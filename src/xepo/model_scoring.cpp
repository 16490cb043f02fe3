// runModel and runLightSegModel: one model run on the engine's buffers, and the
// light-region map made from the light-segmentation model's two-class scores.
#include "xepo/model_scoring.h"

#include <vector>

#include "cpp/img_process/img_process.h"
#include "cpp/img_process/light_region_boxes.h"
#include "imgproc/kal_labeling/qira_image.h"
#include "tavkit_api.h"
#include "xepo/ae_engine.h"
#include "xepo_log.h"

namespace xepo {
namespace {

// runModel's answer for a missing runner: nothing was run.
constexpr int32_t kNoRunner = -1;

constexpr int32_t kMaskCells = kLightSegSide * kLightSegSide;  // 3136
constexpr uint8_t kLightCell = 255;
constexpr uint8_t kDarkCell = 0;
// The bilinear resize blends light and dark cells at region edges; a map cell
// counts as light when it is at least half light.
constexpr uint8_t kMapLightThreshold = 128;
// Scale factors from the 56 x 56 model grid onto the 64 x 48 map, in single
// precision as the box helpers expect.
constexpr float kBoxScaleY = static_cast<float>(kSegMapHeight) / kLightSegSide;
constexpr float kBoxScaleX = static_cast<float>(kSegMapWidth) / kLightSegSide;
// The mask is turned back by a full turn minus the frame rotation; 360 itself
// means "no turn", which the rotate operation treats as a copy.
constexpr uint32_t kFullTurn = 360;

// The two labelling images of one call, released on every path.
struct LabelImages {
    qiraImage mask = qiraImageCreate(kLightSegSide, kLightSegSide, kQiraFormatGray8);
    qiraImage labels = qiraImageCreate(kLightSegSide, kLightSegSide, kQiraFormatGray16);
    LabelImages() = default;
    LabelImages(const LabelImages&) = delete;
    LabelImages& operator=(const LabelImages&) = delete;
    ~LabelImages() {
        if (mask.data[0] != nullptr) {
            qiraImageRelease(&mask);
        }
        if (labels.data[0] != nullptr) {
            qiraImageRelease(&labels);
        }
    }
};

// Cell i is light when its light score (element 2i + 1) is strictly above its
// no-light score (element 2i); a tie is dark. Writes the buffer and, when it
// could be allocated, the mask image.
void decideCells(const float* rawOutput, uint8_t* mask, qiraImage& maskImage) {
    for (int32_t row = 0; row < kLightSegSide; ++row) {
        uint8_t* imageRow = nullptr;
        if (maskImage.data[0] != nullptr) {
            imageRow = static_cast<uint8_t*>(maskImage.data[0]) + row * maskImage.stride[0];
        }
        for (int32_t col = 0; col < kLightSegSide; ++col) {
            const int32_t cell = row * kLightSegSide + col;
            const bool light = rawOutput[2 * cell + 1] > rawOutput[2 * cell];
            const uint8_t value = light ? kLightCell : kDarkCell;
            mask[cell] = value;
            if (imageRow != nullptr) {
                imageRow[col] = value;
            }
        }
    }
}

// Labels the mask and logs each region's inner and outer box on the map grid.
// A labelling failure only leaves the boxes out of the log.
void logLightRegionBoxes(LabelImages& images, uint32_t rotation) {
    std::vector<uint16_t> labelList;
    getConnectivityArea(images.mask, images.labels, labelList);
    std::vector<Box> outerBoxes;
    std::vector<Box> innerBoxes;
    getLightRegionBoxes(images.labels, labelList, outerBoxes, innerBoxes);
    const size_t regions =
        innerBoxes.size() < outerBoxes.size() ? innerBoxes.size() : outerBoxes.size();
    for (size_t i = 0; i < regions; ++i) {
        Box inner = rotateBoxBack(innerBoxes[i], static_cast<int32_t>(rotation), kLightSegSide,
                                  kLightSegSide);
        Box outer = rotateBoxBack(outerBoxes[i], static_cast<int32_t>(rotation), kLightSegSide,
                                  kLightSegSide);
        scaleBox(inner, kBoxScaleY, kBoxScaleX);
        scaleBox(outer, kBoxScaleY, kBoxScaleX);
        XEPO_LOGD("innerbox: %d, %d, %d, %d\n", inner.x0, inner.y0, inner.x1, inner.y1);
        XEPO_LOGD("outerbox: %d, %d, %d, %d\n", outer.x0, outer.y0, outer.x1, outer.y1);
    }
}

}  // namespace

int32_t runModel(QDNNRunner* runner, void* input, void* output) {
    if (runner == nullptr) {
        XEPO_LOGE("Invalid QDNNRunner handle.\n");
        return kNoRunner;
    }
    // The runner takes lists of buffers; these one-element lists are made once
    // per thread and reused, so a model run allocates nothing.
    thread_local std::vector<void*> inputs(1);
    thread_local std::vector<void*> outputs(1);
    inputs[0] = input;
    outputs[0] = output;
    return runner->forward(inputs, outputs);
}

int32_t runLightSegModel(QDNNRunner* runner, int64_t tavkitHandle, void* input, uint32_t rotation,
                         float* rawOutput, uint8_t* map) {
    // Without the output or map buffer there is nothing to write into; the
    // caller treats the code like any other failure (no new map).
    if (rawOutput == nullptr || map == nullptr) {
        XEPO_LOGE("ls model buffers missing");
        return kStatusMissingInput;
    }

    const int32_t runStatus = runModel(runner, input, rawOutput);
    if (runStatus != 0) {
        XEPO_LOGD("run ls model fail, error code: %d", runStatus);
        return runStatus;
    }

    std::vector<uint8_t> mask(kMaskCells);
    std::vector<uint8_t> rotatedMask(kMaskCells);
    {
        LabelImages images;
        decideCells(rawOutput, mask.data(), images.mask);
        logLightRegionBoxes(images, rotation);
    }

    const uint32_t backAngle = kFullTurn - rotation % kFullTurn;
    const int32_t rotateStatus =
        rotate(tavkitHandle, mask.data(), rotatedMask.data(), backAngle, kLightSegSide,
               kLightSegSide, 1, kTavkitFormatGray, kTavkitTypeU8);
    if (rotateStatus != 0) {
        XEPO_LOGE("ls result rotate fail, tavkit error code: %d", rotateStatus);
        return rotateStatus;
    }

    const int32_t resizeStatus = resizeBilinear(
        tavkitHandle, rotatedMask.data(), map, kLightSegSide, kLightSegSide, kSegMapWidth,
        kSegMapHeight, kTavkitFormatGray, kTavkitFormatGray, kTavkitTypeU8, kTavkitTypeU8);
    // Whatever the resize left in the map is made two-valued, even after a failure.
    for (int32_t i = 0; i < kSegMapBytes; ++i) {
        map[i] = map[i] >= kMapLightThreshold ? kLightCell : kDarkCell;
    }
    if (resizeStatus != 0) {
        XEPO_LOGE("ls result resize fail, tavkit error code: %d", resizeStatus);
        return resizeStatus;
    }
    return 0;
}

}  // namespace xepo
