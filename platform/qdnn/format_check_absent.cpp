// Builds without the format library (the arm64 cross build): there is no
// checker to run, and describeModel's own structural checks stand alone.
#include "format_check.h"

namespace qdnn_host {

bool checkWithFormatLibrary(const void*, size_t, std::string&) {
    return true;
}

}  // namespace qdnn_host
