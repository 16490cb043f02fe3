// Helpers of the labelling tests: owned mask and label images, and masks drawn
// from text.
#ifndef XEPO_TEST_LABEL_IMAGES_H
#define XEPO_TEST_LABEL_IMAGES_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imgproc/kal_labeling/qira_image.h"

// A qiraImage that owns its buffer.
class OwnedImage {
  public:
    OwnedImage(int32_t width, int32_t height, uint32_t format)
        : image_(qiraImageCreate(width, height, format)) {}
    ~OwnedImage() {
        if (image_.data[0] != nullptr) {
            qiraImageRelease(&image_);
        }
    }
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;

    qiraImage& get() { return image_; }
    const qiraImage& get() const { return image_; }
    qiraImage* operator->() { return &image_; }

    uint8_t* maskRow(int32_t y) {
        return static_cast<uint8_t*>(image_.data[0]) + static_cast<ptrdiff_t>(y) * image_.stride[0];
    }
    uint16_t* labelRow(int32_t y) {
        return reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(image_.data[0]) +
                                           static_cast<ptrdiff_t>(y) * image_.stride[0]);
    }
    uint16_t label(int32_t x, int32_t y) { return labelRow(y)[x]; }

  private:
    qiraImage image_;
};

// A format 9 mask from rows of text: '#' is 255, anything else 0.
inline void drawMask(OwnedImage& mask, const std::vector<std::string>& rows) {
    for (int32_t y = 0; y < mask->height; ++y) {
        uint8_t* row = mask.maskRow(y);
        std::memset(row, 0, static_cast<size_t>(mask->width));
        for (int32_t x = 0; x < mask->width && y < static_cast<int32_t>(rows.size()) &&
                            x < static_cast<int32_t>(rows[y].size());
             ++x) {
            row[x] = rows[y][x] == '#' ? 255 : 0;
        }
    }
}

inline void fillMask(OwnedImage& mask, uint8_t value) {
    for (int32_t y = 0; y < mask->height; ++y) {
        std::memset(mask.maskRow(y), value, static_cast<size_t>(mask->width));
    }
}

#endif  // XEPO_TEST_LABEL_IMAGES_H
