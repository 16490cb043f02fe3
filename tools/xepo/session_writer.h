// Writes a session directory: the index and one file per distinct frame.
#ifndef XEPO_TOOL_SESSION_WRITER_H
#define XEPO_TOOL_SESSION_WRITER_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "session_format.h"

class SessionWriter {
  public:
    // Prepares `directory`: creates it, or clears the index and frames of an
    // earlier session in it. Refuses (SessionError) a non-empty directory that
    // holds no session, so that nothing unrelated is overwritten.
    explicit SessionWriter(const std::string& directory);
    ~SessionWriter();
    SessionWriter(const SessionWriter&) = delete;
    SessionWriter& operator=(const SessionWriter&) = delete;

    // Appends a frame; `pixels` holds frameFileBytes(frame) bytes. Frames with
    // the same bytes share one file ("frames/<first frame index>.nv21"). Sets
    // frame.frameFile. Throws SessionError when a file cannot be written.
    void addFrame(SessionFrame& frame, const uint8_t* pixels);

    // Flushes and closes the index; throws SessionError on a write error.
    void finish();

    int frameCount() const { return frameCount_; }
    int fileCount() const { return fileCount_; }

  private:
    std::string findSameFrame(uint64_t hash, const uint8_t* pixels, size_t bytes) const;

    std::string directory_;
    std::FILE* index_ = nullptr;
    int frameCount_ = 0;
    int fileCount_ = 0;
    // Content hash -> files with that hash (compared byte by byte on a match).
    std::multimap<uint64_t, std::string> filesByHash_;
};

#endif  // XEPO_TOOL_SESSION_WRITER_H
