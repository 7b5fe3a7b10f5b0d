"""ortolan_vector.Search as Python sees it: arguments, the arrays the evaluator gets and gives,
refused answers that leave everything usable, the interpreter lock, results and tree reuse."""

import threading
from pathlib import Path

import numpy as np
import pytest
from support import BLACK_MATES_IN_ONE, KIWIPETE_FEN, WHITE_MATES_IN_ONE, state_fields

import ortolan
from ortolan_vector import Search, SearchResult, VectorOrtolan

DATA = Path(__file__).resolve().parents[1] / "data"
ACTIONS = 4672


def game(fen=None, moves=()):
    env = ortolan.Ortolan()
    env.reset()
    if fen:
        env.parse_fen(fen)
    for action in moves:
        env.step(action)
    return env


def uniform(observations, masks):
    return np.ones((len(observations), ACTIONS), np.float32), np.zeros(len(observations))


def flat_mask(env):
    return np.array(env.get_actions(), dtype=bool).reshape(ACTIONS)


def roots(count=3):
    envs = [game(), game(KIWIPETE_FEN), game(moves=(8 * 64 + 52, 524))]  # 1. e4 e5
    return [envs[i % 3].save_state() for i in range(count)]


@pytest.mark.parametrize(
    ("kwargs", "error", "text"),
    [
        ({"simulations": 0}, ValueError, "simulations"),
        ({"simulations": 1.5}, TypeError, "simulations"),
        ({"leaves_per_batch": 0}, ValueError, "leaves_per_batch"),
        ({"threads": 0}, ValueError, "threads"),
        ({"c_puct": -1.0}, ValueError, "c_puct"),
        ({"dirichlet_alpha": 0.0}, ValueError, "dirichlet_alpha"),
        ({"dirichlet_fraction": 1.5}, ValueError, "dirichlet_fraction"),
        ({"dtype": np.int64}, ValueError, "dtype"),
        ({"seed": -1}, ValueError, "seed"),
    ],
)
def test_settings_out_of_range_are_refused(kwargs, error, text):
    arguments = {"simulations": 10, **kwargs}
    with pytest.raises(error, match=text):
        Search(roots(), **arguments, rules="ortolan")


@pytest.mark.parametrize(
    ("value", "error"),
    [([], ValueError), ([ortolan.State()], ValueError), ([1], TypeError), (5, TypeError)],
)
def test_roots_that_are_no_games_are_refused(value, error):
    with pytest.raises(error):
        Search(value, simulations=4, rules="ortolan")


@pytest.mark.parametrize(
    ("dtype", "clip"), [(None, 255), (np.uint8, 255), (np.float32, None), (np.int32, None)]
)
def test_the_evaluator_gets_the_roots_as_an_ortolan_shows_them(dtype, clip):
    kiwipete = game(KIWIPETE_FEN)
    kiwipete.step(int(np.flatnonzero(flat_mask(kiwipete))[0]))  # Black to move, history of 2
    envs = [game(), kiwipete, game(moves=(501, 524, 566))]
    batches = []

    def evaluate(observations, masks):
        batches.append((observations.copy(), masks.copy()))
        return uniform(observations, masks)

    Search([e.save_state() for e in envs], simulations=2, dtype=dtype, rules="ortolan").run(
        evaluate
    )
    observations, masks = batches[0]  # the three roots' own evaluations
    assert observations.shape == (3, 119, 8, 8)
    assert observations.dtype == np.dtype(dtype or np.uint8)
    assert masks.shape == (3, ACTIONS)
    assert masks.dtype == np.bool_
    for row, env in enumerate(envs):
        expected = np.array(env.restore_state(env.save_state())[1]).reshape(119, 8, 8)
        if clip:
            expected = np.clip(expected, 0, clip)
        np.testing.assert_array_equal(observations[row], expected)
        np.testing.assert_array_equal(masks[row], flat_mask(env))


def test_results_count_the_simulations_of_every_root():
    mated = game("k7/1Q6/1K6/8/8/8/8/8 b - - 0 1").save_state()
    result = Search([*roots(2), mated], simulations=25, rules="ortolan").run(uniform)
    assert isinstance(result, SearchResult)
    assert result.visit_counts.dtype == np.int32
    assert result.visit_counts.shape == (3, ACTIONS)
    assert result.root_values.dtype == np.float32
    assert result.root_values.shape == (3,)
    assert result.visit_counts.sum(axis=1).tolist() == [25, 25, 0]
    assert result.root_values[2] == -1.0
    actions = result.select_actions()
    assert actions.dtype == np.int32
    assert actions[2] == -1
    assert actions[:2].tolist() == result.visit_counts[:2].argmax(axis=1).tolist()


def test_rollouts_run_without_an_evaluator():
    mate = game("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1")
    result = Search([mate.save_state()], simulations=300, seed=1, rules="ortolan").run("rollout")
    assert result.visit_counts.sum() == 300
    assert mate.step(int(result.select_actions()[0]))[2:] == (1, 1)


def test_runs_in_increments_count_every_visit_and_one_tree_plays_out_on_every_thread():
    outcomes = []
    for threads in (1, 2):
        search = Search(
            roots(1), simulations=50, leaves_per_batch=8, threads=threads, seed=3, rules="ortolan"
        )
        first = search.run("rollout").visit_counts.copy()
        later = search.run("rollout", simulations=30)
        # A timed run makes at least one batch, however short its time.
        timed = search.run(uniform, seconds=0.0).visit_counts
        assert first.sum() == 50
        assert later.visit_counts.sum() == 80
        assert timed.sum() > 80
        assert (later.visit_counts >= first).all()
        outcomes.append((later.visit_counts.copy(), later.root_values.copy()))
    np.testing.assert_array_equal(outcomes[0][0], outcomes[1][0])
    np.testing.assert_array_equal(outcomes[0][1], outcomes[1][1])
    with pytest.raises(ValueError, match="seconds"):
        search.run(uniform, seconds=-1.0)


def test_the_principal_variation_follows_the_visits_and_a_mate_is_proved():
    mate = game("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1")
    search = Search(
        [mate.save_state()], simulations=300, dirichlet_fraction=0.0, seed=1, rules="ortolan"
    )
    search.run("rollout")
    assert search.principal_variation(0)[0] == "a1a8"
    assert search.proven_mate(0) == 1
    assert Search(roots(1), simulations=20, seed=1, rules="ortolan").proven_mate(0) == 0


def bad_answers():
    def answer(priors=None, values=None, shape_rows=0):
        def evaluate(observations, masks):
            m = len(observations) + shape_rows
            p = np.ones((m, ACTIONS), np.float32) if priors is None else priors(masks)
            v = np.zeros(m, np.float32) if values is None else values(m)
            return p, v

        return evaluate

    def nan_where_legal(masks):
        p = np.ones(masks.shape, np.float32)
        p[masks] = np.nan
        return p

    def raises(observations, masks):
        raise KeyError("the network is on fire")

    return [
        (
            answer(shape_rows=1),
            ValueError,
            r"priors as a floating-point array of shape \(3, 4672\)",
        ),
        (answer(priors=lambda m: np.ones(m.shape, np.int64)), TypeError, "int64"),
        (answer(values=lambda m: [0] * m), TypeError, "values"),
        (answer(values=lambda m: np.zeros((m, 1))), ValueError, "values"),
        (answer(priors=nan_where_legal), ValueError, "prior is NaN"),
        (answer(priors=lambda m: -m.astype(np.float32)), ValueError, "prior is negative"),
        (answer(values=lambda m: np.full(m, 1.5)), ValueError, r"outside \[-1, 1\]"),
        (answer(values=lambda m: np.full(m, np.nan)), ValueError, "value is NaN"),
        (lambda o, m: None, TypeError, "pair"),
        (lambda o, m: (np.ones((len(o), ACTIONS)),), TypeError, "pair"),
        (raises, KeyError, "on fire"),
    ]


@pytest.mark.parametrize(("evaluate", "error", "text"), bad_answers())
def test_a_bad_answer_reaches_the_caller_and_leaves_everything_usable(evaluate, error, text):
    states = roots()
    before = [state_fields(s) for s in states]
    search = Search(states, simulations=30, seed=3, rules="ortolan")
    with pytest.raises(error, match=text):
        search.run(evaluate)
    assert [state_fields(s) for s in states] == before
    # A later run completes the simulations, as a search that never failed would.
    result = search.run(uniform)
    assert result.visit_counts.sum(axis=1).tolist() == [30, 30, 30]


def test_a_failure_after_some_batches_keeps_the_finished_visits():
    calls = []

    def fails_on_the_third_call(observations, masks):
        calls.append(len(observations))
        if len(calls) == 3:
            raise RuntimeError("stop")
        return uniform(observations, masks)

    search = Search(roots(), simulations=40, leaves_per_batch=2, seed=4, rules="ortolan")
    with pytest.raises(RuntimeError, match="stop"):
        search.run(fails_on_the_third_call)
    rows = []
    search.run(lambda o, m: (rows.append(len(o)), uniform(o, m))[1])
    # Roots were evaluated by the first call and 2 leaves a tree by the second.
    assert sum(rows) == 3 * 40 - 3 * 2


def test_the_evaluator_cannot_reenter_its_search():
    search = Search(roots(), simulations=10, rules="ortolan")
    with pytest.raises(RuntimeError, match="already running"):
        search.run(lambda o, m: search.run(uniform))
    assert search.run(uniform).visit_counts.sum() == 30


def test_other_python_threads_run_while_the_search_works():
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(1)

    search = Search(roots(8), simulations=400, threads=1, seed=5, rules="ortolan")
    thread = threading.Thread(target=count)
    thread.start()
    try:
        before = len(ticks)
        search.run("rollout")
        during = len(ticks) - before
    finally:
        stop.set()
        thread.join()
    assert during > 1000


def test_a_seed_fixes_the_results_for_every_thread_count():
    results = [
        Search(
            roots(6), simulations=60, leaves_per_batch=3, threads=t, seed=7, rules="ortolan"
        ).run(uniform)
        for t in (1, 2, 1, 3)
    ]
    for other in results[1:]:
        np.testing.assert_array_equal(other.visit_counts, results[0].visit_counts)
        np.testing.assert_array_equal(other.root_values, results[0].root_values)
    noisy = Search(roots(6), simulations=60, leaves_per_batch=3, seed=8, rules="ortolan").run(
        uniform
    )
    assert not np.array_equal(noisy.visit_counts, results[0].visit_counts)


def first_leaf(state):
    seen = []
    Search([state], simulations=1, rules="ortolan").run(
        lambda o, m: (seen.append(o[0]), uniform(o, m))[1]
    )
    return seen[0]


def test_advance_moves_the_roots_on_and_keeps_their_visits():
    states = roots(2)
    search = Search(states, simulations=120, dirichlet_fraction=0.0, seed=9, rules="ortolan")
    chosen = search.run(uniform).select_actions()
    search.advance(chosen)
    rows = []
    result = search.run(lambda o, m: (rows.append(o), uniform(o, m))[1])
    assert result.visit_counts.sum(axis=1).tolist() == [120, 120]
    assert sum(len(o) for o in rows) < 2 * 120  # the kept visits are not made again
    # The roots are the games after the chosen moves.
    for state, action in zip(states, chosen, strict=True):
        env = game()
        env.restore_state(state)
        _, planes, _, _ = env.step(int(action))
        seen = first_leaf(env.save_state())
        np.testing.assert_array_equal(seen, np.clip(np.array(planes), 0, 255).reshape(119, 8, 8))


def test_advance_refuses_illegal_actions_naming_each_and_changes_nothing():
    mated = game("k7/1Q6/1K6/8/8/8/8/8 b - - 0 1").save_state()
    search = Search([*roots(2), mated], simulations=20, seed=10, rules="ortolan")
    first = search.run(uniform)
    legal = first.select_actions()
    with pytest.raises(ValueError, match=r"root 0 action 0.*root 2 action 5"):
        search.advance([0, legal[1], 5])
    with pytest.raises(ValueError, match="shape"):
        search.advance(legal[:2])
    again = search.run(uniform)
    np.testing.assert_array_equal(again.visit_counts, first.visit_counts)
    search.advance(legal)  # -1 for the mated root


def test_reset_roots_starts_the_chosen_trees_over():
    search = Search(roots(3), simulations=16, seed=11, rules="ortolan")
    search.run(uniform)
    fresh = [game("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1").save_state()] * 3
    search.reset_roots(fresh, np.array([False, True, False]))
    result = search.run(uniform)
    assert result.visit_counts[1].sum() == 16
    assert np.count_nonzero(result.visit_counts[1]) <= 17  # the rook-and-king position's moves
    with pytest.raises(ValueError, match="mask"):
        search.reset_roots(fresh, [True, False])


def test_select_actions_draws_in_proportion_to_visits_raised_to_one_over_temperature():
    counts = np.zeros((2, ACTIONS), np.int32)
    counts[0, [10, 20]] = [3, 1]
    result = SearchResult(counts, np.zeros(2, np.float32))
    assert result.select_actions().tolist() == [10, -1]
    for temperature, share in ((1.0, 0.75), (0.5, 0.9)):
        draws = np.array(
            [result.select_actions(temperature, seed=s)[0] for s in range(4000)], np.int32
        )
        assert set(draws.tolist()) == {10, 20}
        assert abs(np.mean(draws == 10) - share) < 0.03
    np.testing.assert_array_equal(
        result.select_actions(1.0, seed=1), result.select_actions(1.0, seed=1)
    )
    with pytest.raises(ValueError, match="temperature"):
        result.select_actions(-1.0)


def test_policy_rows_sum_to_one_or_are_zero_and_temperatures_go_per_root():
    counts = np.zeros((3, ACTIONS), np.int32)
    counts[0, [10, 20]] = [3, 1]
    counts[2, [5, 6, 7]] = [2, 2, 4]
    result = SearchResult(counts, np.zeros(3, np.float32))
    policy = result.policy()
    assert policy.dtype == np.float32
    np.testing.assert_allclose(policy.sum(axis=1), [1, 0, 1], rtol=1e-6)
    np.testing.assert_allclose(policy[0, [10, 20]], [0.75, 0.25])
    np.testing.assert_allclose(policy[2, [5, 6, 7]], [0.25, 0.25, 0.5])
    assert not policy[1].any()  # a finished root: zeros, never NaN
    per_root = result.policy(np.array([0.0, 1.0, 0.5]))
    np.testing.assert_allclose(per_root[0, [10, 20]], [1, 0])
    np.testing.assert_allclose(per_root[2, [5, 6, 7]], [1 / 6, 1 / 6, 4 / 6], rtol=1e-6)
    draws = np.array([result.select_actions([0.0, 0.0, 1.0], seed=s) for s in range(2000)])
    assert set(draws[:, 0].tolist()) == {10}
    assert (draws[:, 1] == -1).all()
    assert abs(np.mean(draws[:, 2] == 7) - 0.5) < 0.04
    with pytest.raises(ValueError, match="temperature"):
        result.select_actions([1.0, 1.0])
    with pytest.raises(ValueError, match="temperature"):
        result.policy([1.0, -1.0, 1.0])


def test_a_vector_environment_lends_its_games_as_they_stand():
    envs = VectorOrtolan(3, dtype=np.float32, threads=1, rules="ortolan")
    obs, _ = envs.reset(seed=0)
    actions, _ = envs.legal_actions()
    obs, *_ = envs.step(actions[:, 0])
    search = Search(envs, simulations=4, seed=12, rules="ortolan")
    saved = [state_fields(s) for s in envs.save_states()]
    envs.step(envs.legal_actions()[0][:, 0])  # later moves do not reach the search
    after = [state_fields(s) for s in envs.save_states()]
    batches = []
    search.run(lambda o, m: (batches.append((o.copy(), m.copy())), uniform(o, m))[1])
    roots_seen, masks_seen = batches[0]
    assert roots_seen.dtype == np.float32
    np.testing.assert_array_equal(roots_seen, obs["observation"])
    np.testing.assert_array_equal(masks_seen, obs["action_mask"])
    assert [state_fields(s) for s in envs.save_states()] == after != saved


def searched_step(search, env):
    """One self-play move: search, pick, step; returns the actions."""
    actions = search.run(uniform).select_actions()
    env.step(actions)
    return actions


@pytest.mark.parametrize("mode", ["next_step", "same_step"])
def test_advance_with_the_environment_follows_its_autoresets(mode):
    # Slots 1 and 2 mate at once and start again by themselves; every pick of the search must
    # stay legal in its slot, which env.step checks.
    env = VectorOrtolan(3, autoreset_mode=mode, threads=1)
    env.reset(options={"fens": [None, WHITE_MATES_IN_ONE, BLACK_MATES_IN_ONE]})
    search = Search(env, simulations=12, seed=13)
    for _ in range(4):
        search.advance(searched_step(search, env), env)
    counts = search.run(uniform).visit_counts
    mask = env.legal_actions()
    legal = np.zeros_like(counts, bool)
    for i, (row, count) in enumerate(zip(*mask, strict=True)):
        legal[i, row[:count]] = True
    assert ((counts > 0) <= legal).all()
    assert (counts.sum(axis=1) > 0).all()


def test_advance_with_the_environment_refuses_roots_that_do_not_follow_it():
    env = VectorOrtolan(3, autoreset_mode="same_step", threads=1)
    env.reset(options={"fens": [None, WHITE_MATES_IN_ONE, None]})
    search = Search(env, simulations=8, seed=14)
    actions = searched_step(search, env)  # slot 1 mates and starts again
    # Told another action than a slot played: refused, nothing changed, the right call works.
    other = actions.copy()
    other[2] = next(a for a in env.legal_actions()[0][2] if a != actions[2])
    with pytest.raises(ValueError, match=r"slot 2: the root was told action"):
        search.advance(other, env)
    search.advance(actions, env)
    # Roots taken again from the environment before advance (reset_roots first) are refused.
    actions = searched_step(search, env)
    search.reset_roots(env, np.array([False, True, False]))
    with pytest.raises(ValueError, match=r"slot 1: its root was taken after the step"):
        search.advance(actions, env)
    search.reset_roots(env)
    # A slot started from a FEN behind the search's back is refused until reset_roots.
    env.reset(options={"reset_mask": np.array([False, False, True]), "fens": [None] * 3})
    actions = env.legal_actions()[0][:, 0]  # the search's pick for slot 2 could be illegal
    env.step(actions)
    with pytest.raises(ValueError, match=r"^the search does not follow env: slot 2: started"):
        search.advance(actions, env)
    search.reset_roots(env)
    search.advance(searched_step(search, env), env)
