// Shared pieces of the pipeline-step tests.
#ifndef XEPO_TEST_PIPELINE_TEST_ENGINE_H
#define XEPO_TEST_PIPELINE_TEST_ENGINE_H

#include <cstdint>
#include <memory>

#include "xepo.h"
#include "xepo/ae_engine.h"

namespace pipeline_test {

// An engine state record with the zero-filled buffers that the pipeline steps
// under test use, and no model runners.
inline std::unique_ptr<xepo::AeEngine> makeTestEngine() {
    auto e = std::make_unique<xepo::AeEngine>();
    e->lastEnResult = std::make_unique<float[]>(xepo::kEntranceOutputs);
    e->lightSegOutput = std::make_unique<float[]>(xepo::kLightSegFloats);
    e->modelInput = std::make_unique<float[]>(xepo::kModelInputFloats);
    e->rgbImage = std::make_unique<uint8_t[]>(xepo::kRgbImageBytes);
    e->curHist = std::make_unique<int32_t[]>(xepo::kHistBins);
    e->grayThumb = std::make_unique<uint8_t[]>(xepo::kThumbBytes);
    e->lastSegMap = std::make_unique<uint8_t[]>(xepo::kSegMapBytes);
    e->segMap = std::make_unique<uint8_t[]>(xepo::kSegMapBytes);
    return e;
}

}  // namespace pipeline_test

#endif  // XEPO_TEST_PIPELINE_TEST_ENGINE_H
