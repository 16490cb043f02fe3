// Connectivity labelling and the light-region boxes: the library against
// OpenCV's connected components (8-connectivity) on a few hundred random masks,
// some tall enough near the density where regions join for label trees to grow
// deep (a root search that stops one step short shows only there); the
// engine's labelling chain (getConnectivityArea: label, remove specks under 5
// pixels, update) and the library's speck removal on hand-drawn masks; the
// library's argument checks, its 16-bit label limit and its allocation
// failures; and the light-region boxes on drawn label images, and their
// transforms onto the host grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <iterator>
#include <limits>
#include <new>
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

// A qiraImage that owns its buffer, seen as `mat` too, drawn from rows of
// text: '#' is 255, a digit is that label; anything else (and anything outside
// the rows) is 0. Formats are the library's codes (9: one 8-bit channel, 24:
// one 16-bit channel), written out so that a changed code shows.
struct OwnedImage {
    qiraImage image;
    cv::Mat mat;
    OwnedImage(int32_t width, int32_t height, uint32_t format, const Rows& rows = {})
        : image(qiraImageCreate(width, height, format)),
          mat(height, width, format == 24 ? CV_16UC1 : CV_8UC1, image.data[0], image.stride[0]) {
        mat = 0;
        for (int y = 0; y < int(rows.size()); ++y) {
            for (int x = 0; x < int(rows[y].size()); ++x) {
                const char c = rows[y][x];
                mat(cv::Rect(x, y, 1, 1)) = c == '#' ? 255 : std::isdigit(c) ? c - '0' : 0;
            }
        }
    }
    ~OwnedImage() { EXPECT_EQ(qiraImageRelease(&image), 0); }
};

// Labels `mask` into `labels` (8-connectivity, plain mode) with `context`.
int32_t label8(OwnedImage& mask, OwnedImage& labels, ConnectivityContext* context) {
    return qiraConnectivityFindLabelAndRect(&mask.image, &labels.image, 8, 0, context, nullptr);
}

// Guards the library's labels against OpenCV's pixel-by-pixel labelling, which
// also numbers regions in raster order of their first pixel: the same label
// image, areas and boxes (x0, y0, x1, y1, far edges inclusive). Small regions
// are not removed here (labelling and update only).
void checkAgainstOpenCv(OwnedImage& src) {
    OwnedImage dst(src.mat.cols, src.mat.rows, 24);
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_EQ(label8(src, dst, context), 0);
    ASSERT_EQ(qiraConnectivityUpdateLabels(&dst.image, context, nullptr), 0);
    cv::Mat theirs, stats, centroids, ours;
    const int count =
        cv::connectedComponentsWithStats(src.mat, theirs, stats, centroids, 8, CV_32S, cv::CCL_WU);
    ASSERT_EQ(context->areas[0], static_cast<uint32_t>(count));  // regions plus background
    dst.mat.convertTo(ours, CV_32S);
    ASSERT_EQ(cv::countNonZero(ours != theirs), 0);
    for (int label = 1; label < count; ++label) {
        const int* s = stats.ptr<int>(label);  // left, top, width, height, area
        const int32_t* box = context->boxes + 4 * label;
        EXPECT_EQ((Values{int32_t(context->areas[label]), box[0], box[1], box[2], box[3]}),
                  (Values{s[4], s[0], s[1], s[0] + s[2] - 1, s[1] + s[3] - 1}))
            << "label " << label;
    }
    EXPECT_EQ(qiraConnectivityRelease(context), 0);
}

TEST(LabelingOracle, SamePartitionOrderAreasAndBoxesAsOpenCv) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> side(1, 90);
    const double densities[] = {0.05, 0.3, 0.45, 0.55, 0.6, 0.7, 0.9, 1.0};
    for (int i = 0; i < 336; ++i) {
        // The engine's 56 x 56 mask, assorted sizes down to single rows, and
        // tall masks near 0.45, where label trees grow deep before they are
        // resolved.
        int width = 56, height = 56;
        double density = densities[i % 8];
        if (i >= 320) {
            width = 128;
            height = 384;
            density = 0.4 + 0.01 * (i - 320);
        } else if (i >= 120) {
            width = side(random);
            height = side(random) / (i % 3 + 1);
        }
        SCOPED_TRACE(testing::Message() << width << "x" << height << " density " << density);
        // Each pixel light with probability `density`, in raster order.
        std::bernoulli_distribution light(density);
        OwnedImage mask(width, std::max(height, 1), 9);
        for (uint8_t& pixel : cv::Mat_<uint8_t>(mask.mat)) {
            pixel = light(random) ? 255 : 0;
        }
        ASSERT_NO_FATAL_FAILURE(checkAgainstOpenCv(mask));
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
            EXPECT_EQ(label8(mask, labels, context), 0);
            EXPECT_EQ(qiraConnectivityDeleteSmallRegion(context, 5, 0), 0);
            EXPECT_EQ(qiraConnectivityUpdateLabels(&labels.image, context, nullptr), 0);
            qiraConnectivityRelease(context);
        } else {
            xepo::getConnectivityArea(mask.image, labels.image, list);
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_TRUE(log.lines().empty());
        EXPECT_EQ(list, c.list);
        EXPECT_EQ(cv::countNonZero(labels.mat != expected.mat), 0);
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
    const std::string line = "[a-z_]+\\.cpp [0-9]+ ret=" + std::to_string(expected) + "\n";
    EXPECT_TRUE(std::regex_match(out, std::regex(expected == kQiraOk ? "" : line))) << out;
    if (expected != kQiraOk) {
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
        const OwnedImage made(8, 6, format);
        EXPECT_EQ(made.image.stride[0], stride) << format;
    }
    const std::pair<void (*)(Call&), int32_t> cases[] = {
        {[](Call&) {}, 0},
        {[](Call& c) { c.withSrc = false; }, 3},
        {[](Call& c) { c.src.data[0] = nullptr; }, 3},
        {[](Call& c) { c.withContext = false; }, 3},
        {[](Call& c) { c.src.width = 0; }, 3},
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
    // The widest image labelled, and one pixel wider.
    for (const int32_t width : {32760, 32761}) {
        OwnedImage wide(width, 1, 9, {"#"}), wideLabels(width, 1, 24);
        ConnectivityContext* context = qiraConnectivityInit();
        expectStatus([&] { return label8(wide, wideLabels, context); }, width == 32760 ? 0 : 3);
        qiraConnectivityRelease(context);
    }
    // The other entry points: nothing labelled yet, and null records.
    ConnectivityContext* context = qiraConnectivityInit();
    OwnedImage labels(8, 6, 24);
    expectStatus([&] { return qiraConnectivityDeleteSmallRegion(context, 5, 1); }, 3);
    expectStatus([&] { return qiraConnectivityUpdateLabels(&labels.image, context, nullptr); }, 3);
    expectStatus([&] { return qiraConnectivityUpdateLabels(&labels.image, nullptr, nullptr); }, 3);
    expectStatus([] { return qiraConnectivityDeleteSmallRegion(nullptr, 5, 1); }, 3);
    expectStatus([] { return qiraConnectivityRelease(nullptr); }, 3);
    // Labelled, then updated into an image of another width or height, or
    // through rows that do not start on a 16-bit boundary.
    OwnedImage mask(8, 6, 9, {"##"});
    ASSERT_EQ(label8(mask, labels, context), 0);
    OwnedImage wider(9, 6, 24), taller(8, 7, 24);
    std::vector<uint8_t> bytes(16 * 6 + 2);
    qiraImage misaligned = labels.image;
    misaligned.data[0] = bytes.data() + 1;
    for (qiraImage* other : {&wider.image, &taller.image, &misaligned}) {
        expectStatus([&] { return qiraConnectivityUpdateLabels(other, context, nullptr); }, 3);
    }
    expectStatus([] { return qiraImageRelease(nullptr); }, 3);
    qiraConnectivityRelease(context);
}

// Allocation failures on demand: while armed, the `failNext`-th nothrow
// allocation of the program (the labelling makes all of its allocations that
// way) gives null; the others go to the ordinary allocator.
int failNext = 0;

void* allocateOrFail(std::size_t size, bool array) {
    if (failNext > 0 && --failNext == 0) {
        return nullptr;
    }
    try {
        return array ? ::operator new[](size) : ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Guards the out-of-memory paths: the context, each label table and each strip
// table in turn cannot be had. The call fails with status 5 and its one line,
// frees what it had (the leak check of the sanitizer build), and the same
// context then labels the mask.
TEST(LabelingValidation, EachFailedAllocationGivesStatus5AndLeavesNothing) {
    failNext = 1;
    expectStatus([] { return qiraConnectivityInit() == nullptr ? 5 : kQiraOk; }, 5);
    OwnedImage mask(8, 6, 9, {"##......", "#.......", "....##.."});
    OwnedImage labels(8, 6, 24);
    for (int allocation = 1; allocation <= 6; ++allocation) {  // 3 label, then 3 strip tables
        SCOPED_TRACE(allocation);
        ConnectivityContext* context = qiraConnectivityInit();
        ASSERT_NE(context, nullptr);
        failNext = allocation;
        expectStatus([&] { return label8(mask, labels, context); }, 5);
        EXPECT_EQ(failNext, 0) << "fewer allocations than expected";
        expectStatus([&] { return label8(mask, labels, context); }, kQiraOk);
        EXPECT_EQ(context->areas[0], 3u);  // two regions and the background
        qiraConnectivityRelease(context);
    }
}

// Guards the 16-bit label limit: 65534 separate regions are labelled, one more
// is refused as unsupported, with its one line.
TEST(LabelingValidation, LabelsRunOutAfter65534Regions) {
    for (const int regions : {65534, 65535}) {
        SCOPED_TRACE(regions);
        // Single pixels two apart both ways, 255 to a row: each its own region.
        OwnedImage mask(510, 514, 9), labels(510, 514, 24);
        for (int i = 0; i < regions; ++i) {
            mask.mat.at<uint8_t>(i / 255 * 2, i % 255 * 2) = 255;
        }
        ConnectivityContext* context = qiraConnectivityInit();
        expectStatus([&] { return label8(mask, labels, context); }, regions == 65534 ? kQiraOk : 4);
        if (regions == 65534) {
            EXPECT_EQ(context->areas[0], 65535u);  // the regions and the background
        }
        qiraConnectivityRelease(context);
    }
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
        EXPECT_EQ(values(xepo::maxInnerRect(heights)), inner);
        EXPECT_EQ(values(xepo::maxOuterRect(heights)), outer);
    }
    // Inner scores of rows 0-2 are 4, 8, 12; the outer box is widened 3 cells
    // beyond the inner one, clipped to the image; other labels do not count.
    OwnedImage labels(6, 4, 24, {"211...", ".1111.", ".1111.", "....22"});
    // Equal scores on two rows go to the later one, a column's height restarts
    // after a row without the label, and an absent label is boxed on the last row.
    OwnedImage rows(8, 5, 24, {"33......", "........", "..33....", "...11...", "........"});
    const std::tuple<OwnedImage*, uint16_t, Values, Values> boxes[] = {
        {&labels, 1, {1, 0, 3, 2}, {0, 0, 6, 4}},
        {&rows, 3, {2, 2, 4, 2}, {0, 0, 7, 5}},
        {&rows, 1, {3, 3, 5, 3}, {0, 0, 8, 5}},
        {&rows, 9, {0, 5, 8, 4}, {0, 2, 8, 5}}};
    for (const auto& [image, label, inner, outer] : boxes) {
        SCOPED_TRACE(testing::Message() << "label " << label << " of " << image->mat.size());
        Box in{}, out{};
        xepo::getLabelBoxes(image->image, label, in, out);
        EXPECT_EQ(values(in), inner);
        EXPECT_EQ(values(out), outer);
    }
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
    // Out of range saturates, from exactly 2^31 up; not a number gives 0.
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    Box huge{kMax, -kMax, 1 << 30, 3};
    xepo::scaleBox(huge, std::numeric_limits<float>::quiet_NaN(), 2.0f);
    EXPECT_EQ(values(huge), (Values{kMax, 0, kMax, 0}));
}

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocateOrFail(size, false);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocateOrFail(size, true);
}
