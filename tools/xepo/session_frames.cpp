#include "session_frames.h"

#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image_file_check.h"

namespace {

// Fixed point of the sampling positions: 16 fractional bits.
constexpr int kFixedShift = 16;
constexpr int64_t kFixedOne = int64_t{1} << kFixedShift;

// Lux mapping (see luxForFrame).
constexpr double kMidGreyLux = 300.0;
constexpr double kMidGreyLuma = 128.0;
constexpr double kLuxPerLumaStep = 1.25;
constexpr double kMinLux = 150.0;
constexpr double kMaxLux = 460.0;

// Limited-range luma: 16 black, 235 white.
constexpr double kLumaBlack = 16.0;
constexpr double kLumaRange = 219.0;

// Positions of the source samples of one output axis, in fixed point.
std::vector<int64_t> samplePositions(double start, double length, int outCount, int sourceCount) {
    std::vector<int64_t> positions(static_cast<size_t>(outCount));
    const int64_t step = std::llround(length * kFixedOne / outCount);
    const int64_t origin = std::llround(start * kFixedOne) + step / 2 - kFixedOne / 2;
    const int64_t last = static_cast<int64_t>(sourceCount - 1) << kFixedShift;
    for (int i = 0; i < outCount; ++i) {
        positions[static_cast<size_t>(i)] = std::clamp(origin + step * i, int64_t{0}, last);
    }
    return positions;
}

// Bilinear RGB sample at fixed-point (x, y).
void samplePixel(const SourcePhoto& photo, int64_t x, int64_t y, uint8_t out[3]) {
    const int x0 = static_cast<int>(x >> kFixedShift);
    const int y0 = static_cast<int>(y >> kFixedShift);
    const int x1 = std::min(x0 + 1, photo.width - 1);
    const int y1 = std::min(y0 + 1, photo.height - 1);
    const int fx = static_cast<int>((x >> 8) & 0xff);
    const int fy = static_cast<int>((y >> 8) & 0xff);
    const auto at = [&photo](int col, int row) {
        return &photo.rgb[(static_cast<size_t>(row) * photo.width + col) * 3];
    };
    const uint8_t* p00 = at(x0, y0);
    const uint8_t* p01 = at(x1, y0);
    const uint8_t* p10 = at(x0, y1);
    const uint8_t* p11 = at(x1, y1);
    for (int c = 0; c < 3; ++c) {
        const int top = p00[c] * (256 - fx) + p01[c] * fx;
        const int bottom = p10[c] * (256 - fx) + p11[c] * fx;
        out[c] = static_cast<uint8_t>((top * (256 - fy) + bottom * fy + 32768) >> 16);
    }
}

// BT.601 limited range in 8-bit integer form. The offsets keep every sum
// positive before the shift.
uint8_t lumaOf(int r, int g, int b) {
    return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
uint8_t chromaU(int r, int g, int b) {
    return static_cast<uint8_t>((-38 * r - 74 * g + 112 * b + 128 + (128 << 8)) >> 8);
}
uint8_t chromaV(int r, int g, int b) {
    return static_cast<uint8_t>((112 * r - 94 * g - 18 * b + 128 + (128 << 8)) >> 8);
}

}  // namespace

bool loadSourcePhoto(const std::string& path, SourcePhoto& photo, std::string& error) {
    // The same checks as for the engine's image files: a size the tool can
    // afford to decode and all the data the header announces.
    ImageFileInfo info;
    std::string reason;
    const OpenFile file =
        checkImageFile(path, info, reason) ? openRegularFile(path, reason) : OpenFile();
    if (file == nullptr) {
        error = path + ": " + reason;
        return false;
    }
    int components = 0;
    stbi_uc* pixels = stbi_load_from_file(file.get(), &photo.width, &photo.height, &components, 3);
    if (pixels == nullptr) {
        const char* failure = stbi_failure_reason();
        error = "cannot decode " + path + " (" + (failure != nullptr ? failure : "unknown") + ")";
        return false;
    }
    photo.rgb.assign(pixels, pixels + static_cast<size_t>(photo.width) * photo.height * 3);
    stbi_image_free(pixels);
    return true;
}

WindowGeometry windowGeometry(const SourcePhoto& photo, int outWidth, int outHeight) {
    WindowGeometry g;
    const double aspect = static_cast<double>(outWidth) / outHeight;
    double fitWidth = photo.width;
    double fitHeight = fitWidth / aspect;
    if (fitHeight > photo.height) {
        fitHeight = photo.height;
        fitWidth = fitHeight * aspect;
    }
    g.baseWidth = fitWidth * kBaseWindowShare;
    g.baseHeight = fitHeight * kBaseWindowShare;
    g.pixelsPerRadian = g.baseWidth / kWindowFieldOfView;
    g.maxYaw = 0.5 * (photo.width - g.baseWidth) / g.pixelsPerRadian;
    g.maxPitch = 0.5 * (photo.height - g.baseHeight) / g.pixelsPerRadian;
    return g;
}

void renderWindow(const SourcePhoto& photo, const WindowGeometry& geometry, double yaw,
                  double pitch, double scale, int outWidth, int outHeight,
                  std::vector<uint8_t>& nv21) {
    const double zoom = scale > 0.0 ? scale : 1.0;
    const double width = std::min(geometry.baseWidth / zoom, static_cast<double>(photo.width));
    const double height = std::min(geometry.baseHeight / zoom, static_cast<double>(photo.height));
    const double centreX = 0.5 * photo.width + yaw * geometry.pixelsPerRadian;
    const double centreY = 0.5 * photo.height + pitch * geometry.pixelsPerRadian;
    const double left = std::clamp(centreX - 0.5 * width, 0.0, photo.width - width);
    const double top = std::clamp(centreY - 0.5 * height, 0.0, photo.height - height);
    const std::vector<int64_t> xs = samplePositions(left, width, outWidth, photo.width);
    const std::vector<int64_t> ys = samplePositions(top, height, outHeight, photo.height);

    const size_t lumaBytes = static_cast<size_t>(outWidth) * outHeight;
    nv21.assign(lumaBytes * 3 / 2, 0);
    // Two rows of RGB at a time: chroma averages each 2 x 2 block.
    std::vector<uint8_t> rows(static_cast<size_t>(outWidth) * 2 * 3);
    for (int row = 0; row < outHeight; row += 2) {
        for (int dy = 0; dy < 2; ++dy) {
            for (int col = 0; col < outWidth; ++col) {
                uint8_t* rgb = &rows[(static_cast<size_t>(dy) * outWidth + col) * 3];
                samplePixel(photo, xs[static_cast<size_t>(col)], ys[static_cast<size_t>(row + dy)],
                            rgb);
                nv21[static_cast<size_t>(row + dy) * outWidth + col] =
                    lumaOf(rgb[0], rgb[1], rgb[2]);
            }
        }
        uint8_t* vu = &nv21[lumaBytes + static_cast<size_t>(row / 2) * outWidth];
        for (int col = 0; col < outWidth; col += 2) {
            int sum[3] = {0, 0, 0};
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    const uint8_t* rgb = &rows[(static_cast<size_t>(dy) * outWidth + col + dx) * 3];
                    for (int c = 0; c < 3; ++c) {
                        sum[c] += rgb[c];
                    }
                }
            }
            const int r = (sum[0] + 2) >> 2;
            const int g = (sum[1] + 2) >> 2;
            const int b = (sum[2] + 2) >> 2;
            vu[col] = chromaV(r, g, b);
            vu[col + 1] = chromaU(r, g, b);
        }
    }
}

int64_t luxForFrame(const std::vector<uint8_t>& nv21, int width, int height) {
    const size_t count = static_cast<size_t>(width) * height;
    uint64_t sum = 0;
    for (size_t i = 0; i < count && i < nv21.size(); ++i) {
        sum += nv21[i];
    }
    const double meanLuma = static_cast<double>(sum) / static_cast<double>(count);
    const double fullRange = (meanLuma - kLumaBlack) * 255.0 / kLumaRange;
    const double lux =
        std::clamp(kMidGreyLux - kLuxPerLumaStep * (fullRange - kMidGreyLuma), kMinLux, kMaxLux);
    return std::llround(lux * 100.0);
}
