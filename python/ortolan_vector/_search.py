"""Batched AlphaZero-style tree search: one tree per game, leaves evaluated in batches."""

from __future__ import annotations

import math
import os
from collections.abc import Callable, Sequence
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

import ortolan
from ortolan_vector import _core

ACTION_COUNT = 4672

Evaluator = Callable[
    [npt.NDArray[Any], npt.NDArray[np.bool_]],
    tuple[npt.ArrayLike, npt.ArrayLike],
]

_DTYPE_CODES = {np.dtype(np.uint8): 0, np.dtype(np.float32): 1, np.dtype(np.int32): 2}


def _whole(name: str, value: object, low: int, high: int | None = None) -> int:
    if isinstance(value, bool) or not isinstance(value, int | np.integer):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    number = int(value)
    if number < low or (high is not None and number > high):
        bound = f"in [{low}, {high}]" if high is not None else f"at least {low}"
        raise ValueError(f"{name} must be {bound}, got {number}")
    return number


def _real(name: str, value: object) -> float:
    if isinstance(value, bool) or not isinstance(value, int | float | np.integer | np.floating):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return float(value)


class SearchResult:
    """What a run found: root visit counts by action and the roots' values.

    ``visit_counts`` is (N, 4672) int32, every visit a root's moves have had (kept subtrees
    and earlier runs included); a root whose game has ended has none. ``root_values`` is (N,)
    float32, the mean value of the visits from the point of view of the root's side to move
    (an ended game's exact value: -1 for the side mated, 0 for a draw).
    """

    __slots__ = ("root_values", "visit_counts")

    def __init__(self, visit_counts: npt.NDArray[np.int32], root_values: npt.NDArray[np.float32]):
        self.visit_counts = visit_counts
        self.root_values = root_values

    def select_actions(
        self, temperature: float = 0.0, seed: int | np.random.Generator | None = None
    ) -> npt.NDArray[np.int32]:
        """One action per root: -1 where the game has ended.

        With temperature 0 the most visited action (the lowest on a tie); otherwise an action
        drawn with probability proportional to ``visits ** (1 / temperature)``.
        """
        temperature = _real("temperature", temperature)
        if not (math.isfinite(temperature) and temperature >= 0.0):
            raise ValueError(f"temperature must be finite and >= 0, got {temperature}")
        counts = self.visit_counts
        ended = counts.max(axis=1) == 0
        if temperature == 0.0:
            chosen = counts.argmax(axis=1)
        else:
            # Powers taken through logarithms, scaled by the largest count of each root, so
            # that a small temperature does not overflow.
            with np.errstate(divide="ignore"):
                logs = np.log(counts.astype(np.float64))
            top = logs.max(axis=1, keepdims=True)
            top[~np.isfinite(top)] = 0.0
            weights = np.exp((logs - top) / temperature)
            cumulative = np.cumsum(weights, axis=1)
            draws = np.random.default_rng(seed).random(len(counts)) * cumulative[:, -1]
            chosen = (cumulative <= draws[:, None]).sum(axis=1)
            # A draw rounded up to the total lands on the last action with any weight.
            last = ACTION_COUNT - 1 - (weights[:, ::-1] > 0).argmax(axis=1)
            chosen = np.minimum(chosen, last)
        return np.where(ended, -1, chosen).astype(np.int32)


class Search:
    """AlphaZero's PUCT tree search over many games at once, one tree per root.

    ``roots`` is a ``VectorOrtolan`` (its games as they stand now; later changes to it do not
    reach the search, and the search never changes it) or a sequence of ``ortolan.State``.
    ``run(evaluate)`` calls ``evaluate(observation, action_mask)`` with a batch of M leaves,
    (M, 119, 8, 8) of ``dtype`` and (M, 4672) bool, and expects ``(priors, values)``: (M, 4672)
    non-negative weights, renormalised over each leaf's legal actions, and (M,) values in
    [-1, 1] for the side to move at the leaf. ``run("rollout")`` values each leaf by one random
    playout instead, without leaving C++.
    """

    def __init__(
        self,
        roots: Any,
        *,
        simulations: int,
        c_puct: float = 1.25,
        dirichlet_alpha: float = 0.3,
        dirichlet_fraction: float = 0.25,
        leaves_per_batch: int | None = None,
        threads: int | None = None,
        dtype: npt.DTypeLike | None = None,
        seed: int | None = None,
    ):
        states = _root_states(roots)
        if dtype is None:
            dtype = getattr(roots, "dtype", np.uint8)
        code = _DTYPE_CODES.get(np.dtype(dtype))
        if code is None:
            raise ValueError(
                f"dtype must be numpy.uint8, numpy.float32 or numpy.int32, not {dtype}"
            )
        self.dtype = np.dtype(dtype)
        self.simulations = _whole("simulations", simulations, 1, 2**31 - 1)
        if leaves_per_batch is None:
            # Enough leaves a batch that an evaluator call is shared by several dozen leaves,
            # and few enough a tree that virtual losses do not blur its search.
            leaves_per_batch = max(1, min(8, 64 // max(1, len(states))))
        leaves = _whole("leaves_per_batch", leaves_per_batch, 1, 4096)
        threads = (os.process_cpu_count() or 1) if threads is None else threads
        threads = _whole("threads", threads, 1, 1024)
        if seed is None:
            seed = int.from_bytes(os.urandom(8), "little")
        seed = _whole("seed", seed, 0, 2**64 - 1)
        self._core = _core.SearchCore(
            states,
            self.simulations,
            _real("c_puct", c_puct),
            _real("dirichlet_alpha", dirichlet_alpha),
            _real("dirichlet_fraction", dirichlet_fraction),
            leaves,
            threads,
            code,
            seed,
        )

    @property
    def num_roots(self) -> int:
        return int(self._core.num_roots)

    def run(
        self,
        evaluate: Evaluator | Literal["rollout"],
        simulations: int | None = None,
        seconds: float | None = None,
    ) -> SearchResult:
        """Visits the roots, in one of three ways.

        With ``simulations`` and ``seconds`` both None, each root is topped up to the
        constructor's ``simulations`` visits (kept subtrees count). ``simulations=k`` adds k
        visits to each root; ``seconds=t`` runs until t seconds have passed (at least one
        batch), and with both the run ends at whichever comes first. The counts returned hold
        every visit a root has had. A run that the evaluator interrupts with an exception
        keeps the batches it finished.
        """
        added = 0 if simulations is None else _whole("simulations", simulations, 1, 2**31 - 1)
        limit = -1.0
        if seconds is not None:
            limit = _real("seconds", seconds)
            if not (math.isfinite(limit) and limit >= 0.0):
                raise ValueError(f"seconds must be finite and >= 0, got {limit}")
            if simulations is None:
                added = 2**31 - 1
        if isinstance(evaluate, str):
            if evaluate != "rollout":
                raise ValueError(f'evaluate must be a callable or "rollout", not {evaluate!r}')
            counts, values = self._core.run_rollouts(added, limit)
        elif callable(evaluate):
            counts, values = self._core.run(evaluate, added, limit)
        else:
            raise TypeError(f"evaluate must be callable, not {type(evaluate).__name__}")
        return SearchResult(counts, values)

    def principal_variation(self, root: int = 0, length: int = 64) -> list[str]:
        """The most visited line from a root, in UCI text, up to ``length`` moves."""
        root = _whole("root", root, 0, self.num_roots - 1)
        moves = self._core.principal_variation(root, _whole("length", length, 0, 4096))
        return [_uci_of(move) for move in moves]

    def proven_mate(self, root: int = 0) -> int:
        """n > 0 when the tree proves that the root's side to move mates in n plies, -n when
        it proves that side mated in n plies, 0 otherwise."""
        return int(self._core.proven_mate(_whole("root", root, 0, self.num_roots - 1)))

    def advance(self, actions: npt.ArrayLike) -> None:
        """Moves each root on by its action, keeping the chosen child's subtree.

        A root whose game has ended takes -1 and stays; an action that is not legal at its
        root raises ValueError naming every such root, with nothing changed.
        """
        self._core.advance(_actions(actions, self.num_roots))

    def reset_roots(self, roots: Any, mask: npt.ArrayLike | None = None) -> None:
        """Starts the trees where ``mask`` is true (all without a mask) over from ``roots``.

        ``roots`` is a ``VectorOrtolan`` or a sequence of N ``ortolan.State``; root i is taken
        from its entry i. A self-play loop calls this for the games that ended and restarted.
        """
        states = _root_states(roots)
        if len(states) != self.num_roots:
            raise ValueError(f"roots must hold {self.num_roots} games, not {len(states)}")
        if mask is None:
            chosen = np.arange(self.num_roots)
        else:
            flags = np.asarray(mask)
            if flags.dtype != np.bool_ or flags.shape != (self.num_roots,):
                raise ValueError(f"mask must be a bool array of shape ({self.num_roots},)")
            chosen = np.flatnonzero(flags)
        self._core.reset_roots([int(i) for i in chosen], [states[int(i)] for i in chosen])


def _square_name(square: int) -> str:
    return "abcdefgh"[square % 8] + str(8 - square // 8)


def _uci_of(move: int) -> str:
    """A packed engine move (source, target, piece, promoted piece in bits 0-5, 6-11, 12-15,
    16-19; squares from a8 = 0) in UCI text."""
    promoted = (move >> 16) & 0xF
    text = _square_name(move & 0x3F) + _square_name((move >> 6) & 0x3F)
    return text + ("pnbrqk"[promoted % 6] if promoted else "")


def _root_states(roots: Any) -> list[ortolan.State]:
    save_states = getattr(roots, "save_states", None)
    if callable(save_states):
        return list(save_states())
    if isinstance(roots, Sequence) and not isinstance(roots, str | bytes):
        states = list(roots)
        if not states:
            raise ValueError("a search needs at least one root")
        return states
    raise TypeError(
        f"roots must be a VectorOrtolan or a sequence of ortolan.State, not {type(roots).__name__}"
    )


def _actions(actions: npt.ArrayLike, count: int) -> npt.NDArray[np.int32]:
    array = np.asarray(actions)
    if array.dtype.kind not in "iu" or array.shape != (count,):
        raise ValueError(f"actions must be an integer array of shape ({count},)")
    if array.size and (array.min() < -(2**31) or array.max() > 2**31 - 1):
        raise ValueError("actions must fit in int32")
    return array.astype(np.int32)
