// The Python classes of the module ortolan, one registration function per class. The module
// body (module.cpp) calls them in this order.
#pragma once

#include <pybind11/pybind11.h>

namespace ortolan::bindings {

void bind_state(pybind11::module_& m);
void bind_ortolan(pybind11::module_& m);

}  // namespace ortolan::bindings
