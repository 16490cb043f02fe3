// What the runtime knows of a model file before handing it to OpenCV: the
// declared inputs and outputs, read with classes generated from the format's
// schema and checked by the runtime itself, plus the format library's checker
// where the build has it (format_check.h).
//
// OpenCV trusts a model file: a weight tensor shorter than its dims makes it
// read past the end of a heap buffer, and it keeps no declared input shapes.
// describeModel therefore rejects anything it cannot vouch for.
#ifndef QDNN_HOST_MODEL_DESCRIPTION_H
#define QDNN_HOST_MODEL_DESCRIPTION_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qdnn_host {

// Newest operator set of the default domain that the runtime accepts.
constexpr int64_t kMaxOpsetVersion = 13;
// Ranks of inputs and outputs the runtime can express as batch, height,
// width and channel.
constexpr int kMaxTensorRank = 4;

struct DeclaredTensor {
    std::string name;
    // The declared dims; empty when the file does not give a complete static
    // shape (allowed for outputs only, whose shape OpenCV then works out).
    std::vector<int64_t> dims;
};

struct ModelDescription {
    std::vector<DeclaredTensor> inputs;   // graph inputs that are not initializers
    std::vector<DeclaredTensor> outputs;  // graph outputs, in declared order
};

// Parses and checks a serialised model. On failure returns false and puts a
// short reason into `reason`.
bool describeModel(const void* data, size_t bytes, ModelDescription& description,
                   std::string& reason);

}  // namespace qdnn_host

#endif  // QDNN_HOST_MODEL_DESCRIPTION_H
