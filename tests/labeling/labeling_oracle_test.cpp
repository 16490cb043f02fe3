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
        EXPECT_EQ(context->areas[label], stats.at<uint32_t>(toCv[label], cv::CC_STAT_AREA));
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

}  // namespace
