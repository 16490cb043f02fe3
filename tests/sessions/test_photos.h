// Photos drawn pixel by pixel, for the synth and closed-loop tests.
#ifndef XEPO_TEST_TEST_PHOTOS_H
#define XEPO_TEST_TEST_PHOTOS_H

#include <array>
#include <cstdint>
#include <functional>

#include "session_frames.h"

// A photo whose pixel at (x, y) is `pixel(x, y)`.
inline SourcePhoto photoOf(int width, int height,
                           const std::function<std::array<uint8_t, 3>(int, int)>& pixel) {
    SourcePhoto photo{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::array<uint8_t, 3> rgb = pixel(x, y);
            photo.rgb.insert(photo.rgb.end(), rgb.begin(), rgb.end());
        }
    }
    return photo;
}

inline SourcePhoto flatPhoto(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    return photoOf(width, height, [=](int, int) { return std::array<uint8_t, 3>{r, g, b}; });
}

#endif  // XEPO_TEST_TEST_PHOTOS_H
