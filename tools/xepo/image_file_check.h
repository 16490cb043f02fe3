// Checks of an image file before anything decodes it: that it is a regular
// file, that its declared size is one the tool can afford to decode, and, for
// the formats whose structure says where the image data ends, that the file
// really holds all of it.
#ifndef XEPO_TOOL_IMAGE_FILE_CHECK_H
#define XEPO_TOOL_IMAGE_FILE_CHECK_H

#include <cstdint>
#include <string>

#include "regular_file.h"

// The decoder's largest working set, in bytes per pixel: a 16-bit RGBA PNG holds
// its inflated rows and its decoded pixels at once (measured: 16.1).
constexpr int64_t kDecodeBytesPerPixelWorst = 16;
// One decode may take this much, so that with the process itself (engine and
// models, about 35 MiB) the tool stays under 512 MiB resident.
constexpr int64_t kDecodeBudgetBytes = int64_t{384} << 20;
// Largest image the tool lets anything decode (25,165,824 pixels, e.g. 6144 x
// 4096). The tool decodes a file once and keeps only a thumbnail, so its decode
// and the engine's own decode of the same file never add up.
constexpr int64_t kMaxImagePixels = kDecodeBudgetBytes / kDecodeBytesPerPixelWorst;

struct ImageFileInfo {
    const char* format = "image";  // "JPEG", "PNG", "BMP", "PNM", or "image" for the rest
    int width = 0;
    int height = 0;
};

// Checks `path`: a regular file whose header the decoder reads, a declared
// size of at most kMaxImagePixels, and for JPEG, PNG, BMP and PNM enough bytes
// for the image the header announces (a JPEG needs its end-of-image marker, a
// PNG its IEND chunk). Reads the file once, in small pieces, without decoding
// pixels. False with `error` set to a sentence that names the format.
bool checkImageFile(const std::string& path, ImageFileInfo& info, std::string& error);

#endif  // XEPO_TOOL_IMAGE_FILE_CHECK_H
