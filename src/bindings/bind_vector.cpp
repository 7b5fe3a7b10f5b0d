// Python class VectorCore: the batched environment of ortolan_vector, and other_seat, which
// turns its observations to the other side's seat. Arrays come in already shaped by the
// package's Python layer and are checked here again, so that no call can write outside them;
// the settings come in unchecked, their types checked here and their ranges by VectorOrtolan.
// The interpreter lock is released while the pool works.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "batch/vector_ortolan.h"
#include "bindings/vector_bindings.h"

namespace py = pybind11;

namespace ortolan::bindings {

namespace {

// One VectorOrtolan and the lock that serves its callers one at a time. The lock is taken
// with the interpreter lock released, so a caller waiting for it never blocks the interpreter.
struct VectorCore {
    VectorCore(int64_t num_envs, int64_t threads, int32_t observation_type, int32_t autoreset,
               std::optional<int64_t> max_plies, int32_t rules)
        : env(num_envs, threads, observation_type, autoreset, max_plies, rules) {}
    VectorOrtolan env;
    std::mutex mutex;
};

class Exclusive {
public:
    explicit Exclusive(VectorCore& core) : lock_(core.mutex, std::defer_lock) {
        if (!lock_.try_lock()) {
            py::gil_scoped_release released;
            lock_.lock();
        }
    }

private:
    std::unique_lock<std::mutex> lock_;
};

// The data of an array that has exactly the dtype and shape given, C-contiguous and
// writeable. Anything else names what was expected: a TypeError for an object that is not an
// array or has another dtype, a ValueError for another shape, layout or a read-only array.
void* array_data(const py::handle& value, const char* name, const py::dtype& dtype,
                 std::initializer_list<py::ssize_t> shape, bool writeable = true) {
    auto expected = [&] {
        std::string text = std::string(name) + " must be a C-contiguous";
        if (writeable) text += " writeable";
        text += " numpy array of dtype " + dtype.attr("name").cast<std::string>() + " and shape (";
        size_t n = 0;
        for (py::ssize_t extent : shape) text += (n++ ? ", " : "") + std::to_string(extent);
        return text + (shape.size() == 1 ? ",)" : ")");
    };
    if (!py::isinstance<py::array>(value)) throw py::type_error(expected());
    const auto array = py::reinterpret_borrow<py::array>(value);
    if (!array.dtype().equal(dtype)) throw py::type_error(expected());
    bool ok = array.ndim() == static_cast<py::ssize_t>(shape.size());
    ok = ok && (array.flags() & py::array::c_style) && (!writeable || array.writeable());
    size_t axis = 0;
    for (py::ssize_t extent : shape) ok = ok && array.shape(axis++) == extent;
    if (!ok) throw py::value_error(expected());
    return const_cast<void*>(array.data());
}

BatchOutput batch_output(const VectorCore& core, const py::handle& observation,
                         const py::handle& mask) {
    const py::ssize_t n = core.env.num_envs();
    return {array_data(observation, "observation", observation_dtype(core.env.observation_type()),
                       {n, observation_planes, 8, 8}),
            static_cast<uint8_t*>(
                array_data(mask, "action_mask", py::dtype::of<bool>(), {n, action_count}))};
}

void reset(VectorCore& core, const py::handle& observation, const py::handle& mask,
           const py::object& selected, const py::object& fens) {
    const int32_t n = core.env.num_envs();
    const BatchOutput out = batch_output(core, observation, mask);
    const uint8_t* chosen = nullptr;
    if (!selected.is_none())
        chosen = static_cast<const uint8_t*>(
            array_data(selected, "reset_mask", py::dtype::of<bool>(), {n}, false));
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
    if (!fens.is_none()) {
        const char* expected = "fens must be a sequence of num_envs entries, each a str or None";
        if (!py::isinstance<py::sequence>(fens) || py::isinstance<py::str>(fens))
            throw py::type_error(expected);
        if (py::len(fens) != static_cast<size_t>(n)) throw py::value_error(expected);
        const auto entries = py::reinterpret_borrow<py::sequence>(fens);
        texts.resize(static_cast<size_t>(n));
        pointers.assign(static_cast<size_t>(n), nullptr);
        for (int32_t i = 0; i < n; ++i) {
            const py::object entry = entries[static_cast<size_t>(i)];
            if (entry.is_none()) continue;
            if (!py::isinstance<py::str>(entry)) throw py::type_error(expected);
            texts[i] = entry.cast<std::string>();
            pointers[i] = texts[i].c_str();
        }
    }
    Exclusive exclusive(core);
    py::gil_scoped_release released;
    core.env.reset(chosen, pointers.empty() ? nullptr : pointers.data(), out);
}

void step(VectorCore& core, const py::handle& actions, const py::handle& observation,
          const py::handle& mask, const py::handle& rewards, const py::handle& terminated,
          const py::handle& truncated, const py::handle& to_play) {
    const py::ssize_t n = core.env.num_envs();
    const auto* values = static_cast<const int32_t*>(
        array_data(actions, "actions", py::dtype::of<int32_t>(), {n}, false));
    const StepOutput out{
        batch_output(core, observation, mask),
        static_cast<float*>(array_data(rewards, "rewards", py::dtype::of<float>(), {n})),
        static_cast<uint8_t*>(array_data(terminated, "terminations", py::dtype::of<bool>(), {n})),
        static_cast<uint8_t*>(array_data(truncated, "truncations", py::dtype::of<bool>(), {n})),
        static_cast<int8_t*>(array_data(to_play, "to_play", py::dtype::of<int8_t>(), {n}))};
    Exclusive exclusive(core);
    int32_t refused;
    {
        py::gil_scoped_release released;
        refused = core.env.step(values, out);
    }
    if (!refused) return;
    std::string text = "illegal action";
    text += refused > 1 ? "s" : "";
    text += " (nothing was played):";
    const char* separator = " ";
    for (int32_t i = 0; i < n; ++i) {
        if (!core.env.refused(i)) continue;
        text += separator + std::string("slot ") + std::to_string(i) + " action " +
                std::to_string(values[i]);
        separator = ", ";
    }
    throw py::value_error(text);
}

void reset_ended(VectorCore& core, const py::handle& observation, const py::handle& mask) {
    const BatchOutput out = batch_output(core, observation, mask);
    Exclusive exclusive(core);
    py::gil_scoped_release released;
    core.env.reset_ended(out);
}

py::tuple legal_actions(VectorCore& core) {
    Exclusive exclusive(core);
    const py::ssize_t n = core.env.num_envs();
    const int32_t width = core.env.legal_width();
    py::array_t<int32_t> actions({n, static_cast<py::ssize_t>(width)});
    py::array_t<int32_t> counts(n);
    int32_t* actions_data = actions.mutable_data();
    int32_t* counts_data = counts.mutable_data();
    {
        py::gil_scoped_release released;
        core.env.legal_actions(width, actions_data, counts_data);
    }
    return py::make_tuple(std::move(actions), std::move(counts));
}

py::array_t<int32_t> roll_out(VectorCore& core) {
    Exclusive exclusive(core);
    py::array_t<int32_t> results(core.env.num_envs());
    int32_t* data = results.mutable_data();
    SignalCheck signals;
    py::gil_scoped_release released;
    core.env.roll_out(data, &signals);
    return results;
}

int32_t checked_slot(const VectorCore& core, int64_t slot) {
    if (slot < 0 || slot >= core.env.num_envs())
        throw py::index_error("slot " + std::to_string(slot) + " is out of range for " +
                              std::to_string(core.env.num_envs()) + " slots");
    return static_cast<int32_t>(slot);
}

State save_state(VectorCore& core, int64_t slot) {
    Exclusive exclusive(core);
    return core.env.save_state(checked_slot(core, slot));
}

std::vector<State> save_states(VectorCore& core) {
    Exclusive exclusive(core);
    std::vector<State> states(static_cast<size_t>(core.env.num_envs()));
    py::gil_scoped_release released;
    core.env.save_states(states.data());
    return states;
}

void restore_state(VectorCore& core, int64_t slot, const State& state,
                   const py::handle& observation, const py::handle& mask) {
    const int32_t i = checked_slot(core, slot);
    void* obs =
        array_data(observation, "observation", observation_dtype(core.env.observation_type()),
                   {observation_planes, 8, 8});
    auto* legal = static_cast<uint8_t*>(
        array_data(mask, "action_mask", py::dtype::of<bool>(), {action_count}));
    Exclusive exclusive(core);
    core.env.restore_state(i, state, obs, legal);
}

void restore_states(VectorCore& core, const std::vector<const State*>& states,
                    const py::handle& observation, const py::handle& mask) {
    if (states.size() != static_cast<size_t>(core.env.num_envs()))
        throw py::value_error("states must hold one State per slot");
    for (const State* state : states)
        if (!state) throw py::type_error("states must hold ortolan.State objects, not None");
    const BatchOutput out = batch_output(core, observation, mask);
    Exclusive exclusive(core);
    py::gil_scoped_release released;
    core.env.restore_states(states.data(), out);
}

py::array_t<bool> draw_claimable(VectorCore& core) {
    Exclusive exclusive(core);
    py::array_t<bool> claimable(core.env.num_envs());
    auto* data = reinterpret_cast<uint8_t*>(claimable.mutable_data());
    py::gil_scoped_release released;
    core.env.draw_claimable(data);
    return claimable;
}

// (steps, games, games_before, games_after, played, plies): VectorOrtolan::steps and the
// arrays of VectorOrtolan::progress.
py::tuple progress(VectorCore& core) {
    Exclusive exclusive(core);
    const py::ssize_t n = core.env.num_envs();
    py::array_t<uint32_t> games(n), before(n), after(n);
    py::array_t<int32_t> played(n), plies(n);
    core.env.progress(games.mutable_data(), before.mutable_data(), after.mutable_data(),
                      played.mutable_data(), plies.mutable_data());
    return py::make_tuple(core.env.steps(), games, before, after, played, plies);
}

void observe(VectorCore& core, const py::handle& observation, const py::handle& mask) {
    const BatchOutput out = batch_output(core, observation, mask);
    Exclusive exclusive(core);
    py::gil_scoped_release released;
    core.env.observe(out);
}

// The observations, one (119, 8, 8) array or a batch (N, 119, 8, 8) of an observation dtype, as
// the other side sees them from its seat, in a new array of the same dtype and shape.
py::array other_seat(const py::handle& observation) {
    const char* expected =
        "observation must be a numpy array of dtype uint8, float32 or int32 and shape "
        "(119, 8, 8) or (N, 119, 8, 8)";
    if (!py::isinstance<py::array>(observation)) throw py::type_error(expected);
    const auto given = py::reinterpret_borrow<py::array>(observation);
    int32_t type = -1;
    for (const int32_t t : {observation_uint8, observation_float32, observation_int32})
        if (given.dtype().equal(observation_dtype(t))) type = t;
    if (type < 0) throw py::type_error(expected);
    const py::ssize_t ndim = given.ndim();
    const py::ssize_t tail[3] = {observation_planes, 8, 8};
    bool shaped = ndim == 3 || ndim == 4;
    for (py::ssize_t k = 0; shaped && k < 3; ++k) shaped = given.shape(ndim - 3 + k) == tail[k];
    if (!shaped) throw py::value_error(expected);
    const py::array planes = py::array::ensure(given, py::array::c_style);
    py::array seen(given.dtype(), std::vector<py::ssize_t>(given.shape(), given.shape() + ndim));
    const py::ssize_t rows = ndim == 4 ? given.shape(0) : 1;
    with_observation_type(type, [&](auto zero) {
        using T = decltype(zero);
        const T* from = static_cast<const T*>(planes.data());
        T* to = static_cast<T*>(seen.mutable_data());
        py::gil_scoped_release released;
        for (py::ssize_t row = 0; row < rows; ++row)
            write_other_seat(from + row * observation_size, to + row * observation_size);
    });
    return seen;
}

}  // namespace

void bind_vector(py::module_& m) {
    m.def("other_seat", &other_seat, py::arg("observation"));
    py::class_<VectorCore>(m, "VectorCore")
        .def(py::init([](const py::handle& num_envs, const py::handle& threads,
                         int32_t observation_type, int32_t autoreset, const py::handle& max_plies,
                         int32_t rules) {
                 const int64_t slots = whole_setting(num_envs, "num_envs must be an int");
                 const int64_t pool = whole_setting(threads, "threads must be an int or None");
                 std::optional<int64_t> plies;
                 if (!max_plies.is_none())
                     plies = whole_setting(max_plies, "max_plies must be an int or None");
                 return std::make_unique<VectorCore>(slots, pool, observation_type, autoreset,
                                                     plies, rules);
             }),
             py::arg("num_envs"), py::arg("threads"), py::arg("observation_type"),
             py::arg("autoreset"), py::arg("max_plies"), py::arg("rules") = rules_ortolan)
        .def_property_readonly("num_envs", [](const VectorCore& c) { return c.env.num_envs(); })
        .def_property_readonly("threads", [](const VectorCore& c) { return c.env.threads(); })
        .def_property_readonly("rules", [](const VectorCore& c) { return c.env.rules(); })
        .def("seed",
             [](VectorCore& core, uint64_t seed) {
                 Exclusive exclusive(core);
                 core.env.seed(seed);
             })
        .def("reset", &reset, py::arg("observation"), py::arg("action_mask"), py::arg("reset_mask"),
             py::arg("fens"))
        .def("step", &step, py::arg("actions"), py::arg("observation"), py::arg("action_mask"),
             py::arg("rewards"), py::arg("terminations"), py::arg("truncations"),
             py::arg("to_play"))
        .def("reset_ended", &reset_ended, py::arg("observation"), py::arg("action_mask"))
        .def("legal_actions", &legal_actions)
        .def("roll_out", &roll_out)
        .def("save_state", &save_state, py::arg("slot"))
        .def("save_states", &save_states)
        .def("restore_state", &restore_state, py::arg("slot"), py::arg("state"),
             py::arg("observation"), py::arg("action_mask"))
        .def("restore_states", &restore_states, py::arg("states"), py::arg("observation"),
             py::arg("action_mask"))
        .def("progress", &progress)
        .def("observe", &observe, py::arg("observation"), py::arg("action_mask"))
        .def("draw_claimable", &draw_claimable);
}

}  // namespace ortolan::bindings
