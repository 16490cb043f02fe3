// An engine state record for pipeline-step tests: every buffer that engine
// creation allocates, zero-filled, and no model runners.
#ifndef XEPO_TEST_PIPELINE_TEST_ENGINE_H
#define XEPO_TEST_PIPELINE_TEST_ENGINE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "xepo.h"
#include "xepo/ae_engine.h"

namespace pipeline_test {

inline std::unique_ptr<xepo::AeEngine> makeTestEngine() {
    auto e = std::make_unique<xepo::AeEngine>();
    e->albedoResult = std::make_unique<float[]>(1);
    e->enResult = std::make_unique<float[]>(xepo::kEntranceOutputs);
    e->lastEnResult = std::make_unique<float[]>(xepo::kEntranceOutputs);
    e->smoothResult = std::make_unique<float[]>(1);
    e->lightSegOutput = std::make_unique<float[]>(xepo::kLightSegFloats);
    e->modelInput = std::make_unique<float[]>(xepo::kModelInputFloats);
    e->smoothInput = std::make_unique<float[]>(xepo::kSmoothInputs);
    e->rgbImage = std::make_unique<uint8_t[]>(xepo::kRgbImageBytes);
    e->curHist = std::make_unique<int32_t[]>(xepo::kHistBins);
    e->grayThumb = std::make_unique<uint8_t[]>(xepo::kThumbBytes);
    e->grayImage = std::make_unique<uint8_t[]>(xepo::kGrayImageBytes);
    e->aeScoreAverage = std::make_unique<xepo::ScoreAverage>();
    e->lastSegMap = std::make_unique<uint8_t[]>(xepo::kSegMapBytes);
    e->segMap = std::make_unique<uint8_t[]>(xepo::kSegMapBytes);
    return e;
}

// A gyro block of `count` samples starting at `start` ns, `stepNs` apart, all
// with the same rates.
inline IMUDataBlock makeGyroBlock(int32_t count, uint64_t start, uint64_t stepNs, float x, float y,
                                  float z) {
    IMUDataBlock b{};
    b.count = count;
    for (int32_t i = 0; i < count && i < kImuMaxSamples; ++i) {
        b.timestamp[i] = start + stepNs * static_cast<uint64_t>(i);
        b.gyroX[i] = x;
        b.gyroY[i] = y;
        b.gyroZ[i] = z;
    }
    return b;
}

// A 64-bin histogram with the given counts in the first bins, the rest zero.
inline std::unique_ptr<int32_t[]> makeHist(const std::vector<int32_t>& firstBins) {
    auto h = std::make_unique<int32_t[]>(xepo::kHistBins);
    for (size_t i = 0; i < firstBins.size() && i < static_cast<size_t>(xepo::kHistBins); ++i) {
        h[i] = firstBins[i];
    }
    return h;
}

}  // namespace pipeline_test

#endif  // XEPO_TEST_PIPELINE_TEST_ENGINE_H
