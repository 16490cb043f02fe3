// The model format's own checker, where the build has it.
//
// Native builds link the format library (libonnx) and run its checker on every
// model file: operator schemas and their attributes, node order, IR and opset
// fields. The arm64 cross build has no such library (Debian cannot install the
// arm64 libonnx beside the native one); there the runtime relies on its own
// structural checks in describeModel (initializer byte counts, nodes present,
// node inputs defined before use, opset, input types and dims) and on OpenCV
// refusing operators it does not know. Files that only the checker catches,
// such as a known operator with a wrong attribute, then fail later, when
// OpenCV builds or runs the graph on zeros, which still makes loading fail.
#ifndef QDNN_HOST_FORMAT_CHECK_H
#define QDNN_HOST_FORMAT_CHECK_H

#include <cstddef>
#include <string>

namespace qdnn_host {

// Runs the format's checker on a serialised model that has already been parsed
// once. Returns false with a reason when the checker refuses it; always true
// where the build has no checker.
bool checkWithFormatLibrary(const void* data, size_t bytes, std::string& reason);

}  // namespace qdnn_host

#endif  // QDNN_HOST_FORMAT_CHECK_H
