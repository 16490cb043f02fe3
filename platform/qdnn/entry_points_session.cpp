// Entry points of sessions.
//
// Runs are synchronous. qdnnSessionRunAsync runs at once as well, then calls
// the callback (when given) with the run's status and keeps that status for
// qdnnSessionWaitRunAsync, which hands it out once. Warm-up runs the model on
// the inputs as they stand and keeps no result. Cool-down has nothing to
// release on a host. Clone makes a new session of the same net under another
// name.
#include <string>

#include "entry_point_support.h"

using namespace qdnn_host;

QDNNSession qdnnSessionClone(QDNNSession handle, const char* name) {
    return callGuarded<QDNNSession>(nullptr, [&]() -> QDNNSession {
        Session* session = sessionOf(handle);
        if (session == nullptr || name == nullptr)
            return nullptr;
        return session->net().createSession(name);
    });
}

int32_t qdnnSessionWarmup(QDNNSession handle) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Session* session = sessionOf(handle);
        if (session == nullptr)
            return kStatusInvalidArgument;
        return session->warmup();
    });
}

int32_t qdnnSessionCooldown(QDNNSession handle) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        return sessionOf(handle) == nullptr ? kStatusInvalidArgument : kStatusOk;
    });
}

int32_t qdnnSessionRun(QDNNSession handle) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Session* session = sessionOf(handle);
        if (session == nullptr)
            return kStatusInvalidArgument;
        return session->run(session->net().outputsAllocated());
    });
}

int32_t qdnnSessionRunAsync(QDNNSession handle, QDNNRunCallback callback, void* user) {
    Session* session = nullptr;
    int32_t status = callGuarded(kStatusInternal, [&]() -> int32_t {
        session = sessionOf(handle);
        if (session == nullptr)
            return kStatusInvalidArgument;
        int32_t runStatus = session->run(session->net().outputsAllocated());
        session->recordAsyncStatus(runStatus);
        return runStatus;
    });
    if (session == nullptr)
        return status;
    // Outside the guard: the caller's callback is the caller's business.
    if (callback != nullptr)
        callback(handle, status, user);
    return kStatusOk;
}

int32_t qdnnSessionWaitRunAsync(QDNNSession handle, int32_t* runStatus) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Session* session = sessionOf(handle);
        if (session == nullptr || runStatus == nullptr)
            return kStatusInvalidArgument;
        return session->takeAsyncStatus(*runStatus) ? kStatusOk : kStatusInvalidState;
    });
}

QDNNTensor qdnnSessionGetInputTensor(QDNNSession handle, const char* name) {
    return callGuarded<QDNNTensor>(nullptr, [&]() -> QDNNTensor {
        Session* session = sessionOf(handle);
        if (session == nullptr || name == nullptr)
            return nullptr;
        return session->inputByName(name);
    });
}

QDNNTensor qdnnSessionGetOutputTensor(QDNNSession handle, const char* name) {
    return callGuarded<QDNNTensor>(nullptr, [&]() -> QDNNTensor {
        Session* session = sessionOf(handle);
        if (session == nullptr || name == nullptr)
            return nullptr;
        return session->outputByName(name);
    });
}

QDNNTensor qdnnSessionGetInputTensorByIndex(QDNNSession handle, uint64_t index) {
    return callGuarded<QDNNTensor>(nullptr, [&]() -> QDNNTensor {
        Session* session = sessionOf(handle);
        if (session == nullptr || index >= session->inputCount())
            return nullptr;
        return session->input(static_cast<size_t>(index));
    });
}

QDNNTensor qdnnSessionGetOutputTensorByIndex(QDNNSession handle, uint64_t index) {
    return callGuarded<QDNNTensor>(nullptr, [&]() -> QDNNTensor {
        Session* session = sessionOf(handle);
        if (session == nullptr || index >= session->outputCount())
            return nullptr;
        return session->output(static_cast<size_t>(index));
    });
}

int32_t qdnnSessionGetNumInputs(QDNNSession handle, uint64_t* count) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Session* session = sessionOf(handle);
        if (session == nullptr || count == nullptr)
            return kStatusInvalidArgument;
        *count = session->inputCount();
        return kStatusOk;
    });
}

int32_t qdnnSessionGetNumOutputs(QDNNSession handle, uint64_t* count) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Session* session = sessionOf(handle);
        if (session == nullptr || count == nullptr)
            return kStatusInvalidArgument;
        *count = session->outputCount();
        return kStatusOk;
    });
}
