"""Random games under the chess rule sets, played in lockstep with python-chess.

Every slot of a VectorOrtolan under "standard" or "fide" rules plays the moves a python-chess
board plays, from the start position and from the sparse endgames of
tests/data/rules_starts.txt. At every ply the legal set, the ending and its reward, planes 112
(side to move), 113 (the game's ply), 118 (the half-move clock) and the sixteen repetition planes
agree with python-chess; under "fide" so does info["draw_claimable"] with can_claim_draw(). A
game that ended by a draw is sometimes played on for a ply, which reports the ending again.
Each kind of ending is counted, and a run that never reaches one fails.

The default run is a few seconds; ORTOLAN_DIFF_GAMES sets the number of games a rule set plays.
"""

import collections
import os
import random
from pathlib import Path

import chess
import numpy as np
import pytest

from ortolan_notation._board import encode
from ortolan_vector import VectorOrtolan

GAMES = int(os.environ.get("ORTOLAN_DIFF_GAMES", "0")) or 120
SLOTS = 24
STARTS = [
    line.strip()
    for line in (Path(__file__).parent.parent / "data" / "rules_starts.txt")
    .read_text()
    .splitlines()
    if line.strip() and not line.startswith("#")
]
ENDINGS = {
    "standard": {"checkmate", "stalemate", "insufficient", "threefold", "fifty"},
    "fide": {"checkmate", "stalemate", "insufficient", "fivefold", "seventyfive"},
}


def action_of(move, side):
    promotion = chess.piece_symbol(move.promotion) if move.promotion else ""
    return encode(move.from_square ^ 56, move.to_square ^ 56, promotion, side)


def ending(board, rules):
    """The kind of ending python-chess sees in the position, or None."""
    if board.is_checkmate():
        return "checkmate"
    if board.is_stalemate():
        return "stalemate"
    if board.is_insufficient_material():
        return "insufficient"
    if rules == "standard":
        if board.is_repetition(3):
            return "threefold"
        return "fifty" if board.is_fifty_moves() else None
    if board.is_fivefold_repetition():
        return "fivefold"
    return "seventyfive" if board.is_seventyfive_moves() else None


def identity(board):
    """The position as repetition counts it: pieces, side, castling, legal en passant."""
    en_passant = board.ep_square if board.has_legal_en_passant() else None
    return board.board_fen(), board.turn, board.castling_rights, en_passant


class Game:
    """A python-chess board with the occurrence count of each position of its game."""

    def __init__(self, fen):
        self.board = chess.Board(fen)
        self.seen = collections.Counter()
        self.records = []  # (side to move, occurrences - 1) of every position, oldest first
        self.record()

    def record(self):
        key = identity(self.board)
        self.seen[key] += 1
        self.records.append((int(self.board.turn == chess.BLACK), self.seen[key] - 1))

    def push(self, move):
        self.board.push(move)
        self.record()

    def expected_planes(self):
        """Planes 112, 113, 118 and the repetition planes of each history slot."""
        expected = {112: int(self.board.turn == chess.BLACK), 113: self.board.ply()}
        expected[118] = self.board.halfmove_clock
        for e in range(8):
            values = [0, 0]
            if e < len(self.records):
                side, count = self.records[-1 - e]
                values[side] = count
                if e + 1 < len(self.records):
                    values[1 - side] = self.records[-2 - e][1]
            expected[14 * e + 12], expected[14 * e + 13] = values
        return expected


def check_slot(i, game, observation, mask, claimable, rules):
    board = game.board
    legal = {action_of(m, int(board.turn == chess.BLACK)) for m in board.legal_moves}
    where = f"slot {i} at {board.fen()} after {[m.uci() for m in board.move_stack]}"
    assert set(np.flatnonzero(mask[i]).tolist()) == legal, where
    planes = observation[i]
    for plane, value in game.expected_planes().items():
        assert (planes[plane] == value).all(), f"plane {plane}: {where}"
    if rules == "fide":
        assert bool(claimable[i]) == board.can_claim_draw(), where


@pytest.mark.parametrize("rules", ["standard", "fide"])
def test_random_games_end_as_python_chess_ends_them(rules):
    rng = random.Random(rules)
    env = VectorOrtolan(
        SLOTS, threads=2, dtype=np.int32, autoreset_mode="disabled", seed=1, rules=rules
    )
    fens = [STARTS[i % len(STARTS)] for i in range(SLOTS)]
    games = [Game(fen) for fen in fens]
    output, info = env.reset(options={"fens": fens})
    started = SLOTS
    endings = collections.Counter()
    over = [ending(g.board, rules) for g in games]  # an ending standing since the load
    played_on = [False] * SLOTS
    while started < GAMES or not all(g is None for g in games):
        claimable = info.get("draw_claimable")
        for i, game in enumerate(games):
            if game is not None:
                check_slot(i, game, output["observation"], output["action_mask"], claimable, rules)
        actions = []
        for i, game in enumerate(games):
            if game is None:  # an idle slot plays anything legal
                actions.append(int(np.flatnonzero(output["action_mask"][i])[0]))
                continue
            moves = list(game.board.legal_moves)
            move = rng.choice(moves) if moves else None
            actions.append(action_of(move, int(game.board.turn == chess.BLACK)) if move else 0)
            if move is not None and (over[i] is None or played_on[i]):
                game.push(move)
        output, rewards, terminated, truncated, info = env.step(actions)
        restart = np.zeros(SLOTS, dtype=np.bool_)
        for i, game in enumerate(games):
            if game is None:
                continue
            kind = ending(game.board, rules) if over[i] is None else over[i]
            over[i] = None
            assert not truncated[i]
            assert bool(terminated[i]) == (kind is not None or played_on[i]), game.board.fen()
            if not terminated[i]:
                assert rewards[i] == 0
                continue
            winner = game.board.outcome().winner if kind == "checkmate" else None
            assert rewards[i] == {True: 1, False: -1, None: 0}[winner]
            if played_on[i]:
                restart[i] = True
                continue
            endings[kind] += 1
            # A drawn game played on reports its draw again.
            played_on[i] = kind != "checkmate" and kind != "stalemate" and rng.random() < 0.3
            restart[i] = not played_on[i]
        if restart.any():
            fresh = [None] * SLOTS
            for i in np.flatnonzero(restart):
                played_on[i] = False
                if started < GAMES:
                    fresh[i] = rng.choice(STARTS)
                    games[i] = Game(fresh[i])
                    over[i] = ending(games[i].board, rules)
                    started += 1
                else:
                    games[i] = None
                    fresh[i] = STARTS[0]
            output, info = env.reset(options={"reset_mask": restart, "fens": fresh})
    print(rules, dict(endings))
    assert set(endings) == ENDINGS[rules], dict(endings)
