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


def test_run_with_an_evaluator_stops_on_sigint_and_keeps_the_finished_simulations():
    env = VectorOrtolan(64, threads=2, seed=2)
    env.reset()
    simulations = 2000
    # One leaf a tree a batch: every row is a simulation of its own (or a root's first look).
    search = Search(env, simulations=simulations, leaves_per_batch=1, seed=3)
    rows = []

    def counted(observations, masks):
        rows.append(len(observations))
        return uniform(observations, masks)

    assert interrupted(lambda: search.run(counted)) < 0.5
    before = sum(rows)
    result = search.run(counted)
    assert result.visit_counts.sum(axis=1).tolist() == [simulations] * 64
    assert before > 0
    # Nothing was done twice but the batch the signal cut short inside the evaluator, which the
    # search took back: one row a tree.
    assert sum(rows) <= 64 * (simulations + 1) + 64


def test_run_with_rollouts_stops_on_sigint_and_the_search_goes_on():
    env = VectorOrtolan(16, threads=2, seed=4)
    env.reset()
    search = Search(env, simulations=3000, seed=5)
    assert interrupted(lambda: search.run("rollout")) < 0.5
    assert search.run("rollout").visit_counts.sum(axis=1).tolist() == [3000] * 16
