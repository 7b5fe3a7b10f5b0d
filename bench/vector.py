"""The batched environment, ortolan_vector.VectorOrtolan, over N games (1024; 128 in a quick
run), in plies per second:

- the batched agent loop: legal_actions, a random pick per game in NumPy, step; uint8 and
  float32 observations, into out= buffers and allocating new arrays, on 1 and 2 threads;
- step alone with a fixed action per game (the first legal one), chosen outside the timing;
- playouts: VectorOrtolan.roll_out on 1 and 2 threads against a loop of Ortolan.roll_out,
  every game restored to the start position before each playout;
- the two thread-scaling ratios (agent loop uint8 out=, roll_out) from runs on 1 and 2
  threads timed back to back in pairs, the median of the pairs' ratios (common.paired_ratio);
- memory: resident bytes per game slot beyond the output arrays, at the start of the games
  and along the agent loop, each measured in a fresh interpreter (bench/vector_memory.py);
- beside the agent loop on 2 threads, the peers in the same run: OpenSpiel's Python loop over
  one game (the loop of the agent-loop workload), EnvPool's Chess-v1 (step alone and its own
  agent loop) and Pgx's chess under jax.jit, both over the same number of games
  (bench/vector_peers.py).
"""

from __future__ import annotations

import random

from .agent_loop import agent_openspiel
from .common import (
    Unavailable,
    interleaved,
    paired_ratio,
    prepare,
    reason,
    repeat_for,
    timed_part,
)
from .vector_memory import memory
from .vector_peers import AGENT_LOOP, STEP_ALONE, envpool_runners, pgx_agent_loop

AGENT_WORK = "legal_actions, a random legal action per game in NumPy, step"
ROLL_WORK = "random playouts from the start position, every game restored before each"
OPENSPIEL = "OpenSpiel agent loop (1 game)"
# The thread-scaling targets, (2 threads, 1 thread): their ratios come from runs timed in pairs.
SCALING = (
    ("agent loop uint8 out= 2T", "agent loop uint8 out= 1T"),
    ("roll_out 2T", "roll_out 1T"),
    ("agent loop uint8 out= 2T standard", "agent loop uint8 out= 2T"),
)
PAIRS = 12
PGX = "Pgx chess, jit(vmap(step))"


def buffers(np, slots: int, dtype, fill=None) -> dict:
    """The out= arrays of a VectorOrtolan with `slots` games."""
    make = fill or np.empty
    return {
        "observation": make((slots, 119, 8, 8), dtype=dtype),
        "action_mask": make((slots, 4672), dtype=bool),
    }


def agent_loop(vector, np, slots, threads, dtype, use_out, rules="ortolan"):
    env = vector.VectorOrtolan(slots, threads=threads, dtype=dtype, seed=1, rules=rules)
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
    env = vector.VectorOrtolan(slots, threads=threads, seed=1, rules="ortolan")
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
    env = vector.VectorOrtolan(slots, threads=threads, seed=1, rules="ortolan")
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


def peer_runners(ctx, np, slots: int) -> dict:
    """The peers of the batched agent loop: OpenSpiel's Python loop over one game, EnvPool's
    Chess-v1 and Pgx's chess at the same number of games."""
    runners = {OPENSPIEL: ctx.peer("OpenSpiel", agent_openspiel, random.Random(5))}
    runners.update(envpool_runners(ctx, np, slots, 2))
    ctx.log(f"vector: compiling Pgx's batched step for {slots} games")
    runners[PGX] = ctx.peer("Pgx", pgx_agent_loop, slots)
    return runners


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
    args = (vector, np, slots, 2, np.dtype("uint8"), True, "standard")
    runners["agent loop uint8 out= 2T standard"] = prepare(agent_loop, *args)
    for threads in (1, 2):
        runners[f"step alone uint8 {threads}T"] = prepare(step_alone, vector, np, slots, threads)
        runners[f"roll_out {threads}T"] = prepare(batched_roll_out, vector, slots, threads)
    runners["Ortolan.roll_out loop"] = prepare(single_roll_out, ctx.systems.get("ortolan"))
    runners.update(peer_runners(ctx, np, slots))
    results = interleaved(runners, ctx.repeats, ctx.seconds, "plies")
    pairs = {}
    for two, one in SCALING:
        if not any(isinstance(results[k], Unavailable) for k in (two, one)):
            ctx.log(f"vector: {two} against {one}, back to back")
            pairs[two] = paired_ratio(runners[two], runners[one], PAIRS, ctx.seconds / 3)
            ratios = ", ".join(f"{r:.2f}" for r in pairs[two])
            ctx.report.notes.append(f"vector: {two} / {one}, the pairs' ratios: {ratios}")
    report_rows(ctx, results, slots, pairs)
    memory(ctx, 1_000)


def report_rows(ctx, results: dict, slots: int, pairs: dict) -> None:
    report, systems = ctx.report, ctx.systems
    n = f"N = {slots}"

    def compare(measure, work, ours, theirs, label=None, target=None, margin=None):
        a, b = results[ours], results[theirs]
        ratios = pairs.get(ours) if theirs == dict(SCALING).get(ours) else None
        if ratios:
            work += f"; ratio: median of {len(ratios)} back-to-back pairs of runs"
        report.compare_rates(measure, work, a, label or theirs, b, target, margin, ratios)

    loop = "agent loop uint8 out= 2T"
    measure = f"batched agent loop, uint8, out=, {n}, 2 threads, plies/s"
    report.at_least(measure, AGENT_WORK, results[loop], 500_000, "vector agent loop uint8")
    compare(
        measure,
        AGENT_WORK,
        loop,
        "agent loop uint8 out= 1T",
        "the same on 1 thread",
        1.7,
        "vector agent loop, 2 threads vs 1",
    )
    compare(
        measure,
        f"{AGENT_WORK}; OpenSpiel: its Python loop over one game: legal_actions, a random one, "
        "observation_tensor, apply_action",
        loop,
        OPENSPIEL,
        f"{systems.label('OpenSpiel')} agent loop, 1 game",
        20,
        "vector agent loop vs OpenSpiel",
    )
    envpool = f"{systems.label('EnvPool')} Chess-v1, {slots} games, 2 threads"
    compare(
        measure,
        f"{AGENT_WORK}; EnvPool: step alone, the first legal action per game chosen outside "
        "the timing",
        loop,
        STEP_ALONE,
        f"{envpool}, step alone",
        25,
        "vector agent loop vs EnvPool step",
    )
    compare(
        measure,
        f"{AGENT_WORK}; EnvPool: the same, the pick from the mask in its info",
        loop,
        AGENT_LOOP,
        f"{envpool}, agent loop",
    )
    compare(
        measure,
        f"{AGENT_WORK}; Pgx: jax.jit(vmap(step)) with auto_reset, a random legal action per "
        "game drawn inside jit (compile excluded)",
        loop,
        PGX,
        f"{systems.label('Pgx')} chess, {slots} games, CPU",
        100,
        "vector agent loop vs Pgx",
    )
    compare(
        f"batched agent loop, uint8, out=, {n}, 2 threads, rules='standard', plies/s",
        f"{AGENT_WORK}; chess's draws (rules='standard') against the environment's own "
        "(rules='ortolan')",
        "agent loop uint8 out= 2T standard",
        loop,
        "the same under rules='ortolan'",
        0.9,
        "vector agent loop, standard vs ortolan rules",
    )
    measure = f"batched agent loop, float32, out=, {n}, 2 threads, plies/s"
    float32 = results["agent loop float32 out= 2T"]
    report.at_least(measure, AGENT_WORK, float32, 250_000, "vector agent loop float32")
    for dtype in ("uint8", "float32"):
        for form in ("out=", "allocating"):
            if (dtype, form) == ("uint8", "out="):
                continue
            measure = f"batched agent loop, {dtype}, {form}, {n}, 2 threads, plies/s"
            name = f"agent loop {dtype} {form}"
            compare(measure, AGENT_WORK, f"{name} 2T", f"{name} 1T", "the same on 1 thread")
    measure = f"batched step alone, uint8, out=, {n}, 2 threads, plies/s"
    work = "step with the first legal action per game, chosen outside the timing"
    compare(measure, work, "step alone uint8 2T", "step alone uint8 1T", "the same on 1 thread")
    compare(measure, work, "step alone uint8 2T", STEP_ALONE, envpool)
    compare(
        f"VectorOrtolan.roll_out, {n}, 1 thread, plies/s",
        ROLL_WORK,
        "roll_out 1T",
        "Ortolan.roll_out loop",
        "a Python loop of Ortolan.roll_out",
    )
    measure = f"VectorOrtolan.roll_out, {n}, 2 threads, plies/s"
    compare(
        measure,
        ROLL_WORK,
        "roll_out 2T",
        "Ortolan.roll_out loop",
        "a Python loop of Ortolan.roll_out",
        1.7,
        "vector roll_out vs Ortolan.roll_out",
    )
    compare(
        measure,
        ROLL_WORK,
        "roll_out 2T",
        "roll_out 1T",
        "the same on 1 thread",
        1.7,
        "vector roll_out, 2 threads vs 1",
    )
    report.add_absolute(f"vector ({n})", results, systems)
    rates = {k: s.median for k, s in results.items() if not isinstance(s, Unavailable)}
    ours = {k: v for k, v in rates.items() if k not in (OPENSPIEL, STEP_ALONE, AGENT_LOOP, PGX)}
    report.panel("bars", f"VectorOrtolan ({n})", "plies / s", ours)
    beside = {
        "ortolan uint8, 2T": rates.get(loop),
        "ortolan float32, 2T": rates.get("agent loop float32 out= 2T"),
        "OpenSpiel, 1 game": rates.get(OPENSPIEL),
        "EnvPool step alone": rates.get(STEP_ALONE),
        "EnvPool agent loop": rates.get(AGENT_LOOP),
        "Pgx": rates.get(PGX),
    }
    title = f"Batched agent loop beside the peers ({n})"
    report.panel("bars", title, "plies / s", {k: v for k, v in beside.items() if v})
