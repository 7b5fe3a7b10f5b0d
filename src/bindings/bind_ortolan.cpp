// Python class Ortolan: one Board per object and its nine operations. Each method converts its
// arguments, calls the Board operation of the same name and converts the result into new
// Python objects. No parameter has a name, so every argument is positional only.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "bindings/bindings.h"
#include "bindings/casters.h"
#include "engine/board.h"
#include "extras/render.h"
#include "extras/state.h"

namespace py = pybind11;

namespace ortolan::bindings {

namespace {

// The glyph board goes through pybind11's print to the current sys.stdout. A Python exception
// raised while printing leaves render as error_already_set and reaches the caller unchanged.
class InterpreterPrint final : public GlyphSink {
public:
    void print(const PrintArg* args, int32_t count, bool newline_end) override {
        py::tuple values(count);
        for (int32_t i = 0; i < count; ++i) {
            const PrintArg& arg = args[i];
            values[i] = arg.text ? py::object(py::str(arg.text)) : py::object(py::int_(arg.number));
        }
        if (newline_end) {
            py::print(*values);
        } else {
            py::print(*values, py::arg("end") = "");
        }
    }
};

}  // namespace

void bind_ortolan(py::module_& m) {
    py::class_<Board>(m, "Ortolan")
        .def(py::init<>())
        .def("reset", [](Board& b) { return b.reset(); })
        .def("get_actions", [](Board& b) { return b.get_actions(); })
        .def("render",
             [](const Board& b) {
                 InterpreterPrint glyphs;
                 b.render(glyphs);
             })
        // The parser reads up to the first NUL, as from any C string.
        .def("parse_fen", [](Board& b, const std::string& text) { b.parse_fen(text.c_str()); })
        .def("step", [](Board& b, int32_t action) { return b.step(action); })
        .def("save_state", [](const Board& b) { return b.save_state(); })
        // Board::restore_state takes its own copy; the Python State is left as it is.
        .def("restore_state", [](Board& b, const State& state) { return b.restore_state(state); })
        .def("hash_state", [](const Board& b) { return b.hash_state(); })
        .def("roll_out", [](Board& b) { return b.roll_out(); });
}

}  // namespace ortolan::bindings
