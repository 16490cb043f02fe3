// Mask and label images for the labelling tests.
#ifndef XEPO_TEST_LABEL_IMAGES_H
#define XEPO_TEST_LABEL_IMAGES_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imgproc/kal_labeling/qira_image.h"

// A qiraImage that owns its buffer, drawn from rows of text: in a mask '#' is
// 255, in a label image a digit is that label; anything else (and anything
// outside the rows) is 0.
struct OwnedImage {
    qiraImage image;
    OwnedImage(int32_t width, int32_t height, uint32_t format,
               const std::vector<std::string>& rows = {})
        : image(qiraImageCreate(width, height, format)) {
        const int32_t bytes = format == kQiraFormatGray16 ? 2 : 1;
        for (int32_t y = 0; y < height; ++y) {
            std::memset(row(y), 0, static_cast<size_t>(width) * bytes);
            for (int32_t x = 0; y < int32_t(rows.size()) && x < int32_t(rows[y].size()); ++x) {
                const char c = rows[y][x];
                if (bytes == 1) {
                    row(y)[x] = c == '#' ? 255 : 0;
                } else {
                    label(x, y) = c >= '0' && c <= '9' ? c - '0' : 0;
                }
            }
        }
    }
    ~OwnedImage() {
        if (image.data[0] != nullptr) {
            qiraImageRelease(&image);
        }
    }
    uint8_t* row(int32_t y) { return static_cast<uint8_t*>(image.data[0]) + y * image.stride[0]; }
    uint16_t& label(int32_t x, int32_t y) { return reinterpret_cast<uint16_t*>(row(y))[x]; }
};

#endif  // XEPO_TEST_LABEL_IMAGES_H
