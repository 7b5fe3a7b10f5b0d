"""The batched environment's memory: resident bytes per game slot beyond the output arrays,
at the start of the games and along the agent loop, each measured in a fresh interpreter (a
part of the vector workload, bench/vector.py)."""

from __future__ import annotations

from .common import Unavailable, child_result
from .memory_child import resident_bytes


def memory_per_slot(slots: int, steps: int = 0, checkpoints=()) -> list:
    """[(steps, resident bytes per slot beyond the output arrays)]: after the first reset and
    after each checkpoint's number of steps of the agent loop. Run in a fresh interpreter."""
    import numpy as np

    from ortolan_vector import VectorOrtolan

    from .vector import buffers

    out = buffers(np, slots, np.uint8, np.ones)  # touched, so already resident
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


def fresh(*args) -> list | Unavailable:
    """memory_per_slot(*args) in a new interpreter: memory freed by earlier runs would be
    reused without showing in the resident size."""
    code = "import json; from bench.vector_memory import memory_per_slot as m; "
    code += f"print(json.dumps(m{args}))"
    return child_result("-c", code)


def memory(ctx, slots: int) -> None:
    many = 1_000 if ctx.quick else 10_000
    steps = 100 if ctx.quick else 1_000
    checkpoints = (10, 100) if ctx.quick else (10, 100, 250, 500, 1_000)
    ctx.log(f"vector: memory per slot, {many} slots and {slots} slots along {steps} steps")
    start, along = fresh(many), fresh(slots, steps, checkpoints)
    report, table = ctx.report, []
    work = "VectorOrtolan after reset(out=...): resident-set growth per game slot"
    if isinstance(start, Unavailable):
        report.row(
            f"VectorOrtolan memory per slot, {many} slots", work, f"unavailable ({start})", "—", "—"
        )
    else:
        value = f"{start[0][1]:,.0f} B"
        report.row(f"VectorOrtolan memory per slot, {many} slots", work, value, "—", "—")
        table.append([f"{many:,}", "0", value])
    if isinstance(along, Unavailable):
        report.notes.append(f"vector: memory along the agent loop failed: {along}")
    else:
        table += [[f"{slots:,}", f"{s * slots:,}", f"{b:,.0f} B"] for s, b in along]
    note = (
        "Resident-set growth per game slot beyond the observation and mask buffers, "
        "in a fresh interpreter per case; the agent loop chooses random legal actions."
    )
    report.section("VectorOrtolan memory per slot", ["slots", "plies", "B/slot"], table, note)
