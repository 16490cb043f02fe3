// The image-file entry over arbitrary file bytes. The first byte picks the
// control value, the second the result's map record, the third the lux index;
// the rest is written to a temporary file and handed to runAeEngineImage. An
// empty file part names a path that does not exist.
//
// Run with -rss_limit_mb and -malloc_limit_mb (scripts/fuzz.sh does): a small
// file must not make the decoder allocate gigabytes.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "engine_fixture.h"
#include "fuzz_input.h"
#include "scratch_file.h"
#include "xepo.h"

namespace {

std::string& imagePath() {
    static std::string path;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzEngine();
    imagePath() = scratchFilePath("xepo_image_fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    constexpr int kControls[] = {2, 0, 1, 3, -1, 7};
    const int control = kControls[in.u8() % 6];
    const uint8_t mapFlags = in.u8();
    constexpr float kLuxes[] = {280.0f,
                                0.0f,
                                450.0f,
                                std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::infinity(),
                                -50.0f};
    const float lux = kLuxes[in.u8() % 6];

    uint8_t mapBytes[64 * 48];
    XEPOSegMap map{0, 0, 0, (mapFlags & 2) != 0 ? nullptr : mapBytes};
    _XEPO_RES_ result{0.0f, 0.0f, (mapFlags & 1) != 0 ? nullptr : &map};

    std::string path = imagePath();
    if (in.restSize() == 0) {
        path += ".missing";
    } else if (!writeScratchFile(path, in.rest(), in.restSize())) {
        return 0;
    }
    runAeEngineImage(fuzzEngine(), path.c_str(), &result, lux, control);
    if ((mapFlags & 4) != 0) {
        runAeEngineImage(fuzzEngine(), nullptr, &result, lux, control);
    }
    unlink(imagePath().c_str());
    return 0;
}
