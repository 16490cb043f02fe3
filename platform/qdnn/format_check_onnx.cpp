// The format library's checker (native builds). It works on the library's own
// message classes, so the bytes are parsed a second time into those.
#include "format_check.h"

#include <onnx/checker.h>
#include <onnx/onnx_pb.h>

#include <climits>

namespace qdnn_host {

bool checkWithFormatLibrary(const void* data, size_t bytes, std::string& reason) {
    if (data == nullptr || bytes == 0 || bytes > static_cast<size_t>(INT_MAX)) {
        reason = "no model bytes to check";
        return false;
    }
    onnx::ModelProto model;
    if (!model.ParseFromArray(data, static_cast<int>(bytes))) {
        reason = "not a readable model file";
        return false;
    }
    try {
        onnx::checker::check_model(model);
    } catch (const std::exception& error) {
        reason = std::string("model check failed: ") + error.what();
        return false;
    }
    return true;
}

}  // namespace qdnn_host
