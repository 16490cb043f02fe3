// Tone arithmetic of the simulation: the portable logarithm and power against
// the C library, and the sRGB tables.
#include <gtest/gtest.h>

#include <cmath>

#include "closed_loop_tone.h"

namespace {

// Guards: the series and the range reduction of both functions (a missing
// term, a wrong reduction boundary or a wrong constant shows as an error far
// above 1e-15), exact powers of two, and the refused inputs.
TEST(ClosedLoopTone, PortableLogAndPowerMatchTheLibrary) {
    const double values[] = {1e-9, 0.001,  0.0179,  0.18, 0.5, 0.70710678, 0.7072, 0.99999,
                             1.0,  1.0001, 1.41421, 1.5,  2.0, 3.0,        100.0,  12345.678};
    for (double x : values) {
        EXPECT_NEAR(portableLog2(x), std::log2(x), 4e-15 * std::max(1.0, std::fabs(std::log2(x))))
            << x;
    }
    const double exponents[] = {-30.0, -8.0, -2.5,  -1.0, -0.01, 0.0,
                                0.3,   0.5,  0.999, 1.0,  7.75,  30.0};
    for (double x : exponents) {
        EXPECT_NEAR(portableExp2(x) / std::exp2(x), 1.0, 4e-15) << x;
    }
    for (int k = -10; k <= 10; ++k) {
        EXPECT_EQ(portableLog2(std::ldexp(1.0, k)), k);
        EXPECT_EQ(portableExp2(k), std::ldexp(1.0, k));
    }
    EXPECT_TRUE(std::isnan(portableLog2(0.0)));
    EXPECT_TRUE(std::isnan(portableLog2(-1.0)));
    EXPECT_TRUE(std::isnan(portableLog2(-INFINITY)));
    EXPECT_EQ(portableLog2(INFINITY), INFINITY);
    EXPECT_EQ(portableExp2(-5000.0), 0.0);
    EXPECT_TRUE(std::isinf(portableExp2(5000.0)));
}

// Guards: the sRGB curve (toe and power part), the tables built from it, and
// that every code survives decoding and encoding (so EV 0 gives back the file).
TEST(ClosedLoopTone, SrgbTablesRoundTripEveryCode) {
    const std::pair<double, double> decoded[] = {
        {0.0, 0.0}, {0.04, 0.04 / 12.92}, {0.5, 0.21404}, {0.735357, 0.5}, {1.0, 1.0}};
    for (const auto& [encoded, linear] : decoded) {
        EXPECT_NEAR(srgbDecode(encoded), linear, 2e-5) << encoded;
    }
    const auto& linear = linearOfCode();
    const auto& code = codeOfLinear();
    ASSERT_EQ(code.size(), size_t(kLinearOne) + 1);
    EXPECT_EQ(linear[0], 0u);
    EXPECT_EQ(linear[255], kLinearOne);
    EXPECT_EQ(code[0], 0);
    EXPECT_EQ(code[kLinearOne], 255);
    for (int c = 1; c < 256; ++c) {  // code 0 is checked above
        EXPECT_EQ(code[linear[size_t(c)]], c);
        EXPECT_GT(linear[size_t(c)], linear[size_t(c - 1)]);
    }
    // Mid-grey 0.18 encodes to code 118 (0.4613 of white).
    EXPECT_EQ(code[size_t(0.18 * kLinearOne)], 118);
    const uint8_t white[3] = {255, 255, 255};
    const uint8_t green[3] = {0, 255, 0};
    EXPECT_EQ(linearLuminance(white), kLinearOne);
    EXPECT_NEAR(linearLuminance(green) / double(kLinearOne), 0.7152, 1e-4);
}

}  // namespace
