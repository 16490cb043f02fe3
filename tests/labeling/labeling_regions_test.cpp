// Regions of hand-drawn masks through the engine's labelling chain
// (getConnectivityArea: label, remove specks under 5 pixels, update) and
// through the connectivity routines directly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cpp/img_process/light_region_boxes.h"
#include "imgproc/kal_labeling/connectivity.h"
#include "label_images.h"
#include "log_capture.h"

namespace {

using xepo::Box;
using xepo::getConnectivityArea;
using xepo::getLightRegionBoxes;

constexpr int32_t kMaskSide = 56;

// The label image as text: '.' for 0, the label's digit otherwise.
std::vector<std::string> labelText(OwnedImage& labels, int32_t width, int32_t height) {
    std::vector<std::string> rows;
    for (int32_t y = 0; y < height; ++y) {
        std::string row;
        for (int32_t x = 0; x < width; ++x) {
            const uint16_t v = labels.label(x, y);
            row += v == 0 ? '.' : static_cast<char>('0' + v);
        }
        rows.push_back(row);
    }
    return rows;
}

struct RegionCase {
    const char* name;
    std::vector<std::string> mask;        // drawn at the top left of a 56 x 56 mask
    std::vector<uint16_t> labels;         // the list getConnectivityArea returns
    std::vector<std::string> labelImage;  // expected top-left corner of the label image
};

class ConnectivityArea : public testing::TestWithParam<RegionCase> {};

TEST_P(ConnectivityArea, ListsRemainingLabels) {
    const RegionCase& c = GetParam();
    OwnedImage mask(kMaskSide, kMaskSide, kQiraFormatGray8);
    OwnedImage labels(kMaskSide, kMaskSide, kQiraFormatGray16);
    drawMask(mask, c.mask);
    std::vector<uint16_t> list;
    getConnectivityArea(mask.get(), labels.get(), list);
    EXPECT_EQ(list, c.labels);
    const int32_t width = static_cast<int32_t>(c.labelImage[0].size());
    const int32_t height = static_cast<int32_t>(c.labelImage.size());
    EXPECT_EQ(labelText(labels, width, height), c.labelImage);
    // Nothing is labelled outside the drawn corner.
    for (int32_t y = 0; y < kMaskSide; ++y) {
        for (int32_t x = 0; x < kMaskSide; ++x) {
            if (x >= width || y >= height) {
                ASSERT_EQ(labels.label(x, y), 0) << x << "," << y;
            }
        }
    }
}

const RegionCase kRegionCases[] = {
    {"AllZero", {}, {0}, {"...."}},
    {"FourPixelsRemoved",
     {"......", ".##...", ".##...", "......"},
     {0},
     {"......", "......", "......", "......"}},
    {"FourPixelsAtBorderRemoved", {"#...", "###."}, {0}, {"....", "...."}},
    {"FivePixelsKept",
     {"......", "..#...", ".###..", "..#..."},
     {0, 1},
     {"......", "..1...", ".111..", "..1..."}},
    // The first region in raster order is a speck: it goes, and the large one
    // keeps its label 2 (labels are not renumbered).
    {"SmallFirstRegionLeavesLabel2",
     {"##......", "........", "...#####", "...#####"},
     {0, 2},
     {"........", "........", "...22222", "...22222"}},
    {"SpecksBetweenKeptRegions",
     {"###..#..#####", "###.......#..", "...........#.", "#...##......."},
     {0, 1, 3},
     {"111.....33333", "111.......3..", "...........3.", "............."}},
    // Squares meeting at one corner are one region.
    {"CornerTouchingSquaresAreOne",
     {"###....", "###....", "###....", "...###.", "...###.", "...###."},
     {0, 1},
     {"111....", "111....", "111....", "...111.", "...111.", "...111."}},
    // The anti-diagonal joins at column 0: each pixel's upper-right neighbour.
    {"AntiDiagonalFromColumn0IsOne",
     {"....#", "...#.", "..#..", ".#...", "#...."},
     {0, 1},
     {"....1", "...1.", "..1..", ".1...", "1...."}},
    // Regions are numbered by their first pixel in raster order, not by where
    // their trees were joined.
    {"NumberedByFirstPixel",
     {".#####.#####", ".#...#.#...#", ".#...###...#", "#..........#", "############"},
     {0, 1},
     {".11111.11111", ".1...1.1...1", ".1...111...1", "1..........1", "111111111111"}},
    {"UShapeJoinedLate",
     {"#.....#", "#.....#", "#.....#", "#######", ".......", "..#####"},
     {0, 1, 2},
     {"1.....1", "1.....1", "1.....1", "1111111", ".......", "..22222"}},
};

INSTANTIATE_TEST_SUITE_P(Masks, ConnectivityArea, testing::ValuesIn(kRegionCases),
                         [](const testing::TestParamInfo<RegionCase>& info) {
                             return std::string(info.param.name);
                         });

// A pixel at the end of a row does not reach the start of the next row (and
// the other way round): rows do not wrap.
TEST(ConnectivityRoutines, RowsDoNotWrap) {
    OwnedImage mask(4, 3, kQiraFormatGray8);
    OwnedImage labels(4, 3, kQiraFormatGray16);
    drawMask(mask, {"...#", "#..#", "#..."});
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(qiraConnectivityFindLabelAndRect(&mask.get(), &labels.get(), 8, 0, context, nullptr),
              kQiraOk);
    EXPECT_EQ(context->areas[0], 3u);
    ASSERT_EQ(qiraConnectivityUpdateLabels(&labels.get(), context, nullptr), kQiraOk);
    EXPECT_EQ(labelText(labels, 4, 3), (std::vector<std::string>{"...1", "2..1", "2..."}));
    qiraConnectivityRelease(context);
}

// With deleteAtBorder 0 a speck touching the border stays; inner specks go.
TEST(ConnectivityRoutines, BorderSpecksStayWhenAsked) {
    OwnedImage mask(8, 6, kQiraFormatGray8);
    OwnedImage labels(8, 6, kQiraFormatGray16);
    drawMask(mask, {"#.......", "........", "...##...", "........", "........", ".......#"});
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(qiraConnectivityFindLabelAndRect(&mask.get(), &labels.get(), 8, 0, context, nullptr),
              kQiraOk);
    ASSERT_EQ(qiraConnectivityDeleteSmallRegion(context, 5, 0), kQiraOk);
    ASSERT_EQ(qiraConnectivityUpdateLabels(&labels.get(), context, nullptr), kQiraOk);
    EXPECT_EQ(labelText(labels, 8, 6),
              (std::vector<std::string>{"1.......", "........", "........", "........", "........",
                                        ".......3"}));
    qiraConnectivityRelease(context);
}

// 4-connectivity: diagonal neighbours are separate regions.
TEST(ConnectivityRoutines, FourConnectivitySplitsDiagonals) {
    OwnedImage mask(4, 3, kQiraFormatGray8);
    OwnedImage labels(4, 3, kQiraFormatGray16);
    drawMask(mask, {"#.#.", ".#..", "##.#"});
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(qiraConnectivityFindLabelAndRect(&mask.get(), &labels.get(), 4, 0, context, nullptr),
              kQiraOk);
    ASSERT_EQ(qiraConnectivityUpdateLabels(&labels.get(), context, nullptr), kQiraOk);
    EXPECT_EQ(labelText(labels, 4, 3), (std::vector<std::string>{"1.2.", ".3..", "33.4"}));
    qiraConnectivityRelease(context);
}

// Different non-zero values are different regions; equal values connect.
TEST(ConnectivityRoutines, OnlyEqualValuesConnect) {
    OwnedImage mask(3, 2, kQiraFormatGray8);
    OwnedImage labels(3, 2, kQiraFormatGray16);
    const uint8_t pixels[2][3] = {{255, 7, 7}, {255, 0, 7}};
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            mask.maskRow(y)[x] = pixels[y][x];
        }
    }
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(qiraConnectivityFindLabelAndRect(&mask.get(), &labels.get(), 8, 0, context, nullptr),
              kQiraOk);
    ASSERT_EQ(qiraConnectivityUpdateLabels(&labels.get(), context, nullptr), kQiraOk);
    EXPECT_EQ(labelText(labels, 3, 2), (std::vector<std::string>{"122", "1.2"}));
    qiraConnectivityRelease(context);
}

// A checkerboard of single pixels under 4-connectivity needs more labels than
// 16 bits hold: refused with 4, never a wrapped label.
TEST(ConnectivityRoutines, TooManyRegionsIsRefused) {
    const int32_t side = 400;  // 80000 isolated pixels
    OwnedImage mask(side, side, kQiraFormatGray8);
    OwnedImage labels(side, side, kQiraFormatGray16);
    for (int32_t y = 0; y < side; ++y) {
        for (int32_t x = 0; x < side; ++x) {
            mask.maskRow(y)[x] = (x + y) % 2 == 0 ? 255 : 0;
        }
    }
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_NE(context, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(qiraConnectivityFindLabelAndRect(&mask.get(), &labels.get(), 4, 0, context, nullptr),
              kQiraUnsupported);
    EXPECT_NE(testing::internal::GetCapturedStdout().find(" ret=4"), std::string::npos);
    // Nothing is pending afterwards.
    EXPECT_EQ(context->stripRowCounts, nullptr);
    qiraConnectivityRelease(context);
}

TEST(ConnectivityAreaBoxes, AllLightMask) {
    OwnedImage mask(kMaskSide, kMaskSide, kQiraFormatGray8);
    OwnedImage labels(kMaskSide, kMaskSide, kQiraFormatGray16);
    fillMask(mask, 255);
    std::vector<uint16_t> list;
    getConnectivityArea(mask.get(), labels.get(), list);
    EXPECT_EQ(list, (std::vector<uint16_t>{1}));
    std::vector<Box> outer;
    std::vector<Box> inner;
    getLightRegionBoxes(labels.get(), list, outer, inner);
    ASSERT_EQ(inner.size(), 1u);
    ASSERT_EQ(outer.size(), 1u);
    EXPECT_EQ((std::vector<int32_t>{inner[0].x0, inner[0].y0, inner[0].x1, inner[0].y1}),
              (std::vector<int32_t>{0, 0, 56, 55}));
    EXPECT_EQ((std::vector<int32_t>{outer[0].x0, outer[0].y0, outer[0].x1, outer[0].y1}),
              (std::vector<int32_t>{0, 0, 56, 56}));
}

TEST(ConnectivityAreaBoxes, NoRegionNoBoxes) {
    OwnedImage mask(kMaskSide, kMaskSide, kQiraFormatGray8);
    OwnedImage labels(kMaskSide, kMaskSide, kQiraFormatGray16);
    fillMask(mask, 0);
    std::vector<uint16_t> list;
    getConnectivityArea(mask.get(), labels.get(), list);
    EXPECT_EQ(list, (std::vector<uint16_t>{0}));
    std::vector<Box> outer;
    std::vector<Box> inner;
    getLightRegionBoxes(labels.get(), list, outer, inner);
    EXPECT_TRUE(outer.empty());
    EXPECT_TRUE(inner.empty());
}

// A failed labelling logs its step and leaves the list as it was.
TEST(ConnectivityAreaFailure, LeavesListAndLogsStep) {
    OwnedImage mask(kMaskSide, kMaskSide, kQiraFormatGray8);
    OwnedImage labels(kMaskSide, kMaskSide, kQiraFormatGray8);  // wrong format
    fillMask(mask, 255);
    std::vector<uint16_t> list{7, 9};
    LogCapture log;
    testing::internal::CaptureStdout();
    getConnectivityArea(mask.get(), labels.get(), list);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(list, (std::vector<uint16_t>{7, 9}));
    EXPECT_EQ(log.count(" run qiraConnectivityFindLabelAndRect fail !"), 1);
    EXPECT_TRUE(log.contains("getConnectivityArea()  run qiraConnectivityFindLabelAndRect fail !"));
    bool errorLine = false;
    for (const LoggedLine& line : log.lines()) {
        errorLine |= line.tag == "_Q_LXEPO" && line.priority == 6 &&
                     line.text() == " run qiraConnectivityFindLabelAndRect fail !";
    }
    EXPECT_TRUE(errorLine);
    EXPECT_NE(out.find(" ret=4\n"), std::string::npos);
}

// A successful labelling writes no LOG_DBG line and prints nothing.
TEST(ConnectivityAreaFailure, SuccessIsQuiet) {
    OwnedImage mask(kMaskSide, kMaskSide, kQiraFormatGray8);
    OwnedImage labels(kMaskSide, kMaskSide, kQiraFormatGray16);
    drawMask(mask, {"###", "###"});
    std::vector<uint16_t> list;
    LogCapture log;
    testing::internal::CaptureStdout();
    getConnectivityArea(mask.get(), labels.get(), list);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(list, (std::vector<uint16_t>{0, 1}));
}

}  // namespace
