// Python class SearchCore: the batched tree search behind ortolan_vector.Search. The trees work
// with the interpreter lock released; the lock is held only to call the evaluator and to turn
// arrays into and out of Python objects.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/search.h"
#include "bindings/vector_bindings.h"
#include "extras/state.h"

namespace py = pybind11;

namespace ortolan::bindings {

namespace {

struct SearchCore {
    std::unique_ptr<Search> search;
    int32_t type = observation_uint8;
    int32_t rules = rules_ortolan;  // the rule set of every root
    bool busy = false;  // a call is under way; the evaluator must not re-enter the search
};

// Marks the search busy for the length of a call. Only touched with the lock held.
class BusyGuard {
public:
    explicit BusyGuard(SearchCore& core) : core_(core) {
        if (core.busy) throw std::runtime_error("the search is already running");
        core.busy = true;
    }
    ~BusyGuard() { core_.busy = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    SearchCore& core_;
};

// A game to search from: the snapshot as the start of a game under the rule set.
Board game_of(const py::handle& item, size_t index, int32_t rules) {
    if (!py::isinstance<State>(item))
        throw py::type_error("roots[" + std::to_string(index) + "] is not an ortolan.State");
    Board board;
    board.rules = rules;
    board.load_game(item.cast<const State&>());
    return board;
}

std::vector<Board> games_of(const py::sequence& states, int32_t rules) {
    std::vector<Board> games;
    games.reserve(states.size());
    for (size_t i = 0; i < states.size(); ++i) games.push_back(game_of(states[i], i, rules));
    return games;
}

py::tuple results(const Search& search) {
    const py::ssize_t n = search.size();
    py::array_t<int32_t> counts({n, static_cast<py::ssize_t>(action_count)});
    py::array_t<float> values(n);
    search.results(counts.mutable_data(), values.mutable_data());
    return py::make_tuple(counts, values);
}

std::string shape_text(const py::array& array) {
    std::string text = "(";
    for (py::ssize_t d = 0; d < array.ndim(); ++d)
        text += (d ? ", " : "") + std::to_string(array.shape(d));
    return text + (array.ndim() == 1 ? ",)" : ")");
}

// One part of the evaluator's answer as C-contiguous float32 (a copy unless it is one): a
// TypeError unless it is a floating-point array, a ValueError unless it has the shape expected.
py::array_t<float> answer_part(const py::handle& part, const char* name, py::ssize_t rows,
                               bool with_actions) {
    const py::array array = py::array::ensure(part);
    const bool shaped = array && array.ndim() == (with_actions ? 2 : 1) && array.shape(0) == rows &&
                        (!with_actions || array.shape(1) == action_count);
    const bool floating = array && array.dtype().kind() == 'f';
    if (!floating || !shaped) {
        std::string expected = "(" + std::to_string(rows) +
                               (with_actions ? ", " + std::to_string(action_count) + ")" : ",)");
        std::string got =
            array ? std::string(py::str(array.dtype())) + " array of shape " + shape_text(array)
                  : std::string(py::str(py::type::handle_of(part).attr("__name__")));
        const std::string text = std::string("evaluate must return ") + name +
                                 " as a floating-point array of shape " + expected + ", not " + got;
        if (!floating) throw py::type_error(text);
        throw py::value_error(text);
    }
    return py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(array);
}

// The Python callable as the search's evaluator. The search calls it with the interpreter lock
// released; each call takes the lock for as long as it deals with Python objects, and the
// object itself is made and dropped with the lock held.
class PythonEvaluator final : public Evaluator {
public:
    PythonEvaluator(int32_t type, const py::function& evaluate)
        : Evaluator(type), evaluate_(evaluate) {}

    LeafRows room(int32_t rows) override {
        py::gil_scoped_acquire locked;
        const py::ssize_t m = rows;
        observations_ =
            py::array(observation_dtype(observation_type()),
                      {m, py::ssize_t{observation_planes}, py::ssize_t{8}, py::ssize_t{8}});
        masks_ = py::array_t<bool>({m, static_cast<py::ssize_t>(action_count)});
        return {observations_.mutable_data(), masks_.mutable_data()};
    }

    LeafAnswer evaluate(int32_t rows) override {
        py::gil_scoped_acquire locked;
        const py::object answer = evaluate_(observations_, masks_);
        if (!py::isinstance<py::tuple>(answer) || py::len(answer) != 2)
            throw py::type_error("evaluate must return a pair (priors, values)");
        const py::tuple pair = answer;
        priors_ = answer_part(pair[0], "priors", rows, true);
        values_ = answer_part(pair[1], "values", rows, false);
        return {priors_.data(), values_.data()};
    }

private:
    py::function evaluate_;
    py::array observations_;
    py::array_t<bool> masks_;
    py::array_t<float> priors_, values_;
};

int64_t root_index(const SearchCore& core, const py::handle& root) {
    return whole_in(root, "root", 0, core.search->size() - 1);
}

}  // namespace

void bind_search(py::module_& m) {
    py::class_<SearchCore>(m, "SearchCore")
        .def(py::init([](const py::sequence& roots, int32_t simulations, float c_puct,
                         float dirichlet_alpha, float dirichlet_fraction, int32_t leaves_per_batch,
                         const py::handle& threads, int32_t type, uint64_t seed, int32_t rules) {
                 const int64_t pool = whole_setting(threads, "threads must be an int");
                 SearchSettings settings;
                 settings.simulations = simulations;
                 settings.c_puct = c_puct;
                 settings.dirichlet_alpha = dirichlet_alpha;
                 settings.dirichlet_fraction = dirichlet_fraction;
                 settings.leaves_per_batch = leaves_per_batch;
                 if (!known_rules(rules)) throw py::value_error("unknown rules");
                 const std::vector<Board> games = games_of(roots, rules);
                 auto core = std::make_unique<SearchCore>();
                 core->rules = rules;
                 core->search = std::make_unique<Search>(
                     settings, games.data(), static_cast<int32_t>(games.size()), seed, pool);
                 core->type = type;
                 return core;
             }),
             py::arg("roots"), py::arg("simulations"), py::arg("c_puct"),
             py::arg("dirichlet_alpha"), py::arg("dirichlet_fraction"), py::arg("leaves_per_batch"),
             py::arg("threads"), py::arg("dtype_code"), py::arg("seed"),
             py::arg("rules") = rules_ortolan)
        .def_property_readonly("num_roots", [](const SearchCore& c) { return c.search->size(); })
        .def("run",
             [](SearchCore& core, const py::function& evaluate, int32_t added, double seconds) {
                 BusyGuard busy(core);
                 PythonEvaluator evaluator(core.type, evaluate);
                 SignalCheck signals;
                 {
                     py::gil_scoped_release unlocked;
                     core.search->run(evaluator, &signals, added, seconds);
                 }
                 return results(*core.search);
             })
        .def("run_rollouts",
             [](SearchCore& core, int32_t added, double seconds) {
                 BusyGuard busy(core);
                 SignalCheck signals;
                 {
                     py::gil_scoped_release unlocked;
                     core.search->start_run(added, seconds);
                     core.search->run_rollouts(&signals);
                 }
                 return results(*core.search);
             })
        .def("principal_variation",
             [](SearchCore& core, const py::handle& root, const py::handle& length) {
                 const int64_t index = root_index(core, root);
                 const auto room = static_cast<int32_t>(whole_in(length, "length", 0, 4096));
                 BusyGuard busy(core);
                 std::vector<Move> line(static_cast<size_t>(room));
                 line.resize(static_cast<size_t>(core.search->tree(static_cast<int32_t>(index))
                                                     .principal_line(line.data(), room)));
                 return line;
             })
        .def("proven_mate",
             [](SearchCore& core, const py::handle& root) {
                 const int64_t index = root_index(core, root);
                 BusyGuard busy(core);
                 return core.search->tree(static_cast<int32_t>(index)).proven_mate();
             })
        .def(
            "advance",
            [](SearchCore& core,
               const py::array_t<int32_t, py::array::c_style | py::array::forcecast>& actions,
               const std::optional<py::array_t<bool, py::array::c_style>>& keep) {
                BusyGuard busy(core);
                const py::ssize_t n = core.search->size();
                if (actions.ndim() != 1 || actions.shape(0) != n ||
                    (keep && (keep->ndim() != 1 || keep->shape(0) != n)))
                    throw py::value_error("actions and keep must have shape (" + std::to_string(n) +
                                          ",)");
                core.search->advance(
                    actions.data(),
                    keep ? reinterpret_cast<const uint8_t*>(keep->data()) : nullptr);
            },
            py::arg("actions"), py::arg("keep") = py::none())
        .def("reset_roots",
             [](SearchCore& core, const py::sequence& indices, const py::sequence& roots) {
                 BusyGuard busy(core);
                 const std::vector<Board> games = games_of(roots, core.rules);
                 std::vector<int32_t> which;
                 for (const py::handle& index : indices) which.push_back(index.cast<int32_t>());
                 core.search->reset_roots(which.data(), games.data(),
                                          static_cast<int32_t>(which.size()));
             });
}

}  // namespace ortolan::bindings
