"""Batched tree search, in simulations per second (a quick run uses smaller sizes):

- ortolan: ortolan_vector.Search over 64 games from the start position, 200 simulations a
  move, valued by a uniform evaluator written in NumPy (numpy.ones priors, zero values, its
  calls included), on every core and on one; and by run("rollout"), on 2 threads and on 1;
- OpenSpiel: the C++ MCTSBot with its RandomRolloutEvaluator (one rollout a leaf), one tree
  from the start position, 1000 simulations;
- mctx: gumbel_muzero_policy over Pgx's chess under jax.jit, batch 64, 32 simulations,
  uniform priors and zero values, compile time excluded.

Making a search (a Search, an MCTSBot) is outside the timing; only its run is timed.
"""

from __future__ import annotations

import itertools
import os

from .common import Unavailable, interleaved, prepare, reason, timed_part

ACTIONS = 4672


def sizes(quick: bool) -> dict:
    if quick:
        return {"games": 8, "simulations": 32, "openspiel": 100, "batch": 8, "mctx": 8}
    return {"games": 64, "simulations": 200, "openspiel": 1000, "batch": 64, "mctx": 32}


def ortolan_search(vector, np, games, simulations, threads, rollouts, rules="ortolan"):
    envs = vector.VectorOrtolan(games, threads=1, rules=rules)
    envs.reset(seed=0)
    seeds = itertools.count(1)

    def uniform(observations, masks):
        m = len(observations)
        return np.ones((m, ACTIONS), np.float32), np.zeros(m, np.float32)

    evaluate = "rollout" if rollouts else uniform

    def setup():
        return vector.Search(envs, simulations=simulations, threads=threads, seed=next(seeds))

    return timed_part(setup, lambda search: search.run(evaluate), games * simulations)


def openspiel_mcts(game, simulations):
    import pyspiel

    seeds = itertools.count(1)

    def setup():
        seed = next(seeds)
        evaluator = pyspiel.RandomRolloutEvaluator(1, seed)
        bot = pyspiel.MCTSBot(game, evaluator, 2.0, simulations, 1000, False, seed, False)
        return bot, game.new_initial_state()

    return timed_part(setup, lambda bs: bs[0].step(bs[1]), simulations)


def mctx_gumbel(m, batch, simulations):
    jax, jnp, mctx = m.jax, m.jax.numpy, m.mctx
    env = m.pgx.make("chess")
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
    keys = itertools.count(2)

    def timed(key):
        jax.block_until_ready(policy(key, state))

    return timed_part(lambda: jax.random.PRNGKey(next(keys)), timed, batch * simulations)


def run(ctx) -> None:
    try:
        vector = ctx.systems.get("ortolan_vector")
        import numpy as np
    except Exception as exc:
        ctx.report.notes.append(f"search: ortolan_vector unavailable: {reason(exc)}")
        return
    z = sizes(ctx.quick)
    games, sims = z["games"], z["simulations"]
    cores = os.process_cpu_count() or 1
    uniform_all = f"ortolan Search, NumPy evaluator, {cores} threads"
    uniform_one = "ortolan Search, NumPy evaluator, 1 thread"
    rollout_two = "ortolan Search, run('rollout'), 2 threads"
    rollout_one = "ortolan Search, run('rollout'), 1 thread"
    rollout_standard = "ortolan Search, run('rollout'), 2 threads, rules='standard'"
    results = interleaved(
        {
            uniform_all: prepare(ortolan_search, vector, np, games, sims, None, False),
            uniform_one: prepare(ortolan_search, vector, np, games, sims, 1, False),
            rollout_two: prepare(ortolan_search, vector, np, games, sims, 2, True),
            rollout_one: prepare(ortolan_search, vector, np, games, sims, 1, True),
            rollout_standard: prepare(ortolan_search, vector, np, games, sims, 2, True, "standard"),
            "OpenSpiel": ctx.peer("OpenSpiel", openspiel_mcts, z["openspiel"]),
            "mctx": ctx.peer("mctx", mctx_gumbel, z["batch"], z["mctx"]),
        },
        ctx.repeats,
        ctx.seconds,
        "simulations",
    )
    report, systems = ctx.report, ctx.systems
    ours = f"{games} games from the start, {sims} simulations a move"
    rows = [
        (
            f"search, uniform NumPy evaluator, {cores} threads, simulations/s",
            f"ortolan: {ours}; mctx: batch {z['batch']}, {z['mctx']} simulations, uniform "
            "priors, zero values, under jax.jit (compile excluded)",
            uniform_all,
            "mctx",
            50,
            "search vs mctx",
        ),
        (
            "search, random rollout leaves, 2 threads, simulations/s",
            f"ortolan: {ours}, run('rollout'); OpenSpiel: MCTSBot with RandomRolloutEvaluator, "
            f"one tree, {z['openspiel']} simulations",
            rollout_two,
            "OpenSpiel",
            30,
            "search vs OpenSpiel",
        ),
        (
            "search, run('rollout'), 2 threads against 1, simulations/s",
            f"{ours}, run('rollout')",
            rollout_two,
            rollout_one,
            1.7,
            "search, 2 threads vs 1",
        ),
        (
            "search, run('rollout'), rules='standard' against 'ortolan', 2 threads, simulations/s",
            f"{ours}, run('rollout'), playouts under chess's draws against the environment's",
            rollout_standard,
            rollout_two,
            0.9,
            "search rollout, standard vs ortolan rules",
        ),
    ]
    for measure, work, mine, theirs, target, margin in rows:
        a = results[mine]
        if isinstance(a, Unavailable):
            report.row(measure, work, f"unavailable ({a})", "—", "—")
            continue
        label = systems.label(theirs) if theirs in systems.versions else theirs
        report.compare_rates(measure, work, a, label, results[theirs], target, margin)
    report.add_absolute("search", results, systems)
    rates = {k: s.median for k, s in results.items() if not isinstance(s, Unavailable)}
    report.panel("bars", "Batched tree search", "simulations / s", rates)
