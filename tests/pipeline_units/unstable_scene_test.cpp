// The unstable-scene handler on the engine created over the scripted runtime:
// which model path a frame takes, the albedo score and its raises, the light
// map, the held map, the fallback decision and the blends with the last score
// and with remembered scenes. Each row changes the base frame in one respect.
#include "xepo/unstable_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

#include "scripted_engine.h"

namespace {

using scripted::entrance;
using scripted::lightCells;
using xepo::AeEngine;

// The kept map's bytes, told apart from a fresh light map (0 and 255).
constexpr uint8_t kKeptMap = 7;
// Light maps of exactly 150 and 149 cells (of 3072) after the turn and resize.
const std::vector<float> k150Cells = lightCells(10, 10, 21, 22);
const std::vector<float> k149Cells = lightCells(10, 10, 15, 35);

// A remembered scene: its score, its histogram in one bin (the frame's is all
// in bin 0) with the rest of its counts in the next, and the device's angles
// when it was recorded. Its entrance confidence was a sure 0.9.
constexpr int32_t kPixels = 50176;  // the pixels each histogram counts

struct Remembered {
    float score;
    int bin = 0;
    std::array<float, 3> angle{};
    int32_t inBin = kPixels;
};

// The engine before the frame, and the frame.
struct Given {
    // Engine: last frame score and last output, last entrance confidence,
    // reference lux, model runs so far, map state, stability, remembered scenes.
    float lastScore = 30, lastOutput = 30, lastConfidence = 0.9f, refLux = 300;
    int32_t runs = 10, mapState = 0, isStable = -3, lastIsStable = 0;
    std::vector<Remembered> history;
    // Models and frame: the entrance answer and light map; the albedo fraction,
    // then the frame's lux, gyro distance, histogram similarity and thumbnail
    // correlation; the light run's status, then the hold flag and rest code;
    // segmentation.
    std::vector<float> en = entrance(0.9f), light = lightCells(0, 0, -1, -1);
    float albedo = 0.3f, lux = 300, g = 0.05f, similarity = 0.5f, ncc = 0;
    int32_t lightStatus = 0, hold = 0, rest = 1;
    bool seg = true;
};

struct Outcome {
    float score, useAverage;
    int32_t ls, albedoRuns, lightRuns, mapState;
    bool mapKept = false;  // segMap holds the kept map
    // All but the score, which is compared within float rounding.
    auto tied() const { return std::tie(useAverage, ls, albedoRuns, lightRuns, mapState, mapKept); }
};

Outcome runFrame(const Given& s) {
    static const Nv21Frame frame = nv21Flat(320, 240, 120, 120, 120);
    scripted::ScriptedEngine se;
    AeEngine& e = se.state();
    se.entrance().outputs = {s.en};
    se.albedo().outputs = {{s.albedo}};
    se.lightSeg().outputs = {s.light};
    se.lightSeg().runStatus = {s.lightStatus};
    std::tie(e.lastAeThisScore, e.lastAeScore, e.lastEnResult[1], e.modelRunCount,
             e.lastIsSegResult, e.isStable, e.lastIsStable, e.refAecLux) =
        std::make_tuple(s.lastScore, s.lastOutput, s.lastConfidence, s.runs, s.mapState, s.isStable,
                        s.lastIsStable, s.refLux);
    std::memset(e.lastSegMap.get(), kKeptMap, xepo::kSegMapBytes);
    e.curHist[0] = kPixels;
    for (const Remembered& r : s.history) {  // oldest first
        xepo::HistoryEntry entry{{}, r.score, 0.9f};
        entry.hist[r.bin] = r.inBin;
        entry.hist[r.bin + 1] += kPixels - r.inBin;
        std::copy(r.angle.begin(), r.angle.end(), entry.imuAngle);
        e.historyHist.push_back(entry);
    }
    float score = 25.0f, thisResult = 1.2f, useAverage = 0.0f;
    int32_t ls = 0;
    xepo::handleUnstableScene(&e, &score, &thisResult, &useAverage, &ls, s.hold, s.seg, s.rest,
                              false, frame.y.data(), frame.vu.data(), frame.width, frame.height,
                              frame.width, frame.height, 17, 0, false, 0, 0, s.lux, s.g,
                              s.similarity, s.ncc, 1.0f, std::array<float, 3>{}.data());
    const bool mapKept = std::all_of(e.segMap.get(), e.segMap.get() + xepo::kSegMapBytes,
                                     [](uint8_t v) { return v == kKeptMap; });
    EXPECT_EQ(thisResult, s.en[1]) << "this_result is this frame's confidence";
    EXPECT_EQ(std::vector<float>(e.lastEnResult.get(), e.lastEnResult.get() + 4), s.en);
    return {score,  useAverage, ls, se.albedo().runs, se.lightSeg().runs, e.lastIsSegResult,
            mapKept};
}

struct Row {
    const char* name;
    std::function<void(Given&)> change;
    Outcome expected;
};

void check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        Given s;
        row.change(s);
        const Outcome o = runFrame(s);
        EXPECT_FLOAT_EQ(o.score, row.expected.score) << row.name;
        EXPECT_EQ(o.tied(), row.expected.tied()) << row.name;
    }
}

// Outcomes that recur: a score of the albedo model (28 for 0.3 at lux 300), a
// score of the fallback (with the average), its neutral answer and its kept
// last score.
constexpr Outcome scored(float score) {
    return {score, 0, 0, 1, 0, 0, false};
}
constexpr Outcome fallback(float score) {
    return {score, 1, 0, 0, 0, 0, false};
}
constexpr Outcome kNeutral = fallback(18);
constexpr Outcome kKeptLast{30, 0, 0, 0, 0, 0, false};

// The device rests (no blends). The albedo model runs on a confidence of 0.73
// (0.71 up to the fifth model run since creation) or a high-key confidence of
// 0.8, from lux 150 on, without the hold flag or a kept map. Its score is
// raised by 4 for high key and for a light scene while it lies in 25..44, and
// an unsure score below neutral is lifted to neutral.
TEST(UnstableScene, AlbedoPath) {
    const auto answers = [](std::vector<float> en, float albedo) {
        return [=](Given& s) { s.en = en, s.albedo = albedo; };
    };
    check({
        {"confident", [](Given&) {}, scored(28)},
        {"confidence 0.73", [](Given& s) { s.en = entrance(0.73f); }, scored(28)},
        {"confidence 0.72", [](Given& s) { s.en = entrance(0.72f); }, kNeutral},
        {"0.72 on the fifth run", [](Given& s) { s.en = entrance(0.72f), s.runs = 4; }, scored(28)},
        {"0.72 on the sixth run", [](Given& s) { s.en = entrance(0.72f), s.runs = 5; }, kNeutral},
        {"0.70 on the first run", [](Given& s) { s.en = entrance(0.7f), s.runs = 0; }, kNeutral},
        {"high key alone", [](Given& s) { s.en = entrance(0.1f, 0.8f); }, scored(32)},
        {"high key 0.79", [](Given& s) { s.en = entrance(0.1f, 0.79f); }, kNeutral},
        // The fallback would keep 30 here; at lux 150 the mapping gives neutral.
        {"lux 150", [](Given& s) { s.lux = 150, s.g = 0.01f, s.similarity = 0.85f; },
         Outcome{18, 1, 0, 1, 0, 0, false}},
        {"lux 149.9", [](Given& s) { s.lux = 149.9f, s.g = 0.01f, s.similarity = 0.85f; },
         kKeptLast},
        {"hold flag", [](Given& s) { s.hold = 1; }, kNeutral},
        {"high key at 44", answers(entrance(0.9f, 0.8f), 0.5f), scored(48)},
        {"light scene at 44", answers(entrance(0.9f, 0, 0.3f), 0.5f), scored(48)},
        {"both at 44", answers(entrance(0.9f, 0.8f, 0.3f), 0.5f), scored(48)},
        {"both at 25", answers(entrance(0.9f, 0.8f, 0.3f), 0.27f), scored(33)},
        {"unsure and dark", answers(entrance(0.1f, 0.8f), 0.13f), scored(18)},
        {"sure and dark", [](Given& s) { s.albedo = 0.13f; }, scored(13)},
        {"sure at 0.73 and dark", answers(entrance(0.73f), 0.13f), scored(13)},
    });
}

// Without the albedo model: a light scene (0.3) with segmentation on runs the
// light model, whose map counts from 150 light cells (any count with the hold
// flag). A map kept from before (states 1 down to -14) stays in force.
TEST(UnstableScene, LightMapAndHeldMap) {
    constexpr Outcome kAccepted{18, 0, 1, 0, 1, 1, false};
    constexpr Outcome kRefused{18, 1, 0, 0, 1, 0, false};
    const auto heldMap = [](int32_t state) { return Outcome{18, 0, 1, 0, 0, state, true}; };
    const auto lightScene = [](Given& s) { s.en = entrance(0.5f, 0, 0.3f), s.light = k150Cells; };
    check({
        {"150 cells", lightScene, kAccepted},
        {"149 cells", [&](Given& s) { lightScene(s), s.light = k149Cells; }, kRefused},
        {"149 cells held", [&](Given& s) { lightScene(s), s.light = k149Cells, s.hold = 1; },
         kAccepted},
        {"light run failed", [&](Given& s) { lightScene(s), s.lightStatus = -4; }, kRefused},
        {"light scene 0.29", [&](Given& s) { lightScene(s), s.en[3] = 0.29f; }, kNeutral},
        {"segmentation off", [&](Given& s) { lightScene(s), s.seg = false; }, kNeutral},
        {"held map at -14", [](Given& s) { s.en = entrance(0.5f), s.mapState = -14; },
         heldMap(-14)},
        {"map let go at -15", [](Given& s) { s.en = entrance(0.5f), s.mapState = -15; },
         Outcome{18, 1, 0, 0, 0, -15, false}},
        {"kept map blocks the albedo model", [](Given& s) { s.mapState = 1; }, heldMap(1)},
    });
}

// Neither model answers: the last frame score (30) is kept when the scene
// evidently has not changed, else the answer is neutral with the average.
// Still means a gyro distance under 0.015; the mid band is lux 210..400
// (exclusive); similarities and correlations are compared in double precision.
TEST(UnstableScene, Fallback) {
    // An unsure frame (0.5) with this gyro distance, histogram similarity,
    // thumbnail correlation, reference lux and last entrance confidence.
    const auto unsure = [](float g, float similarity, float ncc, float refLux, float last = 0.9f) {
        return [=](Given& s) {
            s.en = entrance(0.5f), s.g = g, s.similarity = similarity, s.ncc = ncc;
            s.refLux = refLux, s.lastConfidence = last;
        };
    };
    // Resting, correlated and similar, the reference 24 away, the last entrance unsure.
    const auto resting = unsure(0.01f, 0.91f, 0.93f, 276, 0.72f);
    check({
        {"still, similar, last entrance sure", unsure(0.01f, 0.8f, 0, 300), kKeptLast},
        {"still, similar, last entrance unsure", unsure(0.01f, 0.8f, 0, 300, 0.72f), kNeutral},
        // This frame's entrance answer is sure, but the rule asks the last one.
        {"sure now but held, last unsure",
         [](Given& s) { s.hold = 1, s.g = 0.01f, s.similarity = 0.8f, s.lastConfidence = 0.5f; },
         kNeutral},
        {"similar 0.96 near the reference", unsure(0.05f, 0.96f, 0, 296), kKeptLast},
        {"similar 0.95f", unsure(0.05f, 0.95f, 0, 300), kNeutral},
        {"similar, reference 5 away", unsure(0.05f, 0.96f, 0, 295), kNeutral},
        {"similar at lux 210", [&](Given& s) { unsure(0.05f, 0.96f, 0, 210)(s), s.lux = 210; },
         kNeutral},
        {"still, correlated 0.89, reference 9 away", unsure(0.01f, 0.5f, 0.89f, 291), kKeptLast},
        {"still, correlated 0.88f", unsure(0.01f, 0.5f, 0.88f, 300), kNeutral},
        {"resting, correlated, similar, reference 24 away", resting, kKeptLast},
        {"as before, not resting", [&](Given& s) { resting(s), s.rest = 0; }, kNeutral},
        {"as before, reference 25 away", [&](Given& s) { resting(s), s.refLux = 275; }, kNeutral},
    });
}

// A moving device blends the albedo score (28) with the last frame score and
// then with the newest remembered scene of the same picture; how much depends
// on how far the device turned since (0.7 within 0.015, 0.5 within 0.02 or,
// for an unsure frame and a sure scene, 0.08, else 0.2, times the similarity).
TEST(UnstableScene, Blends) {
    const auto moving = [](Given& s) { s.rest = 0, s.lastScore = 18, s.lastOutput = 25; };
    // Remembered scenes, and this frame's entrance confidence.
    const auto remember = [&](std::vector<Remembered> history, float en = 0.9f) {
        return [=](Given& s) { moving(s), s.history = history, s.en = entrance(en); };
    };
    check({
        {"nothing to blend with", moving, scored(28)},
        // 18 + 0.4 of the similarity (0.5) times 28 - 18
        {"a last output 0.5 from neutral draws a bright score to the last one",
         [&](Given& s) { moving(s), s.lastOutput = 18.5f; }, scored(20)},
        {"close bright scores meet halfway, by similarity", [](Given& s) { s.rest = 0; },
         scored(28.5f)},
        {"on stable count 4 a tiny similarity weighs fully",
         [](Given& s) { s.rest = 0, s.lastIsStable = 4, s.similarity = 0.01f; }, scored(29)},
        {"on stable count 4 a similarity of 0.02 weighs by itself",
         [](Given& s) { s.rest = 0, s.lastIsStable = 4, s.similarity = 0.02f; }, scored(28.02f)},
        {"remembered scene where the device is", remember({{20}}), scored(26.4f)},
        {"an older match behind a newer other picture", remember({{20}, {40, 5}}), scored(26.4f)},
        {"the newest match wins", remember({{20}, {24}}), scored(27.2f)},
        // similarity sqrt(45284 / 50176) = 0.95 pulls by 0.95 of the weight; 0.85 not at all
        {"a scene remembered at similarity 0.95", remember({{20, 0, {}, 45284}}), scored(26.48f)},
        {"one below similarity 0.9 is passed over", remember({{20, 0, {}, 36252}}), scored(28)},
        {"turned by 0.01 about two axes", remember({{20, 0, {0.006f, 0.008f, 0}}}), scored(22.4f)},
        {"turned by 0.0175 about three axes", remember({{20, 0, {0.008f, 0.01f, 0.012f}}}),
         scored(24)},
        {"turned by 0.025, past the near distance", remember({{20, 0, {0.015f, 0.02f, 0}}}),
         scored(26.4f)},
        {"resting device", [&](Given& s) { moving(s), s.rest = 1, s.history = {{20}}; },
         scored(28)},
        // The fallback's 18 of an unsure frame (0.72), pulled by 0.5 towards a sure
        // scene (0.9, within 0.2) that the device turned less than 0.08 from; by
        // 0.2 from farther.
        {"an unsure frame near a sure scene", remember({{20, 0, {0.07f, 0, 0}}}, 0.72f),
         fallback(19)},
        {"an unsure frame turned 0.085 from a sure scene",
         remember({{20, 0, {0.085f, 0, 0}}}, 0.72f), fallback(18.4f)},
    });
}

}  // namespace
