from collections.abc import Buffer, Callable, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

import ortolan

OBSERVATION_SHAPE: tuple[int, int, int]
ACTION_COUNT: int
OBSERVATION_TYPES: dict[str, int]
AUTORESET_MODES: dict[str, int]
RULES: dict[str, int]
PLANE_MOVES: npt.NDArray[np.int8]

# (steps, games, games_before, games_after, played, plies) of a VectorCore's slots.
_Progress = tuple[
    int,
    npt.NDArray[np.uint32],
    npt.NDArray[np.uint32],
    npt.NDArray[np.uint32],
    npt.NDArray[np.int32],
    npt.NDArray[np.int32],
]

def plane_bounds(
    observation_type: int, rules: int
) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]: ...
def other_seat(observation: npt.NDArray[Any]) -> npt.NDArray[Any]: ...

class VectorCore:
    def __init__(
        self,
        num_envs: int,
        threads: int,
        observation_type: int,
        autoreset: int,
        max_plies: int | None,
        rules: int = 0,
    ) -> None: ...
    @property
    def num_envs(self) -> int: ...
    @property
    def threads(self) -> int: ...
    @property
    def rules(self) -> int: ...
    def seed(self, arg0: int, /) -> None: ...
    def reset(
        self,
        observation: npt.NDArray[np.generic],
        action_mask: npt.NDArray[np.bool_],
        reset_mask: npt.NDArray[np.bool_] | None,
        fens: object,
    ) -> None: ...
    def step(
        self,
        actions: npt.NDArray[np.int32],
        observation: npt.NDArray[np.generic],
        action_mask: npt.NDArray[np.bool_],
        rewards: npt.NDArray[np.float32],
        terminations: npt.NDArray[np.bool_],
        truncations: npt.NDArray[np.bool_],
        to_play: npt.NDArray[np.int8],
    ) -> None: ...
    def reset_ended(
        self, observation: npt.NDArray[np.generic], action_mask: npt.NDArray[np.bool_]
    ) -> None: ...
    def legal_actions(self) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.int32]]: ...
    def roll_out(self) -> npt.NDArray[np.int32]: ...
    def save_state(self, slot: int) -> ortolan.State: ...
    def save_states(self) -> list[ortolan.State]: ...
    def restore_state(
        self,
        slot: int,
        state: ortolan.State,
        observation: npt.NDArray[np.generic],
        action_mask: npt.NDArray[np.bool_],
    ) -> None: ...
    def restore_states(
        self,
        states: Sequence[ortolan.State],
        observation: npt.NDArray[np.generic],
        action_mask: npt.NDArray[np.bool_],
    ) -> None: ...
    def observe(
        self, observation: npt.NDArray[np.generic], action_mask: npt.NDArray[np.bool_]
    ) -> None: ...
    def draw_claimable(self) -> npt.NDArray[np.bool_]: ...
    def progress(self) -> _Progress: ...

class SearchCore:
    def __init__(
        self,
        roots: Sequence[ortolan.State],
        simulations: int,
        c_puct: float,
        dirichlet_alpha: float,
        dirichlet_fraction: float,
        leaves_per_batch: int,
        threads: int,
        dtype_code: int,
        seed: int,
        rules: int = 0,
    ) -> None: ...
    @property
    def num_roots(self) -> int: ...
    def run(
        self, evaluate: Callable[..., Any], added: int, seconds: float
    ) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.float32]]: ...
    def run_rollouts(
        self, added: int, seconds: float
    ) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.float32]]: ...
    def principal_variation(self, index: int, room: int) -> list[int]: ...
    def proven_mate(self, index: int) -> int: ...
    def advance(
        self, actions: npt.NDArray[np.int32], keep: npt.NDArray[np.bool_] | None = None
    ) -> None: ...
    def reset_roots(self, indices: Sequence[int], roots: Sequence[ortolan.State]) -> None: ...

def fen_problem(arg0: str, /) -> str: ...

class PgnReader:
    def __init__(self, rules: int) -> None: ...
    def feed(self, data: Buffer) -> list[tuple[Any, ...]]: ...
    def finish(self) -> list[tuple[Any, ...]]: ...

class PgnStarts:
    def __init__(self) -> None: ...
    def restart(self, at_line_start: bool) -> None: ...
    def next(self, data: Buffer, start: int) -> int: ...
    @property
    def line(self) -> int: ...

class PgnBatchCore:
    def __init__(
        self,
        threads: int,
        observation_type: int,
        rules: int,
        min_elo: int,
        time_classes: int,
        terminations: Sequence[str],
        unfinished: bool,
        skip_plies: int,
        every: int,
        shuffle: int,
        seed: int,
    ) -> None: ...
    def feed(self, data: Buffer) -> None: ...
    def finish(self) -> None: ...
    def available(self) -> int: ...
    def set_line(self, line: int) -> None: ...
    def next(
        self,
        rows: int,
        observation: npt.NDArray[np.generic],
        action_mask: npt.NDArray[np.bool_] | None,
        action: npt.NDArray[np.int32],
        outcome: npt.NDArray[np.float32],
        ply: npt.NDArray[np.int32],
        game: npt.NDArray[np.int64],
    ) -> int: ...
    @property
    def games(self) -> int: ...
    @property
    def filtered(self) -> int: ...
    def skipped(self) -> list[tuple[Any, ...]]: ...
