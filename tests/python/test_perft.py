"""Whole games through the Python methods: move-path counts and random games checked against
python-chess as an independent reference."""

import random

import chess
import pytest
from support import (
    BLACK_MATES_IN_ONE,
    KIWIPETE_FEN,
    WHITE_MATES_IN_ONE,
    data_positions,
    legal_actions,
    state_fields,
)

import ortolan


def perft(env, depth):
    """Leaf count of the move tree: every legal action of get_actions() is played with step()
    and taken back with restore_state()."""
    actions = legal_actions(env.get_actions())
    if depth == 1:
        saved = env.save_state()
        for action in actions:
            env.step(action)
            env.restore_state(saved)
        return len(actions)
    saved = env.save_state()
    nodes = 0
    for action in actions:
        env.step(action)
        nodes += perft(env, depth - 1)
        env.restore_state(saved)
    return nodes


def environment_without_counter(env):
    fields = state_fields(env.save_state())
    del fields["total_move_count"]
    return fields


def perft_cases():
    """Every depth of the shared positions with at most 20,000 paths, and Kiwipete to depth 3;
    those above 3,000 paths are slow through the Python methods."""
    for name, fen, counts in data_positions("perft"):
        for depth, nodes in enumerate(counts, start=1):
            if nodes <= 20_000 or (name == "kiwipete" and depth == 3):
                marks = [pytest.mark.slow] if nodes > 3000 else []
                yield pytest.param(fen, depth, nodes, marks=marks, id=f"{name}-{depth}")


@pytest.mark.parametrize(("fen", "depth", "nodes"), list(perft_cases()))
def test_perft_of_shared_positions(fen, depth, nodes):
    env = ortolan.Ortolan()
    env.reset()
    env.parse_fen(fen)
    env.get_actions()  # parse_fen leaves the action map of the position before
    before = environment_without_counter(env)
    assert perft(env, depth) == nodes
    assert environment_without_counter(env) == before


def test_perft_from_a_reset_game_leaves_it_as_it_was(env):
    before = environment_without_counter(env)
    assert perft(env, 2) == 400
    assert environment_without_counter(env) == before


@pytest.mark.parametrize(("name", "fen", "key"), [r for r in data_positions("key")])
def test_keys_of_shared_positions(name, fen, key):
    env = ortolan.Ortolan()
    env.parse_fen(fen)
    assert env.hash_state() == key[0], name


# --- random games against python-chess ---------------------------------------------------------


def chess_square(square):
    """python-chess square of an engine square (a8 = 0, h1 = 63)."""
    return chess.square(square % 8, 7 - square // 8)


def chess_move(move):
    """python-chess move of a packed engine Move (source, target, promoted piece)."""
    promoted = (move >> 16) & 0xF
    return chess.Move(
        chess_square(move & 0x3F),
        chess_square((move >> 6) & 0x3F),
        promotion=promoted % 6 + 1 if promoted else None,
    )


def engine_moves(env):
    """Action number to python-chess move for the current position."""
    mask = env.get_actions()
    move_index = env.save_state().move_index
    assert sorted(move_index) == legal_actions(mask)
    return {action: chess_move(move) for action, move in move_index.items()}


# After 1. e4 d5 2. e5 f5: exf6 en passant is legal.
EN_PASSANT_FEN = "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3"
GAME_STARTS = {"start": chess.STARTING_FEN, "kiwipete": KIWIPETE_FEN, "en-passant": EN_PASSANT_FEN}


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("start", list(GAME_STARTS))
def test_random_game_agrees_with_python_chess(start, seed):
    rng = random.Random(seed)
    env = ortolan.Ortolan()
    env.reset()
    board = chess.Board(GAME_STARTS[start])
    if start != "start":
        env.parse_fen(GAME_STARTS[start])
    for _ in range(300):
        moves = engine_moves(env)
        assert sorted(moves.values(), key=str) == sorted(board.legal_moves, key=str), board.fen()
        action = rng.choice(sorted(moves))
        side, observation, reward, done = env.step(action)
        board.push(moves[action])
        assert side == (0 if board.turn == chess.WHITE else 1)
        assert len(observation) == 119
        assert observation[112] == [side] * 64
        if board.is_checkmate():
            assert (reward, done) == (1 if board.turn == chess.BLACK else -1, 1), board.fen()
            break
        if board.is_stalemate():
            assert (reward, done) == (0, 1), board.fen()
            break
        assert reward == 0
        if done:  # repetition or the no-progress rule; the engine has its own counts for both
            break


@pytest.mark.parametrize(
    ("fen", "reward"), [(WHITE_MATES_IN_ONE, 1), (BLACK_MATES_IN_ONE, -1)], ids=["white", "black"]
)
def test_mate_in_one_positions(fen, reward):
    board = chess.Board(fen)
    (only,) = board.legal_moves
    board.push(only)
    assert board.is_checkmate()
    env = ortolan.Ortolan()
    env.parse_fen(fen)
    moves = engine_moves(env)
    assert list(moves.values()) == [only]
    (action,) = moves
    _, _, result_reward, done = env.step(action)
    assert (result_reward, done) == (reward, 1)
