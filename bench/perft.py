"""Perft: leaf nodes counted to a fixed depth, per second. The C++ program bench/perft.cpp
against Stockfish's `go perft`, each position at the same depth on both sides."""

from __future__ import annotations

import re
import subprocess
from pathlib import Path

from .common import KIWIPETE_FEN, START_FEN, Stat, Unavailable, reason
from .report import fmt_rate, fmt_ratio, spread, verdict
from .stockfish import Stockfish, find_stockfish

TARGET = 0.25  # ortolan at least this fraction of Stockfish's rate


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


def measure(ctx, label: str, fen: str, depth: int, stockfish) -> dict:
    """(name -> Stat or Unavailable, name -> nodes counted), over ctx.repeats turns."""
    systems = {"ortolan": lambda: perft_ortolan(ctx.perft, fen, depth)}
    results: dict = {"ortolan": Stat("nodes")}
    if isinstance(stockfish, Unavailable):
        results["Stockfish"] = stockfish
    else:
        systems["Stockfish"] = lambda: stockfish.perft(fen, depth)
        results["Stockfish"] = Stat("nodes")
    nodes: dict[str, int] = {}
    for _ in range(ctx.repeats):
        for name, fn in systems.items():
            if isinstance(results[name], Unavailable):
                continue
            try:
                nodes[name], seconds = fn()
            except Exception as exc:
                results[name] = Unavailable(reason(exc))
                continue
            results[name].rates.append(nodes[name] / seconds)
    if len(set(nodes.values())) > 1:
        ctx.report.notes.append(f"perft {label}, depth {depth}: node counts differ: {nodes}")
    return results, nodes


def run(ctx) -> None:
    positions = [
        ("start position", START_FEN, 5 if ctx.quick else 6),
        ("kiwipete", KIWIPETE_FEN, 4 if ctx.quick else 5),
    ]
    try:
        stockfish = Stockfish(find_stockfish(ctx.stockfish))
        sf_name = ctx.systems.versions["Stockfish"] = stockfish.name
    except Exception as exc:
        stockfish, sf_name = Unavailable(reason(exc)), "Stockfish"
        ctx.systems.missing["Stockfish"] = str(stockfish)
    report, chart = ctx.report, {}
    try:
        for label, fen, depth in positions:
            results, nodes = measure(ctx, label, fen, depth, stockfish)
            o, s = results["ortolan"], results["Stockfish"]
            measure_text = f"perft {label}, depth {depth}, nodes/s"
            work = f"count the leaf nodes {depth} plies deep; Stockfish's `go perft` over UCI"
            goal = f"≥ {TARGET}x"
            if isinstance(o, Unavailable) or isinstance(s, Unavailable):
                ours = f"unavailable ({o})" if isinstance(o, Unavailable) else fmt_rate(o.median)
                theirs = f"unavailable ({s})" if isinstance(s, Unavailable) else fmt_rate(s.median)
                report.row(measure_text, work, ours, sf_name, theirs, "—", goal, "n/a")
            else:
                ratio = o.median / s.median
                report.row(
                    measure_text,
                    work,
                    fmt_rate(o.median),
                    sf_name,
                    fmt_rate(s.median),
                    fmt_ratio(ratio),
                    goal,
                    verdict(ratio >= TARGET),
                )
                report.margins.append((f"perft {label} vs Stockfish", ratio / TARGET))
            for name, stat in results.items():
                system = sf_name if name == "Stockfish" else "ortolan (bench/perft.cpp)"
                if isinstance(stat, Unavailable):
                    report.absolute.append([f"perft {label}", system, f"unavailable ({stat})"])
                    report.absolute[-1] += ["—", ""]
                    continue
                value = f"{fmt_rate(stat.median)} nodes/s"
                line = [f"perft {label}, depth {depth}", system, value, spread(stat)]
                report.absolute.append([*line, f"{nodes.get(name, '?')} nodes"])
                chart.setdefault(f"{label}, depth {depth}", {})[name] = stat.median
    finally:
        if not isinstance(stockfish, Unavailable):
            stockfish.close()
    report.panel("grouped", "Perft", "nodes / s", chart)
