"""Many ortolan games stepped at once in C++ on a fixed pool of threads, with NumPy in and out."""

from ortolan_vector import _core

__all__: list[str] = []
