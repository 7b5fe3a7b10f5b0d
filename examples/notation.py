"""Action numbers of the ortolan environment as readable moves.

An action is ``plane * 64 + source``; the plane tells where the piece goes:

* planes 0-55: ``direction * 7 + distance - 1`` along a rank, file or diagonal, with the
  direction counted from the mover's seat (0 forward-left, 1 forward, 2 forward-right, 3 right,
  4 backward-right, 5 backward, 6 backward-left, 7 left); castling is the king's two-square move;
  a pawn reaching the last rank this way promotes to a queen;
* planes 56-63: knight jumps, the same for both sides;
* planes 64-72: ``64 + direction * 3 + kind``, a pawn's under-promotion to a knight, bishop or
  rook (kind 0, 1, 2) straight ahead or capturing to either side (direction 0, 1, 2).

Squares count from a8 = 0 along the ranks to h1 = 63.
"""

import ortolan

# (row change, file change) of each direction for White; Black's are the opposite ones.
WHITE_STEPS = ((-1, -1), (-1, 0), (-1, 1), (0, 1), (1, 1), (1, 0), (1, -1), (0, -1))
# Knight planes by source - target.
KNIGHT_JUMPS = {56: 17, 57: 15, 58: 6, 59: -10, 60: -17, 61: -15, 62: -6, 63: 10}
PIECE_LETTERS = "PNBRQKpnbrqk"


def square_name(square: int) -> str:
    return "abcdefgh"[square % 8] + str(8 - square // 8)


def decode(action: int, side: int) -> tuple[int, int, str]:
    """Returns (source, target, under-promotion letter or "") of an action for the side to move."""
    plane, source = divmod(action, 64)
    if 56 <= plane < 64:
        return source, source - KNIGHT_JUMPS[plane], ""
    if plane < 56:
        direction, distance, promotion = plane // 7, plane % 7 + 1, ""
    else:
        direction, kind = divmod(plane - 64, 3)
        distance, promotion = 1, "nbr"[kind]
    rows, files = WHITE_STEPS[direction]
    if side == 1:
        rows, files = -rows, -files
    return source, source + distance * (rows * 8 + files), promotion


def piece_on(state: ortolan.State, square: int) -> str:
    """The letter of the piece on a square ("" when empty), White upper case."""
    for piece, bitboard in enumerate(state.bitboards):
        if int(bitboard) >> square & 1:
            return PIECE_LETTERS[piece]
    return ""


def move_text(env: ortolan.Ortolan, action: int) -> str:
    """Long algebraic text ("e2-e4", "Ng8xf6", "O-O", "b7-b8=Q") of a legal action."""
    state = env.save_state()
    source, target, promotion = decode(action, state.side)
    piece, victim = piece_on(state, source), piece_on(state, target)
    kind = piece.upper()
    if kind == "K" and abs(target - source) == 2:
        return "O-O" if target > source else "O-O-O"
    # A pawn that changes file captures, on its target square or en passant beside it.
    capture = bool(victim) or (kind == "P" and target % 8 != source % 8)
    text = ("" if kind == "P" else kind) + square_name(source)
    text += ("x" if capture else "-") + square_name(target)
    if kind == "P" and target // 8 in (0, 7):
        text += "=" + (promotion or "q").upper()
    return text


def game_text(moves: list[str], width: int = 88) -> str:
    """Numbers the moves of a game from the start position and wraps them into lines."""
    words = []
    for ply, move in enumerate(moves):
        words.append(f"{ply // 2 + 1}. {move}" if ply % 2 == 0 else move)
    lines, line = [], ""
    for word in words:
        if line and len(line) + 1 + len(word) > width:
            lines.append(line)
            line = word
        else:
            line = f"{line} {word}" if line else word
    if line:
        lines.append(line)
    return "\n".join(lines)
