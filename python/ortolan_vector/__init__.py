"""Many ortolan games stepped at once in C++ on a fixed pool of threads, with NumPy in and out."""

from ortolan_vector._search import Search, SearchResult

__all__: list[str] = ["Search", "SearchResult"]
