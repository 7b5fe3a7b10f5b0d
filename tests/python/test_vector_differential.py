"""The batched environment against one ortolan.Ortolan per slot.

Each autoreset mode plays thousands of random plies in lockstep with the reference of
vector_support.py, starting slots from the FEN texts of tests/data/vector_fens.txt (mates in
one, endgames that end soon, en passant, promotions, castling), so that mates, stalemates,
draws and truncations all happen. Every step compares, for int32 observations on one and on two
threads, uint8 and float32 observations: observations, masks, rewards, terminations,
truncations, the side to move and the legal action lists, and in same_step mode the final
observations; snapshots of every slot are compared field for field at intervals.
ORTOLAN_VECTOR_STEPS sets the number of steps per mode.
"""

import collections
import os
import random

import numpy as np
import pytest
from vector_support import Reference, data_fens, snapshot_fields

from ortolan_vector import VectorOrtolan

STEPS = int(os.environ.get("ORTOLAN_VECTOR_STEPS", "600"))
NUM_ENVS = 8

# Each batched environment under test: observation dtype and number of threads.
VARIANTS = {
    "int32, 1 thread": (np.int32, 1),
    "int32, 2 threads": (np.int32, 2),
    "uint8, 2 threads": (np.uint8, 2),
    "float32, 3 threads": (np.float32, 3),
}


def as_dtype(planes, dtype):
    """What a batch of the given dtype shows for exact int32 planes."""
    if dtype == np.uint8:
        return np.clip(planes, 0, 255).astype(np.uint8)
    return planes.astype(dtype)


def assert_observed(name, dtype, observation, expected_planes, expected_mask):
    assert observation["observation"].dtype == dtype, name
    np.testing.assert_array_equal(
        observation["observation"], as_dtype(expected_planes, dtype), err_msg=name
    )
    np.testing.assert_array_equal(observation["action_mask"], expected_mask, err_msg=name)


def pick_actions(rng, reference):
    """A random legal action per slot; for a slot about to be reset, anything at all."""
    actions = []
    for i, ended in enumerate(reference.ended):
        if reference.mode != "disabled" and ended:
            actions.append(rng.choice([-1, 0, 4671, 2**31 - 1, -(2**31)]))
        else:
            actions.append(int(rng.choice(np.flatnonzero(reference.mask[i]))))
    return actions


@pytest.mark.parametrize(
    ("mode", "max_plies"), [("next_step", None), ("same_step", 90), ("disabled", 120)]
)
def test_every_slot_plays_as_an_ortolan_game(mode, max_plies):
    rng = random.Random(mode)
    fens = data_fens()
    reference = Reference(NUM_ENVS, mode, max_plies)
    envs = {
        name: VectorOrtolan(
            NUM_ENVS,
            threads=threads,
            dtype=dtype,
            autoreset_mode=mode,
            max_plies=max_plies,
            seed=3,
            rules="ortolan",
        )
        for name, (dtype, threads) in VARIANTS.items()
    }
    start = [fens[i % len(fens)] if i % 4 else None for i in range(NUM_ENVS)]
    expected_planes, expected_mask = reference.reset(fens=start)
    for name, env in envs.items():
        observation, info = env.reset(options={"fens": start})
        assert_observed(name, VARIANTS[name][0], observation, expected_planes, expected_mask)
        np.testing.assert_array_equal(info["to_play"], expected_planes[:, 112, 0, 0])

    endings = collections.Counter()
    for step in range(STEPS):
        listed, counts = envs["int32, 2 threads"].legal_actions()
        for i in range(NUM_ENVS):
            legal = np.flatnonzero(reference.mask[i])
            assert counts[i] == len(legal)
            assert listed[i].tolist() == [*legal, *[-1] * (listed.shape[1] - len(legal))]
        actions = pick_actions(rng, reference)
        planes, mask, rewards, terminated, truncated, to_play, final = reference.step(actions)
        endings.update(
            "mate" if r else "truncation" if tr else "draw"
            for r, te, tr in zip(rewards, terminated, truncated, strict=True)
            if te or tr
        )
        for name, env in envs.items():
            # Lists, int64 and int32 arrays are all accepted.
            given = [actions, np.array(actions, dtype=np.int64), np.array(actions, np.int32)]
            observation, r, te, tr, info = env.step(given[step % 3])
            assert_observed(name, VARIANTS[name][0], observation, planes, mask)
            assert r.dtype == np.float32
            np.testing.assert_array_equal(r, rewards, err_msg=name)
            np.testing.assert_array_equal(te, terminated, err_msg=name)
            np.testing.assert_array_equal(tr, truncated, err_msg=name)
            np.testing.assert_array_equal(info["to_play"], to_play, err_msg=name)
            if mode == "same_step":
                ended = terminated | truncated
                if ended.any():
                    np.testing.assert_array_equal(info["_final_obs"], ended)
                    for i, (final_planes, final_mask) in final.items():
                        assert_observed(
                            name, VARIANTS[name][0], info["final_obs"][i], final_planes, final_mask
                        )
                else:
                    assert "final_obs" not in info
        if mode == "disabled":
            # Games with no move left or cut off start again, from FEN text for some slots;
            # after a draw, every other slot plays on.
            restart = np.array(
                [
                    (te or tr) and (not mask[i].any() or tr or rng.random() < 0.5)
                    for i, (te, tr) in enumerate(zip(terminated, truncated, strict=True))
                ]
            )
            if restart.any():
                chosen = [rng.choice([None, *fens]) for _ in range(NUM_ENVS)]
                expected_planes, expected_mask = reference.reset(restart, chosen)
                for name, env in envs.items():
                    observation, _ = env.reset(options={"reset_mask": restart, "fens": chosen})
                    assert_observed(
                        name, VARIANTS[name][0], observation, expected_planes, expected_mask
                    )
        if step % 97 == 0:
            expected = [snapshot_fields(game.save_state()) for game in reference.games]
            for name, env in envs.items():
                assert [snapshot_fields(s) for s in env.save_states()] == expected, name

    assert endings["mate"] > 0, endings
    assert endings["draw"] > 0, endings
    if max_plies is not None:
        assert endings["truncation"] > 0, endings
