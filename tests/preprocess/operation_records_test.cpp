// What the preprocessing operations ask of the image operators (which run, in
// which order, with which records) and the status and log lines of each
// failure, against the recording stand-in: no pixel is computed here.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cpp/img_process/img_process.h"
#include "log_capture.h"
#include "recording_tavkit.h"

namespace {

using recording_tavkit::rec;
using Ids = std::vector<int32_t>;
using Lines = std::vector<std::string>;
using Words = std::vector<uint32_t>;

constexpr int64_t kHandle = 0x1234;
constexpr int kWidth = 64, kHeight = 48, kStride = 72;
const std::string kCode = std::to_string(recording_tavkit::kInjectedStatus);

class OperationRecords : public ::testing::Test {
  protected:
    void SetUp() override { rec = {}; }
    int32_t toModelInput(int32_t cameraType, float scale, int32_t rotation, bool flip,
                         int64_t handle = kHandle, bool nullY = false, bool nullVu = false) {
        return xepo::yuvtoBuffer(handle, nullY ? nullptr : y.data(), nullVu ? nullptr : vu.data(),
                                 kWidth, kHeight, kStride, kHeight, rotation, 0, flip, 17,
                                 input.data(), cameraType, scale);
    }
    std::vector<uint8_t> y = std::vector<uint8_t>(kStride * kHeight, 100);
    std::vector<uint8_t> vu = std::vector<uint8_t>(kStride * kHeight / 2, 128);
    std::vector<float> input = std::vector<float>(224 * 224 * 3);
    LogCapture log;
};

// Guards the ultra-wide crop values, the rotation codes (angle modulo 360 as
// unsigned, quarter turns only) and the flip.
TEST_F(OperationRecords, FramePreparationRunsTheOperatorsTheCallAsksFor) {
    struct Case {
        int32_t cameraType;
        float scale;
        int32_t rotation;
        bool flip;
        Ids operators;
        uint32_t resizedSide;
        int32_t cropOff, rotateCode;  // -1: no cut, no rotate operator
    };
    const Case cases[] = {
        {1, 0.5f, 0, false, {19, 50, 14}, 448, 112, -1},
        {1, 0.75f, 0, false, {19, 50, 14}, 298, 37, -1},
        {1, 0.999f, 0, false, {19, 50, 14}, 224, 0, -1},
        {1, 1.0f, 0, false, {19, 14}, 224, -1, -1},
        {0, 0.6f, 0, false, {19, 14}, 224, -1, -1},
        {1, std::nanf(""), 0, false, {19, 14}, 224, -1, -1},
        {0, 1.0f, 90, false, {19, 53, 14}, 224, -1, 0},
        {0, 1.0f, 180, false, {19, 53, 14}, 224, -1, 1},
        {0, 1.0f, 270, false, {19, 53, 14}, 224, -1, 2},
        {0, 1.0f, 450, false, {19, 53, 14}, 224, -1, 0},
        {0, 1.0f, 360, false, {19, 14}, 224, -1, -1},
        {0, 1.0f, 45, false, {19, 14}, 224, -1, -1},
        {0, 1.0f, -90, false, {19, 14}, 224, -1, -1},
        {0, 1.0f, 0, true, {19, 47, 14}, 224, -1, -1},
        {1, 0.5f, 270, true, {19, 50, 53, 47, 14}, 448, 112, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "camera " << c.cameraType << " scale " << c.scale
                                        << " rotation " << c.rotation << " flip " << c.flip);
        rec = {};
        log.clear();
        ASSERT_EQ(toModelInput(c.cameraType, c.scale, c.rotation, c.flip), 0);
        EXPECT_EQ(rec.runIds, c.operators);
        // The caller's NV21 (V before U) in padded rows, resized to a square.
        const TavkitParams& resize = rec.records[19];
        EXPECT_EQ(Words({resize.src.format, resize.src.stride, resize.src.planeHeight,
                         resize.dst.width, resize.dst.height}),
                  Words({17, kStride, kHeight, c.resizedSide, c.resizedSide}));
        EXPECT_EQ(log.count("need_uwcrop 1"), c.cropOff >= 0 ? 1 : 0);
        if (c.cropOff >= 0) {
            const int32_t* bounds = rec.records[50].cropBounds;
            EXPECT_EQ(Ids(bounds, bounds + 4),
                      (Ids{c.cropOff, c.cropOff + 224, c.cropOff, c.cropOff + 224}));
        }
        if (c.rotateCode >= 0) {
            EXPECT_EQ(rec.records[53].code, static_cast<uint32_t>(c.rotateCode));
        }
        EXPECT_EQ(rec.records[47].code, c.flip ? 1u : 0u);  // a record not run is all zeros
        // The parameter init leaves its own defaults; the normalisation is
        // set to the plain (in - 127.5) / 127.5 on RGB bytes into floats.
        const TavkitParams& norm = rec.records[14];
        EXPECT_EQ(Words({norm.normFlag, norm.src.format, norm.src.elementType, norm.dst.format,
                         norm.dst.elementType}),
                  Words({0, 2, 1, 2, 8}));
        EXPECT_EQ(std::make_pair(norm.normParam1, norm.normParam2), std::make_pair(127.5f, 127.5f));
    }
}

// Guards: the normalisation flag is set to 0 only for RGB bytes into floats;
// any other pairing keeps the parameter init's own value.
TEST_F(OperationRecords, NormalisationFlagOnlyForRgbIntoFloats) {
    constexpr uint32_t kInitFlag = 0x5a5a5a5au;  // four kDefaultByte bytes
    const struct {
        uint32_t format, dstType, flag;
    } cases[] = {{2, 8, 0}, {9, 8, kInitFlag}, {2, 1, kInitFlag}, {9, 1, kInitFlag}};
    for (const auto& c : cases) {
        rec = {};
        ASSERT_EQ(xepo::normalization(kHandle, y.data(), input.data(), 8, 8, 3, c.format, 1,
                                      c.dstType, 127.5f, 127.5f),
                  0);
        EXPECT_EQ(rec.records[14].normFlag, c.flag) << c.format << " into " << c.dstType;
    }
}

// Guards: the blur hands its kernel size to the operator.
TEST_F(OperationRecords, GaussianFilterPassesItsKernel) {
    ASSERT_EQ(xepo::guassianFilter(kHandle, y.data(), input.data(), 8, 8, 9, 1, 5), 0);
    EXPECT_EQ(rec.runIds, Ids{kTavkitGaussianFilter});
    EXPECT_EQ(rec.records[kTavkitGaussianFilter].gaussianKernel, 5u);
}

// Guards the order of the input checks: a null plane wins over a zero handle.
TEST_F(OperationRecords, FrameInputErrorsStopBeforeAnyOperator) {
    EXPECT_EQ(toModelInput(1, 0.5f, 0, false, kHandle, true, false), -2001);
    EXPECT_EQ(toModelInput(1, 0.5f, 0, false, 0, false, true), -2001);
    EXPECT_EQ(toModelInput(1, 0.5f, 0, false, 0), -3001);
    EXPECT_EQ(log.texts(),
              (Lines{"input image is null", "input image is null", "tavkit_handle is 0"}));
    EXPECT_TRUE(rec.runIds.empty());
}

// Guards that nothing runs after a failing operator, and its lines.
TEST_F(OperationRecords, FramePreparationStopsAtTheFailingOperator) {
    const std::pair<int32_t, Lines> cases[] = {
        {19, {"need_uwcrop 1", "XEPO Tavkit_ResizeBilinear failed " + kCode}},
        {50, {"need_uwcrop 1", "Tavkit_RectCut failed " + kCode}},
        {53, {"need_uwcrop 1", "Tavkit_Rotate failed " + kCode, "XEPO rotate failed -3003"}},
        {47, {"need_uwcrop 1", "Tavkit_Flip failed " + kCode, "XEPO flip failed -3003"}},
        {14,
         {"need_uwcrop 1", "Tavkit_Normalization failed " + kCode,
          "XEPO Tavkit_Normalization failed -3003"}},
    };
    const Ids chain = {19, 50, 53, 47, 14};
    for (const auto& [failing, lines] : cases) {
        SCOPED_TRACE(failing);
        rec = {};
        rec.failRun = failing;
        log.clear();
        EXPECT_EQ(toModelInput(1, 0.5f, 90, true), -3003);
        EXPECT_EQ(log.texts(), lines);
        EXPECT_EQ(rec.runIds,
                  Ids(chain.begin(), std::find(chain.begin(), chain.end(), failing) + 1));
    }
}

// Guards buffer overruns: a first stage smaller than one 224 x 224 image, or
// with a side above 4096, is refused before any operator runs.
TEST_F(OperationRecords, RgbPreparationRefusesSizesThatWouldOverrun) {
    std::vector<uint8_t> out(224 * 224 * 3);
    const std::tuple<int32_t, int32_t, int32_t> cases[] = {
        {223, 224, -2001},  {0, 224, -2001},    {INT_MAX, INT_MAX, -2001},
        {4097, 224, -2001}, {224, 4097, -2001}, {224, 224, 0},
        {4096, 224, 0},     {224, 4096, 0},
    };
    for (const auto& [w, h, status] : cases) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        rec = {};
        EXPECT_EQ(xepo::yuvtoRGB(kHandle, y.data(), vu.data(), kWidth, kHeight, kStride, kHeight, w,
                                 h, 0, false, 17, out.data()),
                  status);
        EXPECT_EQ(rec.runIds, status == 0 ? Ids{19} : Ids{});
        const TavkitImageDesc& dst = rec.records[19].dst;  // zeros when it did not run
        EXPECT_EQ(Ids({int32_t(dst.width), int32_t(dst.height)}),
                  (status == 0 ? Ids{w, h} : Ids{0, 0}));
    }
}

}  // namespace
