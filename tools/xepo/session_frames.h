// Frames of a synthesized session: a crop window over a photograph, rendered
// to NV21, and the lux index a camera would report for it.
#ifndef XEPO_TOOL_SESSION_FRAMES_H
#define XEPO_TOOL_SESSION_FRAMES_H

#include <cstdint>
#include <string>
#include <vector>

// A decoded photograph, 8-bit RGB interleaved.
struct SourcePhoto {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Decodes `path` (any format stb_image reads); false with `error` set.
bool loadSourcePhoto(const std::string& path, SourcePhoto& photo, std::string& error);

// Horizontal field of view of the unzoomed window (radians, about 69 degrees,
// a phone's main camera). It fixes how many image pixels one radian of turn
// moves the window.
constexpr double kWindowFieldOfView = 1.2;
// The unzoomed window covers this share of the largest box of the output's
// aspect that fits in the photograph, which leaves room to move.
constexpr double kBaseWindowShare = 0.7;

// The geometry of the crop window for an output of outWidth x outHeight.
struct WindowGeometry {
    double baseWidth = 0.0;  // unzoomed window in photo pixels
    double baseHeight = 0.0;
    double pixelsPerRadian = 0.0;
    double maxYaw = 0.0;  // turns that keep the unzoomed window inside the photo
    double maxPitch = 0.0;
};
WindowGeometry windowGeometry(const SourcePhoto& photo, int outWidth, int outHeight);

// Fixed point of the sampling positions: 16 fractional bits.
constexpr int kSampleFixedShift = 16;

// The crop window in photo pixels: its top-left corner and size.
struct WindowRect {
    double left = 0.0;
    double top = 0.0;
    double width = 0.0;
    double height = 0.0;
};

// The window pointed at (yaw, pitch) with zoom `scale` (the window is 1/scale of
// the unzoomed one, around the same centre), kept inside the photo.
WindowRect cropWindow(const SourcePhoto& photo, const WindowGeometry& geometry, double yaw,
                      double pitch, double scale);

// Positions of the source samples of one output axis in fixed point
// (kSampleFixedShift fractional bits): `outCount` samples spread over
// [start, start + length), clamped to the source's last pixel.
std::vector<int64_t> samplePositions(double start, double length, int outCount, int sourceCount);

// Bilinear sample of a `channels`-channel image at fixed-point (x, y), with
// 8-bit weights and rounding to nearest. `Sum` must hold a channel value times
// 65536 (int for 8-bit images, a 64-bit type for wider ones).
template <typename Sum, typename Pixel>
void sampleBilinear(const Pixel* image, int width, int height, int channels, int64_t x, int64_t y,
                    Pixel* out) {
    const int x0 = static_cast<int>(x >> kSampleFixedShift);
    const int y0 = static_cast<int>(y >> kSampleFixedShift);
    const int x1 = x0 + 1 < width ? x0 + 1 : width - 1;
    const int y1 = y0 + 1 < height ? y0 + 1 : height - 1;
    const Sum fx = static_cast<Sum>((x >> 8) & 0xff);
    const Sum fy = static_cast<Sum>((y >> 8) & 0xff);
    const auto at = [image, width, channels](int col, int row) {
        return image + (static_cast<size_t>(row) * width + col) * channels;
    };
    const Pixel* p00 = at(x0, y0);
    const Pixel* p01 = at(x1, y0);
    const Pixel* p10 = at(x0, y1);
    const Pixel* p11 = at(x1, y1);
    for (int c = 0; c < channels; ++c) {
        const Sum top = static_cast<Sum>(p00[c]) * (256 - fx) + static_cast<Sum>(p01[c]) * fx;
        const Sum bottom = static_cast<Sum>(p10[c]) * (256 - fx) + static_cast<Sum>(p11[c]) * fx;
        out[c] = static_cast<Pixel>((top * (256 - fy) + bottom * fy + 32768) >> 16);
    }
}

// BT.601 limited range (Y 16..235) in 8-bit integer form, the range the image
// operators decode. The offsets keep every sum positive before the shift.
inline uint8_t bt601Luma(int r, int g, int b) {
    return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
inline uint8_t bt601ChromaU(int r, int g, int b) {
    return static_cast<uint8_t>((-38 * r - 74 * g + 112 * b + 128 + (128 << 8)) >> 8);
}
inline uint8_t bt601ChromaV(int r, int g, int b) {
    return static_cast<uint8_t>((112 * r - 94 * g - 18 * b + 128 + (128 << 8)) >> 8);
}

// The interleaved V/U plane of an NV21 frame (width x height / 2 bytes at
// `vu`) from an 8-bit RGB frame (interleaved, width x height, both even):
// chroma of the mean of each 2 x 2 block, V before U.
void rgbToNv21Chroma(const uint8_t* rgb, int width, int height, uint8_t* vu);

// Converts an 8-bit RGB frame to NV21 (stride = width): bt601Luma of every
// pixel, then rgbToNv21Chroma. Integer arithmetic throughout, so every machine
// makes the same bytes.
void rgbToNv21(const uint8_t* rgb, int width, int height, std::vector<uint8_t>& nv21);

// Renders the window pointed at (yaw, pitch) with zoom `scale` into an NV21
// frame of outWidth x outHeight (stride = width): bilinear sampling in fixed
// point, then rgbToNv21.
void renderWindow(const SourcePhoto& photo, const WindowGeometry& geometry, double yaw,
                  double pitch, double scale, int outWidth, int outHeight,
                  std::vector<uint8_t>& nv21);

// Lux index for a frame (larger = darker), in hundredths: 300 for a mid-grey
// frame (full-range luma 128), 1.25 lower per luma step brighter, clamped to
// 150..460. Computed from the mean of the Y plane.
int64_t luxForFrame(const std::vector<uint8_t>& nv21, int width, int height);

#endif  // XEPO_TOOL_SESSION_FRAMES_H
