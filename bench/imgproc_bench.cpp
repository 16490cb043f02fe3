// Pixel-work benchmarks: the preprocessing chain that turns a camera frame into
// the model input (yuvtoBuffer), side by side in the same run with an OpenCV
// baseline that converts the whole frame to RGB before resizing and
// normalising, and with two floors: writing the 224 x 224 x 3 float output
// alone, and reading the frame samples a bilinear picture needs besides;
// and the labelling of a 56 x 56 light mask into regions and boxes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cpp/img_process/img_process.h"
#include "cpp/img_process/light_region_boxes.h"
#include "imgproc/kal_labeling/qira_image.h"
#include "tavkit_api.h"
#include "xepo.h"
#include "xepo_contract.h"

namespace {

using bench::FrameSize;

using xepo::kModelSide;
constexpr int kModelFloats = kModelSide * kModelSide * 3;
// The engine's normalisation: (level - 127.5) / 127.5.
constexpr float kHalfRange = xepo::kNormalizationScale;

// The frame of the preprocessing benchmarks: the first photo, stride = width.
const bench::Nv21Canvas& preprocessFrame(const FrameSize& size) {
    return bench::canvasFor(0, size.width, size.height, 0);
}

// The baseline's input: the frame as one contiguous NV21 image (luma rows,
// then the V/U rows), as OpenCV's converter takes it.
cv::Mat contiguousNv21(const VImage& frame) {
    cv::Mat nv21(frame.height * 3 / 2, frame.width, CV_8UC1);
    for (int row = 0; row < frame.height; ++row) {
        std::memcpy(nv21.ptr(row), frame.yPlane + static_cast<size_t>(row) * frame.stride,
                    static_cast<size_t>(frame.width));
    }
    for (int row = 0; row < frame.height / 2; ++row) {
        std::memcpy(nv21.ptr(frame.height + row),
                    frame.uvPlane + static_cast<size_t>(row) * frame.stride,
                    static_cast<size_t>(frame.width));
    }
    return nv21;
}

// The OpenCV way: whole frame to RGB, bilinear resize to 224 x 224, then
// (v - 127.5) / 127.5 as float. The Mats are reused between calls.
struct OpenCvBaseline {
    cv::Mat rgb;
    cv::Mat small;
    cv::Mat input;

    void run(const cv::Mat& nv21) {
        cv::cvtColor(nv21, rgb, cv::COLOR_YUV2RGB_NV21);
        cv::resize(rgb, small, cv::Size(kModelSide, kModelSide), 0.0, 0.0, cv::INTER_LINEAR);
        small.convertTo(input, CV_32FC3, 1.0 / kHalfRange, -1.0);
    }
};

// The image-operator context of the preprocessing benchmarks, made once.
int64_t tavkitHandle() {
    static long handle = [] {
        long created = 0;
        return initTAVKIT(created) == 0 ? created : 0L;
    }();
    return handle;
}

int32_t runChain(const VImage& frame, float* out) {
    return xepo::yuvtoBuffer(tavkitHandle(), frame.yPlane, frame.uvPlane, frame.width, frame.height,
                             frame.stride, frame.height, 0, 0, false, xepo::kFrameFormatNv21, out,
                             0, 1.0f);
}

void preprocessChain(benchmark::State& state, FrameSize size) {
    const bench::Nv21Canvas& canvas = preprocessFrame(size);
    if (canvas.empty() || tavkitHandle() == 0) {
        state.SkipWithError("sample photo or image-operator context missing");
        return;
    }
    const VImage frame = canvas.frame(0, 0);
    std::vector<float> out(kModelFloats);
    if (runChain(frame, out.data()) != 0) {
        state.SkipWithError("yuvtoBuffer failed");
        return;
    }
    // How far the chain's model input lies from the baseline's, in 8-bit
    // levels: both compute the same picture, so this stays around a level.
    OpenCvBaseline baseline;
    baseline.run(contiguousNv21(frame));
    double difference = 0.0;
    const float* reference = baseline.input.ptr<float>();
    for (int i = 0; i < kModelFloats; ++i) {
        difference += std::fabs(out[i] - reference[i]);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(runChain(frame, out.data()));
        benchmark::ClobberMemory();
    }
    state.counters["mean_level_diff_vs_opencv"] = difference / kModelFloats * kHalfRange;
    state.counters["pixels"] = static_cast<double>(size.width) * size.height;
}

void preprocessOpenCv(benchmark::State& state, FrameSize size) {
    const bench::Nv21Canvas& canvas = preprocessFrame(size);
    if (canvas.empty()) {
        state.SkipWithError("sample photo missing");
        return;
    }
    const cv::Mat nv21 = contiguousNv21(canvas.frame(0, 0));
    OpenCvBaseline baseline;
    for (auto _ : state) {
        baseline.run(nv21);
        benchmark::DoNotOptimize(baseline.input.data);
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = static_cast<double>(size.width) * size.height;
}

// The floor of any preprocessing: storing the model input's 150528 floats,
// with nothing computed. Registered once per frame size so that each size's
// ratio is read from the same run; the frame is not read.
void preprocessFloor(benchmark::State& state, FrameSize size) {
    std::vector<float> out(kModelFloats);
    float value = 0.0f;
    for (auto _ : state) {
        std::fill(out.begin(), out.end(), value);
        value += 1.0f;
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = static_cast<double>(size.width) * size.height;
}

// A second floor: reading the samples a bilinear 224 x 224 picture needs and
// writing the output from them. For each output pixel it loads, from two
// frame rows each, the two neighbouring luma bytes and the two neighbouring
// V/U pairs (one 16-bit and one 32-bit load per row, as the resampler does)
// and stores three floats made from their sums, with no weights, colour
// conversion or rounding. This is the least a preprocessing chain that
// samples the frame itself can do.
void preprocessSampleFloor(benchmark::State& state, FrameSize size) {
    const bench::Nv21Canvas& canvas = preprocessFrame(size);
    if (canvas.empty()) {
        state.SkipWithError("sample photo missing");
        return;
    }
    const VImage frame = canvas.frame(0, 0);
    // Left or upper neighbour of each output column and row, the second one
    // being the next column or row.
    std::vector<size_t> lumaColumn(kModelSide), chromaColumn(kModelSide);
    std::vector<const uint8_t*> lumaRow(kModelSide), chromaRow(kModelSide);
    for (int i = 0; i < kModelSide; ++i) {
        const int x = std::min((2 * i + 1) * frame.width / (2 * kModelSide), frame.width - 2);
        const int y = std::min((2 * i + 1) * frame.height / (2 * kModelSide), frame.height - 2);
        lumaColumn[i] = static_cast<size_t>(x);
        chromaColumn[i] = static_cast<size_t>(std::min(x / 2, frame.width / 2 - 2) * 2);
        lumaRow[i] = frame.yPlane + static_cast<size_t>(y) * frame.stride;
        chromaRow[i] = frame.uvPlane +
                       static_cast<size_t>(std::min(y / 2, frame.height / 2 - 2)) * frame.stride;
    }
    std::vector<float> out(kModelFloats);
    const auto load16 = [](const uint8_t* at) {
        uint16_t value;
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    const auto load32 = [](const uint8_t* at) {
        uint32_t value;
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    for (auto _ : state) {
        float* o = out.data();
        for (int y = 0; y < kModelSide; ++y) {
            const uint8_t* top = lumaRow[y];
            const uint8_t* bottom = top + frame.stride;
            const uint8_t* upper = chromaRow[y];
            const uint8_t* lower = upper + frame.stride;
            for (int x = 0; x < kModelSide; ++x) {
                const uint32_t luma = load16(top + lumaColumn[x]) + load16(bottom + lumaColumn[x]);
                const uint32_t chroma =
                    load32(upper + chromaColumn[x]) + load32(lower + chromaColumn[x]);
                o[0] = static_cast<float>(luma);
                o[1] = static_cast<float>(chroma & 0xffffu);
                o[2] = static_cast<float>(chroma >> 16);
                o += 3;
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = static_cast<double>(size.width) * size.height;
}

// --- Labelling ---

constexpr int kMaskSide = 56;

enum class MaskKind { Empty, Blobs, Noise, Full };

const char* maskName(MaskKind kind) {
    switch (kind) {
        case MaskKind::Empty:
            return "empty";
        case MaskKind::Blobs:
            return "blobs";
        case MaskKind::Noise:
            return "noise";
        case MaskKind::Full:
            return "full";
    }
    return "?";
}

// Empty: no light. Blobs: three lamps of different sizes, as the
// light-segmentation model marks them. Noise: a quarter of the cells lit at
// random (many small regions, the labeller's worst case). Full: all light.
void drawMask(qiraImage& mask, MaskKind kind) {
    struct Disc {
        int cx, cy, r;
    };
    const Disc discs[] = {{12, 12, 6}, {40, 20, 9}, {26, 44, 4}};
    std::mt19937 random(56);
    std::bernoulli_distribution lit(0.25);
    for (int y = 0; y < kMaskSide; ++y) {
        uint8_t* row = static_cast<uint8_t*>(mask.data[0]) + y * mask.stride[0];
        for (int x = 0; x < kMaskSide; ++x) {
            bool on = false;
            switch (kind) {
                case MaskKind::Empty:
                    break;
                case MaskKind::Full:
                    on = true;
                    break;
                case MaskKind::Noise:
                    on = lit(random);
                    break;
                case MaskKind::Blobs:
                    for (const Disc& d : discs) {
                        on = on || (x - d.cx) * (x - d.cx) + (y - d.cy) * (y - d.cy) <= d.r * d.r;
                    }
                    break;
            }
            row[x] = on ? 255 : 0;
        }
    }
}

void labelling(benchmark::State& state, MaskKind kind) {
    qiraImage mask = qiraImageCreate(kMaskSide, kMaskSide, kQiraFormatGray8);
    qiraImage labels = qiraImageCreate(kMaskSide, kMaskSide, kQiraFormatGray16);
    if (mask.data[0] == nullptr || labels.data[0] == nullptr) {
        state.SkipWithError("label images not allocated");
    } else {
        drawMask(mask, kind);
        size_t regions = 0;
        for (auto _ : state) {
            // As the light-segmentation scorer does it: fresh lists per call.
            std::vector<uint16_t> labelList;
            xepo::getConnectivityArea(mask, labels, labelList);
            std::vector<xepo::Box> outerBoxes;
            std::vector<xepo::Box> innerBoxes;
            xepo::getLightRegionBoxes(labels, labelList, outerBoxes, innerBoxes);
            regions = innerBoxes.size();
            benchmark::DoNotOptimize(regions);
        }
        state.counters["regions"] = static_cast<double>(regions);
    }
    if (mask.data[0] != nullptr) {
        qiraImageRelease(&mask);
    }
    if (labels.data[0] != nullptr) {
        qiraImageRelease(&labels);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    bench::silenceEngineLog();
    // One core: the targets are stated for a single core, and the engine's
    // operators never spread over threads.
    cv::setNumThreads(1);
    for (const FrameSize& size : bench::kFrameSizes) {
        const std::string suffix = std::to_string(size.width) + "x" + std::to_string(size.height);
        benchmark::RegisterBenchmark(("preprocess/yuvtoBuffer/" + suffix).c_str(), preprocessChain,
                                     size)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("preprocess/opencv_baseline/" + suffix).c_str(),
                                     preprocessOpenCv, size)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("preprocess/output_floor/" + suffix).c_str(), preprocessFloor,
                                     size)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("preprocess/sample_floor/" + suffix).c_str(),
                                     preprocessSampleFloor, size)
            ->Unit(benchmark::kMicrosecond);
    }
    for (MaskKind kind : {MaskKind::Empty, MaskKind::Blobs, MaskKind::Noise, MaskKind::Full}) {
        benchmark::RegisterBenchmark((std::string("labelling/56x56/") + maskName(kind)).c_str(),
                                     labelling, kind)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (tavkitHandle() != 0) {
        int64_t handle = tavkitHandle();
        releaseTavkit(&handle);
    }
    return 0;
}
