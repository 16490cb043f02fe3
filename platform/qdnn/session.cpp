#include "session.h"

#include <cstring>
#include <utility>

#include "handle_registry.h"
#include "status.h"

namespace qdnn_host {

Session::Session(Net& net, std::shared_ptr<const CompiledModel> model, std::string name)
    : net_(net), model_(std::move(model)), name_(std::move(name)) {
    network_ = buildNetwork(*model_);
    for (const ModelPort& port : model_->inputs) {
        inputs_.push_back(
            std::make_unique<Tensor>(TensorRole::SessionInput, port.shape, port.name, this));
    }
    for (const ModelPort& port : model_->outputs) {
        outputs_.push_back(
            std::make_unique<Tensor>(TensorRole::SessionOutput, port.shape, port.name, this));
    }
    HandleRegistry& registry = HandleRegistry::instance();
    for (auto& tensor : inputs_)
        registry.add(tensor.get(), HandleKind::Tensor);
    for (auto& tensor : outputs_)
        registry.add(tensor.get(), HandleKind::Tensor);
}

Session::~Session() {
    HandleRegistry& registry = HandleRegistry::instance();
    for (auto& tensor : inputs_)
        registry.remove(tensor.get());
    for (auto& tensor : outputs_)
        registry.remove(tensor.get());
}

Tensor* Session::input(size_t index) const {
    return index < inputs_.size() ? inputs_[index].get() : nullptr;
}

Tensor* Session::output(size_t index) const {
    return index < outputs_.size() ? outputs_[index].get() : nullptr;
}

Tensor* Session::inputByName(const std::string& name) const {
    for (auto& tensor : inputs_) {
        if (tensor->name() == name)
            return tensor.get();
    }
    return nullptr;
}

Tensor* Session::outputByName(const std::string& name) const {
    for (auto& tensor : outputs_) {
        if (tensor->name() == name)
            return tensor.get();
    }
    return nullptr;
}

int32_t Session::forward(std::vector<cv::Mat>& results) {
    try {
        for (size_t i = 0; i < inputs_.size(); ++i) {
            // setInput copies the data, so wrapping the tensor's bytes is safe.
            cv::Mat blob(model_->inputs[i].blobDims, CV_32F, inputs_[i]->data());
            network_.setInput(blob, model_->inputs[i].name);
        }
        std::vector<cv::String> names;
        for (const ModelPort& port : model_->outputs)
            names.push_back(port.name);
        network_.forward(results, names);
    } catch (const std::exception&) {
        return kStatusRunFailed;
    }
    if (results.size() != outputs_.size())
        return kStatusRunFailed;
    for (size_t j = 0; j < results.size(); ++j) {
        if (results[j].type() != CV_32F || results[j].total() != outputs_[j]->elementCount() ||
            !results[j].isContinuous()) {
            return kStatusRunFailed;
        }
    }
    return kStatusOk;
}

int32_t Session::run(bool outputsAllocated) {
    std::lock_guard<std::mutex> lock(runMutex_);
    if (!outputsAllocated) {
        for (auto& output : outputs_) {
            if (!output->hasBoundBuffer())
                return kStatusUnboundOutput;
        }
    }
    std::vector<cv::Mat> results;
    int32_t status = forward(results);
    if (status != kStatusOk)
        return status;
    // The results are views of OpenCV's buffers, which the next run reuses.
    for (size_t j = 0; j < results.size(); ++j) {
        Tensor& output = *outputs_[j];
        const size_t bytes = output.sizeInBytes();
        if (outputsAllocated)
            std::memcpy(output.ownedData(), results[j].data, bytes);
        if (output.hasBoundBuffer())
            std::memcpy(output.data(), results[j].data, bytes);
    }
    return kStatusOk;
}

int32_t Session::warmup() {
    std::lock_guard<std::mutex> lock(runMutex_);
    std::vector<cv::Mat> results;
    return forward(results);
}

void Session::recordAsyncStatus(int32_t status) {
    std::lock_guard<std::mutex> lock(runMutex_);
    asyncPending_ = true;
    asyncStatus_ = status;
}

bool Session::takeAsyncStatus(int32_t& status) {
    std::lock_guard<std::mutex> lock(runMutex_);
    if (!asyncPending_)
        return false;
    asyncPending_ = false;
    status = asyncStatus_;
    return true;
}

int32_t uploadTensor(Tensor& sessionTensor, Tensor& hostTensor) {
    if (!sessionTensor.isSessionTensor() || &sessionTensor == &hostTensor) {
        return kStatusInvalidArgument;
    }
    // The shape, not only the size: a 112x112 image must not pass as 224x224.
    if (sessionTensor.shape() != hostTensor.shape())
        return kStatusShapeMismatch;
    if (sessionTensor.role() == TensorRole::SessionOutput) {
        return sessionTensor.bindBuffer(hostTensor.data(), hostTensor.sizeInBytes(), 0);
    }
    std::memmove(sessionTensor.data(), hostTensor.data(), hostTensor.sizeInBytes());
    return kStatusOk;
}

int32_t downloadTensor(Tensor& sessionTensor, Tensor& hostTensor, bool outputsAllocated) {
    if (!sessionTensor.isSessionTensor() || &sessionTensor == &hostTensor) {
        return kStatusInvalidArgument;
    }
    if (sessionTensor.shape() != hostTensor.shape())
        return kStatusShapeMismatch;
    const void* source = nullptr;
    if (sessionTensor.role() == TensorRole::SessionInput) {
        source = sessionTensor.data();
    } else if (outputsAllocated) {
        source = sessionTensor.ownedData();
    } else if (sessionTensor.hasBoundBuffer()) {
        source = sessionTensor.data();
    } else {
        return kStatusUnboundOutput;
    }
    void* target = hostTensor.data();
    if (target != source)
        std::memmove(target, source, hostTensor.sizeInBytes());
    return kStatusOk;
}

}  // namespace qdnn_host
