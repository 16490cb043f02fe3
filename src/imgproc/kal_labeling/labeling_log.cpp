#include "imgproc/kal_labeling/labeling_log.h"

#include <android/log.h>

#include <cstdio>
#include <cstring>

namespace kal {

namespace {

constexpr const char* kLabelingTag = "LOG_DBG";

// Base name of a source path ("a/b/c.cpp" gives "c.cpp").
const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

}  // namespace

void logStatus(const char* file, int line, int status) {
    const char* base = baseName(file);
    __android_log_print(ANDROID_LOG_ERROR, kLabelingTag, "%s %d ret=%d\n", base, line, status);
    std::printf("%s %d ret=%d\n", base, line, status);
}

}  // namespace kal
