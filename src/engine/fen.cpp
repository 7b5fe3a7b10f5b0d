// Loading a position from FEN text: placement, side to move, castling rights and en passant
// square. The clocks are ignored. The parser is lenient and reports nothing, but it never
// reads past the terminating NUL: a field that the text ends before keeps its cleared value.
#include "engine/board.h"

namespace ortolan {

namespace {

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

int32_t piece_of_letter(char c) {
    for (int32_t i = 0; i < 12; ++i)
        if (piece_letters[i] == c) return i;
    return -1;
}

}  // namespace

void Board::parse_fen(const char* text) {
    for (Bitboard& b : bitboards) b = 0;
    for (Bitboard& o : occupancies) o = 0;
    enpassant = no_square;
    side = white;
    castle = 0;
    no_progress_count = 0;

    const char* cursor = text;
    for (int32_t row = 0; row < 8; ++row) {
        for (int32_t file = 0; file < 8; ++file) {
            const int32_t square = row * 8 + file;
            if (is_letter(*cursor)) {
                const int32_t piece = piece_of_letter(*cursor);
                if (piece >= 0) set_bit(bitboards[piece], square);
                ++cursor;
            }
            if (is_digit(*cursor)) {
                bool occupied = false;
                for (Bitboard b : bitboards) occupied |= get_bit(b, square);
                if (!occupied) --file;
                file += *cursor - '0';
                ++cursor;
            }
            if (*cursor == '/') ++cursor;
        }
    }

    // Side to move: the character after the blank that ends the placement.
    if (*cursor == '\0' || cursor[1] == '\0') return rebuild_occupancies();
    side = cursor[1] == 'w' ? white : black;
    for (int32_t i = 0; i < 3 && *cursor != '\0'; ++i) ++cursor;

    // Castling: up to the next blank.
    for (; *cursor != ' ' && *cursor != '\0'; ++cursor) {
        switch (*cursor) {
            case 'K':
                castle |= white_kingside;
                break;
            case 'Q':
                castle |= white_queenside;
                break;
            case 'k':
                castle |= black_kingside;
                break;
            case 'q':
                castle |= black_queenside;
                break;
            default:
                break;
        }
    }

    // En passant: a letter and a digit after that blank, taken as they come; a value that
    // falls off the board means no square.
    if (*cursor != '\0' && cursor[1] != '\0' && cursor[1] != '-' && cursor[2] != '\0') {
        const int32_t square = (cursor[1] - 'a') + (8 - (cursor[2] - '0')) * 8;
        enpassant = square >= 0 && square < 64 ? square : no_square;
    }
    rebuild_occupancies();
}

}  // namespace ortolan
