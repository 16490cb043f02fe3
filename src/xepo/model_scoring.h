// Model scoring: one model run on the engine's buffers, and the light-region
// map made from the light-segmentation model.
#ifndef XEPO_MODEL_SCORING_H
#define XEPO_MODEL_SCORING_H

#include <cstdint>

#include "qdnn_runner/qdnn_runner.h"

namespace xepo {

// runner->forward({input}, {output}); a null runner is logged and gives -1.
int32_t runModel(QDNNRunner* runner, void* input, void* output);

// Runs the light-segmentation model on `input` into `rawOutput` (56 x 56 x 2)
// and turns it into the 64 x 48 light-region map `map` (3072 bytes), turned
// back through `rotation`. 0, or the first failing step's code.
int32_t runLightSegModel(QDNNRunner* runner, int64_t tavkitHandle, void* input, uint32_t rotation,
                         float* rawOutput, uint8_t* map);

}  // namespace xepo

#endif  // XEPO_MODEL_SCORING_H
