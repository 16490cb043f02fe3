// Model loading through the host runtime from arbitrary bytes: from memory and
// from a file, then a session and its tensors when the bytes were accepted. The
// default model files are the seeds.
//
// Besides libFuzzer's byte mutations, one mutation in four parses the input as
// a model and changes the declared shape of an input or output (a dimension's
// value, or a dimension added or dropped): such files are well formed, so
// only the runtime's own checks of declared against computed shapes stand
// between them and a write past a caller's buffer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fuzz_onnx.pb.h"
#include "qdnn_api.h"
#include "scratch_file.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

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

// One mutation in this many changes a declared shape instead of the bytes.
constexpr unsigned kShapeMutationOdds = 4;

// Values a declared dimension is set to: the edges of what the runtime accepts,
// the engine's model sizes, and the dimension's neighbours.
int64_t mutatedDim(int64_t old, std::minstd_rand& rng) {
    // The neighbours wrap around at the ends of the range, as a damaged file's
    // value may (unsigned arithmetic, so that the harness itself has no overflow).
    const uint64_t bits = static_cast<uint64_t>(old);
    const int64_t choices[] = {0,
                               -1,
                               1,
                               2,
                               3,
                               4,
                               56,
                               224,
                               std::numeric_limits<int32_t>::max(),
                               int64_t{1} << 32,
                               static_cast<int64_t>(bits + 1),
                               static_cast<int64_t>(bits - 1),
                               static_cast<int64_t>(bits * 2)};
    return choices[rng() % (sizeof choices / sizeof choices[0])];
}

// Changes one declared input or output shape of a parsed model; false when it
// declares none.
bool mutateDeclaredShape(fuzz_onnx::ModelProto& model, std::minstd_rand& rng) {
    std::vector<fuzz_onnx::TensorShapeProto*> shapes;
    auto collect = [&shapes](auto* values) {
        for (fuzz_onnx::ValueInfoProto& value : *values) {
            if (value.has_type() && value.type().has_tensor_type()) {
                shapes.push_back(value.mutable_type()->mutable_tensor_type()->mutable_shape());
            }
        }
    };
    collect(model.mutable_graph()->mutable_input());
    collect(model.mutable_graph()->mutable_output());
    if (shapes.empty()) {
        return false;
    }
    fuzz_onnx::TensorShapeProto& shape = *shapes[rng() % shapes.size()];
    const unsigned action = rng() % 4;
    if (action == 0) {
        shape.add_dim()->set_dim_value(mutatedDim(1, rng));
    } else if (action == 1 && shape.dim_size() > 0) {
        shape.mutable_dim()->RemoveLast();
    } else if (shape.dim_size() > 0) {
        fuzz_onnx::TensorShapeProto_Dimension& dim =
            *shape.mutable_dim(static_cast<int>(rng() % static_cast<unsigned>(shape.dim_size())));
        dim.set_dim_value(mutatedDim(dim.dim_value(), rng));
    }
    return true;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
    std::minstd_rand rng(seed);
    if (rng() % kShapeMutationOdds == 0) {
        fuzz_onnx::ModelProto model;
        if (model.ParseFromArray(data, static_cast<int>(size)) && mutateDeclaredShape(model, rng)) {
            const std::string bytes = model.SerializeAsString();
            if (!bytes.empty() && bytes.size() <= maxSize) {
                std::memcpy(data, bytes.data(), bytes.size());
                return bytes.size();
            }
        }
    }
    return LLVMFuzzerMutate(data, size, maxSize);
}

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
