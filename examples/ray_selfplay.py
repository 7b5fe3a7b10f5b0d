"""Self-play games generated in parallel by Ray actors, gathered in the driver.

Each actor runs the self-play of examples/alphazero.py on one thread: a ``VectorOrtolan`` of
several games and a ``Search`` over all of them, evaluated by the same small NumPy network in
every actor. Actors send back plain data only: the actions of each game, its result and its
training tuples as NumPy arrays (a ``State`` cannot be pickled, and neither can the games).
The driver replays the actions to print the games.

On this machine (a local Ray instance is started):

    python examples/ray_selfplay.py --actors 2 --games 4

On a Ray cluster, install ortolan on every node, start the cluster (``ray start --head`` on
one machine, ``ray start --address=<head>:6379`` on the others) and run the same script on
any node with the cluster's address; the examples folder is shipped to the workers:

    python examples/ray_selfplay.py --address auto --actors 16 --games 256
"""

import argparse
import pathlib
import time
from typing import Any

import ray
from alphazero import TinyNetwork, self_play

import ortolan
from ortolan_notation import action_to_lan, game_text

RESULTS = {1: "1-0", -1: "0-1", 0: "1/2-1/2"}


@ray.remote
class SelfPlayWorker:
    """Self-play on one thread: `envs` games at once under one search, on request."""

    def __init__(self, envs: int, simulations: int, max_plies: int, seed: int):
        self.network = TinyNetwork(seed=0)  # the same weights in every actor
        self.envs = envs
        self.simulations = simulations
        self.max_plies = max_plies
        self.seed = seed

    def play(self, games: int) -> list[dict[str, Any]]:
        records = self_play(
            self.network,
            envs=self.envs,
            games=games,
            simulations=self.simulations,
            max_plies=self.max_plies,
            threads=1,
            seed=self.seed,
        )
        self.seed += 1_000_003
        return [
            {
                "actions": record.actions,
                "result": record.result,
                "observations": record.observations,
                "policies": record.policies,
                "values": record.values,
            }
            for record in records
        ]


def describe(actions: list[int]) -> str:
    """Replays a game's actions on a local environment to write its moves."""
    env = ortolan.Ortolan()
    env.reset()
    moves = []
    for action in actions:
        text = action_to_lan(env.save_state(), action)
        _, _, reward, _ = env.step(action)
        moves.append(text + ("#" if reward else ""))
    return game_text(moves)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", default=None, help="Ray cluster address (default: local)")
    parser.add_argument("--actors", type=int, default=2, help="self-play actors (default 2)")
    parser.add_argument("--games", type=int, default=4, help="games in all (default 4)")
    parser.add_argument("--envs", type=int, default=4, help="games at once an actor (default 4)")
    parser.add_argument("--simulations", type=int, default=50, help="per move (default 50)")
    parser.add_argument("--max-plies", type=int, default=200, help="per game (default 200)")
    parser.add_argument("--seed", type=int, default=0, help="first actor's seed")
    args = parser.parse_args(argv)
    if min(args.actors, args.games, args.envs, args.simulations, args.max_plies) < 1:
        parser.error("--actors, --games, --envs, --simulations, --max-plies must be at least 1")

    # The workers import alphazero from this folder, shipped to them by Ray.
    examples = pathlib.Path(__file__).resolve().parent
    ray.init(
        address=args.address,
        runtime_env={"working_dir": str(examples)},
        include_dashboard=False,
        log_to_driver=False,
    )
    try:
        start = time.perf_counter()
        workers = [
            SelfPlayWorker.remote(args.envs, args.simulations, args.max_plies, args.seed + i)
            for i in range(args.actors)
        ]
        shares = [
            args.games // args.actors + (i < args.games % args.actors) for i in range(args.actors)
        ]
        pending = [w.play.remote(n) for w, n in zip(workers, shares, strict=True) if n > 0]
        games = [game for batch in ray.get(pending) for game in batch]
        elapsed = time.perf_counter() - start
    finally:
        ray.shutdown()

    positions = sum(len(game["values"]) for game in games)
    for number, game in enumerate(games, 1):
        result = "unfinished" if game["result"] is None else RESULTS[int(game["result"])]
        print(f"Game {number}: {result} after {len(game['actions'])} plies")
        print(describe(game["actions"]) + "\n")
    print(
        f"{len(games)} games, {positions} training tuples with observations "
        f"{games[0]['observations'].shape[1:]}, from {args.actors} actors in {elapsed:.1f} s"
    )
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
