"""Training batches from one PGN database, read in parallel by Ray actors.

Each actor reads one part of the file (``PgnBatches(..., part=k, parts=n)``: the parts are cut
at game starts and hold every game once) into batches of observations, actions and outcomes,
and hands back what a trainer would use of them: here, the number of positions and the mean
outcome, plus the shapes of one batch. A compressed file (.pgn.zst, .pgn.gz) works the same,
but each part decompresses the file from its start up to its own games.

    python examples/ray_pgn.py games.pgn --actors 2
    python examples/ray_pgn.py lichess_db_standard_rated_2024-01.pgn.zst --address auto \\
        --actors 16 --min-elo 2000
"""

import argparse
import time
from typing import Any

from ortolan_vector import PgnBatches


def read_part(path: str, part: int, parts: int, batch_size: int, min_elo: int) -> dict[str, Any]:
    """What one actor does: every batch of its part of the file, summarised."""
    positions, outcome_sum, shapes, games = 0, 0.0, {}, 0
    batches = PgnBatches(
        path, batch_size, threads=1, part=part, parts=parts, min_elo=min_elo, seed=part
    )
    for batch in batches:
        positions += len(batch["action"])
        outcome_sum += float(batch["outcome"].sum())
        shapes = shapes or {name: array.shape for name, array in batch.items()}
    games = batches.games
    return {
        "part": part,
        "games": games,
        "positions": positions,
        "mean_outcome": outcome_sum / max(positions, 1),
        "skipped": len(batches.skipped),
        "shapes": shapes,
    }


class PgnPartReader:
    """The actor: one per part (Ray is imported by main alone, so read_part runs without it)."""

    def read(self, path: str, part: int, parts: int, batch_size: int, min_elo: int):
        return read_part(path, part, parts, batch_size, min_elo)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path", help="a .pgn, .pgn.gz or .pgn.zst file every actor can read")
    parser.add_argument("--address", default=None, help="Ray cluster address (default: local)")
    parser.add_argument("--actors", type=int, default=2, help="actors, one part each")
    parser.add_argument("--batch-size", type=int, default=1024)
    parser.add_argument("--min-elo", type=int, default=0, help="both players at least this")
    args = parser.parse_args(argv)
    if args.actors < 1 or args.batch_size < 1:
        parser.error("--actors and --batch-size must be at least 1")
    import ray

    actor_class = ray.remote(PgnPartReader)
    ray.init(address=args.address, include_dashboard=False, log_to_driver=False)
    try:
        start = time.perf_counter()
        actors = [actor_class.remote() for _ in range(args.actors)]
        parts = ray.get(
            [
                actor.read.remote(args.path, k, args.actors, args.batch_size, args.min_elo)
                for k, actor in enumerate(actors)
            ]
        )
        elapsed = time.perf_counter() - start
    finally:
        ray.shutdown()
    for part in parts:
        print(
            f"part {part['part']}: {part['games']} games, {part['positions']} positions, "
            f"mean outcome {part['mean_outcome']:+.3f}, {part['skipped']} games skipped"
        )
    total = sum(p["positions"] for p in parts)
    print(f"{total} positions from {args.actors} actors in {elapsed:.1f} s; a batch: ", end="")
    print({name: shape for name, shape in parts[0]["shapes"].items()} if parts[0]["shapes"] else {})
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
