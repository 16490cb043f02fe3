#include "session_routes.h"

#include <cstring>

#include "xepo_contract.h"

namespace {

using xepo::kConfidenceLightMap;
using xepo::kControlAlbedoOnly;
using xepo::kControlEntranceOnly;
using xepo::kControlNeutral;

// The engine's log texts that mark a route.
constexpr const char* kPhotoLine = "is phtoting ";
constexpr const char* kZoomHoldLine = "during the SAT ";
constexpr const char* kHistoryHitLine = "hit history, ";
constexpr const char* kStableLine = "scene is stable";
constexpr const char* kEntranceLine = "entrance model this_result: ";
constexpr const char* kAlbedoLine = "ae model this_result: ";
constexpr const char* kLightLine = "run ls model, use ls result";

bool has(const char* message, const char* text) {
    return std::strstr(message, text) != nullptr;
}

}  // namespace

const char* routeName(Route route) {
    switch (route) {
        case Route::Hold:
            return "hold";
        case Route::ZoomHold:
            return "zoom_hold";
        case Route::HistoryHit:
            return "history_hit";
        case Route::Stable:
            return "stable";
        case Route::UnstableAlbedo:
            return "unstable_albedo";
        case Route::UnstableLight:
            return "unstable_light";
        case Route::UnstableFallback:
            return "unstable_fallback";
        case Route::Keep:
            return "keep";
        case Route::Neutral:
            return "neutral";
        case Route::EntranceOnly:
            return "entrance_only";
        case Route::AlbedoOnly:
            return "albedo_only";
    }
    return "unknown";
}

std::array<Route, kRouteCount> allRoutes() {
    return {Route::Hold,           Route::ZoomHold,      Route::HistoryHit,       Route::Stable,
            Route::UnstableAlbedo, Route::UnstableLight, Route::UnstableFallback, Route::Keep,
            Route::Neutral,        Route::EntranceOnly,  Route::AlbedoOnly};
}

void RouteTracker::startFrame(int control) {
    *this = RouteTracker{};
    control_ = control;
}

void RouteTracker::observe(const char* message) {
    if (message == nullptr) {
        return;
    }
    photo_ = photo_ || has(message, kPhotoLine);
    zoomHold_ = zoomHold_ || has(message, kZoomHoldLine);
    historyHit_ = historyHit_ || has(message, kHistoryHitLine);
    stable_ = stable_ || has(message, kStableLine);
    entrance_ = entrance_ || has(message, kEntranceLine);
    albedo_ = albedo_ || has(message, kAlbedoLine);
    lightRun_ = lightRun_ || has(message, kLightLine);
}

Route RouteTracker::route(float confidence) const {
    if (control_ == kControlNeutral) {
        return Route::Neutral;
    }
    if (control_ == kControlEntranceOnly) {
        return Route::EntranceOnly;
    }
    if (control_ == kControlAlbedoOnly) {
        return Route::AlbedoOnly;
    }
    if (photo_) {
        return Route::Hold;
    }
    if (zoomHold_) {
        return Route::ZoomHold;
    }
    // A history hit always continues into the stable-scene handler; the hit is
    // what decided the score.
    if (historyHit_) {
        return Route::HistoryHit;
    }
    if (stable_) {
        return Route::Stable;
    }
    if (albedo_) {
        return Route::UnstableAlbedo;
    }
    if (lightRun_ && confidence == kConfidenceLightMap) {
        return Route::UnstableLight;
    }
    if (entrance_) {
        return Route::UnstableFallback;
    }
    return Route::Keep;
}
