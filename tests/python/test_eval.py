"""The Dask evaluation: a 2-worker cluster gives the bytes `xepo sim` gives run by
run, a killed worker loses nothing, two model sets land side by side, and bad
options are refused."""

import os
import shutil
import subprocess
import threading
import time

import pytest

import xepo
from conftest import SOURCE
from xepo import eval as xepo_eval

PHOTOS = [os.path.join(SOURCE, "samples", name) for name in ("rocket.jpg", "coffee.jpg")]
STUDY = ["--start-ev", "-1,1", "--frames", "12", "--size", "160x120"]
STUDY_FILES = ["frames.jsonl", "frames.csv", "runs.csv", "summary.json"]


def study_files(folder):
    return {name: (folder / name).read_bytes() for name in STUDY_FILES}


def sim_files(tool, out, *inputs):
    """What `xepo sim` writes for the study on these inputs and options."""
    subprocess.run([tool, "sim", *inputs, *STUDY, "--out", str(out)], check=True,
                   capture_output=True)
    return study_files(out)


def test_two_workers_and_two_model_sets_give_the_bytes_of_xepo_sim(tmp_path, tool):
    copy = tmp_path / "models"
    shutil.copytree(xepo.DEFAULT_MODELS, copy)
    out = tmp_path / "eval"
    args = [*PHOTOS, *STUDY, "--models", xepo.DEFAULT_MODELS, "--models", str(copy),
            "--out", str(out)]
    assert xepo_eval.main([*args, "--workers", "2"]) == 0
    assert study_files(out / "models-still") == sim_files(tool, tmp_path / "sim", *PHOTOS)
    # The same models must give the same study whatever its label.
    assert study_files(out / "models-2-still") == study_files(out / "models-still")
    report = (out / "report.md").read_text()
    assert "| engine (models) | 4 |" in report and "| engine (models-2) | 4 |" in report
    assert "| grey | 4 |" in report
    assert (out / "report-errors.png").stat().st_size > 0
    # A rerun may replace its own files, never someone else's.
    assert xepo_eval.main([*args, "--workers", "1"]) == 0
    (out / "mine.txt").write_text("keep")
    assert xepo_eval.main(args) == 2
    assert (out / "mine.txt").read_text() == "keep"


def test_a_killed_worker_loses_no_result(tmp_path, tool):
    from distributed import LocalCluster
    inputs = [*PHOTOS, os.path.join(SOURCE, "samples", "astronaut.jpg"), "--policy", "engine,grey"]
    expected = sim_files(tool, tmp_path / "sim", *inputs)
    # As soon as a task has started, the worker that runs it is killed. Tasks
    # are short, so now and then it has already finished and nothing is redone;
    # the study then runs again, up to three times, until a kill has cut a task
    # short.
    for attempt in range(3):
        out = tmp_path / ("eval%d" % attempt)
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster:
            status = []
            study = threading.Thread(target=lambda: status.append(xepo_eval.main(
                [*inputs, *STUDY, "--out", str(out), "--scheduler", cluster.scheduler_address])))
            study.start()
            marks = out / xepo_eval.ATTEMPTS
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline and not (marks.is_dir() and os.listdir(marks)):
                time.sleep(0.01)
            busy = int(sorted(os.listdir(marks))[0].split(".")[1])
            os.kill(busy, 9)
            study.join(timeout=300)
        assert status == [0]
        assert study_files(out / "models-still") == expected
        retried = xepo_eval.count_retries(str(out))
        if retried:
            break
    assert retried >= 1
    assert "%d task(s) ran more than once" % retried in (out / "report.md").read_text()


@pytest.mark.parametrize("extra", [["--policy", "best"], ["--start-ev", "1,x"],
                                   ["--motion", "spin"], ["--workers", "0"],
                                   ["--models", "/no/such/models"],
                                   ["/no/such/photo.jpg"]])  # neither photo nor session
def test_bad_options_are_usage_errors(tmp_path, extra):
    assert xepo_eval.main([PHOTOS[0], *extra, "--out", str(tmp_path / "eval")]) == 2
    assert not (tmp_path / "eval").exists()
