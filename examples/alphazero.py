"""AlphaZero-style self-play: many games at once, a tree search per move, training tuples out.

The games run in a ``VectorOrtolan``; every move of every game comes from one ``Search`` over
all of them, whose leaves a small network written in NumPy evaluates in batches. Each position
played becomes a training tuple: its observation, the search's visit distribution at its root
(the policy target) and the game's outcome from the point of view of the side to move there
(the value target; in a game cut off at the ply limit, which has no outcome, the search's value
of the position). Between generations the network's output layers are fitted to the tuples
by plain gradient descent, so no deep-learning framework is needed to run it.

    python examples/alphazero.py --envs 16 --games 32 --simulations 64 --out selfplay.npz

The tuples are written with ``numpy.savez``: ``observations`` (K, 119, 8, 8) uint8,
``policies`` (K, 4672) float32 and ``values`` (K,) float32.
"""

import argparse
import os
import sys
import time
from dataclasses import dataclass

# The search already keeps every core busy between evaluator calls; a BLAS library that starts
# threads of its own for these small products only competes with it.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np
import numpy.typing as npt

from ortolan_vector import Search, VectorOrtolan

ACTIONS = 4672
PLANES = 119


class TinyNetwork:
    """A fixed random hidden layer of ReLU features under a policy head and a value head.

    Only the two heads learn; that keeps the gradients two lines long and is enough to show
    the loop. Call it as the evaluator of a ``Search``.
    """

    def __init__(self, hidden: int = 64, seed: int = 0):
        rng = np.random.default_rng(seed)
        inputs = PLANES * 64
        self.w_hidden = rng.normal(0.0, 1.0 / np.sqrt(inputs), (inputs, hidden)).astype(np.float32)
        self.b_hidden = np.zeros(hidden, np.float32)
        self.w_policy = np.zeros((hidden, ACTIONS), np.float32)
        self.w_value = np.zeros(hidden, np.float32)
        self.b_value = np.float32(0.0)

    def features(self, observations: npt.NDArray[np.generic]) -> npt.NDArray[np.float32]:
        x = observations.reshape(len(observations), -1).astype(np.float32)
        # Plane 113 counts every step of the slot and saturates in uint8: it carries no
        # information a position needs, so it is left out.
        x[:, 113 * 64 : 114 * 64] = 0.0
        hidden: npt.NDArray[np.float32] = np.maximum(x @ self.w_hidden + self.b_hidden, 0.0)
        return hidden

    def __call__(
        self, observations: npt.NDArray[np.generic], masks: npt.NDArray[np.bool_]
    ) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.float32]]:
        hidden = self.features(observations)
        logits = hidden @ self.w_policy
        logits = np.where(masks, logits, -np.inf)
        priors = np.exp(logits - logits.max(axis=1, keepdims=True))
        values = np.tanh(hidden @ self.w_value + self.b_value)
        return priors.astype(np.float32), values.astype(np.float32)

    def train_step(
        self,
        observations: npt.NDArray[np.generic],
        policies: npt.NDArray[np.float32],
        values: npt.NDArray[np.float32],
        learning_rate: float = 0.5,
    ) -> float:
        """One gradient step on cross-entropy to the policies plus squared value error."""
        hidden = self.features(observations)
        logits = hidden @ self.w_policy
        logits -= logits.max(axis=1, keepdims=True)
        log_p = logits - np.log(np.exp(logits).sum(axis=1, keepdims=True))
        v = np.tanh(hidden @ self.w_value + self.b_value)
        n = len(observations)
        loss = float(-(policies * log_p).sum() / n + ((v - values) ** 2).mean())
        d_logits = (np.exp(log_p) - policies) / n
        d_value = 2.0 * (v - values) * (1.0 - v * v) / n
        self.w_policy -= learning_rate * (hidden.T @ d_logits)
        self.w_value -= learning_rate * (hidden.T @ d_value)
        self.b_value -= np.float32(learning_rate * d_value.sum())
        return loss


@dataclass
class GameRecord:
    """One finished game and its training tuples, one per position played."""

    result: float | None  # White's point of view; None for a game cut off at max_plies
    actions: list[int]
    observations: npt.NDArray[np.uint8]  # (P, 119, 8, 8)
    policies: npt.NDArray[np.float32]  # (P, 4672): the root's visit distribution
    values: npt.NDArray[np.float32]  # (P,): the outcome for the side to move there (the
    # search's root value in a game cut off)


def self_play(
    network: TinyNetwork,
    *,
    envs: int,
    games: int,
    simulations: int,
    max_plies: int,
    temperature_plies: int = 30,
    threads: int | None = None,
    seed: int = 0,
) -> list[GameRecord]:
    """Plays `envs` games at once until `games` games have finished (by the rules or cut off
    at `max_plies`); returns the first `games` to finish."""
    vector = VectorOrtolan(envs, threads=threads, autoreset_mode="same_step", max_plies=max_plies)
    obs, info = vector.reset(seed=seed)
    search = Search(vector, simulations=simulations, threads=threads, seed=seed)
    rng = np.random.default_rng(seed)
    records: list[GameRecord] = []
    # Per slot, the game so far: (observation, visit distribution, root value, action).
    history: list[list[tuple[npt.NDArray[np.uint8], npt.NDArray[np.float32], float, int]]]
    history = [[] for _ in range(envs)]
    while len(records) < games:
        result = search.run(network)
        # Early moves are drawn in proportion to the visits, for variety; later ones are the
        # most visited.
        actions = result.select_actions(np.where(info["plies"] < temperature_plies, 1.0, 0.0), rng)
        policy = result.policy()
        for i in range(envs):
            history[i].append(
                (obs["observation"][i], policy[i], float(result.root_values[i]), int(actions[i]))
            )
        obs, rewards, terminations, truncations, info = vector.step(actions)
        search.advance(actions, vector)  # the trees follow the games, new ones included
        for i in np.flatnonzero(terminations | truncations).tolist():
            game = history[i]
            if terminations[i]:
                # The last mover's result, for each position the side to move's: the sides
                # alternate back from the end.
                last = float(info["mover_reward"][i])
                values = [last if (len(game) - k) % 2 else -last for k in range(len(game))]
            else:
                # Cut off at max_plies the game has no result; the search's root values,
                # for the side to move at each position, stand in for it.
                values = [value for _, _, value, _ in game]
            records.append(
                GameRecord(
                    result=float(rewards[i]) if terminations[i] else None,
                    actions=[a for *_, a in game],
                    observations=np.stack([o for o, *_ in game]),
                    policies=np.stack([p for _, p, *_ in game]),
                    values=np.array(values, np.float32),
                )
            )
            history[i] = []
    return records[:games]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--envs", type=int, default=16, help="games played at once (default 16)")
    parser.add_argument("--games", type=int, default=32, help="games a generation (default 32)")
    parser.add_argument("--generations", type=int, default=2, help="(default 2)")
    parser.add_argument("--simulations", type=int, default=64, help="per move (default 64)")
    parser.add_argument("--max-plies", type=int, default=160, help="per game (default 160)")
    parser.add_argument("--threads", type=int, default=None, help="(default: every core)")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--out", default="selfplay.npz", help="training tuples (.npz)")
    args = parser.parse_args(argv)
    if min(args.envs, args.games, args.generations, args.simulations, args.max_plies) < 1:
        parser.error("--envs, --games, --generations, --simulations, --max-plies must be >= 1")

    network = TinyNetwork(seed=args.seed)
    tuples: dict[str, list[npt.NDArray[np.generic]]] = {"obs": [], "pi": [], "z": []}
    for generation in range(1, args.generations + 1):
        start = time.perf_counter()
        records = self_play(
            network,
            envs=args.envs,
            games=args.games,
            simulations=args.simulations,
            max_plies=args.max_plies,
            threads=args.threads,
            seed=args.seed + generation,
        )
        elapsed = time.perf_counter() - start
        results = [r.result for r in records]
        observations = np.concatenate([r.observations for r in records])
        policies = np.concatenate([r.policies for r in records])
        values = np.concatenate([r.values for r in records])
        tuples["obs"].append(observations)
        tuples["pi"].append(policies)
        tuples["z"].append(values)
        losses = [network.train_step(observations, policies, values) for _ in range(20)]
        print(
            f"Generation {generation}: {len(records)} games ({results.count(1.0)} White wins, "
            f"{results.count(-1.0)} Black wins, {results.count(0.0)} draws, "
            f"{results.count(None)} cut off), {len(values)} positions in {elapsed:.1f} s; "
            f"loss {losses[0]:.3f} -> {losses[-1]:.3f}"
        )
    np.savez(
        args.out,
        observations=np.concatenate(tuples["obs"]),
        policies=np.concatenate(tuples["pi"]),
        values=np.concatenate(tuples["z"]),
    )
    print(f"Training tuples written to {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
