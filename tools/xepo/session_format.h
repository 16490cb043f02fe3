// Recorded sessions: a directory with "session.jsonl" (a header line, then one
// JSON object per frame) and the raw NV21 frames it names. The layout is
// described in docs/session-format.md; this header holds the record of one
// frame and the reader.
#ifndef XEPO_TOOL_SESSION_FORMAT_H
#define XEPO_TOOL_SESSION_FORMAT_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "xepo.h"
#include "xepo_contract.h"

// Value of the header's "format" key and the one version this code reads and writes.
constexpr const char* kSessionFormatName = "xepo-session";
constexpr int kSessionFormatVersion = 1;
// The index file inside a session directory.
constexpr const char* kSessionIndexFile = "session.jsonl";
// The camera's semi-planar frame (full Y plane, then interleaved V/U at half
// resolution), the only pixel format a session holds.
constexpr int kSessionPixelFormat = xepo::kFrameFormatNv21;
// Largest frame side accepted, so that sizes never overflow.
constexpr int kSessionMaxSide = 16384;

// One frame: the frame file and the records the host hands to qiraAeProcess.
struct SessionFrame {
    std::string frameFile;  // relative to the session directory
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    int32_t format = kSessionPixelFormat;
    int32_t rotation = 0;
    float scale = 1.0f;
    bool flip = false;
    float aec_lux = 0.0f;
    int32_t isPhotoing = 0;
    int32_t holdFlag = 0;
    int32_t cameraType = 0;
    int32_t enable_seg = 0;
    int32_t control = 0;
    IMUDataBlock gyro{};  // count 0..80; entries past count are zero
};

struct Session {
    std::string directory;
    std::vector<SessionFrame> frames;
};

// A malformed session; the message names the file and, where it applies, the
// line: "session.jsonl:17: gyro block has 81 samples, at most 80".
class SessionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Bytes of a frame file: stride x height luma plus half as much chroma.
uint64_t frameFileBytes(const SessionFrame& frame);

// The index lines as the writer emits them (no newline).
std::string sessionHeaderLine();
std::string sessionFrameLine(const SessionFrame& frame);

// Reads and checks the whole index and the size of every frame file. Throws
// SessionError on the first problem.
Session readSession(const std::string& directory);

// Reads the pixels of `frame` into `pixels` (resized to the file size, so a
// reused buffer does not grow). Throws SessionError when the file is missing or
// has changed size since the session was read.
void loadFramePixels(const Session& session, const SessionFrame& frame,
                     std::vector<uint8_t>& pixels);

#endif  // XEPO_TOOL_SESSION_FORMAT_H
