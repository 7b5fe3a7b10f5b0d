"""The UCI protocol over ``ortolan_vector.Search``: commands in on one thread, the search on
another, every line out through one lock."""

from __future__ import annotations

import math
import os
import sys
import threading
import time
from collections.abc import Callable, Iterable
from dataclasses import dataclass, field
from typing import Any, TextIO

import numpy as np

import ortolan_notation
import ortolan_vector
from ortolan_uci import _evaluators

NAME = "ortolan-uci"
AUTHOR = "the ortolan developers"
START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"

# The rule set the engine's games are judged by: chess's draws (python-chess's).
RULES: dict[str, Any] = {"rules": "standard"}

# A search runs in increments of this many seconds at most, so that `stop` or the clock is
# noticed between them.
SLICE = 0.01
INFO_EVERY = 1.0
PV_LENGTH = 32
# Root values beyond this are shown as this: the mapping to centipawns stays finite.
VALUE_LIMIT = 0.999


def centipawns(value: float) -> int:
    """The ``score cp`` of a root value v in [-1, 1] (the mean result for the side to move):
    ``400 * log10((1 + v) / (1 - v))``, the Elo difference that would score (1 + v) / 2, with
    |v| capped at 0.999 (so at most 1,320). Monotone and 0 at 0."""
    v = min(max(value, -VALUE_LIMIT), VALUE_LIMIT)
    return round(400.0 * math.log10((1.0 + v) / (1.0 - v)))


def move_budget(
    time_left_ms: float, increment_ms: float, moves_to_go: int | None, overhead_ms: float
) -> float:
    """Seconds to spend on a move: the time left less the overhead, shared over the moves to
    go (30 when the clock does not say), plus the increment; never more than four fifths of
    what is left, never less than a millisecond."""
    available = max(0.0, time_left_ms - overhead_ms)
    moves = max(1, min(moves_to_go or 30, 50))
    budget = min(available / moves + increment_ms, 0.8 * available)
    return max(budget, 1.0) / 1000.0


def _inner(snapshot: Any) -> Any:
    """The ortolan.State of a snapshot (a RuledState holds one): what the move conversions
    read, the side to move and the pieces."""
    return getattr(snapshot, "state", snapshot)


def _spin(name: str, default: int, low: int, high: int) -> tuple[str, int, int, int]:
    return (name, default, low, high)


SPINS = {
    "threads": _spin("Threads", 1, 1, 256),
    "nodes": _spin("Nodes", 800, 1, 2**31 - 1),
    "move overhead": _spin("Move Overhead", 30, 0, 10_000),
    "leaves": _spin("Leaves", 8, 1, 4096),
    "seed": _spin("Seed", 0, 0, 2**31 - 1),
}
STRINGS = {"evaluator": ("Evaluator", "rollout"), "cpuct": ("CPuct", "1.25")}


@dataclass
class Limits:
    nodes: int | None = None
    seconds: float | None = None
    infinite: bool = False


@dataclass
class Game:
    """A position as the GUI sent it: the start FEN and the actions of the moves after it."""

    fen: str = START_FEN
    actions: list[int] = field(default_factory=list)
    texts: list[str] = field(default_factory=list)  # the moves as the GUI wrote them
    env: Any = None  # the VectorOrtolan (one slot) standing at the end of the moves
    ended: bool = False  # the game has ended by a rule, though it may have legal moves


class Engine:
    def __init__(self, out: TextIO | None = None):
        self.out = out if out is not None else sys.stdout
        self.lock = threading.Lock()
        self.debug = False
        self.spins = {key: spec[1] for key, spec in SPINS.items()}
        self.strings = {key: spec[1] for key, spec in STRINGS.items()}
        self.c_puct = 1.25
        self.evaluate: str | _evaluators.Evaluate = "rollout"
        self.game = self._replay(START_FEN, [])
        self.search: Any = None  # the Search whose root is `searched`
        self.searched: tuple[str, tuple[int, ...]] | None = None
        self.worker: threading.Thread | None = None
        self.stopping = threading.Event()
        self.infinite = False

    # ---- output -------------------------------------------------------------------------
    def send(self, line: str) -> None:
        with self.lock:
            self.out.write(line + "\n")
            self.out.flush()

    def say(self, text: str) -> None:
        self.send("info string " + text)

    # ---- the command loop ---------------------------------------------------------------
    def run(self, lines: Iterable[str]) -> None:
        for line in lines:
            if not self.handle(line):
                break
        self.finish_search()

    def handle(self, line: str) -> bool:
        """Carries out one line; False after ``quit``."""
        tokens = line.split()
        # An unknown first word is skipped, as UCI asks, and the rest of the line tried.
        while tokens and tokens[0] not in COMMANDS:
            tokens.pop(0)
        if not tokens:
            return True
        command, arguments = tokens[0], tokens[1:]
        if command == "quit":
            self.finish_search(stop=True)
            return False
        try:
            COMMANDS[command](self, arguments)
        except Exception as error:  # a fault of ours must not end the engine
            self.say(f"error in {command}: {type(error).__name__}: {error}")
            if command == "go" and self.worker is None:
                self.send("bestmove " + self._any_legal_move())  # the GUI waits for one
        return True

    def cmd_uci(self, _: list[str]) -> None:
        self.send(f"id name {NAME}")
        self.send(f"id author {AUTHOR}")
        for name, default, low, high in SPINS.values():
            self.send(f"option name {name} type spin default {default} min {low} max {high}")
        for name, default in STRINGS.values():
            self.send(f"option name {name} type string default {default}")
        self.send("uciok")

    def cmd_isready(self, _: list[str]) -> None:
        self.send("readyok")

    def cmd_debug(self, arguments: list[str]) -> None:
        if arguments[:1] in (["on"], ["off"]):
            self.debug = arguments[0] == "on"
        else:
            self.say("debug takes on or off")

    def cmd_ucinewgame(self, _: list[str]) -> None:
        self.finish_search()
        self.search = self.searched = None

    def cmd_setoption(self, arguments: list[str]) -> None:
        self.finish_search()
        if not arguments or arguments[0] != "name":
            self.say("setoption needs: name <name> [value <value>]")
            return
        if "value" in arguments:
            split = arguments.index("value")
            name, value = " ".join(arguments[1:split]), " ".join(arguments[split + 1 :])
        else:
            name, value = " ".join(arguments[1:]), ""
        key = name.lower()
        if key in SPINS:
            spec = SPINS[key]
            try:
                number = int(value)
            except ValueError:
                self.say(f"option {spec[0]} takes an integer, not {value!r}")
                return
            if not spec[2] <= number <= spec[3]:
                self.say(f"option {spec[0]} must be in {spec[2]}..{spec[3]}, not {number}")
                return
            self.spins[key] = number
        elif key == "cpuct":
            try:
                c_puct = float(value)
            except ValueError:
                c_puct = math.nan
            if not (math.isfinite(c_puct) and c_puct >= 0.0):
                self.say(f"option CPuct takes a number >= 0, not {value!r}")
                return
            self.c_puct = c_puct
        elif key == "evaluator":
            try:
                self.evaluate = _evaluators.load(value)
            except _evaluators.EvaluatorError as error:
                self.say(str(error))
                return
        else:
            self.say(f"no option named {name!r}")
            return
        if key in STRINGS:
            self.strings[key] = value
        if key not in ("nodes", "move overhead"):
            # The tree was grown with other settings.
            self.search = self.searched = None

    def cmd_position(self, arguments: list[str]) -> None:
        self.finish_search()
        if arguments[:1] == ["startpos"]:
            fen, rest = START_FEN, arguments[1:]
        elif arguments[:1] == ["fen"]:
            end = arguments.index("moves") if "moves" in arguments else len(arguments)
            fields = arguments[1:end]
            if len(fields) == 4:
                fields = [*fields, "0", "1"]
            if len(fields) != 6:
                self.say(f"position fen needs six fields, got {' '.join(fields)!r}")
                return
            fen, rest = " ".join(fields), arguments[end:]
        else:
            self.say("position needs startpos or fen <fen>")
            return
        moves = rest[1:] if rest[:1] == ["moves"] else []
        if rest and rest[:1] != ["moves"]:
            self.say(f"position: ignored {' '.join(rest)!r}")
        self.game = self._replay(fen, moves)

    def _replay(self, fen: str, moves: list[str]) -> Game:
        """The game from the FEN through the moves, stopping at the first illegal one. A game
        that goes on from the last one (a GUI sends the whole game every move) is continued."""
        old = getattr(self, "game", None)
        if old is not None and old.fen == fen and moves[: len(old.texts)] == old.texts:
            game, moves = old, moves[len(old.texts) :]
        else:
            env = ortolan_vector.VectorOrtolan(1, threads=1, autoreset_mode="disabled", **RULES)
            try:
                env.reset(options={"fens": [fen]})
            except ValueError as error:
                self.say(f"position fen {fen!r} refused: {error}; the start position instead")
                fen, moves = START_FEN, []
                env.reset(options={"fens": [fen]})
            game = Game(fen, [], [], env)
        env = game.env
        for text in moves:
            state = env.save_state(0)
            try:
                action = ortolan_notation.uci_to_action(_inner(state), text)
            except ValueError:
                self.say(
                    f"illegal move {text} in {ortolan_notation.to_fen(state)}: "
                    "the position stops before it"
                )
                break
            _, _, terminated, truncated, _ = env.step(np.array([action], dtype=np.int32))
            game.actions.append(action)
            game.texts.append(text)
            game.ended = bool(terminated[0] or truncated[0])
        return game

    def cmd_go(self, arguments: list[str]) -> None:
        self.finish_search()
        received = time.monotonic()
        limits = self._limits(arguments)
        if limits is None:
            return
        self.stopping.clear()
        self.infinite = limits.infinite
        self.worker = threading.Thread(target=self._search, args=(limits, received), daemon=True)
        self.worker.start()

    def cmd_stop(self, _: list[str]) -> None:
        self.finish_search(stop=True)

    def cmd_ponderhit(self, _: list[str]) -> None:
        pass

    def finish_search(self, stop: bool = False) -> None:
        """Waits for a running search's bestmove: stopped at once with ``stop`` or when it
        runs until stopped (``go infinite``), otherwise at the end of its limits."""
        if self.worker is not None:
            if stop or self.infinite:
                self.stopping.set()
            self.worker.join()
            self.worker = None

    def _limits(self, arguments: list[str]) -> Limits | None:
        numbers: dict[str, int] = {}
        limits = Limits()
        words = iter(arguments)
        for word in words:
            if word == "infinite":
                limits.infinite = True
            elif word in ("wtime", "btime", "winc", "binc", "movestogo", "movetime", "nodes"):
                text = next(words, None)
                try:
                    numbers[word] = int(text or "")
                except ValueError:
                    self.say(f"go: {word} needs an integer, not {text!r}")
                    self.send("bestmove " + self._any_legal_move())  # the GUI waits for one
                    return None
            elif word in ("depth", "mate"):
                next(words, None)  # not limits this search has: ignored with their value
            # other words (ponder, searchmoves' moves, unknown ones) are ignored
        if "nodes" in numbers:
            limits.nodes = max(1, numbers["nodes"])
        overhead = self.spins["move overhead"]
        if "movetime" in numbers:
            limits.seconds = max(1, numbers["movetime"] - overhead) / 1000.0
        side = _inner(self.game.env.save_state(0)).side
        clock, increment = ("wtime", "winc") if side == 0 else ("btime", "binc")
        if clock in numbers:
            budget = move_budget(
                numbers[clock], numbers.get(increment, 0), numbers.get("movestogo"), overhead
            )
            limits.seconds = budget if limits.seconds is None else min(limits.seconds, budget)
        if limits.nodes is None and limits.seconds is None and not limits.infinite:
            limits.nodes = self.spins["nodes"]
        return limits

    # ---- the search ---------------------------------------------------------------------
    def _tree(self) -> tuple[Any, bool]:
        """The Search for the current position (the old tree when the game went on by the
        engine's move and a reply) and whether it was kept."""
        key = (self.game.fen, tuple(self.game.actions))
        old = self.searched
        if (
            self.search is not None
            and old is not None
            and old[0] == key[0]
            and len(key[1]) == len(old[1]) + 2
            and key[1][: len(old[1])] == old[1]
        ):
            try:
                for action in key[1][len(old[1]) :]:
                    self.search.advance(np.array([action], dtype=np.int32))
                self.searched = key
                return self.search, True
            except ValueError:
                pass
        self.search = self._new_search(self.game.env)
        self.searched = key
        return self.search, False

    def _new_search(self, roots: Any) -> Any:
        seed = self.spins["seed"] or int.from_bytes(os.urandom(8), "little")
        rollout = isinstance(self.evaluate, str)
        return ortolan_vector.Search(
            roots,
            simulations=1,
            c_puct=self.c_puct,
            dirichlet_fraction=0.0,
            leaves_per_batch=self.spins["leaves"],
            threads=self.spins["threads"],
            dtype=np.uint8 if rollout else np.float32,
            seed=seed,
        )

    def _fresh_root(self) -> Any:
        """A search from the position alone, without the game's history and clock: for a game
        that has ended by a draw rule, so that its legal moves are still searched."""
        fields = ortolan_notation.to_fen(self.game.env.save_state(0)).split()
        fields[4] = "0"
        env = ortolan_vector.VectorOrtolan(1, threads=1, autoreset_mode="disabled", **RULES)
        env.reset(options={"fens": [" ".join(fields)]})
        return self._new_search(env)

    def _search(self, limits: Limits, received: float) -> None:
        try:
            self._search_and_answer(limits, received)
        except Exception as error:
            self.say(f"search failed: {type(error).__name__}: {error}")
            self.send("bestmove " + self._any_legal_move())

    def _any_legal_move(self) -> str:
        actions, counts = self.game.env.legal_actions()
        if counts[0] == 0:
            return "0000"
        state = self.game.env.save_state(0)
        return ortolan_notation.action_to_uci(_inner(state), int(actions[0, 0]))

    def _search_and_answer(self, limits: Limits, started: float) -> None:
        _, counts = self.game.env.legal_actions()
        if counts[0] == 0:
            # Mate or stalemate: nothing to play. A GUI that waits for a search's end gets it.
            if limits.infinite:
                self.stopping.wait()
            mated = float(self._new_search(self.game.env).run("rollout").root_values[0]) < 0
            self.send("info depth 0 score " + ("mate 0" if mated else "cp 0"))
            self.send("bestmove 0000")
            return
        search, kept = self._tree()
        if self.debug:
            self.say("tree kept" if kept else "new tree")
        result = search.run(self.evaluate, simulations=1)
        if int(result.visit_counts.sum()) == 0:
            # The game has ended by a draw rule and the GUI plays on.
            search = self._fresh_root()
            self.search = self.searched = None
            result = search.run(self.evaluate, simulations=1)
            if int(result.visit_counts.sum()) == 0:
                self.send("info depth 0 score cp 0")
                self.send("bestmove " + self._any_legal_move())
                return
        base = int(result.visit_counts.sum()) - 1
        deadline = None if limits.seconds is None else started + limits.seconds
        last_info = started
        while not self.stopping.is_set():
            done = int(result.visit_counts.sum()) - base
            if limits.nodes is not None and done >= limits.nodes and not limits.infinite:
                break
            now = time.monotonic()
            if deadline is not None and now >= deadline and not limits.infinite:
                break
            span = SLICE if deadline is None or limits.infinite else min(SLICE, deadline - now)
            wanted = None if limits.nodes is None or limits.infinite else limits.nodes - done
            result = search.run(self.evaluate, simulations=wanted, seconds=span)
            if time.monotonic() - last_info >= INFO_EVERY:
                last_info = time.monotonic()
                self._info(search, result, base, started)
        if limits.infinite:
            self.stopping.wait()
        line = self._info(search, result, base, started)
        self.send("bestmove " + line[0])

    def _info(self, search: Any, result: Any, base: int, started: float) -> list[str]:
        line = search.principal_variation(0, PV_LENGTH)
        if not line:
            line = [self._any_legal_move()]
        nodes = int(result.visit_counts.sum()) - base
        elapsed = max(time.monotonic() - started, 1e-6)
        mate = search.proven_mate(0)
        if mate > 0:
            score = f"mate {(mate + 1) // 2}"
        elif mate < 0:
            score = f"mate {-(-mate // 2)}"
        else:
            score = f"cp {centipawns(float(result.root_values[0]))}"
        self.send(
            f"info depth {len(line)} nodes {nodes} nps {round(nodes / elapsed)} "
            f"time {round(elapsed * 1000)} score {score} pv {' '.join(line)}"
        )
        return line


COMMANDS: dict[str, Callable[[Engine, list[str]], None]] = {
    "uci": Engine.cmd_uci,
    "isready": Engine.cmd_isready,
    "debug": Engine.cmd_debug,
    "ucinewgame": Engine.cmd_ucinewgame,
    "setoption": Engine.cmd_setoption,
    "position": Engine.cmd_position,
    "go": Engine.cmd_go,
    "stop": Engine.cmd_stop,
    "ponderhit": Engine.cmd_ponderhit,
    "quit": lambda engine, arguments: None,
}


def main(argv: list[str] | None = None) -> int:
    """Runs the engine on standard input and output until ``quit`` or the end of input."""
    del argv
    engine = Engine()
    try:
        engine.run(sys.stdin)
    except KeyboardInterrupt:
        engine.finish_search(stop=True)
    return 0
