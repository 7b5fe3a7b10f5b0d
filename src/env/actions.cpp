// Numbering legal moves as actions, and the legality mask.
#include "env/actions.h"

#include <algorithm>
#include <cstring>

#include "engine/board.h"

namespace ortolan {

namespace {

// White's direction code by the signs of the row and file change; -1 for no change.
// Black's code is White's for the opposite direction.
// clang-format off
constexpr int32_t white_direction[3][3] = {
    // file -   0   +
    {       0,  1,  2},  // row -
    {       7, -1,  3},  // row 0
    {       6,  5,  4},  // row +
};
// clang-format on

constexpr int32_t sign(int32_t x) { return (x > 0) - (x < 0); }
constexpr int32_t magnitude(int32_t x) { return x < 0 ? -x : x; }

constexpr int32_t direction_of(int32_t source, int32_t target, int32_t side) {
    const int32_t dr = sign(row_of(target) - row_of(source));
    const int32_t df = sign(file_of(target) - file_of(source));
    const int32_t code = white_direction[dr + 1][df + 1];
    if (code < 0 || side == white) return code;
    return (code + 4) & 7;
}

constexpr int32_t distance_of(int32_t source, int32_t target) {
    const int32_t dr = magnitude(row_of(target) - row_of(source));
    const int32_t df = magnitude(file_of(target) - file_of(source));
    return dr > df ? dr : df;
}

// Knight planes by source - target: the same for both sides.
constexpr int32_t knight_offsets[8] = {17, 15, 6, -10, -17, -15, -6, 10};

constexpr PlaneTables make_plane_tables() {
    PlaneTables t{};
    for (int32_t side = 0; side < 2; ++side) {
        for (int32_t source = 0; source < 64; ++source) {
            for (int32_t target = 0; target < 64; ++target) {
                const int32_t dr = magnitude(row_of(target) - row_of(source));
                const int32_t df = magnitude(file_of(target) - file_of(source));
                int32_t plane =
                    direction_of(source, target, side) * 7 + distance_of(source, target) - 1;
                if (dr * df == 2)
                    for (int32_t i = 0; i < 8; ++i)
                        if (knight_offsets[i] == source - target) plane = 56 + i;
                if (source != target) t.plane[side][source][target] = static_cast<int8_t>(plane);
            }
        }
    }
    return t;
}

}  // namespace

constexpr PlaneTables plane_tables = make_plane_tables();

PlaneMove plane_move(int32_t plane, int32_t side) {
    // An under-promotion plane moves as the one-square move of its direction.
    const int32_t kind = plane >= 64 ? (plane - 64) % 3 : -1;
    const int32_t moved = plane >= 64 ? (plane - 64) / 3 * 7 : plane;
    for (int32_t source = 0; source < 64; ++source) {
        for (int32_t target = 0; target < 64; ++target) {
            const int32_t dr = row_of(target) - row_of(source);
            const int32_t df = file_of(target) - file_of(source);
            const bool line = dr == 0 || df == 0 || magnitude(dr) == magnitude(df);
            const bool jump = magnitude(dr * df) == 2;
            if (source != target && (line || jump) &&
                plane_tables.plane[side][source][target] == moved)
                return {static_cast<int8_t>(dr), static_cast<int8_t>(df),
                        static_cast<int8_t>(kind)};
        }
    }
    return {0, 0, -1};
}

bool operator==(const ActionMap& a, const ActionMap& b) {
    if (a.size() != b.size()) return false;
    for (const ActionMap::Entry& e : a) {
        const Move* m = b.find(e.first);
        if (!m || *m != e.second) return false;
    }
    return true;
}

std::pair<int32_t, int32_t> Board::move_direction(int32_t source, int32_t target) const {
    if (source == target) return {-1, -1};
    return {distance_of(source, target), direction_of(source, target, side)};
}

void Board::rebuild_action_map() {
    ActionMap::Entry legal[max_moves];
    ActionMap.assign(legal, legal_actions(legal));
}

ActionMask Board::get_actions() {
    ActionMask mask{};
    rebuild_action_map();
    for (const ActionMap::Entry& e : ActionMap) mask.planes[e.first / 64][e.first % 64] = 1;
    return mask;
}

void ActionMap::assign(const ActionPlanes& legal) {
    Entry entries[max_moves];
    int32_t count = 0;
    // Most planes of a position are empty: eight plane counts are read at once, and a group
    // with none is passed over.
    for (int32_t group = 0; group < action_planes; group += 8) {
        uint64_t eight;
        std::memcpy(&eight, legal.counts + group, sizeof eight);
        if (!eight) continue;
        for (int32_t plane = group; plane < std::min(group + 8, action_planes); ++plane) {
            for (uint64_t word = legal.planes[plane]; word;) {
                const int32_t source = pop_lowest(word);
                entries[count++] = {plane * 64 + source, legal.moves[source][plane]};
            }
        }
    }
    assign(entries, count);
}

}  // namespace ortolan
