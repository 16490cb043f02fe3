// What the preprocessing operations ask of the image operators: which
// operators run in which order, what each parameter record holds, and which
// status and log lines each failure gives. Runs against the recording
// stand-in, so no pixel is computed here.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "cpp/img_process/img_process.h"
#include "cpp/img_process/ultra_wide_crop.h"
#include "log_capture.h"
#include "recording_tavkit.h"
#include "test_images.h"

namespace {

using recording_tavkit::kInjectedStatus;
using recording_tavkit::recorder;
using recording_tavkit::untouched;
using Ids = std::vector<int32_t>;

constexpr int64_t kHandle = 0x1234;
constexpr int kModelSide = 224;
constexpr size_t kModelRgbBytes = 224 * 224 * 3;
constexpr int kDebug = 3;
constexpr int kError = 6;

// A small NV21 frame; the stand-in never reads its pixels.
struct Frame {
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;
    static constexpr int kStride = 72;
    std::vector<uint8_t> y = std::vector<uint8_t>(kStride * kHeight, 100);
    std::vector<uint8_t> uv = std::vector<uint8_t>(kStride * kHeight / 2, 128);
};

struct FrameCall {
    int32_t cameraType = 0;
    float scale = 1.0f;
    int32_t rotation = 0;
    bool flip = false;
};

class OperationRecords : public ::testing::Test {
  protected:
    void SetUp() override { recording_tavkit::reset(); }

    int32_t toModelInput(const FrameCall& call, int64_t handle = kHandle) {
        return xepo::yuvtoBuffer(handle, frame.y.data(), frame.uv.data(), Frame::kWidth,
                                 Frame::kHeight, Frame::kStride, Frame::kHeight, call.rotation, 0,
                                 call.flip, 17, modelInput.data(), call.cameraType, call.scale);
    }

    Frame frame;
    std::vector<float> modelInput = std::vector<float>(kModelRgbBytes);
    LogCapture log;
};

// ---- The crop choice -------------------------------------------------------

struct CropCase {
    const char* name;
    int32_t cameraType;
    float scale;
    bool applies;
    int32_t size;
    int32_t off;
};

const CropCase kCropCases[] = {
    {"half zoom crops to the centre half", 1, 0.5f, true, 448, 112},
    {"three quarter zoom truncates both", 1, 0.75f, true, 298, 37},
    {"nearly no zoom keeps offset zero", 1, 0.999f, true, 224, 0},
    {"scale one takes no crop", 1, 1.0f, false, 224, 0},
    {"just below half takes no crop", 1, 0.4999f, false, 224, 0},
    {"main camera takes no crop", 0, 0.6f, false, 224, 0},
    {"another camera type takes no crop", 2, 0.6f, false, 224, 0},
    {"NaN takes no crop", 1, std::numeric_limits<float>::quiet_NaN(), false, 224, 0},
    {"infinity takes no crop", 1, std::numeric_limits<float>::infinity(), false, 224, 0},
    {"negative scale takes no crop", 1, -0.7f, false, 224, 0},
    {"zero scale takes no crop", 1, 0.0f, false, 224, 0},
};

TEST(UltraWideCrop, SizeAndOffsetFollowTheZoom) {
    for (const CropCase& c : kCropCases) {
        SCOPED_TRACE(c.name);
        const xepo::UltraWideCrop crop = xepo::computeUltraWideCrop(c.cameraType, c.scale);
        EXPECT_EQ(crop.applies, c.applies);
        EXPECT_EQ(crop.size, c.size);
        EXPECT_EQ(crop.off, c.off);
    }
}

TEST(UltraWideCrop, CutStaysInsideTheResizedSquareOverTheWholeRange) {
    for (float scale = 0.5f; scale < 1.0f; scale = std::nextafter(scale, 1.0f) + 1e-5f) {
        const xepo::UltraWideCrop crop = xepo::computeUltraWideCrop(1, scale);
        ASSERT_TRUE(crop.applies) << scale;
        ASSERT_GE(crop.off, 0) << scale;
        ASSERT_LE(crop.off + kModelSide, crop.size) << scale;
    }
}

// ---- yuvtoBuffer: the operator chain ----------------------------------------

struct ChainCase {
    const char* name;
    FrameCall call;
    Ids operators;
    int32_t resizedSide;
    int32_t cropOff;     // -1: no cut
    int32_t rotateCode;  // -1: no rotate operator
};

const ChainCase kChainCases[] = {
    {"plain frame", {0, 1.0f, 0, false}, {19, 14}, 224, -1, -1},
    {"ultra-wide at scale one", {1, 1.0f, 0, false}, {19, 14}, 224, -1, -1},
    {"ultra-wide at half zoom", {1, 0.5f, 0, false}, {19, 50, 14}, 448, 112, -1},
    {"ultra-wide at three quarters", {1, 0.75f, 0, false}, {19, 50, 14}, 298, 37, -1},
    {"ultra-wide nearly unzoomed", {1, 0.999f, 0, false}, {19, 50, 14}, 224, 0, -1},
    {"main camera at 0.6", {0, 0.6f, 0, false}, {19, 14}, 224, -1, -1},
    {"ultra-wide with NaN zoom", {1, std::nanf(""), 0, false}, {19, 14}, 224, -1, -1},
    {"rotation 90", {0, 1.0f, 90, false}, {19, 53, 14}, 224, -1, 0},
    {"rotation 180", {0, 1.0f, 180, false}, {19, 53, 14}, 224, -1, 1},
    {"rotation 270", {0, 1.0f, 270, false}, {19, 53, 14}, 224, -1, 2},
    {"rotation 450 is 90", {0, 1.0f, 450, false}, {19, 53, 14}, 224, -1, 0},
    {"rotation 360 copies", {0, 1.0f, 360, false}, {19, 14}, 224, -1, -1},
    {"rotation 45 copies", {0, 1.0f, 45, false}, {19, 14}, 224, -1, -1},
    {"rotation -90 copies", {0, 1.0f, -90, false}, {19, 14}, 224, -1, -1},
    {"flip on", {0, 1.0f, 0, true}, {19, 47, 14}, 224, -1, -1},
    {"everything", {1, 0.5f, 270, true}, {19, 50, 53, 47, 14}, 448, 112, 2},
};

TEST_F(OperationRecords, FramePreparationRunsTheOperatorsTheCallAsksFor) {
    for (const ChainCase& c : kChainCases) {
        SCOPED_TRACE(c.name);
        recording_tavkit::reset();
        log.clear();
        ASSERT_EQ(toModelInput(c.call), 0);
        const auto& rec = recorder();
        EXPECT_EQ(rec.runIds(), c.operators);
        EXPECT_EQ(rec.paramInits, static_cast<int>(rec.runs.size())) << "one fresh record each";
        for (const auto& run : rec.runs) {
            EXPECT_EQ(run.handle, kHandle);
        }

        const TavkitParams& resize = rec.only(19);
        EXPECT_EQ(resize.dst.width, static_cast<uint32_t>(c.resizedSide));
        EXPECT_EQ(resize.dst.height, static_cast<uint32_t>(c.resizedSide));

        const bool cut = c.cropOff >= 0;
        EXPECT_EQ(log.count("need_uwcrop 1"), cut ? 1 : 0);
        if (cut) {
            const TavkitParams& rect = rec.only(50);
            EXPECT_EQ(rect.src.width, static_cast<uint32_t>(c.resizedSide));
            EXPECT_EQ(rect.src.height, static_cast<uint32_t>(c.resizedSide));
            EXPECT_EQ(rect.dst.width, 224u);
            EXPECT_EQ(rect.dst.height, 224u);
            EXPECT_EQ(rect.src.format, 2u);
            EXPECT_EQ(rect.src.elementType, 1u);
            const int32_t expected[4] = {c.cropOff, c.cropOff + 224, c.cropOff, c.cropOff + 224};
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(rect.cropBounds[i], expected[i]) << "bound " << i;
            }
        }
        if (c.rotateCode >= 0) {
            EXPECT_EQ(rec.only(53).code, static_cast<uint32_t>(c.rotateCode));
        }
        if (c.call.flip) {
            const TavkitParams& mirror = rec.only(47);
            EXPECT_EQ(mirror.code, 1u);
            EXPECT_EQ(mirror.src.width, 224u);
            EXPECT_EQ(mirror.src.format, 2u);
        }
    }
}

TEST_F(OperationRecords, FrameResizeDescribesBothPlanesAndTheStride) {
    ASSERT_EQ(toModelInput({}), 0);
    const TavkitParams& p = recorder().only(19);
    EXPECT_EQ(p.src.format, 17u);
    EXPECT_EQ(p.src.elementType, 1u);
    EXPECT_EQ(p.src.width, static_cast<uint32_t>(Frame::kWidth));
    EXPECT_EQ(p.src.height, static_cast<uint32_t>(Frame::kHeight));
    EXPECT_EQ(p.src.stride, static_cast<uint32_t>(Frame::kStride));
    EXPECT_EQ(p.src.planeHeight, static_cast<uint32_t>(Frame::kHeight));
    EXPECT_EQ(p.src.plane0, frame.y.data());
    EXPECT_EQ(p.src.plane1, frame.uv.data());
    EXPECT_EQ(p.dst.format, 2u);
    EXPECT_EQ(p.dst.elementType, 1u);
    EXPECT_TRUE(untouched(&p.dst.stride, sizeof p.dst.stride));
    EXPECT_TRUE(untouched(&p.dst.plane1, sizeof p.dst.plane1));
}

TEST_F(OperationRecords, FrameNormalisationWritesFloatsIntoTheCallersBuffer) {
    ASSERT_EQ(toModelInput({}), 0);
    const TavkitParams& p = recorder().only(14);
    EXPECT_EQ(p.dst.plane0, modelInput.data());
    EXPECT_EQ(p.src.format, 2u);
    EXPECT_EQ(p.src.elementType, 1u);
    EXPECT_EQ(p.dst.format, 2u);
    EXPECT_EQ(p.dst.elementType, 8u);
    EXPECT_EQ(p.dst.width, 224u);
    EXPECT_EQ(p.dst.height, 224u);
    EXPECT_EQ(p.normParam1, 127.5f);
    EXPECT_EQ(p.normParam2, 127.5f);
    EXPECT_EQ(p.normFlag, 0u);
}

struct InputErrorCase {
    const char* name;
    bool yNull;
    bool uvNull;
    int64_t handle;
    int32_t status;
    const char* line;
};

TEST_F(OperationRecords, FrameInputErrorsStopBeforeAnyOperator) {
    const InputErrorCase cases[] = {
        {"null Y plane", true, false, kHandle, -2001, "input image is null"},
        {"null chroma plane wins over a zero handle", false, true, 0, -2001, "input image is null"},
        {"both planes null", true, true, 0, -2001, "input image is null"},
        {"zero handle", false, false, 0, -3001, "tavkit_handle is 0"},
    };
    for (const InputErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        recording_tavkit::reset();
        log.clear();
        const int32_t status = xepo::yuvtoBuffer(
            c.handle, c.yNull ? nullptr : frame.y.data(), c.uvNull ? nullptr : frame.uv.data(),
            Frame::kWidth, Frame::kHeight, Frame::kStride, Frame::kHeight, 0, 0, false, 17,
            modelInput.data(), 1, 0.5f);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(log.texts(), std::vector<std::string>{c.line});
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].priority, kError);
        EXPECT_TRUE(recorder().runs.empty());
    }
}

struct FailureCase {
    int32_t failingOperator;
    std::vector<std::string> lines;
};

TEST_F(OperationRecords, FramePreparationStopsAtTheFailingOperator) {
    const std::string code = std::to_string(kInjectedStatus);
    const FailureCase cases[] = {
        {19, {"need_uwcrop 1", "XEPO Tavkit_ResizeBilinear failed " + code}},
        {50, {"need_uwcrop 1", "Tavkit_RectCut failed " + code}},
        {53, {"need_uwcrop 1", "Tavkit_Rotate failed " + code, "XEPO rotate failed -3003"}},
        {47, {"need_uwcrop 1", "Tavkit_Flip failed " + code, "XEPO flip failed -3003"}},
        {14,
         {"need_uwcrop 1", "Tavkit_Normalization failed " + code,
          "XEPO Tavkit_Normalization failed -3003"}},
    };
    const Ids fullChain = {19, 50, 53, 47, 14};
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.failingOperator);
        recording_tavkit::reset();
        recorder().failRun = c.failingOperator;
        log.clear();
        EXPECT_EQ(toModelInput({1, 0.5f, 90, true}), -3003);
        EXPECT_EQ(log.texts(), c.lines);
        for (const LoggedLine& line : log.lines()) {
            EXPECT_EQ(line.priority, line.text() == "need_uwcrop 1" ? kDebug : kError);
        }
        // Nothing runs after the failing operator.
        Ids expected;
        for (int32_t id : fullChain) {
            expected.push_back(id);
            if (id == c.failingOperator) {
                break;
            }
        }
        EXPECT_EQ(recorder().runIds(), expected);
    }
}

// ---- yuvtoRGB ----------------------------------------------------------------

TEST_F(OperationRecords, RgbPreparationChainsIntoTheCallersBuffer) {
    struct RgbCase {
        const char* name;
        int32_t rotation;
        bool flip;
        Ids operators;
        int expectedFill;  // byte in out afterwards, -1: not checked
    };
    const RgbCase cases[] = {
        {"no rotation copies the resized image", 0, false, {19}, recording_tavkit::kResizeFill},
        {"rotation 90 writes out directly", 90, false, {19, 53}, -1},
        {"flip copies the mirrored image back", 0, true, {19, 47}, recording_tavkit::kFlipFill},
    };
    for (const RgbCase& c : cases) {
        SCOPED_TRACE(c.name);
        recording_tavkit::reset();
        std::vector<uint8_t> out(kModelRgbBytes, 0);
        ASSERT_EQ(xepo::yuvtoRGB(kHandle, frame.y.data(), frame.uv.data(), Frame::kWidth,
                                 Frame::kHeight, Frame::kStride, Frame::kHeight, 224, 224,
                                 c.rotation, c.flip, 17, out.data()),
                  0);
        EXPECT_EQ(recorder().runIds(), c.operators);
        if (c.rotation == 90) {
            EXPECT_EQ(recorder().only(53).dst.plane0, out.data());
        }
        if (c.expectedFill >= 0) {
            EXPECT_EQ(std::count(out.begin(), out.end(), c.expectedFill),
                      static_cast<long>(kModelRgbBytes));
        }
    }
}

TEST_F(OperationRecords, RgbPreparationReportsAFailedResizeTwice) {
    recorder().failRun = 19;
    std::vector<uint8_t> out(kModelRgbBytes);
    EXPECT_EQ(
        xepo::yuvtoRGB(kHandle, frame.y.data(), frame.uv.data(), Frame::kWidth, Frame::kHeight,
                       Frame::kStride, Frame::kHeight, 224, 224, 90, true, 17, out.data()),
        -3003);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"XEPO Tavkit_ResizeBilinear failed " +
                                                         std::to_string(kInjectedStatus),
                                                     "XEPO Tavkit_ResizeBilinear failed -3003"}));
    EXPECT_EQ(recorder().runIds(), Ids{19});
}

TEST_F(OperationRecords, RgbPreparationRefusesSizesThatWouldOverrunItsBuffers) {
    const int32_t sizes[][2] = {{100, 100}, {0, 224}, {224, -1}, {223, 224}, {INT_MAX, INT_MAX}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
        recording_tavkit::reset();
        std::vector<uint8_t> out(kModelRgbBytes);
        EXPECT_EQ(xepo::yuvtoRGB(kHandle, frame.y.data(), frame.uv.data(), Frame::kWidth,
                                 Frame::kHeight, Frame::kStride, Frame::kHeight, size[0], size[1],
                                 0, false, 17, out.data()),
                  -2001);
        EXPECT_TRUE(recorder().runs.empty());
    }
}

// ---- rotate --------------------------------------------------------------------

TEST_F(OperationRecords, RotateRunsTheOperatorOnlyForQuarterTurns) {
    struct RotateCase {
        uint32_t angle;
        int32_t code;  // -1: copied
    };
    const RotateCase cases[] = {
        {90, 0},  {180, 1},  {270, 2},          {450, 0},  {630, 2},
        {0, -1},  {360, -1}, {45, -1},          {720, -1}, {static_cast<uint32_t>(-90), -1},
        {91, -1}, {179, -1}, {4294967295u, -1},
    };
    constexpr int kWidth = 6;
    constexpr int kHeight = 4;
    std::vector<uint8_t> src(kWidth * kHeight);
    for (size_t i = 0; i < src.size(); ++i) {
        src[i] = static_cast<uint8_t>(i + 1);
    }
    for (const RotateCase& c : cases) {
        SCOPED_TRACE(c.angle);
        recording_tavkit::reset();
        std::vector<uint8_t> dst(src.size(), 0);
        ASSERT_EQ(xepo::rotate(kHandle, src.data(), dst.data(), c.angle, kWidth, kHeight, 1, 9, 1),
                  0);
        if (c.code < 0) {
            EXPECT_TRUE(recorder().runs.empty());
            EXPECT_EQ(dst, src);
            continue;
        }
        const TavkitParams& p = recorder().only(53);
        const bool quarter = c.code != 1;
        EXPECT_EQ(p.code, static_cast<uint32_t>(c.code));
        EXPECT_EQ(p.src.width, static_cast<uint32_t>(kWidth));
        EXPECT_EQ(p.src.height, static_cast<uint32_t>(kHeight));
        EXPECT_EQ(p.dst.width, static_cast<uint32_t>(quarter ? kHeight : kWidth));
        EXPECT_EQ(p.dst.height, static_cast<uint32_t>(quarter ? kWidth : kHeight));
        EXPECT_EQ(p.src.format, 9u);
        EXPECT_EQ(p.dst.elementType, 1u);
        EXPECT_EQ(p.src.plane0, src.data());
        EXPECT_EQ(p.dst.plane0, dst.data());
    }
}

TEST_F(OperationRecords, RotateCopyRefusesWhatCannotBeCopied) {
    std::vector<uint8_t> buffer(16);
    EXPECT_EQ(xepo::rotate(kHandle, nullptr, buffer.data(), 0, 4, 4, 1, 9, 1), -2001);
    EXPECT_EQ(xepo::rotate(kHandle, buffer.data(), nullptr, 0, 4, 4, 1, 9, 1), -2001);
    EXPECT_EQ(xepo::rotate(kHandle, buffer.data(), buffer.data(), 0, -4, 4, 1, 9, 1), -2001);
    EXPECT_EQ(xepo::rotate(kHandle, buffer.data(), buffer.data(), 0, 4, 4, 0, 9, 1), -2001);
    EXPECT_TRUE(recorder().runs.empty());
}

// ---- Single-operator operations ---------------------------------------------

// Large enough for what the stand-in writes into any destination below.
uint8_t srcBytes[4096];
uint8_t dstBytes[4096];
int32_t histBins[64];

struct SingleCase {
    const char* name;
    int32_t operatorId;
    std::function<int32_t(int64_t)> call;
    std::function<void(const TavkitParams&)> check;
    std::string failureLine;  // without the operator's status
};

std::vector<SingleCase> singleCases() {
    return {
        {"resizeBilinear", 19,
         [](int64_t h) {
             return xepo::resizeBilinear(h, srcBytes, dstBytes, 30, 20, 10, 8, 9, 2, 1, 8);
         },
         [](const TavkitParams& p) {
             EXPECT_EQ(p.src.format, 9u);
             EXPECT_EQ(p.src.elementType, 1u);
             EXPECT_EQ(p.src.width, 30u);
             EXPECT_EQ(p.src.height, 20u);
             EXPECT_EQ(p.src.plane0, srcBytes);
             EXPECT_EQ(p.dst.format, 2u);
             EXPECT_EQ(p.dst.elementType, 8u);
             EXPECT_EQ(p.dst.width, 10u);
             EXPECT_EQ(p.dst.height, 8u);
             EXPECT_EQ(p.dst.plane0, dstBytes);
             EXPECT_TRUE(untouched(&p.src.stride, sizeof p.src.stride));
             EXPECT_TRUE(untouched(&p.src.planeHeight, sizeof p.src.planeHeight));
             EXPECT_TRUE(untouched(&p.src.plane1, sizeof p.src.plane1));
         },
         "XEPO Tavkit_ResizeBilinear failed "},
        {"normalization of RGB to float", 14,
         [](int64_t h) {
             return xepo::normalization(h, srcBytes, dstBytes, 12, 10, 3, 2, 1, 8, 1.5f, 2.5f);
         },
         [](const TavkitParams& p) {
             EXPECT_EQ(p.src.format, 2u);
             EXPECT_EQ(p.src.elementType, 1u);
             EXPECT_EQ(p.dst.format, 2u);
             EXPECT_EQ(p.dst.elementType, 8u);
             EXPECT_EQ(p.src.width, 12u);
             EXPECT_EQ(p.dst.height, 10u);
             EXPECT_EQ(p.normParam1, 1.5f);
             EXPECT_EQ(p.normParam2, 2.5f);
             EXPECT_EQ(p.normFlag, 0u);
         },
         "Tavkit_Normalization failed "},
        {"normalization of gray keeps the flag's default", 14,
         [](int64_t h) {
             return xepo::normalization(h, srcBytes, dstBytes, 4, 4, 1, 9, 1, 8, 1.0f, 1.0f);
         },
         [](const TavkitParams& p) { EXPECT_TRUE(untouched(&p.normFlag, sizeof p.normFlag)); },
         "Tavkit_Normalization failed "},
        {"normalization to 8 bits keeps the flag's default", 14,
         [](int64_t h) {
             return xepo::normalization(h, srcBytes, dstBytes, 4, 4, 3, 2, 1, 1, 1.0f, 1.0f);
         },
         [](const TavkitParams& p) { EXPECT_TRUE(untouched(&p.normFlag, sizeof p.normFlag)); },
         "Tavkit_Normalization failed "},
        {"rectCut", 50,
         [](int64_t h) {
             return xepo::rectCut(h, srcBytes, dstBytes, 40, 30, 20, 10, 2, 1, 5, 25, 7, 17);
         },
         [](const TavkitParams& p) {
             EXPECT_EQ(p.src.width, 40u);
             EXPECT_EQ(p.src.height, 30u);
             EXPECT_EQ(p.dst.width, 20u);
             EXPECT_EQ(p.dst.height, 10u);
             EXPECT_EQ(p.dst.format, 2u);
             EXPECT_EQ(p.dst.elementType, 1u);
             EXPECT_EQ(p.cropBounds[0], 5);
             EXPECT_EQ(p.cropBounds[1], 25);
             EXPECT_EQ(p.cropBounds[2], 7);
             EXPECT_EQ(p.cropBounds[3], 17);
         },
         "Tavkit_RectCut failed "},
        {"flip", 47, [](int64_t h) { return xepo::flip(h, srcBytes, dstBytes, 16, 8, 9, 1, 1); },
         [](const TavkitParams& p) {
             EXPECT_EQ(p.code, 1u);
             EXPECT_EQ(p.src.width, 16u);
             EXPECT_EQ(p.dst.height, 8u);
             EXPECT_EQ(p.dst.format, 9u);
         },
         "Tavkit_Flip failed "},
        {"RGBtoGray", 21, [](int64_t h) { return xepo::RGBtoGray(h, srcBytes, 16, 8, dstBytes); },
         [](const TavkitParams& p) {
             EXPECT_EQ(p.src.format, 2u);
             EXPECT_EQ(p.src.elementType, 1u);
             EXPECT_EQ(p.dst.format, 9u);
             EXPECT_EQ(p.dst.elementType, 1u);
             EXPECT_EQ(p.dst.width, 16u);
             EXPECT_EQ(p.dst.height, 8u);
         },
         "XEPO Tavkit_ColortoGray failed "},
        {"calcHist", 2, [](int64_t h) { return xepo::calcHist(h, 224, 224, srcBytes, histBins); },
         [](const TavkitParams& p) {
             EXPECT_EQ(p.src.format, 2u);
             EXPECT_EQ(p.src.elementType, 1u);
             EXPECT_EQ(p.src.width, 224u);
             EXPECT_EQ(p.src.height, 224u);
             EXPECT_EQ(p.dst.format, 2u);
             EXPECT_EQ(p.dst.elementType, 6u);
             EXPECT_EQ(p.dst.width, 1u);
             EXPECT_EQ(p.dst.height, 1u);
             EXPECT_EQ(p.dst.plane0, histBins);
             EXPECT_EQ(p.histChannels, 3u);
             EXPECT_EQ(p.histBins[0], 4u);
             EXPECT_EQ(p.histBins[1], 4u);
             EXPECT_EQ(p.histBins[2], 4u);
         },
         "XEPO Tavkit_CalcHist failed "},
        {"guassianFilter", 3,
         [](int64_t h) { return xepo::guassianFilter(h, srcBytes, dstBytes, 16, 8, 9, 1, 5); },
         [](const TavkitParams& p) {
             EXPECT_EQ(p.gaussianKernel, 5u);
             EXPECT_EQ(p.src.width, 16u);
             EXPECT_EQ(p.dst.format, 9u);
         },
         "Tavkit_GaussianFilter failed "},
        {"rotate", 53,
         [](int64_t h) { return xepo::rotate(h, srcBytes, dstBytes, 90, 8, 4, 1, 9, 1); },
         [](const TavkitParams& p) { EXPECT_EQ(p.code, 0u); }, "Tavkit_Rotate failed "},
    };
}

TEST_F(OperationRecords, EachOperationFillsOneFreshRecord) {
    for (const SingleCase& c : singleCases()) {
        SCOPED_TRACE(c.name);
        recording_tavkit::reset();
        ASSERT_EQ(c.call(kHandle), 0);
        ASSERT_EQ(recorder().runIds(), Ids{c.operatorId});
        EXPECT_EQ(recorder().paramInits, 1);
        EXPECT_EQ(recorder().runs[0].handle, kHandle);
        const TavkitParams& p = recorder().runs[0].params;
        c.check(p);
        // Fields no operation writes keep the library's defaults.
        EXPECT_TRUE(untouched(p.src.reserved0, sizeof p.src.reserved0));
        EXPECT_TRUE(untouched(p.dst.reserved2, sizeof p.dst.reserved2));
        EXPECT_TRUE(untouched(p.reserved5, sizeof p.reserved5));
    }
}

TEST_F(OperationRecords, EachOperationReportsItsOperatorsStatus) {
    for (const SingleCase& c : singleCases()) {
        SCOPED_TRACE(c.name);
        recording_tavkit::reset();
        recorder().failRun = c.operatorId;
        log.clear();
        EXPECT_EQ(c.call(kHandle), -3003);
        EXPECT_EQ(log.texts(),
                  std::vector<std::string>{c.failureLine + std::to_string(kInjectedStatus)});
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].priority, kError);
    }
}

// ---- imagePathtoBuffer -----------------------------------------------------------

class ImageFileRecords : public OperationRecords {
  protected:
    int32_t fileToModelInput(const std::string& path, int32_t width = 224, int32_t height = 224) {
        return xepo::imagePathtoBuffer(kHandle, path.c_str(), width, height, 3, modelInput.data(),
                                       1.0f, 2.0f);
    }
    std::string writeSmallPng() {
        const std::string path = dir.file("small.png");
        EXPECT_TRUE(test_images::writePng(path, 40, 30, [](int, int) {
            return test_images::Rgb{10, 20, 30};
        }));
        return path;
    }
    test_images::ScratchDir dir;
};

TEST_F(ImageFileRecords, DecodedImageIsResizedThenNormalisedWithFixedParameters) {
    ASSERT_EQ(fileToModelInput(writeSmallPng()), 0);
    EXPECT_EQ(recorder().runIds(), (Ids{19, 14}));
    const TavkitParams& resize = recorder().only(19);
    EXPECT_EQ(resize.src.format, 2u);
    EXPECT_EQ(resize.src.elementType, 1u);
    EXPECT_EQ(resize.src.width, 40u);
    EXPECT_EQ(resize.src.height, 30u);
    EXPECT_EQ(resize.dst.width, 224u);
    EXPECT_EQ(resize.dst.height, 224u);
    const TavkitParams& norm = recorder().only(14);
    EXPECT_EQ(norm.dst.plane0, modelInput.data());
    EXPECT_EQ(norm.dst.elementType, 8u);
    // The caller's 1.0 and 2.0 are not read.
    EXPECT_EQ(norm.normParam1, 127.5f);
    EXPECT_EQ(norm.normParam2, 127.5f);
    EXPECT_EQ(norm.normFlag, 0u);
}

TEST_F(ImageFileRecords, UnreadableFilesGiveMissingInput) {
    ASSERT_TRUE(test_images::writeText(dir.file("not_an_image.png"), "plain text, no pixels"));
    ASSERT_TRUE(test_images::writeText(dir.file("empty.jpg"), ""));
    const std::string paths[] = {dir.file("missing.png"), dir.file("not_an_image.png"),
                                 dir.file("empty.jpg"), dir.file("")};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        recording_tavkit::reset();
        log.clear();
        EXPECT_EQ(fileToModelInput(path), -2001);
        EXPECT_EQ(log.texts(), std::vector<std::string>{"XEPO stbi_load failed"});
        EXPECT_TRUE(recorder().runs.empty());
    }
    EXPECT_EQ(xepo::imagePathtoBuffer(kHandle, nullptr, 224, 224, 3, modelInput.data(), 0, 0),
              -2001);
}

TEST_F(ImageFileRecords, AbsurdDeclaredSizeIsRefusedBeforeDecoding) {
    // A header that promises 10^10 pixels and delivers none.
    const std::string path = dir.file("huge.ppm");
    ASSERT_TRUE(test_images::writeText(path, "P6\n100000 100000\n255\n"));
    EXPECT_EQ(fileToModelInput(path), -2001);
    EXPECT_TRUE(log.contains("image size 100000x100000 is too large to decode"));
    EXPECT_TRUE(recorder().runs.empty());
}

TEST_F(ImageFileRecords, TargetSizesBeyondOneModelInputAreRefused) {
    const std::string path = writeSmallPng();
    const int32_t sizes[][2] = {{225, 224}, {0, 224}, {224, -1}, {INT_MAX, INT_MAX}, {-8, -8}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
        recording_tavkit::reset();
        EXPECT_EQ(fileToModelInput(path, size[0], size[1]), -2001);
        EXPECT_TRUE(recorder().runs.empty());
    }
    recording_tavkit::reset();
    EXPECT_EQ(fileToModelInput(path, 112, 100), 0) << "smaller targets are fine";
}

TEST_F(ImageFileRecords, OperatorFailuresAreReportedTwice) {
    const std::string path = writeSmallPng();
    const std::string code = std::to_string(kInjectedStatus);
    const FailureCase cases[] = {
        {19,
         {"XEPO Tavkit_ResizeBilinear failed " + code, "XEPO Tavkit_ResizeBilinear failed -3003"}},
        {14, {"Tavkit_Normalization failed " + code, "XEPO Tavkit_Normalization failed -3003"}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.failingOperator);
        recording_tavkit::reset();
        recorder().failRun = c.failingOperator;
        log.clear();
        EXPECT_EQ(fileToModelInput(path), -3003);
        EXPECT_EQ(log.texts(), c.lines);
    }
}

}  // namespace
