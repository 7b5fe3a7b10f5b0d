"""Batched AlphaZero-style tree search: one tree per game, leaves evaluated in batches."""

from __future__ import annotations

import math
import os
from collections.abc import Callable, Sequence
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

import ortolan
from ortolan_vector import _checks, _core
from ortolan_vector._rules import RULES, RuledState, RulesName, rules_name, rules_of, unwrap
from ortolan_vector._vector import VectorOrtolan, observation_type

Evaluator = Callable[
    [npt.NDArray[Any], npt.NDArray[np.bool_]],
    tuple[npt.ArrayLike, npt.ArrayLike],
]


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

    def _weights(self, temperature: npt.ArrayLike) -> npt.NDArray[np.float64]:
        """Per root, ``visits ** (1 / temperature)`` scaled so that the largest is 1; for
        temperature 0, 1 on the most visited action (the lowest on a tie). Rows of roots
        without visits are zero."""
        temperatures = _checks.per_root("temperature", temperature, len(self.visit_counts))
        if not (np.isfinite(temperatures).all() and (temperatures >= 0.0).all()):
            raise ValueError("temperature must be finite and >= 0")
        counts = self.visit_counts
        weights = np.zeros(counts.shape, np.float64)
        cold = temperatures == 0.0
        if cold.any():
            rows = np.flatnonzero(cold)
            weights[rows, counts[rows].argmax(axis=1)] = 1.0
        if not cold.all():
            # Powers taken through logarithms, scaled by the largest count of each root, so
            # that a small temperature does not overflow.
            rows = np.flatnonzero(~cold)
            with np.errstate(divide="ignore"):
                logs = np.log(counts[rows].astype(np.float64))
            top = logs.max(axis=1, keepdims=True)
            top[~np.isfinite(top)] = 0.0
            weights[rows] = np.exp((logs - top) / temperatures[rows, None])
        weights[counts.max(axis=1) == 0] = 0.0
        return weights

    def policy(self, temperature: npt.ArrayLike = 1.0) -> npt.NDArray[np.float32]:
        """(N, 4672) float32: per root the distribution ``visits ** (1 / temperature)``,
        normalised to sum to 1 (temperature 0: all on the most visited action). A root whose
        game has ended has a row of zeros. ``temperature`` is a number or one per root."""
        weights = self._weights(temperature)
        totals = weights.sum(axis=1, keepdims=True)
        np.divide(weights, totals, out=weights, where=totals > 0)
        return weights.astype(np.float32)

    def select_actions(
        self, temperature: npt.ArrayLike = 0.0, seed: int | np.random.Generator | None = None
    ) -> npt.NDArray[np.int32]:
        """One action per root: -1 where the game has ended.

        With temperature 0 the most visited action (the lowest on a tie); otherwise an action
        drawn with probability proportional to ``visits ** (1 / temperature)``.
        ``temperature`` is a number or an array of one per root.
        """
        weights = self._weights(temperature)
        ended = self.visit_counts.max(axis=1) == 0
        cumulative = np.cumsum(weights, axis=1)
        draws = np.random.default_rng(seed).random(len(weights)) * cumulative[:, -1]
        chosen = (cumulative <= draws[:, None]).sum(axis=1)
        # A draw rounded up to the total lands on the last action with any weight.
        last = _core.ACTION_COUNT - 1 - (weights[:, ::-1] > 0).argmax(axis=1)
        chosen = np.minimum(chosen, last)
        return np.where(ended, -1, chosen).astype(np.int32)


class Search:
    """AlphaZero's PUCT tree search over many games at once, one tree per root.

    ``roots`` is a ``VectorOrtolan`` (its games as they stand now; later changes to it do not
    reach the search, and the search never changes it) or a sequence of snapshots. The search
    plays by the roots' rules: a ``VectorOrtolan``'s, those of ``RuledState`` snapshots, or
    ``rules`` given explicitly (``rules="ortolan"`` for bare ``ortolan.State`` objects).
    Terminal values, in-tree repetitions and playouts follow them.
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
        rules: RulesName | None = None,
    ):
        self.rules: RulesName = _roots_rules(roots, rules)
        states = _root_states(roots, self.rules)
        if dtype is None:
            dtype = getattr(roots, "dtype", np.uint8)
        self.dtype, code = observation_type(dtype)
        # The ranges of the settings, and the type of threads, are the compiled core's to check.
        self.simulations = _checks.int32("simulations", simulations)
        if leaves_per_batch is None:
            # Enough leaves a batch that an evaluator call is shared by several dozen leaves,
            # and few enough a tree that virtual losses do not blur its search.
            leaves_per_batch = max(1, min(8, 64 // max(1, len(states))))
        leaves = _checks.int32("leaves_per_batch", leaves_per_batch)
        threads = (os.process_cpu_count() or 1) if threads is None else threads
        seed = _checks.seed(seed)
        self._core = _core.SearchCore(
            states,
            self.simulations,
            _checks.real("c_puct", c_puct),
            _checks.real("dirichlet_alpha", dirichlet_alpha),
            _checks.real("dirichlet_fraction", dirichlet_fraction),
            leaves,
            threads,
            code,
            seed,
            RULES[self.rules],
        )
        # What each root follows: the environment (by its number), the slot's game counter
        # and the environment's step count when the root last matched its slot; -1 unknown.
        self._serial = -1
        self._games = np.full(len(states), -1, np.int64)
        self._steps = np.full(len(states), -1, np.int64)
        if isinstance(roots, VectorOrtolan):
            self._follow(roots, np.ones(len(states), np.bool_))

    def _follow(self, env: VectorOrtolan, chosen: npt.NDArray[np.bool_]) -> None:
        """Records that the chosen roots match their slots of env as it stands now."""
        steps, games, *_ = env._progress()
        if env._serial != self._serial:
            self._games[:] = -1
            self._steps[:] = -1
            self._serial = env._serial
        self._games[chosen] = games[chosen]
        self._steps[chosen] = steps

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
        keeps the batches it finished; so does Ctrl-C, which raises KeyboardInterrupt within
        some 50 ms of search work, and a later run goes on from them.
        """
        added = (
            0 if simulations is None else _checks.whole("simulations", simulations, 1, 2**31 - 1)
        )
        limit = -1.0
        if seconds is not None:
            limit = _checks.real("seconds", seconds)
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
        # The compiled core checks root and length.
        return [_uci_of(move) for move in self._core.principal_variation(root, length)]

    def proven_mate(self, root: int = 0) -> int:
        """n > 0 when the tree proves that the root's side to move mates in n plies, -n when
        it proves that side mated in n plies, 0 otherwise."""
        return int(self._core.proven_mate(root))

    def advance(self, actions: npt.ArrayLike, env: VectorOrtolan | None = None) -> None:
        """Moves each root on by its action, keeping the chosen child's subtree.

        Without ``env``: a root whose game has ended takes -1 and stays; an action that is not
        legal at its root raises ValueError naming every such root, with nothing changed.

        With ``env``, the ``VectorOrtolan`` just stepped with these actions, the search follows
        its slots: a root moves on by its action where the slot played it in the same game,
        and starts over from the slot's new game where that step reset the slot (the ending
        step itself under "same_step", the step that resets it under "next_step"). A root
        that does not match its slot (told another action than the slot played, a slot reset
        or restored since the root last matched it without ``reset_roots(env, mask)``, a root
        taken from the environment after the step, or more than one step since) raises
        ValueError naming each such slot, with nothing changed.
        """
        chosen = _checks.actions(actions, self.num_roots)
        if env is None:
            self._core.advance(chosen)
            self._steps[:] = -1
            self._games[:] = -1
            return
        if not isinstance(env, VectorOrtolan):
            raise TypeError(f"env must be a VectorOrtolan or None, not {type(env).__name__}")
        steps, games, before, after, played, _ = env._progress()
        if env.num_envs != self.num_roots:
            raise ValueError(f"env must have {self.num_roots} slots, not {env.num_envs}")
        if env.rules != self.rules:
            raise ValueError(f"env plays {env.rules!r} rules, the search {self.rules!r}")
        own = self._serial == env._serial
        known_games = self._games if own else np.full(self.num_roots, -1, np.int64)
        known_steps = self._steps if own else np.full(self.num_roots, -1, np.int64)
        restarted = after != before
        # Each slot's first fault, in this order, by name; the loop runs over faulty slots only.
        checks = [
            (known_steps == steps, "its root was taken after the step (advance first)"),
            (
                (known_steps >= 0) & (known_steps != steps - 1),
                "{behind} steps since its root followed it",
            ),
            (
                (known_games >= 0) & (known_games != before),
                "started another game before the step (reset_roots)",
            ),
            (games != after, "started another game after the step (reset_roots)"),
            (
                (played >= 0) & (chosen != played),
                "the root was told action {told}, the slot played {played}",
            ),
        ]
        faulty = np.logical_or.reduce([flags for flags, _ in checks])
        faults = []
        for i in np.flatnonzero(faulty).tolist():
            text = next(text for flags, text in checks if flags[i])
            faults.append(
                f"slot {i}: "
                + text.format(behind=steps - known_steps[i], told=chosen[i], played=played[i])
            )
        if faults:
            raise ValueError("the search does not follow env: " + "; ".join(faults))
        moves = np.where(played >= 0, chosen, -1).astype(np.int32)
        self._core.advance(moves, np.ascontiguousarray(restarted))
        fresh = np.flatnonzero(restarted)
        if fresh.size:
            states = [unwrap(env.save_state(int(i)), self.rules, f"slot {i}") for i in fresh]
            self._core.reset_roots([int(i) for i in fresh], states)
        self._follow(env, np.ones(self.num_roots, np.bool_))

    def reset_roots(self, roots: Any, mask: npt.ArrayLike | None = None) -> None:
        """Starts the trees where ``mask`` is true (all without a mask) over from ``roots``.

        ``roots`` is a ``VectorOrtolan`` or a sequence of N snapshots, of the search's rules;
        root i is taken from its entry i. A self-play loop calls this for the games that ended
        and restarted.
        """
        states = _root_states(roots, self.rules)
        if len(states) != self.num_roots:
            raise ValueError(f"roots must hold {self.num_roots} games, not {len(states)}")
        if mask is None:
            chosen = np.arange(self.num_roots)
        else:
            chosen = np.flatnonzero(_checks.flags("mask", mask, self.num_roots))
        self._core.reset_roots([int(i) for i in chosen], [states[int(i)] for i in chosen])
        picked = np.zeros(self.num_roots, np.bool_)
        picked[chosen] = True
        if isinstance(roots, VectorOrtolan):
            self._follow(roots, picked)
        else:
            self._games[picked] = -1
            self._steps[picked] = -1


def _square_name(square: int) -> str:
    return "abcdefgh"[square % 8] + str(8 - square // 8)


def _uci_of(move: int) -> str:
    """A packed engine move (source, target, piece, promoted piece in bits 0-5, 6-11, 12-15,
    16-19; squares from a8 = 0) in UCI text."""
    promoted = (move >> 16) & 0xF
    text = _square_name(move & 0x3F) + _square_name((move >> 6) & 0x3F)
    return text + ("pnbrqk"[promoted % 6] if promoted else "")


def _roots_rules(roots: Any, rules: object) -> RulesName:
    """The rules of the roots: a VectorOrtolan's, the first snapshot's, or those given."""
    own = getattr(roots, "rules", None)
    if own is None and isinstance(roots, Sequence) and not isinstance(roots, str | bytes) and roots:
        own = rules_of(roots[0]) if not isinstance(roots[0], ortolan.State) else None
    if rules is None:
        return rules_name(own if own is not None else "standard")
    chosen = rules_name(rules)
    if own is not None and own != chosen:
        raise ValueError(f"the roots are played under {own!r} rules, not {chosen!r}")
    return chosen


def _root_states(roots: Any, rules: RulesName) -> list[ortolan.State]:
    save_states = getattr(roots, "save_states", None)
    if callable(save_states):
        if getattr(roots, "rules", rules) != rules:
            raise ValueError(f"the roots are played under {roots.rules!r} rules, not {rules!r}")
        items = list(save_states())
    elif isinstance(roots, Sequence) and not isinstance(roots, str | bytes):
        items = list(roots)
        if not items:
            raise ValueError("a search needs at least one root")
    else:
        items = None
    if items is not None:
        return [
            item
            if not isinstance(item, ortolan.State | RuledState)
            else unwrap(item, rules, f"roots[{i}]")
            for i, item in enumerate(items)
        ]
    raise TypeError(
        f"roots must be a VectorOrtolan or a sequence of ortolan.State, not {type(roots).__name__}"
    )
