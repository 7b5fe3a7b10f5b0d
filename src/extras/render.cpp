// The text board: ASCII on the process's standard output, glyphs through the sink.
#include "extras/render.h"

#include <cstdio>

#include "engine/board.h"

namespace ortolan {

const char* const piece_glyphs[12] = {"♙", "♘", "♗", "♖", "♕", "♔", "♟", "♞", "♝", "♜", "♛", "♚"};

void Board::render(GlyphSink& glyphs) const {
    std::printf("\n");
    for (int32_t row = 0; row < 8; ++row) {
        const int32_t rank = 8 - row;
        std::printf(" %d|", rank);
        const PrintArg label[3] = {{" ", 0}, {nullptr, rank}, {"|", 0}};
        glyphs.print(label, 3, false);
        for (int32_t file = 0; file < 8; ++file) {
            const int32_t square = row * 8 + file;
            int32_t piece = -1;
            for (int32_t i = 0; i < 12; ++i)
                if (get_bit(bitboards[i], square)) piece = i;
            std::printf("  %c", piece < 0 ? '.' : piece_letters[piece]);
            if (piece < 0) {
                const PrintArg empty[1] = {{"   .", 0}};
                glyphs.print(empty, 1, false);
            } else {
                const PrintArg cell[2] = {{" ", 0}, {piece_glyphs[piece], 0}};
                glyphs.print(cell, 2, false);
            }
        }
        std::printf("\n");
        const PrintArg newline[1] = {{"\n", 0}};
        glyphs.print(newline, 1, true);
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
    const PrintArg dashes[1] = {{"      -------------------------------", 0}};
    glyphs.print(dashes, 1, true);
    const PrintArg files[1] = {{"       a   b   c   d   e   f   g   h", 0}};
    glyphs.print(files, 1, true);
}

}  // namespace ortolan
