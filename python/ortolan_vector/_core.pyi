from collections.abc import Callable, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

import ortolan

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
    ) -> None: ...
    @property
    def num_roots(self) -> int: ...
    def run(
        self, evaluate: Callable[..., Any]
    ) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.float32]]: ...
    def run_rollouts(self) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.float32]]: ...
    def advance(self, actions: npt.NDArray[np.int32]) -> None: ...
    def reset_roots(self, indices: Sequence[int], roots: Sequence[ortolan.State]) -> None: ...
