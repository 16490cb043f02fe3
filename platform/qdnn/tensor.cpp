#include "tensor.h"

#include <limits>
#include <utility>

#include "status.h"

namespace qdnn_host {

bool TensorShape::operator==(const TensorShape& other) const {
    return batch == other.batch && height == other.height && width == other.width &&
           channel == other.channel;
}

bool isRepresentable(const TensorShape& shape) {
    if (shape.batch <= 0 || shape.height <= 0 || shape.width <= 0 || shape.channel <= 0) {
        return false;
    }
    uint64_t bytes = kFloatBytes;
    for (int32_t dim : {shape.batch, shape.height, shape.width, shape.channel}) {
        bytes *= static_cast<uint64_t>(dim);
        if (bytes > std::numeric_limits<uint32_t>::max())
            return false;
    }
    return true;
}

Tensor::Tensor(TensorRole role, const TensorShape& shape, std::string name, Session* session)
    : role_(role), shape_(shape), name_(std::move(name)), session_(session) {}

uint32_t Tensor::elementCount() const {
    return static_cast<uint32_t>(shape_.batch) * static_cast<uint32_t>(shape_.height) *
           static_cast<uint32_t>(shape_.width) * static_cast<uint32_t>(shape_.channel);
}

int32_t Tensor::setShape(const TensorShape& shape) {
    if (isSessionTensor() || !isRepresentable(shape))
        return kStatusInvalidArgument;
    TensorShape previous = shape_;
    shape_ = shape;
    if (bound_ != nullptr && boundBytes_ - boundOffset_ < sizeInBytes()) {
        shape_ = previous;
        return kStatusShapeMismatch;
    }
    std::vector<float>().swap(owned_);  // reallocated at the new size when used
    return kStatusOk;
}

int32_t Tensor::bindBuffer(void* buffer, uint32_t bufferBytes, uint32_t offset) {
    if (buffer == nullptr || offset > bufferBytes)
        return kStatusInvalidArgument;
    if (bufferBytes - offset < sizeInBytes())
        return kStatusShapeMismatch;
    bound_ = buffer;
    boundBytes_ = bufferBytes;
    boundOffset_ = offset;
    return kStatusOk;
}

void Tensor::unbindBuffer() {
    bound_ = nullptr;
    boundBytes_ = 0;
    boundOffset_ = 0;
    ionDescriptor_ = kNoIonDescriptor;
}

float* Tensor::data() {
    if (bound_ != nullptr) {
        return reinterpret_cast<float*>(static_cast<unsigned char*>(bound_) + boundOffset_);
    }
    return ownedData();
}

float* Tensor::ownedData() {
    if (owned_.size() != elementCount())
        owned_.assign(elementCount(), 0.0f);
    return owned_.data();
}

}  // namespace qdnn_host

namespace qdnn_host {

bool shapeFromDims(const std::vector<int64_t>& dims, TensorShape& shape) {
    for (int64_t dim : dims) {
        if (dim <= 0 || dim > std::numeric_limits<int32_t>::max())
            return false;
    }
    auto at = [&dims](size_t i) { return static_cast<int32_t>(dims[i]); };
    TensorShape mapped{1, 1, 1, 1};
    switch (dims.size()) {
        case 0:
            break;
        case 1:
            mapped.channel = at(0);
            break;
        case 2:
            mapped = {at(0), 1, 1, at(1)};
            break;
        case 3:
            mapped = {at(0), 1, at(1), at(2)};
            break;
        case 4:
            mapped = {at(0), at(1), at(2), at(3)};
            break;
        default:
            return false;
    }
    if (!isRepresentable(mapped))
        return false;
    shape = mapped;
    return true;
}

}  // namespace qdnn_host
