"""A Monte Carlo tree search player (UCT) for the ortolan environment.

Copy this file as the start of your own search. Each node keeps a ``State`` of its position;
the search branches with ``restore_state`` and ``step`` and values a new leaf with one
``roll_out()``, a random game played to its end.

Rewards and ``roll_out()`` results are from White's point of view (+1 White wins, -1 Black
wins, 0 draw), so every node stores its value for White, and a node whose side to move is
Black ranks its children by the negated value.
"""

import math
import random
from collections.abc import Callable

import ortolan


def legal_actions(env: ortolan.Ortolan) -> list[int]:
    """The action numbers of the current position's legal moves, in ascending order."""
    mask = env.get_actions()
    return [
        plane * 64 + square
        for plane, row in enumerate(mask)
        if any(row)
        for square, legal in enumerate(row)
        if legal
    ]


class Node:
    """One position of the search tree."""

    __slots__ = ("children", "state", "terminal", "untried", "value", "visits", "white_to_move")

    def __init__(
        self,
        state: ortolan.State,
        white_to_move: bool,
        actions: list[int],
        terminal: int | None = None,
    ):
        self.state = state  # snapshot of this position
        self.white_to_move = white_to_move
        self.untried = actions  # legal actions without a child yet
        self.children: dict[int, Node] = {}
        self.terminal = terminal  # final reward when the game ended here, else None
        self.visits = 0
        self.value = 0  # sum of the results seen through this node, for White


class UCTPlayer:
    """Chooses moves by `simulations` rounds of select, expand, roll out and back up."""

    def __init__(self, simulations: int = 200, exploration: float = 1.4, seed: int | None = None):
        self.simulations = simulations
        self.exploration = exploration
        self.rng = random.Random(seed)

    def choose(
        self, env: ortolan.Ortolan, progress: Callable[[int, int], None] | None = None
    ) -> int:
        """The most visited action at the root; the game in `env` is left as it was."""
        root_state = env.save_state()
        actions = legal_actions(env)
        if not actions:
            raise ValueError("no legal move in this position")
        root = Node(root_state, root_state.side == 0, actions)
        for done in range(1, self.simulations + 1):
            self.simulate(env, root)
            if progress is not None:
                progress(done, self.simulations)
        env.restore_state(root_state)
        return max(root.children.items(), key=lambda item: item[1].visits)[0]

    def simulate(self, env: ortolan.Ortolan, root: Node) -> None:
        path = [root]
        node = root
        # Selection: walk down through fully expanded nodes.
        while node.terminal is None and not node.untried:
            node = self.select_child(node)
            path.append(node)
        if node.terminal is not None:
            value = node.terminal
        else:
            # Expansion: one new child, then a random playout from it.
            action = node.untried.pop(self.rng.randrange(len(node.untried)))
            env.restore_state(node.state)
            side, _, reward, done = env.step(action)
            if done:
                child = Node(env.save_state(), side == 0, [], terminal=reward)
                value = reward
            else:
                child = Node(env.save_state(), side == 0, legal_actions(env))
                value = env.roll_out()
            node.children[action] = child
            path.append(child)
        # Back-up: every node on the path counts the result, for White.
        for visited in path:
            visited.visits += 1
            visited.value += value

    def select_child(self, node: Node) -> Node:
        sign = 1.0 if node.white_to_move else -1.0
        log_visits = math.log(node.visits)

        def score(child: Node) -> float:
            mean = sign * child.value / child.visits
            return mean + self.exploration * math.sqrt(log_visits / child.visits)

        return max(node.children.values(), key=score)
