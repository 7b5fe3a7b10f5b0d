// Python class State: the snapshot record with its thirteen properties and its text form.
// Getters build new Python objects; setters take a whole converted value, so a value that
// does not convert leaves the field as it was.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/typing.h>

#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "bindings/bindings.h"
#include "extras/state.h"

namespace py = pybind11;

namespace ortolan::bindings {

namespace {

using IntDict = py::typing::Dict<py::int_, py::int_>;

// A new one-dimensional uint64 array that owns a copy of the values.
template <size_t count>
py::array_t<uint64_t> to_array(const Bitboard (&values)[count]) {
    py::array_t<uint64_t> array(static_cast<py::ssize_t>(count));
    std::memcpy(array.mutable_data(), values, sizeof values);
    return array;
}

NestedHistory history_list(const State& state) { return state.state_history.to_nested(); }

// History::assign keeps any shape exactly, so a value read back equals the value assigned.
void set_history(State& state, const NestedHistory& history) {
    state.state_history.assign(history);
}

IntDict repetition_dict(const State& state) {
    py::dict d;
    state.repetition_count.for_each(
        [&](uint64_t key, int32_t value) { d[py::int_(key)] = py::int_(value); });
    return d;
}

void set_repetition_count(State& state, const std::unordered_map<uint64_t, int32_t>& entries) {
    RepetitionMap map;
    map.reserve(entries.size());
    for (const auto& [key, value] : entries) map[key] = value;
    state.repetition_count = std::move(map);
}

IntDict move_index_dict(const State& state) {
    py::dict d;
    for (const auto& [action, move] : state.move_index) d[py::int_(action)] = py::int_(move);
    return d;
}

void set_move_index(State& state, const std::unordered_map<int32_t, int32_t>& entries) {
    ActionMap map;
    for (const auto& [action, move] : entries) map.insert(action, move);
    state.move_index = std::move(map);
}

py::array_t<uint64_t> bitboards_array(const State& state) { return to_array(state.bitboards); }

py::array_t<uint64_t> occupancies_array(const State& state) { return to_array(state.occupancies); }

}  // namespace

void bind_state(py::module_& m) {
    py::class_<State> cls(m, "State");
    // Accessors given as plain functions, marked as methods so that their signatures name
    // `self` like those of the field accessors.
    const auto method = [&cls](auto f) { return py::cpp_function(f, py::is_method(cls)); };
    cls.def(py::init<>())
        .def_readonly("side", &State::side)
        .def_readonly("enpassant", &State::enpassant)
        .def_readonly("castle", &State::castle)
        .def_property("state_history", method(&history_list), method(&set_history))
        .def_readwrite("state_pos", &State::state_pos)
        .def_readwrite("total_move_count", &State::total_move_count)
        .def_readwrite("no_progress_count", &State::no_progress_count)
        .def_property("repetition_count", method(&repetition_dict), method(&set_repetition_count))
        .def_property("move_index", method(&move_index_dict), method(&set_move_index))
        .def_readwrite("n_repititions", &State::n_repititions)
        .def_readwrite("prev_n_repititions", &State::prev_n_repititions)
        .def_property_readonly("bitboards", method(&bitboards_array))
        .def_property_readonly("occupancies", method(&occupancies_array))
        .def("__repr__", &state_text);
}

}  // namespace ortolan::bindings
