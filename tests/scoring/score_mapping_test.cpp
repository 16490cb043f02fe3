// The lux-banded score mappings of the frame path and the image-file entry.
#include <gtest/gtest.h>

#include <cmath>

#include "log_capture.h"
#include "xepo/score_smoothing.h"

namespace {

struct FrameMappingCase {
    float score;
    int32_t modelRunCount;
    float lux;
    float expected;
};

class FrameMapping : public ::testing::TestWithParam<FrameMappingCase> {};

TEST_P(FrameMapping, MapsScoreByLuxBand) {
    const FrameMappingCase& c = GetParam();
    EXPECT_FLOAT_EQ(xepo::getSmoothScore(c.score, c.modelRunCount, c.lux), c.expected)
        << "score " << c.score << " count " << c.modelRunCount << " lux " << c.lux;
}

INSTANTIATE_TEST_SUITE_P(WorkedValues, FrameMapping,
                         ::testing::Values(FrameMappingCase{30.0f, 10, 300.0f, 28.0f},
                                           FrameMappingCase{24.0f, 10, 300.0f, 20.0f},
                                           FrameMappingCase{15.5f, 3, 300.0f, 15.5f},
                                           FrameMappingCase{15.5f, 6, 300.0f, 18.0f},
                                           FrameMappingCase{13.0f, 10, 180.0f, 13.0f},
                                           FrameMappingCase{12.0f, 10, 180.0f, 11.0f},
                                           FrameMappingCase{50.0f, 10, 180.0f, 44.0f},
                                           FrameMappingCase{30.0f, 10, 400.0f, 18.0f},
                                           FrameMappingCase{30.0f, 10, 150.0f, 18.0f}));

INSTANTIATE_TEST_SUITE_P(
    BandEdges, FrameMapping,
    ::testing::Values(
        // Outside the usable lux range everything is neutral.
        FrameMappingCase{5.0f, 10, 100.0f, 18.0f}, FrameMappingCase{5.0f, 10, 500.0f, 18.0f},
        FrameMappingCase{5.0f, 10, 150.0f, 18.0f}, FrameMappingCase{5.0f, 10, 400.0f, 18.0f},
        // Lux 210 still belongs to the mid band, just above it to the dark band.
        FrameMappingCase{11.5f, 10, 210.0f, 11.0f}, FrameMappingCase{11.5f, 10, 210.5f, 11.5f},
        FrameMappingCase{150.5f, 10, 150.5f, 44.0f},
        // Mid band (150, 210].
        FrameMappingCase{12.01f, 10, 180.0f, 12.01f}, FrameMappingCase{15.0f, 10, 180.0f, 15.0f},
        FrameMappingCase{15.5f, 3, 180.0f, 18.0f},  // no early keep in the mid band
        FrameMappingCase{21.9f, 10, 180.0f, 18.0f}, FrameMappingCase{22.0f, 10, 180.0f, 18.0f},
        FrameMappingCase{26.0f, 10, 180.0f, 22.0f}, FrameMappingCase{27.0f, 10, 180.0f, 25.0f},
        FrameMappingCase{45.0f, 10, 180.0f, 43.0f}, FrameMappingCase{46.0f, 10, 180.0f, 44.0f},
        // Dark band (210, 400).
        FrameMappingCase{11.0f, 10, 300.0f, 11.0f}, FrameMappingCase{-3.0f, 10, 300.0f, 11.0f},
        FrameMappingCase{11.5f, 10, 300.0f, 11.5f}, FrameMappingCase{15.0f, 10, 300.0f, 15.0f},
        FrameMappingCase{15.99f, 5, 300.0f, 15.99f}, FrameMappingCase{16.0f, 3, 300.0f, 18.0f},
        FrameMappingCase{20.0f, 3, 300.0f, 18.0f}, FrameMappingCase{22.0f, 10, 300.0f, 18.0f},
        FrameMappingCase{27.0f, 10, 300.0f, 25.0f}, FrameMappingCase{46.0f, 10, 300.0f, 44.0f},
        FrameMappingCase{99.0f, 10, 399.9f, 44.0f}));

struct ImageMappingCase {
    float score;
    float lux;
    float expected;
};

class ImageMapping : public ::testing::TestWithParam<ImageMappingCase> {};

TEST_P(ImageMapping, MapsScoreByLuxBand) {
    const ImageMappingCase& c = GetParam();
    EXPECT_FLOAT_EQ(xepo::getSmoothScoreGT(c.score, c.lux), c.expected)
        << "score " << c.score << " lux " << c.lux;
}

INSTANTIATE_TEST_SUITE_P(WorkedValues, ImageMapping,
                         ::testing::Values(ImageMappingCase{40.0f, 180.0f, 36.0f},
                                           ImageMappingCase{13.0f, 180.0f, 18.0f},
                                           ImageMappingCase{13.0f, 300.0f, 13.0f},
                                           ImageMappingCase{14.0f, 300.0f, 18.0f},
                                           ImageMappingCase{31.25f, 300.0f, 29.25f},
                                           ImageMappingCase{12.5f, 180.0f, 18.0f}));

INSTANTIATE_TEST_SUITE_P(
    BandEdges, ImageMapping,
    ::testing::Values(
        ImageMappingCase{30.0f, 150.0f, 18.0f}, ImageMappingCase{30.0f, 400.0f, 18.0f},
        // Mid band: floor at 12, cap 36 from 38, no keep of low scores.
        ImageMappingCase{12.0f, 180.0f, 11.0f}, ImageMappingCase{21.9f, 180.0f, 18.0f},
        ImageMappingCase{22.0f, 180.0f, 18.0f}, ImageMappingCase{26.5f, 180.0f, 22.5f},
        ImageMappingCase{37.9f, 180.0f, 35.9f}, ImageMappingCase{38.0f, 180.0f, 36.0f},
        ImageMappingCase{60.0f, 210.0f, 36.0f},
        // Dark band: floor at 11, keep up to 13, cap 44 from 46.
        ImageMappingCase{11.0f, 300.0f, 11.0f}, ImageMappingCase{12.0f, 300.0f, 12.0f},
        ImageMappingCase{13.5f, 300.0f, 18.0f}, ImageMappingCase{25.0f, 300.0f, 21.0f},
        ImageMappingCase{45.0f, 300.0f, 43.0f}, ImageMappingCase{46.0f, 300.0f, 44.0f},
        ImageMappingCase{60.0f, 210.5f, 44.0f}));

TEST(ScoreMappingLog, BothMappingsLogTheOriginalScore) {
    LogCapture log;
    xepo::getSmoothScore(31.25f, 10, 300.0f);
    xepo::getSmoothScoreGT(12.5f, 100.0f);
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{"origin_score: 31.250000", "origin_score: 12.500000"}));
    EXPECT_EQ(log.lines()[0].priority, 3);
}

TEST(ScoreMappingNaN, NaNScoreInTheUsableBandIsNeutral) {
    // NaN fails every comparison and lands on the neutral fallback.
    EXPECT_FLOAT_EQ(xepo::getSmoothScore(NAN, 10, 300.0f), 18.0f);
    EXPECT_FLOAT_EQ(xepo::getSmoothScoreGT(NAN, 180.0f), 18.0f);
}

}  // namespace
