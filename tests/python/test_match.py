"""ortolan-match: its statistics against values worked out by hand, a short match against
Stockfish, and engines that crash, hang or play an illegal move."""

import math
import shutil
import sys
from pathlib import Path

import chess
import chess.pgn
import pytest

from ortolan_match import (
    Adjudication,
    EngineSpec,
    Match,
    Sprt,
    TimeControl,
    elo_of,
    estimate,
    judge,
    main,
    random_openings,
    read_openings,
)

HERE = Path(__file__).parent
FAKE = [sys.executable, str(HERE / "fake_engine.py")]
STOCKFISH = shutil.which("stockfish") or shutil.which("/usr/games/stockfish")


def test_elo_interval_los_and_sprt_match_hand_computations():
    # A 75 % score: -400 log10(1 / 0.75 - 1) = 400 log10(3) = 190.85.
    assert elo_of(0.75) == pytest.approx(190.85, abs=0.01)
    # Ten pairs scoring 0, 0.5, 1, 1, 1.5, 1.5, 1.5, 2, 2, 2: per-game means 0, .25, .5, .75, 1
    # counted 1, 1, 2, 3, 3. Mean 6.5 / 10 = 0.65; variance (0.4225 + 0.16 + 2 * 0.0225 +
    # 3 * 0.01 + 3 * 0.1225) / 10 = 0.1025; standard error sqrt(0.1025 / 10) = 0.101242.
    result = estimate([1, 1, 2, 3, 3])
    assert result.pairs == 10
    assert result.score == pytest.approx(0.65)
    # Elo of 0.65: 400 log10(0.65 / 0.35) = 107.54; the interval 0.65 -+ 1.96 * 0.101242 =
    # 0.451569 .. 0.848431, which is -33.76 .. +299.20 Elo.
    assert result.elo == pytest.approx(107.54, abs=0.01)
    assert result.low == pytest.approx(-33.76, abs=0.01)
    assert result.high == pytest.approx(299.20, abs=0.01)
    # LOS: Phi(0.15 / 0.101242) = Phi(1.4816) = 0.9308.
    assert result.los == pytest.approx(0.9308, abs=1e-4)
    # SPRT elo0 = 0, elo1 = 10: s0 = 0.5, s1 = 1 / (1 + 10^(-1/40)) = 0.514387; LLR =
    # 10 * 0.014387 * (1.3 - 1.014387) / (2 * 0.1025) = 0.2004; bounds -+ln(19) = -+2.944.
    test = Sprt(elo0=0, elo1=10, alpha=0.05, beta=0.05)
    assert test.llr([1, 1, 2, 3, 3]) == pytest.approx(0.2004, abs=1e-3)
    assert test.bounds == pytest.approx((-math.log(19), math.log(19)))
    assert test.decision([1, 1, 2, 3, 3]) is None
    # Two hundred such pairs: LLR 20 times as large, 4.009, past the upper bound.
    assert test.decision([20, 20, 40, 60, 60]) == "H1"
    # Pairs all drawn and all lost put the second engine ahead: H0.
    assert test.decision([30, 0, 100, 0, 0]) == "H0"


def test_openings_from_files_and_random_plies(tmp_path):
    epd = tmp_path / "book.epd"
    epd.write_text(
        "# a comment\n"
        'rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - id "e4";\n'
        "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3\n"
    )
    fens = [o.board().fen() for o in read_openings(str(epd), 8)]
    assert fens == [
        "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1",
        "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3",
    ]
    pgn = tmp_path / "book.pgn"
    pgn.write_text("1. d4 d5 2. c4 e6 3. Nc3 *\n\n1. e4 c5 *\n")
    boards = [o.board() for o in read_openings(str(pgn), 4)]
    assert [b.fen() for b in boards] == [
        "rnbqkbnr/ppp2ppp/4p3/3p4/2PP4/8/PP2PPPP/RNBQKBNR w KQkq - 0 3",
        "rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2",
    ]
    openings = random_openings(5, 6, seed=3)
    assert openings == random_openings(5, 6, seed=3) != random_openings(5, 6, seed=4)
    assert all(len(o.moves) == 6 and judge(o.board()) is None for o in openings)


def read_games(path):
    games = []
    with open(path) as handle:
        while (game := chess.pgn.read_game(handle)) is not None:
            games.append(game)
    return games


@pytest.mark.skipif(STOCKFISH is None, reason="stockfish is not installed")
def test_a_short_match_against_stockfish_plays_out_and_is_written_game_by_game(tmp_path, capsys):
    pgn = tmp_path / "games.pgn"
    code = main(
        [
            "--engine",
            "ortolan-uci",
            "option.Threads=2",
            "name=ortolan",
            "--engine",
            STOCKFISH,
            "option.UCI_LimitStrength=true",
            "option.UCI_Elo=1350",
            "movetime=20",  # Stockfish's own limit; ortolan-uci is on the clock
            "name=Stockfish",
            "--games",
            "2",
            "--tc",
            "1+0.05",
            "--time-margin",
            "0.2",
            "--random-plies",
            "4",
            "--pgn",
            str(pgn),
        ]
    )
    assert code == 0
    out = capsys.readouterr().out
    assert "games 2/2" in out
    games = read_games(pgn)
    assert len(games) == 2
    # Colours swapped over one opening.
    assert games[0].headers["White"] == games[1].headers["Black"] == "ortolan"
    assert games[0].headers["FEN"] == games[1].headers["FEN"]
    for game in games:
        headers = game.headers
        assert headers["Termination"] == "normal", game.end().comment
        assert headers["TimeControl"] == "1+0.05"
        board = game.board()
        for move in game.mainline_moves():
            assert move in board.legal_moves
            board.push(move)
        assert int(headers["PlyCount"]) == len(board.move_stack)
        assert judge(board)[0] == headers["Result"]


# A fake engine that plays well for 1,000 moves.
GOOD = EngineSpec([*FAKE, "crash", "1000"], name="good")


def fake_match(first: EngineSpec, *, seed: int, nodes: int, **options) -> Match:
    """Two games of one random two-ply opening, first against the good fake engine."""
    return Match(
        first,
        GOOD,
        openings=random_openings(1, 2, seed=seed),
        games=2,
        control=TimeControl(nodes=nodes),
        **options,
    )


@pytest.mark.parametrize(
    ("mode", "termination", "reason"),
    [
        ("crash", "abandoned", "crashed"),
        ("hang", "time forfeit", "did not answer"),
        ("illegal", "rules infraction", "illegal"),
    ],
)
def test_a_faulty_engine_loses_each_game_and_is_restarted(tmp_path, mode, termination, reason):
    faulty = EngineSpec([*FAKE, mode, "2"], name="faulty")
    match = fake_match(faulty, seed=1, nodes=10, margin=0.5, pgn=str(tmp_path / "games.pgn"))
    match.run()
    assert (match.wins, match.draws, match.losses) == (0, 0, 2)
    assert match.pentanomial == [1, 0, 0, 0, 0]
    for record in match.records:
        assert record.termination == termination
        assert reason in record.reason
        assert record.faulty == 0
        # Two good moves each, then the fault on the third.
        assert len(record.moves) in (4, 5)
    assert [g.headers["Termination"] for g in read_games(tmp_path / "games.pgn")] == [
        termination
    ] * 2


def test_adjudication_draws_long_games():
    match = fake_match(GOOD, seed=2, nodes=5, adjudication=Adjudication(draw_after=12))
    match.run()
    assert match.draws == 2
    assert all(r.termination == "adjudication" and len(r.moves) == 12 for r in match.records)
    assert match.pentanomial == [0, 0, 1, 0, 0]
