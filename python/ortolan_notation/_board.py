"""Squares, pieces and the action numbering of the environment, read from a ``State``.

Squares count from a8 = 0 along the ranks to h1 = 63 (row 0 is rank 8). An action is
``plane * 64 + source``; the plane tells where the piece on ``source`` goes:

* planes 0-55: ``direction * 7 + distance - 1`` along a rank, file or diagonal, the direction
  counted from the mover's seat (0 forward-left, 1 forward, 2 forward-right, 3 right,
  4 backward-right, 5 backward, 6 backward-left, 7 left); castling is the king's two-square
  move, and a pawn reaching the last rank this way becomes a queen;
* planes 56-63: knight jumps, the same for both sides;
* planes 64-72: ``64 + direction * 3 + kind``, a pawn's under-promotion to a knight, bishop or
  rook (kind 0, 1, 2) straight ahead or capturing to either side (direction 0, 1, 2).
"""

import functools
import threading
import typing

import numpy as np

import ortolan
from ortolan_vector import _core

ACTIONS: int = _core.ACTION_COUNT
NO_SQUARE = 64
PIECE_LETTERS = "PNBRQKpnbrqk"
UNDERPROMOTIONS = "nbr"

# The engine's move of each plane by side to move: (row change, file change, under-promotion
# kind or -1), and the plane of each such move.
PLANE_MOVES: list[list[tuple[int, int, int]]] = [
    [(int(r), int(f), int(k)) for r, f, k in side] for side in _core.PLANE_MOVES
]
PLANES_BY_MOVE = [{move: plane for plane, move in enumerate(side)} for side in PLANE_MOVES]


def square_name(square: int) -> str:
    return "abcdefgh"[square % 8] + str(8 - square // 8)


def square_of(name: str) -> int:
    return (8 - int(name[1])) * 8 + "abcdefgh".index(name[0])


def check_action(action: int) -> int:
    if isinstance(action, bool) or not isinstance(action, int | np.integer):
        raise TypeError(f"an action is an int, not {type(action).__name__}")
    if not 0 <= action < ACTIONS:
        raise ValueError(f"action {action} is outside 0..{ACTIONS - 1}")
    return int(action)


def decode(action: int, side: int) -> tuple[int, int, int, str]:
    """(source, target row, target file, under-promotion letter or "") of an action.

    The target may lie off the board (row or file outside 0..7) for numbers no move can have.
    """
    plane, source = divmod(action, 64)
    row, file = divmod(source, 8)
    rows, files, kind = PLANE_MOVES[side][plane]
    return source, row + rows, file + files, UNDERPROMOTIONS[kind] if kind >= 0 else ""


def encode(source: int, target: int, promotion: str, side: int) -> int | None:
    """The action of a move from source to target, or None when no plane describes it."""
    rows = target // 8 - source // 8
    files = target % 8 - source % 8
    if promotion in ("", "q"):
        kind = -1
    elif promotion in UNDERPROMOTIONS:
        kind = UNDERPROMOTIONS.index(promotion)
    else:
        return None
    plane = PLANES_BY_MOVE[side].get((rows, files, kind))
    return None if plane is None else plane * 64 + source


def inner_state(state: typing.Any) -> ortolan.State:
    """The ``ortolan.State`` of a snapshot: the State itself, or a RuledState's."""
    inner = getattr(state, "state", None)
    return inner if isinstance(inner, ortolan.State) else state


def fen_of(state: typing.Any) -> tuple[str, tuple[str, ...]]:
    """The FEN text of a State's position and the letter of the piece on each of the 64
    squares ("" when empty), White upper case. For a snapshot of a game under chess rules (an
    ``ortolan_vector.RuledState``) the clocks are the game's: the half-move clock and the
    full-move number from its ply; a bare State gives its counter and full-move 1.

    Raises ValueError for an en passant square that is neither 64 (none) nor on the third or
    sixth rank, which FEN cannot name: a new ``State()`` has 0 there, and ``parse_fen`` takes
    whatever the text says. (Every other position field can only hold what a position holds.)
    """
    chess_rules = getattr(state, "rules", "ortolan") != "ortolan"
    state = inner_state(state)
    fullmove = max(state.total_move_count, 0) // 2 + 1 if chess_rules else 1
    fields = (state.side, state.castle, state.enpassant, state.no_progress_count, fullmove)
    return _fen(tuple(state.bitboards.tolist()), *fields)


# The conversions of all the moves of one position read that position again and again.
@functools.lru_cache(maxsize=256)
def _fen(
    bitboards: tuple[int, ...],
    side: int,
    castle: int,
    enpassant: int,
    no_progress: int,
    fullmove: int,
) -> tuple[str, tuple[str, ...]]:
    if enpassant != NO_SQUARE and not (0 <= enpassant < 64 and enpassant // 8 in (2, 5)):
        raise ValueError(f"{enpassant} is not an en passant square (16..23, 40..47 or 64)")
    board = [""] * 64
    for letter, bitboard in zip(PIECE_LETTERS, bitboards, strict=True):
        while bitboard:
            lowest = bitboard & -bitboard
            board[lowest.bit_length() - 1] = letter
            bitboard ^= lowest
    rows = []
    for row in range(8):
        text, empty = "", 0
        for letter in board[row * 8 : row * 8 + 8]:
            if letter:
                text += (str(empty) if empty else "") + letter
                empty = 0
            else:
                empty += 1
        rows.append(text + (str(empty) if empty else ""))
    castling = "".join(letter for bit, letter in enumerate("KQkq") if castle >> bit & 1) or "-"
    square = square_name(enpassant) if enpassant != NO_SQUARE else "-"
    fen = f"{'/'.join(rows)} {'wb'[side]} {castling} {square} {no_progress} {fullmove}"
    return fen, tuple(board)


# One environment per thread answers which actions a position allows: the engine's own rules,
# loaded from the position's FEN text so that nothing but the position is read. get_actions
# rebuilds the action map of the loaded position, which save_state hands out as move_index.
_engines = threading.local()


@functools.lru_cache(maxsize=64)
def legal_actions(fen: str) -> frozenset[int]:
    engine = getattr(_engines, "engine", None)
    if engine is None:
        engine = _engines.engine = ortolan.Ortolan()
    engine.parse_fen(fen)
    engine.get_actions()
    return frozenset(engine.save_state().move_index)
