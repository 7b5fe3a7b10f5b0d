"""VectorOrtolan: many ortolan games stepped together in C++, with NumPy arrays in and out."""

from __future__ import annotations

import itertools
import os
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, Literal, cast

import numpy as np
import numpy.typing as npt

import ortolan
from ortolan_vector import _checks, _core
from ortolan_vector._core import VectorCore
from ortolan_vector._rules import RULES, RuledState, RulesName, rules_name, unwrap, wrap

try:
    import gymnasium
    from gymnasium.vector import AutoresetMode
    from gymnasium.vector.utils import batch_space
except ImportError:  # Gymnasium is optional: without it the class stands on NumPy alone.
    gymnasium = None  # type: ignore[assignment]

if TYPE_CHECKING:
    from gymnasium.vector import VectorEnv

    from ortolan_vector._core import _Progress

    Observation = dict[str, npt.NDArray[Any]]
    _Base = VectorEnv[Observation, npt.NDArray[np.integer[Any]], npt.NDArray[Any]]
elif gymnasium is not None:
    from gymnasium.vector import VectorEnv as _Base
else:
    _Base = object

OBSERVATION_SHAPE: tuple[int, int, int] = _core.OBSERVATION_SHAPE
ACTIONS: int = _core.ACTION_COUNT

_GYMNASIUM_MODES = {"NextStep": "next_step", "SameStep": "same_step", "Disabled": "disabled"}

AutoresetName = Literal["next_step", "same_step", "disabled"]

# Each VectorOrtolan's own number, by which a Search knows the environment it follows.
_SERIALS = itertools.count()


def observation_type(dtype: object) -> tuple[np.dtype[Any], int]:
    """The dtype of the observations and the compiled core's code for it."""
    try:
        chosen: np.dtype[Any] | None = np.dtype(cast("Any", dtype))
    except TypeError:
        chosen = None
    if chosen is None or chosen.name not in _core.OBSERVATION_TYPES or chosen != chosen.name:
        raise ValueError(f"dtype must be numpy.uint8, numpy.float32 or numpy.int32, not {dtype!r}")
    return chosen, _core.OBSERVATION_TYPES[chosen.name]


def observation_bounds(code: int, rules: RulesName) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
    """The bounds of what each plane can hold, broadcast to (119, 8, 8)."""
    low, high = _core.plane_bounds(code, RULES[rules])
    return (
        np.broadcast_to(low[:, None, None], OBSERVATION_SHAPE).copy(),
        np.broadcast_to(high[:, None, None], OBSERVATION_SHAPE).copy(),
    )


def _autoreset_name(mode: object) -> AutoresetName:
    if gymnasium is not None and isinstance(mode, AutoresetMode):
        mode = _GYMNASIUM_MODES[mode.value]
    if not isinstance(mode, str) or mode not in _core.AUTORESET_MODES:
        raise ValueError(
            f"autoreset_mode must be 'next_step', 'same_step' or 'disabled', not {mode!r}"
        )
    return cast("AutoresetName", mode)


class VectorOrtolan(_Base):
    """``num_envs`` ortolan games side by side, each slot behaving exactly as an
    ``ortolan.Ortolan`` driven with the same calls.

    Observations are ``{"observation": (N, 119, 8, 8), "action_mask": (N, 4672) bool}``; entry
    ``[n, p, row, file]`` is square ``row * 8 + file`` of plane ``p`` of slot ``n``, drawn from
    the seat of the side to move, and mask entry ``plane * 64 + square`` is action
    ``plane * 64 + square`` of ``Ortolan.get_actions``. Rewards are White's (+1 White mates,
    -1 Black mates, 0 otherwise); ``info["to_play"]`` is the side to move after the call,
    ``info["plies"]`` each slot's plies since its last reset and ``info["mover_reward"]`` the
    step's reward for the side that moved (0 from ``reset``).

    ``threads=None`` uses every core available to the process; results are the same for any
    number of threads. ``dtype`` is ``numpy.uint8`` (every plane clipped to 0..255),
    ``numpy.float32`` or ``numpy.int32`` (exactly ``Ortolan``'s values). ``autoreset_mode`` is
    ``"next_step"``, ``"same_step"`` or ``"disabled"`` (or Gymnasium's ``AutoresetMode``);
    ``max_plies`` truncates a game after that many plies since its slot's last reset;
    ``seed`` (an int in [0, 2**64), as ``Search`` takes) seeds the slots' random streams
    (used by ``roll_out``). After ``close()`` every call but ``close()`` raises RuntimeError.

    ``rules`` is the rule set (see the README's table): ``"standard"`` ends games as
    python-chess's ``is_game_over()`` does (mate, stalemate, insufficient material, the third
    occurrence, 100 half-moves without a pawn move or capture); ``"fide"`` by the automatic
    endings only (the fifth occurrence, 150 half-moves), with ``info["draw_claimable"]`` telling
    where the side to move could claim a draw; ``"ortolan"`` is exactly ``Ortolan``'s rules and
    observation. Under ``"standard"`` and ``"fide"`` plane 118 is the half-move clock, plane 113
    the game's ply, and snapshots are ``RuledState`` objects.
    """

    closed = False

    def __init__(
        self,
        num_envs: int,
        *,
        threads: int | None = None,
        dtype: npt.DTypeLike = np.uint8,
        autoreset_mode: AutoresetName | AutoresetMode = "next_step",
        max_plies: int | None = None,
        seed: int | None = None,
        rules: RulesName = "standard",
    ) -> None:
        # The compiled core checks num_envs, threads and max_plies.
        if threads is None:
            threads = os.process_cpu_count() or 1
        observation_dtype, code = observation_type(dtype)
        mode = _autoreset_name(autoreset_mode)
        self.rules: RulesName = rules_name(rules)
        self._core: VectorCore | None = VectorCore(
            num_envs, threads, code, _core.AUTORESET_MODES[mode], max_plies, RULES[self.rules]
        )
        self.num_envs = self._core.num_envs
        self.dtype: np.dtype[Any] = observation_dtype
        self.autoreset_mode: AutoresetName = mode
        self.max_plies = None if max_plies is None else int(max_plies)
        self.threads: int = self._core.threads
        self._serial = next(_SERIALS)
        self._core.seed(_checks.seed(seed))
        self._started = False
        self.metadata = {
            "autoreset_mode": mode if gymnasium is None else AutoresetMode(_mode_value(mode))
        }
        low, high = observation_bounds(code, self.rules)
        self.observation_low, self.observation_high = low, high
        if gymnasium is not None:
            spaces = gymnasium.spaces
            self.single_observation_space = spaces.Dict(
                {
                    "observation": spaces.Box(low, high, dtype=cast("Any", observation_dtype)),
                    "action_mask": spaces.Box(0, 1, (ACTIONS,), dtype=np.bool_),
                }
            )
            self.single_action_space = spaces.Discrete(ACTIONS)
            self.action_space = batch_space(self.single_action_space, self.num_envs)
        self._observation_space: Any = None

    # The batched observation space holds bounds for every entry of every slot, several times
    # the size of the observations themselves, so it is built on first use only.
    @property
    def observation_space(self) -> Any:
        if self._observation_space is None and gymnasium is not None:
            self._observation_space = batch_space(self.single_observation_space, self.num_envs)
        return self._observation_space

    @observation_space.setter
    def observation_space(self, space: Any) -> None:
        self._observation_space = space

    def _output(self, out: object) -> Observation:
        """The caller's buffers, or new ones."""
        if out is None:
            return {
                "observation": np.empty((self.num_envs, *OBSERVATION_SHAPE), dtype=self.dtype),
                "action_mask": np.empty((self.num_envs, ACTIONS), dtype=np.bool_),
            }
        if not isinstance(out, dict):
            raise TypeError(f"out must be a dict of two arrays, not {type(out).__name__}")
        if set(out) != {"observation", "action_mask"}:
            raise ValueError('out must hold exactly the two arrays "observation" and "action_mask"')
        return cast("Observation", out)

    def _live(self) -> VectorCore:
        """The compiled core, while the environment is open."""
        if self._core is None:
            raise RuntimeError("this VectorOrtolan is closed")
        return self._core

    def _game(self) -> VectorCore:
        """The compiled core, once every slot holds a game."""
        core = self._live()
        if not self._started:
            raise RuntimeError("call reset() before stepping, listing or rolling out games")
        return core

    def _progress(self) -> _Progress:
        """(steps, games, games_before, games_after, played, plies) for a Search that follows
        the slots: the successful steps so far and, per slot, its game counter (moved on by
        every start of a game and every restore or playout) now, as the last step began and
        as it finished, the action the last step played (-1 where it reset the slot or played
        nothing) and the plies since the slot's last reset."""
        return self._live().progress()

    def close(self, **kwargs: Any) -> None:
        """Ends the environment and stops its threads. Every later call but ``close()`` (which
        may be called again) raises RuntimeError."""
        self._core = None
        self.closed = True

    def reset(
        self,
        *,
        seed: int | None = None,
        options: dict[str, Any] | None = None,
        out: Observation | None = None,
    ) -> tuple[Observation, dict[str, Any]]:
        """Starts new games: in every slot, or with ``options={"reset_mask": mask}`` in the
        slots where the (N,) bool mask is true. ``options={"fens": fens}`` starts slot ``i``
        from the FEN text ``fens[i]`` (``None``: the start position) as a fresh game: a FEN
        that does not parse, or whose position python-chess's ``Board.is_valid()`` refuses,
        raises ``ValueError`` naming the slot and the reason, with no slot changed. A loaded
        position that has already ended reports its ending at the slot's next step, whatever
        the action. ``seed`` reseeds every slot's random stream. Returns every slot's
        observation and the info."""
        core = self._live()
        reset_mask = fens = None
        if options is not None:
            if not isinstance(options, dict):
                raise TypeError(f"options must be a dict, not {type(options).__name__}")
            if not set(options) <= {"reset_mask", "fens"}:
                raise ValueError('options may hold only "reset_mask" and "fens"')
            reset_mask = options.get("reset_mask")
            fens = options.get("fens")
            if reset_mask is not None:
                reset_mask = _checks.flags("reset_mask", reset_mask, self.num_envs)
            if fens is not None and (
                isinstance(fens, str | bytes) or not isinstance(fens, Sequence)
            ):
                raise TypeError("fens must be a sequence of num_envs entries, each a str or None")
        output = self._output(out)
        if seed is not None:
            core.seed(_checks.seed(seed))
        core.reset(output["observation"], output["action_mask"], reset_mask, fens)
        self._started = True
        to_play = output["observation"][:, 112, 0, 0].astype(np.int8)
        plies = core.progress()[5]
        info = self._info(to_play, plies, np.zeros(self.num_envs, dtype=np.float32))
        self._claims(info)
        return output, info

    def _info(
        self,
        to_play: npt.NDArray[np.int8],
        plies: npt.NDArray[np.int32],
        mover_reward: npt.NDArray[np.float32],
    ) -> dict[str, Any]:
        """The info of reset and step, each entry with its Gymnasium mask of slots."""
        every = np.ones(self.num_envs, dtype=np.bool_)
        return {
            "to_play": to_play,
            "_to_play": every,
            "plies": plies,
            "_plies": every.copy(),
            "mover_reward": mover_reward,
            "_mover_reward": every.copy(),
        }

    def _claims(self, info: dict[str, Any]) -> None:
        """Under "fide" rules, whether each slot's side to move could claim a draw now."""
        if self.rules == "fide":
            info["draw_claimable"] = self._live().draw_claimable()
            info["_draw_claimable"] = np.ones(self.num_envs, dtype=np.bool_)

    def step(
        self, actions: npt.ArrayLike, out: Observation | None = None
    ) -> tuple[
        Observation,
        npt.NDArray[np.float32],
        npt.NDArray[np.bool_],
        npt.NDArray[np.bool_],
        dict[str, Any],
    ]:
        """Plays one action per slot (see the class documentation for the autoreset modes).
        Every action is checked before any is played: an action that is not legal in a slot
        that is not being reset raises ``ValueError`` naming each such slot, with no slot
        changed. ``out`` is a dict of the two arrays to fill instead of new ones."""
        core = self._game()
        chosen = _checks.actions(actions, self.num_envs)
        output = self._output(out)
        n = self.num_envs
        rewards = np.empty(n, dtype=np.float32)
        terminations = np.empty(n, dtype=np.bool_)
        truncations = np.empty(n, dtype=np.bool_)
        to_play = np.empty(n, dtype=np.int8)
        observation, mask = output["observation"], output["action_mask"]
        core.step(chosen, observation, mask, rewards, terminations, truncations, to_play)
        # The side that moved is the one not to move now (a slot reset by this step has
        # reward 0 whichever side it names).
        # (+ 0.0 turns the -0.0 of a negated draw into 0.0)
        mover_reward = np.where(to_play == 1, rewards, -rewards) + np.float32(0.0)
        plies = core.progress()[5]
        info = self._info(to_play, plies, mover_reward)
        if self.autoreset_mode == "same_step":
            ended = terminations | truncations
            if ended.any():
                self._report_final(core, info, ended, output, to_play)
        self._claims(info)
        return output, rewards, terminations, truncations, info

    def _report_final(
        self,
        core: VectorCore,
        info: dict[str, Any],
        ended: npt.NDArray[np.bool_],
        output: Observation,
        to_play: npt.NDArray[np.int8],
    ) -> None:
        """Same-step autoreset: the ending slots' last observations go into the info, as
        Gymnasium's vector environments put them, and the slots start new games."""
        slots = np.flatnonzero(ended)
        final_observation = output["observation"][slots]
        final_mask = output["action_mask"][slots]
        final_obs = np.full(self.num_envs, None, dtype=object)
        for k, i in enumerate(slots):
            final_obs[i] = {"observation": final_observation[k], "action_mask": final_mask[k]}
        final_to_play = np.zeros(self.num_envs, dtype=np.int8)
        final_to_play[slots] = to_play[slots]
        plies = info["plies"]
        final_plies = np.where(ended, plies, 0).astype(np.int32)
        core.reset_ended(output["observation"], output["action_mask"])
        to_play[slots] = output["observation"][slots, 112, 0, 0]
        plies[slots] = 0
        info["final_obs"] = final_obs
        info["_final_obs"] = ended
        info["final_info"] = {
            "to_play": final_to_play,
            "_to_play": ended.copy(),
            "plies": final_plies,
            "_plies": ended.copy(),
        }
        info["_final_info"] = ended.copy()

    def legal_actions(self) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.int32]]:
        """``(actions, counts)``: per slot its legal actions in ascending order, padded with
        -1 to the largest count of the batch (at least one column), and their number."""
        actions, counts = self._game().legal_actions()
        return actions, counts

    def roll_out(self) -> npt.NDArray[np.int32]:
        """One ``Ortolan.roll_out`` per slot on all threads, each drawing from its slot's
        stream: the result from White's point of view. The slot stays where its playout
        stopped; a slot whose game ended counts as ended for autoreset. Ctrl-C raises
        KeyboardInterrupt within some 50 ms, each slot left where its playout stopped (or
        where it was, when its playout had not begun)."""
        return self._game().roll_out()

    def save_state(self, slot: int) -> ortolan.State | RuledState:
        """A snapshot of one slot: under "ortolan" rules an ``ortolan.State``, interchangeable
        with ``Ortolan.save_state``'s; otherwise a ``RuledState`` of the slot's rules."""
        return wrap(self._live().save_state(slot), self.rules)

    def save_states(self) -> list[ortolan.State | RuledState]:
        """A snapshot of every slot."""
        return [wrap(state, self.rules) for state in self._live().save_states()]

    def restore_state(self, slot: int, state: ortolan.State | RuledState) -> Observation:
        """Puts a snapshot back into one slot and returns that slot's observation and mask.
        The slot counts as not ended. Under "ortolan" rules any ``Ortolan``'s or slot's State;
        otherwise a ``RuledState`` of the same rules (``ValueError`` for anything else)."""
        core = self._live()
        state = unwrap(state, self.rules, "state")
        output: Observation = {
            "observation": np.empty(OBSERVATION_SHAPE, dtype=self.dtype),
            "action_mask": np.empty(ACTIONS, dtype=np.bool_),
        }
        core.restore_state(slot, state, output["observation"], output["action_mask"])
        self._started = True
        return output

    def restore_states(
        self, states: Sequence[ortolan.State | RuledState], out: Observation | None = None
    ) -> Observation:
        """Puts one snapshot back into every slot, all checked before any slot changes, and
        returns every slot's observation and mask."""
        core = self._live()
        if isinstance(states, str | bytes) or not isinstance(states, Sequence):
            raise TypeError("states must be a sequence of ortolan.State")
        inner = [
            s if s is None else unwrap(s, self.rules, f"states[{i}]") for i, s in enumerate(states)
        ]
        output = self._output(out)
        core.restore_states(inner, output["observation"], output["action_mask"])
        self._started = True
        return output

    def __repr__(self) -> str:
        return (
            f"VectorOrtolan({self.num_envs}, threads={self.threads}, dtype={self.dtype.name}, "
            f"autoreset_mode={self.autoreset_mode!r}, max_plies={self.max_plies}, "
            f"rules={self.rules!r})"
        )


def _mode_value(mode: AutoresetName) -> str:
    return {v: k for k, v in _GYMNASIUM_MODES.items()}[mode]
