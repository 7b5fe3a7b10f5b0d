// The text board: ASCII on the process's standard output, glyphs through the sink.
#include "extras/render.h"

#include <cstdio>

#include "engine/board.h"

namespace ortolan {

const char* const piece_glyphs[12] = {"♙", "♘", "♗", "♖", "♕", "♔", "♟", "♞", "♝", "♜", "♛", "♚"};

namespace {

// The piece on a square, the highest Piece when several bitboards hold it; -1 for none.
int32_t piece_on(const Board& board, int32_t square) {
    int32_t piece = -1;
    for (int32_t i = 0; i < 12; ++i)
        if (get_bit(board.bitboards[i], square)) piece = i;
    return piece;
}

}  // namespace

// The letter board is written out in full and flushed before the glyph board starts: both
// streams often reach the same terminal or file, and C stdio holds its text until a newline or
// a full buffer, so board rows written in turns would come out shuffled.
void Board::render(GlyphSink& glyphs) const {
    std::printf("\n");
    for (int32_t row = 0; row < 8; ++row) {
        std::printf(" %d|", 8 - row);
        for (int32_t file = 0; file < 8; ++file) {
            const int32_t piece = piece_on(*this, row * 8 + file);
            std::printf("  %c", piece < 0 ? '.' : piece_letters[piece]);
        }
        std::printf("\n");
    }
    std::printf("   ------------------------");
    std::printf("\n");
    std::printf("     a  b  c  d  e  f  g  h");
    std::printf("\n\n");
    std::printf("side:       %s\n", side == white ? "white" : "black");
    // Only moves and snapshots set the square, so it is a name or none; anything else prints
    // as none rather than reading past the table.
    std::printf("enpassant:  %s\n",
                enpassant >= 0 && enpassant < 64 ? square_names[enpassant] : "NA");
    std::printf("Castling:   %c%c%c%c\n\n\n", (castle & white_kingside) ? 'K' : '-',
                (castle & white_queenside) ? 'Q' : '-', (castle & black_kingside) ? 'k' : '-',
                (castle & black_queenside) ? 'q' : '-');
    std::fflush(stdout);
    for (int32_t row = 0; row < 8; ++row) {
        const PrintArg label[3] = {{" ", 0}, {nullptr, 8 - row}, {"|", 0}};
        glyphs.print(label, 3, false);
        for (int32_t file = 0; file < 8; ++file) {
            const int32_t piece = piece_on(*this, row * 8 + file);
            if (piece < 0) {
                const PrintArg empty[1] = {{"   .", 0}};
                glyphs.print(empty, 1, false);
            } else {
                const PrintArg cell[2] = {{" ", 0}, {piece_glyphs[piece], 0}};
                glyphs.print(cell, 2, false);
            }
        }
        const PrintArg newline[1] = {{"\n", 0}};
        glyphs.print(newline, 1, true);
    }
    const PrintArg dashes[1] = {{"      -------------------------------", 0}};
    glyphs.print(dashes, 1, true);
    const PrintArg files[1] = {{"       a   b   c   d   e   f   g   h", 0}};
    glyphs.print(files, 1, true);
}

}  // namespace ortolan
