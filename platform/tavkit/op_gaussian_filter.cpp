// Operator 3: Gaussian smoothing.
#include <cmath>
#include <vector>

#include "tavkit_image.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace tavkit {
namespace {

// Largest kernel side accepted: a 31-tap kernel already blurs beyond any use
// on preview-sized images, and bounds the per-pixel work.
constexpr uint32_t kMaxKernelSide = 31;

std::vector<float> gaussianWeights(int side) {
    const int radius = side / 2;
    const double sigma = 0.3 * ((side - 1) * 0.5 - 1.0) + 0.8;
    std::vector<float> weights(side);
    double sum = 0.0;
    std::vector<double> raw(side);
    for (int i = 0; i < side; ++i) {
        const double d = i - radius;
        raw[i] = std::exp(-(d * d) / (2.0 * sigma * sigma));
        sum += raw[i];
    }
    for (int i = 0; i < side; ++i) {
        weights[i] = static_cast<float>(raw[i] / sum);
    }
    return weights;
}

// Index of each position from -radius to size - 1 + radius after mirroring at
// the borders without repeating the edge (dcb|abcd|cba).
std::vector<int> mirroredIndices(int size, int radius) {
    std::vector<int> indices(size + 2 * radius);
    for (int i = -radius; i < size + radius; ++i) {
        int j = i;
        if (size == 1) {
            j = 0;
        }
        while (j < 0 || j >= size) {
            j = j < 0 ? -j : 2 * size - 2 - j;
        }
        indices[i + radius] = j;
    }
    return indices;
}

}  // namespace

int runGaussianFilter(Context& /*context*/, const TavkitParams& params) {
    ImageView src;
    ImageView dst;
    const int status = describePair(params, &src, &dst);
    if (status != kTavkitOk) {
        return status;
    }
    const bool formatOk = src.format == kTavkitFormatRgb || src.format == kTavkitFormatGray;
    if (!formatOk || dst.format != src.format || src.type != kTavkitTypeU8 ||
        dst.type != kTavkitTypeU8) {
        return kTavkitErrUnsupported;
    }
    if (const int sized = requireSameSize(src, dst); sized != kTavkitOk) {
        return sized;
    }
    const uint32_t side = params.gaussianKernel;
    if (side == 0 || side % 2 == 0 || side > kMaxKernelSide) {
        return kTavkitErrBadParameter;
    }
    const int radius = static_cast<int>(side / 2);
    const std::vector<float> weights = gaussianWeights(static_cast<int>(side));
    const std::vector<int> columns = mirroredIndices(src.width, radius);
    const std::vector<int> rows = mirroredIndices(src.height, radius);
    const int channels = src.channels;
    const size_t rowSamples = static_cast<size_t>(src.width) * channels;

    // Horizontal pass into float rows, then the vertical pass into the destination.
    std::vector<float> horizontal(rowSamples * src.height);
    for (int y = 0; y < src.height; ++y) {
        const uint8_t* in = src.row(y);
        float* out = horizontal.data() + rowSamples * y;
        for (int x = 0; x < src.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                float sum = 0.0f;
                for (int k = 0; k < static_cast<int>(side); ++k) {
                    sum += weights[k] * in[columns[x + k] * channels + c];
                }
                out[x * channels + c] = sum;
            }
        }
    }
    for (int y = 0; y < src.height; ++y) {
        uint8_t* out = dst.row(y);
        for (size_t i = 0; i < rowSamples; ++i) {
            float sum = 0.0f;
            for (int k = 0; k < static_cast<int>(side); ++k) {
                sum += weights[k] * horizontal[rowSamples * rows[y + k] + i];
            }
            const float rounded = std::nearbyint(sum);
            out[i] =
                static_cast<uint8_t>(rounded < 0.0f ? 0.0f : (rounded > 255.0f ? 255.0f : rounded));
        }
    }
    return kTavkitOk;
}

}  // namespace tavkit
