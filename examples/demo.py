"""A tree search player against a uniformly random one.

The search player is ``ortolan_vector.Search`` run on the game being played, each new leaf valued
by one random playout (``run("rollout")``), entirely in C++. It keeps its tree from move to move:
after each move, its own or the opponent's, the tree moves on with the game. It plays White in
odd games and Black in even ones.
Each game ends by the rules (mate, stalemate, threefold repetition, 50 plies without a pawn
move or capture) or is stopped unfinished after ``--max-plies``. The final position is drawn
with ``render()`` and the game is printed as a move list.

    python examples/demo.py --games 4 --simulations 200
"""

import argparse
import contextlib
import ctypes
import io
import random
import sys
import time

from mcts import legal_actions

import ortolan
from ortolan_notation import action_to_lan, game_text
from ortolan_vector import Search


class SearchPlayer:
    """Chooses moves by a tree search valued by random playouts, reusing its tree."""

    def __init__(self, simulations: int, seed: int):
        self.simulations = simulations
        self.seed = seed
        self.search: Search | None = None

    def new_game(self, env: ortolan.Ortolan) -> None:
        # No exploration noise: the player plays its best, it does not train.
        self.search = Search(
            [env.save_state()],
            simulations=self.simulations,
            dirichlet_fraction=0.0,
            threads=1,
            seed=self.seed,
            rules="ortolan",
        )
        self.seed += 1

    def choose(self) -> int:
        """The most visited action after topping the tree up to `simulations` visits."""
        assert self.search is not None
        return int(self.search.run("rollout").select_actions()[0])

    def observe(self, action: int) -> None:
        """Moves the tree on with the game, keeping the subtree of the move played."""
        assert self.search is not None
        self.search.advance([action])


def show(env: ortolan.Ortolan) -> None:
    """Prints both boards of ``render`` one after the other.

    The letter board goes to the process's standard output through C stdio and the glyph board
    to ``sys.stdout``; left alone, the two streams interleave by their own buffering.
    """
    glyphs = io.StringIO()
    sys.stdout.flush()
    with contextlib.redirect_stdout(glyphs):
        env.render()
    ctypes.CDLL(None).fflush(None)
    print(glyphs.getvalue(), end="")


def ending(env: ortolan.Ortolan, reward: int, done: int) -> str:
    """Why the game stopped, read off the final position."""
    if not done:
        return "unfinished"
    if reward:
        return ("White" if reward > 0 else "Black") + " wins by checkmate"
    if not legal_actions(env):
        return "draw by stalemate"
    if env.save_state().n_repititions == 2:
        return "draw by threefold repetition"
    return "draw: 50 plies without a pawn move or capture"


def play_game(
    env: ortolan.Ortolan,
    player: SearchPlayer,
    rng: random.Random,
    search_side: int,
    max_plies: int,
) -> tuple[int, int, list[str]]:
    """Plays one game; returns (reward, done, moves)."""
    side, _, reward, done = env.reset()
    player.new_game(env)
    moves: list[str] = []
    while not done and len(moves) < max_plies:
        action = player.choose() if side == search_side else rng.choice(legal_actions(env))
        text = action_to_lan(env.save_state(), action)
        side, _, reward, done = env.step(action)
        if not done:
            player.observe(action)
        moves.append(text + ("#" if reward else ""))
    return reward, done, moves


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--games", type=int, default=4, help="games to play (default 4)")
    parser.add_argument(
        "--simulations", type=int, default=200, help="search simulations per move (default 200)"
    )
    parser.add_argument(
        "--max-plies", type=int, default=300, help="stop a game unfinished after this many plies"
    )
    parser.add_argument("--seed", type=int, default=2026, help="seed of both players' choices")
    args = parser.parse_args(argv)
    if args.games < 1 or args.simulations < 1 or args.max_plies < 1:
        parser.error("--games, --simulations and --max-plies must be at least 1")

    env = ortolan.Ortolan()
    rng = random.Random(args.seed)
    player = SearchPlayer(simulations=args.simulations, seed=args.seed)
    score = {"wins": 0, "draws": 0, "losses": 0, "unfinished": 0}
    print(
        f"Tree search ({args.simulations} simulations per move, random playouts) "
        "against a random player\n"
    )
    for game in range(1, args.games + 1):
        search_side = 0 if game % 2 else 1
        start = time.perf_counter()
        reward, done, moves = play_game(env, player, rng, search_side, args.max_plies)
        elapsed = time.perf_counter() - start
        colours = ("search", "random") if search_side == 0 else ("random", "search")
        print(f"Game {game}: White {colours[0]}, Black {colours[1]}")
        show(env)
        print(f"\nResult: {ending(env, reward, done)} after {len(moves)} plies ({elapsed:.1f} s)")
        print(game_text(moves) + "\n")
        search_reward = reward if search_side == 0 else -reward
        if not done:
            score["unfinished"] += 1
        elif search_reward > 0:
            score["wins"] += 1
        elif search_reward < 0:
            score["losses"] += 1
        else:
            score["draws"] += 1
    print(
        "Search player: {wins} won, {draws} drawn, {losses} lost, {unfinished} unfinished".format(
            **score
        )
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
