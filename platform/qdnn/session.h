// A runnable instance of a net's model, under a name. It owns its input and
// output tensors and its own OpenCV network, so sessions run independently;
// runs of one session are serialised.
//
// Inputs: upload copies the host tensor's data into the session input (or the
// caller binds a buffer to the session input itself, which the run then reads
// in place).
// Outputs: uploading a host tensor to a session output binds that tensor's
// buffer to it, and the run writes the result straight into it. When the net
// allocates its outputs (see net.h) every run also keeps the result in the
// session's own storage, from where download copies it out; when it does not,
// a run with an unbound output fails before anything runs.
#ifndef QDNN_HOST_SESSION_H
#define QDNN_HOST_SESSION_H

#include <opencv2/dnn.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "compiled_model.h"
#include "tensor.h"

namespace qdnn_host {

class Net;

class Session {
  public:
    Session(Net& net, std::shared_ptr<const CompiledModel> model, std::string name);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Net& net() const { return net_; }
    const std::string& name() const { return name_; }

    size_t inputCount() const { return inputs_.size(); }
    size_t outputCount() const { return outputs_.size(); }
    Tensor* input(size_t index) const;
    Tensor* output(size_t index) const;
    Tensor* inputByName(const std::string& name) const;
    Tensor* outputByName(const std::string& name) const;

    // One synchronous run; `outputsAllocated` as the net says.
    int32_t run(bool outputsAllocated);
    // A run whose results go nowhere (bound buffers stay untouched).
    int32_t warmup();

    // Results of "asynchronous" runs, which this runtime performs at once.
    void recordAsyncStatus(int32_t status);
    bool takeAsyncStatus(int32_t& status);

  private:
    int32_t forward(std::vector<cv::Mat>& results);

    Net& net_;
    std::shared_ptr<const CompiledModel> model_;
    std::string name_;
    cv::dnn::Net network_;
    std::vector<std::unique_ptr<Tensor>> inputs_;
    std::vector<std::unique_ptr<Tensor>> outputs_;
    std::mutex runMutex_;
    bool asyncPending_ = false;
    int32_t asyncStatus_ = 0;
};

// Moves data between a session tensor and a host tensor of the same shape.
int32_t uploadTensor(Tensor& sessionTensor, Tensor& hostTensor);
int32_t downloadTensor(Tensor& sessionTensor, Tensor& hostTensor, bool outputsAllocated);

}  // namespace qdnn_host

#endif  // QDNN_HOST_SESSION_H
