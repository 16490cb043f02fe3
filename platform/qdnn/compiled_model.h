// A model file that passed every check: its bytes, its declared inputs and
// outputs, and the shape of every input and output as batch, height, width and
// channel, known right after loading. Shared, read-only, by a net and its
// sessions; each session builds its own OpenCV network from the bytes.
#ifndef QDNN_HOST_COMPILED_MODEL_H
#define QDNN_HOST_COMPILED_MODEL_H

#include <opencv2/dnn.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "model_description.h"
#include "tensor.h"

namespace qdnn_host {

struct ModelPort {
    std::string name;
    TensorShape shape;
    std::vector<int> blobDims;  // the dims OpenCV works with (inputs: as declared)
};

struct CompiledModel {
    std::string bytes;
    std::vector<ModelPort> inputs;
    std::vector<ModelPort> outputs;
};

// Checks the model (see model_description.h), has OpenCV read it, works out
// every output shape and runs it once on zeros to prove it runs. Null with a
// reason on any failure.
std::shared_ptr<const CompiledModel> compileModel(const void* data, size_t bytes,
                                                  std::string& reason);

// A fresh OpenCV network of the model with its input shapes set.
cv::dnn::Net buildNetwork(const CompiledModel& model);

// Silences OpenCV's own log lines (it prints "[ERROR]" lines on stderr for
// models it rejects); the runtime reports failures through its statuses.
void quietOpenCvLogging();

}  // namespace qdnn_host

#endif  // QDNN_HOST_COMPILED_MODEL_H
