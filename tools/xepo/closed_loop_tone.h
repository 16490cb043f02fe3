// Tone arithmetic of the closed-loop simulation: the sRGB transfer function as
// integer tables, linear luminance, and base-2 logarithms and powers that give
// the same bits on every machine.
//
// The C library's log2, exp2 and pow may round differently in the last bit
// from one architecture or library version to the next, and the loop feeds
// every result back into the next frame, so one differing bit would grow into
// different files. The functions here use only addition, subtraction,
// multiplication, division and exact scaling by powers of two, in a fixed
// order; with the project's -ffp-contract=off each of those rounds the same
// way on x86-64 and arm64.
#ifndef XEPO_TOOL_CLOSED_LOOP_TONE_H
#define XEPO_TOOL_CLOSED_LOOP_TONE_H

#include <array>
#include <cstdint>
#include <vector>

// 8-bit codes: 256 of them, 255 the white of the file.
constexpr int kCodeCount = 256;
constexpr int kWhiteCode = 255;
// Pixels are interleaved RGB.
constexpr int kPixelChannels = 3;

// Linear light in fixed point: kLinearOne is the white of the photograph file.
constexpr int kLinearShift = 16;
constexpr uint32_t kLinearOne = uint32_t{1} << kLinearShift;

// Linear luminance of sRGB primaries (0.2126, 0.7152, 0.0722) in units of
// 1/65536; they add up to exactly 65536, so white stays white.
constexpr uint64_t kLumaWeightR = 13933;
constexpr uint64_t kLumaWeightG = 46871;
constexpr uint64_t kLumaWeightB = 4732;

// log2(x) for x > 0; NaN for anything else. Within a few units of the last
// place of the exact value.
double portableLog2(double x);
// 2^x; 0 far below and infinity far above the double range.
double portableExp2(double x);

// sRGB transfer function on [0, 1] (values outside are clamped): encoded
// value -> linear. The way back is the table below.
double srgbDecode(double encoded);

// The linear value of every 8-bit code, in kLinearOne units, rounded.
const std::array<uint32_t, kCodeCount>& linearOfCode();

// The 8-bit code of a linear value v in kLinearOne units (v <= kLinearOne):
// the code whose encoded value is nearest to the sRGB encoding of
// v / kLinearOne (found by decoding the halfway points between codes).
// Decoding a code and encoding it again gives the same code.
const std::vector<uint8_t>& codeOfLinear();

// Linear luminance of an 8-bit sRGB pixel in kLinearOne units.
inline uint32_t linearLuminance(const uint8_t* rgb) {
    const std::array<uint32_t, kCodeCount>& linear = linearOfCode();
    return static_cast<uint32_t>((kLumaWeightR * linear[rgb[0]] + kLumaWeightG * linear[rgb[1]] +
                                  kLumaWeightB * linear[rgb[2]] + (kLinearOne / 2)) >>
                                 kLinearShift);
}

#endif  // XEPO_TOOL_CLOSED_LOOP_TONE_H
