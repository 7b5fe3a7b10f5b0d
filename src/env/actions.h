// Action numbers: plane * 64 + source square, with 73 planes.
//
//   planes  0-55  straight and diagonal moves: direction * 7 + distance - 1, where the
//                 direction 0..7 counts from the mover's seat (0 forward-left, 1 forward,
//                 2 forward-right, 3 right, 4 backward-right, 5 backward, 6 backward-left,
//                 7 left); pawn steps, castling and queen promotions are numbered here too
//   planes 56-63  knight moves by source - target: +17 +15 +6 -10 -17 -15 -6 +10
//   planes 64-72  promotions to knight, bishop or rook: 64 + direction * 3 + kind
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/bits.h"
#include "engine/movegen.h"

namespace ortolan {

inline constexpr int32_t action_planes = 73;
inline constexpr int32_t action_count = action_planes * 64;

// mask.planes[plane][square] is 1 when action plane * 64 + square is legal. Squares are board
// squares for both sides: the mask is never turned round for Black.
struct ActionMask {
    int32_t planes[action_planes][64];
};

struct ActionPlanes;

// Action number to Move for the legal moves of the position get_actions last saw. Keys are
// unique; a map restored from a snapshot may hold any integers.
class ActionMap {
public:
    // A plain pair that a local array of them leaves uninitialised.
    struct Entry {
        int32_t first;
        Move second;
    };

    void clear() { entries_.clear(); }
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // The caller guarantees that the key is not present yet.
    void insert(int32_t action, Move move) { entries_.push_back({action, move}); }

    // Replaces the contents by count entries with distinct keys.
    void assign(const Entry* entries, int32_t count) { entries_.assign(entries, entries + count); }
    // Replaces the contents by the actions of the plane words, in ascending order.
    void assign(const ActionPlanes& legal);

    const Move* find(int32_t action) const {
        for (const Entry& e : entries_)
            if (e.first == action) return &e.second;
        return nullptr;
    }

    std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<Entry>::const_iterator end() const { return entries_.end(); }

    friend bool operator==(const ActionMap& a, const ActionMap& b);

private:
    std::vector<Entry> entries_;
};

// The legal actions of a position by plane: one word per plane whose bits are the source
// squares, the number of actions on each plane, and the move of each action, valid only where
// its bit is set. A random draw finds the k-th smallest action from the counts and the words
// without sorting, and reads its move without a search. The moves are kept by source square,
// then plane, so that the moves of one piece go to one row.
struct ActionPlanes {
    uint64_t planes[action_planes];
    uint8_t counts[80];  // counts past the last plane stay zero, for reading eight at a time
    Move moves[64][action_planes];
    bool direct;  // whether the position was judged directly, without trial moves

    // The words are cleared 64 bytes at a time in straight-line stores; one memset of them
    // all becomes a string instruction that steps word by word.
    void clear() {
#pragma GCC unroll 9
        for (int32_t i = 0; i < 72; i += 8) std::memset(planes + i, 0, 8 * sizeof planes[0]);
        planes[72] = 0;
        std::memset(counts, 0, sizeof counts);
    }
    void add(int32_t plane, int32_t source, Move move) {
        planes[plane] |= uint64_t{1} << source;
        ++counts[plane];
        moves[source][plane] = move;
    }
    // The moves base | target << 6 of one piece, for each target, with the capture flag for
    // the targets in enemy; plane_of gives the plane of each target. Returns their number.
    // The captures and the quiet moves go in two runs, so that no move tests the enemy set.
    int32_t add_targets(int32_t source, const int8_t* plane_of, Bitboard targets, Bitboard enemy,
                        Move base) {
        const uint64_t bit = uint64_t{1} << source;
        Move* const row = moves[source];
        const Move capture = base | encode_move(0, 0, 0, 0, 1, 0, 0, 0);
        int32_t added = 0;
        for (Bitboard run = targets & enemy; run; ++added) {
            const int32_t target = pop_lowest(run);
            const int32_t plane = plane_of[target];
            planes[plane] |= bit;
            ++counts[plane];
            row[plane] = capture | target << 6;
        }
        for (Bitboard run = targets & ~enemy; run; ++added) {
            const int32_t target = pop_lowest(run);
            const int32_t plane = plane_of[target];
            planes[plane] |= bit;
            ++counts[plane];
            row[plane] = base | target << 6;
        }
        return added;
    }
    // The moves base | source | target << 6 of one plane, from source = target - shift for
    // each target; the plane word takes all the sources at once. Returns their number.
    int32_t add_shifted(int32_t plane, Bitboard targets, int32_t shift, Move base) {
        planes[plane] |= shift > 0 ? targets >> shift : targets << -shift;
        int32_t added = 0;
        for (; targets; ++added) {
            const int32_t target = pop_lowest(targets);
            const int32_t source = target - shift;
            moves[source][plane] = base | source | target << 6;
        }
        counts[plane] = static_cast<uint8_t>(counts[plane] + added);
        return added;
    }
    Move move(int32_t action) const { return moves[action & 63][action >> 6]; }
};

// The plane of a move that is no under-promotion, by side, source and target: the knight
// plane for a knight's jump, direction * 7 + distance - 1 for squares on one rank, file or
// diagonal; meaningless for other pairs.
struct PlaneTables {
    int8_t plane[2][64][64];
};

extern const PlaneTables plane_tables;

// Plane of a move that is a knight move, a promotion or a straight or diagonal move, for the
// given side to move. Queen promotions share the pawn's one-square move plane; the other
// promotions have planes of their own, by direction and kind: knight 0, bishop 1, rook 2.
inline int32_t action_plane(Move move, int32_t side) {
    const int32_t plane = plane_tables.plane[side][move_source(move)][move_target(move)];
    const int32_t kind = move_promoted(move) % 6;
    if (kind && kind != piece::Q) return 64 + plane / 7 * 3 + kind - 1;
    return plane;
}

// The move of each plane as its side to move makes it: the change of row and of file (row 0
// is rank 8), and the kind of an under-promotion (0 knight, 1 bishop, 2 rook; -1 for a plane
// of no under-promotion).
struct PlaneMove {
    int8_t rows, files, underpromotion;
};
PlaneMove plane_move(int32_t plane, int32_t side);

inline int32_t action_number(Move move, int32_t side) {
    return action_plane(move, side) * 64 + move_source(move);
}

}  // namespace ortolan
