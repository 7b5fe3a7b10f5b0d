// Result conversions for the plane structures: an Observation or an ActionMask becomes a new
// list of lists of int, one list per plane, and a StepResult a new 4-tuple. These run on every
// step, so the lists are filled in place rather than through the generic container casters.
// The structures are results only; nothing converts them back from Python.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

#include "env/actions.h"
#include "env/observation.h"

namespace ortolan::bindings {

// A new list of `count` lists of 64 ints. Values 0 and 1, nearly every entry of an observation
// or a mask, share the interpreter's small-integer objects; any other value shares one int
// object with the entries next to it that hold the same value, so a uniform plane such as the
// move counter's costs one allocation rather than 64.
template <int32_t count>
inline pybind11::object planes_to_list(const int32_t (&planes)[count][64]) {
    namespace py = pybind11;
    const auto checked = [](PyObject* object) {
        if (!object) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(object);
    };
    const py::object zero = checked(PyLong_FromLong(0));
    const py::object one = checked(PyLong_FromLong(1));
    py::object other;
    int32_t other_value = 0;
    py::object outer = checked(PyList_New(count));
    for (int32_t p = 0; p < count; ++p) {
        // Owned by outer from here on; slots still NULL are skipped if it is dropped.
        PyObject* inner = checked(PyList_New(64)).release().ptr();
        PyList_SET_ITEM(outer.ptr(), p, inner);
        const int32_t* plane = planes[p];
        uint32_t seen = 0;
        for (int32_t s = 0; s < 64; ++s) seen |= static_cast<uint32_t>(plane[s]);
        if ((seen & ~1u) == 0) {
            // Only 0 and 1: picked by index rather than by a branch the piece patterns make
            // unpredictable, with the references taken in two runs afterwards.
            PyObject* const small[2] = {zero.ptr(), one.ptr()};
            int32_t ones = 0;
            for (int32_t s = 0; s < 64; ++s) {
                PyList_SET_ITEM(inner, s, small[plane[s]]);
                ones += plane[s];
            }
            for (int32_t i = 0; i < ones; ++i) Py_INCREF(small[1]);
            for (int32_t i = ones; i < 64; ++i) Py_INCREF(small[0]);
            continue;
        }
        for (int32_t s = 0; s < 64; ++s) {
            const int32_t v = plane[s];
            PyObject* item;
            if (v == 0) {
                item = zero.ptr();
            } else if (v == 1) {
                item = one.ptr();
            } else {
                if (!other || v != other_value) {
                    other = checked(PyLong_FromLong(v));
                    other_value = v;
                }
                item = other.ptr();
            }
            PyList_SET_ITEM(inner, s, Py_NewRef(item));
        }
    }
    return outer;
}

}  // namespace ortolan::bindings

namespace pybind11::detail {

template <>
struct type_caster<ortolan::Observation> {
    static constexpr auto name =
        const_name("list[list[") + make_caster<int32_t>::name + const_name("]]");

    static handle cast(const ortolan::Observation& observation, return_value_policy, handle) {
        return ortolan::bindings::planes_to_list(observation.planes).release();
    }
};

template <>
struct type_caster<ortolan::ActionMask> {
    static constexpr auto name =
        const_name("list[list[") + make_caster<int32_t>::name + const_name("]]");

    static handle cast(const ortolan::ActionMask& mask, return_value_policy, handle) {
        return ortolan::bindings::planes_to_list(mask.planes).release();
    }
};

// (side, observation, reward, done)
template <>
struct type_caster<ortolan::StepResult> {
    static constexpr auto name = const_name("tuple[") + make_caster<int32_t>::name +
                                 const_name(", ") + make_caster<ortolan::Observation>::name +
                                 const_name(", ") + make_caster<int32_t>::name + const_name(", ") +
                                 make_caster<int32_t>::name + const_name("]");

    static handle cast(const ortolan::StepResult& result, return_value_policy policy,
                       handle parent) {
        object side = reinterpret_steal<object>(PyLong_FromLong(result.side));
        object observation = reinterpret_steal<object>(
            make_caster<ortolan::Observation>::cast(result.observation, policy, parent));
        object reward = reinterpret_steal<object>(PyLong_FromLong(result.reward));
        object done = reinterpret_steal<object>(PyLong_FromLong(result.done));
        if (!side || !reward || !done) throw error_already_set();
        PyObject* tuple = PyTuple_New(4);
        if (!tuple) throw error_already_set();
        PyTuple_SET_ITEM(tuple, 0, side.release().ptr());
        PyTuple_SET_ITEM(tuple, 1, observation.release().ptr());
        PyTuple_SET_ITEM(tuple, 2, reward.release().ptr());
        PyTuple_SET_ITEM(tuple, 3, done.release().ptr());
        return tuple;
    }
};

}  // namespace pybind11::detail
