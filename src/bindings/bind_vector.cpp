// Python class VectorCore: the batched environment of ortolan_vector.
#include <pybind11/pybind11.h>

#include "bindings/vector_bindings.h"

namespace py = pybind11;

namespace ortolan::bindings {

void bind_vector(py::module_&) {}

}  // namespace ortolan::bindings
