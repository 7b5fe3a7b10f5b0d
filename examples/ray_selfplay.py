"""Self-play games generated in parallel by Ray actors, gathered in the driver.

Each actor owns its own ``ortolan.Ortolan`` and plays whole games with the UCT player of
examples/mcts.py against itself. Actors send back plain data only: the actions of each game,
its result, and the observations as one NumPy array per game (a ``State`` cannot be pickled,
and neither can an ``Ortolan``). The driver replays the actions to print the games.

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

import numpy as np
import ray
from mcts import UCTPlayer

import ortolan
from ortolan_notation import action_to_lan, game_text

RESULTS = {1: "1-0", -1: "0-1", 0: "1/2-1/2"}


@ray.remote
class SelfPlayWorker:
    """One environment and one search player, playing games on request."""

    def __init__(self, simulations: int, max_plies: int, seed: int):
        self.env = ortolan.Ortolan()
        self.player = UCTPlayer(simulations=simulations, seed=seed)
        self.max_plies = max_plies

    def play(self) -> dict:
        _, planes, reward, done = self.env.reset()
        actions: list[int] = []
        observations = [planes]
        while not done and len(actions) < self.max_plies:
            action = self.player.choose(self.env)
            _, planes, reward, done = self.env.step(action)
            actions.append(action)
            observations.append(planes)
        return {
            "actions": actions,
            "reward": reward,
            "finished": bool(done),
            # One row per position from the start, each the 119 planes of 64 squares.
            "observations": np.asarray(observations, dtype=np.int32),
        }


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
    parser.add_argument("--simulations", type=int, default=50, help="per move (default 50)")
    parser.add_argument("--max-plies", type=int, default=200, help="per game (default 200)")
    parser.add_argument("--seed", type=int, default=0, help="first actor's seed")
    args = parser.parse_args(argv)
    if min(args.actors, args.games, args.simulations, args.max_plies) < 1:
        parser.error("--actors, --games, --simulations and --max-plies must be at least 1")

    # The workers import mcts from this folder, shipped to them by Ray.
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
            SelfPlayWorker.remote(args.simulations, args.max_plies, args.seed + i)
            for i in range(args.actors)
        ]
        pending = [workers[game % args.actors].play.remote() for game in range(args.games)]
        games = ray.get(pending)
        elapsed = time.perf_counter() - start
    finally:
        ray.shutdown()

    positions = sum(len(game["observations"]) for game in games)
    for number, game in enumerate(games, 1):
        result = RESULTS[game["reward"]] if game["finished"] else "unfinished"
        print(f"Game {number}: {result} after {len(game['actions'])} plies")
        print(describe(game["actions"]) + "\n")
    print(
        f"{len(games)} games, {positions} positions with observations "
        f"{games[0]['observations'].shape[1:]}, from {args.actors} actors in {elapsed:.1f} s"
    )
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
