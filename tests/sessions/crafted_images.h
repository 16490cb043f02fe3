// Image files made from bytes in the tests: small valid files from the
// encoder, and the same files with their declared size changed or their data
// cut, the way damaged or hostile files look.
#ifndef XEPO_TEST_CRAFTED_IMAGES_H
#define XEPO_TEST_CRAFTED_IMAGES_H

#include <stb_image_write.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "session_test_dirs.h"

using Bytes = std::vector<uint8_t>;

// Pixels that do not compress to nothing (a fixed pseudo-random pattern).
inline std::vector<uint8_t> noisePixels(int width, int height) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    uint32_t state = 12345;
    for (uint8_t& value : rgb) {
        state = state * 1664525u + 1013904223u;
        value = static_cast<uint8_t>(state >> 24);
    }
    return rgb;
}

inline void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<Bytes*>(context);
    out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

// Noise pictures of w x h in each format.
inline Bytes encodeJpeg(int w, int h) {
    Bytes out;
    stbi_write_jpg_to_func(appendBytes, &out, w, h, 3, noisePixels(w, h).data(), 90);
    return out;
}
inline Bytes encodePng(int w, int h) {
    Bytes out;
    stbi_write_png_to_func(appendBytes, &out, w, h, 3, noisePixels(w, h).data(), w * 3);
    return out;
}
inline Bytes encodeBmp(int w, int h) {
    Bytes out;
    stbi_write_bmp_to_func(appendBytes, &out, w, h, 3, noisePixels(w, h).data());
    return out;
}
inline Bytes encodePnm(int width, int height) {
    const std::string header =
        "P6\n# made by a test\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    Bytes out(header.begin(), header.end());
    const std::vector<uint8_t> rgb = noisePixels(width, height);
    out.insert(out.end(), rgb.begin(), rgb.end());
    return out;
}

// Offset of the first JPEG segment with `marker` (0xC0 start of frame, 0xDA
// start of scan), walking the segments from the start; 0 when there is none.
inline size_t jpegSegment(const Bytes& jpeg, uint8_t marker) {
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        if (jpeg[at + 1] == marker) {
            return at;
        }
        at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    }
    return 0;
}

// A JPEG whose frame header declares width x height.
inline Bytes withJpegSize(Bytes jpeg, int width, int height) {
    const uint8_t size[] = {uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
                            uint8_t(width)};
    std::copy(size, size + 4, jpeg.begin() + static_cast<long>(jpegSegment(jpeg, 0xC0) + 5));
    return jpeg;
}

// The JPEG up to the end of its scan header: all tables, no image data.
inline Bytes jpegHeaderOnly(const Bytes& jpeg) {
    const size_t scan = jpegSegment(jpeg, 0xDA);
    const size_t length = size_t{jpeg[scan + 2]} << 8 | jpeg[scan + 3];
    return Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(scan + 2 + length));
}

// A PNG whose header chunk declares width x height (the chunk's checksum is
// left as it was; the decoder does not check it).
inline Bytes withPngSize(Bytes png, uint32_t width, uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<uint8_t>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
    }
    return png;
}

inline Bytes firstBytes(const Bytes& bytes, size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(std::min(count, bytes.size())));
}

inline Bytes concat(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
    writeText(path, std::string(bytes.begin(), bytes.end()));
}

#endif  // XEPO_TEST_CRAFTED_IMAGES_H
