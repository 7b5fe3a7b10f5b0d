"""Argument checks shared by VectorOrtolan and Search, so that both refuse alike.

A value of a type the call does not take (a float where an int is wanted, an array of floats
as actions, a list as a mask) raises TypeError; a value of the right type that the call does
not take (out of range, of the wrong shape, an illegal action) raises ValueError.
"""

from __future__ import annotations

import secrets
from typing import Any

import numpy as np
import numpy.typing as npt

INT32 = np.iinfo(np.int32)
SEED_LIMIT = 2**64


def whole(name: str, value: object, low: int, high: int | None = None) -> int:
    """An int (or NumPy integer, not a bool) in [low, high]."""
    if isinstance(value, bool) or not isinstance(value, int | np.integer):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    number = int(value)
    if number < low or (high is not None and number > high):
        bound = f"in [{low}, {high}]" if high is not None else f"at least {low}"
        raise ValueError(f"{name} must be {bound}, not {number}")
    return number


def int32(name: str, value: object) -> int:
    """An int (or NumPy integer, not a bool) that the compiled core takes as an int32."""
    return whole(name, value, int(INT32.min), int(INT32.max))


def real(name: str, value: object) -> float:
    """A real number (int or float, not a bool)."""
    if isinstance(value, bool) or not isinstance(value, int | float | np.integer | np.floating):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return float(value)


def seed(value: object) -> int:
    """A seed in [0, 2**64), or a fresh random one for None."""
    if value is None:
        return secrets.randbits(64)
    return whole("seed", value, 0, SEED_LIMIT - 1)


def actions(values: object, count: int) -> npt.NDArray[np.int32]:
    """Integer actions as a C-contiguous int32 array of shape (count,)."""
    array = np.asarray(values)
    if array.dtype == object and all(
        isinstance(a, int | np.integer) and not isinstance(a, bool) for a in array.flat
    ):
        if any(not INT32.min <= int(a) <= INT32.max for a in array.flat):
            raise ValueError("actions must lie in the int32 range")
        array = array.astype(np.int64)
    if array.dtype.kind not in "iu":
        raise TypeError(f"actions must be integers, not an array of {array.dtype}")
    if array.shape != (count,):
        raise ValueError(f"actions must have shape ({count},), not {array.shape}")
    if array.dtype != np.int32:
        if array.size and (array.min() < INT32.min or array.max() > INT32.max):
            raise ValueError("actions must lie in the int32 range")
        array = array.astype(np.int32)
    return np.ascontiguousarray(array)


def flags(name: str, values: object, count: int) -> npt.NDArray[np.bool_]:
    """A bool array of shape (count,), C-contiguous."""
    array = np.asarray(values)
    if array.dtype != np.bool_:
        raise TypeError(f"{name} must be a bool array, not an array of {array.dtype}")
    if array.shape != (count,):
        raise ValueError(f"{name} must have shape ({count},), not {array.shape}")
    return np.ascontiguousarray(array)


def per_root(name: str, values: Any, count: int) -> npt.NDArray[np.float64]:
    """A real number, or an array of count real numbers, as (count,) float64."""
    if np.ndim(values) == 0:
        scalar = values[()] if isinstance(values, np.ndarray) else values
        return np.full(count, real(name, scalar))
    array = np.asarray(values)
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{name} must be a number or an array of numbers, not of {array.dtype}")
    if array.shape != (count,):
        raise ValueError(f"{name} must be a number or have shape ({count},), not {array.shape}")
    return array.astype(np.float64)
