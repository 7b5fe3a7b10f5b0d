"""What the Python modules share: one seed range, a closed environment refusing every call,
one exception type per kind of fault, and help texts of their own."""

import importlib
import pydoc

import numpy as np
import pytest

from ortolan_vector import Search, VectorOrtolan

E4 = 8 * 64 + 52


def started(num_envs=2):
    env = VectorOrtolan(num_envs, threads=1, seed=0, rules="ortolan")
    env.reset()
    return env


@pytest.mark.parametrize("seed", [-1, 2**64, 2**70])
def test_both_classes_take_seeds_in_0_to_2_to_the_64_alone(seed):
    env = started()
    for make in (
        lambda: VectorOrtolan(2, seed=seed, rules="ortolan"),
        lambda: env.reset(seed=seed),
        lambda: Search(env, simulations=1, seed=seed, rules="ortolan"),
    ):
        with pytest.raises(ValueError, match="seed"):
            make()
    for make in (
        lambda: VectorOrtolan(2, seed=1.0, rules="ortolan"),
        lambda: Search(env, simulations=1, seed="1", rules="ortolan"),
    ):
        with pytest.raises(TypeError, match="seed"):
            make()
    VectorOrtolan(2, seed=2**64 - 1, rules="ortolan").reset(seed=0)
    Search(env, simulations=1, seed=2**64 - 1, rules="ortolan")


def test_a_closed_environment_refuses_every_call_but_close():
    env = started()
    state = env.save_state(0)
    env.close()
    calls = [
        env.reset,
        lambda: env.step([E4, E4]),
        env.legal_actions,
        env.roll_out,
        lambda: env.save_state(0),
        env.save_states,
        lambda: env.restore_state(0, state),
        lambda: env.restore_states([state, state]),
        lambda: Search(env, simulations=1, rules="ortolan"),
    ]
    for call in calls:
        with pytest.raises(RuntimeError, match="closed"):
            call()
    env.close()
    assert env.closed


@pytest.mark.parametrize(
    ("actions", "error"),
    [
        (np.array([1.0, 2.0]), TypeError),
        (["e2e4", "e2e4"], TypeError),
        (np.array([True, False]), TypeError),
        ([E4, E4, E4], ValueError),
        ([E4, 2**31], ValueError),
    ],
)
def test_environment_and_search_refuse_the_same_actions_alike(actions, error):
    env = started()
    search = Search(env, simulations=1, seed=0, rules="ortolan")
    with pytest.raises(error, match="actions"):
        env.step(actions)
    with pytest.raises(error, match="actions"):
        search.advance(actions)


@pytest.mark.parametrize(
    "name", ["ortolan", "ortolan_vector", "ortolan_notation", "ortolan_pettingzoo"]
)
def test_help_shows_each_modules_own_documentation(name):
    text = pydoc.render_doc(importlib.import_module(name), renderer=pydoc.plaintext)
    assert "An array object represents" not in text  # NumPy's ndarray documentation
