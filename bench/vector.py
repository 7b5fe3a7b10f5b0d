"""Timings of the batched environment, ortolan_vector.VectorOrtolan.

    .venv/bin/python bench/vector.py [--slots 1024] [--seconds 3] [--memory-slots 10000]

Rows, each the best of three runs of about --seconds / 3:

- the batched agent loop: legal_actions, a random pick per slot in NumPy, step; with uint8 and
  float32 observations, into out= buffers and allocating new arrays, on 1 and 2 threads;
- step alone with a fixed action per slot (the first legal one), for comparison with peers
  that time their step without choosing actions;
- playouts: VectorOrtolan.roll_out on 1 and 2 threads against a loop of Ortolan.roll_out, each
  from the start position restored before every playout;
- memory: resident bytes per slot of a VectorOrtolan at the start of its games, beyond its
  output arrays, and for 1,000 slots along a million plies of the agent loop.
"""

import argparse
import ast
import os
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
from ortolan_vector import VectorOrtolan

import ortolan


def best_rate(run, seconds):
    """The best of three rates (units per second) of run(deadline) -> units."""
    rates = []
    for _ in range(3):
        begin = time.perf_counter()
        units = run(begin + seconds / 3)
        rates.append(units / (time.perf_counter() - begin))
    return max(rates)


def agent_loop(slots, threads, dtype, use_out, seconds):
    env = VectorOrtolan(slots, threads=threads, dtype=dtype, seed=1)
    rng = np.random.default_rng(1)
    out = {
        "observation": np.empty((slots, 119, 8, 8), dtype=dtype),
        "action_mask": np.empty((slots, 4672), dtype=bool),
    }
    env.reset(out=out)
    rows = np.arange(slots)

    def run(deadline):
        plies = 0
        while time.perf_counter() < deadline:
            actions, counts = env.legal_actions()
            picks = (rng.random(slots) * counts).astype(np.int64)
            env.step(actions[rows, picks], out=out if use_out else None)
            plies += slots
        return plies

    return best_rate(run, seconds)


def step_alone(slots, threads, seconds):
    """Plies per second of step itself, actions chosen outside the timing."""
    env = VectorOrtolan(slots, threads=threads, seed=1)
    out = {
        "observation": np.empty((slots, 119, 8, 8), dtype=np.uint8),
        "action_mask": np.empty((slots, 4672), dtype=bool),
    }
    env.reset(out=out)
    rates = []
    for _ in range(3):
        deadline, stepping, plies = time.perf_counter() + seconds / 3, 0.0, 0
        while time.perf_counter() < deadline:
            actions = env.legal_actions()[0][:, 0]
            begin = time.perf_counter()
            env.step(actions, out=out)
            stepping += time.perf_counter() - begin
            plies += slots
        rates.append(plies / stepping)
    return max(rates)


def batched_roll_out(slots, threads, seconds):
    env = VectorOrtolan(slots, threads=threads, seed=1)
    env.reset()
    start = env.save_states()

    def run(deadline):
        before = sum(s.total_move_count for s in env.save_states())
        while time.perf_counter() < deadline:
            env.restore_states(start)
            env.roll_out()
        return sum(s.total_move_count for s in env.save_states()) - before

    return best_rate(run, seconds)


def single_roll_out(seconds):
    game = ortolan.Ortolan()
    game.reset()
    start = game.save_state()

    def run(deadline):
        before = game.save_state().total_move_count
        while time.perf_counter() < deadline:
            game.restore_state(start)
            game.roll_out()
        return game.save_state().total_move_count - before

    return best_rate(run, seconds)


def resident_bytes():
    with open(f"/proc/{os.getpid()}/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_per_slot(slots, steps=0, checkpoints=()):
    """Resident bytes per slot beyond the output arrays: after the first reset, and after each
    checkpoint's number of steps of the agent loop."""
    out = {
        "observation": np.ones((slots, 119, 8, 8), dtype=np.uint8),
        "action_mask": np.ones((slots, 4672), dtype=bool),
    }
    before = resident_bytes()
    env = VectorOrtolan(slots, threads=2, seed=1)
    env.reset(out=out)
    sizes = [(0, (resident_bytes() - before) / slots)]
    rng = np.random.default_rng(1)
    rows = np.arange(slots)
    for step in range(1, steps + 1):
        actions, counts = env.legal_actions()
        env.step(actions[rows, (rng.random(slots) * counts).astype(np.int64)], out=out)
        if step in checkpoints:
            sizes.append((step, (resident_bytes() - before) / slots))
    return sizes


def in_fresh_process(call):
    """The value of a call of this module's functions, made in a new interpreter."""
    code = f"import sys; sys.path.insert(0, {str(Path(__file__).parent)!r}); import vector; "
    code += f"print(repr(vector.{call}))"
    result = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, check=True
    )
    return ast.literal_eval(result.stdout.strip())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--slots", type=int, default=1024)
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--memory-slots", type=int, default=10_000)
    args = parser.parse_args()
    n, seconds = args.slots, args.seconds
    print(f"N = {n}, {os.process_cpu_count()} cores, load {os.getloadavg()[0]:.1f}")
    for dtype in (np.uint8, np.float32):
        for use_out in (True, False):
            for threads in (1, 2):
                rate = agent_loop(n, threads, dtype, use_out, seconds)
                form = "out=" if use_out else "allocating"
                name = np.dtype(dtype).name
                print(f"agent loop  {name:7} {form:10} {threads} thread(s): {rate:12,.0f} plies/s")
    for threads in (1, 2):
        rate = step_alone(n, threads, seconds)
        print(f"step alone  uint8   out=       {threads} thread(s): {rate:12,.0f} plies/s")
    single = single_roll_out(seconds)
    print(f"Ortolan.roll_out loop:               {single:12,.0f} plies/s")
    for threads in (1, 2):
        rate = batched_roll_out(n, threads, seconds)
        ratio = rate / single
        print(f"batched roll_out {threads} thread(s):         {rate:12,.0f} plies/s ({ratio:.2f}x)")
    # Each memory figure comes from a fresh interpreter: memory freed by earlier runs would be
    # reused without showing in the resident size.
    start = in_fresh_process(f"memory_per_slot({args.memory_slots})")[0][1]
    print(f"memory per slot, {args.memory_slots:,} slots at the start: {start:,.0f} B")
    sizes = in_fresh_process("memory_per_slot(1000, 1000, (10, 100, 250, 500, 1000))")
    shown = ", ".join(f"{size:,.0f} B after {step * 1000:,} plies" for step, size in sizes)
    print(f"memory per slot, 1,000 slots: {shown}")


if __name__ == "__main__":
    main()
