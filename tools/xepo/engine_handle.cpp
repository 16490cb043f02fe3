#include "engine_handle.h"

#include <filesystem>

#include "xepo.h"

EngineHandle::~EngineHandle() {
    if (engine != nullptr) {
        releaseAeEngine(&engine);
    }
    if (handle != nullptr) {
        releaseParamHandle(&handle);
    }
}

bool EngineHandle::open(std::string dir, std::string& error) {
    if (!std::filesystem::is_directory(dir)) {
        error = "model directory " + dir + " does not exist";
        return false;
    }
    // The engine appends each file name to the value as it stands.
    if (dir.back() != '/') {
        dir += '/';
    }
    handle = CreateParamHandle();
    if (handle == nullptr) {
        error = "cannot create the parameter handle";
        return false;
    }
    for (int key : {kAeKeyEntrance, kAeKeyAlbedo, kAeKeyLightSeg, kAeKeySmooth}) {
        AeSetParam(handle, key, dir.c_str());
    }
    engine = initAeEngine(handle);
    if (engine == nullptr) {
        error = "cannot load the models in " + dir + " (the engine could not be created)";
        return false;
    }
    return true;
}
