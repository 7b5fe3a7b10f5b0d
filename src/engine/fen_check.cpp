// Strict FEN reading and the test that a position is one to play from, for games that start
// from caller's text. Board::parse_fen stays the lenient reader of Ortolan.parse_fen.
#include <cstring>

#include "engine/attacks.h"
#include "engine/board.h"

namespace ortolan {

namespace {

constexpr int32_t max_fields = 6;
// Full-move numbers and clocks above this are refused, so that the ply fits in int32.
constexpr int64_t clock_limit = int64_t{1} << 30;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

struct Field {
    const char* text;
    size_t size;
    bool is(const char* word) const {
        return size == std::strlen(word) && std::strncmp(text, word, size) == 0;
    }
};

// A field of decimal digits, at most clock_limit; false for anything else.
bool read_count(const Field& field, int32_t& out) {
    if (field.size == 0 || field.size > 10) return false;
    int64_t value = 0;
    for (size_t i = 0; i < field.size; ++i) {
        if (field.text[i] < '0' || field.text[i] > '9') return false;
        value = value * 10 + (field.text[i] - '0');
    }
    if (value > clock_limit) return false;
    out = static_cast<int32_t>(value);
    return true;
}

bool on_one_line(int32_t a, int32_t b, int32_t c) {
    auto row = [](int32_t s) { return s >> 3; };
    auto file = [](int32_t s) { return s & 7; };
    return (row(a) == row(b) && row(b) == row(c)) || (file(a) == file(b) && file(b) == file(c)) ||
           (row(a) - file(a) == row(b) - file(b) && row(b) - file(b) == row(c) - file(c)) ||
           (row(a) + file(a) == row(b) + file(b) && row(b) + file(b) == row(c) + file(c));
}

}  // namespace

const char* Board::read_fen(const char* text, int32_t& halfmove, int32_t& fullmove) {
    for (Bitboard& b : bitboards) b = 0;
    side = white;
    castle = 0;
    enpassant = no_square;
    halfmove = 0;
    fullmove = 1;
    Field fields[max_fields];
    int32_t count = 0;
    for (const char* c = text; *c;) {
        if (is_blank(*c)) {
            ++c;
            continue;
        }
        const char* begin = c;
        while (*c && !is_blank(*c)) ++c;
        if (count == max_fields) return "more than six fields";
        fields[count++] = {begin, static_cast<size_t>(c - begin)};
    }
    if (count == 0) return "no piece placement";

    // Placement: eight ranks of eight squares, rank 8 first, separated by '/'.
    const Field& placement = fields[0];
    const char* bad_ranks = "the piece placement is not eight ranks of eight squares";
    int32_t row = 0;
    int32_t file = 0;
    bool digit_before = false;
    for (size_t i = 0; i < placement.size; ++i) {
        const char c = placement.text[i];
        if (c == '/') {
            if (file != 8 || ++row == 8) return bad_ranks;
            file = 0;
            digit_before = false;
        } else if (c >= '1' && c <= '8') {
            if (digit_before) return "the piece placement has two digits in a row";
            digit_before = true;
            file += c - '0';
            if (file > 8) return bad_ranks;
        } else {
            const char* letter = std::strchr(piece_letters, c);
            if (!c || !letter) return "the piece placement holds a letter that is no piece";
            if (file == 8) return bad_ranks;
            digit_before = false;
            set_bit(bitboards[letter - piece_letters], row * 8 + file++);
        }
    }
    if (row != 7 || file != 8) return bad_ranks;
    rebuild_occupancies();

    if (count > 1) {
        if (fields[1].is("w"))
            side = white;
        else if (fields[1].is("b"))
            side = black;
        else
            return "the side to move is not w or b";
    }
    if (count > 2 && !fields[2].is("-")) {
        for (size_t i = 0; i < fields[2].size; ++i) {
            const char* letter = std::strchr("KQkq", fields[2].text[i]);
            if (!letter || !fields[2].text[i]) return "the castling field is not - or of KQkq";
            castle |= 1 << (letter - "KQkq");
        }
    }
    if (count > 3 && !fields[3].is("-")) {
        const Field& f = fields[3];
        if (f.size != 2 || f.text[0] < 'a' || f.text[0] > 'h' || f.text[1] < '1' || f.text[1] > '8')
            return "the en passant field is not - or a square";
        enpassant = (f.text[0] - 'a') + (8 - (f.text[1] - '0')) * 8;
    }
    if (count > 4 && !read_count(fields[4], halfmove))
        return "the half-move clock is not a number of half-moves";
    if (count > 5 && !read_count(fields[5], fullmove))
        return "the full-move number is not a number of moves";
    if (fullmove == 0) fullmove = 1;
    return nullptr;
}

const char* Board::position_fault() const {
    const Bitboard* b = bitboards;
    for (int32_t s = 0; s < 2; ++s) {
        const Bitboard kings = b[s == white ? piece::K : piece::k];
        if (!kings) return s == white ? "white has no king" : "black has no king";
        if (kings & (kings - 1))
            return s == white ? "white has more than one king" : "black has more than one king";
        if (count_bits(occupancies[s]) > 16)
            return s == white ? "white has more than 16 pieces" : "black has more than 16 pieces";
        if (count_bits(b[s == white ? piece::P : piece::p]) > 8)
            return s == white ? "white has more than 8 pawns" : "black has more than 8 pawns";
    }
    constexpr Bitboard back_ranks = 0xFF000000000000FFULL;
    if ((b[piece::P] | b[piece::p]) & back_ranks) return "a pawn stands on the first or last rank";
    for (const auto& side_rules : castling_rules) {
        for (const CastlingRule& rule : side_rules) {
            const int32_t king = rule.rook == piece::R ? piece::K : piece::k;
            if ((castle & rule.right) &&
                !(get_bit(b[king], rule.king_from) && get_bit(b[rule.rook], rule.rook_from)))
                return "castling rights the pieces do not allow";
        }
    }
    // A valid en passant square: on the third rank of the side that just moved, with its pawn
    // in front of it and the square it came from empty.
    const int32_t them = side ^ 1;
    bool double_step = false;
    if (enpassant != no_square) {
        const int32_t pushed_to = side == white ? enpassant + 8 : enpassant - 8;
        const int32_t pushed_from = side == white ? enpassant - 8 : enpassant + 8;
        const bool on_rank = row_of(enpassant) == (side == white ? 2 : 5);
        if (!on_rank || !get_bit(b[them == white ? piece::P : piece::p], pushed_to) ||
            get_bit(occupancies[both], enpassant) || get_bit(occupancies[both], pushed_from))
            return "the en passant square is not one a double step has just left";
        double_step = true;
    }
    if (is_square_attacked(king_square(them), side)) return "the side not to move is in check";
    const int32_t king = king_square(side);
    const Bitboard* their = b + them * 6;
    auto attackers = [&](Bitboard occupied) {
        return (pawn_attack_table[side][king] & their[piece::P]) |
               (knight_attack_table[king] & their[piece::N]) |
               (king_attack_table[king] & their[piece::K]) |
               (bishop_rays(king, occupied) & (their[piece::B] | their[piece::Q])) |
               (rook_rays(king, occupied) & (their[piece::R] | their[piece::Q]));
    };
    const Bitboard checkers = attackers(occupancies[both]);
    if (!checkers) return nullptr;
    const char* impossible = "the check cannot have come from the last move";
    if (count_bits(checkers) > 2) return impossible;
    if (double_step) {
        // One checker: the pawn that stepped, or a piece the step uncovered.
        const int32_t pushed_to = side == white ? enpassant + 8 : enpassant - 8;
        const int32_t pushed_from = side == white ? enpassant - 8 : enpassant + 8;
        if (count_bits(checkers) > 1) return impossible;
        const Bitboard before =
            (occupancies[both] & ~square_bit(pushed_to)) | square_bit(pushed_from);
        if (checkers != square_bit(pushed_to) && attackers(before)) return impossible;
        return nullptr;
    }
    // Two checkers on one line through the king cannot both have been uncovered.
    if (count_bits(checkers) == 2) {
        Bitboard rest = checkers;
        const int32_t first = pop_lowest(rest);
        if (on_one_line(first, lowest_square(rest), king)) return impossible;
    }
    return nullptr;
}

const char* fen_fault(const char* text) {
    Board board;
    int32_t halfmove, fullmove;
    if (const char* fault = board.read_fen(text, halfmove, fullmove)) return fault;
    return board.position_fault();
}

}  // namespace ortolan
