"""Shared fixtures for the tests of the ortolan module."""

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
