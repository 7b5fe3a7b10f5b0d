"""Positions and moves as text: FEN, UCI, long algebraic and standard algebraic notation, PGN."""

from __future__ import annotations

import functools
import re
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING

import ortolan

from ._board import (
    check_action,
    decode,
    encode,
    fen_of,
    inner_state,
    legal_actions,
    square_name,
    square_of,
)
from ._pgn import RULES, PgnGame, PgnReader, RulesName, rules_code

if TYPE_CHECKING:
    import chess
    import chess.pgn

UCI_MOVE = re.compile(r"([a-h][1-8])([a-h][1-8])([nbrq]?)")


def to_fen(state: ortolan.State) -> str:
    """The FEN text of a State's position.

    Pieces, side to move, castling rights and en passant square come from the position fields
    of the State. The en passant square is written after every double step, whether or not a
    pawn can take there (python-chess calls this ``fen(en_passant="fen")``). The half-move field
    is the environment's no-progress counter as it stands: the plies since the position was
    loaded or since the last pawn move or capture, that move included (so one more than the
    usual clock once such a move has been played). The full-move field is always 1: the
    environment keeps no move number of its own.

    >>> env = ortolan.Ortolan(); _ = env.reset(); _ = env.step(8 * 64 + 52)
    >>> to_fen(env.save_state())
    'rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 1 1'

    Raises ValueError when the en passant field holds a square off the third and sixth ranks
    (a new ``State()`` has 0 there).
    """
    return fen_of(state)[0]


def _legal(state: ortolan.State, action: int) -> tuple[str, tuple[str, ...]]:
    fen, board = fen_of(state)
    if action not in legal_actions(fen):
        raise ValueError(f"action {action} is not a legal move in {fen}")
    return fen, board


def _uci(board: tuple[str, ...], action: int, side: int) -> str:
    source, row, file, promotion = decode(action, side)
    target = row * 8 + file
    if board[source] in "Pp" and row in (0, 7) and not promotion:
        promotion = "q"
    return square_name(source) + square_name(target) + promotion


def action_to_uci(state: ortolan.State, action: int) -> str:
    """The UCI text of a legal action: "e2e4", "e1g1" for castling, "a7a8q" for a promotion.

    A queen promotion is the pawn's one-square move, so the piece on the source square decides
    whether an action is "a7a8q" or, for a rook, "a7a8". Raises ValueError when the action is
    not a legal move of the State's position (and TypeError when it is not an int).
    """
    action = check_action(action)
    _, board = _legal(state, action)
    return _uci(board, action, inner_state(state).side)


def uci_to_action(state: ortolan.State, text: str) -> int:
    """The action of a legal move given as UCI text ("e2e4", "e1g1", "a7a8q", "a7a8n").

    Raises ValueError naming the text when it is not a legal move of the State's position: a
    pawn reaching the last rank needs its promotion letter, and no other move may have one.
    """
    match = UCI_MOVE.fullmatch(text) if isinstance(text, str) else None
    if match is None:
        raise ValueError(f"{text!r} is not a move in UCI notation")
    source, target = square_of(match[1]), square_of(match[2])
    action = encode(source, target, match[3], inner_state(state).side)
    fen, board = fen_of(state)
    if (
        action is None
        or action not in legal_actions(fen)
        or _uci(board, action, inner_state(state).side) != text
    ):
        raise ValueError(f"{text!r} is not a legal move in {fen}")
    return action


def action_to_lan(state: ortolan.State, action: int) -> str:
    """Long algebraic text of a legal action ("e2-e4", "Ng8xf6", "O-O", "b7-b8=Q"), without
    check marks; needs no python-chess. Raises ValueError for an action that is not legal."""
    action = check_action(action)
    _, board = _legal(state, action)
    source, row, file, promotion = decode(action, inner_state(state).side)
    target = row * 8 + file
    kind = board[source].upper()
    if kind == "K" and abs(target - source) == 2:
        return "O-O" if target > source else "O-O-O"
    # A pawn that changes file captures, on its target square or en passant beside it.
    capture = bool(board[target]) or (kind == "P" and target % 8 != source % 8)
    text = ("" if kind == "P" else kind) + square_name(source)
    text += ("x" if capture else "-") + square_name(target)
    if kind == "P" and row in (0, 7):
        text += "=" + (promotion or "q").upper()
    return text


def game_text(moves: Sequence[str], width: int = 88) -> str:
    """Numbers the moves of a game from White's first move and wraps them into lines."""
    words = [f"{ply // 2 + 1}. {move}" if ply % 2 == 0 else move for ply, move in enumerate(moves)]
    lines: list[str] = []
    line = ""
    for word in words:
        if line and len(line) + 1 + len(word) > width:
            lines.append(line)
            line = word
        else:
            line = f"{line} {word}" if line else word
    if line:
        lines.append(line)
    return "\n".join(lines)


def to_chess_board(state: ortolan.State) -> chess.Board:
    """The State's position as a python-chess ``Board`` (python-chess must be installed).

    The board has no move stack: python-chess knows nothing of the moves before, so its
    repetition claims start afresh. ``chess.svg.board(to_chess_board(state))`` draws it.
    """
    return _chess_board(to_fen(state)).copy(stack=False)


@functools.lru_cache(maxsize=64)
def _chess_board(fen: str) -> chess.Board:
    import chess

    return chess.Board(fen)


def action_to_san(state: ortolan.State, action: int) -> str:
    """Standard algebraic text of a legal action ("e4", "Nf3", "O-O", "exd6", "a8=Q+"), through
    python-chess. Raises ValueError when the action is not a legal move of the position."""
    import chess

    board = to_chess_board(state)
    return board.san(chess.Move.from_uci(action_to_uci(state, action)))


def san_to_action(state: ortolan.State, text: str) -> int:
    """The action of a legal move given in standard algebraic notation, through python-chess.

    Raises ValueError naming the text when it is not a legal, unambiguous move of the position.
    """
    board = to_chess_board(state)
    try:
        move = board.parse_san(text)
    except ValueError as error:
        raise ValueError(f"{text!r} is not a legal move in {board.fen()}: {error}") from None
    return uci_to_action(state, move.uci())


SEVEN_TAGS = ("Event", "Site", "Date", "Round", "White", "Black", "Result")


def to_pgn(
    actions: Iterable[int],
    fen: str | None = None,
    *,
    tags: Mapping[str, str] | None = None,
    rules: RulesName = "standard",
) -> str:
    """PGN text of a game played from the start position (or from ``fen``) with these actions.

    The seven standard tags come first ("?" where ``tags`` gives no value), then the caller's
    other tags, then ``SetUp`` and ``FEN`` for another start. The result and the
    ``Termination`` tag are the game's own: the first ending its moves reach under ``rules``
    (checkmate "1-0" or "0-1", any draw "1/2-1/2", written even when the game was played on
    past a draw), and "*" with ``Termination`` "unterminated" for a game not over; a
    ``Result`` or ``Termination`` in ``tags`` is replaced. Raises ValueError for a FEN that
    cannot be loaded as the start of a game and at the first action that is not legal where it
    is played.
    """
    import chess.pgn

    from ortolan_vector._core import fen_problem

    code = rules_code(rules)
    if fen is not None:
        problem = fen_problem(fen) if isinstance(fen, str) else "not a str"
        if problem:
            raise ValueError(f"FEN {fen!r} cannot be loaded: {problem}")
    env = ortolan.Ortolan()
    if fen is None:
        env.reset()
    else:
        env.parse_fen(fen)
    state = env.save_state()
    game = chess.pgn.Game()
    for name, value in (tags or {}).items():
        game.headers[name] = value
    if fen is not None:
        game.setup(fen)
    node: chess.pgn.GameNode = game
    for ply, action in enumerate(actions):
        try:
            text = action_to_uci(state, action)
        except ValueError as error:
            raise ValueError(f"ply {ply + 1}: {error}") from None
        node = node.add_main_variation(chess.Move.from_uci(text))
        env.step(action)
        state = env.save_state()
    game.headers["Result"] = "*"
    game.headers.pop("Termination", None)
    read = _read_one(str(game).encode(), code)
    if read.ending is None:
        result, termination = "*", "unterminated"
    else:
        result, termination = "1/2-1/2", read.ending
        if read.ending == "checkmate":
            mated_white = (game.board().turn == chess.WHITE) == (read.ending_ply % 2 == 0)
            result = "0-1" if mated_white else "1-0"
    game.headers["Result"] = result
    game.headers["Termination"] = termination
    return str(game)


def _read_one(text: bytes, rules: int) -> PgnGame:
    reader = PgnReader(text, _RULE_NAMES[rules])
    game = next(reader, None)
    if game is not None and (not reader.skipped or reader.skipped[0].number > game.number):
        return game
    if reader.skipped:
        skip = reader.skipped[0]
        raise ValueError(
            f"the PGN game cannot be read: {skip.reason} at {skip.token!r} (line {skip.token_line})"
        )
    raise ValueError("the PGN text holds no game")


_RULE_NAMES = {code: name for name, code in RULES.items()}


def pgn_to_actions(
    pgn: str | bytes | chess.pgn.Game, *, rules: RulesName = "standard"
) -> list[int]:
    """The actions of the main line of the first game of PGN text (``str`` or ``bytes``), or of
    a python-chess game (read back from its text), from the position the game starts from: the
    start position, or the one its FEN tag sets up.

    Raises ValueError when the text holds no game or its first game cannot be read (the
    reason and the token are in the message), and TypeError for anything else.
    """
    if isinstance(pgn, str):
        data = pgn.encode()
    elif isinstance(pgn, bytes | bytearray | memoryview):
        data = bytes(pgn)
    elif hasattr(pgn, "mainline_moves"):
        data = str(pgn).encode()
    else:
        raise TypeError(f"pgn must be PGN text or a chess.pgn.Game, not {type(pgn).__name__}")
    return [int(a) for a in _read_one(data, rules_code(rules)).actions]
