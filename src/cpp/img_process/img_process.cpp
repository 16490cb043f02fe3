// The single-operator preprocessing operations and rotate: each fills one fresh
// operator parameter record and runs one image operator.
#include "cpp/img_process/img_process.h"

#include <cstring>

#include "tavkit_api.h"
#include "xepo_log.h"

namespace xepo {
namespace {

// Rotation angles that the rotate operator handles; any other angle copies.
constexpr uint32_t kFullTurn = 360;
constexpr uint32_t kQuarterTurn = 90;
constexpr uint32_t kHalfTurn = 180;
constexpr uint32_t kThreeQuarterTurn = 270;

// Joint colour histogram: 3 channels with 4 bins each gives 64 counters.
constexpr uint32_t kHistChannels = 3;
constexpr uint32_t kHistBinsPerChannel = 4;
// The histogram operator writes its counters into a 1 x 1 destination record.
constexpr uint32_t kHistDstSide = 1;

// A record reset to the library's defaults, ready to be filled.
TavkitParams freshParams() {
    TavkitParams params{};
    initTavkitParams(&params);
    return params;
}

void describe(TavkitImageDesc& desc, uint32_t format, uint32_t type, int32_t width, int32_t height,
              const void* plane0) {
    desc.format = format;
    desc.elementType = type;
    desc.width = static_cast<uint32_t>(width);
    desc.height = static_cast<uint32_t>(height);
    desc.plane0 = const_cast<void*>(plane0);
}

// Copies width x height x channels bytes; sizes that are not positive, or whose
// product does not fit, are refused instead of copied.
int32_t copyPixels(const void* src, void* dst, int32_t width, int32_t height, int32_t channels) {
    size_t pixels = 0;
    size_t bytes = 0;
    const bool sizesValid =
        width > 0 && height > 0 && channels > 0 &&
        !__builtin_mul_overflow(static_cast<size_t>(width), static_cast<size_t>(height), &pixels) &&
        !__builtin_mul_overflow(pixels, static_cast<size_t>(channels), &bytes);
    if (src == nullptr || dst == nullptr || !sizesValid) {
        XEPO_LOGE("rotate copy refused: src %p dst %p size %dx%dx%d", src, dst, width, height,
                  channels);
        return kStatusMissingInput;
    }
    if (src != dst) {
        std::memmove(dst, src, bytes);
    }
    return 0;
}

// Runs one operator; on failure logs "<what> failed <code>" in the caller's
// name and gives kStatusOperatorFailed.
int32_t runOperator(int64_t handle, int32_t operatorId, TavkitParams& params, const char* what,
                    const char* function, int line) {
    const int ret = runTavkit(handle, operatorId, &params);
    if (ret != 0) {
        logLine(LogPriority::Error, __FILE__, line, function, "%s failed %d", what, ret);
        return kStatusOperatorFailed;
    }
    return 0;
}
#define XEPO_RUN_OPERATOR(handle, operatorId, params, what) \
    runOperator((handle), (operatorId), (params), (what), __func__, __LINE__)

}  // namespace

int32_t resizeBilinear(int64_t handle, const void* src, void* dst, int32_t srcWidth,
                       int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, uint32_t srcFormat,
                       uint32_t dstFormat, uint32_t srcType, uint32_t dstType) {
    TavkitParams params = freshParams();
    describe(params.src, srcFormat, srcType, srcWidth, srcHeight, src);
    describe(params.dst, dstFormat, dstType, dstWidth, dstHeight, dst);
    return XEPO_RUN_OPERATOR(handle, kTavkitResizeBilinear, params, "XEPO Tavkit_ResizeBilinear");
}

int32_t yuvResizeBilinear(int64_t handle, const uint8_t* yPlane, const uint8_t* uvPlane, void* dst,
                          int32_t width, int32_t height, int32_t stride, int32_t planeHeight,
                          int32_t dstWidth, int32_t dstHeight, uint32_t srcFormat, uint32_t srcType,
                          uint32_t dstFormat, uint32_t dstType) {
    TavkitParams params = freshParams();
    describe(params.src, srcFormat, srcType, width, height, yPlane);
    params.src.stride = static_cast<uint32_t>(stride);
    params.src.planeHeight = static_cast<uint32_t>(planeHeight);
    params.src.plane1 = const_cast<uint8_t*>(uvPlane);
    describe(params.dst, dstFormat, dstType, dstWidth, dstHeight, dst);
    return XEPO_RUN_OPERATOR(handle, kTavkitResizeBilinear, params, "XEPO Tavkit_ResizeBilinear");
}

int32_t normalization(int64_t handle, const void* src, void* dst, int32_t width, int32_t height,
                      int32_t /*channels: the format says it*/, uint32_t format, uint32_t srcType,
                      uint32_t dstType, float p1, float p2) {
    TavkitParams params = freshParams();
    describe(params.src, format, srcType, width, height, src);
    describe(params.dst, format, dstType, width, height, dst);
    params.normParam1 = p1;
    params.normParam2 = p2;
    if (format == kTavkitFormatRgb && dstType == kTavkitTypeF32) {
        params.normFlag = 0;
    }
    return XEPO_RUN_OPERATOR(handle, kTavkitNormalization, params, "Tavkit_Normalization");
}

int32_t rectCut(int64_t handle, const void* src, void* dst, int32_t srcWidth, int32_t srcHeight,
                int32_t dstWidth, int32_t dstHeight, uint32_t format, uint32_t type, int32_t b0,
                int32_t b1, int32_t b2, int32_t b3) {
    TavkitParams params = freshParams();
    describe(params.src, format, type, srcWidth, srcHeight, src);
    describe(params.dst, format, type, dstWidth, dstHeight, dst);
    params.cropBounds[0] = b0;
    params.cropBounds[1] = b1;
    params.cropBounds[2] = b2;
    params.cropBounds[3] = b3;
    return XEPO_RUN_OPERATOR(handle, kTavkitRectCut, params, "Tavkit_RectCut");
}

int32_t flip(int64_t handle, const void* src, void* dst, int32_t width, int32_t height,
             uint32_t format, uint32_t type, uint32_t code) {
    TavkitParams params = freshParams();
    describe(params.src, format, type, width, height, src);
    describe(params.dst, format, type, width, height, dst);
    params.code = code;
    return XEPO_RUN_OPERATOR(handle, kTavkitFlip, params, "Tavkit_Flip");
}

int32_t RGBtoGray(int64_t handle, const uint8_t* src, int32_t width, int32_t height, uint8_t* dst) {
    TavkitParams params = freshParams();
    describe(params.src, kTavkitFormatRgb, kTavkitTypeU8, width, height, src);
    describe(params.dst, kTavkitFormatGray, kTavkitTypeU8, width, height, dst);
    return XEPO_RUN_OPERATOR(handle, kTavkitColorToGray, params, "XEPO Tavkit_ColortoGray");
}

int32_t calcHist(int64_t handle, int32_t width, int32_t height, const uint8_t* src, int32_t* hist) {
    TavkitParams params = freshParams();
    describe(params.src, kTavkitFormatRgb, kTavkitTypeU8, width, height, src);
    describe(params.dst, kTavkitFormatRgb, kTavkitTypeS32, kHistDstSide, kHistDstSide, hist);
    params.histChannels = kHistChannels;
    for (uint32_t& bins : params.histBins) {
        bins = kHistBinsPerChannel;
    }
    return XEPO_RUN_OPERATOR(handle, kTavkitCalcHist, params, "XEPO Tavkit_CalcHist");
}

int32_t guassianFilter(int64_t handle, const void* src, void* dst, int32_t width, int32_t height,
                       uint32_t format, uint32_t type, uint32_t kernel) {
    TavkitParams params = freshParams();
    describe(params.src, format, type, width, height, src);
    describe(params.dst, format, type, width, height, dst);
    params.gaussianKernel = kernel;
    return XEPO_RUN_OPERATOR(handle, kTavkitGaussianFilter, params, "Tavkit_GaussianFilter");
}

int32_t rotate(int64_t handle, const void* src, void* dst, uint32_t angle, int32_t width,
               int32_t height, int32_t channels, uint32_t format, uint32_t type) {
    const uint32_t turn = angle % kFullTurn;
    uint32_t code = 0;
    if (turn == kQuarterTurn) {
        code = kTavkitRotate90;
    } else if (turn == kHalfTurn) {
        code = kTavkitRotate180;
    } else if (turn == kThreeQuarterTurn) {
        code = kTavkitRotate270;
    } else {
        return copyPixels(src, dst, width, height, channels);
    }
    const bool swapsSides = turn != kHalfTurn;
    TavkitParams params = freshParams();
    describe(params.src, format, type, width, height, src);
    describe(params.dst, format, type, swapsSides ? height : width, swapsSides ? width : height,
             dst);
    params.code = code;
    return XEPO_RUN_OPERATOR(handle, kTavkitRotate, params, "Tavkit_Rotate");
}

}  // namespace xepo
