// Storage of the history ring, compact for the records the engine makes, exact for whatever
// a snapshot brings in from outside.
#include <algorithm>
#include <cstring>

#include "env/observation.h"

namespace ortolan {

namespace {

constexpr size_t record_values = record_planes * 64;

// The code bit planes of twelve piece bitboards that share no square.
void encode(const Bitboard (&pieces)[12], HistoryRecord& out) {
    const Bitboard* b = pieces;
    out.code_bits[0] = b[0] | b[2] | b[4] | b[6] | b[8] | b[10];  // codes 1, 3, 5, 7, 9, 11
    out.code_bits[1] = b[1] | b[2] | b[5] | b[6] | b[9] | b[10];  // 2, 3, 6, 7, 10, 11
    out.code_bits[2] = b[3] | b[4] | b[5] | b[6] | b[11];         // 4, 5, 6, 7, 12
    out.code_bits[3] = b[7] | b[8] | b[9] | b[10] | b[11];        // 8 to 12
}

bool disjoint(const Bitboard (&pieces)[12]) {
    Bitboard seen = 0;
    Bitboard overlap = 0;
    for (const Bitboard b : pieces) {
        overlap |= seen & b;
        seen |= b;
    }
    return !overlap;
}

// The code bit planes of twelve piece bitboards; false when two of them share a square.
bool slice(const Bitboard (&pieces)[12], HistoryRecord& out) {
    encode(pieces, out);
    return disjoint(pieces);
}

// A record in compact form when its planes allow it: piece planes of 0 and 1 only, no square
// in two of them, and uniform repetition planes.
bool compact(const std::vector<std::vector<int32_t>>& planes, HistoryRecord& out) {
    Bitboard pieces[12];
    for (int32_t p = 0; p < 12; ++p) {
        Bitboard b = 0;
        for (int32_t s = 0; s < 64; ++s) {
            const int32_t v = planes[p][s];
            if (v != 0 && v != 1) return false;
            if (v) set_bit(b, s);
        }
        pieces[p] = b;
    }
    if (!slice(pieces, out)) return false;
    for (int32_t p = 12; p < 14; ++p) {
        for (int32_t s = 1; s < 64; ++s)
            if (planes[p][s] != planes[p][0]) return false;
        out.repetitions[p - 12] = planes[p][0];
    }
    return true;
}

bool regular_shape(const NestedHistory& nested) {
    if (nested.size() > history_capacity) return false;
    for (const auto& record : nested) {
        if (record.size() != record_planes) return false;
        for (const auto& plane : record)
            if (plane.size() != 64) return false;
    }
    return true;
}

}  // namespace

History::History(const History& other)
    : count_(other.count_),
      raw_mask_(other.raw_mask_),
      extra_(other.extra_ ? std::make_unique<Extra>(*other.extra_) : nullptr) {
    std::memcpy(records_, other.records_, sizeof records_);
}

History::History(History&& other) noexcept
    : count_(other.count_), raw_mask_(other.raw_mask_), extra_(std::move(other.extra_)) {
    std::memcpy(records_, other.records_, sizeof records_);
    other.count_ = 0;
    other.raw_mask_ = 0;
}

History& History::operator=(const History& other) {
    if (this == &other) return *this;
    if (other.extra_) return *this = History(other);
    // Records alone: copied in place, with no temporary.
    count_ = other.count_;
    raw_mask_ = other.raw_mask_;
    std::memcpy(records_, other.records_, sizeof records_);
    extra_.reset();
    return *this;
}

History& History::operator=(History&& other) noexcept {
    if (this != &other) {
        count_ = other.count_;
        raw_mask_ = other.raw_mask_;
        std::memcpy(records_, other.records_, sizeof records_);
        extra_ = std::move(other.extra_);
        other.count_ = 0;
        other.raw_mask_ = 0;
    }
    return *this;
}

History::~History() = default;

void History::clear() {
    count_ = 0;
    raw_mask_ = 0;
    extra_.reset();
}

void History::replace(int32_t index, const Bitboard (&pieces)[12], int32_t repetition_white,
                      int32_t repetition_black, bool known_disjoint) {
    HistoryRecord& record = records_[index];
    if (known_disjoint || disjoint(pieces)) {
        encode(pieces, record);
        record.repetitions[0] = repetition_white;
        record.repetitions[1] = repetition_black;
        raw_mask_ &= static_cast<uint8_t>(~(1u << index));
        return;
    }
    int32_t values[record_values];
    for (int32_t p = 0; p < 12; ++p)
        for (int32_t s = 0; s < 64; ++s) values[p * 64 + s] = get_bit(pieces[p], s);
    std::fill_n(values + 12 * 64, 64, repetition_white);
    std::fill_n(values + 13 * 64, 64, repetition_black);
    replace_raw(index, values);
}

void History::replace_raw(int32_t index, const int32_t* values) {
    if (!extra_) extra_ = std::make_unique<Extra>();
    if (extra_->raw.empty()) extra_->raw.assign(history_capacity * record_values, 0);
    std::memcpy(extra_->raw.data() + index * record_values, values,
                record_values * sizeof(int32_t));
    raw_mask_ |= static_cast<uint8_t>(1u << index);
}

template <class T>
void History::write_planes(int32_t index, bool swap_sides, int32_t turn, T* out) const {
    const int32_t colour_offset = swap_sides ? 6 : 0;
    if (raw_mask_ & (1u << index)) {
        const int32_t* raw = extra_->raw.data() + index * record_values;
        for (int32_t p = 0; p < record_planes; ++p) {
            const int32_t* plane = raw + (p < 12 ? (p + colour_offset) % 12 : p) * 64;
            for (int32_t s = 0; s < 64; ++s)
                out[p * 64 + (s ^ turn)] = observation_value<T>(plane[s]);
        }
        return;
    }
    const HistoryRecord& record = records_[index];
    Bitboard pieces[12];
    record.pieces(pieces);
    auto write = [turn](Bitboard squares, T* plane) {
        std::fill_n(plane, 64, T{0});
        for (Bitboard b = squares; b;) plane[pop_lowest(b) ^ turn] = T{1};
    };
    for (int32_t p = 0; p < 6; ++p) {
        write(pieces[p + colour_offset], out + p * 64);
        write(pieces[p + 6 - colour_offset], out + (p + 6) * 64);
    }
    for (int32_t p = 12; p < record_planes; ++p)
        std::fill_n(out + p * 64, 64, observation_value<T>(record.repetitions[p - 12]));
}

template void History::write_planes(int32_t, bool, int32_t, int32_t*) const;
template void History::write_planes(int32_t, bool, int32_t, uint8_t*) const;
template void History::write_planes(int32_t, bool, int32_t, float*) const;

NestedHistory History::to_nested() const {
    if (!regular()) return extra_->nested;
    NestedHistory nested(count_, std::vector<std::vector<int32_t>>(record_planes));
    int32_t planes[record_planes][64];
    for (int32_t i = 0; i < count_; ++i) {
        write_planes(i, false, 0, &planes[0][0]);
        for (int32_t p = 0; p < record_planes; ++p) nested[i][p].assign(planes[p], planes[p] + 64);
    }
    return nested;
}

void History::assign(const NestedHistory& nested) {
    History result;
    if (!regular_shape(nested)) {
        result.count_ = static_cast<int32_t>(nested.size());
        result.extra_ = std::make_unique<Extra>();
        result.extra_->irregular = true;
        result.extra_->nested = nested;
        *this = std::move(result);
        return;
    }
    for (const auto& planes : nested) {
        const int32_t index = result.count_++;
        HistoryRecord record;
        if (compact(planes, record)) {
            result.records_[index] = record;
            continue;
        }
        int32_t values[record_values];
        for (int32_t p = 0; p < record_planes; ++p)
            std::memcpy(values + p * 64, planes[p].data(), 64 * sizeof(int32_t));
        result.replace_raw(index, values);
    }
    *this = std::move(result);
}

bool operator==(const History& a, const History& b) { return a.to_nested() == b.to_nested(); }

}  // namespace ortolan
