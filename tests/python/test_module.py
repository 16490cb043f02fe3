"""The xepo module against the xepo tool on the same inputs, the frame layouts
it takes without copies, and its errors."""

import json
import os
import re
import subprocess

import numpy as np
import pytest

import xepo
from conftest import SAMPLES, SOURCE


def grey_frame(height=240, width=320, level=128, stride=None):
    stride = stride or width
    frame = np.full((height + (height + 1) // 2, stride), level, np.uint8)
    frame[:height, :width] = np.linspace(40, 220, width, dtype=np.uint8)
    return frame


MOVING_GYRO = np.array([[1.0e9, 0.8, -0.4, 0.3], [1.01e9, 0.8, -0.4, 0.3]])


def test_images_answer_as_the_tool_does(engine, tool):
    done = subprocess.run([tool, "image", "--json", *SAMPLES], capture_output=True, text=True,
                          check=True)
    expected = [json.loads(line) for line in done.stdout.splitlines()]
    for sample, line in zip(SAMPLES, expected):
        assert line["lux"] == 300.0, "the default lux index, in the albedo band"
        result = engine.image(sample)
        assert (result.score, result.confidence) == pytest.approx(
            (line["result"], line["confidence"]), abs=1e-6), sample


def test_light_map_comes_back_as_rows_of_cells(engine, tool):
    sample = os.path.join(SOURCE, "samples", "rocket.jpg")
    done = subprocess.run([tool, "image", "--json", "--control", "3", sample],
                          capture_output=True, text=True, check=True)
    result = engine.image(sample, control=3)
    assert result.light_map.shape == (48, 64) and result.light_map.dtype == np.uint8
    assert np.count_nonzero(result.light_map) == json.loads(done.stdout)["light_cells"]


def test_every_frame_layout_gives_the_same_answer():
    """A frame given whole (2-D or 1-D), as two planes, or as views into a wider
    buffer: the engine must see the same pixels. Each layout on a fresh engine so
    that the answers do not depend on the order."""
    frame = grey_frame()
    wide = grey_frame(stride=352)
    wide[:, :320] = frame
    layouts = {
        "2-D": dict(nv21=frame),
        "1-D": dict(nv21=frame.ravel(), width=320, height=240),
        "planes": dict(y=frame[:240], uv=frame[240:]),
        "wide views": dict(y=wide[:240, :320], uv=wide[240:, :320]),
        "wide 2-D": dict(nv21=wide, width=320),
    }
    answers = {}
    for name, layout in layouts.items():
        with xepo.Engine() as engine:
            result = engine.process(**layout, gyro=MOVING_GYRO)
            answers[name] = (result.score, result.confidence, result.route,
                             result.light_map.tobytes())
    assert len(set(answers.values())) == 1, answers


@pytest.mark.parametrize("call, error, fragment", [
    (lambda e: e.process(grey_frame().astype(np.float32)), TypeError, "dtype uint8"),
    (lambda e: e.process([1, 2, 3]), TypeError, "numpy uint8 array"),
    (lambda e: e.process(grey_frame().ravel()), ValueError, "needs width and height"),
    (lambda e: e.process(grey_frame().ravel()[:1000], width=320, height=240), ValueError,
     "needs 115200"),
    (lambda e: e.process(grey_frame(), stride=100), ValueError, "stride"),
    (lambda e: e.process(grey_frame()[:, ::2]), ValueError, "contiguous"),
    (lambda e: e.process(y=grey_frame()[:240]), ValueError, "both y and uv"),
    (lambda e: e.process(grey_frame(), y=grey_frame()[:240]), ValueError, "either nv21"),
    (lambda e: e.process(y=grey_frame()[:240], uv=grey_frame(stride=352)[240:]), ValueError,
     "same step"),
    (lambda e: e.process(y=grey_frame()[:240], uv=grey_frame()[240:300]), ValueError,
     "too small"),
    (lambda e: e.process(grey_frame(), width=20000), ValueError, "outside"),
    (lambda e: e.process(grey_frame(), gyro=np.zeros((2, 3))), ValueError, "shape (n, 4)"),
    (lambda e: e.process(grey_frame(), gyro=np.zeros((81, 4))), ValueError, "at most 80"),
    (lambda e: e.process(grey_frame(), gyro=np.full((1, 4), -1.0)), ValueError, "nanoseconds"),
    (lambda e: e.image("/no/such/picture.jpg"), FileNotFoundError, "no such image file"),
    (lambda e: e.image(os.path.join(SOURCE, "README.md")), xepo.EngineError,
     "could not read the image"),
])
def test_bad_input_gets_its_own_error(engine, call, error, fragment):
    with pytest.raises(error, match=re.escape(fragment)):
        call(engine)


def test_one_engine_per_process_and_none_after_close(tmp_path):
    engine = xepo.Engine()
    with pytest.raises(xepo.EngineError, match="already open"):
        xepo.Engine()
    engine.close()
    engine.close()
    assert engine.closed
    with pytest.raises(xepo.EngineClosedError):
        engine.process(grey_frame())
    with pytest.raises(xepo.EngineError, match="does not exist"):
        xepo.Engine(models=str(tmp_path / "missing"))
    with xepo.Engine() as again:
        assert not again.closed


def test_a_model_of_another_shape_is_named_in_the_error(tmp_path):
    for name in os.listdir(xepo.DEFAULT_MODELS):
        source = os.path.join(xepo.DEFAULT_MODELS, name)
        if name == "xepo_entrance.qdnn":
            source = os.path.join(xepo.DEFAULT_MODELS, "xepo_albedo.qdnn")
        with open(source, "rb") as stream, open(tmp_path / name, "wb") as copy:
            copy.write(stream.read())
    with pytest.raises(xepo.EngineError, match="xepo_entrance.qdnn has input"):
        xepo.Engine(models=str(tmp_path))


def test_replay_answers_as_the_tool_does(tmp_path, tool):
    session = tmp_path / "session"
    subprocess.run([tool, "synth", os.path.join(SOURCE, "samples", "rocket.jpg"), "--out",
                    str(session), "--frames", "24", "--size", "320x240", "--zoom-at", "12"],
                   check=True, capture_output=True)
    jsonl = tmp_path / "replay.jsonl"
    done = subprocess.run([tool, "replay", str(session), "--jsonl", str(jsonl)], check=True,
                          capture_output=True, text=True)
    assert done.stderr == "", "no progress bar off a terminal: " + done.stderr
    expected = [json.loads(line) for line in jsonl.read_text().splitlines()]

    read = xepo.read_session(str(session))
    assert len(read) == 24 and read.frames[0].width == 320
    assert read.pixels(-1).shape == (320 * 240 * 3 // 2,)
    with pytest.raises(IndexError):
        read.pixels(24)
    replayed = xepo.replay(str(session))
    assert list(replayed["score"]) == pytest.approx([line["result"] for line in expected])
    assert replayed["route"] == [line["route"] for line in expected]
    assert list(replayed["light_cells"]) == [line["light_cells"] for line in expected]


def test_sessions_that_are_missing_or_malformed_are_refused(tmp_path):
    with pytest.raises(FileNotFoundError):
        xepo.read_session(str(tmp_path / "none"))
    (tmp_path / "session.jsonl").write_text("not json\n")
    with pytest.raises(ValueError, match="session.jsonl"):
        xepo.read_session(str(tmp_path))
