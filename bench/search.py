#!/usr/bin/env python3
"""Batched tree search, side by side with its peers, measured in one run (simulations/s).

  ortolan   Search over N = 64 games from the start position, 200 simulations a move:
            a uniform evaluator written in NumPy (numpy.ones priors, zero values, its call
            included), on every core and on one; run("rollout") on two threads and on one
  OpenSpiel the C++ MCTSBot with its RandomRolloutEvaluator (one rollout a leaf), one tree
            from the start position
  mctx      gumbel_muzero_policy over Pgx's chess under jax.jit, batch 64, 32 simulations,
            uniform priors and zero values, compile time excluded

Each repeat runs every system once and the rate reported is the median over the repeats, so
a change in machine load touches all of them. A peer that cannot be imported is reported as
unavailable. Run with the interpreter of a venv that holds ortolan and the peers:

    .venv-bench/bin/python bench/search.py --repeats 5
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import time
from collections.abc import Callable

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np

ACTIONS = 4672
GAMES = 64
SIMULATIONS = 200


def uniform(observations, masks):
    m = len(observations)
    return np.ones((m, ACTIONS), np.float32), np.zeros(m, np.float32)


def ortolan_search(threads: int | None, rollouts: bool, simulations: int) -> Callable[[], float]:
    from ortolan_vector import Search, VectorOrtolan

    envs = VectorOrtolan(GAMES, threads=1)
    envs.reset(seed=0)
    seed = [0]

    def once() -> float:
        seed[0] += 1
        search = Search(envs, simulations=simulations, threads=threads, seed=seed[0])
        start = time.perf_counter()
        search.run("rollout" if rollouts else uniform)
        return GAMES * simulations / (time.perf_counter() - start)

    return once


def openspiel_mcts(simulations: int) -> Callable[[], float]:
    import pyspiel

    game = pyspiel.load_game("chess")
    seed = [0]

    def once() -> float:
        seed[0] += 1
        evaluator = pyspiel.RandomRolloutEvaluator(1, seed[0])
        bot = pyspiel.MCTSBot(game, evaluator, 2.0, simulations, 1000, False, seed[0], False)
        state = game.new_initial_state()
        start = time.perf_counter()
        bot.step(state)
        return simulations / (time.perf_counter() - start)

    return once


def mctx_gumbel(batch: int, simulations: int) -> Callable[[], float]:
    import jax
    import jax.numpy as jnp
    import mctx
    import pgx

    env = pgx.make("chess")
    init = jax.jit(jax.vmap(env.init))
    step = jax.vmap(env.step)

    def priors(state):
        return jnp.where(state.legal_action_mask, 0.0, jnp.finfo(jnp.float32).min)

    def recurrent_fn(params, rng_key, action, state):
        mover = state.current_player
        state = step(state, action)
        output = mctx.RecurrentFnOutput(
            reward=state.rewards[jnp.arange(batch), mover],
            discount=jnp.where(state.terminated, 0.0, -1.0),
            prior_logits=priors(state),
            value=jnp.zeros(batch),
        )
        return output, state

    @jax.jit
    def policy(key, state):
        root = mctx.RootFnOutput(
            prior_logits=priors(state), value=jnp.zeros(batch), embedding=state
        )
        return mctx.gumbel_muzero_policy(
            params=None,
            rng_key=key,
            root=root,
            recurrent_fn=recurrent_fn,
            num_simulations=simulations,
            invalid_actions=~state.legal_action_mask,
        )

    state = init(jax.random.split(jax.random.PRNGKey(0), batch))
    jax.block_until_ready(policy(jax.random.PRNGKey(1), state))  # compile
    counter = [1]

    def once() -> float:
        counter[0] += 1
        start = time.perf_counter()
        jax.block_until_ready(policy(jax.random.PRNGKey(counter[0]), state))
        return batch * simulations / (time.perf_counter() - start)

    return once


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args(argv)

    cores = os.process_cpu_count() or 1
    workloads: list[tuple[str, Callable[[], Callable[[], float]]]] = [
        (
            f"ortolan Search, NumPy uniform evaluator, {cores} threads",
            lambda: ortolan_search(None, False, SIMULATIONS),
        ),
        (
            "ortolan Search, NumPy uniform evaluator, 1 thread",
            lambda: ortolan_search(1, False, SIMULATIONS),
        ),
        ("ortolan Search, run('rollout'), 2 threads", lambda: ortolan_search(2, True, SIMULATIONS)),
        ("ortolan Search, run('rollout'), 1 thread", lambda: ortolan_search(1, True, SIMULATIONS)),
        ("OpenSpiel MCTSBot, random rollouts, 1 tree", lambda: openspiel_mcts(1000)),
        (
            "mctx gumbel_muzero_policy over Pgx, batch 64, 32 simulations",
            lambda: mctx_gumbel(64, 32),
        ),
    ]
    runners: dict[str, Callable[[], float] | None] = {}
    for name, make in workloads:
        try:
            runners[name] = make()
        except ImportError as error:
            print(f"{name}: unavailable ({error})", file=sys.stderr)
            runners[name] = None
    rates: dict[str, list[float]] = {name: [] for name in runners}
    for _ in range(args.repeats):
        for name, run in runners.items():
            if run is not None:
                rates[name].append(run())
    median = {name: statistics.median(r) for name, r in rates.items() if r}

    print(f"| workload ({args.repeats} repeats, median) | simulations/s |")
    print("|---|---:|")
    for name, rate in median.items():
        print(f"| {name} | {rate:,.0f} |")
    names = list(runners)

    def ratio(a: str, b: str) -> str:
        return f"{median[a] / median[b]:.1f}x" if a in median and b in median else "n/a"

    print()
    print(f"uniform evaluator against mctx over Pgx: {ratio(names[0], names[5])} (target 50x)")
    print(
        f"run('rollout') on 2 threads against OpenSpiel: {ratio(names[2], names[4])} (target 30x)"
    )
    print(f"run('rollout') 2 threads against 1: {ratio(names[2], names[3])} (target 1.7x)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
