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
#include <vector>

#include "engine/bits.h"

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

// The piece planes of a recorded position: piece + 1 per square, two squares a byte (low
// nibble for the even square), 0 for an empty square.
struct PackedSquares {
    uint8_t codes[32];
};

// Packs twelve piece bitboards; a square set in two of them gets the OR of their codes.
PackedSquares pack_squares(const Bitboard (&pieces)[12]);

// One recorded position in compact form: record planes 0..11 as the piece bitboards, and the
// values that fill record planes 12 and 13.
struct HistoryRecord {
    Bitboard pieces[12];
    int32_t repetitions[2];
};

using NestedHistory = std::vector<std::vector<std::vector<int32_t>>>;

// The history ring's storage. Records made by record_position are kept compactly, as one piece
// code per square (a position never holds two pieces on one square). A history
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
    void append(const PackedSquares& squares, int32_t repetition_white, int32_t repetition_black);
    void replace(int32_t index, const PackedSquares& squares, int32_t repetition_white,
                 int32_t repetition_black) {
        records_[index] = {squares, {repetition_white, repetition_black}};
        raw_mask_ &= static_cast<uint8_t>(~(1u << index));
    }

    // Writes the 14 planes of a record of a regular history; with swap_sides the six planes
    // of each colour change places.
    void write_planes(int32_t index, bool swap_sides, int32_t (*out)[64]) const;

    NestedHistory to_nested() const;
    void assign(const NestedHistory& nested);

    friend bool operator==(const History& a, const History& b);

private:
    // Piece + 1 per square, two squares a byte (0 for an empty square), and the values of the
    // two repetition planes.
    struct PackedRecord {
        PackedSquares squares;
        int32_t repetitions[2];
    };

    struct Extra {
        bool irregular = false;
        std::vector<int32_t> raw;  // history_capacity * record_planes * 64 values
        NestedHistory nested;      // the whole history when irregular
    };

    static PackedRecord pack(const HistoryRecord& record);

    int32_t count_ = 0;
    uint8_t raw_mask_ = 0;  // bit i: record i is held in raw
    PackedRecord records_[history_capacity]{};
    std::unique_ptr<Extra> extra_;
};

}  // namespace ortolan
