// The engine's view of the platform image-operator library "libtavkit_camera.so".
//
// The engine links it by name and uses only what is declared here: a
// configuration record, a context handle, numbered operators and a 1336-byte
// parameter record of which the engine writes the fields named below. Every
// function returns 0 on success; other values are the library's own codes,
// which the engine only logs.
#ifndef TAVKIT_API_H
#define TAVKIT_API_H

#include <cstddef>
#include <cstdint>

extern "C" {

// Image format codes.
enum TavkitFormat : uint32_t {
    kTavkitFormatRgb = 2,             // 3 channels, interleaved
    kTavkitFormatGray = 9,            // 1 channel
    kTavkitFormatYuvSemiPlanar = 17,  // Y plane + interleaved V/U at half resolution (NV21)
    kTavkitFormatGray16 = 24,         // 1 channel of 16 bits
};

// Element type codes.
enum TavkitElementType : uint32_t {
    kTavkitTypeU8 = 1,
    kTavkitTypeS32 = 6,
    kTavkitTypeF32 = 8,
};

// Operator ids.
enum TavkitOperator : int32_t {
    kTavkitCalcHist = 2,
    kTavkitGaussianFilter = 3,
    kTavkitNormalization = 14,
    kTavkitResizeBilinear = 19,
    kTavkitColorToGray = 21,
    kTavkitReserved27 = 27,  // registered only
    kTavkitFlip = 47,
    kTavkitReserved48 = 48,  // registered only
    kTavkitRectCut = 50,
    kTavkitRotate = 53,
};

// Rotation codes of TavkitParams::code for the rotate operator (clockwise).
enum TavkitRotateCode : uint32_t {
    kTavkitRotate90 = 0,
    kTavkitRotate180 = 1,
    kTavkitRotate270 = 2
};

// Context configuration: sixteen 32-bit words, defaults from initTavkitConfig.
struct TavkitConfig {
    int32_t words[16];
};

// One image as an operator sees it.
struct TavkitImageDesc {
    uint32_t format;       // TavkitFormat
    uint32_t elementType;  // TavkitElementType
    uint8_t reserved0[12];
    uint32_t width;        // pixels
    uint32_t stride;       // bytes per row of the planes; 0 = packed rows
    uint32_t height;       // rows
    uint32_t planeHeight;  // rows of plane 0 before plane 1 starts; 0 = height
    uint8_t reserved1[4];
    void* plane0;
    void* plane1;
    uint8_t reserved2[232];
};

// Parameter record of one operator run.
struct TavkitParams {
    TavkitImageDesc src;
    TavkitImageDesc dst;
    uint32_t code;  // rotate: TavkitRotateCode; flip: 1 = mirror
    uint8_t reserved0[20];
    int32_t cropBounds[4];  // rect cut: x0, x1 (exclusive), y0, y1 (exclusive)
    uint8_t reserved1[72];
    uint32_t gaussianKernel;
    uint8_t reserved2[140];
    float normParam1;  // normalisation: out = (in - normParam1) / normParam2
    float normParam2;
    uint8_t reserved3[16];
    uint32_t normFlag;
    uint8_t reserved4[116];
    uint32_t histChannels;
    uint32_t histBins[3];
    uint8_t reserved5[344];
};

static_assert(sizeof(TavkitImageDesc) == 288, "image descriptor size");
static_assert(offsetof(TavkitImageDesc, width) == 20 && offsetof(TavkitImageDesc, stride) == 24 &&
                  offsetof(TavkitImageDesc, height) == 28 &&
                  offsetof(TavkitImageDesc, planeHeight) == 32 &&
                  offsetof(TavkitImageDesc, plane0) == 40 &&
                  offsetof(TavkitImageDesc, plane1) == 48,
              "image descriptor layout");
static_assert(offsetof(TavkitParams, dst) == 288 && offsetof(TavkitParams, code) == 576 &&
                  offsetof(TavkitParams, cropBounds) == 600 &&
                  offsetof(TavkitParams, gaussianKernel) == 688 &&
                  offsetof(TavkitParams, normParam1) == 832 &&
                  offsetof(TavkitParams, normParam2) == 836 &&
                  offsetof(TavkitParams, normFlag) == 856 &&
                  offsetof(TavkitParams, histChannels) == 976 &&
                  offsetof(TavkitParams, histBins) == 980 && sizeof(TavkitParams) == 1336,
              "parameter record layout");

int initTavkitConfig(TavkitConfig* config);
int initTavkit(int64_t* handle, TavkitConfig* config);
int registTavkitOperator(int64_t handle, int32_t operatorId);
int initTavkitParams(TavkitParams* params);
int runTavkit(int64_t handle, int32_t operatorId, TavkitParams* params);
int releaseTavkit(int64_t* handle);

}  // extern "C"

#endif  // TAVKIT_API_H
