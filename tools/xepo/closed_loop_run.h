// The closed-loop simulation as a library: options in, per-frame records and
// metrics out. `xepo sim` is one caller; tests and scripting hosts are others.
//
// Every run puts a camera in front of a photograph taken as the scene, starts
// its exposure some EV away from the photographer's, and lets the host move the
// exposure toward the target score the policy answers, frame after frame: the
// answer to frame t sets the exposure of frame t + latency.
#ifndef XEPO_TOOL_CLOSED_LOOP_RUN_H
#define XEPO_TOOL_CLOSED_LOOP_RUN_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "closed_loop_camera.h"
#include "closed_loop_metrics.h"
#include "closed_loop_policy.h"
#include "closed_loop_scene.h"
#include "session_frames.h"
#include "session_motion.h"

// Longest run accepted (a little over five minutes at 30 Hz).
constexpr int kMaxSimFrames = 10000;
// Frames between the answer and the exposure it sets: the next frame, or the
// one after it on sensors that take a frame to apply new settings.
constexpr int kMinLatency = 1;
constexpr int kMaxLatency = 2;
// Beyond a speed of 2 every move overshoots by more than the error it corrects.
constexpr double kMaxSpeed = 2.0;
// Sensor noise up to a quarter of the code range.
constexpr double kMaxNoise = 64.0;
// Lux indices accepted as the base (the synth accepts the same range).
constexpr double kMaxBaseLux = 10000.0;

struct SimOptions {
    std::vector<std::string> photos;
    std::vector<std::string> policies = {"engine", "grey", "mean-highlight"};
    std::vector<double> startEvs = {-2.0, -1.0, 0.0, 1.0, 2.0};
    int frames = 60;
    MotionKind motion = MotionKind::Still;
    int width = 640;
    int height = 480;
    double baseLux = kDefaultBaseLux;
    uint64_t seed = 1;  // motion of the shake, sensor noise
    std::string modelDir;
    double speed = kDefaultSpeed;
    int latency = kMinLatency;
    double boost = kDefaultHighlightBoost;
    double noise = 0.0;
    std::vector<int> captureAt;  // frames with isPhotoing = 1
    std::vector<int> holdAt;     // frames with holdFlag = 1
};

// Checks every field; false with a message that names the option.
bool checkSimOptions(const SimOptions& options, std::string& error);

// Command-line forms: "-2,-1,0" (each a finite EV within kExposureLimitEv, no
// repeats), "engine,grey" (known names, no repeats) and "640x480" (even sides).
bool parseEvList(const std::string& text, std::vector<double>& evs, std::string& error);
bool parsePolicyList(const std::string& text, std::vector<std::string>& names, std::string& error);
bool parseFrameSize(const std::string& text, int& width, int& height);

// A photograph made ready for runs.
struct SimPhoto {
    std::string label;  // as written in the files: the path as given
    SourcePhoto photo;
    Scene scene;
    WindowGeometry geometry;
    std::vector<CameraPose> poses;  // one per frame
};
SimPhoto prepareSimPhoto(std::string label, SourcePhoto photo, const SimOptions& options);

struct SimFrameRecord {
    int frame = 0;
    double ev = 0.0;          // the exposure the frame was taken with
    float lux = 0.0f;         // the lux index reported with it
    double measured = 0.0;    // the host's mean linear luminance
    double score = 0.0;       // the policy's answer
    double confidence = 0.0;  // NaN when the policy gives none
    std::string route;        // empty when the policy has no routes
    int lightCells = -1;      // -1 when the policy makes no light map
    bool capture = false;
    bool hold = false;
    double milliseconds = 0.0;  // time of the policy's answer; never written to files
};

struct SimRun {
    int id = 0;
    std::string photo;
    std::string policy;
    double startEv = 0.0;
    std::vector<SimFrameRecord> frames;
    RunMetrics metrics;
};

// One run of `policy` on `photo` from `startEv`. False with `error` when the
// policy cannot start.
bool runClosedLoop(const SimOptions& options, const SimPhoto& photo, ExposurePolicy& policy,
                   double startEv, SimRun& run, std::string& error);

struct SimResult {
    std::vector<SimRun> runs;              // photo by photo, start by start, policy by policy
    std::vector<PolicySummary> summaries;  // in the order of options.policies
};

// Called after every frame with the frames done and the frames in all.
using SimProgress = std::function<void(uint64_t done, uint64_t total)>;

// Every photo x start x policy. False with `error` when the options are bad,
// a photo cannot be decoded or a policy cannot start.
bool runSimulation(const SimOptions& options, SimResult& result, std::string& error,
                   const SimProgress& progress = nullptr);

#endif  // XEPO_TOOL_CLOSED_LOOP_RUN_H
