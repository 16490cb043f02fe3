#include "xepo/score_combination.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "xepo/result_output.h"
#include "xepo_contract.h"

namespace xepo {
namespace {

// --- score choice
// Averages at or below this are dark enough to pull a bright frame down.
constexpr float kDarkAverage = 15.0f;
constexpr float kDarkAverageAnswer = 16.0f;
constexpr float kBrightAverageMax = 24.0f;
constexpr float kBrightFrameMax = 25.0f;
// A frame this much brighter than the average is believed on its own.
constexpr float kBelievableRise = 5.0f;
// Lux change (index units) that explains a change of score.
constexpr float kExplainingLuxChange = 1.0f;

// --- crossing limit
constexpr float kLuxRuleMinChange = 5.0f;
constexpr float kLuxGainBright = 6.0f;
constexpr float kLuxGainDark = 2.0f;

bool bothBelowNeutral(float a, float b) {
    return a < kNeutralScore && b < kNeutralScore;
}
bool bothAboveNeutral(float a, float b) {
    return a > kNeutralScore && b > kNeutralScore;
}
bool sameSideOfNeutral(float a, float b) {
    return bothBelowNeutral(a, b) || bothAboveNeutral(a, b);
}

}  // namespace

void writeHoldResult(AeEngine* engine, _XEPO_RES_* result, float this_result, float aec_lux,
                     float scale) {
    float confidence = kConfidenceSure;
    if (engine->lastIsSegResult == 1) {
        confidence = kConfidenceLightMap;
    } else if (engine->lastEnResult && engine->enResult) {
        confidence = entranceConfidence(confidenceSource(engine, this_result));
    }
    result->result = engine->lastAeScore;
    result->confidence = confidence;
    engine->lastAecLux = aec_lux;
    engine->lastScale = scale;
    writeMapRecord(result->segMap, engine->lastSegMap.get());
}

float pushScoreAverage(ScoreAverage* average, float score) {
    // -1 is a query: nothing is appended.
    if (score == -1.0f) {
        if (average->values.empty()) {
            return kNeutralScore;
        }
        return average->sum / static_cast<float>(average->values.size());
    }
    average->values.push_back(score);
    if (average->values.size() <= average->window) {
        average->sum += score;
        return average->sum / static_cast<float>(average->values.size());
    }
    const float oldest = average->values.front();
    average->values.pop_front();
    average->sum = average->sum - oldest + score;
    return average->sum / static_cast<float>(average->window);
}

float selectScore(const AeEngine* engine, float s, float a, float aec_lux) {
    // A history hit on this frame is trusted as it is.
    if (engine->historyHitCount == 1) {
        return s;
    }
    // A darker frame against a neutral-or-brighter past moves at once.
    if (s < kNeutralScore && a >= kNeutralScore) {
        return s;
    }
    if (s <= kNeutralScore && a >= kNeutralScore && a <= kBrightAverageMax) {
        return s;
    }
    if (s >= kNeutralScore && s <= kBrightFrameMax && a <= kNeutralScore) {
        return a <= kDarkAverage ? kDarkAverageAnswer : s;
    }
    if (s <= kNeutralScore && a <= kNeutralScore && a - s >= 0.0f) {
        return s;
    }
    const float d = s - a;
    if (s >= kNeutralScore && a >= kNeutralScore && d >= 0.0f && d <= kBelievableRise) {
        return s;
    }
    // A change of score that a lux change explains is believed.
    const float dl = aec_lux - engine->lastAecLux;
    if ((d < 0.0f && dl > kExplainingLuxChange) || (d > 0.0f && dl < kExplainingLuxChange)) {
        return s;
    }
    // Otherwise whichever is nearer the last output (a tie goes to the average).
    const float L = engine->lastAeScore;
    return std::fabs(L - a) > std::fabs(L - s) ? s : a;
}

float limitScoreCrossing(const AeEngine* engine, bool cameraFirst, float s, float aec_lux,
                         float similarity) {
    const float L = engine->lastAeScore;
    const float lastLux = engine->lastAecLux;
    // Lux rule. The driver stores this frame's lux in lastAecLux before calling
    // here, so |lastLux - aec_lux| is 0 and r is 0: the rule below never acts,
    // and the stable branch's scaling by (1 + k*r) leaves L as it is. It is kept
    // so that the limiter stays whole should the driver's order change.
    const float k = (1.0f - similarity) * (L > kNeutralScore ? kLuxGainBright : kLuxGainDark);
    const float r = lastLux != 0.0f ? (lastLux - aec_lux) / lastLux : 0.0f;
    const float kr = k * r;
    if (engine->historyHitCount == 0 && engine->isStable != 1 &&
        std::fabs(lastLux - aec_lux) >= kLuxRuleMinChange && !cameraFirst) {
        const bool keepLast =
            kr < 0.0f
                ? ((s >= kNeutralScore && kNeutralScore > L) || (sameSideOfNeutral(s, L) && s > L))
                : ((s < kNeutralScore && kNeutralScore <= L) || (sameSideOfNeutral(s, L) && s < L));
        return keepLast ? L : s;
    }

    if (engine->isStable != 1 || engine->lastIsStable > 0) {
        return s;
    }
    if (aec_lux == 0.0f) {
        return s;
    }
    const float c = std::clamp(L * (1.0f + kr), kMinScore, kMaxScore);
    if (L < kNeutralScore && kNeutralScore < s) {
        return std::min(s, c);
    }
    if (s < kNeutralScore && kNeutralScore < L) {
        return std::max(s, c);
    }
    if ((L < s && s < kNeutralScore && kr < 0.0f) || (kNeutralScore < s && s < L && kr > 0.0f)) {
        return (c + s) * 0.5f;
    }
    return s;
}

}  // namespace xepo
