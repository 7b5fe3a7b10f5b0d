"""Resident memory stays flat over many calls of every operation.

Each case repeats one kind of call in rounds. After a warm-up round (which lets the allocators,
the interpreter's caches and NumPy settle), the resident set size read from /proc/self/statm
must not grow by more than a small tolerance over the measured rounds. The counts are chosen so
that a leak of a few dozen bytes per call, or of one returned object, would exceed it: an
Observation alone is 119 lists of 64 entries (about 70 KB), a State with its history about
30 KB.

The engine's own memory (the Board, its maps and history, the State records) is C++ heap that
tracemalloc does not see, so resident memory is the measure here.
"""

import contextlib
import gc
import io
import os
import random
import sys

import pytest
from support import STATE_PROPERTIES, flush_c_stdout

import ortolan

PAGE = os.sysconf("SC_PAGE_SIZE")
TOLERANCE = 1 << 20  # bytes over all measured rounds
ROUNDS = 3
KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"

pytestmark = pytest.mark.skipif(
    not os.path.exists("/proc/self/statm"), reason="needs /proc/self/statm"
)


def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def assert_flat(run, calls):
    """Runs ``run(calls)`` once to warm up, then ROUNDS times; resident memory stays flat."""
    run(calls)
    gc.collect()
    start = resident()
    samples = []
    for _ in range(ROUNDS):
        run(calls)
        gc.collect()
        samples.append(resident() - start)
    assert samples[-1] <= TOLERANCE, (
        f"resident memory grew by {[s // 1024 for s in samples]} KiB "
        f"over {ROUNDS} rounds of {calls} calls"
    )


def legal(mask):
    return [p * 64 + s for p, plane in enumerate(mask) for s, v in enumerate(plane) if v]


def full_history():
    """A regular history of 8 records whose values are not all 0/1, as a raw record store."""
    return [[[(r * 7 + p * 3 + s) % 5 - 2 for s in range(64)] for p in range(14)] for r in range(8)]


@pytest.fixture
def env():
    environment = ortolan.Ortolan()
    environment.reset()
    return environment


def test_steps_and_masks(env):
    arbitrary = random.Random(1)

    def run(calls):
        actions = legal(env.get_actions())
        for _ in range(calls):
            done = env.step(arbitrary.choice(actions))[3]
            actions = legal(env.get_actions())
            if done or not actions:
                env.reset()
                actions = legal(env.get_actions())

    assert_flat(run, 1500)


def test_get_actions(env):
    env.parse_fen(KIWIPETE)

    def run(calls):
        for _ in range(calls):
            env.get_actions()

    assert_flat(run, 3000)


def test_save_and_restore(env):
    # 1. e4 e5, then 2. Nf3 Nf6 3. Ng1 Ng8 twice: a full ring and a few repeated positions.
    knights = [56 * 64 + 62, 61 * 64 + 6, 60 * 64 + 45, 57 * 64 + 21]
    for action in [8 * 64 + 52, 8 * 64 + 12, *knights, *knights]:
        env.step(action)
    saved = env.save_state()
    raw = env.save_state()
    raw.state_history = full_history()
    raw.repetition_count = {k: k % 1000 for k in range(0, 2**64 - 1, 2**58)}

    def run(calls):
        for _ in range(calls):
            env.save_state()
            env.restore_state(saved)
            env.restore_state(raw)
            env.save_state().state_history  # noqa: B018 - reading builds the nested lists

    assert_flat(run, 800)


def test_roll_out_and_rewind(env):
    saved = env.save_state()

    def run(calls):
        for _ in range(calls):
            env.roll_out()
            env.restore_state(saved)

    assert_flat(run, 60)


def test_state_properties(env):
    state = env.save_state()
    history = full_history()
    irregular = [[[1, 2, 3]], [], [[4] * 70] * 15]
    repetitions = {2**64 - 1 - k: k for k in range(50)}
    move_index = {k: k * 3 for k in range(60)}

    def run(calls):
        for i in range(calls):
            state.state_history = history if i % 2 else irregular
            state.repetition_count = repetitions
            state.move_index = move_index
            state.state_pos = i % 8
            state.total_move_count = i
            state.no_progress_count = -i
            state.n_repititions = i
            state.prev_n_repititions = i
            for name in STATE_PROPERTIES:
                getattr(state, name)
            repr(state)

    assert_flat(run, 600)


def test_refused_calls(env):
    """Every refusal builds an exception; none may keep memory behind."""
    bad_state = env.save_state()
    bad_state.state_pos = 9
    state = env.save_state()

    def run(calls):
        for _ in range(calls):
            for call in (
                lambda: env.step(0),
                lambda: env.step(1.5),
                lambda: env.step(2**40),
                lambda: env.step([1, 2, 3]),
                lambda: env.restore_state(bad_state),
                lambda: env.restore_state(None),
                lambda: env.parse_fen(None),
                lambda: env.parse_fen("\ud800"),
                lambda: env.reset(1),
                lambda: setattr(state, "state_history", "text"),
                lambda: setattr(state, "state_history", [[[1, 2.5]]]),
                lambda: setattr(state, "repetition_count", {-1: 0}),
                lambda: setattr(state, "move_index", {1: 2**40}),
                lambda: setattr(state, "state_pos", 2**31),
                lambda: setattr(state, "side", 1),
            ):
                with contextlib.suppress(TypeError, ValueError, AttributeError):
                    call()

    assert_flat(run, 1500)


def test_parse_fen_and_hash(env):
    texts = [KIWIPETE, KIWIPETE.encode(), bytearray(KIWIPETE.encode()), "8/8/8/8 w", "", "k\x00K"]

    def run(calls):
        for i in range(calls):
            env.parse_fen(texts[i % len(texts)])
            env.hash_state()

    assert_flat(run, 20000)


def test_render(env):
    sys.stdout.flush()
    flush_c_stdout()
    saved = os.dup(1)
    try:
        with open(os.devnull, "w") as devnull:
            os.dup2(devnull.fileno(), 1)

            def run(calls):
                with contextlib.redirect_stdout(io.StringIO()):
                    for _ in range(calls):
                        env.render()
                flush_c_stdout()

            assert_flat(run, 400)
    finally:
        os.dup2(saved, 1)
        os.close(saved)


def test_objects_made_and_dropped():
    def run(calls):
        for _ in range(calls):
            environment = ortolan.Ortolan()
            environment.reset()
            environment.step(52 + 8 * 64)
            state = environment.save_state()
            del environment
            state.bitboards  # noqa: B018 - the array outlives nothing
            del state
            ortolan.State()

    assert_flat(run, 300)
