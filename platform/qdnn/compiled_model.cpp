#include "compiled_model.h"

#include <opencv2/core/utils/logger.hpp>

#include <mutex>

#include "deterministic_layers.h"

namespace qdnn_host {
namespace {

uint64_t elementCount(const std::vector<int>& dims) {
    uint64_t count = 1;
    for (int dim : dims)
        count *= static_cast<uint64_t>(dim > 0 ? dim : 0);
    return count;
}

uint64_t elementCount(const TensorShape& shape) {
    return static_cast<uint64_t>(shape.batch) * static_cast<uint64_t>(shape.height) *
           static_cast<uint64_t>(shape.width) * static_cast<uint64_t>(shape.channel);
}

bool describeInputs(const ModelDescription& description, CompiledModel& model,
                    std::string& reason) {
    for (const DeclaredTensor& declared : description.inputs) {
        ModelPort port;
        port.name = declared.name;
        if (!shapeFromDims(declared.dims, port.shape)) {
            reason = "input '" + declared.name + "' has an unsupported shape";
            return false;
        }
        port.blobDims.assign(declared.dims.begin(), declared.dims.end());
        model.inputs.push_back(port);
    }
    return true;
}

// Output shapes: the declared ones where the file gives them (they carry the
// layout), OpenCV's otherwise; where both exist they must agree in size.
bool describeOutputs(const ModelDescription& description, cv::dnn::Net& network,
                     CompiledModel& model, std::string& reason) {
    std::vector<cv::dnn::MatShape> inputShapes;
    for (const ModelPort& input : model.inputs)
        inputShapes.push_back(input.blobDims);
    for (const DeclaredTensor& declared : description.outputs) {
        ModelPort port;
        port.name = declared.name;
        int layerId = network.getLayerId(declared.name);
        if (layerId < 0) {
            reason = "output '" + declared.name + "' is produced by no layer";
            return false;
        }
        std::vector<cv::dnn::MatShape> layerInputs, layerOutputs;
        network.getLayerShapes(inputShapes, layerId, layerInputs, layerOutputs);
        if (layerOutputs.empty()) {
            reason = "output '" + declared.name + "' has no shape";
            return false;
        }
        port.blobDims = layerOutputs[0];
        std::vector<int64_t> dims = declared.dims;
        if (dims.empty())
            dims.assign(port.blobDims.begin(), port.blobDims.end());
        if (!shapeFromDims(dims, port.shape)) {
            reason = "output '" + declared.name + "' has an unsupported shape";
            return false;
        }
        if (elementCount(port.shape) != elementCount(port.blobDims)) {
            reason = "output '" + declared.name +
                     "' is declared with another size than the "
                     "graph produces";
            return false;
        }
        model.outputs.push_back(port);
    }
    return true;
}

// One run on zeros: some inconsistencies only show when the graph runs.
bool runOnce(const CompiledModel& model, cv::dnn::Net& network, std::string& reason) {
    for (const ModelPort& input : model.inputs) {
        network.setInput(cv::Mat(input.blobDims, CV_32F, cv::Scalar(0)), input.name);
    }
    std::vector<cv::String> names;
    for (const ModelPort& output : model.outputs)
        names.push_back(output.name);
    std::vector<cv::Mat> results;
    network.forward(results, names);
    if (results.size() != model.outputs.size()) {
        reason = "the graph gives another number of outputs than it declares";
        return false;
    }
    for (size_t j = 0; j < results.size(); ++j) {
        if (results[j].type() != CV_32F ||
            results[j].total() != elementCount(model.outputs[j].shape)) {
            reason = "output '" + model.outputs[j].name +
                     "' comes out with another size or "
                     "type than expected";
            return false;
        }
    }
    return true;
}

}  // namespace

void quietOpenCvLogging() {
    static std::once_flag once;
    std::call_once(once,
                   [] { cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT); });
}

cv::dnn::Net buildNetwork(const CompiledModel& model) {
    registerDeterministicLayers();
    cv::dnn::Net network = cv::dnn::readNetFromONNX(model.bytes.data(), model.bytes.size());
    network.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    network.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    for (const ModelPort& input : model.inputs) {
        network.setInputShape(input.name, input.blobDims);
    }
    return network;
}

std::shared_ptr<const CompiledModel> compileModel(const void* data, size_t bytes,
                                                  std::string& reason) {
    quietOpenCvLogging();
    ModelDescription description;
    if (!describeModel(data, bytes, description, reason))
        return nullptr;
    auto model = std::make_shared<CompiledModel>();
    model->bytes.assign(static_cast<const char*>(data), bytes);
    if (!describeInputs(description, *model, reason))
        return nullptr;
    try {
        cv::dnn::Net network = buildNetwork(*model);
        if (!describeOutputs(description, network, *model, reason))
            return nullptr;
        if (!runOnce(*model, network, reason))
            return nullptr;
    } catch (const std::exception& error) {
        reason = std::string("OpenCV cannot run the model: ") + error.what();
        return nullptr;
    }
    return model;
}

}  // namespace qdnn_host
