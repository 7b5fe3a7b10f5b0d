// The extension module ortolan: State, then Ortolan, and nothing else. The module refuses to be
// imported into a sub-interpreter and does not claim to run without the global lock.
#include <pybind11/pybind11.h>

#include "bindings/bindings.h"

PYBIND11_MODULE(ortolan, m, pybind11::multiple_interpreters::not_supported()) {
    ortolan::bindings::bind_state(m);
    ortolan::bindings::bind_ortolan(m);
}
