"""Shared fixtures for the tests of the ortolan module."""

import os

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
