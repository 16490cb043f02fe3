// Frames from several threads while another thread releases and re-creates
// the engine. Run under ThreadSanitizer in CI; here it checks that every call
// either answers within the score range or refuses a stale handle.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "nv21_frames.h"
#include "xepo.h"

namespace {

TEST(FrameConcurrency, FramesReleaseAndRecreationInterleave) {
    void* params = CreateParamHandle();
    for (int key : {kAeKeyEntrance, kAeKeyAlbedo, kAeKeyLightSeg, kAeKeySmooth}) {
        AeSetParam(params, key, TEST_MODEL_ROOT "/confident/");
    }
    ASSERT_NE(initAeEngine(params), nullptr);
    const Nv21Frame frame = nv21Flat(160, 120, 120, 110, 90);

    std::atomic<int> outOfRange{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([&, w] {
            Nv21Frame own = frame;  // the engine takes non-const planes
            uint64_t clockNs = 100'000'000'000 + static_cast<uint64_t>(w);
            std::vector<uint8_t> map(3072);
            XEPOSegMap mapRecord{0, 0, 0, map.data()};
            for (int i = 0; i < 40; ++i) {
                // The host asks for the engine each time; the instance may have
                // been replaced meanwhile.
                void* engine = initAeEngine(params);
                IMUDataBlock imu{};
                imu.count = 1;
                imu.timestamp[0] = clockNs += 33'000'000;
                _XEPO_RES_ result{18.0f, 0.9f, &mapRecord};
                runAeEngine(engine, own.y.data(), own.vu.data(), 160, 120, 0, 1.0f, 0, false,
                            &result, 2, 280.0f + static_cast<float>(i % 3), &imu);
                outOfRange += !(result.result >= 11.0f && result.result <= 44.0f);
            }
        });
    }
    std::thread recreator([&] {
        for (int i = 0; i < 5; ++i) {
            void* engine = initAeEngine(params);
            releaseAeEngine(&engine);
            EXPECT_EQ(engine, nullptr);
            std::this_thread::yield();
        }
    });
    for (std::thread& t : workers) {
        t.join();
    }
    recreator.join();

    EXPECT_EQ(outOfRange.load(), 0);
    void* last = initAeEngine(params);
    releaseAeEngine(&last);
    releaseParamHandle(&params);
}

}  // namespace
