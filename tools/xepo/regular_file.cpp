#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

OpenFile openRegularFile(const std::string& path, std::string& error) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) {
        error = "no such file";
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = "not a regular file";
        return nullptr;
    }
    // Opening a pipe for reading waits for a writer unless it is non-blocking;
    // fstat then tells what was really opened.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot open (") + std::strerror(errno) + ")";
        return nullptr;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        error = "not a regular file";
        return nullptr;
    }
    OpenFile file(::fdopen(fd, "rb"));
    if (file == nullptr) {
        error = std::string("cannot open (") + std::strerror(errno) + ")";
        ::close(fd);
    }
    return file;
}
