"""The child process of the memory workload: ``python -m bench.memory_child PLY COUNT``.

Prints, as JSON, the resident-set growth over COUNT States kept in a list: blank State()
objects when PLY is 0, else snapshots of a random game at that ply. It runs in a fresh
interpreter so that nothing else the benchmark did is in its heap.
"""

from __future__ import annotations

import gc
import json
import os
import random
import sys

from .common import ortolan_midgame


def resident_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def measure(ply: int, count: int) -> dict:
    import ortolan

    info: dict = {"ply": ply, "count": count}
    if ply == 0:
        gc.collect()
        gc.disable()
        before = resident_bytes()
        keep = [ortolan.State() for _ in range(count)]
        after = resident_bytes()
        info["python_object_bytes"] = sys.getsizeof(keep[0])
    else:
        env, _ = ortolan_midgame(ortolan, random.Random(1000 + ply), ply)
        gc.collect()
        gc.disable()
        before = resident_bytes()
        keep = [env.save_state() for _ in range(count)]
        after = resident_bytes()
        info["repetition_entries"] = len(keep[0].repetition_count)
        info["move_index_entries"] = len(keep[0].move_index)
        info["total_move_count"] = keep[0].total_move_count
    info["bytes_per_state"] = (after - before) / count
    return info


if __name__ == "__main__":
    print(json.dumps(measure(int(sys.argv[1]), int(sys.argv[2]))))
