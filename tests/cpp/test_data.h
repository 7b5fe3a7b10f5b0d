// The positions of tests/data/positions.txt, which the Python tests read too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace ortolan::test_data {

// One record: its kind ("perft" or "key"), name, FEN and numbers (the counts by depth, or
// the key).
struct DataPosition {
    std::string name;
    std::string fen;
    std::vector<uint64_t> values;

    friend std::ostream& operator<<(std::ostream& out, const DataPosition& p) {
        return out << p.name << " (" << p.fen << ")";
    }
};

inline std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    const size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The records of one kind, in file order; none when the file cannot be read.
inline std::vector<DataPosition> data_positions(const std::string& kind) {
    const auto path =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "positions.txt";
    std::ifstream in(path);
    std::vector<DataPosition> positions;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        for (size_t start = 0;;) {
            const size_t bar = line.find(" | ", start);
            fields.push_back(trimmed(line.substr(start, bar - start)));
            if (bar == std::string::npos) break;
            start = bar + 3;
        }
        if (fields.size() != 4 || fields[0] != kind) continue;
        DataPosition p{fields[1], fields[2], {}};
        std::istringstream numbers(fields[3]);
        if (kind == "key") numbers >> std::hex;
        for (uint64_t n; numbers >> n;) p.values.push_back(n);
        positions.push_back(p);
    }
    return positions;
}

// Test names from the record names.
struct DataName {
    template <class Info>
    std::string operator()(const Info& info) const {
        return info.param.name;
    }
};

}  // namespace ortolan::test_data
