// The route the engine took on a frame, read from its own log lines.
#ifndef XEPO_TOOL_SESSION_ROUTES_H
#define XEPO_TOOL_SESSION_ROUTES_H

#include <array>
#include <string>

enum class Route {
    Hold,              // still capture: the held answer ("is phtoting ...")
    ZoomHold,          // zoom switch: the held answer ("during the SAT ...")
    HistoryHit,        // a remembered stable scene gave the score ("hit history, ...")
    Stable,            // the stable-scene handler kept the last answer ("scene is stable")
    UnstableAlbedo,    // entrance, then the albedo model ("ae model this_result: ...")
    UnstableLight,     // entrance, then an accepted light map ("run ls model, use ls result")
    UnstableFallback,  // entrance ran, neither albedo nor an accepted light map
    Keep,              // no model: the last score kept or damped (scene unchanged)
    Neutral,           // control -1: the neutral answer
    EntranceOnly,      // control 0
    AlbedoOnly,        // control 1
};
constexpr int kRouteCount = 11;

// The name written in the per-frame files ("hold", "zoom_hold", ...).
const char* routeName(Route route);
// Every route in the order above.
std::array<Route, kRouteCount> allRoutes();

// Collects the marks of one frame's log lines and decides its route.
class RouteTracker {
  public:
    void startFrame(int control);
    // One engine log message (with or without its "file:line function() " prefix).
    void observe(const char* message);
    // The route, given the confidence the engine wrote (an accepted light map
    // answers with the light-region confidence 0.92).
    Route route(float confidence) const;

  private:
    int control_ = 0;
    bool photo_ = false;
    bool zoomHold_ = false;
    bool historyHit_ = false;
    bool stable_ = false;
    bool entrance_ = false;
    bool albedo_ = false;
    bool lightRun_ = false;
};

#endif  // XEPO_TOOL_SESSION_ROUTES_H
