// SAN text to a move, chosen among the legal moves of the position: the text gives the kind of
// piece, the target square, what it promotes to and as much of the source square as it needs;
// exactly one legal move must fit. Only the legal moves of that kind onto that square are
// generated.
#include "pgn/reader.h"

namespace ortolan::pgn {

namespace {

constexpr bool is_file(char c) { return c >= 'a' && c <= 'h'; }
constexpr bool is_rank(char c) { return c >= '1' && c <= '8'; }

int32_t kind_of_letter(char c) {
    switch (c) {
        case 'N':
            return piece::N;
        case 'B':
            return piece::B;
        case 'R':
            return piece::R;
        case 'Q':
            return piece::Q;
        case 'K':
            return piece::K;
        default:
            return -1;
    }
}

constexpr int32_t square_at(char file, char rank) { return (file - 'a') + (8 - (rank - '0')) * 8; }

bool is_uci(std::string_view t) {
    return (t.size() == 4 ||
            (t.size() == 5 && (t[4] == 'q' || t[4] == 'r' || t[4] == 'b' || t[4] == 'n'))) &&
           is_file(t[0]) && is_rank(t[1]) && is_file(t[2]) && is_rank(t[3]);
}

}  // namespace

SanStatus decode_san(Board& board, bool direct, std::string_view text, MoveList& scratch,
                     Move& out) {
    std::string_view t = text;
    while (!t.empty() && (t.back() == '+' || t.back() == '#')) t.remove_suffix(1);
    if (t == "--" || t == "Z0" || t == "0000" || t == "@@@@") return san_null;
    if (t.empty()) return san_unreadable;

    int32_t kind = -1, target = -1, promoted = 0, from_file = -1, from_rank = -1;
    int32_t castle_side = -1;  // 0 king side, 1 queen side
    if (t == "O-O" || t == "0-0") {
        castle_side = 0;
    } else if (t == "O-O-O" || t == "0-0-0") {
        castle_side = 1;
    } else {
        if (is_uci(t)) return san_uci;
        size_t i = 0;
        kind = kind_of_letter(t[0]);
        if (kind >= 0) {
            ++i;
        } else {
            kind = piece::P;
        }
        // Promotion at the end: =Q or Q.
        if (kind == piece::P && t.size() >= 2) {
            const int32_t promo = kind_of_letter(t.back());
            if (promo > 0 && promo != piece::K) {
                promoted = promo;
                t.remove_suffix(1);
                if (!t.empty() && t.back() == '=') t.remove_suffix(1);
            }
        }
        if (t.size() < i + 2 || !is_file(t[t.size() - 2]) || !is_rank(t.back()))
            return san_unreadable;
        target = square_at(t[t.size() - 2], t.back());
        // The source, as much of it as is given: a file, a rank or a square, then x, : or the
        // - of long algebraic text (e2-e4, Ng1-f3), which python-chess reads too.
        std::string_view middle = t.substr(i, t.size() - 2 - i);
        if (!middle.empty() &&
            (middle.back() == 'x' || middle.back() == ':' || middle.back() == '-'))
            middle.remove_suffix(1);
        if (middle.size() > 2) return san_unreadable;
        for (const char c : middle) {
            if (is_file(c) && from_file < 0 && from_rank < 0) {
                from_file = c - 'a';
            } else if (is_rank(c) && from_rank < 0 && (kind != piece::P || from_file >= 0)) {
                from_rank = 8 - (c - '0');
            } else {
                return san_unreadable;
            }
        }
        // A pawn names its file when it captures and only then.
        if (kind == piece::P && from_file < 0) from_file = target & 7;
    }

    // Only the moves of the piece's kind onto the target square are generated; castling is
    // among the king's, onto its square on the side's first row.
    if (castle_side >= 0) {
        kind = piece::K;
        target = (board.side == white ? 56 : 0) + (castle_side == 0 ? 6 : 2);
    }
    const int32_t count = board.legal_moves(scratch, square_bit(target), 1u << kind, direct);
    int32_t found = 0;
    for (int32_t n = 0; n < count; ++n) {
        const Move m = scratch.moves[n];
        if (move_castling(m) != (castle_side >= 0)) continue;
        if (castle_side < 0) {
            if (move_promoted(m) % 6 != promoted % 6 || (move_promoted(m) == 0) != (promoted == 0))
                continue;
            const int32_t source = move_source(m);
            if (from_file >= 0 && (source & 7) != from_file) continue;
            if (from_rank >= 0 && (source >> 3) != from_rank) continue;
        }
        out = m;
        ++found;
    }
    if (found == 0) return san_illegal;
    return found == 1 ? san_ok : san_ambiguous;
}

}  // namespace ortolan::pgn
