// xepo synth: makes a session from a photograph by moving a crop window over it
// (the camera's motion), with gyro samples of that motion, a lux index that
// follows the window's brightness, and optional zoom switches, captures and
// exposure holds.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli_values.h"
#include "commands.h"
#include "session_frames.h"
#include "session_motion.h"
#include "session_writer.h"

namespace {

// Longest session synth makes; replay --repeat covers longer runs.
constexpr int kMaxSynthFrames = 100000;
// The zoom ratios a zoom switch toggles between.
constexpr float kWideScale = 1.0f;
// The full decision pipeline (any control other than -1, 0 and 1).
constexpr int kFullPipelineControl = 2;

struct SynthOptions {
    std::string image;
    std::string out;
    int frames = 120;
    std::string size = "640x480";
    std::string motion = "pan";
    std::string lux = "auto";
    std::vector<int> zoomAt;
    float zoomScale = 2.0f;
    std::vector<int> captureAt;
    std::vector<int> holdAt;
    uint64_t seed = 1;
    int enableSeg = 1;
};

bool parseSize(const std::string& text, int& width, int& height) {
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &tail) != 2) {
        return false;
    }
    return width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0 &&
           width <= kSessionMaxSide && height <= kSessionMaxSide;
}

// A fixed lux index in hundredths, or -1 for "auto".
bool parseLux(const std::string& text, int64_t& centi, std::string& error) {
    if (text == "auto") {
        centi = -1;
        return true;
    }
    double value = 0.0;
    if (!parseLuxIndex(text, value, error)) {
        return false;
    }
    centi = std::llround(value * 100.0);
    return true;
}

// Frame numbers of --zoom-at / --capture-at / --hold-at must name frames of the session.
bool checkFrameNumbers(const char* option, const std::vector<int>& numbers, int frames) {
    for (int number : numbers) {
        if (number < 0 || number >= frames) {
            std::fprintf(stderr, "xepo synth: %s %d: outside the session's frames 0..%d\n", option,
                         number, frames - 1);
            return false;
        }
    }
    return true;
}

// The camera's exposure control does not jump to a new brightness at once: it
// covers half of the remaining way on each frame (in whole hundredths).
int64_t followExposure(int64_t current, int64_t target) {
    return current + (target - current) / 2;
}

int runSynth(const SynthOptions& options) {
    int width = 0;
    int height = 0;
    if (!parseSize(options.size, width, height)) {
        std::fprintf(stderr, "xepo synth: --size %s: expected WxH with even sides up to %d\n",
                     options.size.c_str(), kSessionMaxSide);
        return kExitUsage;
    }
    MotionKind motion = MotionKind::Still;
    if (!parseMotionKind(options.motion, motion)) {
        std::fprintf(stderr, "xepo synth: --motion %s: expected still, pan or shake\n",
                     options.motion.c_str());
        return kExitUsage;
    }
    int64_t fixedLux = -1;
    std::string error;
    if (!parseLux(options.lux, fixedLux, error)) {
        std::fprintf(stderr, "xepo synth: --lux: %s\n", error.c_str());
        return kExitUsage;
    }
    if (options.out.empty()) {
        std::fprintf(stderr, "xepo synth: --out is empty; name the session directory\n");
        return kExitUsage;
    }
    if (!checkFrameNumbers("--zoom-at", options.zoomAt, options.frames) ||
        !checkFrameNumbers("--capture-at", options.captureAt, options.frames) ||
        !checkFrameNumbers("--hold-at", options.holdAt, options.frames)) {
        return kExitUsage;
    }
    if (!(options.zoomScale > 0.0f) || options.zoomScale == kWideScale) {
        std::fprintf(stderr, "xepo synth: --zoom-scale must be positive and not 1\n");
        return kExitUsage;
    }

    SourcePhoto photo;
    if (!loadSourcePhoto(options.image, photo, error)) {
        std::fprintf(stderr, "xepo synth: %s\n", error.c_str());
        return kExitFailure;
    }
    const WindowGeometry geometry = windowGeometry(photo, width, height);
    const std::vector<CameraPose> poses =
        planMotion(motion, options.frames, geometry.maxYaw, geometry.maxPitch, options.seed);
    const std::set<int> zoomAt(options.zoomAt.begin(), options.zoomAt.end());
    const std::set<int> captureAt(options.captureAt.begin(), options.captureAt.end());
    const std::set<int> holdAt(options.holdAt.begin(), options.holdAt.end());

    try {
        SessionWriter writer(options.out);
        std::vector<uint8_t> nv21;
        float scale = kWideScale;
        int64_t luxCenti = 0;
        for (int i = 0; i < options.frames; ++i) {
            if (zoomAt.count(i) != 0) {
                scale = scale == kWideScale ? options.zoomScale : kWideScale;
            }
            const CameraPose& pose = poses[static_cast<size_t>(i)];
            renderWindow(photo, geometry, pose.yaw, pose.pitch, scale, width, height, nv21);
            const int64_t target = fixedLux >= 0 ? fixedLux : luxForFrame(nv21, width, height);
            luxCenti = i == 0 ? target : followExposure(luxCenti, target);

            SessionFrame frame;
            frame.width = width;
            frame.height = height;
            frame.stride = width;
            frame.scale = scale;
            frame.aec_lux = static_cast<float>(luxCenti) / 100.0f;
            frame.isPhotoing = captureAt.count(i) != 0 ? 1 : 0;
            // 1: the host holds its exposure, so the engine keeps its last answer
            // and runs no albedo model on the frame
            frame.holdFlag = holdAt.count(i) != 0 ? 1 : 0;
            frame.enable_seg = options.enableSeg;
            frame.control = kFullPipelineControl;
            frame.gyro =
                gyroBlockForFrame(i, i == 0 ? pose : poses[static_cast<size_t>(i - 1)], pose);
            writer.addFrame(frame, nv21.data());
        }
        writer.finish();
        std::printf("%s: %d frames %dx%d (%d frame files), motion %s, from %s\n",
                    options.out.c_str(), writer.frameCount(), width, height, writer.fileCount(),
                    options.motion.c_str(), options.image.c_str());
    } catch (const SessionError& failure) {
        std::fprintf(stderr, "xepo synth: %s\n", failure.what());
        return kExitFailure;
    }
    return 0;
}

}  // namespace

void registerSynthCommand(CLI::App& app) {
    auto options = std::make_shared<SynthOptions>();
    CLI::App* command = app.add_subcommand(
        "synth", "Make a session from a photograph by moving a crop window over it");
    command->footer(kExitCodesFooter);
    command->add_option("image", options->image, "Photograph (any format stb_image reads)")
        ->required();
    command
        ->add_option("--out", options->out,
                     "Session directory to write: new, empty, or one synth wrote before (only "
                     "the files listed in its " +
                         std::string(kSynthManifestFile) + " are replaced)")
        ->required();
    command->add_option("--frames", options->frames, "Number of frames")
        ->check(wholeNumberCheck(false))
        ->check(CLI::Range(1, kMaxSynthFrames))
        ->capture_default_str();
    command->add_option("--size", options->size, "Frame size WxH (even sides)")
        ->capture_default_str();
    command->add_option("--motion", options->motion, "Camera motion: still, pan or shake")
        ->capture_default_str();
    command
        ->add_option("--lux", options->lux,
                     "auto: lux index follows the window's brightness; or a fixed lux index "
                     "0..10000")
        ->check(luxCheck(true))
        ->capture_default_str();
    command
        ->add_option("--zoom-at", options->zoomAt,
                     "Frame at which the zoom switches (repeatable; toggles 1 <-> --zoom-scale)")
        ->check(wholeNumberCheck(true));
    command->add_option("--zoom-scale", options->zoomScale, "Zoom ratio of the switched camera")
        ->check(numberCheck())
        ->capture_default_str();
    command
        ->add_option("--capture-at", options->captureAt,
                     "Frame at which a still capture is taken (repeatable)")
        ->check(wholeNumberCheck(true));
    command
        ->add_option("--hold-at", options->holdAt,
                     "Frame on which the host holds its exposure, holdFlag 1 (repeatable)")
        ->check(wholeNumberCheck(true));
    command->add_option("--seed", options->seed, "Seed of the shake motion")
        ->check(wholeNumberCheck(false))
        ->capture_default_str();
    command->add_option("--enable-seg", options->enableSeg, "enable_seg of every frame (0 or 1)")
        ->check(wholeNumberCheck(false))
        ->check(CLI::Range(0, 1))
        ->capture_default_str();
    command->callback([options] { setCommandExitCode(runSynth(*options)); });
}
