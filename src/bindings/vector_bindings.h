// The Python classes of the compiled core ortolan_vector._core, one registration function per
// area. The module body (vector_module.cpp) calls them in order.
#pragma once

#include <pybind11/pybind11.h>

namespace ortolan::bindings {

void bind_vector(pybind11::module_& m);
void bind_search(pybind11::module_& m);
void bind_pgn(pybind11::module_& m);

}  // namespace ortolan::bindings
