// Connectivity labelling and the light-region boxes: the library against
// OpenCV's connected components (8-connectivity) on a few hundred random masks
// and on shapes whose provisional labels chain; the engine's labelling chain
// (getConnectivityArea: label, remove specks under 5 pixels, update) and the
// library's speck removal on hand-drawn masks; the library's argument checks;
// and the light-region boxes, against their plain full scan, and their
// transforms onto the host grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cpp/img_process/light_region_boxes.h"
#include "imgproc/kal_labeling/connectivity.h"
#include "log_capture.h"

namespace {

using xepo::Box;
using Rows = std::vector<std::string>;
using Values = std::vector<int32_t>;

Values values(const Box& b) {
    return {b.x0, b.y0, b.x1, b.y1};
}
Values values(const xepo::RectSpan& s) {
    return {int32_t(s.left), int32_t(s.right), int32_t(s.score), int32_t(s.height)};
}

// A qiraImage that owns its buffer, drawn from rows of text: in a mask '#' is
// 255, in a label image a digit is that label; anything else (and anything
// outside the rows) is 0. Formats are the library's codes (9: one 8-bit
// channel, 24: one 16-bit channel), written out so that a changed code shows.
struct OwnedImage {
    qiraImage image;
    OwnedImage(int32_t width, int32_t height, uint32_t format, const Rows& rows = {})
        : image(qiraImageCreate(width, height, format)) {
        const int32_t bytes = format == 24 ? 2 : 1;
        for (int32_t y = 0; y < height; ++y) {
            std::memset(row(y), 0, static_cast<size_t>(width) * bytes);
            for (int32_t x = 0; y < int32_t(rows.size()) && x < int32_t(rows[y].size()); ++x) {
                const char c = rows[y][x];
                if (bytes == 1) {
                    row(y)[x] = c == '#' ? 255 : 0;
                } else {
                    label(x, y) = c >= '0' && c <= '9' ? c - '0' : 0;
                }
            }
        }
    }
    explicit OwnedImage(const cv::Mat& mask) : OwnedImage(mask.cols, mask.rows, 9) {
        for (int y = 0; y < mask.rows; ++y) {
            std::memcpy(row(y), mask.ptr<uint8_t>(y), mask.cols);
        }
    }
    ~OwnedImage() {
        if (image.data[0] != nullptr) {
            qiraImageRelease(&image);
        }
    }
    uint8_t* row(int32_t y) { return static_cast<uint8_t*>(image.data[0]) + y * image.stride[0]; }
    uint16_t& label(int32_t x, int32_t y) { return reinterpret_cast<uint16_t*>(row(y))[x]; }
};

// A mask whose pixels are light with probability `density`, in raster order.
cv::Mat randomMask(int width, int height, double density, std::mt19937& random) {
    std::bernoulli_distribution light(density);
    cv::Mat mask(height, width, CV_8UC1);
    for (auto p = mask.begin<uint8_t>(); p != mask.end<uint8_t>(); ++p) {
        *p = light(random) ? 255 : 0;
    }
    return mask;
}

// Guards the library's labels against OpenCV's: one-to-one over all pixels,
// numbered in raster order of each region's first pixel, the same areas and
// boxes. Small regions are not removed here (labelling and update only).
void checkAgainstOpenCv(const cv::Mat& mask) {
    OwnedImage src(mask), dst(mask.cols, mask.rows, 24);
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_EQ(qiraConnectivityFindLabelAndRect(&src.image, &dst.image, 8, 0, context, nullptr), 0);
    ASSERT_EQ(qiraConnectivityUpdateLabels(&dst.image, context, nullptr), 0);
    cv::Mat theirs, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, theirs, stats, centroids, 8, CV_32S);
    ASSERT_EQ(context->areas[0], static_cast<uint32_t>(count));  // regions plus background

    // Ours -> theirs must be one-to-one over all pixels, and our labels must
    // first appear in the order 1, 2, 3, ...
    std::vector<int> toCv(count, -1), fromCv(count, -1);
    int next = 1;
    for (int y = 0; y < mask.rows; ++y) {
        for (int x = 0; x < mask.cols; ++x) {
            const int ours = dst.label(x, y), other = theirs.at<int32_t>(y, x);
            ASSERT_LT(ours, count) << x << "," << y;
            ASSERT_EQ(ours == 0, other == 0) << x << "," << y;
            if (toCv[ours] == -1) {
                if (ours != 0) {
                    ASSERT_EQ(ours, next++) << "out of raster order at " << x << "," << y;
                }
                ASSERT_EQ(fromCv[other], -1) << "region split at " << x << "," << y;
                toCv[ours] = other;
                fromCv[other] = ours;
            }
            ASSERT_EQ(toCv[ours], other) << "regions merged at " << x << "," << y;
        }
    }
    for (int label = 1; label < count; ++label) {
        const int other = toCv[label];
        EXPECT_EQ(context->areas[label], stats.at<uint32_t>(other, cv::CC_STAT_AREA));
        // Boxes are x0, y0, x1, y1 with the far edges inclusive.
        const int left = stats.at<int32_t>(other, cv::CC_STAT_LEFT),
                  top = stats.at<int32_t>(other, cv::CC_STAT_TOP);
        const int32_t* box = context->boxes + 4 * label;
        EXPECT_EQ(
            std::vector<int32_t>(box, box + 4),
            (std::vector<int32_t>{left, top, left + stats.at<int32_t>(other, cv::CC_STAT_WIDTH) - 1,
                                  top + stats.at<int32_t>(other, cv::CC_STAT_HEIGHT) - 1}))
            << "label " << label;
    }
    EXPECT_EQ(qiraConnectivityRelease(context), 0);
}

TEST(LabelingOracle, SamePartitionOrderAreasAndBoxesAsOpenCv) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> side(1, 90);
    const double densities[] = {0.05, 0.3, 0.45, 0.55, 0.6, 0.7, 0.9, 1.0};
    for (int i = 0; i < 320; ++i) {
        // The engine's 56 x 56 mask, then assorted sizes down to single rows.
        const int width = i < 120 ? 56 : side(random),
                  height = i < 120 ? 56 : side(random) / (i % 3 + 1);
        const double density = densities[i % 8];
        SCOPED_TRACE(testing::Message() << width << "x" << height << " density " << density);
        ASSERT_NO_FATAL_FAILURE(
            checkAgainstOpenCv(randomMask(width, std::max(height, 1), density, random)));
    }
}

// Shapes whose first pass hands out many provisional labels that join only
// later and through one another, so that the label trees grow deep before
// they are resolved: combs hanging down and standing up, nested U shapes,
// staircases and a square spiral, each also mirrored left to right.
TEST(LabelingOracle, ChainedEquivalences) {
    std::vector<cv::Mat> shapes;
    cv::Mat hanging(30, 61, CV_8UC1, cv::Scalar(0));
    for (int x = 0; x < 61; x += 2) {
        hanging.col(x).setTo(255);
    }
    hanging.row(29).setTo(255);
    hanging.at<uint8_t>(0, 60) = 0;
    shapes.push_back(hanging);
    cv::Mat standing;
    cv::flip(hanging, standing, 0);
    shapes.push_back(standing);
    // Nested U shapes joined at the bottom by one bar under the innermost.
    cv::Mat nested(40, 41, CV_8UC1, cv::Scalar(0));
    for (int k = 0; k < 10; ++k) {
        nested(cv::Rect(2 * k, 0, 1, 40 - 2 * k)).setTo(255);
        nested(cv::Rect(40 - 2 * k, 0, 1, 40 - 2 * k)).setTo(255);
        nested(cv::Rect(2 * k, 39 - 2 * k, 41 - 4 * k, 1)).setTo(255);
    }
    shapes.push_back(nested);
    // Teeth whose tops lie ever lower, joined by a diagonal staircase.
    cv::Mat stairs(40, 40, CV_8UC1, cv::Scalar(0));
    for (int x = 0; x < 40; x += 2) {
        stairs(cv::Rect(x, 0, 1, 40 - x)).setTo(255);
        stairs.at<uint8_t>(38 - x, x + 1) = 255;
    }
    shapes.push_back(stairs);
    // A square spiral one pixel wide with one-pixel gaps: legs of 40, 40, 40,
    // 38, 38, 36, 36, ... 2, 2 pixels turning clockwise.
    cv::Mat spiral(41, 41, CV_8UC1, cv::Scalar(0));
    const cv::Point steps[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    cv::Point at(0, 0);
    for (int leg = 0; leg < 41; ++leg) {
        const cv::Point next = at + steps[leg % 4] * (40 - 2 * ((leg - 1) / 2));
        cv::line(spiral, at, next, 255);
        at = next;
    }
    shapes.push_back(spiral);
    for (size_t i = 0, n = shapes.size(); i < n; ++i) {
        cv::Mat mirrored;
        cv::flip(shapes[i], mirrored, 1);
        shapes.push_back(mirrored);
    }
    for (size_t i = 0; i < shapes.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_NO_FATAL_FAILURE(checkAgainstOpenCv(shapes[i]));
    }
}

// Guards speck removal (4 pixels go, 5 stay), that labels are not renumbered
// after a removal, that corner-touching pixels are one region (the engine asks
// for 8-connectivity), the all-dark and all-light masks (the list holds only
// the labels present) and that a successful labelling is quiet: the engine's
// chain on 56 x 56 masks. With border specks kept (the library asked directly,
// on 8 x 4 masks), specks whose box touches any of the four borders stay while
// one inside goes, and other regions keep their labels.
TEST(ConnectivityArea, SpeckRemoval) {
    struct Case {
        bool keepBorder;
        Rows mask;                   // drawn at the top left
        std::vector<uint16_t> list;  // the engine's list
        Rows labels;                 // expected top left of the label image; 0 elsewhere
    };
    const Rows light(56, std::string(56, '#')), ones(56, std::string(56, '1'));
    const Case cases[] = {
        {false, {"......", ".##...", ".##..."}, {0}, {}},
        {false, {"#...", "###."}, {0}, {}},
        {false, {"..#...", ".###..", "..#..."}, {0, 1}, {"..1...", ".111..", "..1..."}},
        {false, {"##......", "........", "...#####"}, {0, 2}, {"", "", "...22222"}},
        {false, {"##....", "##....", "..##..", "..##.."}, {0, 1}, {"11", "11", "..11", "..11"}},
        {false, {"#####...", "........", "......##", "........", "...#...."}, {0, 1}, {"11111"}},
        {false, {}, {0}, {}},
        {false, light, {1}, ones},
        {true, {"........", "........", "...#....", "........"}, {}, {}},
        {true, {"........", "........", "#.......", "........"}, {}, {"", "", "1"}},
        {true, {"...#....", "........", "........", "........"}, {}, {"...1"}},
        {true, {"........", "........", ".......#", "........"}, {}, {"", "", ".......1"}},
        {true, {"........", "........", "........", "...#...."}, {}, {"", "", "", "...1"}},
        {true, {"##......", "##......", "......#.", "........"}, {}, {"11", "11"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.mask));
        const int32_t width = c.keepBorder ? 8 : 56, height = c.keepBorder ? 4 : 56;
        OwnedImage mask(width, height, 9, c.mask), labels(width, height, 24);
        OwnedImage expected(width, height, 24, c.labels);
        std::vector<uint16_t> list;
        LogCapture log;
        testing::internal::CaptureStdout();
        if (c.keepBorder) {
            ConnectivityContext* context = qiraConnectivityInit();
            EXPECT_EQ(qiraConnectivityFindLabelAndRect(&mask.image, &labels.image, 8, 0, context,
                                                       nullptr),
                      0);
            EXPECT_EQ(qiraConnectivityDeleteSmallRegion(context, 5, 0), 0);
            EXPECT_EQ(qiraConnectivityUpdateLabels(&labels.image, context, nullptr), 0);
            qiraConnectivityRelease(context);
        } else {
            xepo::getConnectivityArea(mask.image, labels.image, list);
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_TRUE(log.lines().empty());
        EXPECT_EQ(list, c.list);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                ASSERT_EQ(labels.label(x, y), expected.label(x, y)) << x << "," << y;
            }
        }
    }
}

// Guards that a failed labelling logs its step and leaves the list as it was.
TEST(ConnectivityArea, FailureLeavesTheList) {
    OwnedImage mask(56, 56, 9);
    OwnedImage labels(56, 56, 9);  // not a label image
    std::vector<uint16_t> list{7, 9};
    LogCapture log;
    testing::internal::CaptureStdout();
    xepo::getConnectivityArea(mask.image, labels.image, list);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(list, (std::vector<uint16_t>{7, 9}));
    EXPECT_EQ(log.count(" run qiraConnectivityFindLabelAndRect fail !"), 1);
}

// Runs `call` and checks its status and, for a failure, the library's one
// "<file> <line> ret=<status>" line under LOG_DBG at error priority, printed
// to standard output as well.
void expectStatus(const std::function<int32_t()>& call, int32_t expected) {
    LogCapture log;
    testing::internal::CaptureStdout();
    EXPECT_EQ(call(), expected);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::vector<LoggedLine> lines = log.lines();
    ASSERT_EQ(lines.size(), expected == kQiraOk ? 0u : 1u) << out;
    if (expected != kQiraOk) {
        EXPECT_TRUE(std::regex_match(
            out, std::regex("[a-z_]+\\.cpp [0-9]+ ret=" + std::to_string(expected) + "\n")))
            << out;
        EXPECT_EQ(lines[0].tag, "LOG_DBG");
        EXPECT_EQ(lines[0].priority, 6);
        EXPECT_EQ(lines[0].message + (lines[0].message.back() == '\n' ? "" : "\n"), out);
    }
}

// One labelling call of an 8 x 6 mask; each row of the table below changes it.
struct Call {
    qiraImage src, dst;
    int32_t connectivity = 8, mode = 0;
    bool withSrc = true, withContext = true;
};

int32_t labelAfter(void (*change)(Call&)) {
    OwnedImage mask(8, 6, 9, {"##......", "#.......", "....##.."});
    OwnedImage labels(8, 6, 24);
    Call c{mask.image, labels.image};
    change(c);
    ConnectivityContext* context = qiraConnectivityInit();
    const int32_t status =
        qiraConnectivityFindLabelAndRect(c.withSrc ? &c.src : nullptr, &c.dst, c.connectivity,
                                         c.mode, c.withContext ? context : nullptr, nullptr);
    qiraConnectivityRelease(context);
    return status;
}

// Guards the library's status codes (0 success, 3 invalid argument, 4
// unsupported) and status line for each bad argument, and the format codes
// (9: one 8-bit channel, 24: one 16-bit channel, 2: packed RGB).
TEST(LabelingValidation, EachBadArgumentGivesItsStatusAndOneLine) {
    for (const auto& [format, stride] : {std::pair{9u, 8}, std::pair{24u, 16}, std::pair{2u, 24}}) {
        qiraImage made = qiraImageCreate(8, 6, format);
        ASSERT_NE(made.data[0], nullptr) << format;
        EXPECT_EQ(made.stride[0], stride) << format;
        EXPECT_EQ(qiraImageRelease(&made), 0);
    }
    const std::pair<void (*)(Call&), int32_t> cases[] = {
        {[](Call&) {}, 0},
        {[](Call& c) { c.withSrc = false; }, 3},
        {[](Call& c) { c.src.data[0] = nullptr; }, 3},
        {[](Call& c) { c.withContext = false; }, 3},
        {[](Call& c) { c.src.width = 0; }, 3},
        {[](Call& c) { c.src.width = c.src.stride[0] = 32761; }, 3},
        {[](Call& c) { c.src.width = 7; }, 3},
        {[](Call& c) { c.dst.height = 5; }, 3},
        {[](Call& c) { c.dst.stride[0] = 15; }, 3},
        {[](Call& c) { c.connectivity = 6; }, 4},
        {[](Call& c) { c.mode = 1; }, 4},
        {[](Call& c) { c.mode = 255, c.connectivity = 4; }, 0},
        {[](Call& c) { c.mode = 255; }, 4},
        {[](Call& c) { c.connectivity = 0x104; }, 0},
        {[](Call& c) { c.src.format = 24, c.src.stride[0] = 16; }, 4},
        {[](Call& c) { c.dst.format = 9; }, 4},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        expectStatus([&] { return labelAfter(cases[i].first); }, cases[i].second);
    }
    // The other entry points: nothing labelled yet, and null records.
    ConnectivityContext* context = qiraConnectivityInit();
    OwnedImage labels(8, 6, 24);
    expectStatus([&] { return qiraConnectivityDeleteSmallRegion(context, 5, 1); }, 3);
    expectStatus([&] { return qiraConnectivityUpdateLabels(&labels.image, context, nullptr); }, 3);
    expectStatus([] { return qiraConnectivityRelease(nullptr); }, 3);
    expectStatus([] { return qiraImageRelease(nullptr); }, 3);
    qiraConnectivityRelease(context);
}

// Guards the inner and outer spans of column heights (score h * (width + 2),
// inner stops at lower columns, first of equal scores wins) and the boxes of
// one label among others.
TEST(LightRegionBoxes, SpansAndLabelBoxes) {
    const std::tuple<std::vector<float>, Values, Values> spans[] = {
        {{3}, {0, 1, 9, 3}, {0, 1, 9, 3}},        {{1, 2, 3}, {2, 3, 9, 3}, {0, 3, 15, 3}},
        {{1, 3, 1}, {1, 2, 9, 3}, {0, 3, 15, 3}}, {{1, 1, 0, 1, 1}, {0, 2, 4, 1}, {0, 2, 4, 1}},
        {{0, 0, 0}, {0, 3, 0, 0}, {0, 1, 0, 0}},
    };
    for (const auto& [heights, inner, outer] : spans) {
        SCOPED_TRACE(testing::PrintToString(heights));
        const xepo::RectSpan in = xepo::maxInnerRect(heights), out = xepo::maxOuterRect(heights);
        EXPECT_EQ(values(in), inner);
        EXPECT_EQ(values(out), outer);
    }
    // Inner scores of rows 0-2 are 4, 8, 12; the outer box is widened 3 cells
    // beyond the inner one, clipped to the image; other labels do not count.
    OwnedImage labels(6, 4, 24, {"211...", ".1111.", ".1111.", "....22"});
    Box inner{}, outer{};
    xepo::getLabelBoxes(labels.image, 1, inner, outer);
    EXPECT_EQ(values(inner), (Values{1, 0, 3, 2}));
    EXPECT_EQ(values(outer), (Values{0, 0, 6, 4}));
    // The background label 0 is skipped and the labels after it are boxed.
    std::vector<Box> outers, inners;
    xepo::getLightRegionBoxes(labels.image, {0, 1, 2}, outers, inners);
    ASSERT_EQ(inners.size(), 2u);
    ASSERT_EQ(outers.size(), 2u);
    EXPECT_EQ(values(inners[0]), (Values{1, 0, 3, 2}));
    EXPECT_EQ(values(inners[1]), (Values{4, 3, 6, 3}));
}

// Guards the rotation back onto the frame (quarter turns only, 90 on the
// width, 270 on the height, far edges held to the last cell) and the
// truncating scale to the 64 x 48 host grid.
TEST(LightRegionBoxes, RotateBackAndScale) {
    const std::tuple<int32_t, Box, int32_t, int32_t, Values> rotations[] = {
        {0, {10, 20, 30, 40}, 56, 56, {10, 20, 30, 40}},
        {450, {10, 20, 30, 40}, 56, 56, {10, 20, 30, 40}},
        {-90, {10, 20, 30, 40}, 56, 56, {10, 20, 30, 40}},
        {90, {10, 20, 30, 40}, 64, 48, {20, 34, 40, 54}},
        {180, {10, 20, 30, 40}, 64, 48, {34, 8, 54, 28}},
        {270, {10, 20, 30, 40}, 64, 48, {8, 10, 28, 30}},
        {90, {0, 0, 56, 56}, 56, 56, {0, 0, 56, 55}},
        {180, {0, 0, 56, 56}, 56, 56, {0, 0, 55, 55}},
        {270, {0, 0, 56, 56}, 56, 56, {0, 0, 55, 56}},
    };
    for (const auto& [rotation, box, w, h, expected] : rotations) {
        EXPECT_EQ(values(xepo::rotateBoxBack(box, rotation, w, h)), expected) << rotation;
    }
    // 48/56 and 64/56 in single precision lie a little above 6/7 and 8/7.
    const std::pair<Box, Values> scales[] = {
        {{0, 0, 56, 56}, {0, 0, 64, 48}},
        {{7, 7, 49, 49}, {8, 6, 56, 42}},
        {{6, 6, 55, 55}, {6, 5, 62, 47}},
        {{-7, -1, 1, 13}, {-8, 0, 1, 11}},
    };
    for (auto [box, expected] : scales) {
        xepo::scaleBox(box, 48.0f / 56.0f, 64.0f / 56.0f);
        EXPECT_EQ(values(box), expected);
    }
    // Out of range saturates; not a number gives 0.
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    Box huge{kMax, -kMax, 3, 3};
    xepo::scaleBox(huge, std::numeric_limits<float>::quiet_NaN(), 2.0f);
    EXPECT_EQ(values(huge), (Values{kMax, 0, 6, 0}));
}

// The boxes as every row of the label image gives them, the plain form of
// getLabelBoxes: scored row by row with the public span searches.
void plainLabelBoxes(const qiraImage& labels, uint16_t label, Box& inner, Box& outer) {
    inner = Box{0, 0, 0, 0};
    outer = Box{0, 0, 0, 0};
    const int32_t width = labels.width;
    std::vector<float> heights(static_cast<size_t>(width), 0.0f);
    float bestInner = 0.0f, bestOuter = 0.0f;
    auto spanBox = [width](const xepo::RectSpan& span, int32_t row) {
        const int64_t top = std::max<int64_t>(static_cast<int64_t>(row) - span.height + 1, 0);
        return Box{int32_t(span.left), int32_t(top), int32_t(std::min<int64_t>(span.right, width)),
                   row};
    };
    for (int32_t row = 0; row < labels.height; ++row) {
        const uint16_t* values = reinterpret_cast<const uint16_t*>(
            static_cast<const uint8_t*>(labels.data[0]) + row * labels.stride[0]);
        for (int32_t column = 0; column < width; ++column) {
            heights[column] = values[column] == label ? heights[column] + 1.0f : 0.0f;
        }
        const xepo::RectSpan in = xepo::maxInnerRect(heights), out = xepo::maxOuterRect(heights);
        if (in.score >= bestInner) {
            bestInner = in.score;
            inner = spanBox(in, row);
        }
        if (out.score >= bestOuter) {
            bestOuter = out.score;
            outer = spanBox(out, row);
        }
    }
    outer.x0 = std::max(0, std::min(outer.x0, inner.x0 - 3));
    outer.y0 = std::max(0, std::min(outer.y0, inner.y0 - 3));
    outer.x1 = std::min(std::max(outer.x1, inner.x1 + 3), width);
    outer.y1 = std::min(std::max(outer.y1, inner.y1 + 3), labels.height);
}

// Guards that the boxes, found by scanning only each label's own rows, are
// those of the plain full scan, on random masks of many sizes and densities,
// an all-dark and an all-light one, and for labels absent from the image.
TEST(LightRegionBoxes, OwnRowsGiveThePlainBoxes) {
    std::mt19937 random(77);
    for (int i = 0; i < 62; ++i) {  // the last two: all dark, all light
        const bool big = i < 20 || i >= 60;
        const int32_t width = big ? 56 : 1 + i % 37, height = big ? 56 : 1 + (i * 7) % 41;
        OwnedImage mask(randomMask(width, height, i >= 60 ? i - 60 : 0.1 + 0.15 * (i % 6), random));
        OwnedImage labels(width, height, 24);
        std::vector<uint16_t> list;
        xepo::getConnectivityArea(mask.image, labels.image, list);
        std::vector<Box> outer, inner;
        xepo::getLightRegionBoxes(labels.image, list, outer, inner);
        std::vector<Box> plainOuter, plainInner;
        for (uint16_t label : list) {
            if (label != 0) {
                Box in{}, out{};
                plainLabelBoxes(labels.image, label, in, out);
                plainInner.push_back(in);
                plainOuter.push_back(out);
            }
        }
        ASSERT_EQ(inner.size(), plainInner.size()) << i;
        for (size_t k = 0; k < inner.size(); ++k) {
            ASSERT_EQ(values(inner[k]), values(plainInner[k])) << i << " region " << k;
            ASSERT_EQ(values(outer[k]), values(plainOuter[k])) << i << " region " << k;
        }
        const uint16_t absent = static_cast<uint16_t>(list.back() + 1);
        Box in{}, out{}, plainIn{}, plainOut{};
        xepo::getLabelBoxes(labels.image, absent, in, out);
        plainLabelBoxes(labels.image, absent, plainIn, plainOut);
        ASSERT_EQ(values(in), values(plainIn)) << i;
        ASSERT_EQ(values(out), values(plainOut)) << i;
    }
}

}  // namespace
