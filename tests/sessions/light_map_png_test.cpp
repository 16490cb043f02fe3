// The light-map picture: every light cell tinted, each edge it shares with a
// dark cell (or the border) outlined, dark cells left as the thumbnail shows
// them, wherever the light cells lie in a row.
#include "light_map_png.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "session_test_dirs.h"

namespace {

constexpr int kCell = 4;
constexpr uint8_t kGrey = 100;
const std::array<uint8_t, 3> kPicture = {kGrey, kGrey, kGrey};
const std::array<uint8_t, 3> kOutline = {255, 255, 0};
const std::array<uint8_t, 3> kTinted = {(kGrey + 255) / 2, (kGrey + 40) / 2, (kGrey + 0) / 2};

TEST(LightMapPng, TintsAndOutlinesEveryLightCellOfARow) {
    const std::vector<uint8_t> grey(32 * 24 * 3, kGrey);
    const MapThumbnail thumbnail = makeMapThumbnail({32, 24, grey.data()}, kCell);
    ASSERT_EQ(thumbnail.width, kLightMapWidth * kCell);
    // A single cell after dark ones in its row, a 2 x 2 block further on, and
    // the map's first cell.
    std::vector<uint8_t> map(kLightMapBytes, 0);
    for (const auto& [column, row] :
         {std::pair{10, 5}, {30, 5}, {31, 5}, {30, 6}, {31, 6}, {0, 0}}) {
        map[row * kLightMapWidth + column] = 255;
    }
    const std::string path = freshTestDir() + "/map.png";
    std::string error;
    ASSERT_TRUE(writeLightMapPng(path, thumbnail, map.data(), error)) << error;

    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(std::make_pair(width, height), std::make_pair(thumbnail.width, thumbnail.height));
    // what, the cell's column and row, the pixel's place in the cell, its colour
    const std::tuple<const char*, int, int, int, int, std::array<uint8_t, 3>> cases[] = {
        {"dark cell", 9, 5, 1, 1, kPicture},
        {"lone cell, inside", 10, 5, 1, 2, kTinted},
        {"lone cell, left edge", 10, 5, 0, 1, kOutline},
        {"lone cell, right edge", 10, 5, kCell - 1, 1, kOutline},
        {"lone cell, top edge", 10, 5, 1, 0, kOutline},
        {"lone cell, bottom edge", 10, 5, 2, kCell - 1, kOutline},
        {"block, edge shared with a light cell", 30, 5, kCell - 1, 1, kTinted},
        {"block, edge shared below", 31, 5, 1, kCell - 1, kTinted},
        {"block, outer edge", 31, 6, kCell - 1, 2, kOutline},
        {"dark cell after the block", 32, 5, 0, 1, kPicture},
        {"first cell, inside", 0, 0, 1, 2, kTinted},
        {"first cell, edge on the border", 0, 0, 1, 0, kOutline},
    };
    for (const auto& [what, column, row, dx, dy, expected] : cases) {
        const size_t at =
            ((row * kCell + dy) * static_cast<size_t>(width) + column * kCell + dx) * 3;
        EXPECT_EQ((std::array<uint8_t, 3>{pixels[at], pixels[at + 1], pixels[at + 2]}), expected)
            << what;
    }
    stbi_image_free(pixels);
}

}  // namespace
