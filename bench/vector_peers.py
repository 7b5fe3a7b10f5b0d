"""The batched peers of the vector workload, each driven the way its users drive it:

- EnvPool's Chess-v1 (Pgx's chess in C++, no JAX): a synchronous pool of `slots` games on
  2 threads, through its Gymnasium API; step alone with the first legal action of each game
  chosen outside the timing, and an agent loop picking a random legal action per game in
  NumPy from the legal-action mask it returns;
- Pgx's chess under JAX on the CPU: jax.jit of the vmapped step with Pgx's auto_reset, a
  random legal action per game drawn inside the jitted function with jax.random.categorical
  on the log of the mask; compile time excluded, every call waited for.
"""

from __future__ import annotations

from .common import Unavailable, prepare, repeat_for, timed_part

ACTIONS = 4672
STEP_ALONE = "EnvPool Chess-v1 step alone"
AGENT_LOOP = "EnvPool Chess-v1 agent loop"
MASK_KEYS = ("legal_action_mask", "action_mask")


def random_legal(np, rng, mask):
    """A uniformly random legal action per row of a (games, actions) boolean mask, in NumPy:
    the 1s listed row by row, one drawn per row. A row without a 1 gets action 0."""
    rows, columns = np.nonzero(mask)
    counts = np.bincount(rows, minlength=len(mask))
    starts = np.cumsum(counts) - counts
    picks = starts + (rng.random(len(mask)) * counts).astype(np.int64)
    if not len(columns):
        return np.zeros(len(mask), np.int64)
    return np.where(counts > 0, columns[np.minimum(picks, len(columns) - 1)], 0)


def find_mask(np, observation, info, slots: int) -> tuple[str, str]:
    """Where a reset put the legal-action mask: ("observation" or "info", key). Read from what
    the environment returned, so a change of its layout shows as unavailable, not as a wrong
    figure."""
    for place, found in (("observation", observation), ("info", info)):
        if not isinstance(found, dict):
            continue
        for key in MASK_KEYS:
            mask = found.get(key)
            if mask is not None and np.shape(mask) == (slots, ACTIONS):
                if np.asarray(mask).dtype != bool:
                    raise Unavailable(f"its {place}[{key!r}] is {np.asarray(mask).dtype}")
                return place, key
    raise Unavailable(f"no ({slots}, {ACTIONS}) legal-action mask in its observation or info")


class EnvPoolChess:
    """A synchronous EnvPool Chess-v1 pool of `slots` games on `threads` threads, the mask and
    the order of its games kept from the last reset or step. EnvPool returns the games of a
    step in the order its threads finish them, named by info["env_id"]; the actions of the
    next step go with those ids."""

    def __init__(self, envpool, np, slots: int, threads: int) -> None:
        self.np = np
        self.env = envpool.make(
            "Chess-v1", env_type="gymnasium", num_envs=slots, num_threads=threads, seed=1
        )
        observation, info = self.env.reset()
        self.place, self.key = find_mask(np, observation, info, slots)
        if "env_id" not in info:
            raise Unavailable("its info has no env_id")
        self.keep(observation, info)
        space = self.env.single_observation_space
        self.spaces = (
            f"observation {space.shape} {space.dtype} per player, {len(observation)} rows "
            f"for {slots} games; legal-action mask in {self.place}[{self.key!r}] "
            f"{self.mask.shape} {self.mask.dtype}"
        )

    def keep(self, observation, info, rewards=None, terminated=None) -> None:
        self.info, self.rewards, self.terminated = info, rewards, terminated
        self.mask = (observation if self.place == "observation" else info)[self.key]
        self.ids = info["env_id"]

    def step(self, actions) -> None:
        observation, rewards, terminated, _truncated, info = self.env.step(actions, self.ids)
        self.keep(observation, info, rewards, terminated)


def envpool_step_alone(pool: EnvPoolChess, slots: int):
    """EnvPool's step alone: the first legal action of each game, chosen outside the timing."""
    return timed_part(lambda: pool.mask.argmax(axis=1), pool.step, slots)


def envpool_agent_loop(pool: EnvPoolChess, slots: int):
    """EnvPool's agent loop: a random legal action per game from the mask of the last step."""
    np = pool.np
    rng = np.random.default_rng(1)

    def one_step():
        pool.step(random_legal(np, rng, pool.mask))
        return slots

    def run(seconds):
        plies, elapsed, _ = repeat_for(seconds, one_step)
        return plies, elapsed

    return run


def envpool_runners(ctx, np, slots: int, threads: int) -> dict:
    """The two EnvPool runners over one pool (each keeps its games legal, so they can take
    turns on it); the spaces read off the pool go to the report's notes."""
    pool = ctx.peer("EnvPool", EnvPoolChess, np, slots, threads)
    names = (STEP_ALONE, AGENT_LOOP)
    if isinstance(pool, Unavailable):
        return dict.fromkeys(names, pool)
    ctx.report.notes.append(f"EnvPool Chess-v1 as read at run time: {pool.spaces}")
    return {
        STEP_ALONE: prepare(envpool_step_alone, pool, slots),
        AGENT_LOOP: prepare(envpool_agent_loop, pool, slots),
    }


def pgx_agent_loop(m, slots: int):
    """Pgx's batched chess: one jitted call chooses a random legal action per game and steps
    every game, restarting the games that end."""
    jax, jnp = m.jax, m.jax.numpy
    env = m.pgx.make("chess")
    step = jax.vmap(m.auto_reset(env.step, env.init))

    @jax.jit
    def ply(state, key):
        key, pick, rest = jax.random.split(key, 3)
        logits = jnp.log(state.legal_action_mask.astype(jnp.float32))
        actions = jax.random.categorical(pick, logits, axis=-1)
        return step(state, actions, jax.random.split(rest, slots)), key

    key = jax.random.PRNGKey(1)
    state = jax.jit(jax.vmap(env.init))(jax.random.split(key, slots))
    state, key = jax.block_until_ready(ply(state, key))  # compile, outside the timing

    def one_call():
        nonlocal state, key
        state, key = jax.block_until_ready(ply(state, key))
        return slots

    def run(seconds):
        plies, elapsed, _ = repeat_for(seconds, one_call)
        return plies, elapsed

    return run
