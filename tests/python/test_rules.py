"""What Python sees of the rule sets: FEN resets checked under every rule set, loaded positions
that have already ended, snapshots that keep their rules, and the search's rules."""

from pathlib import Path

import chess
import numpy as np
import pytest

import ortolan
import ortolan_pettingzoo
from ortolan_notation import action_to_san, to_fen, uci_to_action
from ortolan_vector import RuledState, Search, VectorOrtolan

CASES = [
    tuple(part.strip() for part in line.rsplit("|", 1))
    for line in (Path(__file__).parent.parent / "data" / "fen_validation.txt")
    .read_text()
    .splitlines()
    if line.strip() and not line.startswith("#")
]
RULES = ["standard", "fide", "ortolan"]


def python_chess_accepts(fen):
    try:
        return chess.Board(fen).is_valid()
    except ValueError:
        return False


def action(env, slot, uci):
    """The action of a move in UCI text in a slot's position (notation reads either kind of
    snapshot)."""
    return uci_to_action(env.save_state(slot), uci)


@pytest.mark.parametrize("rules", RULES)
@pytest.mark.parametrize(("fen", "reason"), CASES)
def test_a_fen_reset_is_checked_as_python_chess_checks_it(rules, fen, reason):
    assert python_chess_accepts(fen) == (reason == "ok")
    env = VectorOrtolan(2, threads=1, dtype=np.int32, rules=rules)
    env.reset()
    env.step([action(env, 0, "e2e4"), action(env, 1, "d2d4")])
    before = [env.save_state(i) for i in range(2)]
    if reason == "ok":
        env.reset(options={"fens": [None, fen]})
        return
    with pytest.raises(ValueError, match=r"fens\[1\]: " + reason):
        env.reset(options={"fens": [None, fen]})
    after = [env.save_state(i) for i in range(2)]
    for b, a in zip(before, after, strict=True):
        b, a = getattr(b, "state", b), getattr(a, "state", a)
        assert repr(b) == repr(a)
        assert b.bitboards.tolist() == a.bitboards.tolist()


@pytest.mark.parametrize(
    ("rules", "fen", "reward"),
    [
        ("ortolan", "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", 1),  # mated
        ("standard", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 0),  # stalemate
        ("standard", "4k3/8/8/8/8/8/8/4KN2 w - - 0 1", 0),  # dead
        ("fide", "8/8/8/4k3/8/8/8/R3K3 w - - 150 90", 0),  # 150 half-moves
    ],
)
@pytest.mark.parametrize("mode", ["next_step", "same_step", "disabled"])
def test_a_loaded_game_that_has_ended_reports_it_at_its_next_step(rules, fen, reward, mode):
    env = VectorOrtolan(1, threads=1, dtype=np.int32, autoreset_mode=mode, rules=rules)
    observation, _ = env.reset(options={"fens": [fen]})
    legal = chess.Board(fen).legal_moves.count()
    assert observation["action_mask"].sum() == legal
    _, rewards, terminated, truncated, info = env.step([12345])
    assert (rewards[0], terminated[0], truncated[0]) == (reward, True, False)
    if mode == "next_step":
        observation, *_ = env.step([0])  # the reset, whatever the action
        assert observation["action_mask"].sum() == 20
    elif mode == "same_step":
        assert info["_final_obs"][0]


def test_the_default_rules_are_standard_and_a_fen_counts_its_clocks():
    env = VectorOrtolan(1, threads=1, dtype=np.int32)
    assert env.rules == "standard"
    observation, _ = env.reset(options={"fens": ["4k3/8/8/8/8/8/8/4K2R b K - 37 21"]})
    planes = observation["observation"][0]
    assert planes[118].max() == planes[118].min() == 37
    assert planes[113].max() == planes[113].min() == 41
    assert to_fen(env.save_state(0)) == "4k3/8/8/8/8/8/8/4K2R b K - 37 21"
    assert action_to_san(env.save_state(0), action(env, 0, "e8d7")) == "Kd7"


@pytest.mark.parametrize("rules", ["standard", "fide"])
def test_snapshots_keep_their_rules(rules):
    env = VectorOrtolan(2, threads=1, rules=rules)
    other = VectorOrtolan(2, threads=1, rules="fide" if rules == "standard" else "standard")
    plain = VectorOrtolan(2, threads=1, rules="ortolan")
    for e in (env, other, plain):
        e.reset()
    state = env.save_state(0)
    assert isinstance(state, RuledState)
    assert state.rules == rules
    assert isinstance(state.state, ortolan.State)
    assert all(isinstance(s, RuledState) for s in env.save_states())
    env.restore_state(1, state)
    with pytest.raises(ValueError, match="saved under"):
        other.restore_state(0, state)
    with pytest.raises(ValueError, match="saved under"):
        plain.restore_states([state, state])
    with pytest.raises(ValueError, match=r"bare ortolan\.State"):
        env.restore_state(0, plain.save_state(0))
    with pytest.raises(ValueError, match=r"bare ortolan\.State"):
        Search([plain.save_state(0)], simulations=2, rules=rules)
    with pytest.raises(ValueError, match=r"under '(standard|fide)' rules"):
        Search([state], simulations=2, rules="ortolan")
    assert Search([state], simulations=2).rules == rules
    assert isinstance(plain.save_state(0), ortolan.State)


def test_the_search_values_a_forced_third_occurrence_as_a_draw_only_where_it_ends_the_game():
    # Black's king shuttles a7-a8 while White's shuttles c8-d8; at the root Black's only move,
    # Ka7, brings the game's first position back a third time. The evaluator gives uniform
    # priors and the value 0.9 to every position for its side to move.
    def evaluate(observations, masks):
        return masks.astype(np.float32), np.full(len(observations), 0.9, np.float32)

    values = {}
    for rules in ("standard", "fide"):
        env = VectorOrtolan(1, threads=1, autoreset_mode="disabled", rules=rules)
        env.reset(options={"fens": ["2K5/k7/8/8/8/8/8/7R w - - 0 1"]})
        for uci in ["c8d8", "a7a8", "d8c8", "a8a7", "c8d8", "a7a8", "d8c8"]:
            env.step([action(env, 0, uci)])
        assert env.legal_actions()[1][0] == 1
        result = Search(env, simulations=100, seed=1).run(evaluate)
        values[rules] = float(result.root_values[0])
        *_, terminated, _, _ = env.step([action(env, 0, "a8a7")])
        assert terminated[0] == (rules == "standard")
    assert values["standard"] == 0.0
    # Under "fide" the game goes on after Ka7 and the evaluator's values come back up.
    assert abs(values["fide"]) > 0.1


@pytest.mark.parametrize(
    ("rules", "ending_ply"), [("standard", 9), ("fide", None), ("ortolan", 10)]
)
def test_the_pettingzoo_adapter_ends_games_by_its_rules(rules, ending_ply):
    # After 1. e4 and knights out and back chess counts the position after 1. e4 a third time
    # at ply 9; Ortolan's key keeps that position's en passant square, and ends at ply 10.
    zoo = ortolan_pettingzoo.raw_env(rules=rules)
    zoo.reset()
    moves = ["e2e4", *["g8f6", "g1f3", "f6g8", "f3g1"] * 3]
    ended = None
    for ply, uci in enumerate(moves, start=1):
        zoo.step(action(zoo.game, 0, uci))
        if zoo.terminations["player_0"]:
            ended = ply
            break
    assert ended == ending_ply
