// The per-frame call over arbitrary records. The input describes the VImage,
// AEParams, IMUDataBlock and result records and the pixel bytes; the engine is
// created once from the default models and keeps its state across inputs.
//
// Input layout (little-endian, fixed; missing bytes read as zero):
//   u8 control selector, i32 raw control
//   u8 format selector, i32 raw format
//   u8 size selector, i32 raw width, i32 raw height, i32 raw stride
//   u8 plane flags: 1 Y plane null, 2 UV plane null, 4 call runAeEngine instead
//   i32 rotation, u8 scale selector, f32 raw scale, i32 reserved0, u8 flip,
//   u8 lux selector, f32 raw lux, i32 isPhotoing, i32 holdFlag, i32 cameraType,
//   i32 enable_seg
//   u8 gyro selector, i32 raw count, u64 first timestamp, u32 sample spacing,
//   f32 x3 rates
//   u8 map flags: 1 segMap null, 2 map data null
//   u8 frame count selector (1..3 frames with the same records)
//   the rest: pixel bytes, repeated over both planes.
//
// Planes are always as large as the record claims (stride x height for the Y
// plane, stride x ceil(height / 2) for the interleaved chroma plane), because
// the host contract requires it: the values are fuzzed, never the pointers. A
// record that would need more than kMaxPlaneBytes is sent with null planes.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "engine_fixture.h"
#include "fuzz_input.h"
#include "xepo.h"

namespace {

// Larger frames add little: the engine scales everything to 224 x 224 first.
constexpr int64_t kMaxPlaneBytes = int64_t{24} << 20;
// Widths and heights in the "small" mode run from -4 to 1095.
constexpr uint32_t kSmallSideSpan = 1100;
constexpr int32_t kSmallSideLow = -4;
// Bytes per pixel of the widest layout the image operators accept (float RGB);
// bounds what a stride of 0 (rows packed by format) may read.
constexpr int64_t kWidestPixelBytes = 12;
constexpr size_t kMapBytes = 64 * 48;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

int32_t pickControl(uint8_t selector, int32_t raw) {
    constexpr int32_t kControls[] = {-1, 0, 1, 2, 7};
    const uint8_t pick = selector % 6;
    return pick < 5 ? kControls[pick] : raw;
}

int32_t pickFormat(uint8_t selector, int32_t raw) {
    constexpr int32_t kFormats[] = {17, 17, 2, 9, 24};
    const uint8_t pick = selector % 6;
    return pick < 5 ? kFormats[pick] : raw;
}

int32_t pickSide(bool rawMode, int32_t raw) {
    if (rawMode) {
        return raw;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(raw) % kSmallSideSpan) + kSmallSideLow;
}

int32_t pickStride(uint8_t selector, int32_t width, int32_t raw) {
    switch (selector % 4) {
        case 0:
            return width;
        case 1:
            return width + static_cast<int32_t>(static_cast<uint32_t>(raw) & 63u);
        case 2:
            return raw;
        default:
            return 0;
    }
}

float pickFloat(uint8_t selector, float raw, const float* typical, int typicalCount) {
    const int pick = selector % (4 + typicalCount);
    switch (pick) {
        case 0:
            return raw;
        case 1:
            return kNaN;
        case 2:
            return kInf;
        case 3:
            return -kInf;
        default:
            return typical[pick - 4];
    }
}

int32_t pickCount(uint8_t selector, int32_t raw) {
    constexpr int32_t kCounts[] = {0, 1, 80, 81, -5, 10, std::numeric_limits<int32_t>::min()};
    const uint8_t pick = selector % 8;
    return pick < 7 ? kCounts[pick] : raw;
}

struct Planes {
    std::unique_ptr<uint8_t[]> y;
    std::unique_ptr<uint8_t[]> uv;
};

// Exactly the bytes the record claims, so that any read past them is caught.
Planes makePlanes(int32_t width, int32_t height, int32_t stride, bool yNull, bool uvNull,
                  const uint8_t* pixels, size_t pixelCount) {
    Planes planes;
    const int64_t rows = height > 0 ? height : 0;
    const int64_t rowBytes =
        stride > 0 ? stride : static_cast<int64_t>(width > 0 ? width : 0) * kWidestPixelBytes + 2;
    // Each factor is bounded first, so the products below cannot overflow.
    if (rowBytes > kMaxPlaneBytes || rows > kMaxPlaneBytes) {
        return planes;
    }
    const int64_t yBytes = rowBytes * rows;
    const int64_t uvBytes = rowBytes * ((rows + 1) / 2);
    if (yBytes + uvBytes > kMaxPlaneBytes) {
        return planes;
    }
    // Zero-size claims still get a real (tiny) buffer, so null stays a choice.
    const size_t ySize = yBytes > 0 ? static_cast<size_t>(yBytes) : 1;
    const size_t uvSize = uvBytes > 0 ? static_cast<size_t>(uvBytes) : 1;
    if (!yNull) {
        planes.y.reset(new uint8_t[ySize]);
        fillRepeating(planes.y.get(), ySize, pixels, pixelCount);
    }
    if (!uvNull) {
        planes.uv.reset(new uint8_t[uvSize]);
        fillRepeating(planes.uv.get(), uvSize, pixels, pixelCount);
    }
    return planes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzEngine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);

    const uint8_t controlSelector = in.u8();
    const int32_t control = pickControl(controlSelector, in.i32());
    const uint8_t formatSelector = in.u8();
    const int32_t format = pickFormat(formatSelector, in.i32());
    const uint8_t sizeSelector = in.u8();
    const int32_t width = pickSide((sizeSelector & 1) != 0, in.i32());
    const int32_t height = pickSide((sizeSelector & 2) != 0, in.i32());
    const int32_t rawStride = in.i32();
    const uint8_t planeFlags = in.u8();
    const bool viaRunAeEngine = (planeFlags & 4) != 0;
    // runAeEngine always reports stride = width.
    const int32_t stride = viaRunAeEngine ? width : pickStride(sizeSelector >> 2, width, rawStride);

    AEParams params{};
    params.rotation = in.i32();
    const uint8_t scaleSelector = in.u8();
    constexpr float kScales[] = {0.0f, 1.0f, 2.0f, 0.6f, 0.5f};
    params.scale = pickFloat(scaleSelector, in.f32(), kScales, 5);
    params.reserved0 = in.i32();
    params.flip = (in.u8() & 1) != 0;
    const uint8_t luxSelector = in.u8();
    constexpr float kLuxes[] = {0.0f, 280.0f, -1.0f, 0.05f, 1e30f};
    params.aec_lux = pickFloat(luxSelector, in.f32(), kLuxes, 5);
    params.isPhotoing = in.i32();
    params.holdFlag = in.i32();
    params.cameraType = in.i32();
    params.enable_seg = in.i32();

    const uint8_t gyroSelector = in.u8();
    const int32_t count = pickCount(gyroSelector >> 2, in.i32());
    const uint64_t firstTimestamp = in.u64();
    const uint32_t spacing = in.u32();
    const float rates[3] = {in.f32(), in.f32(), in.f32()};
    auto imu = std::make_unique<IMUDataBlock>();
    imu->count = count;
    for (int i = 0; i < kImuMaxSamples; ++i) {
        const uint64_t step = static_cast<uint64_t>(spacing) * static_cast<uint64_t>(i);
        imu->timestamp[i] = (gyroSelector & 2) != 0 ? firstTimestamp - step : firstTimestamp + step;
        imu->gyroX[i] = rates[0];
        imu->gyroY[i] = rates[1];
        imu->gyroZ[i] = rates[2];
    }
    const bool imuNull = (gyroSelector & 1) != 0;

    const uint8_t mapFlags = in.u8();
    std::unique_ptr<uint8_t[]> mapBytes(new uint8_t[kMapBytes]);
    XEPOSegMap map{0, 0, 0, (mapFlags & 2) != 0 ? nullptr : mapBytes.get()};
    _XEPO_RES_ result{0.0f, 0.0f, (mapFlags & 1) != 0 ? nullptr : &map};
    const int frames = 1 + in.u8() % 3;

    Planes planes = makePlanes(width, height, stride, (planeFlags & 1) != 0, (planeFlags & 2) != 0,
                               in.rest(), in.restSize());
    VImage image{};
    image.yuv_format = format;
    image.width = width;
    image.height = height;
    image.stride = stride;
    image.yPlane = planes.y.get();
    image.uvPlane = planes.uv.get();

    void* engine = fuzzEngine();
    for (int frame = 0; frame < frames; ++frame) {
        if (viaRunAeEngine) {
            runAeEngine(engine, image.yPlane, image.uvPlane, static_cast<unsigned>(width),
                        static_cast<unsigned>(height), static_cast<unsigned>(params.rotation),
                        params.scale, params.reserved0, params.flip, &result, control,
                        params.aec_lux, imuNull ? nullptr : imu.get());
        } else {
            qiraAeProcess(engine, &image, &params, &result, control, imuNull ? nullptr : imu.get());
        }
        for (int i = 0; i < kImuMaxSamples; ++i) {
            imu->timestamp[i] += 33'000'000;
        }
    }
    return 0;
}
