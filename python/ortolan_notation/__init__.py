"""Positions and moves of the ortolan environment in and out: FEN, UCI, SAN, PGN, python-chess,
and the action numbers of other chess environments.

Every function reads the position from a ``State``'s position fields (bitboards, side to move,
castling rights, en passant square). A State's ``move_index`` is never read: the environment
rebuilds it before each use, so in a saved State it may still belong to the position before.
NumPy is the only requirement; the functions marked "through python-chess" import it when
called. The action numbering itself is described in the ``ortolan`` type stub
(``Ortolan.get_actions``).
"""

from ._peers import (
    FROM_PETTINGZOO,
    FROM_PGX,
    TO_PETTINGZOO,
    TO_PGX,
    from_pettingzoo,
    from_pgx,
    to_pettingzoo,
    to_pgx,
)
from ._pgn import PgnGame, PgnReader, SkippedGame, read_pgn
from ._text import (
    action_to_lan,
    action_to_san,
    action_to_uci,
    game_text,
    pgn_to_actions,
    san_to_action,
    to_chess_board,
    to_fen,
    to_pgn,
    uci_to_action,
)

__all__ = [
    "FROM_PETTINGZOO",
    "FROM_PGX",
    "TO_PETTINGZOO",
    "TO_PGX",
    "PgnGame",
    "PgnReader",
    "SkippedGame",
    "action_to_lan",
    "action_to_san",
    "action_to_uci",
    "from_pettingzoo",
    "from_pgx",
    "game_text",
    "pgn_to_actions",
    "read_pgn",
    "san_to_action",
    "to_chess_board",
    "to_fen",
    "to_pettingzoo",
    "to_pgn",
    "to_pgx",
    "uci_to_action",
]
