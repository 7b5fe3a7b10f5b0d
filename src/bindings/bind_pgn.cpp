// Python classes PgnReader, PgnStarts and PgnBatchCore and the function fen_problem: the PGN
// reader and the batches of positions drawn from it. Text comes in as buffers of bytes; the
// interpreter lock is released while it is read.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "batch/pgn_batches.h"
#include "batch/vector_ortolan.h"
#include "bindings/vector_bindings.h"
#include "pgn/reader.h"

namespace py = pybind11;

namespace ortolan::bindings {

namespace {

// Text from a game file, which need not be valid UTF-8.
py::str text(const std::string& value) {
    PyObject* s =
        PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "replace");
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

// (kind, number, line, tags, fen, actions, result, ending, ending_ply, skip_line, token, reason)
py::tuple entry_tuple(const pgn::Entry& e) {
    py::dict tags;
    for (const pgn::Tag& t : e.tags) tags[text(t.name)] = text(t.value);
    py::array_t<int32_t> actions(static_cast<py::ssize_t>(e.actions.size()));
    std::copy(e.actions.begin(), e.actions.end(), actions.mutable_data());
    return py::make_tuple(e.kind, e.number, e.line, tags,
                          e.fen.empty() ? py::object(py::none()) : text(e.fen), actions,
                          text(e.result),
                          e.ending == pgn::ending_none ? py::object(py::none())
                                                       : py::str(pgn::ending_names[e.ending]),
                          e.ending_ply, e.skip_line, text(e.token), text(e.reason));
}

// The bytes of a buffer, read while the caller keeps it alive.
std::string_view bytes_of(const py::buffer& data) {
    const py::buffer_info info = data.request();
    if (info.itemsize != 1 || info.ndim != 1 || (info.ndim == 1 && info.strides[0] != 1))
        throw py::value_error("a contiguous buffer of bytes is needed");
    return {static_cast<const char*>(info.ptr), static_cast<size_t>(info.size)};
}

// A lock taken with the interpreter lock released, so that a caller waiting for it never
// blocks the interpreter.
template <class T>
struct Locked {
    template <class... Args>
    explicit Locked(Args&&... args) : value(std::forward<Args>(args)...) {}
    T value;
    std::mutex mutex;
    std::unique_lock<std::mutex> lock() {
        std::unique_lock<std::mutex> held(mutex, std::defer_lock);
        if (!held.try_lock()) {
            py::gil_scoped_release released;
            held.lock();
        }
        return held;
    }
};

struct ReaderCore {
    explicit ReaderCore(int32_t rules) : reader(pgn::Options{rules, nullptr}) {}
    pgn::Reader reader;
    int64_t count = 0;
};
using LockedReader = Locked<ReaderCore>;

py::list numbered(ReaderCore& core, std::vector<pgn::Entry>& entries) {
    py::list out;
    for (pgn::Entry& e : entries) {
        e.number = ++core.count;
        out.append(entry_tuple(e));
    }
    return out;
}

py::list reader_feed(LockedReader& self, const py::buffer& data) {
    const std::string_view bytes = bytes_of(data);
    const auto held = self.lock();
    std::vector<pgn::Entry> entries;
    {
        py::gil_scoped_release released;
        self.value.reader.feed(bytes.data(), bytes.size(), entries);
    }
    return numbered(self.value, entries);
}

py::list reader_finish(LockedReader& self) {
    const auto held = self.lock();
    std::vector<pgn::Entry> entries;
    {
        py::gil_scoped_release released;
        self.value.reader.finish(entries);
    }
    return numbered(self.value, entries);
}

using LockedBatches = Locked<PgnBatches>;

// The threads of a PgnBatches: an int (True counting as 1) from 1 to 2^31 - 1, or a ValueError.
int32_t batch_threads(const py::handle& threads) {
    int overflow = 1;
    const long long count =
        PyLong_Check(threads.ptr()) ? PyLong_AsLongLongAndOverflow(threads.ptr(), &overflow) : 0;
    if (overflow || count < 1 || count > 2147483647)
        throw py::value_error("threads must be a positive int or None, not " +
                              py::repr(threads).cast<std::string>());
    return static_cast<int32_t>(count);
}

PgnBatchSettings batch_settings(int32_t threads, int32_t observation_type, int32_t rules,
                                int32_t min_elo, uint32_t time_classes,
                                std::vector<std::string> terminations, bool unfinished,
                                int32_t skip_plies, int32_t every, int64_t shuffle, uint64_t seed) {
    PgnBatchSettings s;
    s.threads = threads;
    s.observation_type = observation_type;
    s.read.rules = rules;
    s.filter.min_elo = min_elo;
    s.filter.time_classes = time_classes;
    s.filter.terminations = std::move(terminations);
    s.filter.unfinished = unfinished;
    s.skip_plies = skip_plies;
    s.every = every;
    s.shuffle = shuffle;
    s.seed = seed;
    return s;
}

template <class T>
T* column(const py::handle& value, const char* name, py::ssize_t rows) {
    auto array = py::reinterpret_borrow<py::array>(value);
    if (!py::isinstance<py::array_t<T>>(value) || array.ndim() != 1 || array.shape(0) < rows ||
        !(array.flags() & py::array::c_style) || !array.writeable())
        throw py::value_error(std::string(name) + " must be a writeable C-contiguous array");
    return static_cast<T*>(array.mutable_data());
}

int64_t batches_next(LockedBatches& self, int64_t rows, const py::array& observation,
                     const py::object& mask, const py::handle& action, const py::handle& outcome,
                     const py::handle& ply, const py::handle& game) {
    static const py::dtype types[] = {py::dtype::of<uint8_t>(), py::dtype::of<float>(),
                                      py::dtype::of<int32_t>()};
    const auto& settings_type = types[self.value.observation_type()];
    if (!observation.dtype().equal(settings_type) || observation.ndim() != 4 ||
        observation.shape(0) < rows || observation.shape(1) != 119 || observation.shape(2) != 8 ||
        observation.shape(3) != 8 || !(observation.flags() & py::array::c_style) ||
        !observation.writeable())
        throw py::value_error("observation must be a writeable (rows, 119, 8, 8) array");
    uint8_t* mask_data = nullptr;
    if (!mask.is_none()) {
        auto m = py::reinterpret_borrow<py::array>(mask);
        if (!m.dtype().equal(py::dtype::of<bool>()) || m.ndim() != 2 || m.shape(0) < rows ||
            m.shape(1) != action_count || !(m.flags() & py::array::c_style) || !m.writeable())
            throw py::value_error("action_mask must be a writeable (rows, 4672) bool array");
        mask_data = static_cast<uint8_t*>(m.mutable_data());
    }
    const PgnBatchOutput out{
        const_cast<void*>(observation.data()),   mask_data,
        column<int32_t>(action, "action", rows), column<float>(outcome, "outcome", rows),
        column<int32_t>(ply, "ply", rows),       column<int64_t>(game, "game", rows)};
    const auto held = self.lock();
    py::gil_scoped_release released;
    return self.value.next(rows, out);
}

}  // namespace

void bind_pgn(py::module_& m) {
    m.def("fen_problem", [](const std::string& fen) {
        const char* fault =
            fen.find('\0') == std::string::npos ? fen_fault(fen.c_str()) : "a NUL character";
        return std::string(fault ? fault : "");
    });

    py::class_<LockedReader>(m, "PgnReader")
        .def(py::init<int32_t>(), py::arg("rules"))
        .def("feed", &reader_feed, py::arg("data"))
        .def("finish", &reader_finish);

    py::class_<pgn::GameStarts>(m, "PgnStarts")
        .def(py::init<>())
        .def("restart", &pgn::GameStarts::restart, py::arg("at_line_start"))
        .def(
            "next",
            [](pgn::GameStarts& self, const py::buffer& data, size_t start) {
                const std::string_view bytes = bytes_of(data);
                if (start > bytes.size()) throw py::value_error("start beyond the data");
                return self.next(bytes.data(), bytes.size(), start);
            },
            py::arg("data"), py::arg("start"))
        .def_property_readonly("line", &pgn::GameStarts::line);

    py::class_<LockedBatches>(m, "PgnBatchCore")
        .def(py::init([](const py::handle& threads, int32_t observation_type, int32_t rules,
                         int32_t min_elo, uint32_t time_classes,
                         std::vector<std::string> terminations, bool unfinished, int32_t skip_plies,
                         int32_t every, int64_t shuffle, uint64_t seed) {
                 return new LockedBatches(batch_settings(
                     batch_threads(threads), observation_type, rules, min_elo, time_classes,
                     std::move(terminations), unfinished, skip_plies, every, shuffle, seed));
             }),
             py::arg("threads"), py::arg("observation_type"), py::arg("rules"), py::arg("min_elo"),
             py::arg("time_classes"), py::arg("terminations"), py::arg("unfinished"),
             py::arg("skip_plies"), py::arg("every"), py::arg("shuffle"), py::arg("seed"))
        .def(
            "feed",
            [](LockedBatches& self, const py::buffer& data) {
                const std::string_view bytes = bytes_of(data);
                const auto held = self.lock();
                py::gil_scoped_release released;
                self.value.feed(bytes.data(), bytes.size());
            },
            py::arg("data"))
        .def("finish",
             [](LockedBatches& self) {
                 const auto held = self.lock();
                 py::gil_scoped_release released;
                 self.value.finish();
             })
        .def("available", [](LockedBatches& self) { return self.value.available(); })
        .def(
            "set_line",
            [](LockedBatches& self, int64_t line) {
                const auto held = self.lock();
                self.value.set_line(line);
            },
            py::arg("line"))
        .def("next", &batches_next, py::arg("rows"), py::arg("observation"), py::arg("action_mask"),
             py::arg("action"), py::arg("outcome"), py::arg("ply"), py::arg("game"))
        .def_property_readonly("games", [](LockedBatches& self) { return self.value.games(); })
        .def_property_readonly("filtered",
                               [](LockedBatches& self) { return self.value.filtered(); })
        .def("skipped", [](LockedBatches& self) {
            py::list out;
            for (const pgn::Entry& e : self.value.skipped()) out.append(entry_tuple(e));
            return out;
        });
}

}  // namespace ortolan::bindings
