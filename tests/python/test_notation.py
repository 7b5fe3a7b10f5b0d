"""ortolan_notation against python-chess: FEN, UCI, SAN and long algebraic text, PGN.

Random games from the positions in tests/data/notation_cases.json are played on the
environment and on a python-chess board side by side; in every position of every game the FEN
fields agree, every legal move converts both ways in UCI and SAN to the same action, every
pseudo-legal but illegal move and every move of the side not to move is refused, and so are
actions that are not legal. ORTOLAN_NOTATION_POSITIONS sets the number of positions to visit
(2,400 by default), ORTOLAN_NOTATION_SEED the seed.
"""

import io
import json
import os
import random
from pathlib import Path

import chess
import chess.pgn
import chess.svg
import pytest
from support import legal_actions

import ortolan
import ortolan_notation as notation

CASES = json.loads((Path(__file__).parents[1] / "data" / "notation_cases.json").read_text())
STARTS = CASES["start_positions"]
POSITIONS = int(os.environ.get("ORTOLAN_NOTATION_POSITIONS", "2400"))
SEED = os.environ.get("ORTOLAN_NOTATION_SEED", "0")
MAX_PLIES = 200


def load(fen):
    env = ortolan.Ortolan()
    env.parse_fen(fen)
    return env, env.save_state()


def fields(fen, count=4):
    return fen.split()[:count]


def check_position(env, board, rng):
    state = env.save_state()
    assert fields(notation.to_fen(state)) == fields(board.fen(en_passant="fen"))
    actions = {}
    for move in board.legal_moves:
        san = board.san(move)
        action = notation.uci_to_action(state, move.uci())
        assert notation.action_to_uci(state, action) == move.uci()
        assert notation.san_to_action(state, san) == action
        assert notation.action_to_san(state, action) == san
        assert notation.action_to_lan(state, action) == board.lan(move).rstrip("+#")
        actions[action] = move
    legal = set(legal_actions(env.get_actions()))
    assert set(actions) == legal, board.fen()
    refused = [m for m in board.pseudo_legal_moves if not board.is_legal(m)]
    other_side = board.copy(stack=False)
    other_side.turn = not board.turn
    other_side.ep_square = None
    refused += list(other_side.pseudo_legal_moves)
    for move in refused:
        with pytest.raises(ValueError, match=move.uci()):
            notation.uci_to_action(state, move.uci())
    for action in rng.sample(sorted(set(range(73 * 64)) - legal), 4):
        with pytest.raises(ValueError, match=f"action {action} is not a legal move"):
            notation.action_to_uci(state, action)
    return actions


@pytest.mark.parametrize("label", sorted(STARTS))
def test_conversions_agree_with_python_chess_in_random_games(label):
    rng = random.Random(f"{SEED}-{label}")
    budget = POSITIONS // len(STARTS)
    while budget > 0:
        env, _ = load(STARTS[label])
        board = chess.Board(STARTS[label])
        for _ in range(MAX_PLIES):
            actions = check_position(env, board, rng)
            budget -= 1
            if not actions or budget <= 0:
                break
            action = rng.choice(sorted(actions))
            board.push(actions[action])
            if env.step(action)[3]:
                break


@pytest.mark.parametrize(("fen", "uci", "action", "san", "lan"), CASES["moves"])
def test_special_moves_have_their_numbers_and_texts(fen, uci, action, san, lan):
    _, state = load(fen)
    assert notation.uci_to_action(state, uci) == action
    assert notation.action_to_uci(state, action) == uci
    assert notation.action_to_san(state, action) == san
    assert notation.action_to_lan(state, action) == lan


@pytest.mark.parametrize(("fen", "uci"), CASES["refused"])
def test_texts_that_are_no_legal_move_are_refused_by_name(fen, uci):
    _, state = load(fen)
    with pytest.raises(ValueError, match=repr(uci).replace("[", r"\[")):
        notation.uci_to_action(state, uci)


@pytest.mark.parametrize("fen", sorted(STARTS.values()))
def test_fen_read_by_parse_fen_comes_back_in_its_first_four_fields(fen):
    _, state = load(fen)
    assert fields(notation.to_fen(state)) == fields(fen)


def test_fen_counters_are_the_no_progress_counter_and_move_one(env):
    for action in (564, 3910, 3710):  # 1. e4 Nf6 2. Nh3
        env.step(action)
    state = env.save_state()
    assert notation.to_fen(state).split()[4:] == [str(state.no_progress_count), "1"] == ["3", "1"]


def test_only_the_position_fields_are_read(env):
    env.step(564)
    state = env.save_state()
    state.move_index = {564: 0}  # an action map of some other position
    assert notation.uci_to_action(state, "e7e5") == 524
    assert notation.action_to_uci(state, 524) == "e7e5"


def test_a_new_state_has_no_fen():
    with pytest.raises(ValueError, match="0 is not an en passant square"):
        notation.to_fen(ortolan.State())


@pytest.mark.parametrize(
    ("action", "error"),
    [(-1, ValueError), (73 * 64, ValueError), ("564", TypeError), (True, TypeError)],
)
def test_actions_that_are_no_number_of_a_move_are_refused(env, action, error):
    with pytest.raises(error):
        notation.action_to_uci(env.save_state(), action)


FOOLS_MATE = [501, 524, 566, 195]  # 1. f3 e5 2. g4 Qh4#


def test_pgn_of_a_game_reads_back_to_its_actions():
    text = notation.to_pgn(FOOLS_MATE)
    assert '[Result "0-1"]' in text
    assert text.endswith("1. f3 e5 2. g4 Qh4# 0-1")
    assert notation.pgn_to_actions(text) == FOOLS_MATE
    game = chess.pgn.read_game(io.StringIO(text))
    assert notation.pgn_to_actions(game) == FOOLS_MATE


def test_pgn_from_a_set_up_position_carries_it():
    fen = "4k3/8/8/8/8/8/6p1/K4N1N b - - 0 1"
    text = notation.to_pgn([4150], fen=fen)  # gxh1=N
    assert '[FEN "4k3/8/8/8/8/8/6p1/K4N1N b - - 0 1"]' in text
    assert text.endswith("1... gxh1=N *")
    assert notation.pgn_to_actions(text) == [4150]


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: notation.to_pgn([501, 0]), "ply 2: action 0 is not a legal move"),
        (lambda: notation.pgn_to_actions(""), "holds no game"),
        (lambda: notation.pgn_to_actions("1. e4 e5 2. Ke3 *"), "illegal move at .Ke3."),
    ],
)
def test_pgn_errors_name_what_is_wrong(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_san_that_is_no_legal_move_is_refused(env):
    for text in ("e5", "Nc4", "O-O", "exd5", "Qxf7#", "nonsense"):
        with pytest.raises(ValueError, match=text):
            notation.san_to_action(env.save_state(), text)


def test_chess_board_of_a_state_draws_as_svg(env):
    env.step(564)
    board = notation.to_chess_board(env.save_state())
    assert board.ep_square == chess.E3
    assert chess.svg.board(board).startswith("<svg")


def test_game_text_numbers_moves_and_wraps_lines():
    moves = ["e2-e4", "e7-e5", "Ng1-f3", "Nb8-c6", "Bf1-b5"]
    assert notation.game_text(moves) == "1. e2-e4 e7-e5 2. Ng1-f3 Nb8-c6 3. Bf1-b5"
    assert notation.game_text(moves, width=20).splitlines() == [
        "1. e2-e4 e7-e5",
        "2. Ng1-f3 Nb8-c6",
        "3. Bf1-b5",
    ]
