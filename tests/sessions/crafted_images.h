// Image files made from bytes in the tests: small valid files from the
// encoder, and the same files with their declared size changed or their data
// cut, the way damaged or hostile files look.
#ifndef XEPO_TEST_CRAFTED_IMAGES_H
#define XEPO_TEST_CRAFTED_IMAGES_H

#include <stb_image_write.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

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

inline Bytes encodeJpeg(int width, int height) {
    Bytes out;
    stbi_write_jpg_to_func(appendBytes, &out, width, height, 3, noisePixels(width, height).data(),
                           90);
    return out;
}
inline Bytes encodePng(int width, int height) {
    Bytes out;
    stbi_write_png_to_func(appendBytes, &out, width, height, 3, noisePixels(width, height).data(),
                           width * 3);
    return out;
}
inline Bytes encodeBmp(int width, int height) {
    Bytes out;
    stbi_write_bmp_to_func(appendBytes, &out, width, height, 3, noisePixels(width, height).data());
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

inline void putBigEndian16(Bytes& bytes, size_t at, int value) {
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
}

// A JPEG whose frame header declares width x height.
inline Bytes withJpegSize(Bytes jpeg, int width, int height) {
    const size_t frame = jpegSegment(jpeg, 0xC0);
    putBigEndian16(jpeg, frame + 5, height);
    putBigEndian16(jpeg, frame + 7, width);
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
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

#endif  // XEPO_TEST_CRAFTED_IMAGES_H
