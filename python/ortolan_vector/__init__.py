"""Many ortolan games stepped at once in C++ on a fixed pool of threads, with NumPy in and out.

``VectorOrtolan`` is a Gymnasium vector environment when Gymnasium is installed and a plain
class on NumPy otherwise. ``Search`` runs AlphaZero-style tree searches from many games at once,
their leaves evaluated in batches. ``PgnBatches`` turns PGN game databases into training batches.
"""

from ortolan_vector._pgn import PgnBatches
from ortolan_vector._rules import RuledState
from ortolan_vector._search import Search, SearchResult
from ortolan_vector._vector import VectorOrtolan

__all__ = ["PgnBatches", "RuledState", "Search", "SearchResult", "VectorOrtolan"]
