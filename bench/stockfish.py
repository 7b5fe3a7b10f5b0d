"""A Stockfish process driven over UCI, for its `go perft` command."""

from __future__ import annotations

import contextlib
import os
import shutil
import subprocess
from time import perf_counter

from .common import Unavailable


def find_stockfish(given: str | None) -> str:
    if given:
        if os.access(given, os.X_OK):
            return given
        raise Unavailable(f"{given} is not an executable")
    for cand in (shutil.which("stockfish"), "/usr/games/stockfish"):
        if cand and os.access(cand, os.X_OK):
            return cand
    raise Unavailable("stockfish not installed (Debian package stockfish)")


class Stockfish:
    """Perft is timed by the wall clock around the `go perft` command in the already running
    process, so start-up is not counted."""

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

    def until(self, prefix: str) -> list[str]:
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
        """(nodes, seconds) of `go perft depth` from the position."""
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
