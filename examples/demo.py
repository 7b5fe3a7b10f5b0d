"""Plays a few games with the ortolan environment.

A random agent plays against itself through ``get_actions`` and ``step``; then a small
Monte Carlo agent (a handful of ``roll_out`` playouts per candidate move, bracketed by
``save_state`` and ``restore_state``) plays White against the random agent.
"""

import contextlib
import ctypes
import io
import random
import sys
import time

import ortolan

RESULTS = {1: "White wins", -1: "Black wins", 0: "draw"}


def legal_actions(env: ortolan.Ortolan) -> list[int]:
    mask = env.get_actions()
    return [
        plane * 64 + square for plane, row in enumerate(mask) for square, v in enumerate(row) if v
    ]


def random_game(env: ortolan.Ortolan, rng: random.Random) -> tuple[int, int]:
    env.reset()
    plies, reward, done = 0, 0, 0
    while not done and plies < 400:
        _, _, reward, done = env.step(rng.choice(legal_actions(env)))
        plies += 1
    return reward, plies


def monte_carlo_move(env: ortolan.Ortolan, playouts: int) -> int:
    root = env.save_state()
    white_to_move = root.side == 0
    best_action, best_score = None, None
    for action in legal_actions(env):
        env.restore_state(root)
        _, _, reward, done = env.step(action)
        if done:
            score = reward * playouts * 2
        else:
            after = env.save_state()
            score = 0
            for _ in range(playouts):
                score += env.roll_out()
                env.restore_state(after)
        if not white_to_move:
            score = -score
        if best_score is None or score > best_score:
            best_action, best_score = action, score
    env.restore_state(root)
    return best_action


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


def main() -> None:
    env = ortolan.Ortolan()
    rng = random.Random(2026)

    print("Random self-play:")
    start = time.perf_counter()
    total_plies = 0
    for game in range(1, 6):
        reward, plies = random_game(env, rng)
        total_plies += plies
        print(f"  game {game}: {RESULTS[reward]} after {plies} plies")
    elapsed = time.perf_counter() - start
    print(f"  {total_plies / elapsed:,.0f} plies per second through get_actions and step")

    print("\nMonte Carlo (White, 8 playouts per move) against random (Black):")
    env.reset()
    done, reward, plies = 0, 0, 0
    while not done and plies < 200:
        if plies % 2 == 0:
            action = monte_carlo_move(env, playouts=8)
        else:
            action = rng.choice(legal_actions(env))
        _, _, reward, done = env.step(action)
        plies += 1
    print(f"  {RESULTS[reward] if done else 'unfinished'} after {plies} plies; final position:")
    show(env)

    start = time.perf_counter()
    root = env.save_state()
    env.reset()
    start_state = env.save_state()
    rollouts = 2000
    for _ in range(rollouts):
        env.roll_out()
        env.restore_state(start_state)
    env.restore_state(root)
    elapsed = time.perf_counter() - start
    print(f"{rollouts / elapsed:,.0f} random playouts per second from the start position")


if __name__ == "__main__":
    main()
