"""Shared fixtures for the tests of the ortolan module."""

import os
import subprocess
import sys
from pathlib import Path

# The batched search and environment keep the cores busy with threads of their own; OpenBLAS
# threads started for the small matrix products of the example network only compete with them
# (spinning between calls, they slow a loaded machine by an order of magnitude). Set before
# anything imports NumPy.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import pytest
from hypothesis import settings

import ortolan

# Property tests check values, never speed.
settings.register_profile("ortolan", deadline=None)
settings.load_profile("ortolan")


@pytest.fixture
def env():
    """An environment at the start of a game."""
    environment = ortolan.Ortolan()
    environment.reset()
    return environment


@pytest.fixture(scope="session")
def run_mypy(tmp_path_factory):
    """Runs `python -m TOOL ARGS...` (mypy or mypy.stubtest) in a directory and returns its exit
    code and output. The mypy runs of a session share one cache, so the standard library's and
    NumPy's stubs are analysed once rather than once per run; every run reads mypy.ini here."""
    cache = tmp_path_factory.mktemp("mypy-cache")
    config = str(Path(__file__).with_name("mypy.ini"))

    def run(tool, *args, cwd):
        if tool == "mypy":
            extra = ["--config-file", config, "--cache-dir", str(cache)]
        else:
            extra = ["--mypy-config-file", config]
        result = subprocess.run(
            [sys.executable, "-m", tool, *extra, *args],
            cwd=cwd,
            capture_output=True,
            text=True,
            check=False,
        )
        return result.returncode, result.stdout + result.stderr

    return run
