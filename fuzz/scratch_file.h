// A per-process scratch file for fuzz targets that hand their input to the
// code under test as a file.
#ifndef XEPO_FUZZ_SCRATCH_FILE_H
#define XEPO_FUZZ_SCRATCH_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

// "$TMPDIR/<stem>_<pid>" (TMPDIR defaulting to /tmp).
std::string scratchFilePath(const char* stem);

// Writes `count` bytes to `path`, replacing it; false when any step fails.
bool writeScratchFile(const std::string& path, const uint8_t* bytes, size_t count);

#endif  // XEPO_FUZZ_SCRATCH_FILE_H
