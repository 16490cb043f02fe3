// Normalisation, histogram and Gaussian smoothing values.
#include <numeric>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "tavkit_test_support.h"

namespace {

using tavkit_test::Context;
using tavkit_test::describe;
using tavkit_test::freshParams;
using tavkit_test::randomMat;

TEST(TavkitNormalization, EngineParametersMapBytesOntoMinusOneToOne) {
    // Every byte value once, in a padded RGB image, then a gray one.
    cv::Mat wide(16, 16 * 3 + 5, CV_8UC1, cv::Scalar(0));
    for (int i = 0; i < 256 * 3; ++i) {
        wide.at<uint8_t>(i / 48, i % 48) = static_cast<uint8_t>(i % 256);
    }
    const cv::Mat src = cv::Mat(wide, cv::Rect(0, 0, 48, 16)).reshape(3);
    cv::Mat out(16, 16, CV_32FC3, cv::Scalar::all(-9));
    Context context;
    TavkitParams params = freshParams();
    describe(params.src, kTavkitFormatRgb, kTavkitTypeU8, src);
    describe(params.dst, kTavkitFormatRgb, kTavkitTypeF32, out);
    params.normParam1 = 127.5f;
    params.normParam2 = 127.5f;
    params.normFlag = 0;
    ASSERT_EQ(context.run(kTavkitNormalization, params), 0);
    for (int i = 0; i < 256 * 3; ++i) {
        const float in = static_cast<float>(i % 256);
        ASSERT_EQ(out.ptr<float>(i / 48)[i % 48], (in - 127.5f) / 127.5f) << i;
    }
    EXPECT_EQ(out.ptr<float>(0)[0], -1.0f);
    EXPECT_EQ(out.ptr<float>(5)[15], 1.0f);  // element 255

    cv::Mat gray(3, 5, CV_8UC1, cv::Scalar(200));
    cv::Mat grayOut(3, 5, CV_32FC1, cv::Scalar(0));
    params = freshParams();
    describe(params.src, kTavkitFormatGray, kTavkitTypeU8, gray);
    describe(params.dst, kTavkitFormatGray, kTavkitTypeF32, grayOut);
    params.normParam1 = 100.0f;
    params.normParam2 = -50.0f;
    ASSERT_EQ(context.run(kTavkitNormalization, params), 0);
    EXPECT_EQ(grayOut.at<float>(2, 4), -2.0f);
}

// Direct count with the documented order: index = (R >> 6) * 16 + (G >> 6) * 4 + (B >> 6).
std::vector<int32_t> directCount(const cv::Mat& rgb) {
    std::vector<int32_t> counts(64, 0);
    for (int r = 0; r < rgb.rows; ++r) {
        for (int c = 0; c < rgb.cols; ++c) {
            const cv::Vec3b p = rgb.at<cv::Vec3b>(r, c);
            ++counts[(p[0] >> 6) * 16 + (p[1] >> 6) * 4 + (p[2] >> 6)];
        }
    }
    return counts;
}

TEST(TavkitCalcHist, JointSixtyFourBinsMatchDirectCount) {
    Context context;
    for (const auto& [width, height, pad] :
         {std::tuple{224, 224, 0}, std::tuple{37, 19, 4}, std::tuple{1, 1, 0}}) {
        const cv::Mat wide = randomMat(height, width + pad, CV_8UC3, width + 11);
        const cv::Mat src = wide(cv::Rect(0, 0, width, height));
        std::vector<int32_t> hist(64, -5);  // overwritten, not accumulated
        TavkitParams params = freshParams();
        describe(params.src, kTavkitFormatRgb, kTavkitTypeU8, src);
        params.dst.format = kTavkitFormatRgb;
        params.dst.elementType = kTavkitTypeS32;
        params.dst.width = 1;
        params.dst.height = 1;
        params.dst.plane0 = hist.data();
        params.histChannels = 3;
        params.histBins[0] = params.histBins[1] = params.histBins[2] = 4;
        ASSERT_EQ(context.run(kTavkitCalcHist, params), 0);
        EXPECT_EQ(hist, directCount(src)) << width << "x" << height;
        EXPECT_EQ(std::accumulate(hist.begin(), hist.end(), 0), width * height);
    }
}

TEST(TavkitCalcHist, GrayImageWithOneChannel) {
    cv::Mat src(2, 3, CV_8UC1);
    const uint8_t values[6] = {0, 31, 32, 200, 255, 100};
    std::memcpy(src.data, values, 6);
    std::vector<int32_t> hist(8, 0);
    Context context;
    TavkitParams params = freshParams();
    describe(params.src, kTavkitFormatGray, kTavkitTypeU8, src);
    params.dst.elementType = kTavkitTypeS32;
    params.dst.plane0 = hist.data();
    params.histChannels = 1;
    params.histBins[0] = 8;
    ASSERT_EQ(context.run(kTavkitCalcHist, params), 0);
    EXPECT_EQ(hist, (std::vector<int32_t>{2, 1, 0, 1, 0, 0, 1, 1}));
}

TEST(TavkitGaussianFilter, KernelSideGivesTheDocumentedGaussianWithinOne) {
    Context context;
    for (const auto& [cvType, format] :
         {std::pair{CV_8UC3, kTavkitFormatRgb}, std::pair{CV_8UC1, kTavkitFormatGray}}) {
        for (uint32_t side : {1u, 3u, 5u, 7u, 9u, 31u}) {
            for (const auto& [width, height] : {std::pair{64, 48}, std::pair{7, 3}}) {
                const cv::Mat src = randomMat(height, width, cvType, side);
                cv::Mat ours(height, width, cvType, cv::Scalar::all(0));
                TavkitParams params = freshParams();
                describe(params.src, format, kTavkitTypeU8, src);
                describe(params.dst, format, kTavkitTypeU8, ours);
                params.gaussianKernel = side;
                ASSERT_EQ(context.run(kTavkitGaussianFilter, params), 0);
                cv::Mat expected;
                // The documented kernel applied by OpenCV's separable filter
                // (GaussianBlur itself swaps in fixed tables for small sides).
                const double sigma = 0.3 * ((side - 1) * 0.5 - 1.0) + 0.8;
                const cv::Mat kernel = cv::getGaussianKernel(side, sigma, CV_64F);
                cv::sepFilter2D(src, expected, -1, kernel, kernel, cv::Point(-1, -1), 0,
                                cv::BORDER_REFLECT_101);
                EXPECT_LE(cv::norm(ours, expected, cv::NORM_INF), 1.0)
                    << "side " << side << " " << width << "x" << height;
            }
        }
    }
}

}  // namespace
