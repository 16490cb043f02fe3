// Model loading through the host runtime from arbitrary bytes: from memory and
// from a file, then a session and its tensors when the bytes were accepted. The
// default model files are the seeds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qdnn_api.h"
#include "scratch_file.h"

namespace {

// Sessions whose inputs hold more elements than this are created but not run:
// the inference cost, not the loading, would then dominate the fuzz time.
constexpr uint32_t kMaxRunElements = 1u << 20;

std::string& modelPath() {
    static std::string path;
    return path;
}

// The runner's settings: accelerator type, outputs bound by the caller.
QDNNNet makeNet() {
    QDNNNet net = qdnnNetCreate();
    qdnnNetSetInferenceType(net, kQdnnInferenceNeuron);
    qdnnNetSetAllocateOutput(net, 0);
    return net;
}

void exerciseSession(QDNNNet net) {
    QDNNSession session = qdnnNetCreateSession(net, "fuzz");
    if (session == nullptr) {
        return;
    }
    uint64_t inputs = 0;
    uint64_t outputs = 0;
    qdnnSessionGetNumInputs(session, &inputs);
    qdnnSessionGetNumOutputs(session, &outputs);
    uint64_t inputElements = 0;
    for (uint64_t i = 0; i < inputs; ++i) {
        inputElements += qdnnTensorGetSizeInElements(qdnnSessionGetInputTensorByIndex(session, i));
    }
    for (uint64_t i = 0; i < outputs; ++i) {
        qdnnTensorGetSizeInBytes(qdnnSessionGetOutputTensorByIndex(session, i));
    }
    if (inputElements <= kMaxRunElements) {
        qdnnSessionRun(session);
    }
    qdnnNetReleaseSession(net, session);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    modelPath() = scratchFilePath("xepo_model_fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QDNNNet fromMemory = makeNet();
    if (qdnnNetLoadModelFromMemory(fromMemory, data, size, nullptr) == 0) {
        exerciseSession(fromMemory);
    }
    qdnnNetDestroy(fromMemory);

    if (writeScratchFile(modelPath(), data, size)) {
        QDNNNet fromPath = makeNet();
        if (qdnnNetLoadModelFromPath(fromPath, modelPath().c_str()) == 0) {
            qdnnNetUnloadModel(fromPath);
        }
        qdnnNetDestroy(fromPath);
        unlink(modelPath().c_str());
    }
    return 0;
}
