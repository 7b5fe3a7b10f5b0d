"""The example programs: the UCT player, the demo, AlphaZero-style self-play and the Ray
self-play script."""

import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
from alphazero import TinyNetwork, self_play
from demo import SearchPlayer
from mcts import UCTPlayer, legal_actions
from support import BLACK_MATES_IN_ONE, WHITE_MATES_IN_ONE, state_fields

import ortolan
from ortolan_notation import action_to_lan
from ortolan_vector import VectorOrtolan

DATA = Path(__file__).parent.parent / "data"

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def run_example(name, *args, timeout=300):
    return subprocess.run(
        [sys.executable, str(EXAMPLES / name), *args],
        capture_output=True,
        text=True,
        timeout=timeout,
        check=False,
    )


@pytest.mark.parametrize(("fen", "reward"), [(WHITE_MATES_IN_ONE, 1), (BLACK_MATES_IN_ONE, -1)])
def test_uct_player_mates_in_one_for_either_side(fen, reward):
    env = ortolan.Ortolan()
    env.parse_fen(fen)
    env.get_actions()
    action = UCTPlayer(simulations=50, seed=1).choose(env)
    assert env.step(action)[2:] == (reward, 1)


def test_uct_player_takes_the_mate_among_many_moves():
    # Ra1-a8 mates; the rook and king have about twenty other moves.
    env = ortolan.Ortolan()
    env.parse_fen("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1")
    assert len(legal_actions(env)) > 15
    action = UCTPlayer(simulations=300, seed=3).choose(env)
    assert action_to_lan(env.save_state(), action) == "Ra1-a8"


def test_uct_player_leaves_the_game_as_it_was(env):
    for action in (8 * 64 + 52, 524):  # e2-e4, e7-e5
        env.step(action)
    before = state_fields(env.save_state())
    key = env.hash_state()
    UCTPlayer(simulations=30, seed=0).choose(env)
    after = state_fields(env.save_state())
    assert env.hash_state() == key
    # Only the counter of steps since the environment was built moves on.
    before.pop("total_move_count")
    assert after.pop("total_move_count") > 2
    assert after == before


def test_uct_player_refuses_a_finished_game():
    env = ortolan.Ortolan()
    env.parse_fen("k7/1Q6/1K6/8/8/8/8/8 b - - 0 1")  # Black is mated
    with pytest.raises(ValueError, match="no legal move"):
        UCTPlayer(simulations=5).choose(env)


def test_demo_plays_its_games_to_the_end():
    result = run_example("demo.py", "--games", "2", "--simulations", "5", "--max-plies", "40")
    assert result.returncode == 0, result.stderr
    out = result.stdout
    assert out.startswith(
        "Tree search (5 simulations per move, random playouts) against a random player\n"
    )
    assert "Game 1: White search, Black random" in out
    assert "Game 2: White random, Black search" in out
    assert out.count("Result: ") == 2
    # Both boards of render, once per game.
    assert out.count("\n     a  b  c  d  e  f  g  h\n") == 2
    assert out.count("\n       a   b   c   d   e   f   g   h\n") == 2
    assert "1. " in out
    assert "Search player: " in out


def test_demo_search_player_mates_in_one_and_follows_the_game():
    env = ortolan.Ortolan()
    env.parse_fen("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1")  # Ra1-a8 mates
    player = SearchPlayer(simulations=300, seed=0)
    player.new_game(env)
    assert action_to_lan(env.save_state(), player.choose()) == "Ra1-a8"
    # Its tree moves on with the game, so its choices stay legal in the game as it goes.
    env.reset()
    player.new_game(env)
    for _ in range(4):
        action = player.choose()
        env.step(action)
        player.observe(action)
        reply = legal_actions(env)[-1]
        env.step(reply)
        player.observe(reply)
    assert player.choose() in legal_actions(env)


def test_demo_refuses_nonsense_options():
    result = run_example("demo.py", "--games", "0")
    assert result.returncode == 2
    assert "must be at least 1" in result.stderr


def test_self_play_tuples_hold_each_position_its_visits_and_its_outcome():
    records = self_play(TinyNetwork(), envs=3, games=4, simulations=10, max_plies=16, seed=1)
    assert len(records) == 4
    for record in records:
        plies = len(record.actions)
        assert 0 < plies <= 16
        assert record.observations.shape == (plies, 119, 8, 8)
        assert record.observations.dtype == np.uint8
        np.testing.assert_allclose(record.policies.sum(axis=1), 1.0, rtol=1e-6)
        # Replaying the actions in a fresh game of the same rules gives the observations, and
        # each action had visits.
        env = VectorOrtolan(1, threads=1, autoreset_mode="disabled")
        observation, _ = env.reset()
        for ply, action in enumerate(record.actions):
            np.testing.assert_array_equal(record.observations[ply], observation["observation"][0])
            assert record.policies[ply, action] > 0
            observation, rewards, terminated, _, _ = env.step([action])
        reward, done = int(rewards[0]), bool(terminated[0])
        assert record.result == (reward if done else None)
        # Outcomes alternate in sign with the side to move, 0 for a draw; a cut-off game takes
        # the search's root values, 0 under the untrained network's zero value head.
        sides = np.arange(plies) % 2
        white = reward if done else 0
        np.testing.assert_array_equal(record.values, np.where(sides == 0, white, -white))


def test_tiny_network_learns_its_targets():
    rng = np.random.default_rng(0)
    observations = rng.integers(0, 2, (16, 119, 8, 8), dtype=np.uint8)
    policies = np.zeros((16, 4672), np.float32)
    policies[np.arange(16), rng.integers(0, 4672, 16)] = 1.0
    values = rng.choice([-1.0, 1.0], 16).astype(np.float32)
    network = TinyNetwork(seed=1)
    losses = [network.train_step(observations, policies, values) for _ in range(40)]
    assert losses[-1] < 0.5 * losses[0]
    priors, predicted = network(observations, policies > 0)
    assert (priors.argmax(axis=1) == policies.argmax(axis=1)).all()
    assert np.isfinite(predicted).all()


def test_alphazero_example_writes_its_tuples(tmp_path):
    out = tmp_path / "tuples.npz"
    result = run_example(
        "alphazero.py",
        *("--envs", "2", "--games", "2", "--generations", "1", "--simulations", "8"),
        *("--max-plies", "6", "--out", str(out)),
    )
    assert result.returncode == 0, result.stderr
    assert "Generation 1: 2 games (0 White wins, 0 Black wins, 0 draws, 2 cut off)" in result.stdout
    with np.load(out) as tuples:
        assert tuples["observations"].shape == (12, 119, 8, 8)
        assert tuples["policies"].shape == (12, 4672)
        np.testing.assert_array_equal(tuples["values"], np.zeros(12, np.float32))


@pytest.mark.slow
def test_ray_self_play_with_two_actors():
    result = run_example(
        "ray_selfplay.py",
        "--actors",
        "2",
        "--games",
        "2",
        "--simulations",
        "4",
        "--max-plies",
        "12",
    )
    assert result.returncode == 0, result.stderr[-3000:]
    lines = result.stdout.splitlines()
    assert "Game 1: unfinished after 12 plies" in lines
    assert "Game 2: unfinished after 12 plies" in lines
    assert lines[-1].startswith(
        "2 games, 24 training tuples with observations (119, 8, 8), from 2 actors"
    )


def test_ray_pgn_parts_share_the_file_out(tmp_path):
    from ray_pgn import read_part

    path = tmp_path / "games.pgn"
    path.write_bytes((DATA / "pgn" / "tricky.pgn").read_bytes() * 3)
    whole = read_part(str(path), 0, 1, 16, 0)
    parts = [read_part(str(path), k, 2, 16, 0) for k in range(2)]
    assert whole["games"] > 0
    assert all(p["games"] for p in parts)
    assert sum(p["games"] for p in parts) == whole["games"]
    assert sum(p["positions"] for p in parts) == whole["positions"]
    assert sum(p["skipped"] for p in parts) == whole["skipped"] > 0
    assert whole["shapes"]["observation"] == (16, 119, 8, 8)


@pytest.mark.slow
def test_ray_pgn_with_two_actors(tmp_path):
    path = tmp_path / "games.pgn"
    path.write_bytes((DATA / "pgn" / "tricky.pgn").read_bytes() * 3)
    result = run_example("ray_pgn.py", str(path), "--actors", "2", "--batch-size", "8")
    assert result.returncode == 0, result.stderr[-3000:]
    assert result.stdout.count(" games skipped") == 2
