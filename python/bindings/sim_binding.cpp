#include "sim_binding.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "closed_loop_output.h"
#include "closed_loop_run.h"
#include "engine_binding.h"
#include "errors.h"

namespace py = pybind11;

namespace xepo_python {
namespace {

// The options of a study or a run from the keyword arguments that simulate()
// and study_summary() share. Throws ValueError naming the option.
SimOptions simOptions(const std::vector<std::string>& photos,
                      const std::vector<std::string>& policies, const std::vector<double>& startEvs,
                      int frames, const std::string& motion, const std::string& size, double lux,
                      uint64_t seed, const std::string& models, double speed, int latency,
                      double boost, double noise, const std::vector<int>& captureAt,
                      const std::vector<int>& holdAt) {
    SimOptions options;
    options.photos = photos;
    options.policies = policies;
    options.startEvs = startEvs;
    options.frames = frames;
    if (!parseMotionKind(motion, options.motion)) {
        throw py::value_error("motion " + motion + ": expected still, pan or shake");
    }
    if (!parseFrameSize(size, options.width, options.height)) {
        throw py::value_error("size " + size + ": expected WxH with even sides");
    }
    options.baseLux = lux;
    options.seed = seed;
    options.modelDir = models;
    options.speed = speed;
    options.latency = latency;
    options.boost = boost;
    options.noise = noise;
    options.captureAt = captureAt;
    options.holdAt = holdAt;
    std::string error;
    if (!checkSimOptions(options, error)) {
        throw py::value_error(error);
    }
    return options;
}

template <typename T, typename Field>
py::array_t<T> column(const std::vector<SimFrameRecord>& frames, Field field) {
    py::array_t<T> values(static_cast<py::ssize_t>(frames.size()));
    T* out = values.mutable_data();
    for (size_t i = 0; i < frames.size(); ++i) {
        out[i] = static_cast<T>(field(frames[i]));
    }
    return values;
}

py::dict metricsDict(const RunMetrics& metrics) {
    py::dict out;
    out["final_ev"] = metrics.finalEv;
    out["final_error"] = metrics.finalError;
    out["settle_frame"] = metrics.settleFrame;
    out["overshoot"] = metrics.overshoot;
    out["oscillations"] = metrics.oscillations;
    out["flicker"] = metrics.flicker;
    return out;
}

RunMetrics metricsFrom(const py::dict& metrics) {
    RunMetrics out;
    out.finalEv = metrics["final_ev"].cast<double>();
    out.finalError = metrics["final_error"].cast<double>();
    out.settleFrame = metrics["settle_frame"].cast<int>();
    out.overshoot = metrics["overshoot"].cast<double>();
    out.oscillations = metrics["oscillations"].cast<int>();
    out.flicker = metrics["flicker"].cast<double>();
    return out;
}

// A run as plain Python values (numpy arrays, lists, strings), so that it
// pickles: evaluation workers send their runs back this way. The text lines
// are the ones `xepo sim` writes for the same run.
py::dict runDict(const SimRun& run) {
    py::dict out;
    out["id"] = run.id;
    out["photo"] = run.photo;
    out["policy"] = run.policy;
    out["start_ev"] = run.startEv;
    const std::vector<SimFrameRecord>& f = run.frames;
    out["frame"] = column<int64_t>(f, [](const SimFrameRecord& r) { return r.frame; });
    out["ev"] = column<double>(f, [](const SimFrameRecord& r) { return r.ev; });
    out["lux"] = column<float>(f, [](const SimFrameRecord& r) { return r.lux; });
    out["measured"] = column<double>(f, [](const SimFrameRecord& r) { return r.measured; });
    out["score"] = column<double>(f, [](const SimFrameRecord& r) { return r.score; });
    out["confidence"] = column<double>(f, [](const SimFrameRecord& r) { return r.confidence; });
    out["light_cells"] = column<int64_t>(f, [](const SimFrameRecord& r) { return r.lightCells; });
    out["capture"] = column<bool>(f, [](const SimFrameRecord& r) { return r.capture; });
    out["hold"] = column<bool>(f, [](const SimFrameRecord& r) { return r.hold; });
    out["ms"] = column<double>(f, [](const SimFrameRecord& r) { return r.milliseconds; });
    py::list routes;
    py::list csvLines;
    py::list jsonLines;
    for (const SimFrameRecord& record : f) {
        routes.append(record.route);
        csvLines.append(simFrameCsvLine(run, record));
        jsonLines.append(simFrameJsonLine(run, record));
    }
    out["route"] = routes;
    out["frames_csv"] = csvLines;
    out["frames_jsonl"] = jsonLines;
    out["run_csv"] = simRunCsvLine(run);
    out["metrics"] = metricsDict(run.metrics);
    return out;
}

}  // namespace

void bindSimulation(py::module_& module) {
    module.def(
        "simulate",
        [](const std::string& photo, const std::string& policy, double startEv, int frames,
           const std::string& motion, const std::string& size, double lux, uint64_t seed,
           const std::string& models, double speed, int latency, double boost, double noise,
           const std::vector<int>& captureAt, const std::vector<int>& holdAt, int runId) {
            if (policy == "engine" && engineIsOpen()) {
                throw EngineError(
                    "simulate() makes an engine of its own for each run; close the open "
                    "xepo.Engine first (the library holds one per process)");
            }
            const SimOptions options =
                simOptions({photo}, {policy}, {startEv}, frames, motion, size, lux, seed, models,
                           speed, latency, boost, noise, captureAt, holdAt);
            SimResult result;
            std::string error;
            bool ok = false;
            {
                py::gil_scoped_release unlocked;
                ok = runSimulation(options, result, error);
            }
            if (!ok) {
                throw EngineError(error);
            }
            SimRun& run = result.runs.front();
            run.id = runId;
            return runDict(run);
        },
        py::arg("photo"), py::kw_only(), py::arg("policy") = "engine", py::arg("start_ev") = 0.0,
        py::arg("frames") = 60, py::arg("motion") = "still", py::arg("size") = "640x480",
        py::arg("lux") = kDefaultBaseLux, py::arg("seed") = 1,
        py::arg("models") = std::string(XEPO_DEFAULT_MODEL_DIR), py::arg("speed") = kDefaultSpeed,
        py::arg("latency") = kMinLatency, py::arg("boost") = kDefaultHighlightBoost,
        py::arg("noise") = 0.0, py::arg("capture_at") = std::vector<int>(),
        py::arg("hold_at") = std::vector<int>(), py::arg("run_id") = 0, R"doc(
One closed-loop run, the same code as `xepo sim`: a camera in front of the
photograph, its exposure starting `start_ev` from the photographer's, moved
frame by frame toward the target that `policy` answers ("engine", "grey" or
"mean-highlight"; the engine is made afresh from `models`).

Returns a dict of plain values (it pickles): per-frame arrays frame, ev, lux,
measured, score, confidence, light_cells, capture, hold, ms and the list route;
metrics (final_ev, final_error, settle_frame, overshoot, oscillations,
flicker); and the lines `xepo sim` writes for this run (frames_csv,
frames_jsonl, run_csv) with `run_id` as its id. Options are checked as the
command checks them (ValueError); a photo that cannot be decoded or a policy
that cannot start raises xepo.EngineError.
)doc");

    module.def(
        "study_summary",
        [](const std::vector<std::string>& photos, const std::vector<std::string>& policies,
           const std::vector<double>& startEvs, int frames, const std::string& motion,
           const std::string& size, double lux, uint64_t seed, double speed, int latency,
           double boost, double noise, const std::vector<int>& captureAt,
           const std::vector<int>& holdAt, const py::list& runs) {
            const SimOptions options =
                simOptions(photos, policies, startEvs, frames, motion, size, lux, seed,
                           std::string(XEPO_DEFAULT_MODEL_DIR), speed, latency, boost, noise,
                           captureAt, holdAt);
            SimResult result;
            for (const std::string& name : policies) {
                std::vector<RunMetrics> metrics;
                for (const py::handle& item : runs) {
                    const py::dict run = item.cast<py::dict>();
                    if (run["policy"].cast<std::string>() == name) {
                        metrics.push_back(metricsFrom(run["metrics"].cast<py::dict>()));
                    }
                }
                result.summaries.push_back(summarizePolicy(name, metrics));
            }
            return simSummaryJson(options, result);
        },
        py::kw_only(), py::arg("photos"), py::arg("policies"), py::arg("start_evs"),
        py::arg("frames"), py::arg("motion"), py::arg("size"), py::arg("lux"), py::arg("seed"),
        py::arg("speed"), py::arg("latency"), py::arg("boost"), py::arg("noise"),
        py::arg("capture_at"), py::arg("hold_at"), py::arg("runs"),
        "The summary JSON that `xepo sim` writes for these options and the runs of simulate().");

    module.attr("SIM_FRAMES_CSV_HEADER") = simFrameCsvHeader();
    module.attr("SIM_RUNS_CSV_HEADER") = simRunCsvHeader();
}

}  // namespace xepo_python
