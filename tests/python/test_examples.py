"""The example programs: the UCT player, the demo and the Ray self-play script."""

import subprocess
import sys
from pathlib import Path

import pytest
from mcts import UCTPlayer, legal_actions
from support import BLACK_MATES_IN_ONE, WHITE_MATES_IN_ONE, state_fields

import ortolan
from ortolan_notation import action_to_lan

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
    assert out.startswith("UCT search (5 simulations per move) against a random player\n")
    assert "Game 1: White search, Black random" in out
    assert "Game 2: White random, Black search" in out
    assert out.count("Result: ") == 2
    # Both boards of render, once per game.
    assert out.count("\n     a  b  c  d  e  f  g  h\n") == 2
    assert out.count("\n       a   b   c   d   e   f   g   h\n") == 2
    assert "1. " in out
    assert "Search player: " in out


def test_demo_refuses_nonsense_options():
    result = run_example("demo.py", "--games", "0")
    assert result.returncode == 2
    assert "must be at least 1" in result.stderr


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
    assert lines[-1].startswith("2 games, 26 positions with observations (119, 64), from 2 actors")
