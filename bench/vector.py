"""The batched environment, ortolan_vector.VectorOrtolan, over N games (1024; 128 in a quick
run), in plies per second:

- the batched agent loop: legal_actions, a random pick per game in NumPy, step; uint8 and
  float32 observations, into out= buffers and allocating new arrays, on 1 and 2 threads;
- step alone with a fixed action per game (the first legal one), chosen outside the timing;
- playouts: VectorOrtolan.roll_out on 1 and 2 threads against a loop of Ortolan.roll_out,
  every game restored to the start position before each playout;
- memory: resident bytes per game slot beyond the output arrays, at the start of the games
  and along the agent loop, each measured in a fresh interpreter.
"""

from __future__ import annotations

from .common import (
    Unavailable,
    child_result,
    interleaved,
    prepare,
    reason,
    repeat_for,
    timed_part,
)

AGENT_WORK = "legal_actions, a random legal action per game in NumPy, step"
ROLL_WORK = "random playouts from the start position, every game restored before each"


def buffers(np, slots: int, dtype, fill=None) -> dict:
    """The out= arrays of a VectorOrtolan with `slots` games."""
    make = fill or np.empty
    return {
        "observation": make((slots, 119, 8, 8), dtype=dtype),
        "action_mask": make((slots, 4672), dtype=bool),
    }


def agent_loop(vector, np, slots, threads, dtype, use_out):
    env = vector.VectorOrtolan(slots, threads=threads, dtype=dtype, seed=1)
    rng = np.random.default_rng(1)
    out = buffers(np, slots, dtype)
    env.reset(out=out)
    rows = np.arange(slots)

    def one_step():
        actions, counts = env.legal_actions()
        picks = (rng.random(slots) * counts).astype(np.int64)
        env.step(actions[rows, picks], out=out if use_out else None)
        return slots

    def run(seconds):
        plies, elapsed, _ = repeat_for(seconds, one_step)
        return plies, elapsed

    return run


def step_alone(vector, np, slots, threads):
    env = vector.VectorOrtolan(slots, threads=threads, seed=1)
    out = buffers(np, slots, np.uint8)
    env.reset(out=out)
    return timed_part(lambda: env.legal_actions()[0][:, 0], lambda a: env.step(a, out=out), slots)


def plies_runner(one_playout, total_moves):
    """A runner of playouts restored to the start. restore rewinds the position but not
    total_move_count, so the plies played are its growth over the whole run."""

    def run(seconds):
        before = total_moves()
        _, elapsed, _ = repeat_for(seconds, one_playout)
        return total_moves() - before, elapsed

    return run


def batched_roll_out(vector, slots, threads):
    env = vector.VectorOrtolan(slots, threads=threads, seed=1)
    env.reset()
    start = env.save_states()

    def one_playout():
        env.restore_states(start)
        env.roll_out()
        return 0

    return plies_runner(one_playout, lambda: sum(s.total_move_count for s in env.save_states()))


def single_roll_out(ortolan):
    game = ortolan.Ortolan()
    game.reset()
    start = game.save_state()

    def one_playout():
        game.restore_state(start)
        game.roll_out()
        return 0

    return plies_runner(one_playout, lambda: game.save_state().total_move_count)


def resident_bytes() -> int:
    import os

    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_per_slot(slots: int, steps: int = 0, checkpoints=()) -> list:
    """[(steps, resident bytes per slot beyond the output arrays)]: after the first reset and
    after each checkpoint's number of steps of the agent loop. Run in a fresh interpreter."""
    import numpy as np

    from ortolan_vector import VectorOrtolan

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
    code = f"import json; from bench.vector import memory_per_slot as m; print(json.dumps(m{args}))"
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


def run(ctx) -> None:
    try:
        vector = ctx.systems.get("ortolan_vector")
        import numpy as np
    except Exception as exc:
        ctx.report.notes.append(f"vector: ortolan_vector unavailable: {reason(exc)}")
        return
    slots = 128 if ctx.quick else 1024
    runners = {}
    for dtype in ("uint8", "float32"):
        for form in ("out=", "allocating"):
            for threads in (1, 2):
                name = f"agent loop {dtype} {form} {threads}T"
                args = (vector, np, slots, threads, np.dtype(dtype), form == "out=")
                runners[name] = prepare(agent_loop, *args)
    for threads in (1, 2):
        runners[f"step alone uint8 {threads}T"] = prepare(step_alone, vector, np, slots, threads)
        runners[f"roll_out {threads}T"] = prepare(batched_roll_out, vector, slots, threads)
    runners["Ortolan.roll_out loop"] = prepare(single_roll_out, ctx.systems.get("ortolan"))
    results = interleaved(runners, ctx.repeats, ctx.seconds, "plies")

    report = ctx.report
    n = f"N = {slots}"

    def compare(measure, work, ours, theirs, label=None, target=None, margin=None):
        a, b = results[ours], results[theirs]
        if isinstance(a, Unavailable):
            report.row(measure, work, f"unavailable ({a})", "—", "—")
            return
        report.compare_rates(measure, work, a, label or theirs, b, target, margin)

    for dtype in ("uint8", "float32"):
        for form in ("out=", "allocating"):
            measure = f"batched agent loop, {dtype}, {form}, {n}, 2 threads, plies/s"
            name = f"agent loop {dtype} {form}"
            compare(measure, AGENT_WORK, f"{name} 2T", f"{name} 1T", "the same on 1 thread")
    compare(
        f"batched step alone, uint8, out=, {n}, 2 threads, plies/s",
        "step with the first legal action per game, chosen outside the timing",
        "step alone uint8 2T",
        "step alone uint8 1T",
        "the same on 1 thread",
    )
    for threads in (1, 2):
        compare(
            f"VectorOrtolan.roll_out, {n}, {threads} thread(s), plies/s",
            ROLL_WORK,
            f"roll_out {threads}T",
            "Ortolan.roll_out loop",
            "a Python loop of Ortolan.roll_out",
        )
    report.add_absolute(f"vector ({n})", results, ctx.systems)
    rates = {k: s.median for k, s in results.items() if not isinstance(s, Unavailable)}
    report.panel("bars", f"VectorOrtolan ({n})", "plies / s", rates)
    memory(ctx, 1_000)
