// A tensor of the host runtime: float32 elements in NHWC order, dense.
//
// A tensor's data lives either in storage it owns (allocated on first use,
// zero-filled) or in a host buffer that the caller lends it. A lent buffer is
// never copied when it is bound, and the caller keeps it alive while bound.
//
// Host tensors (qdnnTensorCreate, qdnnTensorCreateIon) belong to the caller.
// Session tensors belong to their session: inputs receive data by upload,
// outputs receive the run's results (see session.h).
#ifndef QDNN_HOST_TENSOR_H
#define QDNN_HOST_TENSOR_H

#include <cstdint>
#include <string>
#include <vector>

namespace qdnn_host {

class Session;

// The only codes this runtime supports (the runner's 1, 8, 0).
constexpr int32_t kFormatNhwc = 1;
constexpr int32_t kTypeFloat32 = 8;
constexpr int32_t kMemoryHost = 0;
constexpr uint32_t kFloatBytes = 4;
// No descriptor bound to a tensor through the Ion calls.
constexpr int32_t kNoIonDescriptor = -1;

struct TensorShape {
    int32_t batch = 0;
    int32_t height = 0;
    int32_t width = 0;
    int32_t channel = 0;

    bool operator==(const TensorShape& other) const;
    bool operator!=(const TensorShape& other) const { return !(*this == other); }
};

// True when every dimension is positive and the byte count fits 32 bits.
bool isRepresentable(const TensorShape& shape);

enum class TensorRole { Host, SessionInput, SessionOutput };

class Tensor {
  public:
    Tensor(TensorRole role, const TensorShape& shape, std::string name = std::string(),
           Session* session = nullptr);

    TensorRole role() const { return role_; }
    bool isSessionTensor() const { return role_ != TensorRole::Host; }
    const std::string& name() const { return name_; }
    // The session that owns a session tensor; null for host tensors.
    Session* session() const { return session_; }
    const TensorShape& shape() const { return shape_; }
    uint32_t elementCount() const;
    uint32_t sizeInBytes() const { return elementCount() * kFloatBytes; }

    // Host tensors only; a bound buffer must still hold the new size.
    int32_t setShape(const TensorShape& shape);

    // Lends the tensor `bufferBytes` bytes at `buffer`, of which it uses the
    // bytes from `offset` on. The tensor's size must fit.
    int32_t bindBuffer(void* buffer, uint32_t bufferBytes, uint32_t offset);
    void unbindBuffer();
    bool hasBoundBuffer() const { return bound_ != nullptr; }
    void* boundBase() const { return bound_; }
    uint32_t boundOffset() const { return boundOffset_; }

    // The bytes the tensor reads and writes: the lent buffer when bound, its
    // own storage otherwise (allocated here on first use).
    float* data();
    // Its own storage, whether or not a buffer is bound.
    float* ownedData();

    int32_t ionDescriptor() const { return ionDescriptor_; }
    void setIonDescriptor(int32_t fd) { ionDescriptor_ = fd; }

  private:
    TensorRole role_;
    TensorShape shape_;
    std::string name_;
    Session* session_;
    std::vector<float> owned_;
    void* bound_ = nullptr;
    uint32_t boundBytes_ = 0;
    uint32_t boundOffset_ = 0;
    int32_t ionDescriptor_ = kNoIonDescriptor;
};

}  // namespace qdnn_host

namespace qdnn_host {

// Maps a declared shape onto batch, height, width and channel: rank 4 is
// NHWC, rank 2 (N,C) is batch N, height 1, width 1, channel C; rank 3 is
// (N,W,C), rank 1 (C) and rank 0 a single value. False for other ranks and
// for sizes that do not fit.
bool shapeFromDims(const std::vector<int64_t>& dims, TensorShape& shape);

}  // namespace qdnn_host

#endif  // QDNN_HOST_TENSOR_H
