#include "batch/slot.h"

#include <algorithm>
#include <cstring>

namespace ortolan::slot {

int32_t refresh_legal(Board& board) {
    // The plane words list the actions in ascending order; two pieces on one square (a
    // snapshot's overlapping bitboards) can give two moves of one action, and the words keep
    // the first, the one Board::step plays.
    ActionPlanes legal;
    const int32_t count = board.legal_actions(legal, false);
    board.ActionMap.assign(legal);
    return count;
}

const Move* find_legal(const Board& board, int32_t action) {
    const auto found =
        std::lower_bound(board.ActionMap.begin(), board.ActionMap.end(), action,
                         [](const ActionMap::Entry& e, int32_t value) { return e.first < value; });
    return found != board.ActionMap.end() && found->first == action ? &found->second : nullptr;
}

void write_mask(const Board& board, uint8_t* out) {
    std::memset(out, 0, action_count);
    for (const ActionMap::Entry& e : board.ActionMap) out[e.first] = 1;
}

}  // namespace ortolan::slot
