"""Random playouts: uniformly random legal moves from the start position until the game ends
or 400 plies, in plies per second. ortolan's `roll_out()` (one call per game, inside the
save/restore bracket a tree search puts around it) against the same game played by a Python
loop over python-chess's and OpenSpiel's legal moves; the C++ rollout program for reference."""

from __future__ import annotations

import random
import re
import subprocess

from .common import PLY_CAP, Unavailable, interleaved, prepare, reason, repeat_for
from .report import fmt_rate

WORK = "random legal moves from the start to the end or 400 plies; a peer's in a Python loop"


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


def rollout_program(ctx) -> float | Unavailable:
    """Plies/s of the C++ rollout program (no Python), for reference."""
    if not ctx.rollout.is_file():
        return Unavailable(f"{ctx.rollout} not built")
    try:
        out = subprocess.run(
            [str(ctx.rollout), "2000" if ctx.quick else "20000"],
            check=True,
            capture_output=True,
            text=True,
        ).stdout
    except Exception as exc:
        return Unavailable(reason(exc))
    m = re.search(r"([\d.]+) plies/s", out)
    return float(m.group(1)) if m else Unavailable(f"unexpected rollout output: {out.strip()!r}")


def run(ctx) -> None:
    ortolan = ctx.systems.get("ortolan")
    results = interleaved(
        {
            "ortolan": prepare(playout_ortolan, ortolan),
            "python-chess": ctx.peer("python-chess", playout_chess, random.Random(1)),
            "OpenSpiel": ctx.peer("OpenSpiel", playout_openspiel, random.Random(2)),
        },
        ctx.repeats,
        ctx.seconds,
        "plies",
    )
    ours = results["ortolan"]
    if isinstance(ours, Unavailable):
        raise RuntimeError(f"ortolan playouts failed: {ours}")
    report, systems = ctx.report, ctx.systems
    measure = "random playouts, plies/s"
    for name, target in (("python-chess", 200), ("OpenSpiel", 5)):
        label = systems.label(name)
        margin = f"playouts vs {name}"
        report.compare_rates(measure, WORK, ours, label, results[name], target, margin)
    report.add_absolute("random playouts", results, systems)
    cpp = rollout_program(ctx)
    value = f"unavailable ({cpp})" if isinstance(cpp, Unavailable) else f"{fmt_rate(cpp)} plies/s"
    program = "C++ rollout program (no Python)"
    report.absolute.append(["random playouts", program, value, "one run", "bench/rollout.cpp"])
    rates = {n: s.median for n, s in results.items() if not isinstance(s, Unavailable)}
    report.panel("bars", "Random playouts (≤ 400 plies)", "plies / s", rates)
