// Guards the labelling against OpenCV's connected components (8-connectivity)
// on a few hundred random masks: the same partition of the pixels, labels
// numbered in raster order of each region's first pixel, the same areas.
// Small regions are not removed here (labelling and update only).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "imgproc/kal_labeling/connectivity.h"
#include "label_images.h"

namespace {

void checkAgainstOpenCv(const cv::Mat& mask) {
    OwnedImage src(mask.cols, mask.rows, kQiraFormatGray8);
    OwnedImage dst(mask.cols, mask.rows, kQiraFormatGray16);
    for (int y = 0; y < mask.rows; ++y) {
        std::memcpy(src.row(y), mask.ptr<uint8_t>(y), mask.cols);
    }
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
        std::bernoulli_distribution light(density);
        cv::Mat mask(std::max(height, 1), width, CV_8UC1);
        for (auto p = mask.begin<uint8_t>(); p != mask.end<uint8_t>(); ++p) {
            *p = light(random) ? 255 : 0;
        }
        checkAgainstOpenCv(mask);
        if (HasFatalFailure()) {
            return;
        }
    }
    // A comb whose teeth join only at the bottom row: one long merge chain.
    cv::Mat comb(40, 56, CV_8UC1, cv::Scalar(0));
    for (int x = 0; x < 56; x += 2) {
        comb.col(x).setTo(255);
    }
    comb.row(39).setTo(255);
    checkAgainstOpenCv(comb);
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
    // A square spiral one pixel wide with one-pixel gaps.
    cv::Mat spiral(41, 41, CV_8UC1, cv::Scalar(0));
    std::vector<int> lengths{40, 40, 40};
    for (int length = 38; length > 0; length -= 2) {
        lengths.insert(lengths.end(), {length, length});
    }
    const int steps[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    int x = 0, y = 0;
    spiral.at<uint8_t>(y, x) = 255;
    for (size_t leg = 0; leg < lengths.size(); ++leg) {
        for (int k = 0; k < lengths[leg]; ++k) {
            x += steps[leg % 4][0];
            y += steps[leg % 4][1];
            spiral.at<uint8_t>(y, x) = 255;
        }
    }
    shapes.push_back(spiral);
    for (size_t i = 0, n = shapes.size(); i < n; ++i) {
        cv::Mat mirrored;
        cv::flip(shapes[i], mirrored, 1);
        shapes.push_back(mirrored);
    }
    for (size_t i = 0; i < shapes.size(); ++i) {
        SCOPED_TRACE(i);
        checkAgainstOpenCv(shapes[i]);
        if (HasFatalFailure()) {
            return;
        }
    }
}

}  // namespace
