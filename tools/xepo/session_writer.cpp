#include "session_writer.h"

#include <cstring>
#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Folder of the frame files inside a session directory.
constexpr const char* kFramesFolder = "frames";

// FNV-1a, 64 bits: enough to find candidates for sharing a file; a match is
// confirmed byte by byte.
uint64_t contentHash(const uint8_t* bytes, size_t size) {
    constexpr uint64_t kOffsetBasis = 14695981039346656037ull;
    constexpr uint64_t kPrime = 1099511628211ull;
    uint64_t hash = kOffsetBasis;
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * kPrime;
    }
    return hash;
}

bool fileHasBytes(const fs::path& path, const uint8_t* bytes, size_t size) {
    std::error_code ec;
    if (fs::file_size(path, ec) != size || ec) {
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::vector<uint8_t> chunk(1 << 16);
    size_t offset = 0;
    bool same = true;
    while (same && offset < size) {
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
        if (got == 0) {
            same = false;
            break;
        }
        same = std::memcmp(chunk.data(), bytes + offset, got) == 0;
        offset += got;
    }
    std::fclose(file);
    return same && offset == size;
}

void prepareDirectory(const fs::path& directory) {
    std::error_code ec;
    if (fs::exists(directory, ec)) {
        if (!fs::is_directory(directory, ec)) {
            throw SessionError(directory.string() + ": exists and is not a directory");
        }
        const bool holdsSession = fs::exists(directory / kSessionIndexFile, ec);
        if (!holdsSession && !fs::is_empty(directory, ec)) {
            throw SessionError(directory.string() +
                               ": not empty and holds no session; refusing to write into it");
        }
        fs::remove(directory / kSessionIndexFile, ec);
        fs::remove_all(directory / kFramesFolder, ec);
    }
    fs::create_directories(directory / kFramesFolder, ec);
    if (ec) {
        throw SessionError(directory.string() + ": cannot create (" + ec.message() + ")");
    }
}

}  // namespace

SessionWriter::SessionWriter(const std::string& directory) : directory_(directory) {
    prepareDirectory(directory_);
    const std::string indexPath = (fs::path(directory_) / kSessionIndexFile).string();
    index_ = std::fopen(indexPath.c_str(), "w");
    if (index_ == nullptr) {
        throw SessionError(indexPath + ": cannot create");
    }
    std::fprintf(index_, "%s\n", sessionHeaderLine().c_str());
}

SessionWriter::~SessionWriter() {
    if (index_ != nullptr) {
        std::fclose(index_);
    }
}

std::string SessionWriter::findSameFrame(uint64_t hash, const uint8_t* pixels, size_t bytes) const {
    const auto [first, last] = filesByHash_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        if (fileHasBytes(fs::path(directory_) / it->second, pixels, bytes)) {
            return it->second;
        }
    }
    return {};
}

void SessionWriter::addFrame(SessionFrame& frame, const uint8_t* pixels) {
    if (index_ == nullptr) {
        throw SessionError(directory_ + ": session already finished");
    }
    const size_t bytes = static_cast<size_t>(frameFileBytes(frame));
    const uint64_t hash = contentHash(pixels, bytes);
    std::string name = findSameFrame(hash, pixels, bytes);
    if (name.empty()) {
        char file[64];
        std::snprintf(file, sizeof file, "%s/%06d.nv21", kFramesFolder, frameCount_);
        name = file;
        const std::string path = (fs::path(directory_) / name).string();
        std::FILE* out = std::fopen(path.c_str(), "wb");
        const size_t written = out != nullptr ? std::fwrite(pixels, 1, bytes, out) : 0;
        const bool closed = out != nullptr && std::fclose(out) == 0;
        if (written != bytes || !closed) {
            throw SessionError(path + ": cannot write the frame file");
        }
        filesByHash_.emplace(hash, name);
        ++fileCount_;
    }
    frame.frameFile = name;
    std::fprintf(index_, "%s\n", sessionFrameLine(frame).c_str());
    ++frameCount_;
}

void SessionWriter::finish() {
    if (index_ == nullptr) {
        return;
    }
    const bool failed = std::ferror(index_) != 0;
    const bool closed = std::fclose(index_) == 0;
    index_ = nullptr;
    if (failed || !closed) {
        throw SessionError(directory_ + "/" + kSessionIndexFile + ": write error");
    }
}
