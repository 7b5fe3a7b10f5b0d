#include "batch/slot.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace ortolan::slot {

int32_t refresh_legal(Board& board) {
    ActionMap::Entry legal[max_moves];
    const int32_t count = board.legal_actions(legal);
    std::sort(legal, legal + count, [](const ActionMap::Entry& a, const ActionMap::Entry& b) {
        return a.first < b.first;
    });
    board.ActionMap.assign(legal, count);
    return count;
}

const Move* find_legal(const Board& board, int32_t action) {
    const auto found =
        std::lower_bound(board.ActionMap.begin(), board.ActionMap.end(), action,
                         [](const ActionMap::Entry& e, int32_t value) { return e.first < value; });
    return found != board.ActionMap.end() && found->first == action ? &found->second : nullptr;
}

void advance(Board& board, Move move) {
    board.just_reset = 0;
    board.make_move(move);
    board.record_position();
    board.total_move_count =
        static_cast<int32_t>(static_cast<uint32_t>(board.total_move_count) + 1u);
}

Outcome outcome(const Board& board, int32_t legal_count) {
    if (legal_count == 0) return {1, board.terminal_reward()};
    if (board.n_repititions == 2 || board.no_progress_count >= 50) return {1, 0};
    return {0, 0};
}

void reset_from_fen(Board& board, const char* fen) {
    board.just_reset = 1;
    board.state_history.clear();
    board.repetition_count.clear();
    board.state_pos = 0;
    board.parse_fen(fen);
    board.record_position();
    if (board.side == black) board.just_reset = 0;
}

template <class T>
void write_observation(const Board& board, Observation& scratch, T* out) {
    board.build_observation(scratch);
    const int32_t* values = &scratch.planes[0][0];
    constexpr int32_t count = observation_planes * 64;
    if constexpr (std::is_same_v<T, int32_t>) {
        std::memcpy(out, values, sizeof scratch.planes);
    } else if constexpr (std::is_same_v<T, uint8_t>) {
        for (int32_t i = 0; i < count; ++i)
            out[i] = static_cast<uint8_t>(std::clamp(values[i], 0, 255));
    } else {
        for (int32_t i = 0; i < count; ++i) out[i] = static_cast<T>(values[i]);
    }
}

template void write_observation<int32_t>(const Board&, Observation&, int32_t*);
template void write_observation<uint8_t>(const Board&, Observation&, uint8_t*);
template void write_observation<float>(const Board&, Observation&, float*);

void write_mask(const Board& board, uint8_t* out) {
    std::memset(out, 0, action_count);
    for (const ActionMap::Entry& e : board.ActionMap) out[e.first] = 1;
}

}  // namespace ortolan::slot
