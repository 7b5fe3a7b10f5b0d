// The Python classes of the compiled core ortolan_vector._core, one registration function per
// area. The module body (vector_module.cpp) calls them in order.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>

#include "batch/observation_type.h"

namespace ortolan::bindings {

// The numpy dtype of an observation type.
inline pybind11::dtype observation_dtype(int32_t type) {
    return with_observation_type(type,
                                 [](auto zero) { return pybind11::dtype::of<decltype(zero)>(); });
}

void bind_vector(pybind11::module_& m);
void bind_search(pybind11::module_& m);

}  // namespace ortolan::bindings
