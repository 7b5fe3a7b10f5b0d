"""An agent loop, in plies per second: the legal actions, one chosen at random, a step that
returns the next observation, games played to their end and started again. Compared twice,
each time with the same work on both sides:

- through PettingZoo's AEC API, NumPy observations and action masks on both sides: ortolan's
  adapter `ortolan_pettingzoo` against PettingZoo's own chess environment;
- through each system's native API, observations as Python lists: `Ortolan` (the mask of
  `get_actions`, the planes `step` returns) against OpenSpiel (`legal_actions`,
  `observation_tensor`, `apply_action`).
"""

from __future__ import annotations

import random
from time import perf_counter

from .common import BLOCK, Unavailable, in_blocks, interleaved, legal_actions, prepare

AEC_WORK = "`last()` (NumPy observation and mask), sample a legal action, `step`"
NATIVE_WORK = "legal actions, a random one, `step` with the observation as lists"


def agent_ortolan(ortolan, rng):
    env = ortolan.Ortolan()

    def ply():
        done = env.step(rng.choice(legal_actions(env.get_actions())))[3]
        if done:
            env.reset()

    run_blocks = in_blocks(ply)

    def run(seconds):
        env.reset()
        return run_blocks(seconds)

    return run


def agent_pettingzoo(module, seed):
    """The loop of PettingZoo's documentation, for any module with an AEC `env()`."""
    env = module.env()

    def run(seconds):
        env.reset(seed=seed)
        plies = 0
        t0 = perf_counter()
        deadline = t0 + seconds
        while True:
            for agent in env.agent_iter():
                observation, _reward, termination, truncation, _info = env.last()
                if termination or truncation:
                    action = None
                else:
                    action = env.action_space(agent).sample(observation["action_mask"])
                    plies += 1
                env.step(action)
                if plies % BLOCK == 0:
                    now = perf_counter()
                    if now >= deadline:
                        return plies, now - t0
            env.reset()

    return run


def agent_openspiel(game, rng):
    state = game.new_initial_state()

    def ply():
        nonlocal state
        if state.is_terminal():
            state = game.new_initial_state()
        _observation = state.observation_tensor()
        state.apply_action(rng.choice(state.legal_actions()))

    run_blocks = in_blocks(ply)

    def run(seconds):
        nonlocal state
        state = game.new_initial_state()
        return run_blocks(seconds)

    return run


def run(ctx) -> None:
    adapter = "ortolan_pettingzoo"
    results = interleaved(
        {
            "ortolan": prepare(agent_ortolan, ctx.systems.get("ortolan"), random.Random(3)),
            adapter: ctx.peer(adapter, agent_pettingzoo, 4),
            "PettingZoo": ctx.peer("PettingZoo", agent_pettingzoo, 4),
            "OpenSpiel": ctx.peer("OpenSpiel", agent_openspiel, random.Random(5)),
        },
        ctx.repeats,
        ctx.seconds,
        "plies",
    )
    report, systems = ctx.report, ctx.systems
    ours = results[adapter]
    if isinstance(ours, Unavailable):
        report.notes.append(f"agent loop: the ortolan PettingZoo adapter failed: {ours}")
    else:
        label = systems.label("PettingZoo")
        measure = "agent loop, PettingZoo AEC API, plies/s"
        margin = "agent loop vs PettingZoo"
        report.compare_rates(measure, AEC_WORK, ours, label, results["PettingZoo"], 5, margin)
    ours = results["ortolan"]
    if isinstance(ours, Unavailable):
        report.notes.append(f"agent loop: ortolan failed: {ours}")
    else:
        label = systems.label("OpenSpiel")
        measure = "agent loop, native API, plies/s"
        report.compare_rates(measure, NATIVE_WORK, ours, label, results["OpenSpiel"])
    report.add_absolute("agent loop", results, systems)
    rates = {n: s.median for n, s in results.items() if not isinstance(s, Unavailable)}
    report.panel("bars", "Agent loop: actions, choose, step", "plies / s", rates)
