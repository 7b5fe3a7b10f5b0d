"""Constants and small helpers shared by the test modules."""

import collections.abc
import ctypes
import pathlib

START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
# "Kiwipete": castling both ways for both sides, en passant, promotions two plies away.
KIWIPETE_FEN = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"

# The properties of State in the order the class registers them.
STATE_PROPERTIES = [
    "side",
    "enpassant",
    "castle",
    "state_history",
    "state_pos",
    "total_move_count",
    "no_progress_count",
    "repetition_count",
    "move_index",
    "n_repititions",
    "prev_n_repititions",
    "bitboards",
    "occupancies",
]
READ_ONLY_PROPERTIES = ["side", "enpassant", "castle", "bitboards", "occupancies"]
INT_PROPERTIES = [
    "state_pos",
    "total_move_count",
    "no_progress_count",
    "n_repititions",
    "prev_n_repititions",
]

# Positions where the side to move has exactly one legal move, and it mates (test_perft.py
# confirms both with python-chess).
WHITE_MATES_IN_ONE = "7Q/8/8/8/q7/5n2/1b6/k1K5 w - - 0 1"  # Qxb2#
BLACK_MATES_IN_ONE = "8/8/6q1/8/8/8/2N1p1QK/5k2 b - - 0 1"  # Qxg2#

INT32_MIN = -(2**31)
INT32_MAX = 2**31 - 1
UINT64_MAX = 2**64 - 1


class Index:
    """An integer-like object known only through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def state_fields(state):
    """Every property of a State as plain Python values, for comparing snapshots."""
    fields = {}
    for name in STATE_PROPERTIES:
        value = getattr(state, name)
        fields[name] = value.tolist() if name in ("bitboards", "occupancies") else value
    return fields


def legal_actions(mask):
    """The action numbers (plane * 64 + square) of the 1 entries of a mask."""
    return [p * 64 + square for p, plane in enumerate(mask) for square, v in enumerate(plane) if v]


def flush_c_stdout():
    """Writes out whatever C stdio holds for the process's standard output."""
    ctypes.CDLL(None).fflush(None)


class PlainMapping(collections.abc.Mapping):
    """A mapping that is not a dict."""

    def __init__(self, entries):
        self.entries = dict(entries)

    def __getitem__(self, key):
        return self.entries[key]

    def __iter__(self):
        return iter(self.entries)

    def __len__(self):
        return len(self.entries)

    def __repr__(self):
        return f"PlainMapping({self.entries!r})"


DATA_FILE = pathlib.Path(__file__).resolve().parent.parent / "data" / "positions.txt"


def data_positions(kind):
    """The records of one kind of tests/data/positions.txt, shared with the C++ tests, as
    (name, fen, numbers): the counts by depth of a "perft" record, the key of a "key" record."""
    records = []
    for line in DATA_FILE.read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        fields = [field.strip() for field in line.split(" | ")]
        if fields[0] == kind:
            base = 16 if kind == "key" else 10
            records.append((fields[1], fields[2], [int(n, base) for n in fields[3].split()]))
    return records
