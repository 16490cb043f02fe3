#include "model_description.h"

#include "format_check.h"
#include "qdnn_onnx.pb.h"

#include <climits>
#include <set>

namespace qdnn_host {
namespace {

// Elements a single tensor may declare; far above any model this runtime
// serves, low enough that byte counts cannot overflow.
constexpr uint64_t kMaxTensorElements = uint64_t{1} << 31;

// Bytes per element of the stored data types, 0 for types the runtime refuses.
size_t elementBytes(int32_t dataType) {
    switch (dataType) {
        case qdnn_onnx::TensorProto::FLOAT:
        case qdnn_onnx::TensorProto::INT32:
        case qdnn_onnx::TensorProto::UINT32:
            return 4;
        case qdnn_onnx::TensorProto::UINT8:
        case qdnn_onnx::TensorProto::INT8:
        case qdnn_onnx::TensorProto::BOOL:
            return 1;
        case qdnn_onnx::TensorProto::UINT16:
        case qdnn_onnx::TensorProto::INT16:
        case qdnn_onnx::TensorProto::FLOAT16:
        case qdnn_onnx::TensorProto::BFLOAT16:
            return 2;
        case qdnn_onnx::TensorProto::INT64:
        case qdnn_onnx::TensorProto::UINT64:
        case qdnn_onnx::TensorProto::DOUBLE:
            return 8;
        default:
            return 0;
    }
}

// Number of values the typed (non-raw) field of the tensor holds.
int typedValueCount(const qdnn_onnx::TensorProto& tensor) {
    switch (tensor.data_type()) {
        case qdnn_onnx::TensorProto::FLOAT:
            return tensor.float_data_size();
        case qdnn_onnx::TensorProto::INT64:
            return tensor.int64_data_size();
        case qdnn_onnx::TensorProto::DOUBLE:
            return tensor.double_data_size();
        case qdnn_onnx::TensorProto::UINT32:
        case qdnn_onnx::TensorProto::UINT64:
            return tensor.uint64_data_size();
        default:
            return tensor.int32_data_size();
    }
}

// The stored bytes must match the dims exactly: OpenCV copies dims-many
// elements out of whatever the file holds.
bool checkTensorData(const qdnn_onnx::TensorProto& tensor, std::string& reason) {
    const std::string label = "tensor '" + tensor.name() + "'";
    if (tensor.data_location() == qdnn_onnx::TensorProto::EXTERNAL) {
        reason = label + " keeps its data outside the model file";
        return false;
    }
    size_t bytesPerElement = elementBytes(tensor.data_type());
    if (bytesPerElement == 0) {
        reason = label + " has an unsupported data type";
        return false;
    }
    uint64_t count = 1;
    for (int64_t dim : tensor.dims()) {
        if (dim < 0) {
            reason = label + " has a negative dimension";
            return false;
        }
        count *= static_cast<uint64_t>(dim);
        if (count > kMaxTensorElements) {
            reason = label + " is too large";
            return false;
        }
    }
    if (tensor.has_raw_data()) {
        if (tensor.raw_data().size() != count * bytesPerElement) {
            reason = label + " holds " + std::to_string(tensor.raw_data().size()) +
                     " bytes, its dims need " + std::to_string(count * bytesPerElement);
            return false;
        }
        return true;
    }
    if (static_cast<uint64_t>(typedValueCount(tensor)) != count) {
        reason = label + " holds a different number of values than its dims need";
        return false;
    }
    return true;
}

bool checkNodeTensors(const qdnn_onnx::NodeProto& node, std::string& reason) {
    for (const qdnn_onnx::AttributeProto& attribute : node.attribute()) {
        if (attribute.has_g() || attribute.graphs_size() > 0) {
            reason = "node '" + node.name() + "' holds a subgraph, which is not supported";
            return false;
        }
        if (attribute.has_sparse_tensor() || attribute.sparse_tensors_size() > 0) {
            reason = "node '" + node.name() + "' holds a sparse tensor, which is not supported";
            return false;
        }
        if (attribute.has_t() && !checkTensorData(attribute.t(), reason))
            return false;
        for (const qdnn_onnx::TensorProto& tensor : attribute.tensors()) {
            if (!checkTensorData(tensor, reason))
                return false;
        }
    }
    return true;
}

bool checkOpsets(const qdnn_onnx::ModelProto& model, std::string& reason) {
    for (const qdnn_onnx::OperatorSetIdProto& opset : model.opset_import()) {
        bool defaultDomain = opset.domain().empty() || opset.domain() == "ai.onnx";
        if (defaultDomain && opset.version() > kMaxOpsetVersion) {
            reason = "operator set " + std::to_string(opset.version()) + " is newer than " +
                     std::to_string(kMaxOpsetVersion);
            return false;
        }
    }
    return true;
}

// Reads the element type and static dims of a graph input or output.
// `dims` stays empty when the shape is not fully given.
bool readValueInfo(const qdnn_onnx::ValueInfoProto& info, bool isInput, DeclaredTensor& declared,
                   std::string& reason) {
    declared.name = info.name();
    const std::string label = (isInput ? "input '" : "output '") + info.name() + "'";
    if (!info.type().has_tensor_type()) {
        if (isInput) {
            reason = label + " is not a tensor";
            return false;
        }
        return true;
    }
    const qdnn_onnx::TypeProto::Tensor& type = info.type().tensor_type();
    bool typeGiven = type.elem_type() != qdnn_onnx::TensorProto::UNDEFINED;
    if ((isInput || typeGiven) && type.elem_type() != qdnn_onnx::TensorProto::FLOAT) {
        reason = label + " is not float32";
        return false;
    }
    if (!type.has_shape()) {
        if (isInput) {
            reason = label + " has no declared shape";
            return false;
        }
        return true;
    }
    const int rank = type.shape().dim_size();
    if (rank > kMaxTensorRank || (isInput && rank == 0)) {
        reason = label + " has rank " + std::to_string(rank) + ", supported are 1 to 4";
        return false;
    }
    std::vector<int64_t> dims;
    for (int i = 0; i < rank; ++i) {
        const qdnn_onnx::TensorShapeProto::Dimension& dim = type.shape().dim(i);
        if (dim.has_dim_value() && dim.dim_value() > 0 && dim.dim_value() <= INT32_MAX) {
            dims.push_back(dim.dim_value());
        } else if (isInput && i == 0 && !dim.has_dim_value()) {
            dims.push_back(1);  // a symbolic batch runs as one
        } else if (isInput) {
            reason = label + " has a dimension that is not a fixed positive size";
            return false;
        } else {
            return true;  // the output's shape comes from OpenCV instead
        }
    }
    declared.dims = dims;
    return true;
}

// Every node input must be a graph input, an initializer or the output of an
// earlier node. The format's checker enforces this too, but not every build
// has the checker.
bool checkNodeInputsDefined(const qdnn_onnx::GraphProto& graph, std::string& reason) {
    std::set<std::string> defined;
    for (const qdnn_onnx::ValueInfoProto& input : graph.input())
        defined.insert(input.name());
    for (const qdnn_onnx::TensorProto& initializer : graph.initializer())
        defined.insert(initializer.name());
    for (const qdnn_onnx::NodeProto& node : graph.node()) {
        for (const std::string& input : node.input()) {
            // An empty name marks an optional input that is left out.
            if (!input.empty() && defined.count(input) == 0) {
                reason = "node '" + node.name() + "' reads '" + input +
                         "', which no input, initializer or earlier node defines";
                return false;
            }
        }
        for (const std::string& output : node.output())
            defined.insert(output);
    }
    return true;
}

}  // namespace

bool describeModel(const void* data, size_t bytes, ModelDescription& description,
                   std::string& reason) {
    if (data == nullptr || bytes == 0) {
        reason = "empty model";
        return false;
    }
    if (bytes > static_cast<size_t>(INT_MAX)) {
        reason = "model too large";
        return false;
    }
    qdnn_onnx::ModelProto model;
    if (!model.ParseFromArray(data, static_cast<int>(bytes))) {
        reason = "not a readable model file";
        return false;
    }
    if (!checkOpsets(model, reason))
        return false;
    const qdnn_onnx::GraphProto& graph = model.graph();
    if (graph.node_size() == 0) {
        reason = "graph has no nodes";
        return false;
    }
    if (graph.sparse_initializer_size() > 0) {
        reason = "sparse initializers are not supported";
        return false;
    }
    std::set<std::string> initializerNames;
    for (const qdnn_onnx::TensorProto& initializer : graph.initializer()) {
        if (!checkTensorData(initializer, reason))
            return false;
        initializerNames.insert(initializer.name());
    }
    for (const qdnn_onnx::NodeProto& node : graph.node()) {
        if (!checkNodeTensors(node, reason))
            return false;
    }
    if (!checkNodeInputsDefined(graph, reason))
        return false;
    // The runtime's own checks come first, so that builds with and without the
    // format library refuse the files both can judge for the same reason.
    if (!checkWithFormatLibrary(data, bytes, reason))
        return false;
    ModelDescription result;
    for (const qdnn_onnx::ValueInfoProto& input : graph.input()) {
        if (initializerNames.count(input.name()) != 0)
            continue;
        DeclaredTensor declared;
        if (!readValueInfo(input, true, declared, reason))
            return false;
        result.inputs.push_back(declared);
    }
    for (const qdnn_onnx::ValueInfoProto& output : graph.output()) {
        DeclaredTensor declared;
        if (!readValueInfo(output, false, declared, reason))
            return false;
        result.outputs.push_back(declared);
    }
    if (result.inputs.empty() || result.outputs.empty()) {
        reason = "model needs at least one input and one output";
        return false;
    }
    description = result;
    return true;
}

}  // namespace qdnn_host
