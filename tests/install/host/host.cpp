// A camera host that uses only the installed header and library: it creates the
// engine from the model directory given as its one argument (install_check.cmake
// always gives it; without it argv[1] is null, which AeSetParam refuses) and
// releases it.
#include <cstdio>
#include <initializer_list>

#include "xepo.h"

int main(int, char** argv) {
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
