"""PgnBatches: training batches of positions from PGN game databases."""

from __future__ import annotations

import os
import queue
import secrets
import threading
from collections.abc import Iterator, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from ortolan_notation._pgn import SkippedGame, Source, _part_chunks, _Stream, rules_code
from ortolan_vector._core import ACTION_COUNT, OBSERVATION_SHAPE, PgnBatchCore, PgnStarts
from ortolan_vector._vector import observation_type

TIME_CLASSES = (
    "ultrabullet",
    "bullet",
    "blitz",
    "rapid",
    "classical",
    "correspondence",
    "unknown",
)


def _ahead(chunks: Iterator[tuple[bytes, int]], depth: int = 2) -> Iterator[tuple[bytes, int]]:
    """The chunks, read (and decompressed) on a thread of their own up to depth chunks ahead,
    so that reading the file overlaps building the batches."""
    items: queue.Queue[Any] = queue.Queue(depth)
    stop = threading.Event()
    done = object()

    def put(item: object) -> bool:
        while not stop.is_set():
            try:
                items.put(item, timeout=0.1)
                return True
            except queue.Full:
                continue
        return False

    def produce() -> None:
        try:
            for item in chunks:
                if not put(item):
                    return
            put(done)
        except BaseException as error:  # handed to the consumer, which raises it
            put(error)

    thread = threading.Thread(target=produce, name="pgn-reader", daemon=True)
    thread.start()
    try:
        while (item := items.get()) is not done:
            if isinstance(item, BaseException):
                raise item
            yield item
    finally:
        stop.set()
        thread.join()


class PgnBatches:
    """Batches of training positions from PGN sources, read and built in C++ on a fixed pool
    of threads.

    Each batch is a dict of arrays with one row per position: ``observation`` (B, 119, 8, 8)
    of ``dtype``, exactly what a ``VectorOrtolan(1, rules=...)`` reset to the game's start and
    stepped along its moves returns at that position (positions after a draw by rule that the
    players played past included); ``action`` (B,) int32, the move played there; ``outcome``
    (B,) float32, +1 / -1 / 0 for the side to move from the result tag; ``ply`` (B,) int32, the
    plies played before it; ``game`` (B,) int64, the index of the game among those kept; and
    with ``action_mask=True`` the legal ``action_mask`` (B, 4672) bool. The last batch may be
    shorter.

    Games whose result is "*" are left out unless ``unfinished=True`` (their outcome is 0).
    Filters on the tags are applied before any move is decoded: ``min_elo`` (both WhiteElo and
    BlackElo at least this), ``time_classes`` (names of Lichess's classes by base + 40 *
    increment seconds: "ultrabullet", "bullet", "blitz", "rapid", "classical",
    "correspondence", "unknown"), ``terminations`` (accepted values of the Termination tag).
    Sampling keeps, of each game, the positions from ply ``skip_plies`` on, every ``every``-th.
    ``shuffle`` > 0 draws each row at random from a buffer of that many positions (seeded by
    ``seed``); 0 keeps the order of the text. The positions and their order do not depend on
    ``threads``. ``skipped`` lists the games that could not be read, ``games`` counts those
    kept.
    """

    def __init__(
        self,
        sources: Source | Sequence[Source],
        batch_size: int,
        *,
        dtype: Any = np.uint8,
        rules: str = "standard",
        threads: int | None = None,
        shuffle: int = 0,
        seed: int | None = None,
        action_mask: bool = False,
        unfinished: bool = False,
        min_elo: int = 0,
        time_classes: Sequence[str] | None = None,
        terminations: Sequence[str] | None = None,
        skip_plies: int = 0,
        every: int = 1,
        part: int = 0,
        parts: int = 1,
    ) -> None:
        if isinstance(sources, str | bytes | bytearray | memoryview | os.PathLike) or hasattr(
            sources, "read"
        ):
            sources = [sources]  # type: ignore[list-item]
        self.sources = list(sources)
        if not isinstance(batch_size, int) or batch_size < 1:
            raise ValueError(f"batch_size must be a positive int, not {batch_size!r}")
        self.batch_size = batch_size
        self.dtype, observation_code = observation_type(dtype)
        self.rules = rules
        if threads is None:
            threads = len(os.sched_getaffinity(0))
        classes = ~0 & 0xFFFFFFFF
        if time_classes is not None:
            unknown = [c for c in time_classes if c not in TIME_CLASSES]
            if unknown:
                raise ValueError(f"unknown time classes {unknown}; known: {TIME_CLASSES}")
            classes = sum(1 << TIME_CLASSES.index(c) for c in set(time_classes))
        if seed is None:
            seed = secrets.randbits(64)
        self.action_mask = action_mask
        self.part, self.parts = part, parts
        self._core = PgnBatchCore(
            threads,
            observation_code,
            rules_code(rules),
            min_elo,
            classes,
            list(terminations or []),
            unfinished,
            skip_plies,
            every,
            shuffle,
            seed & 0xFFFFFFFFFFFFFFFF,
        )
        self.threads = threads
        self._started = False

    @property
    def games(self) -> int:
        return int(self._core.games)

    @property
    def skipped(self) -> list[SkippedGame]:
        return [
            SkippedGame(number, line, token_line, token, reason)
            for _, number, line, *_, token_line, token, reason in self._core.skipped()
        ]

    def _batch(self, rows: int) -> dict[str, npt.NDArray[Any]]:
        out: dict[str, npt.NDArray[Any]] = {
            "observation": np.empty((rows, *OBSERVATION_SHAPE), self.dtype),
            "action": np.empty(rows, np.int32),
            "outcome": np.empty(rows, np.float32),
            "ply": np.empty(rows, np.int32),
            "game": np.empty(rows, np.int64),
        }
        if self.action_mask:
            out["action_mask"] = np.empty((rows, ACTION_COUNT), bool)
        n = self._core.next(
            rows,
            out["observation"],
            out.get("action_mask"),
            out["action"],
            out["outcome"],
            out["ply"],
            out["game"],
        )
        return out if n == rows else {k: v[:n] for k, v in out.items()}

    def __iter__(self) -> Iterator[dict[str, npt.NDArray[Any]]]:
        if self._started:
            raise RuntimeError("a PgnBatches is read once; make a new one to read again")
        self._started = True
        core = self._core
        for source in self.sources:
            stream = _Stream(source)
            try:
                first = True
                chunks = _part_chunks(stream, self.part, self.parts, PgnStarts)
                for data, lines in _ahead(chunks):
                    if first and lines:
                        core.set_line(lines + 1)
                    first = False
                    core.feed(data)
                    while core.available() >= self.batch_size:
                        yield self._batch(self.batch_size)
            finally:
                stream.close()
        core.finish()
        while core.available() > 0:
            yield self._batch(min(self.batch_size, core.available()))
