// The Python classes of the compiled core ortolan_vector._core, one registration function per
// area. The module body (vector_module.cpp) calls them in order.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "batch/interruption.h"
#include "batch/observation_type.h"

namespace ortolan::bindings {

// The numpy dtype of an observation type.
inline pybind11::dtype observation_dtype(int32_t type) {
    return with_observation_type(type,
                                 [](auto zero) { return pybind11::dtype::of<decltype(zero)>(); });
}

// A setting that is a whole number: a Python int or a NumPy integer, not a bool, as int64 (a
// value beyond that range as the nearest int64, which lies outside every range a setting
// takes). Anything else raises TypeError("<expected>, not <type name>").
inline int64_t whole_setting(const pybind11::handle& value, const std::string& expected) {
    namespace py = pybind11;
    const bool whole = !PyBool_Check(value.ptr()) &&
                       (PyLong_Check(value.ptr()) ||
                        py::isinstance(value, py::module_::import("numpy").attr("integer")));
    if (!whole)
        throw py::type_error(expected + ", not " +
                             py::type::handle_of(value).attr("__name__").cast<std::string>());
    const py::int_ number(py::reinterpret_borrow<py::object>(value));
    int overflow = 0;
    const long long exact = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (overflow) return overflow > 0 ? INT64_MAX : INT64_MIN;
    return exact;
}

// A whole-number argument in [low, high]: a TypeError as whole_setting's for another type, a
// ValueError("<name> must be in [<low>, <high>], not <value>") for a value outside.
inline int64_t whole_in(const pybind11::handle& value, const char* name, int64_t low,
                        int64_t high) {
    const int64_t number = whole_setting(value, std::string(name) + " must be an int");
    if (number < low || number > high)
        throw pybind11::value_error(std::string(name) + " must be in [" + std::to_string(low) +
                                    ", " + std::to_string(high) + "], not " +
                                    std::to_string(number));
    return number;
}

// What a long call asks between its parts, with the interpreter lock released: Python's
// pending signal handlers run, and the exception one raises (KeyboardInterrupt for Ctrl-C) ends
// the call.
class SignalCheck final : public Interruption {
public:
    void check() override {
        pybind11::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
    }
};

void bind_vector(pybind11::module_& m);
void bind_search(pybind11::module_& m);
void bind_constants(pybind11::module_& m);
void bind_pgn(pybind11::module_& m);

}  // namespace ortolan::bindings
