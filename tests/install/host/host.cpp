// A camera host that uses only the installed header and library: it creates the
// engine from the model directory given on the command line and releases it.
#include <cstdio>
#include <initializer_list>

#include "xepo.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: host MODEL_DIR/\n");
        return 2;
    }
    void* params = CreateParamHandle();
    for (int key : {kAeKeyEntrance, kAeKeyAlbedo, kAeKeyLightSeg, kAeKeySmooth}) {
        AeSetParam(params, key, argv[1]);
    }
    void* engine = initAeEngine(params);
    releaseParamHandle(&params);
    if (engine == nullptr) {
        std::fprintf(stderr, "host: the engine could not be created\n");
        return 1;
    }
    releaseAeEngine(&engine);
    std::printf("host: engine created and released\n");
    return 0;
}
