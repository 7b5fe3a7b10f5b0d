"""The Ortolan class: signatures, argument conversion, errors, results and end-to-end games."""

import fractions

import pytest
from support import (
    BLACK_MATES_IN_ONE,
    INT32_MAX,
    INT32_MIN,
    KIWIPETE_FEN,
    START_FEN,
    WHITE_MATES_IN_ONE,
    Index,
    legal_actions,
    state_fields,
)

import ortolan

STEP_RESULT = "tuple[int, list[list[int]], int, int]"
METHOD_SIGNATURES = {
    "reset": f"reset(self: ortolan.Ortolan) -> {STEP_RESULT}",
    "get_actions": "get_actions(self: ortolan.Ortolan) -> list[list[int]]",
    "render": "render(self: ortolan.Ortolan) -> None",
    "parse_fen": "parse_fen(self: ortolan.Ortolan, arg0: str) -> None",
    "step": f"step(self: ortolan.Ortolan, arg0: typing.SupportsInt) -> {STEP_RESULT}",
    "save_state": "save_state(self: ortolan.Ortolan) -> ortolan.State",
    "restore_state": (
        f"restore_state(self: ortolan.Ortolan, arg0: ortolan.State) -> {STEP_RESULT}"
    ),
    "hash_state": "hash_state(self: ortolan.Ortolan) -> int",
    "roll_out": "roll_out(self: ortolan.Ortolan) -> int",
}
METHODS = list(METHOD_SIGNATURES)

# Actions by the numbering plane * 64 + source square (a8 = 0, h1 = 63).
A2A3 = 7 * 64 + 48
E2E4 = 8 * 64 + 52
E7E5 = 8 * 64 + 12
G1F3 = 56 * 64 + 62
START_ACTIONS = sorted(
    [*range(496, 504), *range(560, 568), 56 * 64 + 57, 57 * 64 + 57, 56 * 64 + 62, 57 * 64 + 62]
)
FOOLS_MATE = [501, 524, 566, 195]  # 1. f3 e5 2. g4 Qh4#

START_HASH = 0x07259D7613375B63


def environment_fields(env):
    return state_fields(env.save_state())


def assert_observation_shape(observation):
    assert type(observation) is list
    assert len(observation) == 119
    for plane in observation:
        assert type(plane) is list
        assert len(plane) == 64
        assert all(type(v) is int for v in plane)


# --- the class -----------------------------------------------------------------------------------


def test_class_dictionary_holds_the_constructor_and_the_nine_methods_in_order():
    assert list(vars(ortolan.Ortolan)) == [
        "__init__",
        "__doc__",
        "__module__",
        "_pybind11_conduit_v1_",
        *METHODS,
    ]


@pytest.mark.parametrize("name", METHODS)
def test_method_signature(name):
    assert getattr(ortolan.Ortolan, name).__doc__.splitlines()[0] == METHOD_SIGNATURES[name]


def test_constructor_signature():
    assert ortolan.Ortolan.__init__.__doc__.splitlines()[0] == (
        "__init__(self: ortolan.Ortolan) -> None"
    )


def test_constructor_takes_no_arguments():
    with pytest.raises(TypeError):
        ortolan.Ortolan(1)
    with pytest.raises(TypeError):
        ortolan.Ortolan(fen=START_FEN)


def test_second_init_keeps_the_game(env):
    env.step(E2E4)
    before = environment_fields(env)
    env.__init__()
    assert environment_fields(env) == before
    assert env.step(E7E5)[3] == 0


def test_no_instance_dictionary_and_no_buffer(env):
    assert not hasattr(env, "__dict__")
    with pytest.raises(TypeError):
        memoryview(env)
    with pytest.raises(AttributeError):
        env.board = 1
    with pytest.raises(AttributeError):
        env.reset = None


def test_subclass_from_python():
    class Env(ortolan.Ortolan):
        def start(self):
            return self.reset()

    assert Env().start()[0] == 0


@pytest.mark.parametrize("name", METHODS)
def test_methods_need_an_ortolan(name):
    args = {"parse_fen": (START_FEN,), "step": (A2A3,), "restore_state": (ortolan.State(),)}
    with pytest.raises(TypeError, match="incompatible function arguments"):
        getattr(ortolan.Ortolan, name)(ortolan.State(), *args.get(name, ()))


@pytest.mark.parametrize(
    "name", [m for m in METHODS if m not in ("parse_fen", "step", "restore_state")]
)
def test_methods_without_parameters_refuse_extra_arguments(env, name):
    before = environment_fields(env)
    with pytest.raises(TypeError):
        getattr(env, name)(0)
    assert environment_fields(env) == before


# --- keyword and argument conversion -----------------------------------------------------------


def test_keyword_arguments_are_refused(env):
    before = environment_fields(env)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        env.step(action=A2A3)
    with pytest.raises(TypeError):
        env.step(arg0=A2A3)
    with pytest.raises(TypeError):
        env.parse_fen(text=KIWIPETE_FEN)
    with pytest.raises(TypeError):
        env.restore_state(state=env.save_state())
    assert environment_fields(env) == before
    assert env.step(A2A3)[0] == 1  # the same call without the keyword succeeds


@pytest.mark.parametrize(
    "action",
    [2**31, INT32_MIN - 1, 2**64 + A2A3, 1.0, float(A2A3), "496", b"496", None, [A2A3]],
    ids=repr,
)
def test_step_refuses_unconvertible_actions_before_the_engine_runs(env, action):
    before = environment_fields(env)
    with pytest.raises(TypeError, match="incompatible function arguments") as info:
        env.step(action)
    assert METHOD_SIGNATURES["step"].removeprefix("step") in str(info.value)
    assert environment_fields(env) == before


@pytest.mark.parametrize("action", [Index(A2A3), fractions.Fraction(A2A3, 1)], ids=repr)
def test_step_accepts_integer_like_actions(env, action):
    side, _, reward, done = env.step(action)
    assert (side, reward, done) == (1, 0, 0)
    assert env.save_state().total_move_count == 1


@pytest.mark.parametrize("action", [0, -1, INT32_MIN, INT32_MAX, 73 * 64, 495, E7E5, True])
def test_invalid_action_raises_value_error_and_changes_nothing(env, action):
    before = environment_fields(env)
    hash_before = env.hash_state()
    with pytest.raises(ValueError, match=r"^Invalid action$"):
        env.step(action)
    assert environment_fields(env) == before
    assert env.hash_state() == hash_before
    side, _, reward, done = env.step(A2A3)
    assert (side, reward, done) == (1, 0, 0)


def test_after_a_mate_every_step_is_invalid(env):
    for action in FOOLS_MATE:
        env.step(action)
    env.get_actions()  # the action map now describes the mated position: empty
    before = environment_fields(env)
    assert before["move_index"] == {}
    for action in START_ACTIONS:
        with pytest.raises(ValueError, match="Invalid action"):
            env.step(action)
    assert environment_fields(env) == before


# --- reset, get_actions, step ------------------------------------------------------------------


def start_observation():
    """The observation of the start position on a new environment, plane by plane."""
    planes = [[0] * 64 for _ in range(119)]
    placement = {
        0: range(48, 56),  # white pawns
        1: (57, 62),
        2: (58, 61),
        3: (56, 63),
        4: (59,),
        5: (60,),
        6: range(8, 16),  # black pawns
        7: (1, 6),
        8: (2, 5),
        9: (0, 7),
        10: (3,),
        11: (4,),
    }
    for plane, squares in placement.items():
        for square in squares:
            planes[plane][square] = 1
    for plane in range(114, 118):  # all four castling rights
        planes[plane] = [1] * 64
    return planes


def test_reset_result():
    env = ortolan.Ortolan()
    result = env.reset()
    assert type(result) is tuple
    assert len(result) == 4
    side, observation, reward, done = result
    assert (type(side), type(reward), type(done)) == (int, int, int)
    assert (side, reward, done) == (0, 0, 0)
    assert_observation_shape(observation)
    assert observation == start_observation()


def test_start_mask(env):
    mask = env.get_actions()
    assert type(mask) is list
    assert len(mask) == 73
    for plane in mask:
        assert type(plane) is list
        assert len(plane) == 64
        assert all(type(v) is int and v in (0, 1) for v in plane)
    assert legal_actions(mask) == START_ACTIONS
    assert sorted(env.save_state().move_index) == START_ACTIONS


def test_black_reply_numbering(env):
    env.step(E2E4)
    assert E7E5 in legal_actions(env.get_actions())
    side, observation, reward, done = env.step(E7E5)
    assert (side, reward, done) == (0, 0, 0)
    assert_observation_shape(observation)


def test_step_result(env):
    result = env.step(A2A3)
    assert type(result) is tuple
    side, observation, reward, done = result
    assert (side, reward, done) == (1, 0, 0)
    assert_observation_shape(observation)
    assert observation[112] == [1] * 64  # Black to move
    assert observation[113] == [1] * 64  # one step played
    state = env.save_state()
    assert state.total_move_count == 1
    assert state.side == 1


def test_fools_mate(env):
    results = [env.step(action) for action in FOOLS_MATE]
    assert [(side, reward, done) for side, _, reward, done in results] == [
        (1, 0, 0),
        (0, 0, 0),
        (1, 0, 0),
        (0, -1, 1),
    ]
    assert legal_actions(env.get_actions()) == []
    assert env.save_state().move_index == {}


def test_white_mate_rewards_plus_one(env):
    # 1. e4 e5 2. Bc4 Nc6 3. Qh5 Nf6 4. Qxf7#
    env.parse_fen("r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4")
    h5, f7 = 31, 13
    # Queen h5 to f7: two rows up and two files left, direction 0 (forward-left), distance 2.
    action = (0 * 7 + 2 - 1) * 64 + h5
    assert action in legal_actions(env.get_actions())
    assert env.save_state().move_index[action] & 0xFFF == h5 | f7 << 6
    side, _, reward, done = env.step(action)
    assert (side, reward, done) == (1, 1, 1)


def test_results_are_new_objects_that_do_not_write_back(env):
    saved = env.save_state()
    _, observation, _, _ = env.restore_state(saved)
    expected = [list(plane) for plane in observation]
    observation[0][48] = 7
    observation[113].clear()
    observation.append([])
    mask = env.get_actions()
    mask[0][0] = 1
    mask[7].clear()
    mask_again = env.get_actions()
    assert mask_again is not mask
    assert legal_actions(mask_again) == START_ACTIONS
    _, observation_again, _, _ = env.restore_state(saved)
    assert observation_again is not observation
    assert observation_again == expected
    assert environment_fields(env) == state_fields(saved)


def test_observation_values_of_any_size_convert_exactly(env):
    # A history record with raw values is copied into the first 14 observation planes as it is
    # (White to move: no colour swap, no rotation), so each value passes the conversion.
    values = [INT32_MIN, -300, -1, 0, 1, 2, 255, 256, 257, 10**6, INT32_MAX]
    record = [[values[(p + s // 3) % len(values)] for s in range(64)] for p in range(12)]
    record += [[-5] * 64, [INT32_MAX] * 32 + [7] * 31 + [INT32_MAX]]
    state = env.save_state()
    state.state_history = [record]
    state.state_pos = 1
    _, observation, _, _ = env.restore_state(state)
    assert observation[:14] == record
    assert observation[14:112] == [[0] * 64] * 98


def test_observation_planes_are_distinct_lists(env):
    _, observation, _, _ = env.step(A2A3)
    assert len({id(plane) for plane in observation}) == 119
    observation[0][0] = 5
    assert all(plane[0] != 5 for plane in observation[1:])


# --- save_state and restore_state --------------------------------------------------------------


def test_save_state_returns_a_new_state_each_time(env):
    first, second = env.save_state(), env.save_state()
    assert type(first) is ortolan.State
    assert first is not second
    assert state_fields(first) == state_fields(second)


def test_saved_state_does_not_follow_the_environment(env):
    state = env.save_state()
    before = state_fields(state)
    env.step(E2E4)
    env.step(E7E5)
    assert state_fields(state) == before
    del env
    assert state_fields(state) == before


def test_restore_state_rewinds_and_leaves_its_argument_alone(env):
    env.step(E2E4)
    saved = env.save_state()
    saved_fields = state_fields(saved)
    env.step(E7E5)
    env.step(G1F3)
    first = env.restore_state(saved)
    second = env.restore_state(saved)
    assert first == second
    assert first[0] == 1
    assert first[2:] == (0, 0)
    assert state_fields(saved) == saved_fields
    after = environment_fields(env)
    # The live move counter is not rewound.
    assert after.pop("total_move_count") == 3
    saved_fields.pop("total_move_count")
    assert after == saved_fields
    assert first[1][113] == [3] * 64


def test_restored_environment_plays_as_when_saved(env):
    env.step(E2E4)
    saved = env.save_state()
    reference = env.step(E7E5)
    env.step(G1F3)
    env.restore_state(saved)
    replay = env.step(E7E5)
    assert replay[0] == reference[0]
    assert replay[2:] == reference[2:]
    # Only plane 113, the step counter, differs.
    assert [i for i in range(119) if replay[1][i] != reference[1][i]] == [113]


def test_state_restores_into_another_environment(env):
    env.parse_fen(KIWIPETE_FEN)
    env.get_actions()
    saved = env.save_state()
    other = ortolan.Ortolan()
    other.reset()
    other.step(E2E4)
    result = other.restore_state(saved)
    assert result[0] == 0
    assert other.hash_state() == env.hash_state()
    assert other.get_actions() == env.get_actions()
    after = environment_fields(other)
    assert after.pop("total_move_count") == 1
    expected = state_fields(saved)
    expected.pop("total_move_count")
    assert after == expected


def test_restore_state_after_a_mate_reports_nothing_finished(env):
    for action in FOOLS_MATE:
        env.step(action)
    side, _, reward, done = env.restore_state(env.save_state())
    assert (side, reward, done) == (0, 0, 0)


@pytest.mark.parametrize("argument", [None, 0, "state", object()], ids=repr)
def test_restore_state_refuses_what_is_not_a_state(env, argument):
    env.step(E2E4)
    before = environment_fields(env)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        env.restore_state(argument)
    assert environment_fields(env) == before


@pytest.mark.parametrize(
    ("field", "value"),
    [
        ("state_pos", 8),
        ("state_pos", -1),
        ("state_history", [[[1, 2]]]),
        ("state_history", [[[0] * 64] * 14] * 9),
    ],
)
def test_restore_state_refuses_an_unusable_record(env, field, value):
    env.step(E2E4)
    state = env.save_state()
    setattr(state, field, value)
    state_before = state_fields(state)
    env.step(E7E5)
    before = environment_fields(env)
    with pytest.raises(ValueError, match=rf"^invalid State: .*{field}") as info:
        env.restore_state(state)
    assert type(info.value) is ValueError
    assert environment_fields(env) == before
    assert state_fields(state) == state_before


# --- parse_fen ---------------------------------------------------------------------------------


@pytest.mark.parametrize("kind", [str, bytes, bytearray])
def test_parse_fen_text_types_give_the_same_position(kind):
    reference = ortolan.Ortolan()
    reference.parse_fen(KIWIPETE_FEN)
    env = ortolan.Ortolan()
    env.reset()
    text = KIWIPETE_FEN if kind is str else kind(KIWIPETE_FEN.encode())
    assert env.parse_fen(text) is None
    assert env.hash_state() == reference.hash_state()
    assert env.get_actions() == reference.get_actions()
    assert len(legal_actions(env.get_actions())) == 48
    state = env.save_state()
    assert (state.side, state.enpassant, state.castle) == (0, 64, 15)
    assert state.bitboards.tolist() == reference.save_state().bitboards.tolist()


def position_fields(env):
    state = env.save_state()
    return (state.bitboards.tolist(), state.side, state.enpassant, state.castle, env.hash_state())


@pytest.mark.parametrize("kind", [str, bytes, bytearray])
@pytest.mark.parametrize("cut", [0, 8, 56, 57, 60, len(KIWIPETE_FEN)])
def test_parse_fen_stops_at_the_first_nul(kind, cut):
    # 56 and 57 are just before and after the side-to-move letter, 60 is inside "KQkq".
    text = KIWIPETE_FEN[:cut] + "\0" + KIWIPETE_FEN[cut:] + "\0w"
    env = ortolan.Ortolan()
    env.parse_fen(text if kind is str else kind(text.encode()))
    reference = ortolan.Ortolan()
    reference.parse_fen(KIWIPETE_FEN[:cut])
    assert position_fields(env) == position_fields(reference)


def test_text_after_a_nul_would_change_the_position():
    # The cut-off test above compares positions that differ from the whole text.
    whole = ortolan.Ortolan()
    whole.parse_fen(KIWIPETE_FEN)
    for cut in (0, 8, 56, 57, 60):
        env = ortolan.Ortolan()
        env.parse_fen(KIWIPETE_FEN[:cut])
        assert position_fields(env) != position_fields(whole), cut
    empty = ortolan.Ortolan()
    empty.parse_fen("")
    assert empty.save_state().bitboards.tolist() == [0] * 12


def test_parse_fen_takes_bytes_without_decoding(env):
    # Bytes that are not UTF-8 are passed on as they are; the placement before them counts.
    env.parse_fen(b"8/8/8/8/8/8/8/K6k w - - \xff\xfe")
    state = env.save_state()
    assert state.bitboards.tolist()[5] == 1 << 56
    assert state.bitboards.tolist()[11] == 1 << 63


@pytest.mark.parametrize(
    "text",
    ["8/8/8/8/8/8/8/8 w - - \udc80", "\ud800", None, 42, ["8/8"], memoryview(b"8/8")],
    ids=repr,
)
def test_parse_fen_refuses_what_is_not_text(env, text):
    env.step(E2E4)
    before = environment_fields(env)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        env.parse_fen(text)
    assert environment_fields(env) == before


def test_parse_fen_with_unicode_text(env):
    # Non-ASCII text is encoded as UTF-8; a comment after the fields does not matter.
    env.parse_fen(START_FEN + " é♞")
    assert env.hash_state() == START_HASH


# --- hash_state and roll_out -------------------------------------------------------------------


def test_hash_of_the_start_position(env):
    assert env.hash_state() == START_HASH
    assert env.hash_state() == START_HASH  # counting nothing


@pytest.mark.parametrize(
    ("fen", "key"),
    [("8/8/8/8/8/8/8/8 b - -", 0xCBF29CE484222325), ("8/8/8/8/8/8/8/8 w - -", 0x6E57394121878680)],
)
def test_hash_is_an_unsigned_64_bit_int(fen, key):
    env = ortolan.Ortolan()
    env.parse_fen(fen)
    value = env.hash_state()
    assert type(value) is int
    assert value == key
    assert 0 <= value < 2**64


def test_hash_never_negative_over_a_game(env):
    b8c6 = 60 * 64 + 1  # knight b8 (1) to c6 (18): source - target = -17
    for action in [E2E4, E7E5, G1F3, b8c6]:
        env.step(action)
        assert 0 <= env.hash_state() < 2**64


@pytest.mark.parametrize(("fen", "reward"), [(WHITE_MATES_IN_ONE, 1), (BLACK_MATES_IN_ONE, -1)])
def test_roll_out_returns_the_reward_of_the_mate(fen, reward):
    env = ortolan.Ortolan()
    env.parse_fen(fen)
    assert len(legal_actions(env.get_actions())) == 1
    result = env.roll_out()
    assert type(result) is int
    assert result == reward
    assert legal_actions(env.get_actions()) == []
    assert env.save_state().total_move_count == 1


def test_roll_out_then_restore_rewinds_everything_but_the_counter(env):
    env.step(E2E4)
    saved = env.save_state()
    result = env.roll_out()
    assert result in (-1, 0, 1)
    played = env.save_state().total_move_count - 1
    assert 1 <= played <= 400
    env.restore_state(saved)
    after = environment_fields(env)
    assert after.pop("total_move_count") == 1 + played
    expected = state_fields(saved)
    expected.pop("total_move_count")
    assert after == expected
