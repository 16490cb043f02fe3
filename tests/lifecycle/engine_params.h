// Parameter handles for engine creation tests, filled from one model directory.
#ifndef XEPO_TEST_LIFECYCLE_ENGINE_PARAMS_H
#define XEPO_TEST_LIFECYCLE_ENGINE_PARAMS_H

#include <string>

#include "xepo.h"
#include "xepo/ae_engine.h"
#include "xepo/param_handle.h"

namespace lifecycle_test {

// The four plain-file keys; a handle may leave any of them out.
enum class Model { Entrance, Albedo, LightSeg, Smooth };
constexpr Model kAllModels[] = {Model::Entrance, Model::Albedo, Model::LightSeg, Model::Smooth};

inline int keyOf(Model model) {
    switch (model) {
        case Model::Entrance:
            return kAeKeyEntrance;
        case Model::Albedo:
            return kAeKeyAlbedo;
        case Model::LightSeg:
            return kAeKeyLightSeg;
        case Model::Smooth:
            return kAeKeySmooth;
    }
    return 0;
}

// A parameter handle naming the models in `dir` (ending in "/"), all but `left`.
class Params {
  public:
    explicit Params(const std::string& dir, const Model* left = nullptr) {
        for (Model model : kAllModels) {
            if (left == nullptr || *left != model) {
                AeSetParam(handle_, keyOf(model), dir.c_str());
            }
        }
    }
    ~Params() { releaseParamHandle(&handle_); }
    Params(const Params&) = delete;
    Params& operator=(const Params&) = delete;
    void* get() const { return handle_; }

  private:
    void* handle_ = CreateParamHandle();
};

// Releases whatever engine a test left behind, so tests stay independent.
inline void releaseLeftoverEngine() {
    void* engine = xepo::engineInstance;
    if (engine != nullptr) {
        releaseAeEngine(&engine);
    }
}

// The five statuses of the creation failure line, or false when `text` is
// not that line.
struct InitStatuses {
    int ae, en, ls, tavkit, smooth;
};
bool parseFailureLine(const std::string& text, InitStatuses& out);

}  // namespace lifecycle_test

#endif  // XEPO_TEST_LIFECYCLE_ENGINE_PARAMS_H
