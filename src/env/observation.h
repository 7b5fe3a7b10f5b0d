// The observation: eight recorded positions of 14 planes each, then 7 scalar planes.
//
//   planes 14e + 0..5    history slot e (0 newest): the side to move's P N B R Q K
//   planes 14e + 6..11   the other side's pieces
//   planes 14e + 12, 13  the slot's repetition planes, never swapped
//   plane 112            1 when Black is to move
//   plane 113            total_move_count
//   planes 114-117       castling rights K, Q, k, q
//   plane 118            no_progress_count
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "engine/bits.h"
#include "env/rules.h"

namespace ortolan {

inline constexpr int32_t history_capacity = 8;
inline constexpr int32_t record_planes = 14;
inline constexpr int32_t observation_planes = 119;

struct Observation {
    int32_t planes[observation_planes][64];
};

struct StepResult {
    int32_t side;
    Observation observation;
    int32_t reward;
    int32_t done;
};

// One recorded position: the pieces as four bit planes of codes, square s holding piece p when
// the bits of p + 1 are set at s across the four (an empty square has code 0), and the values
// that fill record planes 12 and 13.
struct HistoryRecord {
    Bitboard code_bits[4];
    int32_t repetitions[2];

    // The twelve piece bitboards: each code is two low bits and two high bits, and each pair
    // of bit planes gives the four sets of squares whose pair has each value.
    void pieces(Bitboard (&out)[12]) const {
        const Bitboard* c = code_bits;
        const Bitboard low[4] = {~c[0] & ~c[1], c[0] & ~c[1], ~c[0] & c[1], c[0] & c[1]};
        const Bitboard high[4] = {~c[2] & ~c[3], c[2] & ~c[3], ~c[2] & c[3], c[2] & c[3]};
        for (int32_t p = 0; p < 12; ++p) out[p] = low[(p + 1) & 3] & high[(p + 1) >> 2];
    }
};

// An observation value as the element type holds it: exact for int32_t and float, clipped
// to 0..255 for uint8_t.
template <class T>
constexpr T observation_value(int32_t value) {
    if constexpr (std::is_same_v<T, uint8_t>)
        return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
    else
        return static_cast<T>(value);
}

// The least and the greatest value a plane can hold under a rule set, exactly (as int32): the
// repetition planes and the no-progress counter count up from 0, the step counter too under
// the chess rule sets (the game's ply) while under rules_ortolan it counts every step of the
// Board's life and wraps around; every other plane is 0 or 1.
struct PlaneBounds {
    int32_t low, high;
};

constexpr PlaneBounds plane_bounds(int32_t plane, int32_t rules) {
    constexpr int32_t most = 2147483647;
    if (plane == 113) return {rules == rules_ortolan ? -most - 1 : 0, most};
    if (plane == 118 || (plane < 112 && plane % record_planes >= 12)) return {0, most};
    return {0, 1};
}

// Writes the observation `planes` (observation_planes * 64 values) as the other side sees the
// same position from its seat into `seen`, which must not overlap it: in every history slot the
// six planes of each side change places, plane 112 flips between 0 and 1, and every plane is
// turned half round (square s written at 63 - s); the repetition, counter and castling planes
// keep their values. Writing the result over again gives the observation back.
template <class T>
void write_other_seat(const T* planes, T* seen);

using NestedHistory = std::vector<std::vector<std::vector<int32_t>>>;

// The history ring's storage. Records made by record_position are kept as bitboards. A history
// assigned from nested lists keeps every value exactly: a record whose piece planes are not
// all 0 or 1, or whose repetition planes are not uniform, keeps its raw planes, and a history
// whose shape is not at most 8 records of 14 planes of 64 values is kept as given (it can be
// read back, but not played from).
class History {
public:
    History() = default;
    History(const History& other);
    History(History&& other) noexcept;
    History& operator=(const History& other);
    History& operator=(History&& other) noexcept;
    ~History();

    // Number of records; for an irregular history, the number of outer elements.
    int32_t size() const { return count_; }
    bool regular() const { return !extra_ || !extra_->irregular; }

    void clear();
    void append(const Bitboard (&pieces)[12], int32_t repetition_white, int32_t repetition_black,
                bool known_disjoint = false) {
        replace(count_++, pieces, repetition_white, repetition_black, known_disjoint);
    }
    // A position with two pieces on one square is kept in raw form, so every plane stays exact;
    // known_disjoint tells that the caller knows no square is in two of the bitboards, which
    // spares looking.
    void replace(int32_t index, const Bitboard (&pieces)[12], int32_t repetition_white,
                 int32_t repetition_black, bool known_disjoint = false);

    // Writes the 14 planes of a record of a regular history, 14 * 64 values: with swap_sides
    // the six planes of each colour change places, with turn 63 every plane is turned half
    // round (square s written at 63 - s), with turn 0 it is not.
    template <class T>
    void write_planes(int32_t index, bool swap_sides, int32_t turn, T* out) const;

    NestedHistory to_nested() const;
    void assign(const NestedHistory& nested);

    friend bool operator==(const History& a, const History& b);

private:
    struct Extra {
        bool irregular = false;
        std::vector<int32_t> raw;  // history_capacity * record_planes * 64 values
        NestedHistory nested;      // the whole history when irregular
    };

    void replace_raw(int32_t index, const int32_t* values);

    int32_t count_ = 0;
    uint8_t raw_mask_ = 0;  // bit i: record i is held in raw
    HistoryRecord records_[history_capacity]{};
    std::unique_ptr<Extra> extra_;
};

}  // namespace ortolan
