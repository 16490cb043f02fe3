"""Shared fixtures of the Python module's tests: the package from the build
tree, the built xepo tool, the sample photographs and one engine per test."""

import os
import sys

import pytest

BUILD = os.environ.get("XEPO_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..",
                                                      "build", "host"))
sys.path.insert(0, os.path.join(BUILD, "python"))

import xepo  # noqa: E402

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SAMPLES = sorted(os.path.join(SOURCE, "samples", name)
                 for name in os.listdir(os.path.join(SOURCE, "samples")) if name.endswith(".jpg"))


@pytest.fixture
def engine():
    with xepo.Engine() as opened:
        yield opened


@pytest.fixture
def tool():
    return os.path.join(BUILD, "bin", "xepo")
