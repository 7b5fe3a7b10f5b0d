"""The benchmark's batched peers play legal games: the NumPy pick from a legal-action mask, the
search for the mask in what a peer returns, and EnvPool's games matched to their actions."""

import numpy as np
import pytest

from bench.common import Unavailable
from bench.vector_peers import EnvPoolChess, find_mask, random_legal


def test_random_legal_draws_each_legal_action_evenly_and_nothing_else():
    mask = np.zeros((4, 4672), dtype=bool)
    mask[0, [5, 700, 4671]] = True  # the last action number
    mask[1, 0] = True  # one legal action
    mask[3, 1000:1005] = True  # row 2 has none: a finished game whose next step restarts it
    rng = np.random.default_rng(0)
    draws = np.array([random_legal(np, rng, mask) for _ in range(6000)])
    for row, legal in ((0, [5, 700, 4671]), (1, [0]), (2, [0]), (3, list(range(1000, 1005)))):
        values, counts = np.unique(draws[:, row], return_counts=True)
        assert values.tolist() == legal
        assert counts.min() > 0.8 * len(draws) / len(legal)


def test_random_legal_with_no_legal_action_anywhere():
    mask = np.zeros((3, 4672), dtype=bool)
    assert random_legal(np, np.random.default_rng(0), mask).tolist() == [0, 0, 0]


def test_find_mask_reads_the_observation_dict_before_the_info():
    mask = np.zeros((2, 4672), dtype=bool)
    assert find_mask(np, {"action_mask": mask}, {}, 2) == ("observation", "action_mask")
    assert find_mask(np, mask, {"legal_action_mask": mask}, 2) == ("info", "legal_action_mask")
    with pytest.raises(Unavailable, match="no \\(3, 4672\\) legal-action mask"):
        find_mask(np, mask, {"legal_action_mask": mask}, 3)
    with pytest.raises(Unavailable, match="int32"):
        find_mask(np, {}, {"legal_action_mask": mask.astype(np.int32)}, 2)


def test_envpool_games_get_their_own_actions():
    # EnvPool hands the games of a step back in the order its threads finish them. An action
    # sent to the wrong game is illegal there, and Pgx's rules end that game with a loss for
    # the side that moved, which a legal move can never bring.
    envpool = pytest.importorskip("envpool", reason="EnvPool is not installed")
    pool = EnvPoolChess(envpool, np, 16, 2)
    rng = np.random.default_rng(0)
    ended = 0
    for _ in range(300):
        movers = dict(zip(pool.ids.tolist(), pool.info["current_player"].tolist(), strict=True))
        pool.step(random_legal(np, rng, pool.mask))
        players = pool.info["players"]
        for game in pool.ids[pool.terminated].tolist():
            mover = (players["env_id"] == game) & (players["id"] == movers[game])
            assert pool.rewards[mover].tolist() != [-1.0]
            ended += 1
    assert ended > 0
