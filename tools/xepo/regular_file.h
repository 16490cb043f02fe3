// Opening input files so that something other than a regular file in their
// place (a pipe, a device) is refused instead of hanging the tool.
#ifndef XEPO_TOOL_REGULAR_FILE_H
#define XEPO_TOOL_REGULAR_FILE_H

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using OpenFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for reading when it is a regular file (symbolic links are
// followed). The open cannot block, even on a pipe put in the file's place
// after the check. Null with `error` set ("no such file", "not a regular
// file", ...) otherwise.
OpenFile openRegularFile(const std::string& path, std::string& error);

#endif  // XEPO_TOOL_REGULAR_FILE_H
