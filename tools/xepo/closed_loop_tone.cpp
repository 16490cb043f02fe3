#include "closed_loop_tone.h"

#include <cmath>
#include <limits>

namespace {

// ln 2 and its inverse, the doubles nearest to the exact values.
constexpr double kLn2 = 0.6931471805599453;
constexpr double kInvLn2 = 1.4426950408889634;
// The mantissa is moved into [1/sqrt(2), sqrt(2)) so that the series variable
// z = (m - 1) / (m + 1) stays below 0.172 and z^2 below 0.03.
constexpr double kSqrtHalf = 0.7071067811865476;
// Terms of the odd series of ln m = 2 (z + z^3/3 + z^5/5 + ...): with z^2 below
// 0.03 the 13th term is below 1e-19 of the first.
constexpr int kLogTerms = 13;
// Terms of the Taylor series of e^t for t in [0, ln 2): the 21st is below 1e-20.
constexpr int kExpTerms = 21;
// Beyond these exponents 2^x is 0 or infinity in double.
constexpr double kExp2Lowest = -1080.0;
constexpr double kExp2Highest = 1030.0;

// sRGB transfer function (IEC 61966-2-1): a linear toe below this point.
constexpr double kEncodedToe = 0.04045;
constexpr double kToeSlope = 12.92;
constexpr double kCurveOffset = 0.055;
constexpr double kCurveGamma = 2.4;

constexpr double kCodeMax = kWhiteCode;

double powPositive(double base, double exponent) {
    return portableExp2(exponent * portableLog2(base));
}

}  // namespace

double portableLog2(double x) {
    if (!(x > 0.0) || std::isinf(x)) {
        return std::isinf(x) && x > 0.0 ? x : std::numeric_limits<double>::quiet_NaN();
    }
    int exponent = 0;
    double mantissa = std::frexp(x, &exponent);  // exact: x = mantissa * 2^exponent
    if (mantissa < kSqrtHalf) {
        mantissa *= 2.0;
        exponent -= 1;
    }
    const double z = (mantissa - 1.0) / (mantissa + 1.0);
    const double z2 = z * z;
    double series = 0.0;
    for (int k = kLogTerms - 1; k >= 0; --k) {
        series = series * z2 + 1.0 / static_cast<double>(2 * k + 1);
    }
    const double lnMantissa = 2.0 * z * series;
    return static_cast<double>(exponent) + lnMantissa * kInvLn2;
}

double portableExp2(double x) {
    if (std::isnan(x)) {
        return x;
    }
    if (x < kExp2Lowest) {
        return 0.0;
    }
    if (x > kExp2Highest) {
        return std::numeric_limits<double>::infinity();
    }
    const double whole = std::floor(x);
    const double t = (x - whole) * kLn2;
    double series = 1.0;
    for (int k = kExpTerms; k >= 1; --k) {
        series = 1.0 + series * t / static_cast<double>(k);
    }
    return std::ldexp(series, static_cast<int>(whole));
}

double srgbDecode(double encoded) {
    if (!(encoded > 0.0)) {
        return 0.0;
    }
    if (encoded >= 1.0) {
        return 1.0;
    }
    if (encoded <= kEncodedToe) {
        return encoded / kToeSlope;
    }
    return powPositive((encoded + kCurveOffset) / (1.0 + kCurveOffset), kCurveGamma);
}

const std::array<uint32_t, kCodeCount>& linearOfCode() {
    static const std::array<uint32_t, kCodeCount> table = [] {
        std::array<uint32_t, kCodeCount> linear{};
        for (int code = 0; code < kCodeCount; ++code) {
            linear[static_cast<size_t>(code)] = static_cast<uint32_t>(
                std::llround(srgbDecode(code / kCodeMax) * static_cast<double>(kLinearOne)));
        }
        return linear;
    }();
    return table;
}

const std::vector<uint8_t>& codeOfLinear() {
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> codes(static_cast<size_t>(kLinearOne) + 1, 0);
        // Code c starts where the encoded value reaches halfway from c - 1 to c.
        int code = 0;
        double nextStart = srgbDecode(0.5 / kCodeMax) * static_cast<double>(kLinearOne);
        for (uint32_t v = 0; v <= kLinearOne; ++v) {
            while (code < kCodeCount - 1 && static_cast<double>(v) >= nextStart) {
                ++code;
                nextStart = code < kCodeCount - 1 ? srgbDecode((code + 0.5) / kCodeMax) *
                                                        static_cast<double>(kLinearOne)
                                                  : std::numeric_limits<double>::infinity();
            }
            codes[v] = static_cast<uint8_t>(code);
        }
        return codes;
    }();
    return table;
}
