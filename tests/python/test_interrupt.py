"""Ctrl-C during the long calls of ortolan_vector: SIGINT from a timer raises KeyboardInterrupt
within half a second, and the environment and the search stay usable."""

import os
import signal
import threading
import time

import numpy as np
import pytest

from ortolan_vector import Search, VectorOrtolan


def interrupted(call, after=0.2):
    """Runs call() with SIGINT sent to the process `after` seconds in; returns the seconds from
    the signal to the KeyboardInterrupt."""
    sent = []

    def send():
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(after, send)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            call()
        return time.perf_counter() - sent[0]
    finally:
        timer.cancel()


def uniform(observations, masks):
    return np.ones((len(observations), 4672), np.float32), np.zeros(len(observations), np.float32)


def test_roll_out_stops_on_sigint_and_leaves_every_slot_playable():
    env = VectorOrtolan(40000, threads=2, seed=1)
    env.reset()
    assert interrupted(env.roll_out) < 0.5
    # Slots stand where their playouts stopped or where they were; every one steps on.
    actions, counts = env.legal_actions()
    picks = np.where(counts > 0, actions[:, 0], -1)
    env.step(picks)
    assert env.roll_out().shape == (40000,)


def test_run_with_an_evaluator_stops_on_sigint_and_the_search_goes_on():
    env = VectorOrtolan(64, threads=2, seed=2)
    env.reset()
    search = Search(env, simulations=1_000_000, leaves_per_batch=8, seed=3)
    assert interrupted(lambda: search.run(uniform)) < 0.5
    search.advance(env.legal_actions()[0][:, 0])  # the roots were expanded: they move on
