#include "session_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
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

// Extra files named in a refusal before "and N more".
constexpr size_t kNamedExtras = 3;

bool isRegularNotLink(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(path, ec));
}

// The files an earlier writer listed in the manifest of `directory`.
std::set<std::string> readManifest(const fs::path& directory) {
    const fs::path manifest = directory / kSynthManifestFile;
    const std::string name = manifest.string();
    if (!isRegularNotLink(manifest)) {
        throw SessionError(name + ": not a regular file; refusing to write into " +
                           directory.string());
    }
    std::ifstream in(manifest);
    std::string line;
    if (!std::getline(in, line) || line != kSynthManifestHeader) {
        throw SessionError(name +
                           ": not a manifest written by xepo synth; refusing to write into " +
                           directory.string());
    }
    std::set<std::string> listed;
    for (int number = 2; std::getline(in, line); ++number) {
        const fs::path path = fs::path(line).lexically_normal();
        const bool inside = !line.empty() && path.is_relative() && path.generic_string() == line &&
                            std::none_of(path.begin(), path.end(), [](const fs::path& part) {
                                return part == ".." || part == ".";
                            });
        if (!inside) {
            throw SessionError(name + ":" + std::to_string(number) + ": \"" + line +
                               "\" is not a file inside the session; refusing to write into " +
                               directory.string());
        }
        listed.insert(line);
    }
    return listed;
}

// Removes the files of a session an earlier writer made in `directory`, after
// checking that the directory holds nothing else: only the manifest, the files
// it lists (regular files, not links) and the real folders that hold them.
void clearOwnSession(const fs::path& directory) {
    const std::set<std::string> listed = readManifest(directory);
    std::set<std::string> folders;
    for (const std::string& file : listed) {
        for (fs::path parent = fs::path(file).parent_path(); !parent.empty();
             parent = parent.parent_path()) {
            folders.insert(parent.generic_string());
        }
    }
    std::vector<std::string> extras;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(directory, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string relative = it->path().lexically_relative(directory).generic_string();
        const fs::file_status status = it->symlink_status(ec);
        const bool ours = relative == kSynthManifestFile ||
                          (listed.count(relative) != 0 && fs::is_regular_file(status)) ||
                          (folders.count(relative) != 0 && fs::is_directory(status));
        if (!ours) {
            extras.push_back(relative);
        }
    }
    if (ec) {
        throw SessionError(directory.string() + ": cannot list (" + ec.message() + ")");
    }
    if (!extras.empty()) {
        std::sort(extras.begin(), extras.end());
        std::string names;
        for (size_t i = 0; i < extras.size() && i < kNamedExtras; ++i) {
            names += (i == 0 ? "" : ", ") + extras[i];
        }
        if (extras.size() > kNamedExtras) {
            names += " and " + std::to_string(extras.size() - kNamedExtras) + " more";
        }
        throw SessionError(directory.string() + ": holds " + names +
                           ", not written by xepo synth; refusing to write into it");
    }
    for (const std::string& file : listed) {
        fs::remove(directory / file, ec);
        if (ec) {
            throw SessionError((directory / file).string() + ": cannot remove (" + ec.message() +
                               ")");
        }
    }
    // Last, so that a run stopped half-way still finds the list.
    fs::remove(directory / kSynthManifestFile, ec);
}

void prepareDirectory(const fs::path& directory) {
    if (directory.empty()) {
        throw SessionError("the session directory name is empty");
    }
    std::error_code ec;
    if (fs::exists(directory, ec)) {
        if (!fs::is_directory(directory, ec)) {
            throw SessionError(directory.string() + ": exists and is not a directory");
        }
        if (fs::exists(fs::symlink_status(directory / kSynthManifestFile, ec))) {
            clearOwnSession(directory);
        } else if (!fs::is_empty(directory, ec)) {
            throw SessionError(directory.string() +
                               ": not empty and holds no session written by xepo synth (no " +
                               kSynthManifestFile + "); refusing to write into it");
        }
    }
    const fs::path frames = directory / kFramesFolder;
    const fs::file_status framesStatus = fs::symlink_status(frames, ec);
    if (fs::exists(framesStatus) && !fs::is_directory(framesStatus)) {
        throw SessionError(frames.string() + ": exists and is not a folder");
    }
    fs::create_directories(frames, ec);
    if (ec) {
        throw SessionError(directory.string() + ": cannot create (" + ec.message() + ")");
    }
}

// Creates `path` for writing with an exclusive mode ("wx", "wbx"): a file that
// is already there is never opened, so never overwritten.
std::FILE* createNew(const fs::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

}  // namespace

SessionWriter::SessionWriter(const std::string& directory) : directory_(directory) {
    prepareDirectory(directory_);
    const fs::path indexPath = fs::path(directory_) / kSessionIndexFile;
    index_ = createNew(indexPath, "wx");
    if (index_ == nullptr) {
        throw SessionError(indexPath.string() + ": cannot create (" + std::strerror(errno) + ")");
    }
    written_.push_back(kSessionIndexFile);
    std::fprintf(index_, "%s\n", sessionHeaderLine().c_str());
}

SessionWriter::~SessionWriter() {
    if (index_ != nullptr) {
        std::fclose(index_);
    }
    if (!finished_) {
        std::error_code ec;
        for (const std::string& file : written_) {
            fs::remove(fs::path(directory_) / file, ec);
        }
        // The folder only goes when empty, i.e. when it held only these files.
        fs::remove(fs::path(directory_) / kFramesFolder, ec);
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
        std::FILE* out = createNew(path, "wbx");
        if (out != nullptr) {
            written_.push_back(name);
        }
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
    writeManifest();
    finished_ = true;
}

void SessionWriter::writeManifest() {
    const fs::path manifest = fs::path(directory_) / kSynthManifestFile;
    fs::path partial = manifest;
    partial += ".part";
    std::FILE* out = createNew(partial, "wx");
    if (out == nullptr) {
        throw SessionError(partial.string() + ": cannot create (" + std::strerror(errno) + ")");
    }
    std::fprintf(out, "%s\n", kSynthManifestHeader);
    for (const std::string& file : written_) {
        std::fprintf(out, "%s\n", file.c_str());
    }
    const bool failed = std::ferror(out) != 0;
    const bool closed = std::fclose(out) == 0;
    std::error_code ec;
    if (!failed && closed) {
        fs::rename(partial, manifest, ec);
    }
    if (failed || !closed || ec) {
        fs::remove(partial, ec);
        throw SessionError(manifest.string() + ": write error");
    }
}
