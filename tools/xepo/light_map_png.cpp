#include "light_map_png.h"

#include <stb_image_write.h>

#include <vector>

namespace {

constexpr int kChannels = 3;
constexpr uint8_t kLightCell = 255;
// Tint of light cells: half the picture, half this colour.
constexpr uint8_t kTint[kChannels] = {255, 40, 0};
// Outline of light-region borders, so small regions stay visible.
constexpr uint8_t kOutline[kChannels] = {255, 255, 0};

bool isLight(const uint8_t* map, int column, int row) {
    if (column < 0 || row < 0 || column >= kLightMapWidth || row >= kLightMapHeight) {
        return false;
    }
    return map[row * kLightMapWidth + column] == kLightCell;
}

// Pixel (x, y) of the image turned 90 degrees counter-clockwise (size height x
// width), sampled at a point of the thumbnail scaled onto it.
const uint8_t* turnedPixel(const RgbImage& image, int thumbX, int thumbY, int thumbWidth,
                           int thumbHeight) {
    const int turnedWidth = image.height;
    const int turnedHeight = image.width;
    const int tx = static_cast<int>(static_cast<int64_t>(thumbX) * turnedWidth / thumbWidth);
    const int ty = static_cast<int>(static_cast<int64_t>(thumbY) * turnedHeight / thumbHeight);
    // Turning counter-clockwise: turned (tx, ty) is source (width - 1 - ty, tx).
    const int sx = image.width - 1 - ty;
    const int sy = tx;
    return image.pixels + (static_cast<size_t>(sy) * image.width + sx) * kChannels;
}

}  // namespace

MapThumbnail makeMapThumbnail(const RgbImage& image, int cellSize) {
    MapThumbnail thumbnail;
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0 || cellSize <= 0) {
        return thumbnail;
    }
    thumbnail.cellSize = cellSize;
    thumbnail.width = kLightMapWidth * cellSize;
    thumbnail.height = kLightMapHeight * cellSize;
    thumbnail.pixels.resize(static_cast<size_t>(thumbnail.width) * thumbnail.height * kChannels);
    uint8_t* dst = thumbnail.pixels.data();
    for (int y = 0; y < thumbnail.height; ++y) {
        for (int x = 0; x < thumbnail.width; ++x, dst += kChannels) {
            const uint8_t* src = turnedPixel(image, x, y, thumbnail.width, thumbnail.height);
            for (int c = 0; c < kChannels; ++c) {
                dst[c] = src[c];
            }
        }
    }
    return thumbnail;
}

bool writeLightMapPng(const std::string& path, const MapThumbnail& thumbnail, const uint8_t* map,
                      std::string& error) {
    const int cellSize = thumbnail.cellSize;
    const int width = thumbnail.width;
    const int height = thumbnail.height;
    if (thumbnail.pixels.empty() || map == nullptr || cellSize <= 0) {
        error = "nothing to draw";
        return false;
    }
    std::vector<uint8_t> out(thumbnail.pixels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* dst = &out[(static_cast<size_t>(y) * width + x) * kChannels];
            const int column = x / cellSize;
            const int row = y / cellSize;
            if (!isLight(map, column, row)) {
                continue;
            }
            // A cell edge that borders a dark cell is drawn as outline.
            const bool left = x % cellSize == 0 && !isLight(map, column - 1, row);
            const bool right = x % cellSize == cellSize - 1 && !isLight(map, column + 1, row);
            const bool top = y % cellSize == 0 && !isLight(map, column, row - 1);
            const bool bottom = y % cellSize == cellSize - 1 && !isLight(map, column, row + 1);
            for (int c = 0; c < kChannels; ++c) {
                dst[c] = (left || right || top || bottom)
                             ? kOutline[c]
                             : static_cast<uint8_t>((dst[c] + kTint[c]) / 2);
            }
        }
    }
    if (stbi_write_png(path.c_str(), width, height, kChannels, out.data(), width * kChannels) ==
        0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
