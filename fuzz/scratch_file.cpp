#include "scratch_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

std::string scratchFilePath(const char* stem) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr ? tmp : "/tmp") + "/" + stem + "_" +
           std::to_string(static_cast<long>(getpid()));
}

bool writeScratchFile(const std::string& path, const uint8_t* bytes, size_t count) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes, 1, count, file) == count;
    return std::fclose(file) == 0 && written;
}
