"""The batched search with an evaluator in NumPy whose matrix products go to BLAS: seconds per
run. Run it as it is and with OPENBLAS_NUM_THREADS=1 to see whether BLAS's threads and the
search's pool slow each other down:

    python -m bench.blas_threads
    OPENBLAS_NUM_THREADS=1 python -m bench.blas_threads

The evaluator is the shape of a small network: one hidden layer of 256 over the 7,616 input
planes and a policy head over the 4,672 actions, float32, on 64 games from the start position.
"""

from __future__ import annotations

import argparse
import os
import time

import numpy as np

from ortolan_vector import Search, VectorOrtolan

ACTIONS = 4672


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--games", type=int, default=64)
    parser.add_argument("--simulations", type=int, default=200)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    rng = np.random.default_rng(0)
    hidden = rng.normal(0, 0.01, (119 * 64, 256)).astype(np.float32)
    head = rng.normal(0, 0.01, (256, ACTIONS)).astype(np.float32)

    def evaluate(observations, masks):
        x = np.maximum(observations.reshape(len(observations), -1) @ hidden, 0.0)
        logits = x @ head
        priors = np.exp(logits - logits.max(axis=1, keepdims=True))
        return priors, np.tanh(x[:, 0])

    env = VectorOrtolan(args.games, dtype=np.float32, seed=0)
    env.reset()
    times = []
    for run in range(args.runs):
        search = Search(env, simulations=args.simulations, seed=run)
        start = time.perf_counter()
        search.run(evaluate)
        times.append(time.perf_counter() - start)
    blas = os.environ.get("OPENBLAS_NUM_THREADS", "default")
    print(
        f"OPENBLAS_NUM_THREADS={blas}: {args.games} games x {args.simulations} simulations, "
        f"median {np.median(times):.3f} s a run (runs: {', '.join(f'{t:.3f}' for t in times)})"
    )


if __name__ == "__main__":
    main()
