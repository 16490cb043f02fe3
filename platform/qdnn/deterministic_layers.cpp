#include "deterministic_layers.h"

#include <opencv2/dnn.hpp>
#include <opencv2/dnn/all_layers.hpp>
#include <opencv2/dnn/layer.hpp>
#include <opencv2/dnn/shape_utils.hpp>

#include <mutex>
#include <vector>

namespace qdnn_host {
namespace {

// Index of the weight and bias blobs of OpenCV's fully connected layer.
constexpr size_t kWeightBlob = 0;
constexpr size_t kBiasBlob = 1;

// out[i][o] = bias[o] + sum over k of in[i][k] * weight[o][k], where `in` is
// the input flattened from `axis` on (OpenCV's fully connected layout).
class OrderedInnerProduct : public cv::dnn::Layer {
  public:
    explicit OrderedInnerProduct(const cv::dnn::LayerParams& params) {
        setParamsFrom(params);
        weights_ = blobs[kWeightBlob];
        outputs_ = params.get<int>("num_output", weights_.size[0]);
        axis_ = params.get<int>("axis", 1);
        if (params.get<bool>("bias_term", blobs.size() > kBiasBlob) && blobs.size() > kBiasBlob)
            bias_ = blobs[kBiasBlob];
    }

    // Only float weights of shape (num_output, K) with a matching bias; anything
    // else stays with OpenCV's own layer.
    static bool handles(const cv::dnn::LayerParams& params) {
        if (params.blobs.empty() || params.blobs.size() > kBiasBlob + 1)
            return false;
        const cv::Mat& weights = params.blobs[kWeightBlob];
        if (weights.type() != CV_32F || weights.dims != 2 || !weights.isContinuous())
            return false;
        if (params.get<int>("num_output", weights.size[0]) != weights.size[0])
            return false;
        if (params.blobs.size() > kBiasBlob) {
            const cv::Mat& bias = params.blobs[kBiasBlob];
            if (bias.type() != CV_32F || !bias.isContinuous() ||
                bias.total() != static_cast<size_t>(weights.size[0]))
                return false;
        }
        return true;
    }

    bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, const int,
                         std::vector<cv::dnn::MatShape>& outputs,
                         std::vector<cv::dnn::MatShape>&) const override {
        CV_Assert(inputs.size() == 1);
        const cv::dnn::MatShape& input = inputs[0];
        const int axis = cv::dnn::normalize_axis(axis_, static_cast<int>(input.size()));
        CV_Assert(cv::dnn::total(input, axis) == weights_.size[1]);
        cv::dnn::MatShape output(input.begin(), input.begin() + axis);
        output.push_back(outputs_);
        outputs.assign(1, output);
        return false;
    }

    void forward(cv::InputArrayOfArrays inputArrays, cv::OutputArrayOfArrays outputArrays,
                 cv::OutputArrayOfArrays) override {
        std::vector<cv::Mat> inputs, outputs;
        inputArrays.getMatVector(inputs);
        outputArrays.getMatVector(outputs);
        const cv::Mat& input = inputs[0];
        cv::Mat& output = outputs[0];
        CV_Assert(input.type() == CV_32F && output.type() == CV_32F && input.isContinuous() &&
                  output.isContinuous());
        const int depth = weights_.size[1];
        const int rows = static_cast<int>(input.total() / static_cast<size_t>(depth));
        const float* in = input.ptr<float>();
        const float* weight = weights_.ptr<float>();
        const float* bias = bias_.empty() ? nullptr : bias_.ptr<float>();
        float* out = output.ptr<float>();
        for (int i = 0; i < rows; ++i) {
            const float* row = in + static_cast<size_t>(i) * depth;
            for (int o = 0; o < outputs_; ++o) {
                const float* w = weight + static_cast<size_t>(o) * depth;
                double sum = 0.0;
                for (int k = 0; k < depth; ++k)
                    sum += static_cast<double>(row[k]) * static_cast<double>(w[k]);
                if (bias != nullptr)
                    sum += static_cast<double>(bias[o]);
                out[static_cast<size_t>(i) * outputs_ + o] = static_cast<float>(sum);
            }
        }
    }

  private:
    cv::Mat weights_;
    cv::Mat bias_;
    int outputs_ = 0;
    int axis_ = 1;
};

cv::Ptr<cv::dnn::Layer> createInnerProduct(cv::dnn::LayerParams& params) {
    if (OrderedInnerProduct::handles(params))
        return cv::makePtr<OrderedInnerProduct>(params);
    return cv::dnn::InnerProductLayer::create(params);
}

}  // namespace

void registerDeterministicLayers() {
    static std::once_flag once;
    std::call_once(
        once, [] { cv::dnn::LayerFactory::registerLayer("InnerProduct", createInnerProduct); });
}

}  // namespace qdnn_host
