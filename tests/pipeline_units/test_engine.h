// Shared pieces of the pipeline-step tests.
#ifndef XEPO_TEST_PIPELINE_TEST_ENGINE_H
#define XEPO_TEST_PIPELINE_TEST_ENGINE_H

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

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

// A gyro block of `count` samples `stepNs` apart from `start` ns, all at the same rates.
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

// A 64-bin histogram whose first bins hold `firstBins`, the rest zero.
inline std::unique_ptr<int32_t[]> makeHist(const std::vector<int32_t>& firstBins) {
    auto h = std::make_unique<int32_t[]>(xepo::kHistBins);
    std::copy(firstBins.begin(), firstBins.end(), h.get());
    return h;
}

// Every byte of a 64 x 48 map equals `value`.
inline bool mapIs(const uint8_t* map, uint8_t value) {
    return std::all_of(map, map + xepo::kSegMapBytes, [value](uint8_t v) { return v == value; });
}

}  // namespace pipeline_test

#endif  // XEPO_TEST_PIPELINE_TEST_ENGINE_H
