#include "batch/slot.h"

#include <algorithm>
#include <cstring>

namespace ortolan::slot {

int32_t refresh_legal(Board& board) {
    ActionMap::Entry legal[max_moves];
    const int32_t count = board.legal_actions(legal);
    // Sorted as single integers, action number above the move, then written back in order.
    uint64_t keys[max_moves];
    for (int32_t i = 0; i < count; ++i)
        keys[i] =
            static_cast<uint64_t>(legal[i].first) << 32 | static_cast<uint32_t>(legal[i].second);
    std::sort(keys, keys + count);
    for (int32_t i = 0; i < count; ++i)
        legal[i] = {static_cast<int32_t>(keys[i] >> 32),
                    static_cast<Move>(static_cast<uint32_t>(keys[i]))};
    board.ActionMap.assign(legal, count);
    return count;
}

const Move* find_legal(const Board& board, int32_t action) {
    const auto found =
        std::lower_bound(board.ActionMap.begin(), board.ActionMap.end(), action,
                         [](const ActionMap::Entry& e, int32_t value) { return e.first < value; });
    return found != board.ActionMap.end() && found->first == action ? &found->second : nullptr;
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

void write_mask(const Board& board, uint8_t* out) {
    std::memset(out, 0, action_count);
    for (const ActionMap::Entry& e : board.ActionMap) out[e.first] = 1;
}

}  // namespace ortolan::slot
