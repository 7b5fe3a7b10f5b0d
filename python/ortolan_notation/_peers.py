"""Action numbers of other chess environments: PettingZoo's chess_v6 and Pgx (EnvPool's Chess-v1).

Both number the same 4,672 moves as this environment, square-major: ``square * 73 + plane``
with ``square = file * 8 + rank`` (a1 = 0, a2 = 1, ..., h8 = 63) seen from the mover's seat.
For Black they mirror the board top to bottom: ranks count from Black's side (a8 is square 0),
files stay as they are. This environment turns the board half round instead, and counts the
source square the same way for both sides. Their planes, with ``df`` and ``dr`` the file and
rank change as the mover sees it (forward is ``dr > 0``):

* PettingZoo: queen-like moves ``8 * (distance - 1) + k``, with ``k`` the place of the step
  (sign of df, sign of dr) in (-1,-1), (-1,0), (-1,1), (0,-1), (0,1), (1,-1), (1,0), (1,1);
  knight jumps ``56 + k`` in the order (-2,-1), (-2,1), (-1,-2), (-1,2), (1,-2), (1,2),
  (2,-1), (2,1); under-promotions ``64 + 3 * (df + 1) + kind``, kind 0, 1, 2 for a knight,
  bishop, rook.
* Pgx: under-promotions first, ``3 * kind + k``, kind 0, 1, 2 for a rook, bishop, knight and
  ``k`` 0, 1, 2 for df = 0, 1, -1; then queen-like moves in four lines of fourteen, each line
  from -7 to -1 then 1 to 7 squares: along the file (by dr) from 9, along the rank (by df)
  from 23, along the diagonal df = dr (by df) from 37 and along the diagonal df = -dr (by df)
  from 51; knight jumps ``65 + k`` in the order (-2,-1), (-2,1), (-1,-2), (-1,2), (2,-1),
  (2,1), (1,-2), (1,2).

In all three a queen promotion is the pawn's ordinary one-square move, and castling the king's
two-square move.
"""

from collections.abc import Callable

import numpy as np
import numpy.typing as npt

from ._board import ACTIONS, check_action, decode

PETTINGZOO_STEPS = ((-1, -1), (-1, 0), (-1, 1), (0, -1), (0, 1), (1, -1), (1, 0), (1, 1))
PETTINGZOO_KNIGHTS = ((-2, -1), (-2, 1), (-1, -2), (-1, 2), (1, -2), (1, 2), (2, -1), (2, 1))
PGX_KNIGHTS = ((-2, -1), (-2, 1), (-1, -2), (-1, 2), (2, -1), (2, 1), (1, -2), (1, 2))
PGX_UNDERPROMOTION_FILES = (0, 1, -1)
PGX_LINES = 9  # first plane of the four lines of queen-like moves

# Plane of a move, given (df, dr, under-promotion letter or "") as the mover sees it.
PlaneRule = Callable[[int, int, str], int]


def _sign(value: int) -> int:
    return (value > 0) - (value < 0)


def _pettingzoo_plane(df: int, dr: int, promotion: str) -> int:
    if promotion:
        return 64 + 3 * (df + 1) + "nbr".index(promotion)
    if (df, dr) in PETTINGZOO_KNIGHTS:
        return 56 + PETTINGZOO_KNIGHTS.index((df, dr))
    distance = max(abs(df), abs(dr))
    return 8 * (distance - 1) + PETTINGZOO_STEPS.index((_sign(df), _sign(dr)))


def _pgx_plane(df: int, dr: int, promotion: str) -> int:
    if promotion:
        return 3 * "rbn".index(promotion) + PGX_UNDERPROMOTION_FILES.index(df)
    if (df, dr) in PGX_KNIGHTS:
        return 65 + PGX_KNIGHTS.index((df, dr))
    line, along = (0, dr) if df == 0 else (1, df) if dr == 0 else (2, df) if df == dr else (3, df)
    return PGX_LINES + 14 * line + (along + 7 if along < 0 else along + 6)


class ActionTable(np.ndarray):
    """A read-only table of action numbers, one row of 4,672 per side to move (0 White, 1 Black).

    A plain ndarray in every way; its own class keeps NumPy's ndarray documentation out of
    ``help(ortolan_notation)``, which documents the tables by their values alone.
    """


def _table(plane_of: PlaneRule) -> npt.NDArray[np.intp]:
    """Peer's number of each of this environment's actions, one row per side to move."""
    table = np.empty((2, 73, 64), dtype=np.intp)
    sources = np.arange(64)
    for side in (0, 1):
        # The peer's square: files as they are, ranks from the mover's side.
        rank = 7 - sources // 8 if side == 0 else sources // 8
        for plane in range(73):
            # The change of file and rank of this plane's move, as the mover sees it, taken
            # from a source in the middle of the board (a1 is 56 here).
            source, row, file, promotion = decode(plane * 64 + 27, side)
            df, dr = file - source % 8, source // 8 - row
            if side == 1:
                dr = -dr
            table[side, plane] = (sources % 8 * 8 + rank) * 73 + plane_of(df, dr, promotion)
    flat = table.reshape(2, ACTIONS).view(ActionTable)
    flat.flags.writeable = False
    return flat


def _inverse(table: npt.NDArray[np.intp]) -> npt.NDArray[np.intp]:
    inverse = np.empty(table.shape, dtype=np.intp)
    for side in (0, 1):
        inverse[side, table[side]] = np.arange(ACTIONS)
    view = inverse.view(ActionTable)
    view.flags.writeable = False
    return view


TO_PETTINGZOO = _table(_pettingzoo_plane)
FROM_PETTINGZOO = _inverse(TO_PETTINGZOO)
TO_PGX = _table(_pgx_plane)
FROM_PGX = _inverse(TO_PGX)


def _side(side: int) -> int:
    if side not in (0, 1):
        raise ValueError(f"the side to move is 0 (White) or 1 (Black), not {side!r}")
    return int(side)


def to_pettingzoo(action: int, side: int) -> int:
    """PettingZoo chess_v6's number of an action of the side to move (0 White, 1 Black)."""
    return int(TO_PETTINGZOO[_side(side), check_action(action)])


def from_pettingzoo(action: int, side: int) -> int:
    """This environment's number of a PettingZoo chess_v6 action of the side to move."""
    return int(FROM_PETTINGZOO[_side(side), check_action(action)])


def to_pgx(action: int, side: int) -> int:
    """Pgx's (and EnvPool's Chess-v1) number of an action of the side to move."""
    return int(TO_PGX[_side(side), check_action(action)])


def from_pgx(action: int, side: int) -> int:
    """This environment's number of a Pgx (or EnvPool Chess-v1) action of the side to move."""
    return int(FROM_PGX[_side(side), check_action(action)])
