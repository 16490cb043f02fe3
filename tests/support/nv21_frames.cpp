#include "nv21_frames.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>

namespace {
uint8_t clampByte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}
}  // namespace

Nv21Frame nv21FromRgb(const uint8_t* rgb, int width, int height) {
    const size_t pixels = static_cast<size_t>(width) * height;
    Nv21Frame frame{width, height, std::vector<uint8_t>(pixels), std::vector<uint8_t>(pixels / 2)};
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* p = rgb + i * 3;
        frame.y[i] = clampByte(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]);
    }
    // Chroma: the mean of each 2x2 block, top-left, top-right, bottom-left, bottom-right.
    for (int row = 0; row < height / 2; ++row) {
        for (int col = 0; col < width / 2; ++col) {
            const size_t topLeft = static_cast<size_t>(row * 2) * width + col * 2;
            double rgbMean[3] = {0, 0, 0};
            for (const size_t at : {topLeft, topLeft + 1, topLeft + width, topLeft + width + 1}) {
                for (int c = 0; c < 3; ++c) {
                    rgbMean[c] += rgb[at * 3 + c] / 4.0;
                }
            }
            const auto [r, g, b] = rgbMean;
            uint8_t* vu = &frame.vu[static_cast<size_t>(row) * width + col * 2];
            vu[0] = clampByte(128.0 + 0.5 * r - 0.418688 * g - 0.081312 * b);  // V
            vu[1] = clampByte(128.0 - 0.168736 * r - 0.331264 * g + 0.5 * b);  // U
        }
    }
    return frame;
}

Nv21Frame nv21FromImageFile(const std::string& path, int width, int height) {
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &w, &h, &channels, 3);
    if (pixels == nullptr) {
        ADD_FAILURE() << "cannot decode " << path;
        return {};
    }
    std::vector<uint8_t> rgb;
    for (int row = 0; row < height; ++row) {
        const stbi_uc* line = pixels + static_cast<size_t>(row * h / height) * w * 3;
        for (int col = 0; col < width; ++col) {
            const stbi_uc* p = line + col * w / width * 3;
            rgb.insert(rgb.end(), p, p + 3);
        }
    }
    stbi_image_free(pixels);
    return nv21FromRgb(rgb.data(), width, height);
}

Nv21Frame nv21Flat(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < width * height; ++i) {
        rgb.insert(rgb.end(), {r, g, b});
    }
    return nv21FromRgb(rgb.data(), width, height);
}

std::string samplePath(const std::string& name) {
    return std::string(XEPO_SOURCE_DIR) + "/samples/" + name;
}
