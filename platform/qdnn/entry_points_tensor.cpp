// Entry points of tensors.
//
// Tensors hold float32 (type 8) in NHWC order (format 1) in host memory
// (memory 0); other codes are refused. Strides are in elements of a dense
// layout: channel 1, width C, height W*C, batch H*W*C. Float tensors have
// scale 1 and zero point 0.
// qdnnTensorCreate tensors belong to the caller, who destroys them; destroying
// a session tensor does nothing (its session owns it). Binding a host buffer
// lends it to the tensor without copying; unbound tensors use storage of
// their own. Upload and download move data between a session tensor and a
// host tensor of exactly the same shape (see session.h for outputs).
#include "entry_point_support.h"

using namespace qdnn_host;

namespace {

bool supportedCodes(int32_t format, int32_t dataType, int32_t memoryType) {
    return format == kFormatNhwc && dataType == kTypeFloat32 && memoryType == kMemoryHost;
}

// A dimension, stride or count of a live tensor; 0 for a bad handle.
template <typename Result, typename Read>
Result readTensor(QDNNTensor handle, Read&& read) {
    return callGuarded<Result>(0, [&]() -> Result {
        Tensor* tensor = tensorOf(handle);
        return tensor == nullptr ? Result{0} : static_cast<Result>(read(*tensor));
    });
}

bool outputsAllocatedFor(const Tensor& tensor) {
    return tensor.session() == nullptr || tensor.session()->net().outputsAllocated();
}

}  // namespace

namespace qdnn_host {

// Shared with the Ion entry points.
QDNNTensor createHostTensor(int32_t batch, int32_t height, int32_t width, int32_t channel,
                            int32_t format, int32_t dataType, int32_t memoryType) {
    return callGuarded<QDNNTensor>(nullptr, [&]() -> QDNNTensor {
        TensorShape shape{batch, height, width, channel};
        if (!supportedCodes(format, dataType, memoryType) || !isRepresentable(shape)) {
            return nullptr;
        }
        Tensor* tensor = new Tensor(TensorRole::Host, shape);
        HandleRegistry::instance().add(tensor, HandleKind::Tensor);
        return tensor;
    });
}

int32_t bindTensorBuffer(QDNNTensor handle, void* buffer, uint32_t bufferBytes, uint32_t offset) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Tensor* tensor = tensorOf(handle);
        if (tensor == nullptr)
            return kStatusInvalidArgument;
        return tensor->bindBuffer(buffer, bufferBytes, offset);
    });
}

}  // namespace qdnn_host

QDNNTensor qdnnTensorCreate(int32_t batch, int32_t height, int32_t width, int32_t channel,
                            int32_t format, int32_t dataType, int32_t memoryType) {
    return createHostTensor(batch, height, width, channel, format, dataType, memoryType);
}

void qdnnTensorDestroy(QDNNTensor handle) {
    callGuardedVoid([&] {
        Tensor* tensor = tensorOf(handle);
        if (tensor == nullptr || tensor->isSessionTensor())
            return;
        HandleRegistry::instance().remove(tensor);
        delete tensor;
    });
}

int32_t qdnnTensorUpload(QDNNTensor sessionTensor, QDNNTensor hostTensor) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Tensor* target = tensorOf(sessionTensor);
        Tensor* source = tensorOf(hostTensor);
        if (target == nullptr || source == nullptr)
            return kStatusInvalidArgument;
        return uploadTensor(*target, *source);
    });
}

int32_t qdnnTensorDownload(QDNNTensor sessionTensor, QDNNTensor hostTensor) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Tensor* source = tensorOf(sessionTensor);
        Tensor* target = tensorOf(hostTensor);
        if (source == nullptr || target == nullptr)
            return kStatusInvalidArgument;
        return downloadTensor(*source, *target, outputsAllocatedFor(*source));
    });
}

int32_t qdnnTensorSetFormat(QDNNTensor handle, int32_t format) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        if (tensorOf(handle) == nullptr)
            return kStatusInvalidArgument;
        return format == kFormatNhwc ? kStatusOk : kStatusInvalidArgument;
    });
}

int32_t qdnnTensorSetType(QDNNTensor handle, int32_t dataType) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        if (tensorOf(handle) == nullptr)
            return kStatusInvalidArgument;
        return dataType == kTypeFloat32 ? kStatusOk : kStatusInvalidArgument;
    });
}

int32_t qdnnTensorSetShape(QDNNTensor handle, int32_t batch, int32_t height, int32_t width,
                           int32_t channel) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Tensor* tensor = tensorOf(handle);
        if (tensor == nullptr)
            return kStatusInvalidArgument;
        return tensor->setShape(TensorShape{batch, height, width, channel});
    });
}

int32_t qdnnTensorInferStride(QDNNTensor handle) {
    // Strides always follow the shape densely; nothing to work out.
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        return tensorOf(handle) == nullptr ? kStatusInvalidArgument : kStatusOk;
    });
}

int32_t qdnnTensorSetHostBuffer(QDNNTensor handle, void* buffer, uint32_t bytes) {
    return bindTensorBuffer(handle, buffer, bytes, 0);
}

int32_t qdnnTensorSetOffsetedHostBuffer(QDNNTensor handle, void* buffer, uint32_t bufferBytes,
                                        uint32_t offset, uint32_t bytes) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Tensor* tensor = tensorOf(handle);
        if (tensor == nullptr || buffer == nullptr || offset > bufferBytes ||
            bytes > bufferBytes - offset) {
            return kStatusInvalidArgument;
        }
        if (bytes < tensor->sizeInBytes())
            return kStatusShapeMismatch;
        return tensor->bindBuffer(buffer, offset + bytes, offset);
    });
}

void* qdnnTensorGetHostBuffer(QDNNTensor handle) {
    return callGuarded<void*>(nullptr, [&]() -> void* {
        Tensor* tensor = tensorOf(handle);
        if (tensor == nullptr)
            return nullptr;
        return tensor->hasBoundBuffer() ? tensor->boundBase() : tensor->ownedData();
    });
}

uint32_t qdnnTensorGetBufferOffset(QDNNTensor handle) {
    return readTensor<uint32_t>(handle, [](Tensor& t) { return t.boundOffset(); });
}

int32_t qdnnTensorGetFormat(QDNNTensor handle) {
    return readTensor<int32_t>(handle, [](Tensor&) { return kFormatNhwc; });
}

int32_t qdnnTensorGetType(QDNNTensor handle) {
    return readTensor<int32_t>(handle, [](Tensor&) { return kTypeFloat32; });
}

uint32_t qdnnTensorGetSizeInElements(QDNNTensor handle) {
    return readTensor<uint32_t>(handle, [](Tensor& t) { return t.elementCount(); });
}

uint32_t qdnnTensorGetElementBytes(QDNNTensor handle) {
    return readTensor<uint32_t>(handle, [](Tensor&) { return kFloatBytes; });
}

uint32_t qdnnTensorGetSizeInBytes(QDNNTensor handle) {
    return readTensor<uint32_t>(handle, [](Tensor& t) { return t.sizeInBytes(); });
}

int32_t qdnnTensorGetBatch(QDNNTensor handle) {
    return readTensor<int32_t>(handle, [](Tensor& t) { return t.shape().batch; });
}

int32_t qdnnTensorGetChannel(QDNNTensor handle) {
    return readTensor<int32_t>(handle, [](Tensor& t) { return t.shape().channel; });
}

int32_t qdnnTensorGetHeight(QDNNTensor handle) {
    return readTensor<int32_t>(handle, [](Tensor& t) { return t.shape().height; });
}

int32_t qdnnTensorGetWidth(QDNNTensor handle) {
    return readTensor<int32_t>(handle, [](Tensor& t) { return t.shape().width; });
}

int32_t qdnnTensorGetBatchStride(QDNNTensor handle) {
    return readTensor<int32_t>(
        handle, [](Tensor& t) { return t.shape().height * t.shape().width * t.shape().channel; });
}

int32_t qdnnTensorGetChannelStride(QDNNTensor handle) {
    return readTensor<int32_t>(handle, [](Tensor&) { return 1; });
}

int32_t qdnnTensorGetHeightStride(QDNNTensor handle) {
    return readTensor<int32_t>(handle,
                               [](Tensor& t) { return t.shape().width * t.shape().channel; });
}

int32_t qdnnTensorGetWidthStride(QDNNTensor handle) {
    return readTensor<int32_t>(handle, [](Tensor& t) { return t.shape().channel; });
}

int32_t qdnnTensorGetScale(QDNNTensor handle, float* scale) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        if (tensorOf(handle) == nullptr || scale == nullptr)
            return kStatusInvalidArgument;
        *scale = 1.0f;
        return kStatusOk;
    });
}

int32_t qdnnTensorGetZeroPoint(QDNNTensor handle, int32_t* zeroPoint) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        if (tensorOf(handle) == nullptr || zeroPoint == nullptr)
            return kStatusInvalidArgument;
        *zeroPoint = 0;
        return kStatusOk;
    });
}
