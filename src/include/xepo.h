// Public interface of the XEPO auto-exposure engine.
//
// The camera host fills these records, hands them to the engine functions and
// reads the answer back. Records are owned by the host; the engine keeps no
// pointer to them after a call returns. Layouts are fixed for a 64-bit
// little-endian target with natural alignment and are checked below.
//
// The engine functions have C++ linkage on purpose: their exported symbols
// carry the parameter types, and hosts bind to those symbols.
#ifndef XEPO_H
#define XEPO_H

#include <cstddef>
#include <cstdint>

#define XEPO_API __attribute__((visibility("default")))

// One camera frame in a semi-planar YUV layout (format 17: full-resolution Y
// plane, then interleaved chroma at half resolution in both directions).
struct VImage {
    int32_t yuv_format;
    int32_t width;
    int32_t height;
    uint8_t unused0[4];
    uint8_t* yPlane;
    uint8_t* uvPlane;
    uint8_t unused1[16];
    int32_t stride;
    uint8_t unused2[12];
};

// The camera's own exposure state for this frame.
struct AEParams {
    int32_t rotation;    // degrees, taken modulo 360 as unsigned; 90/180/270 rotate
    float scale;         // zoom ratio of the current camera; 0 = not reported
    int32_t reserved0;   // handed on to frame preparation, unused there
    bool flip;           // mirror the prepared image
    float aec_lux;       // lux index; larger means darker
    int32_t isPhotoing;  // 1 while a still capture is taken
    int32_t holdFlag;    // 1: output the previous result and keep it
    int32_t cameraType;  // 1: ultra-wide camera
    uint8_t unused0[64];
    int32_t enable_seg;  // non-zero enables the light-segmentation path
};

// Gyroscope samples received since the previous frame.
constexpr int kImuMaxSamples = 80;
struct IMUDataBlock {
    int32_t count;                       // valid samples, 1..80
    uint64_t timestamp[kImuMaxSamples];  // nanoseconds, ascending
    float gyroX[kImuMaxSamples];         // radians per second
    float gyroY[kImuMaxSamples];
    float gyroZ[kImuMaxSamples];
};

// Light-region map handed to the host: 64 x 48 cells, one byte each (255 light).
struct XEPOSegMap {
    int32_t type;    // written 9 (one channel of 8 bits)
    int32_t width;   // written 64
    int32_t height;  // written 48
    uint8_t* data;   // host buffer of at least 3072 bytes, or null
};

// The engine's answer for one frame.
struct _XEPO_RES_ {
    // Exposure target score, 18.0 neutral. Scores are mapped onto 11.0..44.0,
    // then a bright scene marked high-key or as a light scene is raised by 4
    // per mark: the frame call answers at most 48.0, the image-file entry at
    // most 52.0. Controls 0 and 1 answer the models' own values instead.
    float result;
    float confidence;  // 0.8, 0.82, 0.9 or 0.92 on the full pipeline
    XEPOSegMap* segMap;
};

static_assert(sizeof(void*) == 8, "records are laid out for a 64-bit target");
static_assert(offsetof(VImage, yuv_format) == 0 && offsetof(VImage, width) == 4 &&
                  offsetof(VImage, height) == 8 && offsetof(VImage, yPlane) == 16 &&
                  offsetof(VImage, uvPlane) == 24 && offsetof(VImage, stride) == 48 &&
                  sizeof(VImage) == 64,
              "VImage layout");
static_assert(offsetof(AEParams, rotation) == 0 && offsetof(AEParams, scale) == 4 &&
                  offsetof(AEParams, reserved0) == 8 && offsetof(AEParams, flip) == 12 &&
                  offsetof(AEParams, aec_lux) == 16 && offsetof(AEParams, isPhotoing) == 20 &&
                  offsetof(AEParams, holdFlag) == 24 && offsetof(AEParams, cameraType) == 28 &&
                  offsetof(AEParams, enable_seg) == 96 && sizeof(AEParams) == 100,
              "AEParams layout");
static_assert(offsetof(IMUDataBlock, count) == 0 && offsetof(IMUDataBlock, timestamp) == 8 &&
                  offsetof(IMUDataBlock, gyroX) == 648 && offsetof(IMUDataBlock, gyroY) == 968 &&
                  offsetof(IMUDataBlock, gyroZ) == 1288 && sizeof(IMUDataBlock) == 1608,
              "IMUDataBlock layout");
static_assert(offsetof(XEPOSegMap, type) == 0 && offsetof(XEPOSegMap, width) == 4 &&
                  offsetof(XEPOSegMap, height) == 8 && offsetof(XEPOSegMap, data) == 16 &&
                  sizeof(XEPOSegMap) == 24,
              "XEPOSegMap layout");
static_assert(offsetof(_XEPO_RES_, result) == 0 && offsetof(_XEPO_RES_, confidence) == 4 &&
                  offsetof(_XEPO_RES_, segMap) == 8 && sizeof(_XEPO_RES_) == 16,
              "_XEPO_RES_ layout");

// Keys of AeSetParam: each appends its model file name to the value.
enum AeParamKey : int {
    kAeKeyAlbedoAlt = 1,     // "xepo_albedo.qdnn", stored only
    kAeKeyEntranceAlt = 3,   // "xepo_entrance.qdnn", stored only
    kAeKeyAlbedoHtp = 5,     // "libxepo_albedo_htp.qdnn"
    kAeKeyEntranceHtp = 7,   // "libxepo_entrance_htp.qdnn"
    kAeKeyAlbedo = 9,        // "xepo_albedo.qdnn"
    kAeKeyEntrance = 10,     // "xepo_entrance.qdnn"
    kAeKeyLightSegHtp = 11,  // "libstdc_fp16_htp.qdnn"
    kAeKeyLightSeg = 13,     // "light-STDCNet813.pt.tflite.qdnn"
    kAeKeySmoothAlt = 14,    // "xepo_smooth.qdnn", stored only
    kAeKeySmoothHtp = 15,    // "libxepo_smooth_htp.qdnn"
    kAeKeySmooth = 16,       // "xepo_smooth.qdnn"
};

// Writes the version line to the log; returns the log call's status.
XEPO_API int getAeVersion();

// Parameter handle: the model file paths the engine is created from.
XEPO_API void* CreateParamHandle();
XEPO_API void releaseParamHandle(void** handle);
// Stores value followed directly by the key's file name (no separator is
// inserted, so value is a directory ending in "/"). 0 on success, -1001 for a
// null handle, key 0 or a null value; unsupported keys are logged and ignored.
XEPO_API int AeSetParam(void* handle, int key, char const* value);

// Engine lifecycle: a single instance per process.
XEPO_API void* initAeEngine(void* paramHandle);
XEPO_API void releaseAeEngine(void** engine);

// Per-frame decision. control -1: neutral answer; 0: entrance model only;
// 1: albedo model only; anything else: the full pipeline.
XEPO_API void qiraAeProcess(void* engine, VImage* image, AEParams* params, _XEPO_RES_* result,
                            int control, IMUDataBlock* imu);
XEPO_API void runAeEngine(void* engine, unsigned char* yPlane, unsigned char* uvPlane,
                          unsigned int width, unsigned int height, unsigned int rotation,
                          float scale, int reserved0, bool flip, _XEPO_RES_* result, int control,
                          float aec_lux, IMUDataBlock* imu);

// Runs the models on an image file, for evaluation off the camera.
XEPO_API void runAeEngineImage(void* engine, char const* imagePath, _XEPO_RES_* result,
                               float aec_lux, int control);

// Creates the image-operator context and registers the operators the engine uses.
XEPO_API int initTAVKIT(long& tavkitHandle);

#endif  // XEPO_H
