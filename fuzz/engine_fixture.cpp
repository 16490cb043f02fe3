#include "engine_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "quiet_log.h"
#include "xepo.h"

void* fuzzEngine() {
    static void* engine = [] {
        quietEngineLog();
        void* params = CreateParamHandle();
        for (int key : {kAeKeyEntrance, kAeKeyAlbedo, kAeKeyLightSeg, kAeKeySmooth}) {
            AeSetParam(params, key, XEPO_FUZZ_MODEL_DIR);
        }
        void* created = initAeEngine(params);
        releaseParamHandle(&params);
        if (created == nullptr) {
            std::fprintf(stderr, "fuzz: engine could not be created from %s\n",
                         XEPO_FUZZ_MODEL_DIR);
            std::abort();
        }
        return created;
    }();
    return engine;
}
