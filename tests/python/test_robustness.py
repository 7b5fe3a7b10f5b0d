"""Robustness of the Python surface: any value of any type, in any call.

Every method of Ortolan is called, and every State property assigned, with random values of
random types. Only TypeError, ValueError and AttributeError may come out (and the exception of
a hostile value's own code, which propagates as it is); the interpreter never crashes; after a
refused call the environment and the State are exactly as before. The one refusal with an
effect is a step with an integer that is not a legal action: the environment has then already
cleared just_reset and rebuilt its action map for the unchanged position.

Snapshots assembled from Python (a blank State, or a saved one with its history, counters and
maps replaced) are either refused by restore_state with ValueError "invalid State: ..." and the
environment left as it was, or accepted; an accepted one restores exactly, and then every
method works on it, positions without kings included.
"""

import collections.abc
import contextlib
import fractions
import functools
import io
import itertools
import operator
import os
import random
import sys
from decimal import Decimal

import numpy as np
import pytest
from hypothesis import HealthCheck, assume, event, given, settings
from hypothesis import strategies as st
from support import (
    INT32_MAX,
    INT32_MIN,
    INT_PROPERTIES,
    READ_ONLY_PROPERTIES,
    STATE_PROPERTIES,
    UINT64_MAX,
    PlainMapping,
    flush_c_stdout,
    state_fields,
)

import ortolan

settings.register_profile(
    "robustness",
    max_examples=200,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
ROBUST = settings.get_profile("robustness")

ACTIONS = 73 * 64
INVALID_STATE = "invalid State: "
METHODS_WITHOUT_PARAMETERS = [
    "reset",
    "get_actions",
    "render",
    "save_state",
    "hash_state",
    "roll_out",
]
METHODS = [*METHODS_WITHOUT_PARAMETERS, "parse_fen", "step", "restore_state"]
READ_WRITE_PROPERTIES = [p for p in STATE_PROPERTIES if p not in READ_ONLY_PROPERTIES]

FENS = [
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 b kq -",
    "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
    "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1",
    "rnbq1bnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1BNR b KQkq e3 0 1",  # no kings, odd rights
    "QQQQQQQQ/Q6Q/Q6Q/Q6Q/Q6Q/Q6Q/Q6Q/QQQQQQQB w - - 0 1",  # 288 moves, no kings
    "k7/8/8/8/8/8/8/7K b - - 0 1",
    "8/8/8/8/8/8/8/8 w - - 0 1",
    "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1",  # stalemate
    "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3",  # mated
    "KKKKkkkk/pppppppp/PPPPPPPP/8/8/pppppppp/PPPPPPPP/kkkkKKKK w KQkq a3 0 1",
]


# --- values of many kinds ------------------------------------------------------------------------


class Boom(Exception):
    """Raised by the hostile values below from their own __index__, __len__, items and such."""


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"Index({self.value})"


class IntOnly:
    """A number that int() converts but that has no __index__."""

    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value

    def __repr__(self):
        return f"IntOnly({self.value})"


class HostileIndex:
    def __index__(self):
        raise Boom("__index__")

    def __repr__(self):
        return "HostileIndex()"


class HostileInt:
    def __int__(self):
        raise Boom("__int__")

    def __repr__(self):
        return "HostileInt()"


class HostileList(list):
    def __len__(self):
        raise Boom("__len__")

    def __iter__(self):
        raise Boom("__iter__")

    def __getitem__(self, index):
        raise Boom("__getitem__")


class HostileMapping(PlainMapping):
    def items(self):
        raise Boom("items")


INT_EDGES = [
    0,
    1,
    -1,
    2,
    7,
    8,
    14,
    49,
    50,
    63,
    64,
    65,
    4671,
    4672,
    INT32_MAX,
    INT32_MIN,
    INT32_MAX + 1,
    INT32_MIN - 1,
    2**32 - 1,
    2**32,
    2**63 - 1,
    2**63,
    -(2**63),
    -(2**63) - 1,
    UINT64_MAX,
    UINT64_MAX + 1,
    2**200,
    -(2**200),
]
ints = st.one_of(
    st.sampled_from(INT_EDGES),
    st.integers(INT32_MIN, INT32_MAX),
    st.integers(-(2**70), 2**70),
    st.integers(),
)
odd_numbers = st.sampled_from(
    [
        fractions.Fraction(7, 2),
        fractions.Fraction(-(2**40), 3),
        Decimal("3.9"),
        Decimal("NaN"),
        Decimal("-Infinity"),
        Decimal(2**64),
        complex(1, 0),
        np.int64(5),
        np.int32(-7),
        np.uint64(UINT64_MAX),
        np.int8(-3),
        np.float64(2.0),
        np.float32(3.5),
        np.bool_(True),
    ]
)
odd_objects = st.sampled_from([object(), Ellipsis, int, frozenset({1}), range(3), memoryview(b"")])
hostile = st.sampled_from([HostileIndex(), HostileInt(), HostileList([1])])
scalars = st.one_of(
    ints,
    st.booleans(),
    st.floats(),
    st.text(max_size=12),
    st.binary(max_size=12),
    st.binary(max_size=12).map(bytearray),
    st.none(),
    st.builds(Index, ints),
    st.builds(IntOnly, ints),
    odd_numbers,
    odd_objects,
    hostile,
)
keys = st.one_of(
    ints,
    st.booleans(),
    st.none(),
    st.text(max_size=3),
    st.floats(allow_nan=False),
    st.tuples(ints, ints),
    st.builds(Index, ints),
    st.just(HostileIndex()),
)
values = st.recursive(
    scalars,
    lambda inner: st.one_of(
        st.lists(inner, max_size=4),
        st.tuples(inner),
        st.tuples(inner, inner, inner),
        st.dictionaries(keys, inner, max_size=4),
        st.dictionaries(keys, inner, max_size=3).map(PlainMapping),
        st.dictionaries(keys, inner, max_size=3).map(HostileMapping),
    ),
    max_leaves=24,
)
int32s = st.one_of(
    st.sampled_from([INT32_MIN, INT32_MAX, -1, 0, 1, 2, 49, 50]), st.integers(INT32_MIN, INT32_MAX)
)
uint64s = st.one_of(st.sampled_from([0, 1, 2**63, UINT64_MAX]), st.integers(0, UINT64_MAX))
integer_like = st.one_of(int32s, st.builds(Index, int32s), st.builds(IntOnly, int32s))
sequence = st.sampled_from([list, tuple])
# Seeded generators for choices made while a test runs (moves to play, cuts in FEN text); the
# draws that depend on a random rollout must not come out of hypothesis's own data.
randoms = st.integers(0, 2**32 - 1).map(random.Random)


@st.composite
def nested_histories(draw, regular=None):
    """Histories of lists and tuples of integer-like values, mostly of the saved shape.

    The shape and the kind of values come from hypothesis; the up to 7168 values themselves
    from a seeded generator, which keeps the examples quick to make.
    """
    if regular is None:
        regular = draw(st.booleans())
    if regular:
        shape = [[64] * 14 for _ in range(draw(st.integers(0, 10)))]
    else:
        shape = draw(st.lists(st.lists(st.integers(0, 66), max_size=16), max_size=10))
    cell = draw(st.sampled_from(["bits", "small", "any", "mixed"]))
    arbitrary = draw(randoms)

    def value():
        if cell == "bits":
            return arbitrary.randint(0, 1)
        if cell == "small":
            return arbitrary.randint(-3, 3)
        number = arbitrary.choice([INT32_MIN, INT32_MAX, arbitrary.randint(INT32_MIN, INT32_MAX)])
        if cell == "mixed":
            return arbitrary.choice([int, Index, IntOnly, bool])(number) if number else False
        return number

    outer, middle, inner = draw(sequence), draw(sequence), draw(sequence)
    return outer(middle(inner(value() for _ in range(n)) for n in record) for record in shape)


structured = st.one_of(
    nested_histories(),
    st.dictionaries(st.one_of(uint64s, ints), st.one_of(int32s, ints), max_size=6),
    st.dictionaries(integer_like, integer_like, max_size=4).map(PlainMapping),
)
anything = st.one_of(values, structured)


# --- what a conversion should give ---------------------------------------------------------------


class Refused(Exception):
    """The binding must refuse the value (TypeError, or the hostile value's own error)."""


def convert_int(value, low=INT32_MIN, high=INT32_MAX):
    """An int, a bool, an object with __index__, or a non-float number that int() converts."""
    if isinstance(value, float):
        raise Refused
    try:
        number = operator.index(value)
    except Boom as error:
        raise Refused from error
    except TypeError:
        kind = type(value)
        if not any(hasattr(kind, name) for name in ("__int__", "__float__", "__index__")):
            raise Refused from None
        try:
            number = int(value)
        except (Boom, TypeError, ValueError, OverflowError) as error:
            raise Refused from error
    if not low <= number <= high:
        raise Refused
    return number


SEQUENCES = (list, tuple, bytearray, range, memoryview)
# Iterables that are not sequences but that the binding library also takes as one (it converts
# them as tuple(value) would): sets, mappings other than dict, generators, dict views, map and
# zip objects. Refusing them would be as correct.
OTHER_ITERABLES = (
    set,
    frozenset,
    collections.abc.Mapping,
    collections.abc.Iterator,
    type({}.keys()),
    type({}.values()),
    type({}.items()),
)


class MayRefuse(Exception):
    """The value converts to ``value`` if accepted, but refusing it is also correct."""

    def __init__(self, value):
        super().__init__()
        self.value = value


def convert_history(value):
    loose = False

    def level(item, depth):
        nonlocal loose
        if depth == 0:
            return convert_int(item)
        if isinstance(item, (str, bytes, dict)):
            raise Refused
        if not isinstance(item, SEQUENCES):
            if not isinstance(item, OTHER_ITERABLES):
                raise Refused
            loose = True
        try:
            return [level(x, depth - 1) for x in item]
        except Boom as error:
            raise Refused from error

    converted = level(value, 3)
    if loose:
        raise MayRefuse(converted)
    return converted


def convert_map(value, key_low, key_high):
    """The converted entries, and whether converted keys collided (then any one may win)."""
    if not isinstance(value, dict) and not (
        hasattr(type(value), "__getitem__") and callable(getattr(value, "items", None))
    ):
        raise Refused
    try:
        items = list(value.items())
    except Boom as error:
        raise Refused from error
    converted = [(convert_int(k, key_low, key_high), convert_int(v)) for k, v in items]
    result = dict(converted)
    return result, len(result) != len(converted)


def expected_property_value(name, value):
    """(value read back, whether the exact entries are ambiguous); raises Refused."""
    if name in INT_PROPERTIES:
        return convert_int(value), False
    if name == "state_history":
        return convert_history(value), False
    if name == "repetition_count":
        return convert_map(value, 0, UINT64_MAX)
    if name == "move_index":
        return convert_map(value, INT32_MIN, INT32_MAX)
    raise AssertionError(name)


# --- environments in assorted conditions ---------------------------------------------------------


@contextlib.contextmanager
def quiet_stdout():
    """Swallows both render streams: sys.stdout and the process's file descriptor 1."""
    sys.stdout.flush()
    flush_c_stdout()
    saved = os.dup(1)
    try:
        with open(os.devnull, "w") as devnull:
            os.dup2(devnull.fileno(), 1)
            with contextlib.redirect_stdout(io.StringIO()):
                yield
            flush_c_stdout()
    finally:
        os.dup2(saved, 1)
        os.close(saved)


def legal(env):
    mask = env.get_actions()
    return [p * 64 + s for p, plane in enumerate(mask) for s, v in enumerate(plane) if v]


def new_environment(setup, arbitrary):
    """An environment and its just_reset flag, in one of several conditions."""
    env = ortolan.Ortolan()
    if setup == "fresh":
        return env, 0
    env.reset()
    if setup == "reset":
        return env, 1
    if setup == "fen":
        env.parse_fen(arbitrary.choice(FENS))  # keeps just_reset 1, also for Black to move
        return env, 1
    if setup == "played":
        for _ in range(arbitrary.randint(1, 12)):
            actions = legal(env)
            if not actions:
                break
            if env.step(arbitrary.choice(actions))[3]:
                break
        return env, 0
    if setup == "mated":
        for action in (501, 524, 566, 195):  # 1. f3 e5 2. g4 Qh4#
            env.step(action)
        return env, 0
    if setup == "garbage":
        text = arbitrary.choice(FENS)
        cut = arbitrary.randint(0, len(text))
        env.parse_fen(
            text[:cut]
            + "".join(
                arbitrary.choices("pnbrqkPNBRQK12345678/ wb-KQkqa3h6z9", k=arbitrary.randint(0, 20))
            )
        )
        return env, 1
    raise AssertionError(setup)


setups = st.sampled_from(["fresh", "reset", "fen", "played", "mated", "garbage"])


def fingerprint(env):
    """Everything observable about an environment without changing it.

    Restoring the environment's own snapshot changes nothing (the snapshot holds every member
    that restore_state writes) and yields the observation, which also shows just_reset for a
    Black-to-move position.
    """
    state = env.save_state()
    return state_fields(state), env.hash_state(), env.restore_state(state)


def rotated(observation):
    return [plane[::-1] for plane in observation]


def assert_step_result(result):
    assert type(result) is tuple
    assert len(result) == 4
    side, observation, reward, done = result
    assert side in (0, 1)
    assert reward in (-1, 0, 1)
    assert done in (0, 1)
    assert len(observation) == 119
    assert all(len(plane) == 64 for plane in observation)
    assert all(type(v) is int for plane in observation for v in plane)


def exercise(env, arbitrary):
    """Every method once more; none may fail on whatever position the environment holds."""
    actions = legal(env)
    assert actions == sorted(set(actions))
    assert all(0 <= a < ACTIONS for a in actions)
    key = env.hash_state()
    assert 0 <= key <= UINT64_MAX
    with quiet_stdout():
        env.render()
    saved = env.save_state()
    assert sorted(saved.move_index) == actions
    for action in arbitrary.sample(actions, min(3, len(actions))):
        assert_step_result(env.step(action))
        assert_step_result(env.restore_state(saved))
    illegal = next(a for a in itertools.chain([0, 4671], range(ACTIONS)) if a not in actions)
    with pytest.raises(ValueError, match=r"^Invalid action$"):
        env.step(illegal)
    assert env.roll_out() in (-1, 0, 1)
    assert_step_result(env.restore_state(saved))
    with quiet_stdout():
        env.render()
    assert env.hash_state() == key


# --- State properties ----------------------------------------------------------------------------


def new_state(kind, arbitrary):
    if kind == "blank":
        return ortolan.State()
    env, _ = new_environment(kind, arbitrary)
    return env.save_state()


state_kinds = st.sampled_from(["blank", "reset", "fen", "played", "mated"])


def likely_values(name):
    """Values of any kind, and values much like the ones the property takes."""
    near = {
        "state_history": st.one_of(
            nested_histories(),
            st.lists(st.lists(st.lists(scalars, max_size=3), max_size=3), max_size=3),
        ),
        "repetition_count": st.one_of(
            st.dictionaries(st.one_of(uint64s, ints, keys), st.one_of(int32s, ints), max_size=5),
            st.dictionaries(
                st.one_of(uint64s, keys), st.one_of(integer_like, scalars), max_size=3
            ).map(PlainMapping),
        ),
        "move_index": st.one_of(
            st.dictionaries(st.one_of(int32s, ints, keys), st.one_of(int32s, ints), max_size=5),
            st.dictionaries(
                st.one_of(integer_like, keys), st.one_of(integer_like, scalars), max_size=3
            ).map(PlainMapping),
        ),
    }.get(name, st.one_of(integer_like, ints, st.booleans(), st.floats(), odd_numbers))
    return st.one_of(anything, near)


@ROBUST
@given(
    kind=state_kinds,
    name=st.sampled_from([*STATE_PROPERTIES, "no_such_property", "__dict__", "__class__"]),
    data=st.data(),
    arbitrary=randoms,
)
def test_assigning_any_value_to_any_state_property(kind, name, data, arbitrary):
    value = data.draw(likely_values(name), label="value")
    state = new_state(kind, arbitrary)
    before = state_fields(state)
    may_refuse = False
    expected = ambiguous = None
    try:
        if name in READ_WRITE_PROPERTIES:
            expected, ambiguous = expected_property_value(name, value)
    except Refused:
        refused = True
    except MayRefuse as either:
        expected, ambiguous, refused, may_refuse = either.value, False, False, True
    else:
        refused = name not in READ_WRITE_PROPERTIES
    event(f"{name}: {'refused' if refused else 'either' if may_refuse else 'accepted'}")
    try:
        setattr(state, name, value)
    except AttributeError:
        assert name not in READ_WRITE_PROPERTIES
    except TypeError:
        assert refused or may_refuse, f"{name} = {value!r} refused"
    except Boom:
        assert refused
    else:
        assert not refused, f"{name} = {value!r} accepted"
        after = state_fields(state)
        got = after.pop(name)
        before.pop(name)
        assert after == before
        if ambiguous:
            assert type(got) is dict
            assert set(got) == set(expected)
        else:
            assert got == expected
        return
    assert state_fields(state) == before


@ROBUST
@given(kind=state_kinds, name=st.sampled_from(STATE_PROPERTIES), arbitrary=randoms)
def test_no_property_can_be_deleted(kind, name, arbitrary):
    state = new_state(kind, arbitrary)
    before = state_fields(state)
    with pytest.raises(AttributeError):
        delattr(state, name)
    assert state_fields(state) == before


@ROBUST
@given(
    args=st.lists(values, min_size=1, max_size=3),
    kwargs=st.dictionaries(st.sampled_from(["state", "x", "self"]), values, max_size=1),
    kind=state_kinds,
    arbitrary=randoms,
)
def test_state_constructor_takes_nothing(args, kwargs, kind, arbitrary):
    with pytest.raises(TypeError):
        ortolan.State(*args, **kwargs)
    state = new_state(kind, arbitrary)
    before = state_fields(state)
    # The binding library ignores a second __init__ before it looks at the arguments, so
    # arguments are not refused there; either way the record must keep its values.
    with contextlib.suppress(TypeError):
        state.__init__(*args, **kwargs)
    assert state_fields(state) == before
    state.__init__()
    assert state_fields(state) == before
    assert repr(state).startswith("State(\n")


@ROBUST
@given(owner=anything, name=st.sampled_from(STATE_PROPERTIES), value=anything)
def test_properties_need_a_state(owner, name, value):
    assume(owner is not None)  # property.__get__(None, ...) is the property itself
    descriptor = vars(ortolan.State)[name]
    with pytest.raises(TypeError):
        descriptor.__get__(owner, type(owner))
    with pytest.raises((TypeError, AttributeError)):
        descriptor.__set__(owner, value)


# --- Ortolan methods -----------------------------------------------------------------------------


def expected_call(method, args, kwargs, actions):
    """'refused' (TypeError), 'invalid' (ValueError), 'accepted', or 'ignored'.

    A second __init__ is ignored by the binding library before it looks at the arguments, so
    with arguments it may either refuse them or do nothing; it never changes the environment.
    """
    if method == "__init__":
        return "ignored" if args or kwargs else "accepted"
    if kwargs:
        return "refused"
    if method in METHODS_WITHOUT_PARAMETERS:
        return "refused" if args else "accepted"
    if len(args) != 1:
        return "refused"
    (arg,) = args
    if method == "parse_fen":
        if isinstance(arg, (bytes, bytearray)):
            return "accepted"
        if isinstance(arg, str):
            try:
                arg.encode("utf-8")
            except UnicodeEncodeError:
                return "refused"
            return "accepted"
        return "refused"
    if method == "step":
        try:
            action = convert_int(arg)
        except Refused:
            return "refused"
        return "accepted" if action in actions else "invalid"
    if method == "restore_state":
        return "accepted" if isinstance(arg, ortolan.State) else "refused"
    raise AssertionError(method)


class LegalAction:
    """Stands for the legal action number ``choice`` modulo their count, of some integer type."""

    def __init__(self, choice, kind):
        self.choice = choice
        self.kind = kind

    def resolve(self, actions):
        number = actions[self.choice % len(actions)] if actions else self.choice
        return self.kind(number)

    def __repr__(self):
        return f"LegalAction({self.choice}, {self.kind.__name__})"


class SavedState:
    """Stands for a snapshot saved from an environment in some condition."""

    def __init__(self, setup, seed):
        self.setup = setup
        self.seed = seed

    def resolve(self, actions):
        env, _ = new_environment(self.setup, random.Random(self.seed))
        return env.save_state()

    def __repr__(self):
        return f"SavedState({self.setup!r}, {self.seed})"


fens = st.sampled_from(FENS)
one_argument = {
    "parse_fen": st.one_of(
        fens,
        fens.map(str.encode),
        fens.map(lambda f: bytearray(f.encode())),
        st.sampled_from(["\ud800", "8/8/8/8/8/8/8/8 w - - \udfff", "K\x00k", "é", "\x00", ""]),
        st.text(max_size=30),
        st.binary(max_size=30),
        values,
    ),
    "step": st.one_of(
        st.builds(LegalAction, st.integers(0, 300), st.sampled_from([int, Index, IntOnly])),
        st.integers(-5, ACTIONS + 64),
        integer_like,
        ints,
        values,
    ),
    "restore_state": st.one_of(
        st.builds(ortolan.State),
        st.builds(SavedState, setups, st.integers(0, 2**32 - 1)),
        values,
    ),
}


@st.composite
def calls(draw):
    """A method name, its positional arguments and its keyword arguments."""
    method = draw(st.sampled_from([*METHODS, "__init__"]))
    if method in one_argument and draw(st.booleans()):
        args = [draw(one_argument[method])]
    else:
        args = draw(st.lists(st.one_of(values, *one_argument.values()), max_size=3))
    kwargs = {}
    if draw(st.integers(0, 4)) == 0:
        kwargs = draw(
            st.dictionaries(
                st.sampled_from(["arg0", "action", "text", "state"]),
                st.one_of(values, *one_argument.values()),
                max_size=1,
            )
        )
    return method, args, kwargs


@ROBUST
@given(setup=setups, call=calls(), arbitrary=randoms)
def test_calling_any_method_with_any_arguments(setup, call, arbitrary):
    method, args, kwargs = call
    env, just_reset = new_environment(setup, arbitrary)
    actions = legal(env)

    def resolve(value):
        return value.resolve(actions) if isinstance(value, (LegalAction, SavedState)) else value

    args = [resolve(v) for v in args]
    kwargs = {k: resolve(v) for k, v in kwargs.items()}
    before = fingerprint(env)
    expected = expected_call(method, args, kwargs, actions)
    event(f"{method}: {expected}")
    if method in ("reset", "roll_out", "step", "parse_fen", "restore_state") and (
        expected == "accepted"
    ):
        # These change the game when they succeed; the point here is what they refuse.
        with quiet_stdout():
            result = getattr(env, method)(*args)
        if method in ("reset", "step", "restore_state"):
            assert_step_result(result)
        if method == "roll_out":
            assert result in (-1, 0, 1)
        exercise(env, arbitrary)
        return
    outcome = "accepted"
    try:
        with quiet_stdout():
            result = getattr(env, method)(*args, **kwargs)
    except TypeError:
        outcome = "refused"
    except ValueError as error:
        outcome, message = "invalid", str(error)
    call_text = f"{method}{tuple(args)!r} {kwargs!r}"
    if outcome == "refused":
        assert expected in ("refused", "ignored"), call_text
        assert fingerprint(env) == before
    elif outcome == "invalid":
        assert expected == "invalid", call_text
        assert message == "Invalid action"
        # A refused step has run its first two steps: just_reset 0 and the action map rebuilt.
        fields, key, restored = fingerprint(env)
        old_fields, old_key, old_restored = before
        assert sorted(fields.pop("move_index")) == actions
        old_fields.pop("move_index")
        assert (fields, key) == (old_fields, old_key)
        if just_reset and fields["side"] == 1:
            assert restored[1] == rotated(old_restored[1])
            assert restored[:1] + restored[2:] == old_restored[:1] + old_restored[2:]
        else:
            assert restored == old_restored
    else:
        assert expected in ("accepted", "ignored"), call_text
        if method == "get_actions":
            assert result == env.get_actions()
        after = fingerprint(env)
        if method == "save_state":
            assert state_fields(result) == after[0]
        assert after == before


@ROBUST
@given(call=calls(), owner=st.one_of(values, st.builds(ortolan.State)))
def test_methods_need_an_ortolan(call, owner):
    method, args, kwargs = call
    args = [v.resolve([]) if isinstance(v, (LegalAction, SavedState)) else v for v in args]
    with pytest.raises(TypeError):
        getattr(ortolan.Ortolan, method)(owner, *args, **kwargs)


@ROBUST
@given(args=st.lists(values, min_size=1, max_size=2))
def test_ortolan_constructor_takes_nothing(args):
    with pytest.raises(TypeError):
        ortolan.Ortolan(*args)


# --- snapshots assembled from Python -------------------------------------------------------------


def expected_observation(history, state_pos, side, castle, total, no_progress, just_reset):
    black = side == 1
    planes = []
    for slot in range(8):
        index = (state_pos + 7 - slot) % 8
        if index < len(history):
            record = history[index]
            pieces = record[6:12] + record[0:6] if black else record[0:12]
            planes += [*pieces, record[12], record[13]]
        else:
            planes += [[0] * 64 for _ in range(14)]
    planes += [
        [int(black)] * 64,
        [total] * 64,
        *([castle >> bit & 1] * 64 for bit in range(4)),
        [no_progress] * 64,
    ]
    return rotated(planes) if black and not just_reset else planes


@st.composite
def assembled_states(draw):
    """A State from State() or from save_state, with some of its writable fields replaced."""
    arbitrary = draw(randoms)
    kind = draw(st.sampled_from(["blank", "reset", "fen", "played", "mated", "garbage"]))
    if kind == "blank":
        state = ortolan.State()
        keys_seen = [0x6E57394121878680]
    else:
        env, _ = new_environment(kind, arbitrary)
        state = env.save_state()
        keys_seen = [env.hash_state(), *state.repetition_count]
    fields = draw(st.sets(st.sampled_from(READ_WRITE_PROPERTIES)))
    if "state_history" in fields:
        state.state_history = draw(nested_histories())
    if "state_pos" in fields:
        state.state_pos = draw(st.one_of(st.integers(-2, 9), int32s))
    for name in ("total_move_count", "no_progress_count", "n_repititions", "prev_n_repititions"):
        if name in fields:
            setattr(state, name, draw(int32s))
    if "repetition_count" in fields:
        state.repetition_count = draw(
            st.dictionaries(st.one_of(st.sampled_from(keys_seen), uint64s), int32s, max_size=6)
        )
    if "move_index" in fields:
        state.move_index = draw(
            st.dictionaries(
                st.one_of(st.integers(0, ACTIONS - 1), int32s),
                st.one_of(st.integers(0, 1 << 24), int32s),
                max_size=8,
            )
        )
    return state


@ROBUST
@given(setup=setups, state=assembled_states(), arbitrary=randoms)
def test_restoring_an_assembled_state(setup, state, arbitrary):
    env, just_reset = new_environment(setup, arbitrary)
    live_total = env.save_state().total_move_count
    before = fingerprint(env)
    fields = state_fields(state)
    history = fields["state_history"]
    usable = (
        fields["side"] in (0, 1)
        and 0 <= fields["enpassant"] <= 64
        and 0 <= fields["castle"] <= 15
        and 0 <= fields["state_pos"] <= 7
        and len(history) <= 8
        and all(len(r) == 14 and all(len(p) == 64 for p in r) for r in history)
    )
    event("usable" if usable else "out of range")
    try:
        result = env.restore_state(state)
    except ValueError as error:
        refusal = str(error)
    else:
        refusal = None
    if refusal is not None:
        assert not usable, f"refused a usable record: {refusal}"
        assert refusal.startswith(INVALID_STATE)
        assert fingerprint(env) == before
        assert state_fields(state) == fields
        return
    assert state_fields(state) == fields
    if not usable:
        # Nothing promises a refusal for these; accepted, they must still be safe to use.
        exercise(env, arbitrary)
        return
    assert_step_result(result)
    side, observation, reward, done = result
    assert (side, reward, done) == (fields["side"], 0, 0)
    assert observation == expected_observation(
        history,
        fields["state_pos"],
        fields["side"],
        fields["castle"],
        live_total,
        fields["no_progress_count"],
        just_reset,
    )
    restored = state_fields(env.save_state())
    assert restored.pop("total_move_count") == live_total
    fields.pop("total_move_count")
    assert restored == fields
    exercise(env, arbitrary)


@ROBUST
@given(
    text=st.one_of(
        st.text(alphabet="pnbrqkPNBRQK0123456789/ -wbKQkqa3e6h9z", max_size=90),
        st.text(max_size=40),
        st.binary(max_size=60),
        st.builds(
            lambda fen, cut, tail: fen[:cut] + tail,
            st.sampled_from(FENS),
            st.integers(0, 90),
            st.text(max_size=12),
        ),
    ),
    arbitrary=randoms,
)
def test_any_fen_text_gives_a_playable_environment(text, arbitrary):
    env = ortolan.Ortolan()
    env.reset()
    try:
        env.parse_fen(text)
    except TypeError:
        assert isinstance(text, str)
        with pytest.raises(UnicodeEncodeError):
            text.encode("utf-8")
        return
    state = env.save_state()
    assert state.side in (0, 1)
    assert 0 <= state.enpassant <= 64
    assert 0 <= state.castle <= 15
    bitboards = state.bitboards.tolist()
    assert all(a & b == 0 for a, b in itertools.combinations(bitboards, 2))
    white, black, both = state.occupancies.tolist()
    assert white == functools.reduce(operator.or_, bitboards[:6])
    assert black == functools.reduce(operator.or_, bitboards[6:])
    assert both == white | black
    assert state.no_progress_count == 0
    assert_step_result(env.restore_state(state))
    exercise(env, arbitrary)
