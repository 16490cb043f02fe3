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
    Nv21Frame frame;
    frame.width = width;
    frame.height = height;
    frame.y.resize(static_cast<size_t>(width) * height);
    frame.vu.resize(static_cast<size_t>(width) * height / 2);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            const uint8_t* p = rgb + (static_cast<size_t>(row) * width + col) * 3;
            frame.y[static_cast<size_t>(row) * width + col] =
                clampByte(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]);
        }
    }
    for (int row = 0; row < height / 2; ++row) {
        for (int col = 0; col < width / 2; ++col) {
            double r = 0, g = 0, b = 0;
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    const uint8_t* p =
                        rgb + (static_cast<size_t>(row * 2 + dy) * width + col * 2 + dx) * 3;
                    r += p[0] / 4.0;
                    g += p[1] / 4.0;
                    b += p[2] / 4.0;
                }
            }
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
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row) {
        const int srcRow = row * h / height;
        for (int col = 0; col < width; ++col) {
            const int srcCol = col * w / width;
            std::copy_n(pixels + (static_cast<size_t>(srcRow) * w + srcCol) * 3, 3,
                        &rgb[(static_cast<size_t>(row) * width + col) * 3]);
        }
    }
    stbi_image_free(pixels);
    return nv21FromRgb(rgb.data(), width, height);
}

Nv21Frame nv21Flat(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = r;
        rgb[i + 1] = g;
        rgb[i + 2] = b;
    }
    return nv21FromRgb(rgb.data(), width, height);
}

std::string samplePath(const std::string& name) {
    return std::string(XEPO_SOURCE_DIR) + "/samples/" + name;
}
