// The labelling against OpenCV's connected components on random masks: the
// same partition of the pixels, labels numbered in raster order of each
// region's first pixel, and the same areas and boxes. Small regions are not
// removed here (labelling and update only).
#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "imgproc/kal_labeling/connectivity.h"
#include "label_images.h"

namespace {

struct MaskShape {
    int32_t width;
    int32_t height;
    double density;  // chance that a pixel is light
    bool blobs;      // rectangles and discs instead of independent pixels
};

cv::Mat randomMask(const MaskShape& shape, std::mt19937& random) {
    cv::Mat mask(shape.height, shape.width, CV_8UC1, cv::Scalar(0));
    if (!shape.blobs) {
        std::bernoulli_distribution light(shape.density);
        for (int32_t y = 0; y < shape.height; ++y) {
            for (int32_t x = 0; x < shape.width; ++x) {
                mask.at<uint8_t>(y, x) = light(random) ? 255 : 0;
            }
        }
        return mask;
    }
    const int blobCount = 1 + static_cast<int>(shape.density * 20);
    std::uniform_int_distribution<int> px(0, shape.width - 1);
    std::uniform_int_distribution<int> py(0, shape.height - 1);
    std::uniform_int_distribution<int> size(0,
                                            std::max(1, std::min(shape.width, shape.height) / 4));
    for (int i = 0; i < blobCount; ++i) {
        const cv::Point centre(px(random), py(random));
        if (i % 2 == 0) {
            cv::circle(mask, centre, size(random), cv::Scalar(255), cv::FILLED, cv::LINE_8);
        } else {
            cv::rectangle(mask, cv::Rect(centre.x, centre.y, size(random) + 1, size(random) + 1),
                          cv::Scalar(255), cv::FILLED);
        }
    }
    return mask;
}

// Labels `mask` with the library (no small-region removal) and checks it
// against cv::connectedComponentsWithStats.
void checkAgainstOpenCv(const cv::Mat& mask, int connectivity) {
    const int32_t width = mask.cols;
    const int32_t height = mask.rows;
    OwnedImage src(width, height, kQiraFormatGray8);
    OwnedImage dst(width, height, kQiraFormatGray16);
    for (int32_t y = 0; y < height; ++y) {
        std::memcpy(src.maskRow(y), mask.ptr<uint8_t>(y), static_cast<size_t>(width));
    }
    ConnectivityContext* context = qiraConnectivityInit();
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(
        qiraConnectivityFindLabelAndRect(&src.get(), &dst.get(), connectivity, 0, context, nullptr),
        kQiraOk);
    ASSERT_EQ(qiraConnectivityUpdateLabels(&dst.get(), context, nullptr), kQiraOk);

    cv::Mat cvLabels;
    cv::Mat stats;
    cv::Mat centroids;
    const int cvCount =
        cv::connectedComponentsWithStats(mask, cvLabels, stats, centroids, connectivity, CV_32S);
    // Final label count including the background.
    ASSERT_EQ(context->areas[0], static_cast<uint32_t>(cvCount));

    // Ours -> OpenCV's and back must be one-to-one over all pixels, and our
    // labels must appear for the first time in increasing order 1, 2, 3, ...
    std::vector<int> toCv(static_cast<size_t>(cvCount), -1);
    std::vector<int> fromCv(static_cast<size_t>(cvCount), -1);
    uint32_t nextNew = 1;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint16_t ours = dst.label(x, y);
            const int theirs = cvLabels.at<int32_t>(y, x);
            ASSERT_LT(ours, cvCount) << x << "," << y;
            ASSERT_EQ(ours == 0, theirs == 0) << x << "," << y;
            if (toCv[ours] == -1) {
                if (ours != 0) {
                    ASSERT_EQ(ours, nextNew) << "label out of raster order at " << x << "," << y;
                    ++nextNew;
                }
                ASSERT_EQ(fromCv[theirs], -1) << "two of our labels for one region";
                toCv[ours] = theirs;
                fromCv[theirs] = ours;
            }
            ASSERT_EQ(toCv[ours], theirs) << "region split or merged at " << x << "," << y;
        }
    }
    ASSERT_EQ(nextNew, static_cast<uint32_t>(cvCount));

    for (uint32_t label = 1; label < nextNew; ++label) {
        const int theirs = toCv[label];
        const int32_t* box = context->boxes + 4 * label;
        EXPECT_EQ(context->areas[label],
                  static_cast<uint32_t>(stats.at<int32_t>(theirs, cv::CC_STAT_AREA)));
        const int32_t left = stats.at<int32_t>(theirs, cv::CC_STAT_LEFT);
        const int32_t top = stats.at<int32_t>(theirs, cv::CC_STAT_TOP);
        EXPECT_EQ(box[0], left) << "label " << label;
        EXPECT_EQ(box[1], top) << "label " << label;
        EXPECT_EQ(box[2], left + stats.at<int32_t>(theirs, cv::CC_STAT_WIDTH) - 1);
        EXPECT_EQ(box[3], top + stats.at<int32_t>(theirs, cv::CC_STAT_HEIGHT) - 1);
    }
    EXPECT_EQ(qiraConnectivityRelease(context), kQiraOk);
}

std::vector<MaskShape> maskShapes() {
    std::vector<MaskShape> shapes;
    const double densities[] = {0.02, 0.1, 0.3, 0.45, 0.55, 0.7, 0.9, 1.0};
    // The engine's mask size, many times over.
    for (double density : densities) {
        for (int repeat = 0; repeat < 12; ++repeat) {
            shapes.push_back({56, 56, density, repeat % 3 == 0});
        }
    }
    // Single rows and columns.
    for (int32_t n : {1, 2, 3, 17, 56, 200}) {
        for (double density : {0.3, 0.6, 0.9}) {
            shapes.push_back({n, 1, density, false});
            shapes.push_back({1, n, density, false});
        }
    }
    // Assorted sizes, thin and wide.
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> side(1, 90);
    std::uniform_int_distribution<int> pick(0, 7);
    for (int i = 0; i < 170; ++i) {
        shapes.push_back({side(random), side(random), densities[pick(random)], i % 4 == 0});
    }
    shapes.push_back({300, 220, 0.5, false});
    shapes.push_back({300, 220, 0.4, true});
    return shapes;
}

class OpenCvOracle : public testing::TestWithParam<int> {};

TEST_P(OpenCvOracle, SamePartitionAreasAndBoxes) {
    const int connectivity = GetParam();
    std::mt19937 random(12345u + static_cast<unsigned>(connectivity));
    int checked = 0;
    for (const MaskShape& shape : maskShapes()) {
        SCOPED_TRACE(testing::Message() << shape.width << "x" << shape.height << " density "
                                        << shape.density << (shape.blobs ? " blobs" : ""));
        const cv::Mat mask = randomMask(shape, random);
        checkAgainstOpenCv(mask, connectivity);
        if (HasFatalFailure()) {
            return;
        }
        ++checked;
    }
    EXPECT_GE(checked, 300);
}

INSTANTIATE_TEST_SUITE_P(Connectivity, OpenCvOracle, testing::Values(8, 4),
                         [](const testing::TestParamInfo<int>& info) {
                             return "Neighbours" + std::to_string(info.param);
                         });

// Provisional labels merge in long chains (a comb whose teeth join only at the
// bottom row): the result is still one region numbered 1.
TEST(OpenCvOracleShapes, CombJoinedAtBottom) {
    cv::Mat mask(40, 56, CV_8UC1, cv::Scalar(0));
    for (int x = 0; x < 56; x += 2) {
        mask.col(x).setTo(255);
    }
    mask.row(39).setTo(255);
    checkAgainstOpenCv(mask, 8);
    checkAgainstOpenCv(mask, 4);
}

// A staircase that joins later columns to earlier ones from the right.
TEST(OpenCvOracleShapes, Staircases) {
    cv::Mat mask(56, 56, CV_8UC1, cv::Scalar(0));
    for (int i = 0; i < 56; ++i) {
        mask.at<uint8_t>(i, 55 - i) = 255;
        mask.at<uint8_t>(55 - i / 2, i) = 255;
    }
    checkAgainstOpenCv(mask, 8);
    checkAgainstOpenCv(mask, 4);
}

}  // namespace
