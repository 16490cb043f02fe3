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
#include "closed_loop_tone.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// A flat 160 x 120 photo.
SourcePhoto flat(uint8_t r, uint8_t g, uint8_t b) {
    return flatPhoto(160, 120, r, g, b);
}

// A horizontal ramp of greys from 10 to 240: no pixel is clipped in the file.
SourcePhoto rampPhoto() {
    return photoOf(160, 120, [](int col, int) {
        const uint8_t v = static_cast<uint8_t>(10 + col * 230 / 159);
        return std::array<uint8_t, 3>{v, v, v};
    });
}

// Grey 100 with a white lamp (clipped in the file) over its middle ninth.
SourcePhoto lampPhoto() {
    return photoOf(160, 120, [](int col, int row) {
        const uint8_t v = col >= 53 && col < 106 && row >= 40 && row < 80 ? 255 : 100;
        return std::array<uint8_t, 3>{v, v, v};
    });
}

SimOptions smallOptions(int frames = 30) {
    SimOptions options;
    options.photos = {"test"};
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

// Guards: EV 0 is the photographer's exposure: a policy that asks for the
// photo's own mean lands there, whatever the start, within rounding. With
// HostStepTable it also guards the sign and speed of the control and the
// measurement that the loop feeds back (sim_command_end_to_end runs grey on a
// real photo).
TEST(ClosedLoopPhysics, ThePhotosOwnMeanLandsOnTheIntent) {
    for (const SourcePhoto& photo : {rampPhoto(), lampPhoto(), flat(200, 60, 30)}) {
        const SimOptions options = smallOptions(40);
        const double mean = meanOf(frameAt(photo, 0.0, options));
        FixedScorePolicy own("own", mean * kScorePerTarget);
        for (double start : {-2.0, 0.0, 2.0}) {
            const SimRun result = run(options, photo, own, start);
            EXPECT_NEAR(result.metrics.finalEv, 0.0, 0.02) << "mean " << mean << " from " << start;
        }
    }
}

// Guards: the exposure of a frame (gain, clipping, encoding): at EV 0 the
// frame has the file's codes, one EV more doubles the linear light, and the
// NV21 conversion is the synth's.
TEST(ClosedLoopPhysics, ExposureScalesLinearLight) {
    const SourcePhoto photo = flat(90, 120, 150);
    const CameraFrame atIntent = frameAt(photo, 0.0);
    EXPECT_EQ(std::vector<int>(atIntent.rgb.begin(), atIntent.rgb.begin() + 3),
              std::vector<int>({90, 120, 150}));
    ASSERT_EQ(atIntent.nv21.size(), size_t(kWidth * kHeight * 3 / 2));
    EXPECT_NEAR(meanOf(frameAt(photo, 1.0)) / meanOf(atIntent), 2.0, 0.03);
    EXPECT_EQ(frameAt(photo, -8.0).rgb[0], 1);  // 0.102 / 256 of white: code 1, on the linear toe
    const CameraFrame white = frameAt(photo, 8.0);
    EXPECT_EQ(std::vector<int>(white.rgb.begin(), white.rgb.begin() + 3),
              std::vector<int>({255, 255, 255}));
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
    const SimOptions options = smallOptions();
    const SimPhoto prepared = prepareSimPhoto("test", rampPhoto(), options);
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
class RecordingPolicy : public ExposurePolicy {
  public:
    std::string name() const override { return "recording"; }
    PolicyAnswer answer(const PolicyInput& input) override {
        seen.push_back(input);
        means.push_back(meanOf(*input.frame));
        PolicyAnswer answer;
        answer.score = kNeutralScore;
        return answer;
    }
    std::vector<PolicyInput> seen;
    std::vector<double> means;
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
        EXPECT_EQ(policy.means[t], record.measured) << t;
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
    const SourcePhoto grey = flat(120, 120, 120);
    const CameraFrame clean = frameAt(grey, 0.0);
    const CameraFrame a = frameAt(grey, 0.0, smallOptions(), 4.0, 7);
    const CameraFrame b = frameAt(grey, 0.0, smallOptions(), 4.0, 7);
    const CameraFrame c = frameAt(grey, 0.0, smallOptions(), 4.0, 8);
    EXPECT_EQ(a.rgb, b.rgb);
    EXPECT_EQ(a.nv21, b.nv21);
    EXPECT_NE(a.rgb, c.rgb);
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
    const SimOptions options = smallOptions();
    const std::tuple<const char*, SourcePhoto, double, double> cases[] = {
        // name, photo, measured (NaN: the frame's own), target
        {"lamp lifts nothing", lampPhoto(), NAN, kHighlightBaseTarget},
        {"flat frame raised", flat(118, 118, 118), NAN, 0.2140},
        {"a brighter band of 2 % raised until it is bright",
         photoOf(160, 120,
                 [](int, int row) {
                     const uint8_t v = row == 60 ? 120 : 100;
                     return std::array<uint8_t, 3>{v, v, v};
                 }),
         NAN, 0.1662},
        {"meter far brighter than the frame", flat(50, 50, 50), 1.0, kHighlightMaxTarget},
    };
    for (const auto& [name, photo, measured, target] : cases) {
        const CameraFrame frame = frameAt(photo, 0.0, options);
        const double seen = std::isnan(measured) ? meanOf(frame) : measured;
        EXPECT_NEAR(meanHighlightTarget(frame, seen), target, 0.002) << name;
    }
    MeanHighlightPolicy policy;
    const SimRun result = run(smallOptions(), flat(118, 118, 118), policy, 0.0);
    EXPECT_NEAR(result.frames.back().score, 21.40, 0.2);
    EXPECT_NEAR(result.frames.back().measured, 0.214, 0.006);
}

}  // namespace
