"""What the batched environment adds around its slots: settings, bad input refused with every slot
left as it was, output buffers, the order of termination and truncation, legal action lists,
snapshots shared with ortolan, playouts, threads and the Gymnasium conventions."""

import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest
from support import BLACK_MATES_IN_ONE, WHITE_MATES_IN_ONE
from vector_support import flat_mask, planes, snapshot_fields

import ortolan
from ortolan_vector import VectorOrtolan

FOOLS_MATE = [501, 524, 566, 195]  # 1. f3 e5 2. g4 Qh4#
E4, E5 = 8 * 64 + 52, 524


def snapshots(env):
    return [snapshot_fields(s) for s in env.save_states()]


@pytest.mark.parametrize(
    ("settings", "message"),
    [
        ({"num_envs": 0}, "num_envs"),
        ({"num_envs": 2, "threads": 0}, "threads"),
        ({"num_envs": 2, "dtype": np.int64}, "dtype"),
        ({"num_envs": 2, "dtype": "no such type"}, "dtype"),
        ({"num_envs": 2, "autoreset_mode": "sometimes"}, "autoreset_mode"),
        ({"num_envs": 2, "max_plies": 0}, "max_plies"),
    ],
)
def test_bad_settings_are_refused(settings, message):
    with pytest.raises(ValueError, match=message):
        VectorOrtolan(**settings, rules="ortolan")


@pytest.mark.parametrize(
    ("actions", "error", "message"),
    [
        (np.array([496.0, 496.0]), TypeError, "actions must be integers"),
        ([496, 496, 496], ValueError, r"shape \(2,\)"),
        (np.array([[496, 496]]), ValueError, r"shape \(2,\)"),
        ([496, 2**31], ValueError, "int32"),
        (np.array([496, -(2**31) - 1], dtype=np.int64), ValueError, "int32"),
        (["e2e4", "e2e4"], TypeError, "actions must be integers"),
    ],
)
def test_malformed_actions_are_refused_before_any_slot_moves(actions, error, message):
    env = VectorOrtolan(2, dtype=np.int32, rules="ortolan")
    env.reset()
    before = snapshots(env)
    with pytest.raises(error, match=message):
        env.step(actions)
    assert snapshots(env) == before


def test_illegal_actions_name_every_slot_and_leave_all_slots_unchanged():
    env = VectorOrtolan(4, threads=2, dtype=np.int32, rules="ortolan")
    env.reset()
    env.step([E4] * 4)
    before = snapshots(env)
    with pytest.raises(ValueError, match=r"slot 0 action 0, slot 2 action -1$"):
        env.step([0, E5, -1, E5])
    assert snapshots(env) == before
    observation, *_ = env.step([E5] * 4)
    game = ortolan.Ortolan()
    game.reset()
    game.step(E4)
    expected = planes(game.step(E5)[1])
    assert all((observation["observation"][i] == expected).all() for i in range(4))


def test_out_buffers_are_filled_in_place_with_what_new_arrays_would_hold():
    env, twin = (VectorOrtolan(3, dtype=np.float32, seed=1, rules="ortolan") for _ in range(2))
    out = {
        "observation": np.full((3, 119, 8, 8), 7, dtype=np.float32),
        "action_mask": np.ones((3, 4672), dtype=bool),
    }
    returned, _ = env.reset(out=out)
    assert returned is out
    expected, _ = twin.reset()
    first = expected["observation"].copy()
    for actions in ([E4] * 3, [E5] * 3):
        returned, *_ = env.step(actions, out=out)
        expected, *_ = twin.step(actions)
        assert returned["observation"] is out["observation"]
        assert returned["action_mask"] is out["action_mask"]
        np.testing.assert_array_equal(out["observation"], expected["observation"])
        np.testing.assert_array_equal(out["action_mask"], expected["action_mask"])
    # A returned array is the caller's from then on: later calls leave it alone.
    twin_first, _ = VectorOrtolan(3, dtype=np.float32, rules="ortolan").reset()
    np.testing.assert_array_equal(first, twin_first["observation"])


def malformed_outputs():
    good = {
        "observation": np.zeros((2, 119, 8, 8), dtype=np.uint8),
        "action_mask": np.zeros((2, 4672), dtype=bool),
    }
    read_only = np.zeros((2, 4672), dtype=bool)
    read_only.flags.writeable = False
    # Another type or dtype is a TypeError, another shape, layout or a read-only array a ValueError.
    return [
        (TypeError, [good["observation"], good["action_mask"]]),
        (ValueError, {"observation": good["observation"]}),
        (ValueError, {**good, "extra": good["action_mask"]}),
        (TypeError, {**good, "observation": np.zeros((2, 119, 8, 8), dtype=np.int32)}),
        (ValueError, {**good, "observation": np.zeros((3, 119, 8, 8), dtype=np.uint8)}),
        (ValueError, {**good, "observation": np.zeros((2, 119, 64), dtype=np.uint8)}),
        (ValueError, {**good, "observation": np.zeros((2, 119, 8, 16), dtype=np.uint8)[..., ::2]}),
        (TypeError, {**good, "action_mask": np.zeros((2, 4672), dtype=np.uint8)}),
        (ValueError, {**good, "action_mask": read_only}),
        (TypeError, {**good, "action_mask": np.zeros((2, 4672), dtype=bool).tolist()}),
    ]


@pytest.mark.parametrize(("error", "out"), malformed_outputs())
def test_malformed_out_is_refused_before_any_slot_moves(error, out):
    env = VectorOrtolan(2, rules="ortolan")
    env.reset()
    before = snapshots(env)
    with pytest.raises(error, match=r"out|observation|action_mask"):
        env.step([E4, E4], out=out)
    with pytest.raises(error, match=r"out|observation|action_mask"):
        env.reset(out=out)
    assert snapshots(env) == before


@pytest.mark.parametrize(
    ("options", "error", "message"),
    [
        ({"fens": ["8/8/8/8/8/8/8/K6k w - - 0 1"]}, ValueError, "fens"),
        ({"fens": "8/8/8/8/8/8/8/K6k w - - 0 1"}, TypeError, "fens"),
        ({"fens": [None, b"8/8/8/8/8/8/8/K6k w - - 0 1"]}, TypeError, "fens"),
        ({"reset_mask": [True, False, True]}, ValueError, "reset_mask"),
        ({"reset_mask": [1, 0]}, TypeError, "reset_mask"),
        ({"seed": 3}, ValueError, "options"),
        ([("fens", None)], TypeError, "options"),
    ],
)
def test_malformed_reset_options_are_refused(options, error, message):
    env = VectorOrtolan(2, rules="ortolan")
    env.reset()
    env.step([E4, E4])
    before = snapshots(env)
    with pytest.raises(error, match=message):
        env.reset(options=options)
    assert snapshots(env) == before


def test_a_reset_mask_starts_only_the_chosen_slots():
    env = VectorOrtolan(3, dtype=np.int32, autoreset_mode="disabled", rules="ortolan")
    env.reset()
    env.step([E4] * 3)
    observation, info = env.reset(options={"reset_mask": np.array([False, True, False])})
    assert info["to_play"].tolist() == [1, 0, 1]
    fresh, _ = VectorOrtolan(1, dtype=np.int32, rules="ortolan").reset()
    fresh_planes = fresh["observation"][0].copy()
    fresh_planes[113] = 1  # the slot's step counter runs on across games
    np.testing.assert_array_equal(observation["observation"][1], fresh_planes)


@pytest.mark.parametrize(("max_plies", "terminated", "truncated"), [(4, 1, 0), (3, 0, 1)])
def test_termination_wins_over_truncation(max_plies, terminated, truncated):
    env = VectorOrtolan(1, max_plies=max_plies, autoreset_mode="disabled", rules="ortolan")
    env.reset()
    for action in FOOLS_MATE[:max_plies]:
        _, reward, te, tr, _ = env.step([action])
    assert (te[0], tr[0], reward[0]) == (terminated, truncated, -terminated)


def test_a_max_plies_count_starts_again_at_each_reset():
    env = VectorOrtolan(1, max_plies=2, rules="ortolan")
    env.reset()
    env.step([E4])
    env.reset()
    assert not env.step([E4])[3][0]
    assert env.step([E5])[3][0]


def test_legal_actions_are_ascending_padded_and_counted():
    env = VectorOrtolan(3, dtype=np.int32, autoreset_mode="disabled", rules="ortolan")
    env.reset(options={"fens": [None, WHITE_MATES_IN_ONE, BLACK_MATES_IN_ONE]})
    actions, counts = env.legal_actions()
    assert actions.dtype == np.int32
    assert counts.dtype == np.int32
    assert counts.tolist() == [20, 1, 1]
    assert actions.shape == (3, 20)
    for i, fen in enumerate([None, WHITE_MATES_IN_ONE, BLACK_MATES_IN_ONE]):
        game = ortolan.Ortolan()
        game.reset() if fen is None else game.parse_fen(fen)
        expected = np.flatnonzero(flat_mask(game)).tolist()
        assert actions[i].tolist() == expected + [-1] * (20 - len(expected))
    _, rewards, terminated, _, _ = env.step(actions[:, 0])
    assert rewards.tolist() == [0, 1, -1]
    assert terminated.tolist() == [False, True, True]
    actions, counts = env.legal_actions()
    assert counts.tolist() == [20, 0, 0]
    assert (actions[1:] == -1).all()
    # With every game over there is still a column to pick from, and its -1 starts a new game.
    alone = VectorOrtolan(1, rules="ortolan")
    alone.reset(options={"fens": [WHITE_MATES_IN_ONE]})
    alone.step(alone.legal_actions()[0][:, 0])
    actions, counts = alone.legal_actions()
    assert actions.tolist() == [[-1]]
    assert counts.tolist() == [0]
    alone.step(actions[:, 0])
    assert alone.legal_actions()[1].tolist() == [20]


def test_snapshots_pass_between_slots_and_ortolan_games():
    env = VectorOrtolan(2, dtype=np.int32, rules="ortolan")
    env.reset()
    game = ortolan.Ortolan()
    game.reset()
    for action in (E4, E5, 56 * 64 + 62):
        game.step(action)
    state = game.save_state()
    # Both the slot and this game have just been reset, so Black's position stays unturned.
    restored = env.restore_state(1, state)
    just_reset = ortolan.Ortolan()
    just_reset.reset()
    _, expected, _, _ = just_reset.restore_state(state)
    np.testing.assert_array_equal(restored["observation"], planes(expected))
    np.testing.assert_array_equal(restored["action_mask"], flat_mask(game))
    saved = env.save_state(1)
    assert type(saved) is ortolan.State
    assert snapshot_fields(saved) == snapshot_fields(game.save_state()) | {"total_move_count": 0}
    other = ortolan.Ortolan()
    other.reset()
    other.restore_state(saved)
    assert other.hash_state() == game.hash_state()
    # Play goes on from there alike; the step counter of plane 113 is each one's own.
    stepped = env.step([E4, 60 * 64 + 1])[0]["observation"][1]
    expected = planes(game.step(60 * 64 + 1)[1])
    assert (stepped[113] == 1).all()
    expected[113] = 1
    np.testing.assert_array_equal(stepped, expected)


def test_restore_states_checks_every_state_before_changing_any_slot():
    env = VectorOrtolan(3, rules="ortolan")
    env.reset()
    env.step([E4] * 3)
    states = env.save_states()
    before = snapshots(env)
    states[2].state_pos = 9
    fresh = ortolan.Ortolan()
    fresh.reset()
    with pytest.raises(ValueError, match=r"states\[2\]"):
        env.restore_states([fresh.save_state(), fresh.save_state(), states[2]])
    with pytest.raises(ValueError, match="one State per slot"):
        env.restore_states(states[:2])
    with pytest.raises(TypeError):
        env.restore_states([fresh.save_state(), None, fresh.save_state()])
    with pytest.raises(IndexError):
        env.save_state(3)
    with pytest.raises(TypeError):
        env.restore_state(0, "state")
    assert snapshots(env) == before


def test_roll_out_depends_on_the_seed_alone_and_ends_games_for_autoreset():
    results = {}
    for threads in (1, 2):
        env = VectorOrtolan(64, threads=threads, dtype=np.int32, seed=11, rules="ortolan")
        env.reset()
        results[threads] = (env.roll_out().tolist(), snapshots(env))
    assert results[1] == results[2]
    outcomes = results[1][0]
    assert set(outcomes) <= {-1, 0, 1}
    assert any(outcomes)
    env = VectorOrtolan(64, threads=2, dtype=np.int32, seed=11, rules="ortolan")
    env.reset()
    assert env.roll_out().tolist() == outcomes
    # A playout that ended its game leaves the slot to be reset by the next step.
    ended = []
    for i, state in enumerate(env.save_states()):
        game = ortolan.Ortolan()
        game.restore_state(state)
        over = not flat_mask(game).any() or state.n_repititions == 2
        ended.append(over or state.no_progress_count >= 50)
        if not flat_mask(game).any() and outcomes[i]:
            assert outcomes[i] == (1 if state.side == 1 else -1)
    assert 0 < sum(ended) < 64
    actions, counts = env.legal_actions()
    observation, *_ = env.step(np.where(counts > 0, actions[:, 0], -1))
    start = ortolan.Ortolan().reset()[1]
    for i in range(64):
        # Plane 13 carries the repetition value of the game before over a reset.
        seen, fresh = observation["observation"][i], planes(start)
        is_start = (seen[:12] == fresh[:12]).all() and (seen[14:112] == fresh[14:112]).all()
        assert is_start == ended[i], i


def test_other_python_threads_run_while_the_pool_works():
    # float32 rows make a step of 4,096 games last well over 5 ms even on a quick machine.
    env = VectorOrtolan(4096, threads=2, dtype=np.float32, rules="ortolan")
    env.reset()
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.0001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        for call in (env.roll_out, lambda: env.step(env.legal_actions()[0][:, 0])):
            begin = time.perf_counter()
            call()
            end = time.perf_counter()
            inside = [t for t in ticks if begin < t < end]
            assert end - begin > 0.005
            assert len(inside) >= 5, (end - begin, len(inside))
    finally:
        stop.set()
        ticker.join()


def test_calls_from_two_threads_on_one_environment_take_turns():
    env = VectorOrtolan(256, threads=2, dtype=np.int32, seed=5, rules="ortolan")
    env.reset()
    twin = VectorOrtolan(256, threads=1, dtype=np.int32, seed=5, rules="ortolan")
    twin.reset()
    other = threading.Thread(target=lambda: [env.roll_out() for _ in range(3)])
    other.start()
    for _ in range(3):
        env.save_states()
    other.join()
    for _ in range(3):
        twin.roll_out()
    assert snapshots(env) == snapshots(twin)


@pytest.mark.parametrize("dtype", [np.uint8, np.float32, np.int32])
def test_gymnasium_spaces_describe_what_the_environment_returns(dtype):
    import gymnasium

    env = VectorOrtolan(4, dtype=dtype, max_plies=30, seed=2, rules="ortolan")
    assert isinstance(env, gymnasium.vector.VectorEnv)
    assert env.metadata["autoreset_mode"] == gymnasium.vector.AutoresetMode.NEXT_STEP
    assert env.single_action_space == gymnasium.spaces.Discrete(4672)
    assert env.single_observation_space["observation"].shape == (119, 8, 8)
    assert env.observation_space["observation"].shape == (4, 119, 8, 8)
    assert env.action_space.shape == (4,)
    observation, _ = env.reset()
    for _ in range(40):
        assert env.observation_space.contains(observation)
        actions, counts = env.legal_actions()
        observation, *_ = env.step(actions[np.arange(4), counts // 2])
    mode = VectorOrtolan(
        1, autoreset_mode=gymnasium.vector.AutoresetMode.SAME_STEP, rules="ortolan"
    )
    assert mode.autoreset_mode == "same_step"


def test_without_gymnasium_the_class_stands_on_numpy_alone():
    code = """
        import sys
        sys.modules["gymnasium"] = None
        import numpy as np
        from ortolan_vector import VectorOrtolan
        env = VectorOrtolan(2, autoreset_mode="same_step", rules="ortolan")
        assert VectorOrtolan.__mro__[1:] == (object,)
        assert env.metadata == {"autoreset_mode": "same_step"}
        observation, info = env.reset()
        observation, rewards, *_ = env.step([496, 496])
        print(observation["observation"].dtype, rewards.tolist())
    """
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, check=False
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["uint8", "[0.0,", "0.0]"]


@pytest.mark.parametrize("mode", ["next_step", "same_step"])
def test_info_counts_plies_since_each_start_and_gives_the_movers_reward(mode):
    env = VectorOrtolan(3, autoreset_mode=mode, rules="ortolan")
    _, info = env.reset(options={"fens": [None, WHITE_MATES_IN_ONE, BLACK_MATES_IN_ONE]})
    assert info["plies"].tolist() == [0, 0, 0]
    assert info["mover_reward"].tolist() == [0, 0, 0]
    mates = env.legal_actions()[0][1:, 0]
    _, rewards, *_, info = env.step([E4, *mates])
    assert rewards.tolist() == [0, 1, -1]  # White's view
    assert info["mover_reward"].tolist() == [0, 1, 1]  # both mates were the mover's win
    if mode == "same_step":
        assert info["plies"].tolist() == [1, 0, 0]
        assert info["final_info"]["plies"].tolist() == [0, 1, 1]
        second = [E5, E4, E4]  # the new games are at the start position
    else:
        assert info["plies"].tolist() == [1, 1, 1]
        second = [E5, -1, -1]  # the ended games are reset, their actions ignored
    *_, info = env.step(second)
    assert info["plies"].tolist() == ([2, 1, 1] if mode == "same_step" else [2, 0, 0])
    assert info["mover_reward"].tolist() == [0, 0, 0]
    _, info = env.reset(options={"reset_mask": np.array([True, False, False])})
    assert info["plies"].tolist()[0] == 0
    assert info["plies"].tolist()[1:] == ([1, 1] if mode == "same_step" else [0, 0])
