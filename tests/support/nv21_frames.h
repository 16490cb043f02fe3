// Camera-like NV21 frames made from photographs or flat colours, for tests
// that feed the frame entry points.
#ifndef XEPO_TEST_NV21_FRAMES_H
#define XEPO_TEST_NV21_FRAMES_H

#include <cstdint>
#include <string>
#include <vector>

struct Nv21Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y;   // width x height
    std::vector<uint8_t> vu;  // interleaved V, U at half resolution
};

// Converts packed RGB (width x height x 3) to NV21 with BT.601 full-range
// coefficients. Width and height must be even.
Nv21Frame nv21FromRgb(const uint8_t* rgb, int width, int height);

// Decodes an image file, resizes it (nearest sample) to width x height and
// converts it to NV21. Fails the current test and returns an empty frame when
// the file cannot be decoded.
Nv21Frame nv21FromImageFile(const std::string& path, int width, int height);

// A frame of one colour.
Nv21Frame nv21Flat(int width, int height, uint8_t r, uint8_t g, uint8_t b);

// Path of a bundled sample photograph ("samples/<name>").
std::string samplePath(const std::string& name);

#endif  // XEPO_TEST_NV21_FRAMES_H
