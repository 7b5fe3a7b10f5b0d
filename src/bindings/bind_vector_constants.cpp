// The constants of the compiled core that the Python packages read: the shapes, the codes of
// the observation types, autoreset modes and rule sets, the bounds of the planes and the move of
// each action plane.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>

#include "batch/vector_ortolan.h"
#include "bindings/vector_bindings.h"

namespace py = pybind11;

namespace ortolan::bindings {

void bind_constants(py::module_& m) {
    m.attr("OBSERVATION_SHAPE") = py::make_tuple(observation_planes, 8, 8);
    m.attr("ACTION_COUNT") = action_count;
    py::dict types;
    for (const int32_t type : {observation_uint8, observation_float32, observation_int32})
        types[observation_dtype(type).attr("name")] = type;
    m.attr("OBSERVATION_TYPES") = types;
    py::dict modes;
    modes["next_step"] = autoreset_next_step;
    modes["same_step"] = autoreset_same_step;
    modes["disabled"] = autoreset_disabled;
    m.attr("AUTORESET_MODES") = modes;
    py::dict rules;
    rules["ortolan"] = rules_ortolan;
    rules["standard"] = rules_standard;
    rules["fide"] = rules_fide;
    m.attr("RULES") = rules;

    py::array_t<int8_t> moves({py::ssize_t{2}, py::ssize_t{action_planes}, py::ssize_t{3}});
    int8_t* move = moves.mutable_data();
    for (int32_t side = 0; side < 2; ++side) {
        for (int32_t plane = 0; plane < action_planes; ++plane) {
            const PlaneMove made = plane_move(plane, side);
            *move++ = made.rows;
            *move++ = made.files;
            *move++ = made.underpromotion;
        }
    }
    moves.attr("flags").attr("writeable") = false;
    m.attr("PLANE_MOVES") = moves;

    m.def(
        "plane_bounds",
        [](int32_t type, int32_t rule_set) {
            if (!known_observation_type(type)) throw py::value_error("unknown observation type");
            if (!known_rules(rule_set)) throw py::value_error("unknown rules");
            const py::dtype dtype = observation_dtype(type);
            py::array low(dtype, py::array::ShapeContainer{observation_planes});
            py::array high(dtype, py::array::ShapeContainer{observation_planes});
            write_plane_bounds(type, rule_set, low.mutable_data(), high.mutable_data());
            return py::make_tuple(low, high);
        },
        py::arg("observation_type"), py::arg("rules"));
}

}  // namespace ortolan::bindings
