"""What every workload uses: the run's settings, unavailable peers, timed loops and medians."""

from __future__ import annotations

import importlib.metadata
import json
import random
import statistics
import subprocess
import sys
from collections.abc import Callable
from dataclasses import dataclass, field
from pathlib import Path
from time import perf_counter

ROOT = Path(__file__).resolve().parent.parent
PLY_CAP = 400
START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
KIWIPETE_FEN = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"
MIDGAME_PLIES = 30
# Check the clock once per this many iterations of a fast loop.
BLOCK = 32


class Unavailable(Exception):
    """A system or measurement that cannot run here; the message says why."""


def reason(exc: BaseException) -> str:
    text = str(exc).strip().splitlines()
    first = text[0] if text else ""
    if isinstance(exc, Unavailable):
        return first
    return f"{type(exc).__name__}: {first}" if first else type(exc).__name__


def version_of(dist: str) -> str:
    try:
        return importlib.metadata.version(dist)
    except importlib.metadata.PackageNotFoundError:
        return "?"


@dataclass
class Context:
    """The settings of one run and what the workloads share: the systems and the report."""

    quick: bool
    repeats: int
    seconds: float
    states: int
    perft: Path
    rollout: Path
    stockfish: str | None
    systems: object
    report: object
    began: float = field(default_factory=perf_counter)

    def log(self, msg: str) -> None:
        print(f"[{perf_counter() - self.began:6.1f} s] {msg}", file=sys.stderr, flush=True)

    def peer(self, name: str, factory: Callable, *args):
        """factory(the system's module, *args) -> runner, or the reason it cannot be built."""
        try:
            return factory(self.systems.get(name), *args)
        except Exception as exc:
            return exc if isinstance(exc, Unavailable) else Unavailable(reason(exc))


class Stat:
    """Rates from the repeats of one measurement, in units per second."""

    def __init__(self, unit: str) -> None:
        self.unit = unit
        self.rates: list[float] = []
        self.games = 0
        self.plies = 0

    @property
    def median(self) -> float:
        return statistics.median(self.rates)

    @property
    def micros(self) -> float:
        """Median cost of one unit, in microseconds."""
        return 1e6 / self.median


def interleaved(runners: dict, repeats: int, seconds: float, unit: str) -> dict:
    """Runs every runner once per repeat, in turn; returns name -> Stat or Unavailable.

    A runner is a function (seconds) -> (units, elapsed[, games]). Each one gets a short
    warm-up run first. A runner that raises is reported as unavailable with the reason. Taking
    turns within each repeat means a change in the machine's load touches every system.
    """
    results: dict[str, Stat | Unavailable] = {}
    live = {}
    for name, runner in runners.items():
        if isinstance(runner, Unavailable):
            results[name] = runner
            continue
        try:
            runner(max(seconds * 0.2, 0.05))
        except Exception as exc:
            results[name] = Unavailable(reason(exc))
            continue
        live[name] = runner
        results[name] = Stat(unit)
    for _ in range(repeats):
        for name, runner in list(live.items()):
            try:
                out = runner(seconds)
            except Exception as exc:
                results[name] = Unavailable(reason(exc))
                del live[name]
                continue
            units, elapsed = out[0], out[1]
            stat = results[name]
            stat.rates.append(units / elapsed)
            if len(out) > 2:
                stat.games += out[2]
                stat.plies += units
    return results


def paired_ratio(first, second, pairs: int, seconds: float) -> list[float]:
    """Ratios rate(first) / rate(second) of two runners timed back to back, `pairs` times, the
    order switching from pair to pair.

    The speed this machine gives a process drifts by tens of percent within a minute, so two
    medians taken a minute apart can disagree by more than the difference being measured. A
    ratio within each pair sees one state of the machine; the median of the ratios is the
    figure to hold against a target.
    """
    ratios = []
    for k in range(pairs):
        order = (first, second) if k % 2 == 0 else (second, first)
        rates = {}
        for runner in order:
            units, elapsed = runner(seconds)[:2]
            rates[runner] = units / elapsed
        ratios.append(rates[first] / rates[second])
    return ratios


def prepare(factory: Callable, *args):
    """factory(*args) -> runner, or the reason it cannot be built."""
    try:
        return factory(*args)
    except Exception as exc:
        return Unavailable(reason(exc))


def repeat_for(seconds: float, one_round: Callable[[], int]):
    """Calls ``one_round()`` until ``seconds`` have passed.

    Returns the sum of what the rounds returned, the time taken and the number of rounds.
    """
    count = rounds = 0
    t0 = perf_counter()
    deadline = t0 + seconds
    while True:
        count += one_round()
        rounds += 1
        now = perf_counter()
        if now >= deadline:
            return count, now - t0, rounds


def in_blocks(call: Callable[[], object]):
    """A runner timing ``call()`` in blocks of BLOCK calls: (calls, seconds)."""

    def one_block():
        for _ in range(BLOCK):
            call()
        return BLOCK

    def run(seconds):
        calls, elapsed, _ = repeat_for(seconds, one_block)
        return calls, elapsed

    return run


def timed_part(setup: Callable[[], object], timed: Callable[[object], object], units: int):
    """A runner timing only ``timed(setup())``, ``units`` units a call: (units, seconds spent
    in ``timed``). For calls whose inputs are made outside the timing."""

    def run(seconds):
        count = 0
        spent = 0.0
        while spent < seconds:
            arg = setup()
            t = perf_counter()
            timed(arg)
            spent += perf_counter() - t
            count += units
        return count, spent

    return run


def legal_actions(mask) -> list[int]:
    """Action numbers of the 1s of a 73 x 64 mask: plane * 64 + square, skipping empty planes."""
    return [
        plane * 64 + square
        for plane, row in enumerate(mask)
        if any(row)
        for square, bit in enumerate(row)
        if bit
    ]


def ortolan_midgame(ortolan, rng: random.Random, plies: int):
    """An Ortolan at a position reached by `plies` random plies from the start, with its
    legal actions listed (so a State saved now carries them)."""
    env = ortolan.Ortolan()
    for _ in range(1000):
        env.reset()
        for _ in range(plies):
            _, _, _, done = env.step(rng.choice(legal_actions(env.get_actions())))
            if done:
                break
        else:
            actions = legal_actions(env.get_actions())
            if actions:
                return env, actions
    raise RuntimeError(f"no random game reached ply {plies}")


def child_result(*args: str) -> object:
    """Runs `python ARGS...` in the checkout and returns the JSON on the last line it prints, or
    Unavailable with the reason it failed. Memory is measured in fresh interpreters so that
    memory freed by earlier runs is not reused without showing in the resident size."""
    try:
        proc = subprocess.run(
            [sys.executable, *args], cwd=ROOT, check=True, capture_output=True, text=True
        )
        return json.loads(proc.stdout.strip().splitlines()[-1])
    except subprocess.CalledProcessError as exc:
        tail = (exc.stderr or "").strip().splitlines()
        return Unavailable(tail[-1] if tail else f"exit {exc.returncode}")
    except Exception as exc:
        return Unavailable(reason(exc))
