"""The PGN reader as Python sees it: read_pgn against python-chess, the sources it takes,
pgn_to_actions and to_pgn, and PgnBatches against VectorOrtolan stepped along the games."""

import gzip
import io
import random
from pathlib import Path

import chess
import chess.pgn
import numpy as np
import pytest
import zstandard

import ortolan
import ortolan_notation as notation
from ortolan_vector import PgnBatches, VectorOrtolan

DATA = Path(__file__).parent.parent / "data" / "pgn"
TRICKY = DATA / "tricky.pgn"


def python_chess_games(text: str) -> list[chess.pgn.Game]:
    games, stream = [], io.StringIO(text)
    while (game := chess.pgn.read_game(stream)) is not None:
        games.append(game)
    return games


def uci_line(game: notation.PgnGame) -> list[str]:
    env = ortolan.Ortolan()
    if game.fen is None:
        env.reset()
    else:
        env.parse_fen(game.fen)
    moves = []
    for action in game.actions:
        moves.append(notation.action_to_uci(env.save_state(), int(action)))
        env.step(int(action))
    return moves


def assert_same_as_python_chess(ours: notation.PgnGame, theirs: chess.pgn.Game) -> None:
    assert not theirs.errors, theirs.errors
    assert uci_line(ours) == [m.uci() for m in theirs.mainline_moves()]
    for name, value in ours.tags.items():
        # python-chess keeps the escapes of a tag value as they stand; PGN's \" and \\ are read.
        raw = theirs.headers[name]
        assert raw.replace('\\"', '"').replace("\\\\", "\\") == value, name
    assert ours.result == theirs.headers.get("Result", "*")


@pytest.fixture(scope="module")
def generated() -> tuple[str, list[list[str]]]:
    """Random games written by python-chess with comments, clock and eval annotations, NAGs and
    variations, and their main lines; one plays on past a third occurrence."""
    rng = random.Random(7)
    texts, lines = [], []
    for number in range(300):
        board = chess.Board()
        game = chess.pgn.Game()
        game.headers["Event"] = f"generated {number}"
        node = game
        shuffle = ["g1f3", "g8f6", "f3g1", "f6g8"] * 4 if number == 0 else []
        for ply in range(rng.randrange(0, 120)):
            moves = list(board.legal_moves)
            if not moves:
                break
            move = chess.Move.from_uci(shuffle[ply]) if ply < len(shuffle) else rng.choice(moves)
            if rng.random() < 0.1 and len(moves) > 1:
                side = node.add_variation(rng.choice([m for m in moves if m != move]))
                side.comment = "a side line"
            node = node.add_main_variation(move)
            if rng.random() < 0.3:
                node.comment = f"[%clk 0:0{rng.randrange(10)}:00] [%eval {rng.uniform(-3, 3):.2f}]"
            if rng.random() < 0.2:
                node.nags.add(rng.randrange(1, 7))
            board.push(move)
        game.headers["Result"] = board.result(claim_draw=False)
        texts.append(str(game))
        lines.append([m.uci() for m in game.mainline_moves()])
    return "\n\n".join(texts) + "\n", lines


def test_tricky_cases_read_as_python_chess_reads_them() -> None:
    text = TRICKY.read_text()
    reader = notation.read_pgn(TRICKY)
    games = list(reader)
    theirs: dict[str, chess.pgn.Game] = {}
    for g in python_chess_games(text):  # the game without tags is the first with Event "?"
        theirs.setdefault(g.headers.get("Event", "?"), g)
    assert [g.number for g in games] == [1, 2, 3, 4, 5, 6, 7, 16]
    # python-chess reads the game after the unclosed comment into the comment.
    assert "After the bad ones" not in theirs
    for game in games[:-1]:
        assert_same_as_python_chess(game, theirs[game.tags.get("Event", "?")])
    rows = (DATA / "tricky_skips.txt").read_text().splitlines()
    expected = [(int(n), r, t) for n, r, t in (x.split("|") for x in rows if x[0] != "#")]
    assert [(s.number, s.reason, s.token) for s in reader.skipped] == expected
    # Where python-chess is more lenient, it reads the game.
    for event in ("A move in UCI notation", "A null move"):
        assert theirs[event].mainline_moves()
    assert games[4].ending == "checkmate"
    assert games[4].ending_ply == 7
    assert games[2].fen == "r3k2r/1P6/8/8/8/8/6p1/R3K2R w KQkq - 0 1"


def test_generated_games_read_as_python_chess_reads_them(generated) -> None:
    text, lines = generated
    games = list(notation.read_pgn(text.encode(), rules="ortolan"))
    assert [uci_line(g) for g in games] == lines
    for ours, theirs in zip(games, python_chess_games(text), strict=True):
        assert ours.result == theirs.headers["Result"]


def test_game_text_of_long_algebraic_moves_reads_back(generated) -> None:
    """The demo writes its games with game_text and action_to_lan; the reader reads that text
    back, as python-chess does."""
    games = list(notation.read_pgn(generated[0].encode(), rules="ortolan"))[:40]
    for game in games:
        env = ortolan.Ortolan()
        env.reset()
        moves = []
        for action in game.actions.tolist():
            moves.append(notation.action_to_lan(env.save_state(), action))
            env.step(action)
        movetext = notation.game_text(moves) + " *\n"
        (back,) = notation.read_pgn(movetext.encode(), rules="ortolan")
        assert back.actions.tolist() == game.actions.tolist()
        theirs = chess.pgn.read_game(io.StringIO(movetext))
        assert [m.uci() for m in theirs.mainline_moves()] == uci_line(game)


def test_sources_compression_and_parts(tmp_path, generated) -> None:
    text, lines = generated
    data = text.encode()
    plain = tmp_path / "games.pgn"
    plain.write_bytes(data)
    (tmp_path / "games.pgn.gz").write_bytes(gzip.compress(data))
    (tmp_path / "games.pgn.zst").write_bytes(zstandard.ZstdCompressor().compress(data))
    whole = list(notation.read_pgn(plain))
    assert [uci_line(g) for g in whole] == lines
    expected = [g.actions.tolist() for g in whole]
    for source in (
        tmp_path / "games.pgn.gz",
        str(tmp_path / "games.pgn.zst"),
        io.BytesIO(data),
        io.StringIO(text),
    ):
        assert [g.actions.tolist() for g in notation.read_pgn(source)] == expected
    for name in ("games.pgn", "games.pgn.zst"):
        parts = [list(notation.read_pgn(tmp_path / name, part=k, parts=3)) for k in range(3)]
        assert all(parts) or name.endswith(".zst")  # a small compressed file is one chunk
        assert [g.actions.tolist() for part in parts for g in part] == expected
        assert [g.line for part in parts for g in part] == [g.line for g in whole]
    packed = zstandard.ZstdCompressor(write_checksum=True).compress(data)
    for broken in (packed[:2000] + bytes(64) + packed[2064:], packed[: len(packed) // 2]):
        (tmp_path / "broken.pgn.zst").write_bytes(broken)
        with pytest.raises(ValueError, match=r"malformed at byte \d+"):
            list(notation.read_pgn(tmp_path / "broken.pgn.zst"))
    with pytest.raises(TypeError):
        notation.read_pgn(42)  # type: ignore[arg-type]


def test_pgn_to_actions_and_to_pgn_faults() -> None:
    with pytest.raises(ValueError, match="unreadable move"):
        notation.pgn_to_actions("garbage")
    with pytest.raises(ValueError, match="no game"):
        notation.pgn_to_actions("")
    assert notation.pgn_to_actions(b"1. d4 Nf6 2. c4 e6 *") == [563, 3910, 562, 460]
    with pytest.raises(ValueError, match="variant other than standard chess"):
        notation.pgn_to_actions('[Variant "Atomic"]\n\n1. e4 d5 2. exd5 *')
    with pytest.raises(ValueError, match="unreadable move at 'P@e5'"):  # a drop, untagged
        notation.pgn_to_actions("1. e4 d5 2. exd5 Qxd5 3. Nc3 Qa5 4. P@e5 *")
    with pytest.raises(ValueError, match="cannot be loaded"):
        notation.to_pgn([], fen="garbage")
    # A third occurrence at ply 8, played on: a draw by repetition, whatever follows.
    shuffle = notation.pgn_to_actions("1. Nf3 Nf6 2. Ng1 Ng8 3. Nf3 Nf6 4. Ng1 Ng8 5. e4 *")
    text = notation.to_pgn(shuffle, tags={"White": "me", "Site": "here"})
    game = chess.pgn.read_game(io.StringIO(text))
    assert list(game.headers) == [
        "Event",
        "Site",
        "Date",
        "Round",
        "White",
        "Black",
        "Result",
        "Termination",
    ]
    assert game.headers["Result"] == "1/2-1/2"
    assert game.headers["Termination"] == "threefold_repetition"
    assert game.headers["White"] == "me"
    mate = notation.pgn_to_actions("1. f3 e5 2. g4 Qh4# *")
    assert '[Result "0-1"]' in notation.to_pgn(mate)
    assert '[Termination "unterminated"]' in notation.to_pgn(mate[:3])
    bare = notation.to_pgn([], fen="4k3/8/8/8/8/8/8/4K3 w - - 0 1")
    assert '[Result "1/2-1/2"]' in bare
    assert '[Termination "insufficient_material"]' in bare


def vector_rows(games: list[notation.PgnGame], rules: str) -> tuple[np.ndarray, np.ndarray]:
    observations, masks = [], []
    for game in games:
        env = VectorOrtolan(1, dtype=np.int32, threads=1, rules=rules, autoreset_mode="disabled")
        obs, _ = env.reset(options={"fens": [game.fen]})
        for action in game.actions:
            observations.append(obs["observation"][0])
            masks.append(obs["action_mask"][0])
            obs, *_ = env.step(np.array([action]))
    return np.array(observations), np.array(masks)


@pytest.mark.parametrize("rules", ["standard", "fide", "ortolan"])
def test_batches_equal_vector_ortolan_on_every_position(generated, rules) -> None:
    text, _ = generated
    # A start from a FEN with Black to move and clocks of its own.
    data = (
        text + '\n[FEN "4k3/8/8/8/4P3/8/8/4K2R b K e3 7 30"]\n[Result "1/2-1/2"]\n\n'
        "30... Kd7 31. O-O Ke6 32. Rf2 1/2-1/2\n"
    ).encode()
    games = list(notation.read_pgn(data, rules=rules))
    assert games[-1].fen is not None
    expected, masks = vector_rows(games, rules)
    finished = np.repeat([g.result != "*" for g in games], [len(g.actions) for g in games])
    assert 0 < finished.sum() < len(finished)
    # Games played on past a draw by rule are among them.
    assert any(g.ending is not None and g.ending_ply < len(g.actions) for g in games)
    outcome = {"1-0": 1.0, "0-1": -1.0, "1/2-1/2": 0.0, "*": 0.0}
    results = {}
    for threads in (1, 2):
        batches = list(
            PgnBatches(
                data,
                256,
                dtype=np.int32,
                rules=rules,
                threads=threads,
                action_mask=True,
                unfinished=True,
            )
        )
        got = {k: np.concatenate([b[k] for b in batches]) for k in batches[0]}
        results[threads] = got
    assert all(np.array_equal(results[1][k], results[2][k]) for k in results[1])
    got = results[1]
    assert np.array_equal(got["observation"], expected)
    assert np.array_equal(got["action_mask"], masks)
    assert np.array_equal(got["action"], np.concatenate([g.actions for g in games]))
    assert np.array_equal(
        got["game"], np.repeat(np.arange(len(games)), [len(g.actions) for g in games])
    )
    white = np.array([outcome[g.result] for g in games for _ in g.actions])
    to_move = np.concatenate([(np.arange(len(g.actions)) + (g.fen is not None)) % 2 for g in games])
    assert np.array_equal(got["outcome"], np.where(to_move == 0, white, -white))

    # Sampling, the games left out for their result "*" and the shuffle buffer pick from the
    # same positions.
    sampled = np.concatenate(
        [
            b["observation"]
            for b in PgnBatches(data, 100, dtype=np.int32, rules=rules, skip_plies=4, every=3)
        ]
    )
    keep = np.concatenate(
        [
            (np.arange(len(g.actions)) >= 4) & ((np.arange(len(g.actions)) - 4) % 3 == 0)
            for g in games
        ]
    )
    assert np.array_equal(sampled, expected[keep & finished])
    shuffled = [PgnBatches(data, 64, rules=rules, shuffle=500, seed=3, threads=t) for t in (1, 2)]
    first, second = [np.concatenate([b["ply"] for b in s]) for s in shuffled]
    assert np.array_equal(first, second)
    assert len(first) == finished.sum()
    assert not np.array_equal(first, got["ply"][finished])
    assert sorted(first) == sorted(got["ply"][finished])
