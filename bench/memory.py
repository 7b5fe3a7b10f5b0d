"""Memory per saved State: the native bytes a snapshot holds beyond its two maps, at a few
plies of a random game, each measured in a fresh interpreter (bench/memory_child.py)."""

from __future__ import annotations

from .common import Unavailable, child_result
from .report import verdict

PLIES = (10, 100, 300)
LIMIT = 1024
HEADER = [
    "snapshot",
    "raw B/State",
    "native B/State",
    "over blank B",
    "repetition entries",
    "move_index entries",
    "est. map B",
    "beyond maps B",
    "target",
    "result",
]
NOTE = (
    "Memory: resident-set growth over the kept States, in a fresh interpreter per case. "
    "native = raw - (Python wrapper object + its list slot); over blank = raw - raw of a "
    "blank State(), whose native part is the fixed-size record itself; the map estimate counts "
    "the repetition table as 16-byte slots at load ≤ 0.5 rounded up to a power of two "
    "(at least 64 slots) plus 8 bytes per move_index entry; beyond maps = native - maps."
)
WORK = "States of one position kept in a list; resident-set growth per State"


def child(ply: int, count: int) -> dict | Unavailable:
    return child_result("-m", "bench.memory_child", str(ply), str(count))


def map_estimate(entries: int, slot_bytes: int = 16) -> int:
    """Bytes of an open-addressing table holding `entries` at load <= 0.5, its slot count a
    power of two (at least 64)."""
    slots = 64
    while entries * 2 > slots:
        slots *= 2
    return slots * slot_bytes


def run(ctx) -> None:
    ctx.log(f"memory: {ctx.states} States per case")
    blank = child(0, ctx.states)
    report, table, chart = ctx.report, [], {}
    for ply in PLIES:
        m = child(ply, ctx.states)
        measure = f"saved State at ply {ply}, bytes beyond its maps"
        if isinstance(m, Unavailable) or isinstance(blank, Unavailable):
            why = m if isinstance(m, Unavailable) else blank
            report.row(measure, WORK, f"unavailable ({why})", "—", "—", "—", "≤ 1 KB", "n/a")
            continue
        # The Python side of each State: the wrapper object and its slot in the list.
        native = m["bytes_per_state"] - blank["python_object_bytes"] - 8
        maps = map_estimate(m["repetition_entries"]) + 8 * m["move_index_entries"]
        beyond = native - maps
        raw, over = m["bytes_per_state"], m["bytes_per_state"] - blank["bytes_per_state"]
        entries = [str(m["repetition_entries"]), str(m["move_index_entries"]), str(maps)]
        snapshot = f"ply {ply} (total_move_count {m['total_move_count']})"
        numbers = [f"{raw:.0f}", f"{native:.0f}", f"{over:.0f}", *entries, f"{beyond:.0f}"]
        table.append([snapshot, *numbers, f"≤ {LIMIT}", verdict(beyond <= LIMIT)])
        report.row(
            measure,
            WORK,
            f"{beyond:.0f} B",
            "raw / native / maps est.",
            f"{raw:.0f} / {native:.0f} / {maps} B",
            f"{m['repetition_entries']} rep. entries",
            "≤ 1 KB",
            verdict(beyond <= LIMIT),
        )
        report.margins.append((f"State at ply {ply}", LIMIT / max(beyond, 1.0)))
        chart[f"ply {ply}"] = {"beyond the maps": max(beyond, 0), "maps (estimate)": maps}
    if isinstance(blank, dict):
        native = blank["bytes_per_state"] - blank["python_object_bytes"] - 8
        table.append(["blank State()", f"{blank['bytes_per_state']:.0f}", f"{native:.0f}"])
        table[-1] += ["0", "0", "0", "0", f"{native:.0f}", "—", "—"]
    report.section("Memory per saved State", HEADER, table, NOTE)
    report.panel("stacked", "Memory per saved State", "native bytes per saved State", chart)
