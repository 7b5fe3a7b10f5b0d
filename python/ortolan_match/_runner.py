"""Matches between two UCI engines over python-chess's ``chess.engine``: openings, game pairs
with colours swapped, clocks, adjudication, faults, PGN output and the running score."""

from __future__ import annotations

import asyncio
import contextlib
import dataclasses
import datetime
import io
import random
import shlex
import shutil
import sys
import threading
import time
from collections.abc import Callable, Sequence
from concurrent.futures import ThreadPoolExecutor
from typing import TextIO

import chess
import chess.engine
import chess.pgn

from ortolan_match import _stats

MATE_SCORE = 100_000


@dataclasses.dataclass
class EngineSpec:
    """A UCI command line and the options to set on it."""

    command: list[str]
    options: dict[str, str] = dataclasses.field(default_factory=dict)
    name: str | None = None
    # This engine's own limit a move, in place of the match's.
    nodes: int | None = None
    movetime: float | None = None  # seconds

    @classmethod
    def parse(cls, words: Sequence[str]) -> EngineSpec:
        """``COMMAND [option.Name=value ...] [name=NAME] [nodes=N] [movetime=MS]``: the command
        is one word or a quoted command line; ``ortolan-uci`` runs this interpreter's engine;
        nodes and movetime give this engine its own limit a move."""
        if not words:
            raise ValueError("an engine needs a command")
        command = shlex.split(words[0])
        if command == ["ortolan-uci"]:
            command = [sys.executable, "-m", "ortolan_uci"]
        spec = cls(command)
        for word in words[1:]:
            key, equals, value = word.partition("=")
            if not equals:
                raise ValueError(f"engine setting {word!r} is not key=value")
            if key.startswith("option."):
                spec.options[key[len("option.") :]] = value
            elif key == "name":
                spec.name = value
            elif key == "nodes":
                spec.nodes = int(value)
            elif key == "movetime":
                spec.movetime = int(value) / 1000.0
            else:
                raise ValueError(
                    f"engine setting {word!r}: use option.Name=value, name=, nodes= or movetime="
                )
        return spec

    @property
    def label(self) -> str:
        return self.name or " ".join(self.command)


@dataclasses.dataclass(frozen=True)
class TimeControl:
    """Per move ``nodes`` or ``movetime`` (seconds), or a clock of ``base`` seconds with an
    ``increment`` a move."""

    nodes: int | None = None
    movetime: float | None = None
    base: float | None = None
    increment: float = 0.0

    @classmethod
    def parse_clock(cls, text: str) -> TimeControl:
        """``10+0.1``: 10 seconds and 0.1 a move; ``60``: a minute without increment."""
        base, _, increment = text.partition("+")
        return cls(base=float(base), increment=float(increment or 0.0))

    @property
    def pgn(self) -> str:
        if self.base is not None:
            return f"{self.base:g}+{self.increment:g}"
        if self.movetime is not None:
            return f"movetime={self.movetime:g}"
        return f"nodes={self.nodes}" if self.nodes is not None else "-"


@dataclasses.dataclass(frozen=True)
class Adjudication:
    draw_after: int | None = None  # plies
    resign_score: int | None = None  # centipawns
    resign_moves: int = 3  # each engine's moves in a row


@dataclasses.dataclass(frozen=True)
class Opening:
    fen: str
    moves: tuple[str, ...] = ()

    def board(self) -> chess.Board:
        board = chess.Board(self.fen)
        for move in self.moves:
            board.push_uci(move)
        return board


def read_openings(path: str, plies: int) -> list[Opening]:
    """Openings from an EPD or FEN file (one position a line) or the first ``plies`` moves of
    each game of a PGN file."""
    openings = []
    if path.lower().endswith(".pgn"):
        with open(path, encoding="utf-8") as handle:
            while (game := chess.pgn.read_game(handle)) is not None:
                moves = [move.uci() for move in game.mainline_moves()][:plies]
                openings.append(Opening(game.board().fen(), tuple(moves)))
    else:
        with open(path, encoding="utf-8") as handle:
            for line in handle:
                text = line.strip()
                if not text or text.startswith("#"):
                    continue
                try:
                    board = chess.Board(text)
                except ValueError:
                    board, _ = chess.Board.from_epd(text)
                openings.append(Opening(board.fen()))
    if not openings:
        raise ValueError(f"{path} holds no openings")
    return openings


def random_openings(count: int, plies: int, seed: int) -> list[Opening]:
    """``count`` openings of ``plies`` uniformly random legal moves from the start, drawn from
    ``seed``; an opening whose game ends within them is drawn again."""
    generator = random.Random(seed)
    openings = []
    while len(openings) < count:
        board = chess.Board()
        for _ in range(plies):
            moves = list(board.legal_moves)
            if not moves:
                break
            board.push(generator.choice(moves))
        if judge(board) is None:
            openings.append(Opening(chess.STARTING_FEN, tuple(m.uci() for m in board.move_stack)))
    return openings


def judge(board: chess.Board) -> tuple[str, str] | None:
    """(result, reason) once the game has ended under the standard rules, else None."""
    if board.is_checkmate():
        return ("0-1" if board.turn == chess.WHITE else "1-0"), "checkmate"
    if board.is_stalemate():
        return "1/2-1/2", "stalemate"
    if board.is_insufficient_material():
        return "1/2-1/2", "insufficient material"
    if board.is_fifty_moves():
        return "1/2-1/2", "fifty-move rule"
    if board.is_repetition(3):
        return "1/2-1/2", "threefold repetition"
    return None


@dataclasses.dataclass
class GameRecord:
    white: str
    black: str
    opening: Opening
    moves: list[chess.Move]
    result: str
    termination: str  # the PGN tag: normal, adjudication, time forfeit, rules infraction, ...
    reason: str  # what happened, in words
    faulty: int | None = None  # the seat (0 first engine, 1 second) whose engine failed


class Fault(Exception):
    def __init__(self, termination: str, reason: str):
        super().__init__(reason)
        self.termination = termination
        self.reason = reason


class Player:
    """One engine process, started again after a fault."""

    def __init__(self, spec: EngineSpec, margin: float):
        self.spec = spec
        self.margin = margin
        self.engine: chess.engine.SimpleEngine | None = None
        self.restarts = 0

    def start(self) -> chess.engine.SimpleEngine:
        if self.engine is None:
            engine = chess.engine.SimpleEngine.popen_uci(
                self.spec.command, timeout=max(self.margin, 10.0)
            )
            try:
                if self.spec.options:
                    engine.configure(self.spec.options)
            except Exception:
                engine.close()
                raise
            self.engine = engine
        return self.engine

    def restart(self) -> None:
        if self.engine is not None:
            with contextlib.suppress(Exception):
                self.engine.close()
            self.engine = None
            self.restarts += 1

    def close(self) -> None:
        if self.engine is not None:
            with contextlib.suppress(Exception):
                self.engine.quit()
            with contextlib.suppress(Exception):
                self.engine.close()
            self.engine = None

    def play(
        self, board: chess.Board, limit: chess.engine.Limit, game: object, timeout: float
    ) -> chess.engine.PlayResult:
        """The engine's move, or Fault when it crashes, hangs past `timeout` or answers with a
        move that is not legal."""
        try:
            engine = self.start()
            coroutine = engine.protocol.play(
                board, limit, game=game, info=chess.engine.INFO_SCORE, ponder=False
            )
            future = asyncio.run_coroutine_threadsafe(
                asyncio.wait_for(coroutine, timeout), engine.protocol.loop
            )
            return future.result()
        except chess.engine.EngineTerminatedError as error:
            raise Fault("abandoned", f"{self.spec.label} crashed: {error}") from None
        except TimeoutError:
            raise Fault(
                "time forfeit", f"{self.spec.label} did not answer within {timeout:.2f} s"
            ) from None
        except chess.engine.EngineError as error:
            raise Fault("rules infraction", f"{self.spec.label}: {error}") from None


class Match:
    """Engine ``first`` against engine ``second``: each opening twice, colours swapped."""

    def __init__(
        self,
        first: EngineSpec,
        second: EngineSpec,
        *,
        openings: Sequence[Opening],
        games: int,
        control: TimeControl,
        concurrency: int = 1,
        adjudication: Adjudication | None = None,
        sprt: _stats.Sprt | None = None,
        pgn: str | None = None,
        margin: float = 2.0,
        time_margin: float = 0.0,
        event: str = "ortolan-match",
        progress: TextIO | None = None,
    ):
        if games < 1 or concurrency < 1:
            raise ValueError("games and concurrency must be at least 1")
        self.first, self.second = first, second
        self.openings = list(openings)
        self.pairs = (games + 1) // 2
        self.control = control
        self.concurrency = concurrency
        self.adjudication = adjudication or Adjudication()
        self.sprt = sprt
        self.pgn = pgn
        self.margin = margin
        self.time_margin = time_margin
        self.event = event
        self.progress = progress
        self.lock = threading.Lock()
        self.pentanomial = [0, 0, 0, 0, 0]
        self.wins = self.draws = self.losses = 0
        self.records: list[GameRecord] = []
        self.own_times: list[float] = []  # seconds of the runner's own work a move
        self.decision: str | None = None
        self.stopped = threading.Event()

    # ---- one game -----------------------------------------------------------------------
    def play_game(self, players: Sequence[Player], white_seat: int, opening: Opening) -> GameRecord:
        board = opening.board()
        seats = (white_seat, 1 - white_seat)  # seat of White's engine, of Black's
        names = [players[s].spec.label for s in seats]
        clocks = [self.control.base or 0.0, self.control.base or 0.0]
        adjudication = self.adjudication
        streaks = [[0, 0], [0, 0]]
        moves: list[chess.Move] = []
        game_id = object()
        outcome: tuple[str, str, str] | None = None
        faulty: int | None = None
        mark = time.perf_counter()
        waited = 0.0
        while outcome is None:
            ended = judge(board)
            if ended is not None:
                outcome = (ended[0], "normal", ended[1])
                break
            if adjudication.draw_after is not None and len(moves) >= adjudication.draw_after:
                outcome = ("1/2-1/2", "adjudication", f"draw after {len(moves)} plies")
                break
            colour = 0 if board.turn == chess.WHITE else 1
            player = players[seats[colour]]
            limit, timeout = self._limit(clocks, colour, player.spec)
            self.own_times.append(time.perf_counter() - mark - waited)
            began = time.perf_counter()
            try:
                played = player.play(board, limit, game_id, timeout)
            except Fault as fault:
                player.restart()
                faulty = seats[colour]
                loss = "0-1" if colour == 0 else "1-0"
                outcome = (loss, fault.termination, fault.reason)
                break
            mark = time.perf_counter()
            waited = 0.0
            used = mark - began
            own_limit = player.spec.nodes is not None or player.spec.movetime is not None
            if self.control.base is not None and not own_limit:
                clocks[colour] -= used
                if clocks[colour] < -self.time_margin:
                    loss = "0-1" if colour == 0 else "1-0"
                    outcome = (loss, "time forfeit", f"{names[colour]} lost on time")
                    break
                clocks[colour] += self.control.increment
            move = played.move
            if move is None:
                player.restart()
                faulty = seats[colour]
                loss = "0-1" if colour == 0 else "1-0"
                outcome = (loss, "rules infraction", f"{names[colour]} played no move")
                break
            board.push(move)
            moves.append(move)
            if adjudication.resign_score is not None:
                outcome = self._resign(played, colour, streaks, names)
        return GameRecord(
            names[0], names[1], opening, moves, outcome[0], outcome[1], outcome[2], faulty
        )

    def _limit(
        self, clocks: list[float], colour: int, spec: EngineSpec
    ) -> tuple[chess.engine.Limit, float]:
        control = self.control
        if spec.nodes is not None or spec.movetime is not None:
            control = TimeControl(nodes=spec.nodes, movetime=spec.movetime)
        if control.base is not None:
            limit = chess.engine.Limit(
                white_clock=max(clocks[0], 0.001),
                black_clock=max(clocks[1], 0.001),
                white_inc=control.increment,
                black_inc=control.increment,
            )
            return limit, max(clocks[colour], 0.0) + self.margin
        if control.movetime is not None:
            return chess.engine.Limit(time=control.movetime), control.movetime + self.margin
        return chess.engine.Limit(nodes=control.nodes), self.margin

    def _resign(
        self,
        played: chess.engine.PlayResult,
        colour: int,
        streaks: list[list[int]],
        names: list[str],
    ) -> tuple[str, str, str] | None:
        """A resignation once both engines, each for its last `resign_moves` moves, reported
        the same side lost by at least the threshold. streaks[c] counts colour c's moves in a
        row with White lost (index 0) and with Black lost (index 1)."""
        threshold = self.adjudication.resign_score or 0
        score = played.info.get("score")
        white = None if score is None else score.white().score(mate_score=MATE_SCORE)
        streaks[colour][0] = (
            streaks[colour][0] + 1 if white is not None and white <= -threshold else 0
        )
        streaks[colour][1] = (
            streaks[colour][1] + 1 if white is not None and white >= threshold else 0
        )
        needed = self.adjudication.resign_moves
        if streaks[0][0] >= needed and streaks[1][0] >= needed:
            return ("0-1", "adjudication", f"{names[0]} (White) resigned")
        if streaks[0][1] >= needed and streaks[1][1] >= needed:
            return ("1-0", "adjudication", f"{names[1]} (Black) resigned")
        return None

    # ---- the match ----------------------------------------------------------------------
    def run(self) -> _stats.Estimate:
        """Plays the pairs on `concurrency` workers, each with its own two engines; stops early
        when the SPRT decides. Returns the estimate of the first engine's Elo difference."""
        pairs = list(range(self.pairs))
        cursor = iter(pairs)
        cursor_lock = threading.Lock()

        def worker() -> None:
            players = [Player(self.first, self.margin), Player(self.second, self.margin)]
            try:
                while not self.stopped.is_set():
                    with cursor_lock:
                        index = next(cursor, None)
                    if index is None:
                        return
                    opening = self.openings[index % len(self.openings)]
                    pair = [self.play_game(players, seat, opening) for seat in (0, 1)]
                    self._record(index, pair)
            finally:
                for player in players:
                    player.close()

        with ThreadPoolExecutor(self.concurrency) as pool:
            for future in [pool.submit(worker) for _ in range(self.concurrency)]:
                future.result()
        return _stats.estimate(self.pentanomial)

    def _record(self, index: int, pair: list[GameRecord]) -> None:
        points = 0.0
        for record, seat in zip(pair, (0, 1), strict=True):
            score = {"1-0": 1.0, "0-1": 0.0, "1/2-1/2": 0.5}[record.result]
            mine = score if seat == 0 else 1.0 - score
            points += mine
        with self.lock:
            for seat, record in enumerate(pair):
                mine = {"1-0": 1.0, "0-1": 0.0, "1/2-1/2": 0.5}[record.result]
                mine = mine if seat == 0 else 1.0 - mine
                self.wins += mine == 1.0
                self.draws += mine == 0.5
                self.losses += mine == 0.0
                self.records.append(record)
                if self.pgn:
                    self._write_pgn(record, len(self.records))
            self.pentanomial[round(points * 2)] += 1
            if self.sprt is not None and self.decision is None:
                self.decision = self.sprt.decision(self.pentanomial)
                if self.decision is not None:
                    self.stopped.set()
            if self.progress is not None:
                self.progress.write(self.progress_line() + "\n")
                self.progress.flush()

    def progress_line(self) -> str:
        games = self.wins + self.draws + self.losses
        points = self.wins + 0.5 * self.draws
        line = (
            f"games {games}/{2 * self.pairs}: {self.first.label} {points:g} - "
            f"{games - points:g} {self.second.label} (+{self.wins} ={self.draws} -{self.losses})"
        )
        if self.sprt is not None:
            lower, upper = self.sprt.bounds
            line += f" LLR {self.sprt.llr(self.pentanomial):.2f} [{lower:.2f}, {upper:.2f}]"
        return line

    def _write_pgn(self, record: GameRecord, number: int) -> None:
        game = chess.pgn.Game()
        board = record.opening.board()
        game.headers["Event"] = self.event
        game.headers["Site"] = "?"
        game.headers["Date"] = datetime.date.today().strftime("%Y.%m.%d")
        game.headers["Round"] = str(number)
        game.headers["White"] = record.white
        game.headers["Black"] = record.black
        game.headers["Result"] = record.result
        game.headers["Termination"] = record.termination
        game.headers["TimeControl"] = self.control.pgn
        game.headers["PlyCount"] = str(len(record.moves))
        game.setup(board)
        node: chess.pgn.GameNode = game
        for move in record.moves:
            node = node.add_variation(move)
        node.comment = record.reason
        text = io.StringIO()
        print(game, file=text, end="\n\n")
        assert self.pgn is not None
        with open(self.pgn, "a", encoding="utf-8") as handle:
            handle.write(text.getvalue())

    def summary(self) -> str:
        result = _stats.estimate(self.pentanomial)
        lines = [
            f"{self.first.label} vs {self.second.label}: {self.wins + self.draws + self.losses} "
            f"games, +{self.wins} ={self.draws} -{self.losses}, score {result.score:.3f}",
            f"pentanomial (pairs scoring 0, 0.5, 1, 1.5, 2): {self.pentanomial}",
            f"Elo {result.elo:+.1f} (95 % interval {result.low:+.1f} to {result.high:+.1f}), "
            f"LOS {100 * result.los:.1f} %",
        ]
        if self.sprt is not None:
            lower, upper = self.sprt.bounds
            verdict = self.decision or "undecided"
            lines.append(
                f"SPRT elo0={self.sprt.elo0:g} elo1={self.sprt.elo1:g}: LLR "
                f"{self.sprt.llr(self.pentanomial):.2f} [{lower:.2f}, {upper:.2f}], {verdict}"
            )
        restarts = [r for r in self.records if r.faulty is not None]
        if restarts:
            lines.append(f"faults: {len(restarts)} (engines restarted)")
        return "\n".join(lines)


def stockfish_command() -> str:
    found = shutil.which("stockfish") or shutil.which("/usr/games/stockfish")
    if found is None:
        raise FileNotFoundError("stockfish is not installed (Debian: apt-get install stockfish)")
    return found


def anchor_specs(levels: Sequence[int]) -> Callable[[int], EngineSpec]:
    command = stockfish_command()

    def at(level: int) -> EngineSpec:
        return EngineSpec(
            [command],
            # The runner's clock counts the round trip through the client as well.
            {"UCI_LimitStrength": "true", "UCI_Elo": str(level), "Move Overhead": "100"},
            name=f"Stockfish UCI_Elo {level}",
        )

    del levels
    return at
