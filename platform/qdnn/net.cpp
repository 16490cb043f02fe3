#include "net.h"

#include <algorithm>
#include <sstream>

#include "handle_registry.h"
#include "status.h"

namespace qdnn_host {
namespace {

std::string shapeText(const TensorShape& shape) {
    std::ostringstream text;
    text << shape.batch << "x" << shape.height << "x" << shape.width << "x" << shape.channel;
    return text.str();
}

const char* inferenceName(int32_t type) {
    switch (type) {
        case kInferenceGpu:
            return "GPU";
        case kInferenceHtp:
            return "HTP";
        case kInferenceNeuron:
            return "NEURON";
        default:
            return "none";
    }
}

}  // namespace

Net::Net() = default;

Net::~Net() {
    endSessions();
}

NetSettings Net::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

bool Net::outputsAllocated() const {
    std::lock_guard<std::mutex> lock(mutex_);
    bool bindsOutputs =
        settings_.inferenceType == kInferenceHtp || settings_.inferenceType == kInferenceNeuron;
    return !(bindsOutputs && settings_.allocateOutput == 0);
}

void Net::endSessions() {
    for (auto& session : sessions_)
        HandleRegistry::instance().remove(session.get());
    sessions_.clear();
}

int32_t Net::loadModel(const void* data, size_t bytes) {
    std::string reason;
    std::shared_ptr<const CompiledModel> model = compileModel(data, bytes, reason);
    if (!model)
        return kStatusBadModel;
    std::lock_guard<std::mutex> lock(mutex_);
    endSessions();
    model_ = model;
    return kStatusOk;
}

int32_t Net::unloadModel() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!model_)
        return kStatusInvalidState;
    endSessions();
    model_.reset();
    return kStatusOk;
}

Session* Net::createSession(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!model_ || name.empty())
        return nullptr;
    for (auto& session : sessions_) {
        if (session->name() == name)
            return nullptr;  // names are unique within a net
    }
    auto session = std::make_unique<Session>(*this, model_, name);
    Session* handle = session.get();
    sessions_.push_back(std::move(session));
    HandleRegistry::instance().add(handle, HandleKind::Session);
    return handle;
}

Session* Net::findSession(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& session : sessions_) {
        if (session->name() == name)
            return session.get();
    }
    return nullptr;
}

bool Net::ownsSession(const Session* session) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(sessions_.begin(), sessions_.end(),
                       [session](const std::unique_ptr<Session>& s) { return s.get() == session; });
}

int32_t Net::releaseSession(Session* session) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it =
        std::find_if(sessions_.begin(), sessions_.end(),
                     [session](const std::unique_ptr<Session>& s) { return s.get() == session; });
    if (it == sessions_.end())
        return kStatusInvalidArgument;
    HandleRegistry::instance().remove(session);
    sessions_.erase(it);
    return kStatusOk;
}

const char* Net::infoString() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream text;
    text << "qdnn host net: inference " << inferenceName(settings_.inferenceType)
         << ", allocate-output " << settings_.allocateOutput << ", priority " << settings_.priority
         << ", frequency hint " << settings_.frequencyHint << ", power mode " << settings_.powerMode
         << "; ";
    if (!model_) {
        text << "no model";
    } else {
        for (const ModelPort& port : model_->inputs) {
            text << "input " << port.name << " " << shapeText(port.shape) << "; ";
        }
        for (const ModelPort& port : model_->outputs) {
            text << "output " << port.name << " " << shapeText(port.shape) << "; ";
        }
        text << sessions_.size() << " session(s)";
    }
    info_ = text.str();
    return info_.c_str();
}

}  // namespace qdnn_host
