// The extension module ortolan_vector._core: the batched environment, the batched search, the
// PGN reader and the constants the Python packages read.
// Snapshots pass in and out as ortolan.State objects: the module ortolan registers that class
// with pybind11, and a module built with the same pybind11 shares that registration, so it is
// imported first.
#include <pybind11/pybind11.h>

#include "bindings/vector_bindings.h"

PYBIND11_MODULE(_core, m, pybind11::multiple_interpreters::not_supported()) {
    pybind11::module_::import("ortolan");
    ortolan::bindings::bind_vector(m);
    ortolan::bindings::bind_search(m);
    ortolan::bindings::bind_constants(m);
    ortolan::bindings::bind_pgn(m);
}
