#include "batch/slot.h"

#include <algorithm>
#include <cstring>

namespace ortolan::slot {

int32_t refresh_legal(Board& board) {
    ActionMap::Entry legal[max_moves];
    const int32_t count = board.legal_actions(legal);
    // Ascending order by one bit per action number, plane by plane; the Move of each action
    // is parked at its number (the slots not set are never read). Two pieces on one square (a
    // snapshot's overlapping bitboards) can give two moves of one action: the first stays,
    // the one Board::step plays.
    Bitboard planes[action_planes];
    Bitboard used[2] = {0, 0};  // the planes that hold an action
    Move moves[action_count];
    for (int32_t i = 0; i < count; ++i) {
        const int32_t action = legal[i].first;
        const int32_t plane = action >> 6;
        const Bitboard bit = Bitboard{1} << (plane & 63);
        if (!(used[plane >> 6] & bit)) planes[plane] = 0;
        used[plane >> 6] |= bit;
        if (planes[plane] & square_bit(action & 63)) continue;
        planes[plane] |= square_bit(action & 63);
        moves[action] = legal[i].second;
    }
    int32_t n = 0;
    for (int32_t word = 0; word < 2; ++word) {
        for (Bitboard left = used[word]; left;) {
            const int32_t plane = word * 64 + pop_lowest(left);
            for (Bitboard sources = planes[plane]; sources;) {
                const int32_t action = plane * 64 + pop_lowest(sources);
                legal[n++] = {action, moves[action]};
            }
        }
    }
    board.ActionMap.assign(legal, n);
    return n;
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
