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

// Renders the window pointed at (yaw, pitch) with zoom `scale` (the window is
// 1/scale of the unzoomed one, around the same centre) into an NV21 frame of
// outWidth x outHeight (stride = width): bilinear sampling in fixed point, then
// BT.601 limited range (Y 16..235), the range the image operators decode.
// Integer arithmetic throughout, so every machine makes the same bytes.
void renderWindow(const SourcePhoto& photo, const WindowGeometry& geometry, double yaw,
                  double pitch, double scale, int outWidth, int outHeight,
                  std::vector<uint8_t>& nv21);

// Lux index for a frame (larger = darker), in hundredths: 300 for a mid-grey
// frame (full-range luma 128), 1.25 lower per luma step brighter, clamped to
// 150..460. Computed from the mean of the Y plane.
int64_t luxForFrame(const std::vector<uint8_t>& nv21, int width, int height);

#endif  // XEPO_TOOL_SESSION_FRAMES_H
