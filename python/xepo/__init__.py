"""The XEPO auto-exposure engine from Python.

    import xepo

    with xepo.Engine(models="models/") as engine:
        result = engine.image("samples/rocket.jpg")
        print(result.score, result.confidence, result.route)

        frame = ...                       # NV21 uint8 array, shape (h * 3 / 2, w)
        result = engine.process(frame, lux=300.0, gyro=samples)
        result.light_map                  # (48, 64) uint8, 255 = light

    session = xepo.read_session("build/demo-session")
    replayed = xepo.replay("build/demo-session")
    replayed["score"]                     # one value per frame

    run = xepo.simulate("samples/rocket.jpg", policy="engine", start_ev=-2.0)
    run["ev"], run["score"], run["metrics"]["final_error"]

Batch evaluation on a Dask cluster: python3 -m xepo.eval (see xepo.eval).

Engine: one engine per process (the library holds one); a second raises
EngineError until the first is closed. Errors are Python exceptions that
carry the engine's own messages: EngineError (the engine refused or could not
answer), EngineClosedError (used after close()), FileNotFoundError (a missing
file), TypeError and ValueError (wrong dtype, shape, size or stride).
"""

import numpy as _numpy

from ._xepo import (DEFAULT_MODELS, SIM_FRAMES_CSV_HEADER, SIM_RUNS_CSV_HEADER, Engine,
                    EngineClosedError, EngineError, Result, Session, SessionFrame, read_session,
                    simulate, study_summary)

__all__ = ["DEFAULT_MODELS", "Engine", "EngineClosedError", "EngineError", "Result", "Session",
           "SessionFrame", "read_session", "replay", "simulate", "study_summary",
           "SIM_FRAMES_CSV_HEADER", "SIM_RUNS_CSV_HEADER"]


def replay(directory, models=DEFAULT_MODELS, engine=None):
    """Feeds every frame of a recorded session through the engine, as
    `xepo replay` does, and returns per-frame arrays in a dict:

        frame, lux, zoom, score, confidence (float arrays), light_cells (int),
        route (list of str), light_map ((frames, 48, 64) uint8)

    With `engine` given it is used (and left open); otherwise an engine is
    opened on `models` for the replay and closed afterwards.
    """
    session = read_session(directory)
    own = engine is None
    engine = Engine(models) if own else engine
    count = len(session)
    out = {
        "frame": _numpy.arange(count),
        "lux": _numpy.empty(count, _numpy.float32),
        "zoom": _numpy.empty(count, _numpy.float32),
        "score": _numpy.empty(count, _numpy.float32),
        "confidence": _numpy.empty(count, _numpy.float32),
        "light_cells": _numpy.empty(count, _numpy.int64),
        "route": [],
        "light_map": _numpy.empty((count, 48, 64), _numpy.uint8),
    }
    try:
        for index, frame in enumerate(session.frames):
            result = engine.process(
                session.pixels(index), width=frame.width, height=frame.height,
                stride=frame.stride, lux=frame.lux, zoom=frame.zoom, rotation=frame.rotation,
                flip=frame.flip, capture=frame.capture, hold=frame.hold, gyro=frame.gyro,
                control=frame.control, enable_seg=frame.enable_seg,
                camera_type=frame.camera_type)
            out["lux"][index] = frame.lux
            out["zoom"][index] = frame.zoom
            out["score"][index] = result.score
            out["confidence"][index] = result.confidence
            light_map = result.light_map
            out["light_map"][index] = light_map
            out["light_cells"][index] = int(_numpy.count_nonzero(light_map))
            out["route"].append(result.route)
    finally:
        if own:
            engine.close()
    return out
