// Exposure policies of the closed-loop simulation: what answers the target
// score for each frame the camera delivers.
#ifndef XEPO_TOOL_CLOSED_LOOP_POLICY_H
#define XEPO_TOOL_CLOSED_LOOP_POLICY_H

#include <memory>
#include <string>
#include <vector>

#include "closed_loop_camera.h"
#include "xepo.h"

// The score that asks for mid-grey (a mean of 0.18).
constexpr double kNeutralScore = 18.0;

// mean-highlight: a mean target, raised until the highlights are bright enough.
// A little under mid-grey, as a host that expects highlights to lift it.
constexpr double kHighlightBaseTarget = 0.16;
// The share of the brightest pixels that must come out bright enough.
constexpr double kHighlightShare = 0.02;
// How bright: their mean gamma-encoded luma at least half of white.
constexpr double kHighlightFloor = 0.5;
// The raise stops at the engine's highest frame answer (48), so both speak in
// the same range.
constexpr double kHighlightMaxTarget = 0.48;

// What a policy sees of a frame.
struct PolicyInput {
    const CameraFrame* frame = nullptr;
    AEParams params{};      // lux index, zoom and the capture and hold flags
    IMUDataBlock gyro{};    // the motion since the last frame
    double measured = 0.0;  // the host's mean linear luminance of the frame
};

// A policy's answer. Numbers a policy does not give stay NaN, and a policy
// without routes or light map leaves route empty and lightCells at -1.
struct PolicyAnswer {
    double score = 0.0;
    double confidence = 0.0;
    std::string route;
    int lightCells = -1;
    double milliseconds = 0.0;  // time of the answer (reported, never written to files)
};

class ExposurePolicy {
  public:
    virtual ~ExposurePolicy() = default;
    virtual std::string name() const = 0;
    // Before each run; false with `error` when the policy cannot run.
    virtual bool startRun(std::string& error) {
        (void)error;
        return true;
    }
    virtual PolicyAnswer answer(const PolicyInput& input) = 0;
    // After each run.
    virtual void endRun() {}
};

// Always the same score (`grey` answers kNeutralScore).
class FixedScorePolicy : public ExposurePolicy {
  public:
    FixedScorePolicy(std::string name, double score) : name_(std::move(name)), score_(score) {}
    std::string name() const override { return name_; }
    PolicyAnswer answer(const PolicyInput& input) override;

  private:
    std::string name_;
    double score_;
};

// The target of mean-highlight for a frame whose mean linear luminance is
// `measured`: kHighlightBaseTarget, raised until the brightest kHighlightShare
// of the pixels, exposed so that the mean reaches the target, average at least
// kHighlightFloor in gamma-encoded luma; at most kHighlightMaxTarget.
double meanHighlightTarget(const CameraFrame& frame, double measured);

class MeanHighlightPolicy : public ExposurePolicy {
  public:
    std::string name() const override { return "mean-highlight"; }
    PolicyAnswer answer(const PolicyInput& input) override;
};

// The engine through its public interface: a fresh engine from `modelDir` for
// every run, the frame call with the full decision pipeline, and the route read
// from the engine's log lines. Engine lines at error priority go to standard
// error.
class EnginePolicy : public ExposurePolicy {
  public:
    explicit EnginePolicy(std::string modelDir);
    ~EnginePolicy() override;
    std::string name() const override { return "engine"; }
    bool startRun(std::string& error) override;
    PolicyAnswer answer(const PolicyInput& input) override;
    void endRun() override;

  private:
    struct State;
    std::string modelDir_;
    std::unique_ptr<State> state_;
};

// The policies `xepo sim` knows, in the order its table lists them.
const std::vector<std::string>& policyNames();
// A policy by name; null for an unknown name. `modelDir` is for the engine.
std::unique_ptr<ExposurePolicy> makePolicy(const std::string& name, const std::string& modelDir);

#endif  // XEPO_TOOL_CLOSED_LOOP_POLICY_H
