"""The results: the comparison table, the absolute numbers, the markdown file and the chart."""

from __future__ import annotations

import contextlib
import datetime
import math
import os
import platform
import statistics
from pathlib import Path

from .common import Stat, Unavailable, reason

HEADER = [
    "measure",
    "work (the same on both sides)",
    "ortolan",
    "compared with",
    "their value",
    "ratio",
    "target",
    "result",
]
ABS_HEADER = ["workload", "system", "median", "spread over repeats", "notes"]
OURS = "#2b7bba"
OTHER = "#9a9a9a"


def fmt_rate(x: float) -> str:
    for scale, suffix in ((1e9, " G"), (1e6, " M"), (1e3, " k")):
        if x >= scale:
            return f"{x / scale:.3g}{suffix}"
    return f"{x:.3g}"


def fmt_us(us: float) -> str:
    return f"{us:.3g} µs"


def fmt_ratio(x: float) -> str:
    return f"{x:.3g}x"


def verdict(ok: bool) -> str:
    return "pass" if ok else "MISS"


def spread(stat: Stat, per_call: bool = False) -> str:
    lo, hi = min(stat.rates), max(stat.rates)
    if per_call:
        return f"{1e6 / hi:.3g}..{1e6 / lo:.3g} µs"
    return f"{fmt_rate(lo)}..{fmt_rate(hi)}"


class Report:
    """What the workloads found, in the order they ran."""

    def __init__(self) -> None:
        self.rows: list[list[str]] = []  # the comparison table
        self.absolute: list[list[str]] = []  # every measured value
        self.sections: list[tuple[str, list[str], list[list[str]], str]] = []
        self.notes: list[str] = []
        self.panels: list[tuple[str, str, str, dict]] = []  # kind, title, axis label, data
        self.margins: list[tuple[str, float]] = []  # measured / target, >= 1 meets it

    def row(self, measure, work, ours, against, theirs, ratio="—", target="—", result="—"):
        self.rows.append([measure, work, ours, against, theirs, ratio, target, result])

    def compare_rates(
        self, measure, work, ours, label, theirs, target=None, margin=None, ratios=None
    ):
        """A row of two rates, higher is better: ratio = ours / theirs, held against
        `target` (ours at least that many times theirs). Either side may be Unavailable.
        `ratios`, when given, are the ratios of paired runs (common.paired_ratio): their
        median is the ratio. Returns the ratio or None."""
        goal = f"≥ {target}x" if target else "—"
        if isinstance(ours, Unavailable):
            self.row(measure, work, f"unavailable ({ours})", label, "—")
            self.rows[-1][6:] = [goal, "n/a" if target else "—"]
            return None
        if isinstance(theirs, Unavailable):
            self.row(measure, work, fmt_rate(ours.median), label, f"unavailable ({theirs})")
            self.rows[-1][6:] = [goal, "n/a" if target else "—"]
            return None
        ratio = statistics.median(ratios) if ratios else ours.median / theirs.median
        result = verdict(ratio >= target) if target else "—"
        self.row(measure, work, fmt_rate(ours.median), label, fmt_rate(theirs.median))
        self.rows[-1][5:] = [fmt_ratio(ratio), goal, result]
        if target and margin:
            self.margins.append((margin, ratio / target))
        return ratio

    def at_least(self, measure, work, ours, floor, margin=None):
        """A row of one rate held against an absolute floor: at least `floor` a second."""
        goal = f"≥ {fmt_rate(floor)}"
        if isinstance(ours, Unavailable):
            self.row(measure, work, f"unavailable ({ours})", "—", "—", "—", goal, "n/a")
            return
        result = verdict(ours.median >= floor)
        self.row(measure, work, fmt_rate(ours.median), "—", "—", "—", goal, result)
        if margin:
            self.margins.append((margin, ours.median / floor))

    def add_absolute(self, workload: str, results: dict, systems, per_call=False) -> None:
        """A line per system of `results` (name -> Stat or Unavailable)."""
        for name, stat in results.items():
            label = systems.label(name)
            if isinstance(stat, Unavailable):
                self.absolute.append([workload, label, f"unavailable ({stat})", "—", ""])
                continue
            notes = ""
            if stat.games:
                notes = f"{stat.games} games, mean {stat.plies / stat.games:.0f} plies"
            value = (
                f"{fmt_us(stat.micros)} ({fmt_rate(stat.median)}/s)"
                if per_call
                else f"{fmt_rate(stat.median)} {stat.unit}/s"
            )
            self.absolute.append([workload, label, value, spread(stat, per_call), notes])

    def section(self, title: str, header: list[str], rows: list[list[str]], note: str) -> None:
        self.sections.append((title, header, rows, note))

    def panel(self, kind: str, title: str, axis: str, data: dict) -> None:
        """A chart panel: kind "bars" (name -> rate, log scale), "grouped" (group -> name ->
        value), "barh" (name -> µs), "stacked" (group -> part -> bytes, 1 KB line) or
        "targets" (name -> measured / target)."""
        if data:
            self.panels.append((kind, title, axis, data))


def markdown_table(header: list[str], rows: list[list[str]]) -> str:
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(c.replace("|", "\\|") for c in r) + " |" for r in rows]
    return "\n".join(lines)


def text_table(header: list[str], rows: list[list[str]]) -> str:
    widths = [max(len(str(r[i])) for r in [header, *rows]) for i in range(len(header))]
    out = ["  ".join(h.ljust(w) for h, w in zip(header, widths, strict=True))]
    out.append("  ".join("-" * w for w in widths))
    out += ["  ".join(str(c).ljust(w) for c, w in zip(r, widths, strict=True)) for r in rows]
    return "\n".join(out)


def machine_info() -> list[str]:
    cpu = "?"
    with contextlib.suppress(OSError), open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    return [
        f"date: {datetime.datetime.now().astimezone().isoformat(timespec='seconds')}",
        f"machine: {cpu}, {os.cpu_count()} logical CPUs, load average {load}",
        f"python: {platform.python_implementation()} {platform.python_version()}",
    ]


def draw_panel(ax, kind: str, title: str, axis: str, data: dict) -> None:
    names = list(data)
    if kind == "bars":
        values = [data[n] for n in names]
        ax.bar(names, values, color=[OURS if n.startswith("ortolan") else OTHER for n in names])
        ax.set_yscale("log")
        for i, v in enumerate(values):
            ax.annotate(fmt_rate(v), (i, v), ha="center", va="bottom", fontsize=9)
        ax.tick_params(axis="x", labelsize=8, labelrotation=15)
    elif kind == "grouped":
        systems = list(dict.fromkeys(s for group in data.values() for s in group))
        width = 0.8 / len(systems)
        for k, system in enumerate(systems):
            xs = [i + (k - (len(systems) - 1) / 2) * width for i in range(len(names))]
            vals = [data[n].get(system, 0) for n in names]
            ax.bar(xs, vals, width, label=system, color=OURS if k == 0 else OTHER)
            for x, v in zip(xs, vals, strict=True):
                if v:
                    ax.annotate(fmt_rate(v), (x, v), ha="center", va="bottom", fontsize=8)
        ax.set_xticks(range(len(names)), names, fontsize=8)
        ax.margins(y=0.18)
        ax.legend(loc="upper center", ncols=len(systems), fontsize=8)
    elif kind == "barh":
        ax.barh(names, [data[n] for n in names], color=OURS)
        for i, n in enumerate(names):
            ax.annotate(f" {data[n]:.3g}", (data[n], i), va="center", fontsize=9)
        ax.invert_yaxis()
        ax.tick_params(axis="y", labelsize=8)
    elif kind == "targets":
        values = [data[n] for n in names]
        ax.barh(names, values, color=["#27ae60" if v >= 1 else "#c0392b" for v in values])
        ax.axvline(1, color="black", linewidth=1)
        ax.set_xscale("log")
        for i, v in enumerate(values):
            ax.annotate(f" {v:.2g}", (v, i), va="center", fontsize=9)
        ax.invert_yaxis()
        ax.tick_params(axis="y", labelsize=8)
    elif kind == "stacked":
        bottom = [0.0] * len(names)
        for k, part in enumerate(dict.fromkeys(p for group in data.values() for p in group)):
            vals = [data[n].get(part, 0) for n in names]
            ax.bar(range(len(names)), vals, bottom=bottom, label=part, color=[OURS, OTHER][k % 2])
            bottom = [b + v for b, v in zip(bottom, vals, strict=True)]
        ax.axhline(1024, color="#c0392b", linestyle="--", linewidth=1, label="1 KB")
        ax.set_xticks(range(len(names)), names)
        ax.legend(fontsize=8)
    (ax.set_xlabel if kind in ("barh", "targets") else ax.set_ylabel)(axis)
    ax.set_title(title)


def draw_chart(report: Report, path: Path) -> str | None:
    """Writes the PNG, a panel per workload and one of the targets; returns None, or why not."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except Exception as exc:
        return f"matplotlib unavailable ({reason(exc)})"
    panels = list(report.panels)
    if report.margins:
        axis = "measured / target (≥ 1 meets the target)"
        panels.append(("targets", "Targets", axis, dict(report.margins)))
    if not panels:
        return "nothing to draw"
    cols = min(3, len(panels))
    rows = math.ceil(len(panels) / cols)
    fig, axes = plt.subplots(rows, cols, figsize=(5.4 * cols, 4.6 * rows), squeeze=False)
    fig.suptitle("ortolan beside other chess systems (medians; one machine, one run)")
    for ax, panel in zip(axes.flat, panels, strict=False):
        draw_panel(ax, *panel)
    for ax in list(axes.flat)[len(panels) :]:
        ax.set_visible(False)
    fig.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return None


def write(report: Report, info: list[str], out: Path) -> None:
    """The tables on stdout; compare.md and compare.png under `out`."""
    chart = out / "compare.png"
    problem = draw_chart(report, chart)
    text = ["ortolan side-by-side benchmark", *info, "", text_table(HEADER, report.rows)]
    md = ["## Benchmark: ortolan beside other chess systems", ""]
    md += [f"- {line}" for line in info] + ["", markdown_table(HEADER, report.rows)]
    for title, header, rows, note in [
        ("Absolute numbers", ABS_HEADER, report.absolute, ""),
        *report.sections,
    ]:
        text += ["", title, text_table(header, rows)] + ([note] if note else [])
        md += ["", f"### {title}", "", markdown_table(header, rows)] + (["", note] if note else [])
    text += [f"note: {n}" for n in report.notes]
    text.append(f"chart: {problem}" if problem else f"chart: {chart}")
    md += [""] + [f"Note: {n}\n" for n in report.notes]
    if not problem:
        md.append("![ortolan beside other chess systems](compare.png)\n")
    out.mkdir(parents=True, exist_ok=True)
    (out / "compare.md").write_text("\n".join(md))
    print("\n".join(text))
    print(f"markdown: {out / 'compare.md'}")
