"""ortolan-uci driven by python-chess's chess.engine (a UCI client this project did not write)
and, for what a client hides (bad input, info strings), by its raw protocol."""

import os
import subprocess
import sys
import time
from pathlib import Path

import chess
import chess.engine
import pytest

from ortolan_uci import centipawns, move_budget

HERE = Path(__file__).parent
DATA = HERE.parent / "data"
EXAMPLES = HERE.parent.parent / "examples"
ENGINE = [sys.executable, "-m", "ortolan_uci"]


def mate_in_one_cases(count):
    cases = []
    for line in (DATA / "mate_in_one.txt").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            fen, moves = line.split(";")
            cases.append((fen.strip(), moves.split()))
    return cases[:count]


@pytest.fixture(scope="module")
def engine():
    with chess.engine.SimpleEngine.popen_uci(ENGINE, timeout=30) as uci:
        uci.configure({"Threads": 2, "Seed": 7})
        yield uci


def raw_session(lines, env=None):
    """Feeds the lines to a fresh engine, closes its input and returns what it wrote."""
    done = subprocess.run(
        ENGINE, input="\n".join(lines) + "\n", capture_output=True, text=True, timeout=60, env=env
    )
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def bestmoves(output):
    return [line.split()[1] for line in output if line.startswith("bestmove")]


def test_plays_legal_moves_under_node_and_time_limits(engine):
    board = chess.Board()
    for limit in (chess.engine.Limit(nodes=40), chess.engine.Limit(time=0.05)):
        for _ in range(3):
            began = time.monotonic()
            played = engine.play(board, limit)
            assert played.move in board.legal_moves
            if limit.time is not None:
                assert time.monotonic() - began < limit.time + 0.5
            board.push(played.move)
    # A clock of 2 s with 30 moves to go leaves well under a second for the move.
    began = time.monotonic()
    played = engine.play(board, chess.engine.Limit(white_clock=2, black_clock=2))
    assert played.move in board.legal_moves
    assert time.monotonic() - began < 1.0


def test_analysis_reports_the_most_visited_line_and_proved_mates(engine):
    board = chess.Board()
    info = engine.analyse(board, chess.engine.Limit(nodes=300))
    assert info["nodes"] == 300
    assert info["depth"] == len(info["pv"]) >= 2
    line = board.copy()
    for move in info["pv"]:
        assert move in line.legal_moves
        line.push(move)
    assert abs(info["score"].relative.score()) < 400
    for fen, mates in mate_in_one_cases(3):
        board = chess.Board(fen)
        info = engine.analyse(board, chess.engine.Limit(nodes=400))
        assert board.san(info["pv"][0]) in mates
        assert info["score"].relative == chess.engine.Mate(1)
    # The side that will be mated sees it too: mated in one after its only reply.
    board = chess.Board("k7/8/1K6/8/8/8/8/7R b - - 0 1")
    assert engine.analyse(board, chess.engine.Limit(nodes=400))["score"].relative == (
        chess.engine.Mate(-1)
    )


def test_a_game_ended_by_repetition_still_gets_a_legal_move(engine):
    board = chess.Board()
    for move in ["g1f3", "g8f6", "f3g1", "f6g8"] * 2:
        board.push_uci(move)
    assert board.is_repetition(3)
    played = engine.play(board, chess.engine.Limit(nodes=30))
    assert played.move in board.legal_moves


def test_stop_during_go_infinite_answers_a_legal_move_at_once(engine):
    board = chess.Board()
    with engine.analysis(board) as analysis:
        time.sleep(0.3)
        began = time.monotonic()
        analysis.stop()
        best = analysis.wait()
        assert time.monotonic() - began < 0.5
    assert best.move in board.legal_moves
    assert analysis.info["nodes"] > 0


def test_bad_input_is_reported_and_the_engine_answers_on():
    output = raw_session(
        [
            "uci",
            "xyzzy",
            "",
            "position",
            "position fen not a fen",
            "position startpos moves e2e4 e7e5 e1e3 g8f6",
            "go nodes twenty",
            "setoption name Threads value many",
            "setoption name Threads value 0",
            "setoption name Nonsense value 1",
            "setoption value 3",
            "setoption name Evaluator value no_such_module:f",
            "debug sideways",
            "bogus go nodes 20",
            "isready",
        ]
    )
    assert "readyok" in output
    notes = [line for line in output if line.startswith("info string")]
    assert any("illegal move e1e3" in line for line in notes)
    assert any("go: nodes needs an integer" in line for line in notes)
    assert sum("Threads" in line for line in notes) == 2
    assert any("no option named 'Nonsense'" in line for line in notes)
    assert any("no_such_module" in line for line in notes)
    # The malformed go is answered with a legal move all the same (a GUI waits for one);
    # "bogus" is skipped and "go nodes 20" searched the position before the illegal move.
    board = chess.Board()
    board.push_uci("e2e4")
    board.push_uci("e7e5")
    moves = bestmoves(output)
    assert len(moves) == 2
    assert all(chess.Move.from_uci(move) in board.legal_moves for move in moves)


def test_ended_games_reuse_and_evaluators(tmp_path):
    sys.path.insert(0, str(EXAMPLES))
    try:
        import export_onnx
    finally:
        sys.path.remove(str(EXAMPLES))
    net = tmp_path / "net.onnx"
    export_onnx.export(export_onnx.random_weights(8, 0), str(net))
    paths = [str(HERE), *filter(None, [os.environ.get("PYTHONPATH")])]
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(paths)}
    first = raw_session(
        [
            "position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1",
            "go nodes 10",
            "position fen 7k/6Q1/6K1/8/8/8/8/8 b - - 0 1",
            "go nodes 10",
        ],
        env=env,
    )
    assert bestmoves(first) == ["0000", "0000"]
    assert "info depth 0 score cp 0" in first
    assert "info depth 0 score mate 0" in first
    board = chess.Board()
    with subprocess.Popen(
        ENGINE, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env
    ) as process:
        talk(process, board, net)


def talk(process, board, net):

    def ask(*lines):
        for line in lines:
            process.stdin.write(line + "\n")
        process.stdin.flush()
        seen = []
        while not (line := process.stdout.readline()).startswith("bestmove"):
            seen.append(line.strip())
        return line.split()[1], seen

    try:
        ours, _ = ask("debug on", "position startpos", "go nodes 60")
        board.push_uci(ours)
        reply = next(iter(board.legal_moves))
        board.push(reply)
        moves = f"{ours} {reply.uci()}"
        ours, seen = ask(f"position startpos moves {moves}", "go nodes 60")
        assert "info string tree kept" in seen
        assert chess.Move.from_uci(ours) in board.legal_moves
        for evaluator in ("uci_evaluators:uniform", str(net)):
            move, seen = ask(
                f"setoption name Evaluator value {evaluator}", "position startpos", "go nodes 30"
            )
            assert "info string new tree" in seen
            assert chess.Move.from_uci(move) in chess.Board().legal_moves
            assert not any("error" in line or "failed" in line for line in seen)
    finally:
        process.stdin.close()
        assert process.wait(timeout=30) == 0


def test_time_budget_and_score_mapping():
    # 10 s left less 30 ms overhead over 30 moves, plus the increment of 0.1 s.
    assert move_budget(10_000, 100, None, 30) == pytest.approx((9970 / 30 + 100) / 1000)
    # One move to go: four fifths of what is left; an empty clock still gets a millisecond.
    assert move_budget(1_000, 0, 1, 30) == pytest.approx(0.8 * 970 / 1000)
    assert move_budget(10, 0, 5, 30) == pytest.approx(0.001)
    # 400 log10((1 + v) / (1 - v)): v = 0.5 scores 0.75, 190.85 Elo; the cap is 0.999.
    assert [centipawns(v) for v in (0.0, 0.5, -0.5, 1.0)] == [0, 191, -191, 1320]
