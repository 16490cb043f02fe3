// Picture of the engine's 64 x 48 light-region map over a thumbnail of the image.
#ifndef XEPO_TOOL_LIGHT_MAP_PNG_H
#define XEPO_TOOL_LIGHT_MAP_PNG_H

#include <cstdint>
#include <string>
#include <vector>

// An 8-bit RGB image decoded by the tool.
struct RgbImage {
    int width = 0;
    int height = 0;
    const uint8_t* pixels = nullptr;  // width x height x 3, interleaved
};

// Cells of the map, 64 columns by 48 rows, one byte each (255 light).
constexpr int kLightMapWidth = 64;
constexpr int kLightMapHeight = 48;
constexpr int kLightMapBytes = kLightMapWidth * kLightMapHeight;

// The image entry hands the decoded image to the light-segmentation model as it
// is and turns the mask back as for a frame rotated by 90 degrees, so the map
// shows the image turned 90 degrees counter-clockwise. The thumbnail is turned
// the same way, so that light cells lie over the light sources.
struct MapThumbnail {
    int cellSize = 0;
    int width = 0;                // 64 x cellSize
    int height = 0;               // 48 x cellSize
    std::vector<uint8_t> pixels;  // width x height x 3, interleaved
};

// The image turned as the map is and sampled at every pixel of a picture of
// 64 x 48 cells of `cellSize` pixels. It holds all the picture needs, so the
// image itself can be freed before the engine runs. Empty when there is
// nothing to sample.
MapThumbnail makeMapThumbnail(const RgbImage& image, int cellSize);

// Writes the thumbnail as a PNG with light cells tinted and outlined. False
// (with `error` set) when the file cannot be written.
bool writeLightMapPng(const std::string& path, const MapThumbnail& thumbnail, const uint8_t* map,
                      std::string& error);

#endif  // XEPO_TOOL_LIGHT_MAP_PNG_H
