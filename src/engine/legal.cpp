// The legal moves of a position. Where the side to move has one king and the occupancies agree
// with the bitboards, they are found directly: the squares the enemy attacks once the king has
// left its square decide the king's moves and castling; the checkers narrow every other
// piece's targets to the checker and the squares between it and the king; a piece pinned
// between the king and an enemy slider keeps only the squares of that line; en passant is
// legal when the king is not attacked with the two pawns gone and the capturing one arrived.
// Any other position is judged by trial, as make_move would judge each generated move.
#include <type_traits>

#include "engine/attacks.h"
#include "engine/board.h"

namespace ortolan {

namespace {

// With filtered, only the moves of the kinds in the mask (bit k for piece kind k) onto the
// target squares are generated; the squares the enemy attacks are found only for the king's.
template <int32_t us, class Out, bool first_only, bool filtered = false>
class Generator {
public:
    Generator(const Board& board, Out* out) : board_(board), out_(out) {}
    Generator(const Board& board, Out* out, Bitboard targets, uint32_t kinds)
        : board_(board), out_(out), targets_(targets), kinds_(kinds) {}

    // The number of legal moves written to out, or with first_only 1 as soon as one is found.
    int32_t run();

private:
    static constexpr int32_t them = us ^ 1;
    static constexpr int32_t own = us == white ? 0 : 6;
    static constexpr int32_t foe = 6 - own;
    static constexpr Move capture_flag = encode_move(0, 0, 0, 0, 1, 0, 0, 0);
    static constexpr Bitboard last_row = row_mask(us == white ? 0 : 7);

    // Writes a move of the given action plane to out, the count-th: as it is, with its action
    // number, or into the plane words.
    static void put(Out* out, int32_t count, int32_t plane, int32_t source, Move move) {
        if constexpr (std::is_same_v<Out, Move>)
            out[count] = move;
        else if constexpr (std::is_same_v<Out, ActionPlanes>)
            out->add(plane, source, move);
        else
            out[count] = {plane * 64 + source, move};
    }
    void store(Move move) { put(out_, count_++, action_plane(move, us), move_source(move), move); }
    // Adds one move per target; with first_only, true when there is one. The plane words hold
    // no order, so for them the captures and the quiet moves go in two runs and no move asks
    // the enemy set; the lists keep each piece's targets in ascending order. The loop works on
    // copies of the members, which the stores of the moves could otherwise be taken to change.
    bool add(int32_t source, Bitboard targets, int32_t piece) {
        if constexpr (first_only) return targets != 0;
        const Move base = encode_move(source, 0, piece, 0, 0, 0, 0, 0);
        const int8_t* planes = plane_tables.plane[us][source];
        if constexpr (std::is_same_v<Out, ActionPlanes>) {
            count_ += out_->add_targets(source, planes, targets, enemy_, base);
        } else {
            Out* const out = out_;
            const Bitboard enemy = enemy_;
            int32_t count = count_;
            for (; targets; ++count) {
                const int32_t target = pop_lowest(targets);
                put(out, count, planes[target], source,
                    base | target << 6 | get_bit(enemy, target) << 20);
            }
            count_ = count;
        }
        return false;
    }
    // Adds the pawn moves to the targets, each from target - shift, with the given flags, in
    // ascending order of the targets: promotions give four, the other moves share the plane
    // of the group's one direction and distance.
    bool add_pawn_moves(Bitboard targets, int32_t shift, Move flags) {
        if constexpr (first_only) return targets != 0;
        if (!targets) return false;
        if constexpr (us == white) add_promotions(targets & last_row, shift, flags);
        const int32_t plane = plane_tables.plane[us][d4][d4 + shift];
        const Move base = encode_move(0, 0, own, 0, 0, 0, 0, 0) | flags;
        if constexpr (std::is_same_v<Out, ActionPlanes>) {
            count_ += out_->add_shifted(plane, targets & ~last_row, shift, base);
        } else {
            Out* const out = out_;
            int32_t count = count_;
            for (Bitboard b = targets & ~last_row; b; ++count) {
                const int32_t target = pop_lowest(b);
                const int32_t source = target - shift;
                put(out, count, plane, source, base | source | target << 6);
            }
            count_ = count;
        }
        if constexpr (us == black) add_promotions(targets & last_row, shift, flags);
        return false;
    }
    void add_promotions(Bitboard targets, int32_t shift, Move flags) {
        for (; targets;) {
            const int32_t target = pop_lowest(targets);
            const int32_t source = target - shift;
            for (int32_t kind : {piece::Q, piece::R, piece::B, piece::N})
                store(encode_move(source, target, own, own + kind, 0, 0, 0, 0) | flags);
        }
    }
    // The moves of a group of pawns onto the allowed squares.
    bool pawn_moves(Bitboard group, Bitboard allowed, Bitboard empty) {
        constexpr int32_t ahead = us == white ? -8 : 8;
        constexpr Move double_push = encode_move(0, 0, 0, 0, 0, 1, 0, 0);
        const Bitboard step = forward<us>(group) & empty;
        const Bitboard jump = forward<us>(step & row_mask(us == white ? 5 : 2)) & empty;
        return add_pawn_moves(step & allowed, ahead, 0) ||
               add_pawn_moves(jump & allowed, 2 * ahead, double_push) ||
               add_pawn_moves(forward<us>(group, -1) & enemy_ & allowed, ahead - 1, capture_flag) ||
               add_pawn_moves(forward<us>(group, 1) & enemy_ & allowed, ahead + 1, capture_flag);
    }
    // The moves of the pieces of one sliding kind, pinned ones along their line.
    template <int32_t kind>
    bool slider_moves(Bitboard all, Bitboard target_mask, Bitboard pinned) {
        for (Bitboard b = board_.bitboards[own + kind]; b;) {
            const int32_t source = pop_lowest(b);
            Bitboard targets = kind == piece::B   ? bishop_attacks(source, all)
                               : kind == piece::R ? rook_attacks(source, all)
                                                  : queen_attacks(source, all);
            targets &= target_mask;
            if (get_bit(pinned, source)) targets &= pin_line(source);
            if (add(source, targets, own + kind)) return true;
        }
        return false;
    }
    // The line of the pin that holds the piece on the square: the squares between the king
    // and the pinner, and the pinner's. Written only for the pinned squares, and read only
    // for them.
    Bitboard pin_line(int32_t square) const { return pin_line_[square]; }
    bool enpassant_is_legal(int32_t source, int32_t king) const;
    bool wanted(int32_t kind) const { return !filtered || (kinds_ >> kind & 1); }
    Bitboard targets() const { return filtered ? targets_ : ~Bitboard{0}; }

    const Board& board_;
    Out* out_;
    Bitboard targets_ = ~Bitboard{0};
    uint32_t kinds_ = ~0u;
    int32_t count_ = 0;
    Bitboard enemy_ = 0;
    Bitboard pin_line_[64];
};

template <int32_t us, class Out, bool first_only, bool filtered>
bool Generator<us, Out, first_only, filtered>::enpassant_is_legal(int32_t source,
                                                                  int32_t king) const {
    const Bitboard* pieces = board_.bitboards;
    const int32_t target = board_.enpassant;
    const Bitboard taken = square_bit(us == white ? target + 8 : target - 8) & pieces[foe];
    const Bitboard after =
        (board_.occupancies[both] ^ square_bit(source) ^ taken) | square_bit(target);
    return !((pawn_attack_table[us][king] & pieces[foe] & ~taken) |
             (knight_attack_table[king] & pieces[foe + piece::N]) |
             (king_attack_table[king] & pieces[foe + piece::K]) |
             (bishop_attacks(king, after) & (pieces[foe + piece::B] | pieces[foe + piece::Q])) |
             (rook_attacks(king, after) & (pieces[foe + piece::R] | pieces[foe + piece::Q])));
}

template <int32_t us, class Out, bool first_only, bool filtered>
int32_t Generator<us, Out, first_only, filtered>::run() {
    const Bitboard* pieces = board_.bitboards;
    const Bitboard king_bit = pieces[own + piece::K];
    const int32_t king = lowest_square(king_bit);
    const Bitboard all = board_.occupancies[both];
    const Bitboard mine = board_.occupancies[us];
    enemy_ = board_.occupancies[them];
    const Bitboard foe_diagonal = pieces[foe + piece::B] | pieces[foe + piece::Q];
    const Bitboard foe_straight = pieces[foe + piece::R] | pieces[foe + piece::Q];

    // The king first: the early answer is most often found there.
    const bool king_wanted = wanted(piece::K);
    Bitboard attacked = 0;
    if (king_wanted) {
        const Bitboard lifted = all & ~king_bit;
        attacked = forward<them>(pieces[foe], -1) | forward<them>(pieces[foe], 1);
        for (Bitboard b = pieces[foe + piece::N]; b;)
            attacked |= knight_attack_table[pop_lowest(b)];
        for (Bitboard b = foe_diagonal; b;) attacked |= bishop_attacks(pop_lowest(b), lifted);
        for (Bitboard b = foe_straight; b;) attacked |= rook_attacks(pop_lowest(b), lifted);
        for (Bitboard b = pieces[foe + piece::K]; b;) attacked |= king_attack_table[pop_lowest(b)];
        if (add(king, king_attack_table[king] & ~mine & ~attacked & targets(), own + piece::K))
            return 1;
    }

    // Targets open to the other pieces: in check only the checker and the squares between it
    // and the king, none at all in double check.
    Bitboard target_mask = ~mine;
    const bool check =
        king_wanted ? (attacked & king_bit) != 0 : board_.is_attacked_through(king, them, all);
    if (check) {
        const Bitboard checkers = (pawn_attack_table[us][king] & pieces[foe]) |
                                  (knight_attack_table[king] & pieces[foe + piece::N]) |
                                  (bishop_attacks(king, all) & foe_diagonal) |
                                  (rook_attacks(king, all) & foe_straight) |
                                  (king_attack_table[king] & pieces[foe + piece::K]);
        if (checkers & (checkers - 1)) return count_;
        target_mask = between_table[king][lowest_square(checkers)] | checkers;
    } else if (king_wanted && king == castling_rules[us][0].king_from) {
        for (const CastlingRule& rule : castling_rules[us]) {
            if ((board_.castle & rule.right) && !(all & rule.must_be_empty) &&
                get_bit(targets(), rule.king_to) && !get_bit(attacked, rule.passed) &&
                !get_bit(attacked, rule.king_to)) {
                if constexpr (first_only) return 1;
                store(rule.move);
            }
        }
    }

    if constexpr (filtered) {
        // An en passant capture's square may lie outside the targets of a check it answers.
        target_mask &= targets_;
        if (!(kinds_ & ~(1u << piece::K))) return count_;
    }

    // Pins: a piece of ours alone between the king and an enemy slider.
    Bitboard pinned = 0;
    for (Bitboard snipers =
             (rook_attacks(king, 0) & foe_straight) | (bishop_attacks(king, 0) & foe_diagonal);
         snipers;) {
        const int32_t sniper = pop_lowest(snipers);
        const Bitboard between = between_table[king][sniper] & all;
        if (between && !(between & (between - 1)) && (between & mine)) {
            pinned |= between;
            pin_line_[lowest_square(between)] = between_table[king][sniper] | square_bit(sniper);
        }
    }

    // Pawns that are not pinned, all at once, then each pinned one along its line.
    const Bitboard pawns = wanted(piece::P) ? pieces[own] : 0;
    if (pawn_moves(pawns & ~pinned, target_mask, ~all)) return 1;
    for (Bitboard b = pawns & pinned; b;) {
        const int32_t source = pop_lowest(b);
        if (pawn_moves(square_bit(source), target_mask & pin_line(source), ~all)) return 1;
    }

    // Knights (a pinned knight has no move), bishops, rooks and queens.
    for (Bitboard b = wanted(piece::N) ? pieces[own + piece::N] & ~pinned : 0; b;) {
        const int32_t source = pop_lowest(b);
        if (add(source, knight_attack_table[source] & target_mask, own + piece::N)) return 1;
    }
    if ((wanted(piece::B) && slider_moves<piece::B>(all, target_mask, pinned)) ||
        (wanted(piece::R) && slider_moves<piece::R>(all, target_mask, pinned)) ||
        (wanted(piece::Q) && slider_moves<piece::Q>(all, target_mask, pinned)))
        return 1;

    const int32_t target = board_.enpassant;
    if (target != no_square && !get_bit(all, target) && get_bit(targets(), target)) {
        for (Bitboard b = pawn_attack_table[them][target] & pawns; b;) {
            const int32_t source = pop_lowest(b);
            if (!enpassant_is_legal(source, king)) continue;
            if constexpr (first_only) return 1;
            store(encode_move(source, target, own, 0, 1, 0, 1, 0));
        }
    }
    return count_;
}

template <bool first_only, class Out>
int32_t generate_legal(const Board& board, Out* out) {
    return board.side == white ? Generator<white, Out, first_only>(board, out).run()
                               : Generator<black, Out, first_only>(board, out).run();
}

int32_t generate_filtered(const Board& board, Move* out, Bitboard targets, uint32_t kinds) {
    return board.side == white
               ? Generator<white, Move, false, true>(board, out, targets, kinds).run()
               : Generator<black, Move, false, true>(board, out, targets, kinds).run();
}

}  // namespace

int32_t Board::legal_moves(MoveList& list) {
    if (direct_generation_applies()) return list.count = generate_legal<false>(*this, list.moves);
    return legal_moves(list, ~Bitboard{0}, ~0u, false);
}

int32_t Board::legal_moves(MoveList& list, Bitboard targets, uint32_t kinds, bool direct) {
    if (direct) return list.count = generate_filtered(*this, list.moves, targets, kinds);
    // By trial: the generated moves of the kinds onto the targets, each played and taken back.
    generate_moves(list);
    int32_t kept = 0;
    for (int32_t i = 0; i < list.count; ++i) {
        const Move move = list.moves[i];
        if (get_bit(targets, move_target(move)) && (kinds >> (move_piece(move) % 6) & 1) &&
            try_move(move))
            list.moves[kept++] = move;
    }
    return list.count = kept;
}

int32_t Board::legal_actions(ActionMap::Entry* out) {
    if (direct_generation_applies()) return generate_legal<false>(*this, out);
    MoveList list;
    const int32_t count = legal_moves(list);
    for (int32_t i = 0; i < count; ++i)
        out[i] = {action_number(list.moves[i], side), list.moves[i]};
    return count;
}

int32_t Board::legal_actions(ActionPlanes& out, bool consistent) {
    out.clear();
    out.direct = consistent ? one_king_to_move() : direct_generation_applies();
    if (out.direct) return generate_legal<false>(*this, &out);
    // Two pieces on one square can give two moves of one action; the first stays, the one
    // that step finds in the ActionMap.
    MoveList list;
    int32_t count = 0;
    for (int32_t i = 0, n = legal_moves(list); i < n; ++i) {
        const Move move = list.moves[i];
        const int32_t plane = action_plane(move, side);
        if (get_bit(out.planes[plane], move_source(move))) continue;
        out.add(plane, move_source(move), move);
        ++count;
    }
    return count;
}

bool Board::has_legal_move() {
    if (direct_generation_applies()) return generate_legal<true, Move>(*this, nullptr) != 0;
    MoveList list;
    generate_moves(list);
    for (int32_t i = 0; i < list.count; ++i)
        if (try_move(list.moves[i])) return true;
    return false;
}

}  // namespace ortolan
