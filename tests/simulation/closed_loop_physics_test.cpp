// The loop's physics with stand-in policies: the camera's exposure, the host's
// control, the latency, the highlight boost, noise and the lux index.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "closed_loop_run.h"
#include "closed_loop_tone.h"
#include "nv21_frames.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

SourcePhoto flatPhoto(uint8_t r, uint8_t g, uint8_t b) {
    SourcePhoto photo{160, 120, {}};
    for (int i = 0; i < photo.width * photo.height; ++i) {
        photo.rgb.insert(photo.rgb.end(), {r, g, b});
    }
    return photo;
}

// A horizontal ramp of greys from 10 to 240: no pixel is clipped in the file.
SourcePhoto rampPhoto() {
    SourcePhoto photo{160, 120, {}};
    for (int row = 0; row < photo.height; ++row) {
        for (int col = 0; col < photo.width; ++col) {
            const uint8_t v = static_cast<uint8_t>(10 + col * 230 / (photo.width - 1));
            photo.rgb.insert(photo.rgb.end(), {v, v, v});
        }
    }
    return photo;
}

// Grey 100 with a white lamp (clipped in the file) over its middle ninth.
SourcePhoto lampPhoto() {
    SourcePhoto photo = flatPhoto(100, 100, 100);
    for (int row = photo.height / 3; row < photo.height * 2 / 3; ++row) {
        for (int col = photo.width / 3; col < photo.width * 2 / 3; ++col) {
            for (int c = 0; c < 3; ++c) {
                photo.rgb[(size_t(row) * photo.width + col) * 3 + c] = 255;
            }
        }
    }
    return photo;
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

// The mean linear luminance of the photo's window at EV 0.
double meanAtIntent(const SimOptions& options, const SourcePhoto& photo) {
    const SimPhoto prepared = prepareSimPhoto("test", photo, options);
    SimCamera camera(prepared.scene, options.width, options.height, 0.0, 1);
    CameraFrame frame;
    camera.render(cropWindow(prepared.photo, prepared.geometry, 0, 0, 1), 0.0, frame);
    return meanLinearLuminance(frame.rgb.data(), size_t(frame.width) * frame.height);
}

// Guards: the sign of the control (a flipped log or step drives away from the
// target), the speed, and the measurement: grey settles at a mean of 0.18
// from far below and far above, on a photo and on a ramp.
TEST(ClosedLoopPhysics, GreySettlesOnMidGreyFromEveryStart) {
    const std::tuple<const char*, SourcePhoto> photos[] = {
        {"ramp", rampPhoto()},
        {"coffee", [] {
             SourcePhoto photo;
             std::string error;
             EXPECT_TRUE(loadSourcePhoto(samplePath("coffee.jpg"), photo, error)) << error;
             return photo;
         }()}};
    FixedScorePolicy grey("grey", kNeutralScore);
    for (const auto& [name, photo] : photos) {
        for (double start : {-6.0, -2.0, -1.0, 0.0, 1.0, 2.0, 6.0}) {
            SCOPED_TRACE(std::string(name) + " from " + std::to_string(start));
            const SimRun result = run(smallOptions(), photo, grey, start);
            ASSERT_EQ(result.frames.size(), 30u);
            EXPECT_EQ(result.frames[0].ev, start);
            EXPECT_NEAR(result.frames.back().measured, 0.18, 0.18 * 0.03);
            EXPECT_LE(result.metrics.settleFrame, 12);
            EXPECT_EQ(result.metrics.oscillations, 0);
        }
    }
}

// Guards: EV 0 is the photographer's exposure: a policy that asks for the
// photo's own mean lands there, whatever the start, within rounding.
TEST(ClosedLoopPhysics, ThePhotosOwnMeanLandsOnTheIntent) {
    for (const SourcePhoto& photo : {rampPhoto(), lampPhoto(), flatPhoto(200, 60, 30)}) {
        const SimOptions options = smallOptions(40);
        const double mean = meanAtIntent(options, photo);
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
    const SimOptions options = smallOptions();
    const SimPhoto prepared = prepareSimPhoto("test", flatPhoto(90, 120, 150), options);
    SimCamera camera(prepared.scene, kWidth, kHeight, 0.0, 1);
    CameraFrame frame;
    const WindowRect window = cropWindow(prepared.photo, prepared.geometry, 0, 0, 1);
    camera.render(window, 0.0, frame);
    EXPECT_EQ(std::vector<int>(frame.rgb.begin(), frame.rgb.begin() + 3),
              std::vector<int>({90, 120, 150}));
    ASSERT_EQ(frame.nv21.size(), size_t(kWidth * kHeight * 3 / 2));
    const double atIntent = meanLinearLuminance(frame.rgb.data(), kWidth * kHeight);
    camera.render(window, 1.0, frame);
    EXPECT_NEAR(meanLinearLuminance(frame.rgb.data(), kWidth * kHeight) / atIntent, 2.0, 0.03);
    camera.render(window, -8.0, frame);
    EXPECT_EQ(frame.rgb[0], 1);  // 0.102 / 256 of white: code 1, on the linear toe
    camera.render(window, 8.0, frame);
    EXPECT_EQ(std::vector<int>(frame.rgb.begin(), frame.rgb.begin() + 3),
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
    EXPECT_EQ(exposureGain(0.0), kLinearOne);
    EXPECT_EQ(exposureGain(-1.0), kLinearOne / 2);
}

// Guards: the kept window: moving it only sideways (a pan), or only up and
// down, samples it anew, so a camera that rendered elsewhere before gives the
// same frame as a fresh one; a new exposure on the same window too.
TEST(ClosedLoopPhysics, KeptWindowFollowsTheCamera) {
    const SimOptions options = smallOptions();
    const SimPhoto prepared = prepareSimPhoto("test", rampPhoto(), options);
    const WindowRect start = cropWindow(prepared.photo, prepared.geometry, 0, 0, 1);
    WindowRect sideways = start;
    sideways.left += 7.0;
    WindowRect down = start;
    down.top += 5.0;
    WindowRect smaller = start;
    smaller.width -= 9.0;
    SimCamera moving(prepared.scene, kWidth, kHeight, 0.0, 1);
    CameraFrame frame;
    for (const WindowRect& window : {sideways, down, smaller}) {
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
        means.push_back(meanLinearLuminance(input.frame->rgb.data(),
                                            size_t(input.frame->width) * input.frame->height));
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
        const SimPhoto prepared = prepareSimPhoto("test", lampPhoto(), options);
        SimCamera camera(prepared.scene, kWidth, kHeight, 0.0, 1);
        CameraFrame frame;
        camera.render(cropWindow(prepared.photo, prepared.geometry, 0, 0, 1), -2.0, frame);
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
// never negative).
TEST(ClosedLoopPhysics, LuxIndexFollowsExposure) {
    const std::tuple<double, double, float> cases[] = {
        {300.0, 0.0, 300.0f}, {300.0, 1.0, 323.45f}, {300.0, -2.0, 253.1f}, {20.0, -8.0, 0.0f}};
    for (const auto& [base, ev, lux] : cases) {
        EXPECT_NEAR(luxIndexForExposure(base, ev), lux, 1e-3) << base << " " << ev;
    }
    SimOptions options = smallOptions(5);
    options.baseLux = 250.0;
    FixedScorePolicy grey("grey", kNeutralScore);
    const SimRun result = run(options, rampPhoto(), grey, 2.0);
    for (const SimFrameRecord& frame : result.frames) {
        EXPECT_NEAR(frame.lux, 250.0 + kLuxPerEv * frame.ev, 1e-3);
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
    SimOptions options = smallOptions();
    const SimPhoto prepared = prepareSimPhoto("test", flatPhoto(120, 120, 120), options);
    const WindowRect window = cropWindow(prepared.photo, prepared.geometry, 0, 0, 1);
    CameraFrame clean, a, b, c;
    SimCamera(prepared.scene, kWidth, kHeight, 0.0, 1).render(window, 0.0, clean);
    SimCamera(prepared.scene, kWidth, kHeight, 4.0, 7).render(window, 0.0, a);
    SimCamera(prepared.scene, kWidth, kHeight, 4.0, 7).render(window, 0.0, b);
    SimCamera(prepared.scene, kWidth, kHeight, 4.0, 8).render(window, 0.0, c);
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
// luma (a flat frame needs a mean of 0.214), and the ceiling.
TEST(ClosedLoopPhysics, MeanHighlightTargetTable) {
    const SimOptions options = smallOptions();
    const std::tuple<const char*, SourcePhoto, double, double> cases[] = {
        // name, photo, measured (NaN: the frame's own), target
        {"lamp lifts nothing", lampPhoto(), NAN, kHighlightBaseTarget},
        {"flat frame raised", flatPhoto(118, 118, 118), NAN, 0.2140},
        {"meter far brighter than the frame", flatPhoto(50, 50, 50), 1.0, kHighlightMaxTarget},
    };
    for (const auto& [name, photo, measured, target] : cases) {
        const SimPhoto prepared = prepareSimPhoto("test", photo, options);
        SimCamera camera(prepared.scene, kWidth, kHeight, 0.0, 1);
        CameraFrame frame;
        camera.render(cropWindow(prepared.photo, prepared.geometry, 0, 0, 1), 0.0, frame);
        const double seen = std::isnan(measured)
                                ? meanLinearLuminance(frame.rgb.data(), kWidth * kHeight)
                                : measured;
        EXPECT_NEAR(meanHighlightTarget(frame, seen), target, 0.002) << name;
    }
    MeanHighlightPolicy policy;
    const SimRun result = run(smallOptions(), flatPhoto(118, 118, 118), policy, 0.0);
    EXPECT_NEAR(result.frames.back().score, 21.40, 0.2);
    EXPECT_NEAR(result.frames.back().measured, 0.214, 0.006);
}

}  // namespace
