// Highway compiles this file once per instruction set (foreach_target.h) and
// the exported functions below pick the best one the CPU has.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd_kernels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// This comment keeps the includes above in their order.
#include <hwy/highway.h>

#include <cstring>

#include "simd_kernels.h"

// The pair loads below read two (or four) neighbouring bytes as one integer
// with the first byte in the low bits.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pair loads assume little endian");

HWY_BEFORE_NAMESPACE();
namespace tavkit {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

constexpr int kShift = 2 * kWeightBits;
constexpr uint32_t kRound = 1u << (kShift - 1);

// The scalar form of one bilinear sample, for the columns after the last
// whole vector.
inline uint8_t blend(uint32_t top0, uint32_t top1, uint32_t bottom0, uint32_t bottom1,
                     uint32_t nearWeight, uint32_t farWeight, uint32_t bottomWeight) {
    const uint32_t upper = top0 * nearWeight + top1 * farWeight;
    const uint32_t lower = bottom0 * nearWeight + bottom1 * farWeight;
    return static_cast<uint8_t>(
        (upper * (kWeightOne - bottomWeight) + lower * bottomWeight + kRound) >> kShift);
}

template <class D, class V>
HWY_INLINE V blendVector(D d, V top0, V top1, V bottom0, V bottom1, V nearWeight, V farWeight,
                         V topWeight, V bottomWeight) {
    const V upper = hn::Add(hn::Mul(top0, nearWeight), hn::Mul(top1, farWeight));
    const V lower = hn::Add(hn::Mul(bottom0, nearWeight), hn::Mul(bottom1, farWeight));
    const V sum = hn::Add(hn::Mul(upper, topWeight), hn::Mul(lower, bottomWeight));
    return hn::ShiftRight<kShift>(hn::Add(sum, hn::Set(d, kRound)));
}

}  // namespace

void ResampleGrayRow(const RowPair& rows, const AxisPlan& xs, uint16_t* stage, uint8_t* out) {
    const size_t count = static_cast<size_t>(xs.dstSize);
    uint16_t* stageTop = stage;
    uint16_t* stageBottom = stage + count;
    // Gather: both samples of each column's pair in one 16-bit load per row.
    const uint8_t* const top = rows.top;
    const uint8_t* const bottom = rows.bottom;
    const int32_t* const pair = xs.pair.data();
    for (size_t x = 0; x < count; ++x) {
        uint16_t topPair;
        uint16_t bottomPair;
        std::memcpy(&topPair, top + pair[x], 2);
        std::memcpy(&bottomPair, bottom + pair[x], 2);
        stageTop[x] = topPair;
        stageBottom[x] = bottomPair;
    }
    const hn::ScalableTag<uint32_t> d32;
    const hn::Rebind<uint16_t, decltype(d32)> d16;
    const hn::Rebind<uint8_t, decltype(d32)> d8;
    const hn::RebindToSigned<decltype(d32)> di32;
    const size_t lanes = hn::Lanes(d32);
    const auto lowByte = hn::Set(d32, 0xFFu);
    const auto topWeight = hn::Set(d32, kWeightOne - rows.bottomWeight);
    const auto bottomWeight = hn::Set(d32, rows.bottomWeight);
    size_t x = 0;
    for (; x + lanes <= count; x += lanes) {
        const auto top = hn::PromoteTo(d32, hn::LoadU(d16, stageTop + x));
        const auto bottom = hn::PromoteTo(d32, hn::LoadU(d16, stageBottom + x));
        const auto value = blendVector(
            d32, hn::And(top, lowByte), hn::ShiftRight<8>(top), hn::And(bottom, lowByte),
            hn::ShiftRight<8>(bottom), hn::LoadU(d32, xs.nearWeight.data() + x),
            hn::LoadU(d32, xs.farWeight.data() + x), topWeight, bottomWeight);
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di32, value)), d8, out + x);
    }
    for (; x < count; ++x) {
        out[x] = blend(stageTop[x] & 0xFFu, stageTop[x] >> 8, stageBottom[x] & 0xFFu,
                       stageBottom[x] >> 8, xs.nearWeight[x], xs.farWeight[x], rows.bottomWeight);
    }
}

void ResampleVuRow(const RowPair& rows, const AxisPlan& xs, uint32_t* stage, uint8_t* v,
                   uint8_t* u) {
    const size_t count = static_cast<size_t>(xs.dstSize);
    uint32_t* stageTop = stage;
    uint32_t* stageBottom = stage + count;
    // Gather: V, U of the pair and V, U of its neighbour in one 32-bit load per row.
    const uint8_t* const top = rows.top;
    const uint8_t* const bottom = rows.bottom;
    const int32_t* const pair = xs.pair.data();
    for (size_t x = 0; x < count; ++x) {
        const size_t offset = 2 * static_cast<size_t>(pair[x]);
        uint32_t topPairs;
        uint32_t bottomPairs;
        std::memcpy(&topPairs, top + offset, 4);
        std::memcpy(&bottomPairs, bottom + offset, 4);
        stageTop[x] = topPairs;
        stageBottom[x] = bottomPairs;
    }
    const hn::ScalableTag<uint32_t> d32;
    const hn::Rebind<uint8_t, decltype(d32)> d8;
    const hn::RebindToSigned<decltype(d32)> di32;
    const size_t lanes = hn::Lanes(d32);
    const auto lowByte = hn::Set(d32, 0xFFu);
    const auto topWeight = hn::Set(d32, kWeightOne - rows.bottomWeight);
    const auto bottomWeight = hn::Set(d32, rows.bottomWeight);
    size_t x = 0;
    for (; x + lanes <= count; x += lanes) {
        const auto top = hn::LoadU(d32, stageTop + x);
        const auto bottom = hn::LoadU(d32, stageBottom + x);
        const auto nearWeight = hn::LoadU(d32, xs.nearWeight.data() + x);
        const auto farWeight = hn::LoadU(d32, xs.farWeight.data() + x);
        const auto vValue =
            blendVector(d32, hn::And(top, lowByte), hn::And(hn::ShiftRight<16>(top), lowByte),
                        hn::And(bottom, lowByte), hn::And(hn::ShiftRight<16>(bottom), lowByte),
                        nearWeight, farWeight, topWeight, bottomWeight);
        const auto uValue =
            blendVector(d32, hn::And(hn::ShiftRight<8>(top), lowByte), hn::ShiftRight<24>(top),
                        hn::And(hn::ShiftRight<8>(bottom), lowByte), hn::ShiftRight<24>(bottom),
                        nearWeight, farWeight, topWeight, bottomWeight);
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di32, vValue)), d8, v + x);
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di32, uValue)), d8, u + x);
    }
    for (; x < count; ++x) {
        const uint32_t top = stageTop[x];
        const uint32_t bottom = stageBottom[x];
        v[x] = blend(top & 0xFFu, (top >> 16) & 0xFFu, bottom & 0xFFu, (bottom >> 16) & 0xFFu,
                     xs.nearWeight[x], xs.farWeight[x], rows.bottomWeight);
        u[x] = blend((top >> 8) & 0xFFu, top >> 24, (bottom >> 8) & 0xFFu, bottom >> 24,
                     xs.nearWeight[x], xs.farWeight[x], rows.bottomWeight);
    }
}

void ResampleNv21Row(const RowPair& luma, const RowPair& chroma, const Nv21Columns& columns,
                     uint32_t* stage, uint8_t* yOut, uint8_t* vOut, uint8_t* uOut) {
    const size_t count = columns.count;
    uint32_t* lumaStage = stage;
    uint32_t* chromaTopStage = stage + count;
    uint32_t* chromaBottomStage = stage + 2 * count;
    // Gather, one pass for both planes: per column one load of both offsets,
    // the luma pair of each row (both rows kept in one 32-bit entry: top pair
    // low, bottom pair high) and the V, U pairs of each chroma row.
    const uint8_t* const lumaTop = luma.top;
    const uint8_t* const lumaBottom = luma.bottom;
    const uint8_t* const chromaTop = chroma.top;
    const uint8_t* const chromaBottom = chroma.bottom;
    const int32_t* const offsets = columns.offsets;
    for (size_t x = 0; x < count; ++x) {
        int32_t offset[2];
        std::memcpy(offset, offsets + 2 * x, sizeof offset);
        uint16_t topPair;
        uint16_t bottomPair;
        uint32_t topPairs;
        uint32_t bottomPairs;
        std::memcpy(&topPair, lumaTop + offset[0], 2);
        std::memcpy(&bottomPair, lumaBottom + offset[0], 2);
        std::memcpy(&topPairs, chromaTop + offset[1], 4);
        std::memcpy(&bottomPairs, chromaBottom + offset[1], 4);
        lumaStage[x] = static_cast<uint32_t>(topPair) | static_cast<uint32_t>(bottomPair) << 16;
        chromaTopStage[x] = topPairs;
        chromaBottomStage[x] = bottomPairs;
    }
    const hn::ScalableTag<uint32_t> d32;
    const hn::Rebind<uint8_t, decltype(d32)> d8;
    const hn::RebindToSigned<decltype(d32)> di32;
    const size_t lanes = hn::Lanes(d32);
    const auto lowByte = hn::Set(d32, 0xFFu);
    const auto lumaTopWeight = hn::Set(d32, kWeightOne - luma.bottomWeight);
    const auto lumaBottomWeight = hn::Set(d32, luma.bottomWeight);
    const auto chromaTopWeight = hn::Set(d32, kWeightOne - chroma.bottomWeight);
    const auto chromaBottomWeight = hn::Set(d32, chroma.bottomWeight);
    size_t x = 0;
    for (; x + lanes <= count; x += lanes) {
        const auto pairs = hn::LoadU(d32, lumaStage + x);
        const auto yValue =
            blendVector(d32, hn::And(pairs, lowByte), hn::And(hn::ShiftRight<8>(pairs), lowByte),
                        hn::And(hn::ShiftRight<16>(pairs), lowByte), hn::ShiftRight<24>(pairs),
                        hn::LoadU(d32, columns.lumaNear + x), hn::LoadU(d32, columns.lumaFar + x),
                        lumaTopWeight, lumaBottomWeight);
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di32, yValue)), d8, yOut + x);

        const auto top = hn::LoadU(d32, chromaTopStage + x);
        const auto bottom = hn::LoadU(d32, chromaBottomStage + x);
        const auto nearWeight = hn::LoadU(d32, columns.chromaNear + x);
        const auto farWeight = hn::LoadU(d32, columns.chromaFar + x);
        const auto vValue =
            blendVector(d32, hn::And(top, lowByte), hn::And(hn::ShiftRight<16>(top), lowByte),
                        hn::And(bottom, lowByte), hn::And(hn::ShiftRight<16>(bottom), lowByte),
                        nearWeight, farWeight, chromaTopWeight, chromaBottomWeight);
        const auto uValue =
            blendVector(d32, hn::And(hn::ShiftRight<8>(top), lowByte), hn::ShiftRight<24>(top),
                        hn::And(hn::ShiftRight<8>(bottom), lowByte), hn::ShiftRight<24>(bottom),
                        nearWeight, farWeight, chromaTopWeight, chromaBottomWeight);
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di32, vValue)), d8, vOut + x);
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di32, uValue)), d8, uOut + x);
    }
    for (; x < count; ++x) {
        const uint32_t pairs = lumaStage[x];
        yOut[x] = blend(pairs & 0xFFu, (pairs >> 8) & 0xFFu, (pairs >> 16) & 0xFFu, pairs >> 24,
                        columns.lumaNear[x], columns.lumaFar[x], luma.bottomWeight);
        const uint32_t top = chromaTopStage[x];
        const uint32_t bottom = chromaBottomStage[x];
        vOut[x] = blend(top & 0xFFu, (top >> 16) & 0xFFu, bottom & 0xFFu, (bottom >> 16) & 0xFFu,
                        columns.chromaNear[x], columns.chromaFar[x], chroma.bottomWeight);
        uOut[x] = blend((top >> 8) & 0xFFu, top >> 24, (bottom >> 8) & 0xFFu, bottom >> 24,
                        columns.chromaNear[x], columns.chromaFar[x], chroma.bottomWeight);
    }
}

void RgbToGrayRow(const uint8_t* rgb, size_t count, uint8_t* gray) {
    constexpr uint32_t kRed = 9798;
    constexpr uint32_t kGreen = 19235;
    constexpr uint32_t kBlue = 3735;
    constexpr uint32_t kGrayRound = 1u << 14;
    const hn::ScalableTag<uint32_t> d32;
    const hn::Rebind<uint8_t, decltype(d32)> d8;
    const hn::RebindToSigned<decltype(d32)> di32;
    const size_t lanes = hn::Lanes(d32);
    size_t x = 0;
    for (; x + lanes <= count; x += lanes) {
        hn::Vec<decltype(d8)> r, g, b;
        hn::LoadInterleaved3(d8, rgb + 3 * x, r, g, b);
        const auto sum = hn::Add(
            hn::Add(hn::Mul(hn::PromoteTo(d32, r), hn::Set(d32, kRed)),
                    hn::Mul(hn::PromoteTo(d32, g), hn::Set(d32, kGreen))),
            hn::Add(hn::Mul(hn::PromoteTo(d32, b), hn::Set(d32, kBlue)), hn::Set(d32, kGrayRound)));
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di32, hn::ShiftRight<15>(sum))), d8, gray + x);
    }
    for (; x < count; ++x) {
        const uint8_t* p = rgb + 3 * x;
        gray[x] =
            static_cast<uint8_t>((p[0] * kRed + p[1] * kGreen + p[2] * kBlue + kGrayRound) >> 15);
    }
}

void NormalizeRow(const uint8_t* in, size_t count, float offset, float divisor, float* out) {
    const hn::ScalableTag<float> df;
    const hn::Rebind<int32_t, decltype(df)> di32;
    const hn::Rebind<uint8_t, decltype(df)> d8;
    const size_t lanes = hn::Lanes(df);
    const auto offsetVector = hn::Set(df, offset);
    const auto divisorVector = hn::Set(df, divisor);
    size_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        const auto value = hn::ConvertTo(df, hn::PromoteTo(di32, hn::LoadU(d8, in + i)));
        hn::StoreU(hn::Div(hn::Sub(value, offsetVector), divisorVector), df, out + i);
    }
    for (; i < count; ++i) {
        out[i] = (static_cast<float>(in[i]) - offset) / divisor;
    }
}

void HistogramIndexRow(const uint8_t* in, size_t count, int channels, const uint16_t bins[3],
                       const uint16_t place[3], uint16_t* index) {
    const hn::ScalableTag<uint16_t> d16;
    const hn::Rebind<uint8_t, decltype(d16)> d8;
    const size_t lanes = hn::Lanes(d16);
    size_t x = 0;
    if (channels == 3) {
        const auto bins0 = hn::Set(d16, bins[0]);
        const auto bins1 = hn::Set(d16, bins[1]);
        const auto bins2 = hn::Set(d16, bins[2]);
        const auto place0 = hn::Set(d16, place[0]);
        const auto place1 = hn::Set(d16, place[1]);
        const auto place2 = hn::Set(d16, place[2]);
        for (; x + lanes <= count; x += lanes) {
            hn::Vec<decltype(d8)> c0, c1, c2;
            hn::LoadInterleaved3(d8, in + 3 * x, c0, c1, c2);
            const auto l0 = hn::ShiftRight<8>(hn::Mul(hn::PromoteTo(d16, c0), bins0));
            const auto l1 = hn::ShiftRight<8>(hn::Mul(hn::PromoteTo(d16, c1), bins1));
            const auto l2 = hn::ShiftRight<8>(hn::Mul(hn::PromoteTo(d16, c2), bins2));
            const auto sum =
                hn::Add(hn::Add(hn::Mul(l0, place0), hn::Mul(l1, place1)), hn::Mul(l2, place2));
            hn::StoreU(sum, d16, index + x);
        }
        for (; x < count; ++x) {
            const uint8_t* p = in + 3 * x;
            index[x] = static_cast<uint16_t>(((p[0] * bins[0]) >> 8) * place[0] +
                                             ((p[1] * bins[1]) >> 8) * place[1] +
                                             ((p[2] * bins[2]) >> 8) * place[2]);
        }
        return;
    }
    const auto bins0 = hn::Set(d16, bins[0]);
    const auto place0 = hn::Set(d16, place[0]);
    for (; x + lanes <= count; x += lanes) {
        const auto level =
            hn::ShiftRight<8>(hn::Mul(hn::PromoteTo(d16, hn::LoadU(d8, in + x)), bins0));
        hn::StoreU(hn::Mul(level, place0), d16, index + x);
    }
    for (; x < count; ++x) {
        index[x] = static_cast<uint16_t>(((in[x] * bins[0]) >> 8) * place[0]);
    }
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace tavkit
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tavkit {

HWY_EXPORT(ResampleGrayRow);
HWY_EXPORT(ResampleVuRow);
HWY_EXPORT(ResampleNv21Row);
HWY_EXPORT(RgbToGrayRow);
HWY_EXPORT(NormalizeRow);
HWY_EXPORT(HistogramIndexRow);

void resampleGrayRow(const RowPair& rows, const AxisPlan& xs, uint16_t* stage, uint8_t* out) {
    HWY_DYNAMIC_DISPATCH(ResampleGrayRow)(rows, xs, stage, out);
}

void resampleVuRow(const RowPair& rows, const AxisPlan& xs, uint32_t* stage, uint8_t* v,
                   uint8_t* u) {
    HWY_DYNAMIC_DISPATCH(ResampleVuRow)(rows, xs, stage, v, u);
}

void resampleNv21Row(const RowPair& luma, const RowPair& chroma, const Nv21Columns& columns,
                     uint32_t* stage, uint8_t* y, uint8_t* v, uint8_t* u) {
    HWY_DYNAMIC_DISPATCH(ResampleNv21Row)(luma, chroma, columns, stage, y, v, u);
}

void rgbToGrayRow(const uint8_t* rgb, size_t count, uint8_t* gray) {
    HWY_DYNAMIC_DISPATCH(RgbToGrayRow)(rgb, count, gray);
}

void normalizeRow(const uint8_t* in, size_t count, float offset, float divisor, float* out) {
    HWY_DYNAMIC_DISPATCH(NormalizeRow)(in, count, offset, divisor, out);
}

void histogramIndexRow(const uint8_t* in, size_t count, int channels, const uint16_t bins[3],
                       const uint16_t place[3], uint16_t* index) {
    HWY_DYNAMIC_DISPATCH(HistogramIndexRow)(in, count, channels, bins, place, index);
}

}  // namespace tavkit
#endif  // HWY_ONCE
