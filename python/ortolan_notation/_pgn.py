"""Reading PGN game databases: plain, gzip or zstd files, file objects or bytes, streamed in
constant memory through the C++ reader of ``ortolan_vector``."""

from __future__ import annotations

import gzip
import io
import os
import zlib
from collections.abc import Iterator
from dataclasses import dataclass, field
from typing import IO, Any

import numpy as np
import numpy.typing as npt

from ortolan_vector._rules import RULES, RulesName, rules_name

CHUNK = 1 << 20

Source = str | os.PathLike[str] | bytes | bytearray | memoryview | IO[bytes] | IO[str]


def rules_code(rules: object) -> int:
    return RULES[rules_name(rules)]


@dataclass(frozen=True, slots=True)
class PgnGame:
    """One game read: its tags, start FEN (``None`` for the standard start), the actions of its
    main line, its result tag and the ending the main line itself reaches under the rules it
    was read with (``None`` when it reaches none): "checkmate", "stalemate",
    "insufficient_material", "threefold_repetition", "fivefold_repetition", "fifty_moves",
    "seventyfive_moves" or "no_progress" (the 50-ply rule of ``rules="ortolan"``).
    ``ending_ply`` is the number of plies played when it was reached (-1 for none)."""

    tags: dict[str, str]
    fen: str | None
    actions: npt.NDArray[np.int32]
    result: str
    ending: str | None
    ending_ply: int
    number: int
    line: int


@dataclass(frozen=True, slots=True)
class SkippedGame:
    """A game that was not read: its number in the input (counted from 1), the line it starts
    on, the line of the token at fault, the token and the reason."""

    number: int
    line: int
    token_line: int
    token: str
    reason: str


class _Raw:
    """A binary file that counts the bytes read from it."""

    def __init__(self, file: IO[bytes]) -> None:
        self.file = file
        self.position = 0

    def read(self, size: int = -1) -> bytes:
        data = self.file.read(size)
        self.position += len(data)
        return data

    def readable(self) -> bool:
        return True


def _zstd_error() -> type[Exception]:
    try:
        import zstandard
    except ImportError:
        return ValueError
    return zstandard.ZstdError  # type: ignore[no-any-return]


class _Zstd:
    """zstd frames one after another, decompressed a little at a time; a stream that ends
    inside a frame is an error."""

    def __init__(self, raw: _Raw) -> None:
        import zstandard

        self.raw = raw
        self.zstd = zstandard
        self.frame: Any = None
        self.pending = b""

    # Compressed bytes decompressed at a time: a read returns at most its size plus this times
    # the compression ratio.
    RAW = 1 << 12

    def read(self, size: int) -> bytes:
        out: list[bytes] = []
        length = 0
        while length < size:
            data = self.pending or self.raw.read(self.RAW)
            self.pending = b""
            if not data:
                if self.frame is not None and not self.frame.eof:
                    raise EOFError("the stream ends inside a zstd frame")
                break
            if self.frame is None or self.frame.eof:
                self.frame = self.zstd.ZstdDecompressor().decompressobj()
            piece = self.frame.decompress(data)
            if self.frame.eof:
                self.pending = self.frame.unused_data
            out.append(piece)
            length += len(piece)
        return b"".join(out)


class _Stream:
    """Decompressed text a chunk at a time, with the position reached in the raw file."""

    def __init__(self, source: Source) -> None:
        self.name = "the input"
        self.closers: list[Any] = []
        self.raw: _Raw | None = None
        self.size: int | None = None
        self.compressed = False
        self.data: bytes | None = None
        self.text_file: IO[str] | None = None
        self.reader: Any = None
        if isinstance(source, bytes | bytearray | memoryview):
            self.data = bytes(source)
            self.size = len(self.data)
            return
        if isinstance(source, str | os.PathLike):
            path = os.fspath(source)
            self.name = path
            file = open(path, "rb")  # noqa: SIM115 - closed by close()
            self.closers.append(file)
            self.size = os.fstat(file.fileno()).st_size
            self._open_binary(file, path)
            return
        if isinstance(source, io.TextIOBase):
            self.text_file = source  # type: ignore[assignment]
            return
        if hasattr(source, "read"):
            self._open_binary(source, getattr(source, "name", ""))  # type: ignore[arg-type]
            return
        raise TypeError(
            "source must be a path, a binary or text file object, or bytes of PGN text, "
            f"not {type(source).__name__}"
        )

    def _open_binary(self, file: IO[bytes], name: object) -> None:
        self.raw = _Raw(file)
        name = name if isinstance(name, str) else ""
        if name.endswith(".gz"):
            self.compressed = True
            self.reader = gzip.GzipFile(fileobj=self.raw, mode="rb")  # type: ignore[arg-type]
        elif name.endswith(".zst"):
            self.compressed = True
            self.reader = _Zstd(self.raw)
        else:
            self.reader = self.raw

    def chunks(self) -> Iterator[tuple[bytes, int]]:
        """(text, raw position after it), from the start."""
        if self.data is not None:
            for at in range(0, len(self.data), CHUNK):
                yield self.data[at : at + CHUNK], min(at + CHUNK, len(self.data))
            return
        if self.text_file is not None:
            while text := self.text_file.read(CHUNK):
                yield text.encode(), 0
            return
        done = 0
        while True:
            try:
                data = self.reader.read(CHUNK)
            except (OSError, EOFError, zlib.error, ValueError, _zstd_error()) as error:
                raise ValueError(
                    f"{self.name}: the compressed stream is malformed at byte "
                    f"{self.raw.position} of the file, after {done} bytes of text: {error}"  # type: ignore[union-attr]
                ) from error
            if isinstance(data, str):
                data = data.encode()
            if not data:
                return
            done += len(data)
            yield data, self.raw.position  # type: ignore[union-attr]

    def close(self) -> None:
        for closer in self.closers:
            closer.close()


def _part_chunks(
    stream: _Stream, part: int, parts: int, starts_type: Any
) -> Iterator[tuple[bytes, int]]:
    """The text of one part and the number of lines before it. Every part scans the text from
    its start for game starts; a game belongs to part k when it starts in the k-th n-th of the
    file: of its bytes for plain text, of the compressed bytes read so far for a compressed
    file."""
    if parts == 1:
        for data, _ in stream.chunks():
            yield data, 0
        return
    if stream.size is None:
        raise ValueError("parts need a path or bytes, whose size is known")
    total = max(stream.size, 1)
    scanner = starts_type()
    offset = 0
    owning = part == 0
    lines = 0
    for data, raw in stream.chunks():
        begin = 0
        at = scanner.next(data, 0)
        while at < len(data):
            owner = min(((raw if stream.compressed else offset + at) * parts) // total, parts - 1)
            if not owning and owner == part:
                owning, begin, lines = True, at, scanner.line
            elif owning and owner > part:
                yield data[begin:at], lines
                return
            at = scanner.next(data, at)
        if owning:
            yield data[begin:], lines
        offset += len(data)


@dataclass
class PgnReader:
    """The games of a PGN source, an iterator of ``PgnGame``; ``skipped`` lists the games that
    could not be read (``SkippedGame``) as reading reaches them."""

    source: Source
    rules: str = "standard"
    part: int = 0
    parts: int = 1
    skipped: list[SkippedGame] = field(default_factory=list)

    def __post_init__(self) -> None:
        from ortolan_vector._core import PgnReader as Core
        from ortolan_vector._core import PgnStarts

        code = rules_code(self.rules)
        if (
            not isinstance(self.parts, int)
            or not isinstance(self.part, int)
            or self.parts < 1
            or not 0 <= self.part < self.parts
        ):
            raise ValueError(f"part must be in range(parts), not part={self.part} of {self.parts}")
        self._core = Core(code)
        self._stream = _Stream(self.source)
        self._games = self._read(PgnStarts)

    def _read(self, starts_type: Any) -> Iterator[PgnGame]:
        line_offset: int | None = None
        try:
            for data, lines in _part_chunks(self._stream, self.part, self.parts, starts_type):
                if line_offset is None:
                    line_offset = lines
                yield from self._entries(self._core.feed(data), line_offset)
            yield from self._entries(self._core.finish(), line_offset or 0)
        finally:
            self._stream.close()

    def _entries(self, entries: list[tuple[Any, ...]], offset: int) -> Iterator[PgnGame]:
        for kind, number, line, tags, fen, actions, result, ending, ending_ply, *skip in entries:
            if kind == 0:
                yield PgnGame(tags, fen, actions, result, ending, ending_ply, number, line + offset)
            else:
                token_line, token, reason = skip
                self.skipped.append(
                    SkippedGame(number, line + offset, token_line + offset, token, reason)
                )

    def __iter__(self) -> Iterator[PgnGame]:
        return self

    def __next__(self) -> PgnGame:
        return next(self._games)


def read_pgn(
    source: Source, *, rules: RulesName = "standard", part: int = 0, parts: int = 1
) -> PgnReader:
    """The games of a PGN database, read as a stream in constant memory.

    ``source`` is a path (``str`` or ``os.PathLike``: ``.pgn``, ``.pgn.gz`` or ``.pgn.zst``), a
    binary or text file object, or ``bytes`` of PGN text. Only the games read are yielded; each
    game that cannot be read (an illegal, ambiguous or unreadable move, a null move, a move in
    UCI notation, a broken tag, an unbalanced comment or variation, a variant other than chess,
    a FEN that cannot be loaded, the input ending inside it) is listed on the iterator's
    ``skipped`` and reading goes on with the next game. A malformed compressed stream raises
    ``ValueError`` with its position.

    ``part=k, parts=n`` reads the k-th of n parts of a path or of bytes, cut at game starts, so
    that n processes share one file: the parts together hold every game once. A plain file's
    part seeks to its place; a compressed one decompresses the file from its start to reach it.
    Game numbers count the games of the part; lines count from the start of the file.
    """
    return PgnReader(source, rules, part, parts)
