// Rotation, mirror and crop: exact pixel moves, checked against OpenCV.
#include <opencv2/core.hpp>

#include "tavkit_test_support.h"

namespace {

using tavkit_test::Context;
using tavkit_test::describe;
using tavkit_test::freshParams;
using tavkit_test::randomMat;

struct Layout {
    uint32_t format;
    uint32_t type;
    int cvType;
};

constexpr Layout kLayouts[] = {
    {kTavkitFormatRgb, kTavkitTypeU8, CV_8UC3},     {kTavkitFormatGray, kTavkitTypeU8, CV_8UC1},
    {kTavkitFormatGray16, kTavkitTypeU8, CV_16UC1}, {kTavkitFormatRgb, kTavkitTypeF32, CV_32FC3},
    {kTavkitFormatGray, kTavkitTypeS32, CV_32SC1},
};

// Sizes: the engine's square, odd and thin shapes, with and without row padding.
struct Shape {
    int width, height, pad;
};
constexpr Shape kShapes[] = {{224, 224, 0}, {56, 56, 8}, {33, 17, 3}, {1, 9, 0}, {12, 1, 1}};

// A source with padded rows, as a view into a wider matrix.
cv::Mat paddedSource(const Shape& s, int cvType, uint64_t seed) {
    const cv::Mat wide = randomMat(s.height, s.width + s.pad, cvType, seed);
    return wide(cv::Rect(0, 0, s.width, s.height));
}

TEST(TavkitRotate, ClockwiseExactlyAsOpenCv) {
    const std::pair<uint32_t, cv::RotateFlags> angles[] = {
        {kTavkitRotate90, cv::ROTATE_90_CLOCKWISE},
        {kTavkitRotate180, cv::ROTATE_180},
        {kTavkitRotate270, cv::ROTATE_90_COUNTERCLOCKWISE}};
    Context context;
    for (const Layout& layout : kLayouts) {
        for (const Shape& shape : kShapes) {
            const cv::Mat src = paddedSource(shape, layout.cvType, shape.width * 31 + shape.height);
            for (const auto& [code, cvCode] : angles) {
                cv::Mat expected;
                cv::rotate(src, expected, cvCode);
                // Padded destination rows too.
                cv::Mat wideOut(expected.rows, expected.cols + 2, layout.cvType,
                                cv::Scalar::all(0));
                cv::Mat ours = wideOut(cv::Rect(0, 0, expected.cols, expected.rows));
                TavkitParams params = freshParams();
                describe(params.src, layout.format, layout.type, src);
                describe(params.dst, layout.format, layout.type, ours);
                params.code = code;
                ASSERT_EQ(context.run(kTavkitRotate, params), 0);
                EXPECT_EQ(cv::norm(ours, expected, cv::NORM_INF), 0.0)
                    << "format " << layout.format << " type " << layout.type << " " << shape.width
                    << "x" << shape.height << " code " << code;
            }
        }
    }
}

TEST(TavkitFlip, MirrorsExactlyAsOpenCv) {
    // Our code 1 = left-right (OpenCV 1), 0 = top-bottom (OpenCV 0), 2 = both (OpenCV -1).
    const std::pair<uint32_t, int> codes[] = {{1, 1}, {0, 0}, {2, -1}};
    Context context;
    for (const Layout& layout : kLayouts) {
        for (const Shape& shape : kShapes) {
            const cv::Mat src = paddedSource(shape, layout.cvType, shape.width + shape.height);
            for (const auto& [code, cvCode] : codes) {
                cv::Mat expected;
                cv::flip(src, expected, cvCode);
                cv::Mat ours(src.rows, src.cols, layout.cvType, cv::Scalar::all(0));
                TavkitParams params = freshParams();
                describe(params.src, layout.format, layout.type, src);
                describe(params.dst, layout.format, layout.type, ours);
                params.code = code;
                ASSERT_EQ(context.run(kTavkitFlip, params), 0);
                EXPECT_EQ(cv::norm(ours, expected, cv::NORM_INF), 0.0)
                    << "format " << layout.format << " " << shape.width << "x" << shape.height
                    << " code " << code;
            }
        }
    }
}

struct CutCase {
    int x0, x1, y0, y1;
};

TEST(TavkitRectCut, CopiesColumnsThenRowsRange) {
    // The engine's centred square crops (scale 0.5 and 0.75) and uneven rectangles.
    const std::pair<Shape, CutCase> cases[] = {
        {{448, 448, 0}, {112, 336, 112, 336}}, {{298, 298, 4}, {37, 261, 37, 261}},
        {{40, 30, 0}, {0, 40, 0, 30}},         {{40, 30, 2}, {5, 6, 29, 30}},
        {{40, 30, 0}, {3, 33, 10, 12}},
    };
    Context context;
    for (const Layout& layout : kLayouts) {
        for (const auto& [shape, cut] : cases) {
            const cv::Mat src = paddedSource(shape, layout.cvType, shape.pad + 3);
            cv::Mat ours(cut.y1 - cut.y0, cut.x1 - cut.x0, layout.cvType, cv::Scalar::all(0));
            TavkitParams params = freshParams();
            describe(params.src, layout.format, layout.type, src);
            describe(params.dst, layout.format, layout.type, ours);
            params.cropBounds[0] = cut.x0;
            params.cropBounds[1] = cut.x1;
            params.cropBounds[2] = cut.y0;
            params.cropBounds[3] = cut.y1;
            ASSERT_EQ(context.run(kTavkitRectCut, params), 0);
            const cv::Mat expected = src(cv::Range(cut.y0, cut.y1), cv::Range(cut.x0, cut.x1));
            EXPECT_EQ(cv::norm(ours, expected, cv::NORM_INF), 0.0)
                << cut.x0 << ".." << cut.x1 << " x " << cut.y0 << ".." << cut.y1;
        }
    }
}

}  // namespace
