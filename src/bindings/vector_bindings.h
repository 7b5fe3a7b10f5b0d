// The Python classes of the compiled core ortolan_vector._core, one registration function per
// area. The module body (vector_module.cpp) calls them in order.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>

#include "batch/interruption.h"
#include "batch/observation_type.h"

namespace ortolan::bindings {

// The numpy dtype of an observation type.
inline pybind11::dtype observation_dtype(int32_t type) {
    return with_observation_type(type,
                                 [](auto zero) { return pybind11::dtype::of<decltype(zero)>(); });
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
