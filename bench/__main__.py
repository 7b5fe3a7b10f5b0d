"""python -m bench [--quick] [--only WORKLOAD ...]: run the workloads, print and write the report.

Each workload is written the way a user of each system would write it, run for a fixed
wall-clock budget per repeat, and summarised by the median over the repeats. The peers are
optional: one that cannot be imported or run is reported as unavailable. scripts/bench installs
everything and runs this; the results go to stdout and to bench/results/compare.md and
bench/results/compare.png.
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path
from time import perf_counter

from . import agent_loop, memory, perft, playouts, primitives, search, vector
from .common import ROOT, Context
from .report import Report, machine_info, write
from .systems import Systems

# name -> module with run(ctx), in the order of a full run.
WORKLOADS = {
    "playouts": playouts,
    "agent-loop": agent_loop,
    "primitives": primitives,
    "perft": perft,
    "memory": memory,
    "vector": vector,
    "search": search,
}


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    ap = argparse.ArgumentParser(prog="python -m bench", description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="a smoke run: fewer, shorter repeats")
    ap.add_argument(
        "--only",
        action="append",
        choices=list(WORKLOADS),
        metavar="WORKLOAD",
        help=f"run only this workload (repeatable): {', '.join(WORKLOADS)}",
    )
    ap.add_argument("--repeats", type=int, help="repeats per measurement (default 5, quick 2)")
    ap.add_argument("--seconds", type=float, help="seconds per repeat (default 1.5, quick 0.2)")
    ap.add_argument("--perft", type=Path, default=ROOT / "build/release/perft")
    ap.add_argument("--rollout", type=Path, default=ROOT / "build/release/rollout")
    ap.add_argument("--stockfish", help="path of the stockfish program")
    ap.add_argument("--states", type=int, help="States kept for the memory measure")
    ap.add_argument("--out", type=Path, default=ROOT / "bench/results")
    args = ap.parse_args(argv)
    args.repeats = args.repeats or (2 if args.quick else 5)
    args.seconds = args.seconds or (0.2 if args.quick else 1.5)
    args.states = args.states or (10_000 if args.quick else 100_000)
    if args.repeats < 1 or args.seconds <= 0 or args.states < 1:
        ap.error("--repeats, --seconds and --states must be positive")
    return args


def main(argv: list[str] | None = None) -> int:
    args = parse_args(argv)
    info = machine_info()
    ctx = Context(
        quick=args.quick,
        repeats=args.repeats,
        seconds=args.seconds,
        states=args.states,
        perft=args.perft.resolve(),
        rollout=args.rollout.resolve(),
        stockfish=args.stockfish,
        systems=Systems(),
        report=Report(),
    )
    ctx.systems.get("ortolan")  # required: no comparison without it
    chosen = args.only or list(WORKLOADS)
    for name in chosen:
        ctx.log(name)
        WORKLOADS[name].run(ctx)
    ctx.log("done")

    info.append("; ".join(ctx.systems.summary()))
    info.append(
        f"{', '.join(chosen)}: {args.repeats} repeats of {args.seconds:g} s per measurement, "
        f"medians; {args.states} States per memory case" + (" (quick run)" if args.quick else "")
    )
    info.append(f"load average at the end: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    info.append(f"total time: {perf_counter() - ctx.began:.0f} s")
    write(ctx.report, info, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
