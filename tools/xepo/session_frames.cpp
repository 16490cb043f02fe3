#include "session_frames.h"

#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image_file_check.h"

namespace {

constexpr int64_t kFixedOne = int64_t{1} << kSampleFixedShift;
constexpr int kRgbChannels = 3;

// Lux mapping (see luxForFrame).
constexpr double kMidGreyLux = 300.0;
constexpr double kMidGreyLuma = 128.0;
constexpr double kLuxPerLumaStep = 1.25;
constexpr double kMinLux = 150.0;
constexpr double kMaxLux = 460.0;

// Limited-range luma: 16 black, 235 white.
constexpr double kLumaBlack = 16.0;
constexpr double kLumaRange = 219.0;

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

WindowRect cropWindow(const SourcePhoto& photo, const WindowGeometry& geometry, double yaw,
                      double pitch, double scale) {
    const double zoom = scale > 0.0 ? scale : 1.0;
    WindowRect rect;
    rect.width = std::min(geometry.baseWidth / zoom, static_cast<double>(photo.width));
    rect.height = std::min(geometry.baseHeight / zoom, static_cast<double>(photo.height));
    const double centreX = 0.5 * photo.width + yaw * geometry.pixelsPerRadian;
    const double centreY = 0.5 * photo.height + pitch * geometry.pixelsPerRadian;
    rect.left = std::clamp(centreX - 0.5 * rect.width, 0.0, photo.width - rect.width);
    rect.top = std::clamp(centreY - 0.5 * rect.height, 0.0, photo.height - rect.height);
    return rect;
}

std::vector<int64_t> samplePositions(double start, double length, int outCount, int sourceCount) {
    std::vector<int64_t> positions(static_cast<size_t>(outCount));
    const int64_t step = std::llround(length * kFixedOne / outCount);
    const int64_t origin = std::llround(start * kFixedOne) + step / 2 - kFixedOne / 2;
    const int64_t last = static_cast<int64_t>(sourceCount - 1) << kSampleFixedShift;
    for (int i = 0; i < outCount; ++i) {
        positions[static_cast<size_t>(i)] = std::clamp(origin + step * i, int64_t{0}, last);
    }
    return positions;
}

void rgbToNv21Chroma(const uint8_t* rgb, int width, int height, uint8_t* vu) {
    const size_t rowBytes = static_cast<size_t>(width) * kRgbChannels;
    for (int row = 0; row + 1 < height; row += 2) {
        const uint8_t* upper = rgb + static_cast<size_t>(row) * rowBytes;
        const uint8_t* lower = upper + rowBytes;
        uint8_t* out = vu + static_cast<size_t>(row / 2) * width;
        for (int col = 0; col + 1 < width; col += 2) {
            const size_t at = static_cast<size_t>(col) * kRgbChannels;
            const int r = (upper[at] + upper[at + 3] + lower[at] + lower[at + 3] + 2) >> 2;
            const int g = (upper[at + 1] + upper[at + 4] + lower[at + 1] + lower[at + 4] + 2) >> 2;
            const int b = (upper[at + 2] + upper[at + 5] + lower[at + 2] + lower[at + 5] + 2) >> 2;
            out[col] = bt601ChromaV(r, g, b);
            out[col + 1] = bt601ChromaU(r, g, b);
        }
    }
}

void rgbToNv21(const uint8_t* rgb, int width, int height, std::vector<uint8_t>& nv21) {
    const size_t lumaBytes = static_cast<size_t>(width) * height;
    nv21.resize(lumaBytes * 3 / 2);
    uint8_t* luma = nv21.data();
    for (size_t i = 0; i < lumaBytes; ++i, rgb += kRgbChannels) {
        luma[i] = bt601Luma(rgb[0], rgb[1], rgb[2]);
    }
    rgbToNv21Chroma(rgb - lumaBytes * kRgbChannels, width, height, luma + lumaBytes);
}

void renderWindow(const SourcePhoto& photo, const WindowGeometry& geometry, double yaw,
                  double pitch, double scale, int outWidth, int outHeight,
                  std::vector<uint8_t>& nv21) {
    const WindowRect rect = cropWindow(photo, geometry, yaw, pitch, scale);
    const std::vector<int64_t> xs = samplePositions(rect.left, rect.width, outWidth, photo.width);
    const std::vector<int64_t> ys = samplePositions(rect.top, rect.height, outHeight, photo.height);
    std::vector<uint8_t> rgb(static_cast<size_t>(outWidth) * outHeight * kRgbChannels);
    uint8_t* out = rgb.data();
    for (int row = 0; row < outHeight; ++row) {
        for (int col = 0; col < outWidth; ++col, out += kRgbChannels) {
            sampleBilinear<int>(photo.rgb.data(), photo.width, photo.height, kRgbChannels,
                                xs[static_cast<size_t>(col)], ys[static_cast<size_t>(row)], out);
        }
    }
    rgbToNv21(rgb.data(), outWidth, outHeight, nv21);
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
