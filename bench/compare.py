#!/usr/bin/env python3
"""Side-by-side timings of ortolan and other chess systems, measured in one run.

Each workload is written the way a user of that system would write it, run for a fixed
wall-clock budget per repeat, and summarised by the median over the repeats. The systems of a
workload take turns within each repeat, so a change in machine load touches all of them.

Workloads:
  1. random playouts to the end of the game or 400 plies (plies/s):
     ortolan roll_out, python-chess, OpenSpiel
  2. an agent loop: legal actions, pick one at random, step (plies/s):
     ortolan, PettingZoo's chess environment, OpenSpiel with observation tensors
  3. the tree-search primitive save_state, step, restore_state, and its parts
  4. perft nodes/s: the C++ perft program against Stockfish's `go perft`
  5. cost floors: building a 119 x 64 list of lists in Python against one step, the native
     memory held by a saved State, and Ortolan() construction

The peers are optional: one that cannot be imported or run is reported as unavailable.
Run through scripts/bench, which installs everything; results go to stdout and to
bench/results/compare.md and bench/results/compare.png.
"""

from __future__ import annotations

import argparse
import contextlib
import datetime
import gc
import importlib
import importlib.metadata
import json
import os
import pkgutil
import platform
import random
import re
import shutil
import statistics
import subprocess
import sys
from pathlib import Path
from time import perf_counter

ROOT = Path(__file__).resolve().parent.parent
PLY_CAP = 400
START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
KIWIPETE_FEN = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"
MIDGAME_PLIES = 30
MEMORY_PLIES = (10, 100, 300)
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


# ---------------------------------------------------------------------------------------------
# The systems
# ---------------------------------------------------------------------------------------------


class Systems:
    """Imports each system once; a failed import is remembered as its reason."""

    def __init__(self) -> None:
        self.modules: dict[str, object] = {}
        self.missing: dict[str, str] = {}
        self.versions: dict[str, str] = {}
        import ortolan  # required: no comparison without it

        self.modules["ortolan"] = ortolan
        self.versions["ortolan"] = version_of("ortolan")
        self._try("python-chess", self._load_chess)
        self._try("PettingZoo", self._load_pettingzoo)
        self._try("OpenSpiel", self._load_openspiel)

    def _try(self, name: str, loader) -> None:
        try:
            self.modules[name] = loader()
        except Exception as exc:
            self.missing[name] = reason(exc)

    def _load_chess(self):
        import chess

        self.versions["python-chess"] = version_of("chess")
        return chess

    def _load_pettingzoo(self):
        import pettingzoo.classic

        names = [
            m.name
            for m in pkgutil.iter_modules(pettingzoo.classic.__path__)
            if re.fullmatch(r"chess_v\d+", m.name)
        ]
        if not names:
            raise Unavailable("pettingzoo.classic has no chess_vN environment")
        name = max(names, key=lambda n: int(n.removeprefix("chess_v")))
        module = importlib.import_module(f"pettingzoo.classic.{name}")
        self.versions["PettingZoo"] = f"{version_of('pettingzoo')} ({name})"
        return module

    def _load_openspiel(self):
        import pyspiel

        game = pyspiel.load_game("chess")
        self.versions["OpenSpiel"] = version_of("open_spiel")
        return game

    def get(self, name: str):
        if name in self.missing:
            raise Unavailable(self.missing[name])
        return self.modules[name]


# ---------------------------------------------------------------------------------------------
# Measuring
# ---------------------------------------------------------------------------------------------


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

    def spread(self, per_call: bool = False) -> str:
        lo, hi = min(self.rates), max(self.rates)
        if per_call:
            return f"{1e6 / hi:.3g}..{1e6 / lo:.3g} µs"
        return f"{fmt_rate(lo)}..{fmt_rate(hi)}"


def interleaved(runners: dict, repeats: int, seconds: float, unit: str) -> dict:
    """Runs every runner once per repeat, in turn; returns name -> Stat or Unavailable.

    A runner is a function (seconds) -> (units, elapsed[, games]). Each one gets a short
    warm-up run first. A runner that raises is reported as unavailable with the reason.
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


def prepare(name: str, factory, *args):
    """factory(*args) -> runner, or the reason it cannot be built."""
    try:
        return factory(*args)
    except Exception as exc:
        return Unavailable(reason(exc))


# ---------------------------------------------------------------------------------------------
# ortolan helpers
# ---------------------------------------------------------------------------------------------


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


def repeat_for(seconds, one_round):
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


def in_blocks(call):
    """A runner timing ``call()`` in blocks of BLOCK calls: (calls, seconds)."""

    def one_block():
        for _ in range(BLOCK):
            call()
        return BLOCK

    def run(seconds):
        calls, elapsed, _ = repeat_for(seconds, one_block)
        return calls, elapsed

    return run


# ---------------------------------------------------------------------------------------------
# 1. Random playouts
# ---------------------------------------------------------------------------------------------


def playout_ortolan(ortolan):
    env = ortolan.Ortolan()
    env.reset()
    start = env.save_state()
    env.restore_state(start)

    # The bracket a tree search puts around a playout at a leaf. restore_state rewinds the
    # position but not total_move_count, which its observation shows in plane 113, so the
    # plies of each playout are read off the restore the bracket makes anyway.
    def one_game():
        leaf = env.save_state()
        env.roll_out()
        return env.restore_state(leaf)[1][113][0] - leaf.total_move_count

    return lambda seconds: repeat_for(seconds, one_game)


def playout_chess(chess, rng):
    def one_game():
        board = chess.Board()
        n = 0
        while n < PLY_CAP and not board.is_game_over():
            board.push(rng.choice(list(board.legal_moves)))
            n += 1
        return n

    return lambda seconds: repeat_for(seconds, one_game)


def playout_openspiel(game, rng):
    def one_game():
        state = game.new_initial_state()
        n = 0
        while n < PLY_CAP and not state.is_terminal():
            state.apply_action(rng.choice(state.legal_actions()))
            n += 1
        return n

    return lambda seconds: repeat_for(seconds, one_game)


# ---------------------------------------------------------------------------------------------
# 2. Agent loop
# ---------------------------------------------------------------------------------------------


def agent_ortolan(ortolan, rng):
    env = ortolan.Ortolan()

    def ply():
        done = env.step(rng.choice(legal_actions(env.get_actions())))[3]
        if done:
            env.reset()

    run_blocks = in_blocks(ply)

    def run(seconds):
        env.reset()
        return run_blocks(seconds)

    return run


def agent_pettingzoo(module, seed):
    env = module.env()

    def run(seconds):
        env.reset(seed=seed)
        plies = 0
        t0 = perf_counter()
        deadline = t0 + seconds
        while True:
            for agent in env.agent_iter():
                observation, _reward, termination, truncation, _info = env.last()
                if termination or truncation:
                    action = None
                else:
                    action = env.action_space(agent).sample(observation["action_mask"])
                    plies += 1
                env.step(action)
                if plies % BLOCK == 0:
                    now = perf_counter()
                    if now >= deadline:
                        return plies, now - t0
            env.reset()

    return run


def agent_openspiel(game, rng):
    state = game.new_initial_state()

    def ply():
        nonlocal state
        if state.is_terminal():
            state = game.new_initial_state()
        _observation = state.observation_tensor()
        state.apply_action(rng.choice(state.legal_actions()))

    run_blocks = in_blocks(ply)

    def run(seconds):
        nonlocal state
        state = game.new_initial_state()
        return run_blocks(seconds)

    return run


# ---------------------------------------------------------------------------------------------
# 3. Tree-search primitive, and 5. cost floors
# ---------------------------------------------------------------------------------------------


def search_runners(ortolan, rng):
    """Runners from one mid-game position: save+step+restore, save+restore, step alone,
    the two ways of building a 119 x 64 list of lists, and Ortolan() construction."""
    env, actions = ortolan_midgame(ortolan, rng, MIDGAME_PLIES)
    midgame = env.save_state()

    def branch_every_action():
        for a in actions:
            s = env.save_state()
            env.step(a)
            env.restore_state(s)
        return len(actions)

    def save_step_restore(seconds):
        n, elapsed, _ = repeat_for(seconds, branch_every_action)
        return n, elapsed

    # One step alone: replay a recorded random line from the mid-game position, timing only
    # the steps (the restore that rewinds to the line's start is outside the timed part).
    line: list[int] = []
    env.restore_state(midgame)
    while len(line) < 200:
        a = rng.choice(legal_actions(env.get_actions()))
        line.append(a)
        if env.step(a)[3]:
            break
    env.restore_state(midgame)

    def step_alone(seconds):
        n = 0
        spent = 0.0
        while spent < seconds:
            env.restore_state(midgame)
            t = perf_counter()
            for a in line:
                env.step(a)
            spent += perf_counter() - t
            n += len(line)
        env.restore_state(midgame)
        return n, spent

    obs = env.step(actions[0])[1]
    env.restore_state(midgame)
    mask = env.get_actions()

    ortolan.Ortolan()  # the first one, which may set up shared tables

    return {
        "save_state, step, restore_state": save_step_restore,
        "save_state + restore_state": in_blocks(lambda: env.restore_state(env.save_state())),
        "one step": step_alone,
        "get_actions": in_blocks(env.get_actions),
        "mask to action list (Python)": in_blocks(lambda: legal_actions(mask)),
        "[list(row) for row in obs]": in_blocks(lambda: [list(row) for row in obs]),
        "[[0]*64 for _ in range(119)]": in_blocks(lambda: [[0] * 64 for _ in range(119)]),
        "Ortolan() after the first": in_blocks(ortolan.Ortolan),
    }


# ---------------------------------------------------------------------------------------------
# 4. Perft
# ---------------------------------------------------------------------------------------------


def perft_ortolan(program: Path, fen: str, depth: int) -> tuple[int, float]:
    """(nodes, seconds) as timed by the perft program itself."""
    if not program.is_file():
        raise Unavailable(f"{program} not built")
    out = subprocess.run(
        [str(program), str(depth), fen], check=True, capture_output=True, text=True
    ).stdout
    m = re.search(r"nodes (\d+)\s+([\d.]+) s", out)
    if not m:
        raise RuntimeError(f"unexpected perft output: {out.strip()!r}")
    return int(m.group(1)), float(m.group(2))


class Stockfish:
    """A Stockfish process driven over UCI; perft is timed by the wall clock around the
    `go perft` command in the already running process, so start-up is not counted."""

    def __init__(self, path: str) -> None:
        self.proc = subprocess.Popen(
            [path],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            text=True,
            bufsize=1,
        )
        self.name = "Stockfish"
        self.send("uci")
        for line in self.until("uciok"):
            if line.startswith("id name "):
                self.name = line.removeprefix("id name ").strip()
        self.ready()

    def send(self, line: str) -> None:
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def until(self, prefix: str):
        lines = []
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RuntimeError("stockfish exited")
            lines.append(line)
            if line.startswith(prefix):
                return lines

    def ready(self) -> None:
        self.send("isready")
        self.until("readyok")

    def perft(self, fen: str, depth: int) -> tuple[int, float]:
        self.send(f"position fen {fen}")
        self.ready()
        t0 = perf_counter()
        self.send(f"go perft {depth}")
        last = self.until("Nodes searched")[-1]
        seconds = perf_counter() - t0
        return int(last.split(":")[1]), seconds

    def close(self) -> None:
        with contextlib.suppress(Exception):
            self.send("quit")
            self.proc.wait(timeout=5)
        if self.proc.poll() is None:
            self.proc.kill()


def find_stockfish(given: str | None) -> str:
    if given:
        if os.access(given, os.X_OK):
            return given
        raise Unavailable(f"{given} is not an executable")
    for cand in (shutil.which("stockfish"), "/usr/games/stockfish"):
        if cand and os.access(cand, os.X_OK):
            return cand
    raise Unavailable("stockfish not installed (Debian package stockfish)")


def run_perft(args, repeats: int) -> dict:
    positions = [
        ("start position", START_FEN, 5 if args.quick else 6),
        ("kiwipete", KIWIPETE_FEN, 4 if args.quick else 5),
    ]
    stockfish: Stockfish | Unavailable
    try:
        stockfish = Stockfish(find_stockfish(args.stockfish))
    except Exception as exc:
        stockfish = Unavailable(reason(exc))
    out = {"stockfish_name": getattr(stockfish, "name", "Stockfish"), "positions": []}
    try:
        for label, fen, depth in positions:
            entry = {"label": f"{label}, depth {depth}", "fen": fen, "depth": depth}
            systems = {"ortolan": lambda f=fen, d=depth: perft_ortolan(args.perft, f, d)}
            if isinstance(stockfish, Unavailable):
                entry["Stockfish"] = stockfish
            else:
                systems["Stockfish"] = lambda f=fen, d=depth: stockfish.perft(f, d)
            for name in systems:
                entry[name] = Stat("nodes")
            nodes_seen: dict[str, int] = {}
            for _ in range(repeats):
                for name, fn in systems.items():
                    if isinstance(entry[name], Unavailable):
                        continue
                    try:
                        nodes, seconds = fn()
                    except Exception as exc:
                        entry[name] = Unavailable(reason(exc))
                        continue
                    nodes_seen[name] = nodes
                    entry[name].rates.append(nodes / seconds)
            entry["nodes"] = nodes_seen
            out["positions"].append(entry)
    finally:
        if not isinstance(stockfish, Unavailable):
            stockfish.close()
    return out


def run_rollout_program(program: Path, quick: bool) -> float | Unavailable:
    """Plies/s of the C++ rollout program (no Python), for reference."""
    if not program.is_file():
        return Unavailable(f"{program} not built")
    try:
        out = subprocess.run(
            [str(program), "2000" if quick else "20000"],
            check=True,
            capture_output=True,
            text=True,
        ).stdout
        m = re.search(r"([\d.]+) plies/s", out)
        if not m:
            return Unavailable(f"unexpected rollout output: {out.strip()!r}")
        return float(m.group(1))
    except Exception as exc:
        return Unavailable(reason(exc))


# ---------------------------------------------------------------------------------------------
# 5. Memory per saved State (each case in a fresh interpreter)
# ---------------------------------------------------------------------------------------------


def resident_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_child(ply: int, count: int) -> None:
    """Prints, as JSON, the resident-set growth over `count` States kept in a list: blank
    State() objects when ply is 0, else snapshots of a random game at that ply."""
    import ortolan

    info = {"ply": ply, "count": count}
    if ply == 0:
        gc.collect()
        gc.disable()
        before = resident_bytes()
        keep = [ortolan.State() for _ in range(count)]
        after = resident_bytes()
        info["python_object_bytes"] = sys.getsizeof(keep[0])
    else:
        env, _ = ortolan_midgame(ortolan, random.Random(1000 + ply), ply)
        gc.collect()
        gc.disable()
        before = resident_bytes()
        keep = [env.save_state() for _ in range(count)]
        after = resident_bytes()
        info["repetition_entries"] = len(keep[0].repetition_count)
        info["move_index_entries"] = len(keep[0].move_index)
        info["total_move_count"] = keep[0].total_move_count
    info["bytes_per_state"] = (after - before) / count
    print(json.dumps(info))


def run_memory(count: int) -> dict:
    out: dict = {}
    for ply in (0, *MEMORY_PLIES):
        try:
            proc = subprocess.run(
                [sys.executable, __file__, "--memory-child", str(ply), str(count)],
                check=True,
                capture_output=True,
                text=True,
            )
            out[ply] = json.loads(proc.stdout.strip().splitlines()[-1])
        except subprocess.CalledProcessError as exc:
            tail = (exc.stderr or "").strip().splitlines()
            out[ply] = Unavailable(tail[-1] if tail else f"exit {exc.returncode}")
        except Exception as exc:
            out[ply] = Unavailable(reason(exc))
    return out


def map_estimate(entries: int, slot_bytes: int = 16) -> int:
    """Bytes of an open-addressing table holding `entries` at load <= 0.5, its slot count a
    power of two (at least 64)."""
    slots = 64
    while entries * 2 > slots:
        slots *= 2
    return slots * slot_bytes


# ---------------------------------------------------------------------------------------------
# Report
# ---------------------------------------------------------------------------------------------


def fmt_rate(x: float) -> str:
    for scale, suffix in ((1e9, " G"), (1e6, " M"), (1e3, " k")):
        if x >= scale:
            return f"{x / scale:.3g}{suffix}"
    return f"{x:.3g}"


def fmt_us(us: float) -> str:
    return f"{us:.3g} µs"


def fmt_ratio(x: float) -> str:
    return f"{x:.3g}x"


def verdict(ok: bool) -> str:
    return "pass" if ok else "MISS"


class Report:
    def __init__(self) -> None:
        self.rows: list[list[str]] = []  # the comparison table
        self.absolute: list[list[str]] = []  # every measured value
        self.memory: list[list[str]] = []
        self.notes: list[str] = []
        self.chart: dict = {}

    def row(self, measure, ours, against, theirs, ratio, target, result):
        self.rows.append([measure, ours, against, theirs, ratio, target, result])


def compare_rates(report, measure, ours, name, theirs, versions, target=None, extra=""):
    """A comparison row of two rates (higher is better): ratio = ours / theirs."""
    label = f"{name} {versions.get(name, '')}".strip()
    if isinstance(theirs, Unavailable):
        report.row(
            measure,
            fmt_rate(ours.median),
            label,
            f"unavailable ({theirs})",
            "—",
            f"≥ {target}x" if target else "—",
            "n/a",
        )
        return None
    ratio = ours.median / theirs.median
    report.row(
        measure,
        fmt_rate(ours.median) + extra,
        label,
        fmt_rate(theirs.median) + extra,
        fmt_ratio(ratio),
        f"≥ {target}x" if target else "—",
        verdict(ratio >= target) if target else "—",
    )
    return ratio


def markdown_table(header: list[str], rows: list[list[str]]) -> str:
    def esc(cell: str) -> str:
        return cell.replace("|", "\\|")

    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(esc(c) for c in r) + " |" for r in rows]
    return "\n".join(lines)


def text_table(header: list[str], rows: list[list[str]]) -> str:
    widths = [max(len(str(r[i])) for r in [header, *rows]) for i in range(len(header))]
    sep = "  "
    out = [sep.join(h.ljust(w) for h, w in zip(header, widths, strict=True))]
    out.append(sep.join("-" * w for w in widths))
    out += [sep.join(str(c).ljust(w) for c, w in zip(r, widths, strict=True)) for r in rows]
    return "\n".join(out)


MAIN_HEADER = ["measure", "ortolan", "compared with", "their value", "ratio", "target", "result"]
ABS_HEADER = ["workload", "system", "median", "spread over repeats", "notes"]
MEM_HEADER = [
    "snapshot",
    "raw B/State",
    "native B/State",
    "over blank B",
    "repetition entries",
    "move_index entries",
    "est. map B",
    "beyond maps B",
    "target",
    "result",
]


def machine_info() -> list[str]:
    cpu = "?"
    with contextlib.suppress(OSError), open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    return [
        f"date: {datetime.datetime.now().astimezone().isoformat(timespec='seconds')}",
        f"machine: {cpu}, {os.cpu_count()} logical CPUs, load average {load}",
        f"python: {platform.python_implementation()} {platform.python_version()}",
    ]


def draw_chart(report: Report, path: Path) -> str | None:
    """Writes the PNG; returns None, or why it could not."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except Exception as exc:
        return f"matplotlib unavailable ({reason(exc)})"

    c = report.chart
    fig, axes = plt.subplots(2, 3, figsize=(16, 9.5))
    fig.suptitle("ortolan beside other chess systems (medians; one machine, one run)")
    colours = {"ortolan": "#2b7bba"}
    other = "#9a9a9a"

    def bars(ax, data: dict, title: str, ylabel: str, log=True):
        names = list(data)
        values = [data[n] for n in names]
        ax.bar(names, values, color=[colours.get(n.split()[0], other) for n in names])
        if log:
            ax.set_yscale("log")
        ax.set_title(title)
        ax.set_ylabel(ylabel)
        for i, v in enumerate(values):
            ax.annotate(fmt_rate(v), (i, v), ha="center", va="bottom", fontsize=9)
        ax.tick_params(axis="x", labelsize=9)

    bars(axes[0][0], c.get("playouts", {}), "Random playouts (≤ 400 plies)", "plies / s")
    bars(axes[0][1], c.get("agent", {}), "Agent loop: actions, choose, step", "plies / s")

    ax = axes[0][2]
    perft = c.get("perft", {})
    labels = list(perft)
    width = 0.38
    for k, (name, colour) in enumerate((("ortolan", colours["ortolan"]), ("Stockfish", other))):
        xs = [i + (k - 0.5) * width for i in range(len(labels))]
        vals = [perft[label].get(name, 0) / 1e6 for label in labels]
        ax.bar(xs, vals, width, label=name, color=colour)
        for x, v in zip(xs, vals, strict=True):
            if v:
                ax.annotate(f"{v:.0f}", (x, v), ha="center", va="bottom", fontsize=9)
    ax.set_xticks(range(len(labels)), labels, fontsize=9)
    ax.set_ylabel("M nodes / s")
    ax.set_title("Perft")
    ax.margins(y=0.18)
    ax.legend(loc="upper center", ncols=2, fontsize=9)

    ax = axes[1][0]
    costs = c.get("costs", {})
    names = list(costs)
    ax.barh(names, [costs[n] for n in names], color=colours["ortolan"])
    for i, n in enumerate(names):
        ax.annotate(f" {costs[n]:.3g}", (costs[n], i), va="center", fontsize=9)
    ax.invert_yaxis()
    ax.set_xlabel("µs per call")
    ax.set_title("Costs of the primitives")
    ax.tick_params(axis="y", labelsize=8)

    ax = axes[1][1]
    mem = c.get("memory", {})
    plies = list(mem)
    if plies:
        maps = [mem[p]["maps"] for p in plies]
        rest = [mem[p]["beyond"] for p in plies]
        xs = range(len(plies))
        ax.bar(xs, rest, color=colours["ortolan"], label="beyond the maps")
        ax.bar(xs, maps, bottom=rest, color=other, label="maps (estimate)")
        ax.axhline(1024, color="#c0392b", linestyle="--", linewidth=1, label="1 KB")
        ax.set_xticks(list(xs), [f"ply {p}" for p in plies])
        ax.legend(fontsize=8)
    ax.set_ylabel("native bytes per saved State")
    ax.set_title("Memory per saved State")

    ax = axes[1][2]
    margins = c.get("margins", [])
    if margins:
        names = [m[0] for m in margins]
        vals = [m[1] for m in margins]
        ax.barh(names, vals, color=["#27ae60" if v >= 1 else "#c0392b" for v in vals])
        ax.axvline(1, color="black", linewidth=1)
        ax.set_xscale("log")
        ax.invert_yaxis()
        for i, v in enumerate(vals):
            ax.annotate(f" {v:.2g}", (v, i), va="center", fontsize=9)
    ax.set_xlabel("measured / target (≥ 1 meets the target)")
    ax.set_title("Targets")
    ax.tick_params(axis="y", labelsize=8)

    fig.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return None


# ---------------------------------------------------------------------------------------------
# Main
# ---------------------------------------------------------------------------------------------


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="a smoke run: fewer, shorter repeats")
    ap.add_argument("--repeats", type=int, help="repeats per measurement (default 5, quick 2)")
    ap.add_argument("--seconds", type=float, help="seconds per repeat (default 1.5, quick 0.2)")
    ap.add_argument("--perft", type=Path, default=ROOT / "build/release/perft")
    ap.add_argument("--rollout", type=Path, default=ROOT / "build/release/rollout")
    ap.add_argument("--stockfish", help="path of the stockfish program")
    ap.add_argument("--states", type=int, help="States kept for the memory measure")
    ap.add_argument("--out", type=Path, default=ROOT / "bench/results")
    ap.add_argument("--memory-child", nargs=2, type=int, help=argparse.SUPPRESS)
    args = ap.parse_args()

    if args.memory_child:
        memory_child(*args.memory_child)
        return 0

    repeats = args.repeats or (2 if args.quick else 5)
    seconds = args.seconds or (0.2 if args.quick else 1.5)
    states = args.states or (10_000 if args.quick else 100_000)
    if repeats < 1 or seconds <= 0 or states < 1:
        ap.error("--repeats, --seconds and --states must be positive")
    args.perft = args.perft.resolve()
    args.rollout = args.rollout.resolve()

    began = perf_counter()
    info = machine_info()
    systems = Systems()
    ortolan = systems.get("ortolan")
    versions = systems.versions
    report = Report()

    def log(msg):
        print(f"[{perf_counter() - began:6.1f} s] {msg}", file=sys.stderr, flush=True)

    def peer(name, factory, *rest):
        try:
            return prepare(name, factory, systems.get(name), *rest)
        except Unavailable as exc:
            return exc

    # 1. Playouts
    log("random playouts")
    playouts = interleaved(
        {
            "ortolan": prepare("ortolan", playout_ortolan, ortolan),
            "python-chess": peer("python-chess", playout_chess, random.Random(1)),
            "OpenSpiel": peer("OpenSpiel", playout_openspiel, random.Random(2)),
        },
        repeats,
        seconds,
        "plies",
    )
    # 2. Agent loop
    log("agent loop")
    agent = interleaved(
        {
            "ortolan": prepare("ortolan", agent_ortolan, ortolan, random.Random(3)),
            "PettingZoo": peer("PettingZoo", agent_pettingzoo, 4),
            "OpenSpiel": peer("OpenSpiel", agent_openspiel, random.Random(5)),
        },
        repeats,
        seconds,
        "plies",
    )
    # 3 and 5. Primitives and floors
    log("save/step/restore, list building, construction")
    prims = interleaved(search_runners(ortolan, random.Random(6)), repeats, seconds, "calls")
    # 4. Perft
    log("perft")
    perft = run_perft(args, repeats)
    rollout_cpp = run_rollout_program(args.rollout, args.quick)
    # 5. Memory
    log(f"memory: {states} States per case")
    memory = run_memory(states)
    log("done")

    ours = playouts["ortolan"]
    if isinstance(ours, Unavailable):
        raise SystemExit(f"ortolan playouts failed: {ours}")

    # --- the comparison table ---
    margins: list[tuple[str, float]] = []
    r = compare_rates(
        report,
        "random playouts, plies/s",
        ours,
        "python-chess",
        playouts["python-chess"],
        versions,
        200,
    )
    if r is not None:
        margins.append(("playouts vs python-chess", r / 200))
    r = compare_rates(
        report, "random playouts, plies/s", ours, "OpenSpiel", playouts["OpenSpiel"], versions, 5
    )
    if r is not None:
        margins.append(("playouts vs OpenSpiel", r / 5))
    ours_agent = agent["ortolan"]
    if isinstance(ours_agent, Unavailable):
        report.notes.append(f"ortolan agent loop failed: {ours_agent}")
    else:
        r = compare_rates(
            report,
            "agent loop, plies/s",
            ours_agent,
            "PettingZoo",
            agent["PettingZoo"],
            versions,
            5,
        )
        if r is not None:
            margins.append(("agent loop vs PettingZoo", r / 5))
        compare_rates(
            report, "agent loop, plies/s", ours_agent, "OpenSpiel", agent["OpenSpiel"], versions
        )
    sf_name = perft["stockfish_name"]
    for entry in perft["positions"]:
        o, s = entry["ortolan"], entry["Stockfish"]
        measure = f"perft {entry['label']}, nodes/s"
        if isinstance(o, Unavailable):
            report.row(measure, f"unavailable ({o})", sf_name, "—", "—", "≥ 0.25x", "n/a")
            continue
        if isinstance(s, Unavailable):
            report.row(
                measure,
                fmt_rate(o.median),
                "Stockfish",
                f"unavailable ({s})",
                "—",
                "≥ 0.25x",
                "n/a",
            )
            continue
        ratio = o.median / s.median
        report.row(
            measure,
            fmt_rate(o.median),
            sf_name,
            fmt_rate(s.median),
            fmt_ratio(ratio),
            "≥ 0.25x",
            verdict(ratio >= 0.25),
        )
        margins.append((f"perft {entry['label'].split(',')[0]} vs Stockfish", ratio / 0.25))
        nodes = entry["nodes"]
        if len(set(nodes.values())) > 1:
            report.notes.append(f"perft {entry['label']}: node counts differ: {nodes}")

    def prim(name):
        stat = prims.get(name)
        return None if stat is None or isinstance(stat, Unavailable) else stat

    step = prim("one step")
    copy = prim("[list(row) for row in obs]")
    zeros = prim("[[0]*64 for _ in range(119)]")
    bracket = prim("save_state + restore_state")
    tree = prim("save_state, step, restore_state")
    ctor = prim("Ortolan() after the first")
    if step and copy:
        ratio = step.micros / copy.micros
        report.row(
            "one step (mid-game line), µs",
            fmt_us(step.micros),
            "building its observation: [list(row) for row in obs]",
            fmt_us(copy.micros),
            fmt_ratio(ratio),
            "≤ 2x",
            verdict(ratio <= 2),
        )
        margins.append(("step vs observation as lists", 2 / ratio))
    if step and zeros:
        report.row(
            "one step (mid-game line), µs",
            fmt_us(step.micros),
            "[[0]*64 for _ in range(119)]",
            fmt_us(zeros.micros),
            fmt_ratio(step.micros / zeros.micros),
            "—",
            "—",
        )
    if bracket and step:
        ratio = bracket.micros / step.micros
        report.row(
            "save_state + restore_state, µs",
            fmt_us(bracket.micros),
            "one step",
            fmt_us(step.micros),
            fmt_ratio(ratio),
            "≤ 1.5x",
            verdict(ratio <= 1.5),
        )
        margins.append(("save+restore vs one step", 1.5 / ratio))
    if tree:
        against = "one step" if step else "—"
        report.row(
            "save_state, step, restore_state (mid-game)",
            f"{fmt_rate(tree.median)}/s ({fmt_us(tree.micros)})",
            against,
            fmt_us(step.micros) if step else "—",
            fmt_ratio(tree.micros / step.micros) if step else "—",
            "—",
            "—",
        )
    for name, stat in prims.items():
        if isinstance(stat, Unavailable):
            report.notes.append(f"{name}: unavailable ({stat})")

    blank = memory.get(0)
    for ply in MEMORY_PLIES:
        m = memory.get(ply)
        measure = f"saved State at ply {ply}, bytes beyond its maps"
        if isinstance(m, Unavailable) or isinstance(blank, Unavailable) or m is None:
            why = m if isinstance(m, Unavailable) else blank
            report.row(measure, f"unavailable ({why})", "—", "—", "—", "≤ 1 KB", "n/a")
            continue
        # The Python side of each State: the wrapper object and its slot in the list.
        py_bytes = blank["python_object_bytes"] + 8
        native = m["bytes_per_state"] - py_bytes
        maps = map_estimate(m["repetition_entries"]) + 8 * m["move_index_entries"]
        beyond = native - maps
        report.memory.append(
            [
                f"ply {ply} (total_move_count {m['total_move_count']})",
                f"{m['bytes_per_state']:.0f}",
                f"{native:.0f}",
                f"{m['bytes_per_state'] - blank['bytes_per_state']:.0f}",
                str(m["repetition_entries"]),
                str(m["move_index_entries"]),
                f"{maps}",
                f"{beyond:.0f}",
                "≤ 1024",
                verdict(beyond <= 1024),
            ]
        )
        report.row(
            measure,
            f"{beyond:.0f} B",
            "raw / native / maps est.",
            f"{m['bytes_per_state']:.0f} / {native:.0f} / {maps} B",
            f"{m['repetition_entries']} rep. entries",
            "≤ 1 KB",
            verdict(beyond <= 1024),
        )
        margins.append((f"State at ply {ply}", 1024 / max(beyond, 1.0)))
        report.chart.setdefault("memory", {})[ply] = {"maps": maps, "beyond": max(beyond, 0)}
    if isinstance(blank, dict):
        native_blank = blank["bytes_per_state"] - blank["python_object_bytes"] - 8
        report.memory.append(
            [
                "blank State()",
                f"{blank['bytes_per_state']:.0f}",
                f"{native_blank:.0f}",
                "0",
                "0",
                "0",
                "0",
                f"{native_blank:.0f}",
                "—",
                "—",
            ]
        )
    if ctor:
        report.row(
            "Ortolan() after the first, µs",
            fmt_us(ctor.micros),
            "—",
            "—",
            "—",
            "≤ 20 µs",
            verdict(ctor.micros <= 20),
        )
        margins.append(("Ortolan() construction", 20 / ctor.micros))

    # --- absolute numbers ---
    def absolute(workload, results, per_call=False):
        for name, stat in results.items():
            label = f"{name} {versions.get(name, '')}".strip()
            if isinstance(stat, Unavailable):
                report.absolute.append([workload, label, f"unavailable ({stat})", "—", ""])
                continue
            notes = ""
            if stat.games:
                notes = f"{stat.games} games, mean {stat.plies / stat.games:.0f} plies"
            value = (
                f"{fmt_us(stat.micros)} ({fmt_rate(stat.median)}/s)"
                if per_call
                else f"{fmt_rate(stat.median)} {stat.unit}/s"
            )
            report.absolute.append([workload, label, value, stat.spread(per_call), notes])

    absolute("random playouts", playouts)
    if isinstance(rollout_cpp, Unavailable):
        report.absolute.append(
            ["random playouts", "C++ rollout program", f"unavailable ({rollout_cpp})", "—", ""]
        )
    else:
        report.absolute.append(
            [
                "random playouts",
                "C++ rollout program (no Python)",
                f"{fmt_rate(rollout_cpp)} plies/s",
                "one run",
                "bench/rollout.cpp",
            ]
        )
    absolute("agent loop", agent)
    for name, stat in prims.items():
        absolute("ortolan primitives", {name: stat}, per_call=True)
    for entry in perft["positions"]:
        for name in ("ortolan", "Stockfish"):
            stat = entry[name]
            label = sf_name if name == "Stockfish" else "ortolan (bench/perft.cpp)"
            if isinstance(stat, Unavailable):
                report.absolute.append(
                    [f"perft {entry['label']}", label, f"unavailable ({stat})", "—", ""]
                )
            else:
                report.absolute.append(
                    [
                        f"perft {entry['label']}",
                        label,
                        f"{fmt_rate(stat.median)} nodes/s",
                        stat.spread(),
                        f"{entry['nodes'].get(name, '?')} nodes",
                    ]
                )

    # --- chart data ---
    def chart_rates(results):
        return {f"{n}": s.median for n, s in results.items() if isinstance(s, Stat)}

    report.chart["playouts"] = chart_rates(playouts)
    report.chart["agent"] = chart_rates(agent)
    report.chart["perft"] = {
        e["label"]: {n: e[n].median for n in ("ortolan", "Stockfish") if isinstance(e[n], Stat)}
        for e in perft["positions"]
    }
    report.chart["costs"] = {n: s.micros for n, s in prims.items() if isinstance(s, Stat)}
    report.chart["margins"] = margins

    # --- peers and notes ---
    peers = []
    for name in ("python-chess", "PettingZoo", "OpenSpiel"):
        if name in systems.missing:
            peers.append(f"{name}: unavailable ({systems.missing[name]})")
        else:
            peers.append(f"{name}: {versions[name]}")
    first_sf = perft["positions"][0]["Stockfish"] if perft["positions"] else None
    if isinstance(first_sf, Stat):
        peers.append(f"Stockfish: {sf_name}")
    else:
        peers.append(f"Stockfish: unavailable ({first_sf})")
    settings = (
        f"{repeats} repeats of {seconds:g} s per measurement, medians; "
        f"{states} States per memory case" + (" (quick run)" if args.quick else "")
    )
    info.append(f"ortolan {versions['ortolan']}; " + "; ".join(peers))
    info.append(settings)
    info.append(f"load average at the end: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    info.append(f"total time: {perf_counter() - began:.0f} s")

    mem_note = (
        "Memory: resident-set growth over the kept States, in a fresh interpreter per case. "
        "native = raw - (Python wrapper object + its list slot); over blank = raw - raw of a "
        "blank State(), whose native part is the fixed-size record itself; the map estimate counts "
        "the repetition table as 16-byte slots at load ≤ 0.5 rounded up to a power of two "
        "(at least 64 slots) plus 8 bytes per move_index entry; beyond maps = native - maps."
    )

    chart_path = args.out / "compare.png"
    chart_problem = draw_chart(report, chart_path)

    # --- output ---
    text = [
        "ortolan side-by-side benchmark",
        *info,
        "",
        text_table(MAIN_HEADER, report.rows),
        "",
        "Absolute numbers",
        text_table(ABS_HEADER, report.absolute),
        "",
        "Memory per saved State",
        text_table(MEM_HEADER, report.memory),
        mem_note,
    ]
    text += [f"note: {n}" for n in report.notes]
    text.append(f"chart: {chart_problem}" if chart_problem else f"chart: {chart_path}")
    print("\n".join(text))

    md = [
        "## Benchmark: ortolan beside other chess systems",
        "",
        *[f"- {line}" for line in info],
        "",
        markdown_table(MAIN_HEADER, report.rows),
        "",
        "### Absolute numbers",
        "",
        markdown_table(ABS_HEADER, report.absolute),
        "",
        "### Memory per saved State",
        "",
        markdown_table(MEM_HEADER, report.memory),
        "",
        mem_note,
        "",
    ]
    md += [f"Note: {n}\n" for n in report.notes]
    if not chart_problem:
        md.append("![ortolan beside other chess systems](bench/results/compare.png)\n")
    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "compare.md").write_text("\n".join(md))
    print(f"markdown: {args.out / 'compare.md'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
