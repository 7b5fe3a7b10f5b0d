"""python -m bench.uci [--quick]: the UCI engine and the match runner, timed.

- nps: the ``nps`` ortolan-uci reports for ``go movetime`` from the start position with the
  rollout evaluator, against ``Search.run("rollout", seconds=...)`` on one tree with the same
  threads and leaves a batch, and against its own 1-thread figure; 1 and 2 threads run back to
  back in pairs, and each ratio is the median over the pairs;
- stop: the time from writing ``stop`` during ``go infinite`` to reading ``bestmove``, median
  and maximum over 100 searches;
- match runner: its own time a move (everything between one engine's answer and the next
  request: judging the position, the clocks, adjudication, bookkeeping), median and 99th
  percentile, both engines ortolan-uci at 50 nodes a move.
"""

from __future__ import annotations

import argparse
import statistics
import subprocess
import sys
import time

ENGINE = [sys.executable, "-m", "ortolan_uci"]


class Uci:
    def __init__(self, threads: int):
        self.process = subprocess.Popen(
            ENGINE, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1
        )
        self.send(f"setoption name Threads value {threads}")
        self.send("isready")
        self.wait_for("readyok")

    def send(self, line: str) -> None:
        assert self.process.stdin is not None
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def wait_for(self, prefix: str) -> tuple[str, list[str]]:
        assert self.process.stdout is not None
        seen = []
        while not (line := self.process.stdout.readline()).startswith(prefix):
            if not line:
                raise RuntimeError("the engine ended")
            seen.append(line)
        return line, seen

    def close(self) -> None:
        self.send("quit")
        self.process.wait(timeout=30)


def engine_nps(uci: Uci, seconds: float) -> float:
    uci.send("ucinewgame")
    uci.send("position startpos")
    uci.send(f"go movetime {round(seconds * 1000)}")
    _, seen = uci.wait_for("bestmove")
    info = [line.split() for line in seen if " nps " in line][-1]
    return float(info[info.index("nps") + 1])


def search_nps(threads: int, seconds: float) -> float:
    import ortolan_vector

    env = ortolan_vector.VectorOrtolan(1, threads=1)
    env.reset(seed=0)
    search = ortolan_vector.Search(
        env, simulations=1, threads=threads, leaves_per_batch=8, dirichlet_fraction=0.0, seed=1
    )
    began = time.perf_counter()
    result = search.run("rollout", seconds=seconds)
    return float(result.visit_counts.sum()) / (time.perf_counter() - began)


def nps_rows(pairs: int, seconds: float) -> list[str]:
    engines = {t: Uci(t) for t in (1, 2)}
    try:
        one, two, searched = [], [], []
        for _ in range(pairs):
            one.append(engine_nps(engines[1], seconds))
            two.append(engine_nps(engines[2], seconds))
            searched.append(search_nps(2, seconds))
    finally:
        for uci in engines.values():
            uci.close()
    scaling = statistics.median(b / a for a, b in zip(one, two, strict=True))
    against = statistics.median(b / s for b, s in zip(two, searched, strict=True))
    return [
        f"| ortolan-uci nps, 2 threads | {statistics.median(two):,.0f} |",
        f"| ortolan-uci nps, 1 thread | {statistics.median(one):,.0f} |",
        f'| Search.run("rollout"), one tree, 2 threads, simulations/s '
        f"| {statistics.median(searched):,.0f} |",
        f"| ortolan-uci 2 threads / Search.run, median of {pairs} pairs | {against:.2f}x |",
        f"| ortolan-uci 2 threads / 1 thread, median of {pairs} pairs | {scaling:.2f}x |",
    ]


def stop_rows(searches: int) -> list[str]:
    uci = Uci(2)
    delays = []
    try:
        for i in range(searches):
            uci.send(f"position startpos{' moves e2e4' if i % 2 else ''}")
            uci.send("go infinite")
            time.sleep(0.03)
            began = time.perf_counter()
            uci.send("stop")
            uci.wait_for("bestmove")
            delays.append(time.perf_counter() - began)
    finally:
        uci.close()
    return [
        f"| stop to bestmove, median of {searches} | {1000 * statistics.median(delays):.1f} ms |",
        f"| stop to bestmove, maximum of {searches} | {1000 * max(delays):.1f} ms |",
    ]


def match_rows(games: int) -> list[str]:
    from ortolan_match import EngineSpec, Match, TimeControl, random_openings

    spec = EngineSpec(list(ENGINE), {"Threads": "1"}, name="ortolan-uci")
    match = Match(
        spec,
        spec,
        openings=random_openings((games + 1) // 2, 4, seed=1),
        games=games,
        control=TimeControl(nodes=50),
    )
    match.run()
    times = sorted(match.own_times)
    p99 = times[min(len(times) - 1, round(0.99 * (len(times) - 1)))]
    return [
        f"| match runner's own time a move, median of {len(times)} moves "
        f"| {1000 * statistics.median(times):.3f} ms |",
        f"| match runner's own time a move, 99th percentile | {1000 * p99:.3f} ms |",
    ]


def main(argv: list[str] | None = None) -> None:
    ap = argparse.ArgumentParser(prog="python -m bench.uci", description=__doc__.split("\n")[0])
    ap.add_argument("--quick", action="store_true", help="fewer pairs, searches and games")
    args = ap.parse_args(argv)
    pairs, seconds, searches, games = (2, 0.5, 20, 2) if args.quick else (5, 2.0, 100, 6)
    rows = ["| measure | value |", "|---|---|"]
    rows += nps_rows(pairs, seconds)
    rows += stop_rows(searches)
    rows += match_rows(games)
    print("\n".join(rows))


if __name__ == "__main__":
    main()
