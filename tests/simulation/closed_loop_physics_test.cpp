// The loop's physics with stand-in policies: the camera's exposure, the host's
// control, the latency, the highlight boost, noise and the lux index.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "../sessions/test_photos.h"
#include "closed_loop_run.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// A 160 x 120 photo in greys: `level(col, row)` in every channel.
SourcePhoto greyPhoto(uint8_t (*level)(int col, int row)) {
    return photoOf(160, 120, [level](int col, int row) {
        const uint8_t v = level(col, row);
        return std::array<uint8_t, 3>{v, v, v};
    });
}

// A horizontal ramp of greys from 10 to 240: no pixel is clipped in the file.
SourcePhoto rampPhoto() {
    return greyPhoto([](int col, int) { return uint8_t(10 + col * 230 / 159); });
}

// Grey 100 with a white lamp (clipped in the file) over its middle ninth.
SourcePhoto lampPhoto() {
    return greyPhoto([](int col, int row) {
        return uint8_t(col >= 53 && col < 106 && row >= 40 && row < 80 ? 255 : 100);
    });
}

SimOptions smallOptions(int frames = 30) {
    SimOptions options;
    options.frames = frames;
    options.width = kWidth;
    options.height = kHeight;
    return options;
}

SimRun run(const SimOptions& options, const SourcePhoto& photo, ExposurePolicy& policy,
           double startEv) {
    const SimPhoto prepared = prepareSimPhoto("test", photo, options);
    SimRun result;
    std::string error;
    EXPECT_TRUE(runClosedLoop(options, prepared, policy, startEv, result, error)) << error;
    return result;
}

// The photo's window without a turn or zoom, exposed by `ev`, with sensor
// noise `noise` drawn from `seed`.
CameraFrame frameAt(const SourcePhoto& photo, double ev, const SimOptions& options = smallOptions(),
                    double noise = 0.0, uint64_t seed = 1) {
    const SimPhoto prepared = prepareSimPhoto("test", photo, options);
    CameraFrame frame;
    SimCamera(prepared.scene, options.width, options.height, noise, seed)
        .render(cropWindow(prepared.photo, prepared.geometry, 0, 0, 1), ev, frame);
    return frame;
}

// The host's meter: the frame's mean linear luminance.
double meanOf(const CameraFrame& frame) {
    return meanLinearLuminance(frame.rgb.data(), size_t(frame.width) * frame.height);
}

// Guards: the exposure of a frame (gain, clipping, encoding): at EV 0 the
// frame has the file's codes, one EV more doubles the linear light, and the
// NV21 conversion is the synth's.
TEST(ClosedLoopPhysics, ExposureScalesLinearLight) {
    const SourcePhoto photo = flatPhoto(160, 120, 90, 120, 150);
    const CameraFrame atIntent = frameAt(photo, 0.0);
    EXPECT_EQ(atIntent.rgb, flatPhoto(kWidth, kHeight, 90, 120, 150).rgb);
    ASSERT_EQ(atIntent.nv21.size(), size_t(kWidth * kHeight * 3 / 2));
    EXPECT_NEAR(meanOf(frameAt(photo, 1.0)) / meanOf(atIntent), 2.0, 0.03);
    EXPECT_EQ(frameAt(photo, -8.0).rgb[0], 1);  // 0.102 / 256 of white: code 1, on the linear toe
    EXPECT_EQ(frameAt(photo, 8.0).rgb, flatPhoto(kWidth, kHeight, 255, 255, 255).rgb);
    // The host's meter weighs the channels as luminance does.
    const std::tuple<std::vector<uint8_t>, double> meters[] = {
        {{255, 0, 0, 255, 0, 0}, 0.2126},         {{0, 255, 0, 0, 255, 0}, 0.7152},
        {{0, 0, 255, 0, 0, 255}, 0.0722},         {{255, 255, 255, 0, 0, 0}, 0.5},
        {{118, 118, 118, 118, 118, 118}, 0.1812},
    };
    for (const auto& [pixels, mean] : meters) {
        EXPECT_NEAR(meanLinearLuminance(pixels.data(), 2), mean, 2e-4) << int(pixels[0]);
    }
    EXPECT_EQ(meanLinearLuminance(nullptr, 0), 0.0);
}

// Guards: the kept window: moving it only sideways (a pan), or only up and
// down, samples it anew, so a camera that rendered elsewhere before gives the
// same frame as a fresh one; a new exposure on the same window too.
TEST(ClosedLoopPhysics, KeptWindowFollowsTheCamera) {
    const SimPhoto prepared = prepareSimPhoto("test", rampPhoto(), smallOptions());
    const WindowRect start = cropWindow(prepared.photo, prepared.geometry, 0, 0, 1);
    const auto moved = [&start](double left, double top, double width) {
        return WindowRect{start.left + left, start.top + top, start.width + width, start.height};
    };
    SimCamera moving(prepared.scene, kWidth, kHeight, 0.0, 1);
    CameraFrame frame;
    // sideways, down, smaller
    for (const WindowRect& window : {moved(7, 0, 0), moved(0, 5, 0), moved(0, 0, -9)}) {
        for (double ev : {0.0, -1.5}) {
            moving.render(start, 0.0, frame);
            moving.render(window, ev, frame);
            CameraFrame fresh;
            SimCamera(prepared.scene, kWidth, kHeight, 0.0, 1).render(window, ev, fresh);
            EXPECT_EQ(frame.rgb, fresh.rgb) << window.left << " " << window.top << " " << ev;
            EXPECT_EQ(frame.nv21, fresh.nv21);
        }
    }
}

// A policy that answers mid-grey and keeps what it was shown.
class RecordingPolicy : public FixedScorePolicy {
  public:
    RecordingPolicy() : FixedScorePolicy("recording", kNeutralScore) {}
    PolicyAnswer answer(const PolicyInput& input) override {
        EXPECT_EQ(input.measured, meanOf(*input.frame));  // the measure of the frame shown
        seen.push_back(input);
        return FixedScorePolicy::answer(input);
    }
    std::vector<PolicyInput> seen;
};

// Guards: what a policy is shown of each frame: the frame the host measured,
// the lux index of its exposure, the capture and hold flags of the frames
// asked for, and the gyro block of the motion.
TEST(ClosedLoopPhysics, PolicySeesTheFrameAsTheCameraReportsIt) {
    SimOptions options = smallOptions(8);
    options.baseLux = 280.0;
    options.captureAt = {2, 5};
    options.holdAt = {6};
    options.motion = MotionKind::Shake;
    RecordingPolicy policy;
    const SimRun result = run(options, rampPhoto(), policy, -2.0);
    ASSERT_EQ(policy.seen.size(), 8u);
    for (size_t t = 0; t < policy.seen.size(); ++t) {
        const PolicyInput& input = policy.seen[t];
        const SimFrameRecord& record = result.frames[t];
        EXPECT_EQ(input.measured, record.measured) << t;
        EXPECT_NEAR(input.params.aec_lux, 280.0 + kLuxPerEv * record.ev, 1e-3) << t;
        EXPECT_EQ(record.lux, input.params.aec_lux) << t;
        EXPECT_EQ(input.params.isPhotoing, t == 2 || t == 5 ? 1 : 0) << t;
        EXPECT_EQ(input.params.holdFlag, t == 6 ? 1 : 0) << t;
        EXPECT_EQ(record.capture, t == 2 || t == 5) << t;
        EXPECT_EQ(record.hold, t == 6) << t;
        EXPECT_EQ(input.params.scale, 1.0f);
        EXPECT_EQ(input.params.enable_seg, 1);
        EXPECT_EQ(input.gyro.count, kGyroSamplesPerFrame);
        EXPECT_EQ(input.gyro.gyroY[0] == 0.0f, t == 0) << t;  // the shake turns from frame 1 on
    }
}

// Guards: the highlight boost: a lamp clipped in the file stays clipped two
// EV down with boost 4, and falls to the code of a quarter of white with boost
// 1, while the unclipped surround darkens the same in both.
TEST(ClosedLoopPhysics, HighlightBoostKeepsLampsClipped) {
    const std::tuple<double, int, int> cases[] = {{4.0, 255, 50}, {1.0, 137, 50}, {2.0, 188, 50}};
    for (const auto& [boost, lampCode, surroundCode] : cases) {
        SimOptions options = smallOptions();
        options.boost = boost;
        const CameraFrame frame = frameAt(lampPhoto(), -2.0, options);
        const size_t centre = (size_t(kHeight / 2) * kWidth + kWidth / 2) * 3;
        EXPECT_EQ(frame.rgb[centre], lampCode) << "boost " << boost;
        EXPECT_EQ(frame.rgb[0], surroundCode) << "boost " << boost;
    }
}

// Guards: the host's step: its sign and size, the clamps, the floor of a
// black frame and the refusal of a missing score.
TEST(ClosedLoopPhysics, HostStepTable) {
    const std::tuple<const char*, double, double, double, double, double> cases[] = {
        // name, ev, measured, score, speed, next ev
        {"on target", 0.5, 0.18, 18.0, 0.5, 0.5},
        {"twice too dark", 0.0, 0.09, 18.0, 0.5, 0.5},
        {"twice too bright at full speed", 1.0, 0.36, 18.0, 1.0, 0.0},
        {"step clamped up", 0.0, 0.01, 18.0, 0.5, 1.0},
        {"step clamped down", 0.0, 1.0, 11.0, 2.0, -1.0},
        {"black frame", 0.0, 0.0, 18.0, 0.5, 1.0},
        {"range clamped", 7.6, 0.09, 18.0, 1.0, 8.0},
        {"range clamped below", -7.5, 0.36, 18.0, 1.0, -8.0},
        {"no answer", 1.5, 0.05, NAN, 0.5, 1.5},
        {"zero score", -1.5, 0.05, 0.0, 0.5, -1.5},
    };
    for (const auto& [name, ev, measured, score, speed, next] : cases) {
        EXPECT_NEAR(nextExposure(ev, measured, score, speed), next, 1e-12) << name;
    }
}

// Guards: the lux index follows the exposure (base at EV 0, 23.45 per EV,
// never negative); PolicySeesTheFrameAsTheCameraReportsIt checks it per frame.
TEST(ClosedLoopPhysics, LuxIndexFollowsExposure) {
    const std::tuple<double, double, float> cases[] = {
        {300.0, 0.0, 300.0f}, {300.0, 1.0, 323.45f}, {300.0, -2.0, 253.1f}, {20.0, -8.0, 0.0f}};
    for (const auto& [base, ev, lux] : cases) {
        EXPECT_NEAR(luxIndexForExposure(base, ev), lux, 1e-3) << base << " " << ev;
    }
}

// Guards: latency: with the answer taking effect two frames later the first
// two frames keep the start and the loop settles later than with one.
TEST(ClosedLoopPhysics, LatencyTwoSettlesLater) {
    FixedScorePolicy grey("grey", kNeutralScore);
    int settle[3] = {0, 0, 0};
    for (int latency : {1, 2}) {
        SimOptions options = smallOptions(40);
        options.latency = latency;
        const SimRun result = run(options, rampPhoto(), grey, -3.0);
        for (int t = 0; t < latency; ++t) {
            EXPECT_EQ(result.frames[size_t(t)].ev, -3.0) << latency;
        }
        EXPECT_NE(result.frames[size_t(latency)].ev, -3.0) << latency;
        settle[latency] = result.metrics.settleFrame;
    }
    EXPECT_GT(settle[2], settle[1]);
}

// Guards: noise: seeded (same seed, same frames; another seed, other frames),
// centred (the mean stays put) and present at all.
TEST(ClosedLoopPhysics, SeededNoiseIsRepeatableAndCentred) {
    const SourcePhoto grey = flatPhoto(160, 120, 120, 120, 120);
    const CameraFrame clean = frameAt(grey, 0.0);
    const CameraFrame a = frameAt(grey, 0.0, smallOptions(), 4.0, 7);
    const CameraFrame b = frameAt(grey, 0.0, smallOptions(), 4.0, 7);
    EXPECT_EQ(a.rgb, b.rgb);
    EXPECT_EQ(a.nv21, b.nv21);
    EXPECT_NE(a.rgb, frameAt(grey, 0.0, smallOptions(), 4.0, 8).rgb);
    double sum = 0.0, squares = 0.0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const double d = double(a.rgb[i]) - clean.rgb[i];
        sum += d;
        squares += d * d;
    }
    const double n = double(a.rgb.size());
    EXPECT_NEAR(sum / n, 0.0, 0.1);
    EXPECT_NEAR(std::sqrt(squares / n), 4.0, 0.3);
}

// Guards: mean-highlight: the base target when the highlights are bright
// enough, the raise until the brightest pixels reach half of white in encoded
// luma (a flat frame needs a mean of 0.214), how many pixels count as the
// brightest (2 %: a band of one frame row in 48 is all of them), and the
// ceiling.
TEST(ClosedLoopPhysics, MeanHighlightTargetTable) {
    const std::tuple<const char*, SourcePhoto, double, double> cases[] = {
        // name, photo, measured (NaN: the frame's own), target
        {"lamp lifts nothing", lampPhoto(), NAN, kHighlightBaseTarget},
        {"flat frame raised", flatPhoto(160, 120, 118, 118, 118), NAN, 0.2140},
        {"a brighter band of 2 % raised until it is bright",
         greyPhoto([](int, int row) { return uint8_t(row == 60 ? 120 : 100); }), NAN, 0.1662},
        {"meter far brighter than the frame", flatPhoto(160, 120, 50, 50, 50), 1.0,
         kHighlightMaxTarget},
    };
    for (const auto& [name, photo, measured, target] : cases) {
        const CameraFrame frame = frameAt(photo, 0.0);
        const double seen = std::isnan(measured) ? meanOf(frame) : measured;
        EXPECT_NEAR(meanHighlightTarget(frame, seen), target, 0.002) << name;
    }
    MeanHighlightPolicy policy;
    const SimRun result = run(smallOptions(), flatPhoto(160, 120, 118, 118, 118), policy, 0.0);
    EXPECT_NEAR(result.frames.back().score, 21.40, 0.2);
    EXPECT_NEAR(result.frames.back().measured, 0.214, 0.006);
}

}  // namespace
