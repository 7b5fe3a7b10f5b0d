"""The State class: constructor, properties, conversions and the text form."""

import copy
import decimal
import fractions
import pickle

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st
from support import (
    INT32_MAX,
    INT32_MIN,
    INT_PROPERTIES,
    READ_ONLY_PROPERTIES,
    STATE_PROPERTIES,
    UINT64_MAX,
    Index,
    PlainMapping,
    state_fields,
)

import ortolan

int32s = st.integers(INT32_MIN, INT32_MAX)
uint64s = st.integers(0, UINT64_MAX)


@pytest.fixture
def saved(env):
    """A snapshot two plies into a game (1. e4 e5), with every field filled."""
    env.step(8 * 64 + 52)
    env.step(8 * 64 + 12)
    return env.save_state()


# --- the class itself -------------------------------------------------------------------------


def test_class_dictionary_holds_only_the_constructor_properties_and_repr():
    # pybind11 adds __doc__, __module__ and its interoperability hook; nothing else is defined.
    assert list(vars(ortolan.State)) == [
        "__init__",
        "__doc__",
        "__module__",
        "_pybind11_conduit_v1_",
        *STATE_PROPERTIES,
        "__repr__",
    ]


def test_properties_in_order_with_their_access():
    properties = [name for name, v in vars(ortolan.State).items() if isinstance(v, property)]
    assert properties == STATE_PROPERTIES
    for name in STATE_PROPERTIES:
        prop = vars(ortolan.State)[name]
        assert prop.fget is not None
        assert prop.fdel is None
        assert (prop.fset is None) == (name in READ_ONLY_PROPERTIES), name


INT_GETTER = "(self: ortolan.State) -> int"
INT_SETTER = "(self: ortolan.State, arg0: typing.SupportsInt) -> None"
MAP_GETTER = "(self: ortolan.State) -> dict[int, int]"
MAP_SETTER = (
    "(self: ortolan.State, arg0: collections.abc.Mapping[typing.SupportsInt, typing.SupportsInt])"
    " -> None"
)
ARRAY_GETTER = "(self: ortolan.State) -> numpy.typing.NDArray[numpy.uint64]"
PROPERTY_SIGNATURES = {
    "side": (INT_GETTER, None),
    "enpassant": (INT_GETTER, None),
    "castle": (INT_GETTER, None),
    "state_history": (
        "(self: ortolan.State) -> list[list[list[int]]]",
        "(self: ortolan.State, arg0: collections.abc.Sequence[collections.abc.Sequence["
        "collections.abc.Sequence[typing.SupportsInt]]]) -> None",
    ),
    "state_pos": (INT_GETTER, INT_SETTER),
    "total_move_count": (INT_GETTER, INT_SETTER),
    "no_progress_count": (INT_GETTER, INT_SETTER),
    "repetition_count": (MAP_GETTER, MAP_SETTER),
    "move_index": (MAP_GETTER, MAP_SETTER),
    "n_repititions": (INT_GETTER, INT_SETTER),
    "prev_n_repititions": (INT_GETTER, INT_SETTER),
    "bitboards": (ARRAY_GETTER, None),
    "occupancies": (ARRAY_GETTER, None),
}


@pytest.mark.parametrize("name", STATE_PROPERTIES)
def test_property_signatures(name):
    getter, setter = PROPERTY_SIGNATURES[name]
    prop = vars(ortolan.State)[name]
    assert prop.fget.__doc__.splitlines()[0] == getter
    if setter is None:
        assert prop.fset is None
    else:
        assert prop.fset.__doc__.splitlines()[0] == setter


def test_constructor_and_repr_signatures():
    assert ortolan.State.__init__.__doc__.splitlines()[0] == "__init__(self: ortolan.State) -> None"
    assert ortolan.State.__repr__.__doc__.splitlines()[0] == "__repr__(self: ortolan.State) -> str"


def test_constructor_takes_no_arguments():
    with pytest.raises(TypeError):
        ortolan.State(1)
    with pytest.raises(TypeError):
        ortolan.State(side=1)


def test_second_init_keeps_the_record(saved):
    before = state_fields(saved)
    saved.__init__()
    assert state_fields(saved) == before


def test_no_instance_dictionary():
    state = ortolan.State()
    assert not hasattr(state, "__dict__")
    with pytest.raises(AttributeError):
        state.sides = 1
    with pytest.raises(AttributeError):
        state.n_repetitions = 1  # the property is spelled n_repititions


@pytest.mark.parametrize("name", READ_ONLY_PROPERTIES)
def test_read_only_properties_refuse_assignment(saved, name):
    before = state_fields(saved)
    value = np.zeros(12, dtype=np.uint64) if name in ("bitboards", "occupancies") else 0
    with pytest.raises(AttributeError, match="has no setter"):
        setattr(saved, name, value)
    assert state_fields(saved) == before


@pytest.mark.parametrize("name", STATE_PROPERTIES)
def test_no_property_can_be_deleted(saved, name):
    with pytest.raises(AttributeError, match="has no deleter"):
        delattr(saved, name)


def test_equality_and_hash_are_by_identity():
    assert ortolan.State.__eq__ is object.__eq__
    assert ortolan.State.__hash__ is object.__hash__
    a, b = ortolan.State(), ortolan.State()
    assert a == a
    assert a != b
    assert hash(a) != hash(b)


def test_cannot_be_pickled_or_copied(saved):
    with pytest.raises(TypeError):
        pickle.dumps(saved)
    with pytest.raises(TypeError):
        copy.copy(saved)
    with pytest.raises(TypeError):
        copy.deepcopy(saved)


def test_no_container_protocol():
    state = ortolan.State()
    with pytest.raises(TypeError):
        len(state)
    with pytest.raises(TypeError):
        0 in state  # noqa: B015
    with pytest.raises(TypeError):
        memoryview(state)


def test_subclass_from_python():
    class Snapshot(ortolan.State):
        pass

    snapshot = Snapshot()
    assert snapshot.castle == 0
    assert isinstance(snapshot, ortolan.State)


# --- a new State -------------------------------------------------------------------------------


def test_new_state_is_all_zero_and_empty():
    state = ortolan.State()
    for name in ["side", "enpassant", "castle", *INT_PROPERTIES]:
        value = getattr(state, name)
        assert type(value) is int
        assert value == 0, name
    assert state.state_history == []
    assert state.repetition_count == {}
    assert state.move_index == {}
    for name, shape in [("bitboards", (12,)), ("occupancies", (3,))]:
        array = getattr(state, name)
        assert array.dtype == np.uint64
        assert array.shape == shape
        assert array.tolist() == [0] * shape[0]


def test_repr_of_a_new_state():
    assert repr(ortolan.State()) == (
        "State(\n"
        "  side=0,\n"
        "  enpassant=0,\n"
        "  castle=0,\n"
        "  state_pos=0,\n"
        "  total_move_count=0,\n"
        "  no_progress_count=0,\n"
        "  n_repititions=0,\n"
        "  state_history size=0\n"
        ")"
    )


def test_repr_shows_assigned_values_in_plain_decimal():
    state = ortolan.State()
    state.state_pos = -7
    state.total_move_count = INT32_MAX
    state.no_progress_count = 40
    state.n_repititions = INT32_MIN
    state.prev_n_repititions = 99  # not shown
    state.state_history = [[[1]], [], [[2, 3]]]
    assert repr(state) == (
        "State(\n"
        "  side=0,\n"
        "  enpassant=0,\n"
        "  castle=0,\n"
        "  state_pos=-7,\n"
        "  total_move_count=2147483647,\n"
        "  no_progress_count=40,\n"
        "  n_repititions=-2147483648,\n"
        "  state_history size=3\n"
        ")"
    )
    assert str(state) == repr(state)


# --- integer properties ------------------------------------------------------------------------


@pytest.mark.parametrize("name", INT_PROPERTIES)
@pytest.mark.parametrize("value", [INT32_MIN, -1, 0, 1, 5, INT32_MAX])
def test_int_property_stores_any_int32(name, value):
    state = ortolan.State()
    setattr(state, name, value)
    assert getattr(state, name) == value
    assert type(getattr(state, name)) is int


@pytest.mark.parametrize("name", INT_PROPERTIES)
@pytest.mark.parametrize(
    "value",
    [INT32_MAX + 1, INT32_MIN - 1, 2**64, 1.0, float("nan"), np.float64(2.0), "1", b"1", None, [1]],
    ids=repr,
)
def test_int_property_refuses_and_keeps_the_old_value(name, value):
    state = ortolan.State()
    setattr(state, name, 3)
    with pytest.raises(TypeError):
        setattr(state, name, value)
    assert getattr(state, name) == 3


@pytest.mark.parametrize(
    ("value", "stored"),
    [
        (True, 1),
        (False, 0),
        (Index(42), 42),
        (np.int64(-9), -9),
        (fractions.Fraction(7, 1), 7),
        (decimal.Decimal(-12), -12),
    ],
    ids=repr,
)
def test_int_property_accepts_integer_like_values(value, stored):
    state = ortolan.State()
    state.state_pos = value
    assert state.state_pos == stored
    assert type(state.state_pos) is int


def test_state_pos_limits():
    state = ortolan.State()
    state.state_pos = 6
    with pytest.raises(TypeError):
        state.state_pos = 2**31
    assert state.state_pos == 6
    state.state_pos = -(2**31)
    assert state.state_pos == -(2**31)
    state.state_pos = True
    assert state.state_pos == 1
    with pytest.raises(TypeError):
        state.state_pos = 1.0
    assert state.state_pos == 1


def test_refused_assignment_message_lists_the_setter_signature():
    state = ortolan.State()
    with pytest.raises(TypeError, match="incompatible function arguments") as info:
        state.no_progress_count = 2**31
    assert "(self: ortolan.State, arg0: typing.SupportsInt) -> None" in str(info.value)


# --- state_history -----------------------------------------------------------------------------


def test_history_accepts_nested_tuples():
    state = ortolan.State()
    state.state_history = (((1, 2),),)
    assert state.state_history == [[[1, 2]]]


@pytest.mark.parametrize(
    "history",
    [[], [[]], [[[]]], [[[1]], [], [[2, 3], [4]]], [[[INT32_MIN, INT32_MAX]]]],
    ids=repr,
)
def test_history_of_any_shape_reads_back(history):
    state = ortolan.State()
    state.state_history = history
    assert state.state_history == history


def test_full_history_with_any_values_reads_back():
    # Eight records of 14 planes of 64, with values a saved game never holds.
    history = [
        [[(r * 1000 + p * 64 + s) * (-1) ** s for s in range(64)] for p in range(14)]
        for r in range(8)
    ]
    history[3][12] = [7] * 64
    history[5][0] = [1, 0] * 32
    state = ortolan.State()
    state.state_history = history
    assert state.state_history == history


@given(st.lists(st.lists(st.lists(int32s, max_size=66), max_size=15), max_size=9))
def test_history_round_trip(history):
    state = ortolan.State()
    state.state_history = history
    assert state.state_history == history


def record_planes(pieces, repetitions):
    """14 planes: twelve 0/1 piece planes from bitboards, then two uniform planes."""
    return [[(b >> s) & 1 for s in range(64)] for b in pieces] + [[r] * 64 for r in repetitions]


@given(
    st.lists(
        st.tuples(st.lists(uint64s, min_size=12, max_size=12), st.tuples(int32s, int32s)),
        max_size=8,
    )
)
def test_regular_history_round_trip(records):
    # The shape and values of the records the engine makes itself.
    history = [record_planes(pieces, repetitions) for pieces, repetitions in records]
    state = ortolan.State()
    state.state_history = history
    assert state.state_history == history


@pytest.mark.parametrize(
    "value",
    ["abc", b"abc", [["ab"]], [[b"ab"]], [[[1.0]]], [[[2**31]]], [[1, 2]], 5, None, {1: 2}],
    ids=repr,
)
def test_history_refuses_and_keeps_the_old_value(saved, value):
    before = saved.state_history
    with pytest.raises(TypeError):
        saved.state_history = value
    assert saved.state_history == before


def test_history_getter_builds_a_new_list(saved):
    before = saved.state_history
    assert len(before) == 3
    first = saved.state_history
    assert first is not before
    first.append(first[0])
    first[0][0][0] = 99
    first[1].pop()
    assert saved.state_history == before
    saved.state_history = first
    assert saved.state_history == first
    assert len(saved.state_history) == 4


# --- repetition_count and move_index -----------------------------------------------------------


def test_repetition_count_key_limits():
    state = ortolan.State()
    state.repetition_count = {UINT64_MAX: 3, 0: INT32_MIN, 2**63: INT32_MAX}
    assert state.repetition_count == {UINT64_MAX: 3, 0: INT32_MIN, 2**63: INT32_MAX}
    with pytest.raises(TypeError):
        state.repetition_count = {-1: 1}
    assert state.repetition_count == {UINT64_MAX: 3, 0: INT32_MIN, 2**63: INT32_MAX}


@pytest.mark.parametrize(
    "value",
    [
        {-1: 1},
        {2**64: 1},
        {1: 2**31},
        {1: INT32_MIN - 1},
        {1.0: 1},
        {1: 1.0},
        {"1": 1},
        [(1, 2)],
        7,
    ],
    ids=repr,
)
def test_repetition_count_refuses_and_keeps_the_old_map(saved, value):
    before = saved.repetition_count
    assert before
    with pytest.raises(TypeError):
        saved.repetition_count = value
    assert saved.repetition_count == before


def test_repetition_count_is_replaced_whole(saved):
    saved.repetition_count = {5: 1}
    assert saved.repetition_count == {5: 1}
    saved.repetition_count = {}
    assert saved.repetition_count == {}


def test_maps_accept_any_mapping_and_integer_like_entries():
    state = ortolan.State()
    state.repetition_count = PlainMapping({Index(12): True, 2**64 - 2: np.int32(-3)})
    assert state.repetition_count == {12: 1, 2**64 - 2: -3}
    state.move_index = PlainMapping({-5: Index(6)})
    assert state.move_index == {-5: 6}


@given(st.dictionaries(uint64s, int32s, max_size=300))
def test_repetition_count_round_trip(entries):
    state = ortolan.State()
    state.repetition_count = entries
    assert state.repetition_count == entries


def test_move_index_limits():
    state = ortolan.State()
    state.move_index = {INT32_MIN: INT32_MAX, -1: -1, INT32_MAX: 0}
    assert state.move_index == {INT32_MIN: INT32_MAX, -1: -1, INT32_MAX: 0}
    for value in ({2**31: 1}, {INT32_MIN - 1: 1}, {1: 2**31}, {1: 0.5}):
        with pytest.raises(TypeError):
            state.move_index = value
        assert state.move_index == {INT32_MIN: INT32_MAX, -1: -1, INT32_MAX: 0}


@given(st.dictionaries(int32s, int32s, max_size=300))
def test_move_index_round_trip(entries):
    state = ortolan.State()
    state.move_index = entries
    assert state.move_index == entries


def test_map_getters_build_new_dicts(saved):
    counts = saved.repetition_count
    moves = saved.move_index
    assert counts is not saved.repetition_count
    assert moves is not saved.move_index
    counts[123] = 4
    counts.clear()
    moves[-1] = 5
    assert saved.repetition_count != counts
    assert -1 not in saved.move_index
    assert len(saved.move_index) == len(moves) - 1


# --- bitboards and occupancies -----------------------------------------------------------------

# The start position by hand: a8 = bit 0, h1 = bit 63; Piece order PNBRQKpnbrqk.
START_BITBOARDS = [
    0xFF << 48,  # white pawns, rank 2
    1 << 57 | 1 << 62,  # b1 g1
    1 << 58 | 1 << 61,  # c1 f1
    1 << 56 | 1 << 63,  # a1 h1
    1 << 59,  # d1
    1 << 60,  # e1
    0xFF << 8,  # black pawns, rank 7
    1 << 1 | 1 << 6,  # b8 g8
    1 << 2 | 1 << 5,  # c8 f8
    1 << 0 | 1 << 7,  # a8 h8
    1 << 3,  # d8
    1 << 4,  # e8
]
START_OCCUPANCIES = [0xFFFF << 48, 0xFFFF, 0xFFFF << 48 | 0xFFFF]


def test_arrays_of_the_start_position(env):
    state = env.save_state()
    assert state.bitboards.tolist() == START_BITBOARDS
    assert state.occupancies.tolist() == START_OCCUPANCIES


@pytest.mark.parametrize(("name", "size"), [("bitboards", 12), ("occupancies", 3)])
def test_arrays_are_new_owning_uint64_arrays(env, name, size):
    state = env.save_state()
    array = getattr(state, name)
    assert type(array) is np.ndarray
    assert array.dtype == np.dtype(np.uint64)
    assert array.shape == (size,)
    assert array.ndim == 1
    assert array.flags.c_contiguous
    assert array.flags.owndata
    assert array.flags.writeable
    assert array.base is None
    assert getattr(state, name) is not array
    expected = array.tolist()
    array[0] = 12345
    array[-1] = 0
    assert getattr(state, name).tolist() == expected


def test_arrays_outlive_their_state(env):
    state = env.save_state()
    bitboards, occupancies = state.bitboards, state.occupancies
    del state
    env.step(8 * 64 + 52)
    assert bitboards.tolist() == START_BITBOARDS
    assert occupancies.tolist() == START_OCCUPANCIES


# --- snapshots from an environment -------------------------------------------------------------


def test_state_saved_after_the_first_reset():
    env = ortolan.Ortolan()
    env.reset()
    state = env.save_state()
    assert repr(state) == (
        "State(\n"
        "  side=0,\n"
        "  enpassant=64,\n"
        "  castle=15,\n"
        "  state_pos=1,\n"
        "  total_move_count=0,\n"
        "  no_progress_count=0,\n"
        "  n_repititions=0,\n"
        "  state_history size=1\n"
        ")"
    )
    assert state.prev_n_repititions == 0
    assert state.repetition_count == {0x07259D7613375B63: 1}
    assert len(state.move_index) == 20


def test_state_is_independent_of_the_environment(saved, env):
    before = state_fields(saved)
    env.step(56 * 64 + 62)
    env.reset()
    del env
    assert state_fields(saved) == before
