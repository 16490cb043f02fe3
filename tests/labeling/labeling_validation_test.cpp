// Argument checks of the labelling library: each bad argument gives its status
// code and exactly one "<file> <line> ret=<status>" line under "LOG_DBG" at
// error priority, with the same text on standard output.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "imgproc/kal_labeling/connectivity.h"
#include "label_images.h"
#include "log_capture.h"

namespace {

constexpr int kErrorPriority = 6;

// True when `text` is "<file> <line number> ret=<status>\n".
bool isStatusLine(const std::string& text, const std::string& file, int32_t status) {
    const std::string head = file + " ";
    const std::string tail = " ret=" + std::to_string(status) + "\n";
    if (text.size() <= head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    const std::string line = text.substr(head.size(), text.size() - head.size() - tail.size());
    return line.find_first_not_of("0123456789") == std::string::npos;
}

// Runs `call` and checks its status and the library's status line.
void expectStatusLine(const std::function<int32_t()>& call, int32_t expected,
                      const std::string& file) {
    LogCapture log;
    testing::internal::CaptureStdout();
    const int32_t status = call();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, expected);

    std::vector<LoggedLine> lines;
    for (const LoggedLine& line : log.lines()) {
        if (line.tag == "LOG_DBG") {
            lines.push_back(line);
        }
    }
    if (expected == kQiraOk) {
        EXPECT_TRUE(lines.empty());
        EXPECT_EQ(out, "");
        return;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].priority, kErrorPriority);
    EXPECT_TRUE(isStatusLine(out, file, expected)) << out;
    std::string logged = lines[0].message;
    if (logged.empty() || logged.back() != '\n') {
        logged += '\n';
    }
    EXPECT_EQ(logged, out);
}

struct FindCase {
    const char* name;
    std::function<void(qiraImage& src, qiraImage& dst, int32_t& connectivity, int32_t& mode,
                       bool& withContext)>
        change;
    int32_t expected;
};

class FindLabelAndRectValidation : public testing::TestWithParam<FindCase> {};

TEST_P(FindLabelAndRectValidation, GivesStatusAndLogLine) {
    OwnedImage mask(8, 6, kQiraFormatGray8);
    OwnedImage labels(8, 6, kQiraFormatGray16);
    drawMask(mask, {"##......", "#.......", "....##..", "....##.."});
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_NE(context, nullptr);

    qiraImage src = mask.get();
    qiraImage dst = labels.get();
    int32_t connectivity = 8;
    int32_t mode = 0;
    bool withContext = true;
    GetParam().change(src, dst, connectivity, mode, withContext);
    const bool nullSrc = src.width == -99;  // marker for "no image at all"
    const bool nullDst = dst.width == -99;
    expectStatusLine(
        [&] {
            return qiraConnectivityFindLabelAndRect(nullSrc ? nullptr : &src,
                                                    nullDst ? nullptr : &dst, connectivity, mode,
                                                    withContext ? context : nullptr, nullptr);
        },
        GetParam().expected, "connectivity.cpp");
    EXPECT_EQ(qiraConnectivityRelease(context), kQiraOk);
}

using Img = qiraImage;
const FindCase kFindCases[] = {
    {"Valid", [](Img&, Img&, int32_t&, int32_t&, bool&) {}, kQiraOk},
    {"NullSrc", [](Img& s, Img&, int32_t&, int32_t&, bool&) { s.width = -99; },
     kQiraInvalidArgument},
    {"NullDst", [](Img&, Img& d, int32_t&, int32_t&, bool&) { d.width = -99; },
     kQiraInvalidArgument},
    {"NullSrcPlane", [](Img& s, Img&, int32_t&, int32_t&, bool&) { s.data[0] = nullptr; },
     kQiraInvalidArgument},
    {"NullDstPlane", [](Img&, Img& d, int32_t&, int32_t&, bool&) { d.data[0] = nullptr; },
     kQiraInvalidArgument},
    {"WidthZero", [](Img& s, Img&, int32_t&, int32_t&, bool&) { s.width = 0; },
     kQiraInvalidArgument},
    {"HeightZero", [](Img&, Img& d, int32_t&, int32_t&, bool&) { d.height = 0; },
     kQiraInvalidArgument},
    {"NegativeWidth", [](Img& s, Img&, int32_t&, int32_t&, bool&) { s.width = -8; },
     kQiraInvalidArgument},
    // Sizes over the limit are refused before any pixel is read.
    {"Width32761",
     [](Img& s, Img&, int32_t&, int32_t&, bool&) {
         s.width = 32761;
         s.stride[0] = 32761;
     },
     kQiraInvalidArgument},
    {"Height32761", [](Img&, Img& d, int32_t&, int32_t&, bool&) { d.height = 32761; },
     kQiraInvalidArgument},
    {"SrcStrideTooSmall", [](Img& s, Img&, int32_t&, int32_t&, bool&) { s.stride[0] = 7; },
     kQiraInvalidArgument},
    {"DstStrideTooSmall", [](Img&, Img& d, int32_t&, int32_t&, bool&) { d.stride[0] = 15; },
     kQiraInvalidArgument},
    {"Connectivity6", [](Img&, Img&, int32_t& c, int32_t&, bool&) { c = 6; }, kQiraUnsupported},
    {"Connectivity0", [](Img&, Img&, int32_t& c, int32_t&, bool&) { c = 0; }, kQiraUnsupported},
    {"ConnectivityHighBitsIgnored", [](Img&, Img&, int32_t& c, int32_t&, bool&) { c = 0x108; },
     kQiraOk},
    {"Connectivity4", [](Img&, Img&, int32_t& c, int32_t&, bool&) { c = 4; }, kQiraOk},
    {"Mode1", [](Img&, Img&, int32_t&, int32_t& m, bool&) { m = 1; }, kQiraUnsupported},
    {"Mode255With8", [](Img&, Img&, int32_t&, int32_t& m, bool&) { m = 255; }, kQiraUnsupported},
    {"Mode255With4",
     [](Img&, Img&, int32_t& c, int32_t& m, bool&) {
         c = 4;
         m = 255;
     },
     kQiraOk},
    {"NoContext", [](Img&, Img&, int32_t&, int32_t&, bool& w) { w = false; }, kQiraInvalidArgument},
    // Rows are measured in the image's own format before the format is checked.
    {"SrcFormat16ShortRows",
     [](Img& s, Img&, int32_t&, int32_t&, bool&) { s.format = kQiraFormatGray16; },
     kQiraInvalidArgument},
    {"SrcFormat16",
     [](Img& s, Img&, int32_t&, int32_t&, bool&) {
         s.format = kQiraFormatGray16;
         s.stride[0] = 16;
     },
     kQiraUnsupported},
    {"DstFormat8", [](Img&, Img& d, int32_t&, int32_t&, bool&) { d.format = kQiraFormatGray8; },
     kQiraUnsupported},
    {"SrcFormatRgb",
     [](Img& s, Img&, int32_t&, int32_t&, bool&) {
         s.format = kQiraFormatRgb;
         s.stride[0] = 24;  // rows long enough; only the format is wrong
     },
     kQiraUnsupported},
    {"SizesUnequal", [](Img& s, Img&, int32_t&, int32_t&, bool&) { s.width = 7; },
     kQiraInvalidArgument},
    {"HeightsUnequal", [](Img&, Img& d, int32_t&, int32_t&, bool&) { d.height = 5; },
     kQiraInvalidArgument},
};

INSTANTIATE_TEST_SUITE_P(Arguments, FindLabelAndRectValidation, testing::ValuesIn(kFindCases),
                         [](const testing::TestParamInfo<FindCase>& info) {
                             return std::string(info.param.name);
                         });

// The largest accepted sides label; one more is refused.
TEST(FindLabelAndRectSizes, LimitsAreInclusive) {
    for (const auto& [width, height] : {std::pair{32760, 1}, std::pair{1, 32760}}) {
        OwnedImage mask(width, height, kQiraFormatGray8);
        OwnedImage labels(width, height, kQiraFormatGray16);
        fillMask(mask, 255);
        ConnectivityContext* context = qiraConnectivityInit();
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(
            qiraConnectivityFindLabelAndRect(&mask.get(), &labels.get(), 8, 0, context, nullptr),
            kQiraOk);
        EXPECT_EQ(context->areas[0], 2u);
        EXPECT_EQ(context->areas[1], 32760u);
        EXPECT_EQ(qiraConnectivityUpdateLabels(&labels.get(), context, nullptr), kQiraOk);
        EXPECT_EQ(labels.label(width - 1, height - 1), 1);
        qiraConnectivityRelease(context);
    }
}

// The other entry points of the library.
TEST(LabelingValidation, OtherEntryPoints) {
    OwnedImage mask(4, 4, kQiraFormatGray8);
    OwnedImage labels(4, 4, kQiraFormatGray16);
    fillMask(mask, 0);
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_NE(context, nullptr);
    const std::string conn = "connectivity.cpp";

    expectStatusLine([] { return qiraConnectivityDeleteSmallRegion(nullptr, 5, 1); },
                     kQiraInvalidArgument, conn);
    // Nothing has been labelled yet: no regions to delete, no labels to update.
    expectStatusLine([&] { return qiraConnectivityDeleteSmallRegion(context, 5, 1); },
                     kQiraInvalidArgument, conn);
    expectStatusLine([&] { return qiraConnectivityUpdateLabels(&labels.get(), context, nullptr); },
                     kQiraInvalidArgument, conn);

    ASSERT_EQ(qiraConnectivityFindLabelAndRect(&mask.get(), &labels.get(), 8, 0, context, nullptr),
              kQiraOk);
    expectStatusLine([&] { return qiraConnectivityUpdateLabels(nullptr, context, nullptr); },
                     kQiraInvalidArgument, conn);
    expectStatusLine([&] { return qiraConnectivityUpdateLabels(&labels.get(), nullptr, nullptr); },
                     kQiraInvalidArgument, conn);
    expectStatusLine(
        [&] {
            qiraImage wrongFormat = labels.get();
            wrongFormat.format = kQiraFormatGray8;
            return qiraConnectivityUpdateLabels(&wrongFormat, context, nullptr);
        },
        kQiraUnsupported, conn);
    expectStatusLine(
        [&] {
            qiraImage otherSize = labels.get();
            otherSize.height = 3;
            return qiraConnectivityUpdateLabels(&otherSize, context, nullptr);
        },
        kQiraInvalidArgument, conn);
    expectStatusLine([&] { return qiraConnectivityDeleteSmallRegion(context, 5, 1); }, kQiraOk,
                     conn);
    expectStatusLine([&] { return qiraConnectivityUpdateLabels(&labels.get(), context, nullptr); },
                     kQiraOk, conn);
    // The strip tables are gone after the update.
    EXPECT_EQ(context->stripRowCounts, nullptr);
    expectStatusLine([&] { return qiraConnectivityUpdateLabels(&labels.get(), context, nullptr); },
                     kQiraInvalidArgument, conn);

    expectStatusLine([] { return qiraConnectivityRelease(nullptr); }, kQiraInvalidArgument, conn);
    expectStatusLine([&] { return qiraConnectivityRelease(context); }, kQiraOk, conn);
}

// A context released between labelling and update frees its strip tables too
// (checked by the address sanitizer build).
TEST(LabelingValidation, ReleaseBeforeUpdateFreesEverything) {
    OwnedImage mask(4, 4, kQiraFormatGray8);
    OwnedImage labels(4, 4, kQiraFormatGray16);
    fillMask(mask, 255);
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(qiraConnectivityFindLabelAndRect(&mask.get(), &labels.get(), 8, 0, context, nullptr),
              kQiraOk);
    EXPECT_EQ(context->stripCount, 1);
    EXPECT_EQ(context->stripRows, 4);
    EXPECT_EQ(context->stripLabelBegin[0], 1);
    EXPECT_EQ(context->stripLabelEnd[0], 2);
    EXPECT_EQ(qiraConnectivityRelease(context), kQiraOk);
}

struct CreateCase {
    int32_t width;
    int32_t height;
    uint32_t format;
    int32_t stride;  // 0: no buffer expected
};

TEST(QiraImage, CreateAndRelease) {
    const CreateCase cases[] = {
        {56, 56, kQiraFormatGray8, 56},
        {56, 56, kQiraFormatGray16, 112},
        {5, 3, kQiraFormatRgb, 15},
        {0, 4, kQiraFormatGray8, 0},
        {4, 0, kQiraFormatGray8, 0},
        {-3, 4, kQiraFormatGray16, 0},
        {4, 4, 17, 0},
    };
    for (const CreateCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " format " << c.format);
        qiraImage image = qiraImageCreate(c.width, c.height, c.format);
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        EXPECT_EQ(image.data[1], nullptr);
        EXPECT_EQ(image.data[2], nullptr);
        EXPECT_EQ(image.stride[1], 0);
        EXPECT_EQ(image.stride[2], 0);
        EXPECT_EQ(image.stride[0], c.stride);
        if (c.stride == 0) {
            EXPECT_EQ(image.data[0], nullptr);
            expectStatusLine([&] { return qiraImageRelease(&image); }, kQiraInvalidArgument,
                             "qira_image.cpp");
            continue;
        }
        ASSERT_NE(image.data[0], nullptr);
        // The whole buffer is writable (the address sanitizer build checks it).
        std::memset(image.data[0], 0xA5, static_cast<size_t>(c.stride) * c.height);
        expectStatusLine([&] { return qiraImageRelease(&image); }, kQiraOk, "qira_image.cpp");
        EXPECT_EQ(image.data[0], nullptr);
        expectStatusLine([&] { return qiraImageRelease(&image); }, kQiraInvalidArgument,
                         "qira_image.cpp");
    }
    expectStatusLine([] { return qiraImageRelease(nullptr); }, kQiraInvalidArgument,
                     "qira_image.cpp");
}

}  // namespace
