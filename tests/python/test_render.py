"""render(): the ASCII board on the process's standard output (C stdio) and the glyph board
through print() on sys.stdout."""

import contextlib
import io
import os
import subprocess
import sys

import pytest
from support import flush_c_stdout, state_fields

import ortolan

START_PROCESS_TEXT = (
    "\n"
    " 8|  r  n  b  q  k  b  n  r\n"
    " 7|  p  p  p  p  p  p  p  p\n"
    " 6|  .  .  .  .  .  .  .  .\n"
    " 5|  .  .  .  .  .  .  .  .\n"
    " 4|  .  .  .  .  .  .  .  .\n"
    " 3|  .  .  .  .  .  .  .  .\n"
    " 2|  P  P  P  P  P  P  P  P\n"
    " 1|  R  N  B  Q  K  B  N  R\n"
    "   ------------------------\n"
    "     a  b  c  d  e  f  g  h\n"
    "\n"
    "side:       white\n"
    "enpassant:  NA\n"
    "Castling:   KQkq\n"
    "\n"
    "\n"
)

START_GLYPH_TEXT = (
    "  8 |  \u265c  \u265e  \u265d  \u265b  \u265a  \u265d  \u265e  \u265c\n\n"
    "  7 |  \u265f  \u265f  \u265f  \u265f  \u265f  \u265f  \u265f  \u265f\n\n"
    "  6 |   .   .   .   .   .   .   .   .\n\n"
    "  5 |   .   .   .   .   .   .   .   .\n\n"
    "  4 |   .   .   .   .   .   .   .   .\n\n"
    "  3 |   .   .   .   .   .   .   .   .\n\n"
    "  2 |  \u2659  \u2659  \u2659  \u2659  \u2659  \u2659  \u2659  \u2659\n\n"
    "  1 |  \u2656  \u2658  \u2657  \u2655  \u2654  \u2657  \u2658  \u2656\n\n"
    "      -------------------------------\n"
    "       a   b   c   d   e   f   g   h\n"
)

GLYPHS = dict(
    zip(
        "PNBRQKpnbrqk",
        "\u2659\u2658\u2657\u2656\u2655\u2654\u265f\u265e\u265d\u265c\u265b\u265a",
        strict=True,
    )
)


def process_text(rows, side, enpassant, castling):
    """The ASCII board for eight rows of letters (rank 8 first, "." for an empty square)."""
    lines = [f" {8 - i}|" + "".join(f"  {c}" for c in row) + "\n" for i, row in enumerate(rows)]
    return (
        "\n"
        + "".join(lines)
        + "   ------------------------\n"
        + "     a  b  c  d  e  f  g  h\n\n"
        + f"side:       {side}\n"
        + f"enpassant:  {enpassant}\n"
        + f"Castling:   {castling}\n\n\n"
    )


def glyph_text(rows):
    lines = [
        f"  {8 - i} |" + "".join("   ." if c == "." else f"  {GLYPHS[c]}" for c in row) + "\n\n"
        for i, row in enumerate(rows)
    ]
    return (
        "".join(lines)
        + "      -------------------------------\n"
        + "       a   b   c   d   e   f   g   h\n"
    )


# After 1. e4 d5 2. e5 f5 with the rights cut to K and q: White to move, en passant on f6.
EN_PASSANT_WHITE = (
    "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w Kq f6 0 3",
    [
        "rnbqkbnr",
        "ppp.p.pp",
        "........",
        "...pPp..",
        "........",
        "........",
        "PPPP.PPP",
        "RNBQKBNR",
    ],
    ("white", "f6", "K--q"),
)
# After 1. e4: Black to move, en passant on e3.
EN_PASSANT_BLACK = (
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
    [
        "rnbqkbnr",
        "pppppppp",
        "........",
        "........",
        "....P...",
        "........",
        "PPPP.PPP",
        "RNBQKBNR",
    ],
    ("black", "e3", "KQkq"),
)
# Rights 5 (K and k), en passant square 47.
KINGS_AND_PAWNS = (
    "4k3/8/8/8/6pP/8/8/4K3 b Kk h3 0 1",
    [
        "....k...",
        "........",
        "........",
        "........",
        "......pP",
        "........",
        "........",
        "....K...",
    ],
    ("black", "h3", "K-k-"),
)
EMPTY_BOARD = ("8/8/8/8/8/8/8/8 w - -", ["........"] * 8, ("white", "NA", "----"))
POSITIONS = [EN_PASSANT_WHITE, EN_PASSANT_BLACK, KINGS_AND_PAWNS, EMPTY_BOARD]
POSITION_IDS = ["en-passant-f6", "en-passant-e3", "rights-5", "empty"]


@pytest.fixture
def render_streams(capfd):
    """Renders once and returns (process stream text, sys.stdout text)."""

    def render(env):
        flush_c_stdout()
        capfd.readouterr()
        glyphs = io.StringIO()
        with contextlib.redirect_stdout(glyphs):
            result = env.render()
        flush_c_stdout()
        assert result is None
        return capfd.readouterr().out, glyphs.getvalue()

    return render


@pytest.fixture(autouse=True)
def no_stdio_left_over():
    yield
    flush_c_stdout()


def test_start_position_glyph_board(env, capsys):
    capsys.readouterr()
    env.render()
    captured = capsys.readouterr()
    assert captured.out == START_GLYPH_TEXT
    assert captured.err == ""


def test_start_position_on_both_streams(env, render_streams):
    process, glyphs = render_streams(env)
    assert process == START_PROCESS_TEXT
    assert glyphs == START_GLYPH_TEXT


def test_the_helpers_agree_with_the_start_texts():
    rows = ["rnbqkbnr", "pppppppp", *["........"] * 4, "PPPPPPPP", "RNBQKBNR"]
    assert process_text(rows, "white", "NA", "KQkq") == START_PROCESS_TEXT
    assert glyph_text(rows) == START_GLYPH_TEXT


@pytest.mark.parametrize(("fen", "rows", "status"), POSITIONS, ids=POSITION_IDS)
def test_position_on_both_streams(render_streams, fen, rows, status):
    env = ortolan.Ortolan()
    env.parse_fen(fen)
    process, glyphs = render_streams(env)
    assert process == process_text(rows, *status)
    assert glyphs == glyph_text(rows)


def test_render_twice_prints_twice_and_changes_nothing(env, capfd):
    env.step(8 * 64 + 52)  # e2-e4: Black to move, en passant on e3
    before = state_fields(env.save_state())
    flush_c_stdout()
    capfd.readouterr()
    glyphs = io.StringIO()
    with contextlib.redirect_stdout(glyphs):
        env.render()
        env.render()
    flush_c_stdout()
    rows = EN_PASSANT_BLACK[1]
    assert capfd.readouterr().out == process_text(rows, "black", "e3", "KQkq") * 2
    assert glyphs.getvalue() == glyph_text(rows) * 2
    assert state_fields(env.save_state()) == before


class StreamError(Exception):
    pass


class BrokenStream:
    def __init__(self, fail_after):
        self.written = []
        self.fail_after = fail_after

    def write(self, text):
        if len(self.written) == self.fail_after:
            raise StreamError("cannot write")
        self.written.append(text)
        return len(text)

    def flush(self):
        pass


@pytest.mark.parametrize("fail_after", [0, 5, 40])
def test_a_failing_sys_stdout_propagates(env, fail_after):
    before = state_fields(env.save_state())
    stream = BrokenStream(fail_after)
    with contextlib.redirect_stdout(stream), pytest.raises(StreamError, match="cannot write"):
        env.render()
    assert len(stream.written) == fail_after
    assert "".join(stream.written) == START_GLYPH_TEXT[: len("".join(stream.written))]
    assert state_fields(env.save_state()) == before
    # The environment works on normally afterwards.
    assert env.step(8 * 64 + 52)[3] == 0


def test_glyph_board_follows_the_current_sys_stdout(env, monkeypatch):
    first, second = io.StringIO(), io.StringIO()
    monkeypatch.setattr(sys, "stdout", first)
    env.render()
    monkeypatch.setattr(sys, "stdout", second)
    env.render()
    monkeypatch.undo()
    assert first.getvalue() == START_GLYPH_TEXT
    assert second.getvalue() == START_GLYPH_TEXT


def test_without_sys_stdout_the_first_glyph_print_raises(env, monkeypatch, capfd):
    # The error surfaces at the first interpreter print, after the whole letter board.
    flush_c_stdout()
    capfd.readouterr()
    monkeypatch.setattr(sys, "stdout", None)
    with pytest.raises(AttributeError, match="write"):
        env.render()
    monkeypatch.undo()
    flush_c_stdout()
    assert capfd.readouterr().out == START_PROCESS_TEXT


def test_on_a_terminal_the_two_boards_come_out_one_after_the_other():
    # Both streams line-buffered on one pseudo-terminal, as in an interactive session.
    leader, follower = os.openpty()
    code = "import ortolan; env = ortolan.Ortolan(); env.reset(); env.render()"
    environment = {**os.environ, "PYTHONIOENCODING": "utf-8"}
    with subprocess.Popen(
        [sys.executable, "-c", code], stdout=follower, stderr=subprocess.PIPE, env=environment
    ) as child:
        os.close(follower)
        chunks = []
        while True:
            try:
                chunk = os.read(leader, 4096)
            except OSError:  # EIO once the child has closed the terminal
                break
            if not chunk:
                break
            chunks.append(chunk)
        assert child.wait(timeout=30) == 0, child.stderr.read()
    os.close(leader)
    text = b"".join(chunks).decode().replace("\r\n", "\n")
    assert text == START_PROCESS_TEXT + START_GLYPH_TEXT
