// The neural-network runtime's 77 entry points, written down once.
//
// Each line is QDNN_ENTRY(kind, result, name, parameters, arguments), in the
// runtime's slot order (slot 0 first). Expand it by defining QDNN_ENTRY before
// including this file; the file undefines it afterwards. kind is one of
//   FORWARD       exported by the engine, result passed back untouched
//   FORWARD_BOOL  exported by the engine, result reduced to its lowest bit
//   RESOLVE_ONLY  resolved when the runtime is opened, never exported or called
//
// Types: handles are opaque pointers (QDNNNet, QDNNSession, QDNNTensor); counts
// and indices are 64-bit unsigned; dimensions and codes 32-bit.
//
// This file has no include guard on purpose.

// clang-format off
// Versions and set-up
QDNN_ENTRY(FORWARD, const char*, qdnnGetVersion, (void), ())
QDNN_ENTRY(FORWARD_BOOL, int32_t, qdnnCheckVersion, (int32_t major, int32_t minor, int32_t patch), (major, minor, patch))
QDNN_ENTRY(FORWARD, int32_t, qdnnBuildOpenclKernels, (int32_t mode), (mode))
// Nets: creation and settings
QDNN_ENTRY(FORWARD, QDNNNet, qdnnNetCreate, (void), ())
QDNN_ENTRY(FORWARD, void, qdnnNetDestroy, (QDNNNet net), (net))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetInferenceType, (QDNNNet net, int32_t type), (net, type))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetThreadsNum, (QDNNNet net, int32_t threads), (net, threads))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetGpuFloat16, (QDNNNet net, int32_t enable), (net, enable))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetPowerMode, (QDNNNet net, int32_t mode), (net, mode))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetFrequencyHint, (QDNNNet net, int32_t hint), (net, hint))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetTuningGpuKernels, (QDNNNet net, int32_t enable), (net, enable))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetPathToSaveTunedModel, (QDNNNet net, const char* path), (net, path))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetFencedInferenceMode, (QDNNNet net, int32_t enable), (net, enable))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetPriority, (QDNNNet net, int32_t priority), (net, priority))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetDeadlineTime, (QDNNNet net, int32_t milliseconds), (net, milliseconds))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetPowerOffTime, (QDNNNet net, int32_t milliseconds), (net, milliseconds))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetModelIndex, (QDNNNet net, int32_t index), (net, index))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetThirdPartyModelPath, (QDNNNet net, const char* path), (net, path))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetImportBufferForever, (QDNNNet net, int32_t enable), (net, enable))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetReduceUploadCount, (QDNNNet net, int32_t enable), (net, enable))
// Nets: models and sessions
QDNN_ENTRY(FORWARD, int32_t, qdnnNetLoadModelFromMemory, (QDNNNet net, const void* data, uint64_t bytes, void* reserved), (net, data, bytes, reserved))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetLoadModelFromPath, (QDNNNet net, const char* path), (net, path))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetUnloadModel, (QDNNNet net), (net))
QDNN_ENTRY(FORWARD, QDNNSession, qdnnNetCreateSession, (QDNNNet net, const char* name), (net, name))
QDNN_ENTRY(FORWARD, QDNNSession, qdnnNetGetSession, (QDNNNet net, const char* name), (net, name))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetReleaseSession, (QDNNNet net, QDNNSession session), (net, session))
QDNN_ENTRY(FORWARD, const char*, qdnnNetGetInfoString, (QDNNNet net), (net))
// Sessions
QDNN_ENTRY(FORWARD, QDNNSession, qdnnSessionClone, (QDNNSession session, const char* name), (session, name))
QDNN_ENTRY(FORWARD, int32_t, qdnnSessionWarmup, (QDNNSession session), (session))
QDNN_ENTRY(FORWARD, int32_t, qdnnSessionCooldown, (QDNNSession session), (session))
QDNN_ENTRY(FORWARD, int32_t, qdnnSessionRun, (QDNNSession session), (session))
QDNN_ENTRY(FORWARD, int32_t, qdnnSessionRunAsync, (QDNNSession session, QDNNRunCallback callback, void* user), (session, callback, user))
QDNN_ENTRY(FORWARD, int32_t, qdnnSessionWaitRunAsync, (QDNNSession session, int32_t* runStatus), (session, runStatus))
QDNN_ENTRY(FORWARD, QDNNTensor, qdnnSessionGetInputTensor, (QDNNSession session, const char* name), (session, name))
QDNN_ENTRY(FORWARD, QDNNTensor, qdnnSessionGetOutputTensor, (QDNNSession session, const char* name), (session, name))
QDNN_ENTRY(FORWARD, QDNNTensor, qdnnSessionGetInputTensorByIndex, (QDNNSession session, uint64_t index), (session, index))
QDNN_ENTRY(FORWARD, QDNNTensor, qdnnSessionGetOutputTensorByIndex, (QDNNSession session, uint64_t index), (session, index))
QDNN_ENTRY(FORWARD, int32_t, qdnnSessionGetNumInputs, (QDNNSession session, uint64_t* count), (session, count))
QDNN_ENTRY(FORWARD, int32_t, qdnnSessionGetNumOutputs, (QDNNSession session, uint64_t* count), (session, count))
// Tensors
QDNN_ENTRY(FORWARD, QDNNTensor, qdnnTensorCreate, (int32_t batch, int32_t height, int32_t width, int32_t channel, int32_t format, int32_t dataType, int32_t memoryType), (batch, height, width, channel, format, dataType, memoryType))
QDNN_ENTRY(FORWARD, void, qdnnTensorDestroy, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorUpload, (QDNNTensor sessionTensor, QDNNTensor hostTensor), (sessionTensor, hostTensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorDownload, (QDNNTensor sessionTensor, QDNNTensor hostTensor), (sessionTensor, hostTensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorSetFormat, (QDNNTensor tensor, int32_t format), (tensor, format))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorSetType, (QDNNTensor tensor, int32_t dataType), (tensor, dataType))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorSetShape, (QDNNTensor tensor, int32_t batch, int32_t height, int32_t width, int32_t channel), (tensor, batch, height, width, channel))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorInferStride, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorSetHostBuffer, (QDNNTensor tensor, void* buffer, uint32_t bytes), (tensor, buffer, bytes))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorSetOffsetedHostBuffer, (QDNNTensor tensor, void* buffer, uint32_t bufferBytes, uint32_t offset, uint32_t bytes), (tensor, buffer, bufferBytes, offset, bytes))
QDNN_ENTRY(FORWARD, void*, qdnnTensorGetHostBuffer, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, uint32_t, qdnnTensorGetBufferOffset, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetFormat, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetType, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, uint32_t, qdnnTensorGetSizeInElements, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, uint32_t, qdnnTensorGetElementBytes, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, uint32_t, qdnnTensorGetSizeInBytes, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetBatch, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetChannel, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetHeight, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetWidth, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetBatchStride, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetChannelStride, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetHeightStride, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetWidthStride, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetScale, (QDNNTensor tensor, float* scale), (tensor, scale))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetZeroPoint, (QDNNTensor tensor, int32_t* zeroPoint), (tensor, zeroPoint))
// Platform
QDNN_ENTRY(RESOLVE_ONLY, int32_t, qdnnPlatformInit, (void* platform, int32_t flags), (platform, flags))
QDNN_ENTRY(FORWARD, int32_t, qdnnPlatformUninit, (void* platform), (platform))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetAllocateOutput, (QDNNNet net, int32_t enable), (net, enable))
// Shared-memory (Ion) buffers
QDNN_ENTRY(FORWARD, QDNNTensor, qdnnTensorCreateIon, (int32_t batch, int32_t height, int32_t width, int32_t channel, int32_t format, int32_t dataType), (batch, height, width, channel, format, dataType))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorSetHostBufferIon, (QDNNTensor tensor, void* buffer, int32_t fd, uint32_t bytes), (tensor, buffer, fd, bytes))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorGetIonDescriptor, (QDNNTensor tensor), (tensor))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetRuntimeSharedBuffer, (QDNNNet net, void* buffer, int32_t fd, uint32_t bytes, int32_t flags), (net, buffer, fd, bytes, flags))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetMemoryPoolBuffer, (QDNNNet net, int32_t fd, void* buffer, uint32_t bytes, int32_t flags), (net, fd, buffer, bytes, flags))
QDNN_ENTRY(FORWARD, int32_t, qdnnNetSetForwardPowerModeValid, (QDNNNet net, int32_t enable), (net, enable))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorIonRegister, (QDNNTensor tensor, void* buffer), (tensor, buffer))
QDNN_ENTRY(FORWARD, int32_t, qdnnTensorIonDeregister, (QDNNTensor tensor), (tensor))
// clang-format on

#undef QDNN_ENTRY
