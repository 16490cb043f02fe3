// Boxes of light regions: the column-height spans, the boxes of a label and
// their transforms onto the host grid.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "cpp/img_process/light_region_boxes.h"
#include "label_images.h"

namespace {

using xepo::Box;
using xepo::RectSpan;

std::vector<int32_t> values(const Box& b) {
    return {b.x0, b.y0, b.x1, b.y1};
}

struct SpanCase {
    std::vector<float> heights;
    RectSpan inner;
    RectSpan outer;
};

void expectSpan(const RectSpan& got, const RectSpan& want) {
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.right, want.right);
    EXPECT_FLOAT_EQ(got.score, want.score);
    EXPECT_EQ(got.height, want.height);
}

// Scores are h * (hi - lo + 1): two more than the span's width, and the first
// column with the largest positive score wins.
TEST(ColumnSpans, InnerAndOuter) {
    const SpanCase cases[] = {
        {{}, {0, 0, 0.0f, 0}, {0, 0, 0.0f, 0}},
        // Nothing positive: column 0 with score 0.
        {{0, 0, 0}, {0, 3, 0.0f, 0}, {0, 1, 0.0f, 0}},
        {{3}, {0, 1, 9.0f, 3}, {0, 1, 9.0f, 3}},
        {{1, 2, 3}, {2, 3, 9.0f, 3}, {0, 3, 15.0f, 3}},
        {{2, 2}, {0, 2, 8.0f, 2}, {0, 2, 8.0f, 2}},
        {{0, 4, 0, 1}, {1, 2, 12.0f, 4}, {1, 2, 12.0f, 4}},
        {{3, 1, 0, 2, 2}, {0, 1, 9.0f, 3}, {0, 2, 12.0f, 3}},
        // Inner stops at lower columns, outer only at empty ones.
        {{1, 3, 1}, {1, 2, 9.0f, 3}, {0, 3, 15.0f, 3}},
        // Equal scores: the first column.
        {{1, 1, 0, 1, 1}, {0, 2, 4.0f, 1}, {0, 2, 4.0f, 1}},
        {{2.5f, 0}, {0, 1, 7.5f, 2}, {0, 1, 7.5f, 2}},
        {{-2, 1}, {1, 2, 3.0f, 1}, {1, 2, 3.0f, 1}},
    };
    for (const SpanCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.heights));
        {
            SCOPED_TRACE("inner");
            expectSpan(xepo::maxInnerRect(c.heights), c.inner);
        }
        {
            SCOPED_TRACE("outer");
            expectSpan(xepo::maxOuterRect(c.heights), c.outer);
        }
    }
}

// Heights that are not numbers never win and never make a bad conversion.
TEST(ColumnSpans, NotANumber) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const std::vector<float>& heights :
         {std::vector<float>{nan}, std::vector<float>{nan, 2.0f, nan}}) {
        const RectSpan inner = xepo::maxInnerRect(heights);
        const RectSpan outer = xepo::maxOuterRect(heights);
        EXPECT_FALSE(std::isnan(inner.score));
        EXPECT_FALSE(std::isnan(outer.score));
        EXPECT_LE(inner.right, heights.size());
        EXPECT_LE(outer.right, heights.size());
    }
    EXPECT_EQ(xepo::maxInnerRect({nan}).height, 0u);
}

struct LabelBoxCase {
    const char* name;
    std::vector<std::string> image;  // digits are labels, anything else 0
    uint16_t label;
    std::vector<int32_t> inner;
    std::vector<int32_t> outer;
};

class LabelBoxes : public testing::TestWithParam<LabelBoxCase> {};

TEST_P(LabelBoxes, InnerAndOuter) {
    const LabelBoxCase& c = GetParam();
    const int32_t width = static_cast<int32_t>(c.image[0].size());
    const int32_t height = static_cast<int32_t>(c.image.size());
    OwnedImage labels(width, height, kQiraFormatGray16);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const char ch = c.image[y][x];
            labels.labelRow(y)[x] = ch >= '0' && ch <= '9' ? static_cast<uint16_t>(ch - '0') : 0;
        }
    }
    Box inner{};
    Box outer{};
    xepo::getLabelBoxes(labels.get(), c.label, inner, outer);
    EXPECT_EQ(values(inner), c.inner);
    EXPECT_EQ(values(outer), c.outer);
}

const LabelBoxCase kLabelBoxCases[] = {
    // Rows 0-2 give inner scores 4, 8, 12 and outer 4, 12, 18; the outer box
    // is then widened 3 cells beyond the inner one, clipped to the image.
    {"Block", {".11...", ".1111.", ".1111.", "......"}, 1, {1, 0, 3, 2}, {0, 0, 6, 4}},
    // Equal scores on rows 0 and 2: the later row wins.
    {"TieGoesToLaterRow", {"111..", ".....", "..111"}, 1, {2, 2, 5, 2}, {0, 0, 5, 3}},
    // Only the asked label counts.
    {"OtherLabelsIgnored", {"2222", "2112", "2112", "2222"}, 1, {1, 1, 3, 2}, {0, 0, 4, 4}},
    {"InteriorRegion",
     {"..........", "..........", "..........", "...1111...", "...1111...", "..........",
      "..........", "..........", "..........", ".........."},
     1,
     {3, 3, 7, 4},
     {0, 0, 10, 7}},
    // An absent label: every row ties at score 0, so the last row's empty
    // span (column 0 up to the end, above the row) stands.
    {"AbsentLabel", {"11", "11", ".."}, 2, {0, 3, 2, 2}, {0, 0, 2, 3}},
};

INSTANTIATE_TEST_SUITE_P(Images, LabelBoxes, testing::ValuesIn(kLabelBoxCases),
                         [](const testing::TestParamInfo<LabelBoxCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(LightRegionBoxes, OneBoxPairPerLabelInListOrder) {
    OwnedImage labels(6, 3, kQiraFormatGray16);
    const char* rows[] = {"11..33", "11..33", "......"};
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 6; ++x) {
            labels.labelRow(y)[x] = rows[y][x] == '.' ? 0 : static_cast<uint16_t>(rows[y][x] - '0');
        }
    }
    std::vector<Box> outer{Box{9, 9, 9, 9}};  // appended to, not replaced
    std::vector<Box> inner{Box{9, 9, 9, 9}};
    xepo::getLightRegionBoxes(labels.get(), {0, 3, 1}, outer, inner);
    ASSERT_EQ(inner.size(), 3u);
    ASSERT_EQ(outer.size(), 3u);
    EXPECT_EQ(values(inner[1]), (std::vector<int32_t>{4, 0, 6, 1}));
    EXPECT_EQ(values(inner[2]), (std::vector<int32_t>{0, 0, 2, 1}));
    EXPECT_EQ(values(outer[1]), (std::vector<int32_t>{1, 0, 6, 3}));
    EXPECT_EQ(values(outer[2]), (std::vector<int32_t>{0, 0, 5, 3}));
}

TEST(LightRegionBoxes, UnreadableImageGivesNoBoxes) {
    qiraImage broken = qiraImageCreate(4, 4, kQiraFormatGray8);  // 8-bit: not a label image
    std::vector<Box> outer;
    std::vector<Box> inner;
    xepo::getLightRegionBoxes(broken, {0, 1}, outer, inner);
    EXPECT_TRUE(outer.empty());
    EXPECT_TRUE(inner.empty());
    Box in{1, 1, 1, 1};
    Box out{1, 1, 1, 1};
    xepo::getLabelBoxes(broken, 1, in, out);
    EXPECT_EQ(values(in), (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(values(out), (std::vector<int32_t>{0, 0, 0, 0}));
    qiraImageRelease(&broken);
}

struct RotateCase {
    int32_t rotation;
    Box box;
    int32_t W;
    int32_t H;
    std::vector<int32_t> expected;
};

TEST(RotateBoxBack, QuarterTurnsOnly) {
    const RotateCase cases[] = {
        {0, {10, 20, 30, 40}, 56, 56, {10, 20, 30, 40}},
        {360, {10, 20, 30, 40}, 56, 56, {10, 20, 30, 40}},
        {450, {10, 20, 30, 40}, 56, 56, {10, 20, 30, 40}},
        {-90, {10, 20, 30, 40}, 56, 56, {10, 20, 30, 40}},
        {45, {10, 20, 30, 40}, 56, 56, {10, 20, 30, 40}},
        {90, {10, 20, 30, 40}, 56, 56, {20, 26, 40, 46}},
        {180, {10, 20, 30, 40}, 56, 56, {26, 16, 46, 36}},
        {270, {10, 20, 30, 40}, 56, 56, {16, 10, 36, 30}},
        // Edges at the far border are held to the last cell.
        {90, {0, 0, 56, 56}, 56, 56, {0, 0, 56, 55}},
        {180, {0, 0, 56, 56}, 56, 56, {0, 0, 55, 55}},
        {270, {0, 0, 56, 56}, 56, 56, {0, 0, 55, 56}},
        // 90 turns on the width, 270 on the height.
        {90, {10, 20, 30, 40}, 64, 48, {20, 34, 40, 54}},
        {180, {10, 20, 30, 40}, 64, 48, {34, 8, 54, 28}},
        {270, {10, 20, 30, 40}, 64, 48, {8, 10, 28, 30}},
    };
    for (const RotateCase& c : cases) {
        SCOPED_TRACE(c.rotation);
        EXPECT_EQ(values(xepo::rotateBoxBack(c.box, c.rotation, c.W, c.H)), c.expected);
    }
}

// 48/56 and 64/56 in single precision are a little above 6/7 and 8/7, so every
// cell coordinate maps to the exact integer part of 6v/7 and 8v/7.
TEST(ScaleBox, HostGridFactors) {
    const float sy = 48.0f / 56.0f;
    const float sx = 64.0f / 56.0f;
    EXPECT_EQ(sy, 0.85714287f);
    EXPECT_EQ(sx, 1.1428572f);
    for (int32_t v = -56; v <= 56; ++v) {
        SCOPED_TRACE(v);
        Box box{v, v, 56 - v, 56 - v};
        xepo::scaleBox(box, sy, sx);
        auto truncated = [](int32_t value, int32_t numerator) {
            const int32_t magnitude = (value < 0 ? -value : value) * numerator / 7;
            return value < 0 ? -magnitude : magnitude;
        };
        EXPECT_EQ(box.x0, truncated(v, 8));
        EXPECT_EQ(box.y0, truncated(v, 6));
        EXPECT_EQ(box.x1, truncated(56 - v, 8));
        EXPECT_EQ(box.y1, truncated(56 - v, 6));
    }
    Box full{0, 0, 56, 56};
    xepo::scaleBox(full, sy, sx);
    EXPECT_EQ(values(full), (std::vector<int32_t>{0, 0, 64, 48}));
}

TEST(ScaleBox, OutOfRangeSaturates) {
    const int32_t big = std::numeric_limits<int32_t>::max();
    Box box{big, -big, 3, 3};
    xepo::scaleBox(box, std::numeric_limits<float>::quiet_NaN(), 2.0f);
    EXPECT_EQ(values(box), (std::vector<int32_t>{big, 0, 6, 0}));
}

}  // namespace
