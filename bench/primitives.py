"""The calls a tree search makes, each timed alone from one mid-game position (microseconds per
call): save_state, step, restore_state and their combinations, get_actions, and Ortolan()
construction; and two floors for one step, the Python cost of building a 119 x 64 list of
lists like the observation `step` returns."""

from __future__ import annotations

import random
from time import perf_counter

from .common import (
    MIDGAME_PLIES,
    Stat,
    in_blocks,
    interleaved,
    legal_actions,
    ortolan_midgame,
    repeat_for,
)
from .report import fmt_rate, fmt_ratio, fmt_us, verdict


def runners(ortolan, rng):
    """name -> runner, all from one mid-game position reached by random plies."""
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


def cost_row(report, measure, work, ours, against, theirs, limit=None, margin=None):
    """A row of two per-call costs, lower is better: ratio = ours / theirs, at most `limit`."""
    ratio = ours.micros / theirs.micros
    goal, result = (f"≤ {limit:g}x", verdict(ratio <= limit)) if limit else ("—", "—")
    ours_text, theirs_text = fmt_us(ours.micros), fmt_us(theirs.micros)
    report.row(measure, work, ours_text, against, theirs_text, fmt_ratio(ratio), goal, result)
    if limit:
        report.margins.append((margin, limit / ratio))


def run(ctx) -> None:
    prims = interleaved(
        runners(ctx.systems.get("ortolan"), random.Random(6)), ctx.repeats, ctx.seconds, "calls"
    )
    report = ctx.report
    for name, stat in prims.items():
        if not isinstance(stat, Stat):
            report.notes.append(f"{name}: unavailable ({stat})")
    got = {name: stat for name, stat in prims.items() if isinstance(stat, Stat)}
    step = got.get("one step")
    lists = got.get("[list(row) for row in obs]")
    zeros = got.get("[[0]*64 for _ in range(119)]")
    bracket = got.get("save_state + restore_state")
    tree = got.get("save_state, step, restore_state")
    ctor = got.get("Ortolan() after the first")
    measure = "one step (mid-game line), µs"
    if step and lists:
        work = "ortolan: one step; other side: copying its observation as lists"
        against = "building its observation: [list(row) for row in obs]"
        cost_row(report, measure, work, step, against, lists, 2, "step vs observation as lists")
    if step and zeros:
        work = "ortolan: one step; other side: a fresh 119 x 64 list of zeros"
        cost_row(report, measure, work, step, "[[0]*64 for _ in range(119)]", zeros)
    if bracket and step:
        work = "ortolan both sides: the snapshot pair against one step"
        measure = "save_state + restore_state, µs"
        cost_row(report, measure, work, bracket, "one step", step, 1.5, "save+restore vs one step")
    if tree and step:
        work = "ortolan both sides: a search's branch and rewind against one step"
        ours = f"{fmt_rate(tree.median)}/s ({fmt_us(tree.micros)})"
        ratio = fmt_ratio(tree.micros / step.micros)
        measure = "save_state, step, restore_state (mid-game)"
        report.row(measure, work, ours, "one step", fmt_us(step.micros), ratio)
    if ctor:
        ok = verdict(ctor.micros <= 20)
        measure = "Ortolan() after the first, µs"
        report.row(measure, "construction", fmt_us(ctor.micros), "—", "—", "—", "≤ 20 µs", ok)
        report.margins.append(("Ortolan() construction", 20 / ctor.micros))
    for name, stat in got.items():
        report.add_absolute("ortolan primitives", {name: stat}, ctx.systems, per_call=True)
    costs = {name: stat.micros for name, stat in got.items()}
    report.panel("barh", "Costs of the primitives", "µs per call", costs)
