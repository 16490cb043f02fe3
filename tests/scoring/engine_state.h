// An engine state record with the buffers that scoring and result output use,
// made by hand so that each test sets exactly the state it needs.
#ifndef XEPO_TEST_SCORING_ENGINE_STATE_H
#define XEPO_TEST_SCORING_ENGINE_STATE_H

#include <algorithm>
#include <memory>

#include "xepo/ae_engine.h"

inline std::unique_ptr<xepo::AeEngine> makeEngineState() {
    auto engine = std::make_unique<xepo::AeEngine>();
    engine->enResult = std::make_unique<float[]>(xepo::kEntranceOutputs);
    engine->lastEnResult = std::make_unique<float[]>(xepo::kEntranceOutputs);
    engine->smoothInput = std::make_unique<float[]>(xepo::kSmoothInputs);
    engine->smoothResult = std::make_unique<float[]>(1);
    engine->segMap = std::make_unique<uint8_t[]>(xepo::kSegMapBytes);
    engine->lastSegMap = std::make_unique<uint8_t[]>(xepo::kSegMapBytes);
    std::fill_n(engine->segMap.get(), xepo::kSegMapBytes, 0);
    std::fill_n(engine->lastSegMap.get(), xepo::kSegMapBytes, 0);
    return engine;
}

#endif  // XEPO_TEST_SCORING_ENGINE_STATE_H
