// The neural-network runtime's flat C interface: handle types and the 77 entry
// points, declared from the one list in qdnn_entry_points.h.
//
// The engine exports 76 of them under the same names and forwards every call to
// the platform runtime. Status results are 0 on success; handle results are
// null on failure.
#ifndef QDNN_API_H
#define QDNN_API_H

#include <cstdint>

extern "C" {

typedef void* QDNNNet;      // a loaded model; owns its sessions
typedef void* QDNNSession;  // a runnable instance of a net; owns its tensors
typedef void* QDNNTensor;   // a session tensor, or a host tensor owned by its creator
typedef void (*QDNNRunCallback)(QDNNSession session, int32_t status, void* user);

// Inference types of qdnnNetSetInferenceType.
enum QDNNInferenceType : int32_t {
    kQdnnInferenceNone = 0,
    kQdnnInferenceGpu = 5,  // outputs land in session tensors; download after the run
    kQdnnInferenceHtp = 6,  // with allocate-output 0: outputs are uploaded (bound) before the run
    kQdnnInferenceNeuron = 7,  // as HTP
};

// Codes of qdnnTensorCreate.
enum QDNNTensorFormat : int32_t { kQdnnFormatNhwc = 1 };
enum QDNNDataType : int32_t { kQdnnTypeFloat32 = 8 };
enum QDNNMemoryType : int32_t { kQdnnMemoryHost = 0 };

#define QDNN_ENTRY(kind, result, name, params, args) result name params;
#include "qdnn_entry_points.h"

}  // extern "C"

#endif  // QDNN_API_H
