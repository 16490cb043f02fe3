// Writes a session directory: the index and one file per distinct frame.
#ifndef XEPO_TOOL_SESSION_WRITER_H
#define XEPO_TOOL_SESSION_WRITER_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "session_format.h"

// The list of the files a writer made in a session directory (paths relative
// to it, one a line, after a fixed first line), written when the session is
// complete. A later writer removes exactly these files and nothing else.
constexpr const char* kSynthManifestFile = "synth-manifest.txt";
constexpr const char* kSynthManifestHeader =
    "# xepo synth wrote these files; it removes only these when it writes here again";

class SessionWriter {
  public:
    // Prepares `directory`: creates it, takes it when empty, or removes the
    // files a writer listed in its manifest there. Refuses (SessionError) an
    // empty name, a non-empty directory without a manifest, and a directory
    // that holds anything the manifest does not list (or a listed file that is
    // not a regular file), so that nothing it did not write is touched.
    explicit SessionWriter(const std::string& directory);
    // A writer that did not finish removes the files it wrote.
    ~SessionWriter();
    SessionWriter(const SessionWriter&) = delete;
    SessionWriter& operator=(const SessionWriter&) = delete;

    // Appends a frame; `pixels` holds frameFileBytes(frame) bytes. Frames with
    // the same bytes share one file ("frames/<first frame index>.nv21"). Sets
    // frame.frameFile. Throws SessionError when a file cannot be written.
    void addFrame(SessionFrame& frame, const uint8_t* pixels);

    // Flushes and closes the index, then writes the manifest (under a
    // temporary name, renamed when complete); throws SessionError on a write
    // error.
    void finish();

    int frameCount() const { return frameCount_; }
    int fileCount() const { return fileCount_; }

  private:
    std::string findSameFrame(uint64_t hash, const uint8_t* pixels, size_t bytes) const;
    void writeManifest();

    std::string directory_;
    std::FILE* index_ = nullptr;
    bool finished_ = false;
    // Files made so far, relative to the directory, in the order made.
    std::vector<std::string> written_;
    int frameCount_ = 0;
    int fileCount_ = 0;
    // Content hash -> files with that hash (compared byte by byte on a match).
    std::multimap<uint64_t, std::string> filesByHash_;
};

#endif  // XEPO_TOOL_SESSION_WRITER_H
