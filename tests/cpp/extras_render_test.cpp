// The text board: exact ASCII on standard output and exact glyph text through the sink, for
// the start position, en passant squares, castling rights, an empty board and overlapping
// bitboards.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "engine/board.h"
#include "extras/render.h"
#include "extras/state.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;

// Writes what the interpreter's print would: the arguments joined by one blank, then a
// newline when the call asks for the default end.
class RecordingSink : public GlyphSink {
public:
    void print(const PrintArg* args, int32_t count, bool newline_end) override {
        for (int32_t i = 0; i < count; ++i) {
            if (i) text += " ";
            text += args[i].text ? std::string(args[i].text) : std::to_string(args[i].number);
        }
        if (newline_end) text += "\n";
        ++calls;
    }
    std::string text;
    int32_t calls = 0;
};

struct Rendered {
    std::string ascii;
    std::string glyphs;
    int32_t glyph_calls;
};

Rendered render_of(const Board& board) {
    RecordingSink sink;
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    board.render(sink);
    std::fflush(stdout);
    return {::testing::internal::GetCapturedStdout(), sink.text, sink.calls};
}

const char* const start_ascii =
    "\n"
    " 8|  r  n  b  q  k  b  n  r\n"
    " 7|  p  p  p  p  p  p  p  p\n"
    " 6|  .  .  .  .  .  .  .  .\n"
    " 5|  .  .  .  .  .  .  .  .\n"
    " 4|  .  .  .  .  .  .  .  .\n"
    " 3|  .  .  .  .  .  .  .  .\n"
    " 2|  P  P  P  P  P  P  P  P\n"
    " 1|  R  N  B  Q  K  B  N  R\n"
    "   ------------------------\n"
    "     a  b  c  d  e  f  g  h\n"
    "\n"
    "side:       white\n"
    "enpassant:  NA\n"
    "Castling:   KQkq\n"
    "\n"
    "\n";

const char* const start_glyphs =
    "  8 |  ♜  ♞  ♝  ♛  ♚  ♝  ♞  ♜\n\n"
    "  7 |  ♟  ♟  ♟  ♟  ♟  ♟  ♟  ♟\n\n"
    "  6 |   .   .   .   .   .   .   .   .\n\n"
    "  5 |   .   .   .   .   .   .   .   .\n\n"
    "  4 |   .   .   .   .   .   .   .   .\n\n"
    "  3 |   .   .   .   .   .   .   .   .\n\n"
    "  2 |  ♙  ♙  ♙  ♙  ♙  ♙  ♙  ♙\n\n"
    "  1 |  ♖  ♘  ♗  ♕  ♔  ♗  ♘  ♖\n\n"
    "      -------------------------------\n"
    "       a   b   c   d   e   f   g   h\n";

// The two boards use different cell widths and line ends; every character is fixed.
TEST(ExtrasRender, StartPositionPrintsBothBoardsExactly) {
    Board board;
    board.reset();
    const Rendered r = render_of(board);
    EXPECT_EQ(r.ascii, start_ascii);
    EXPECT_EQ(r.glyphs, start_glyphs);
    // Per rank: the label, eight cells and the line end; then the two footer lines.
    EXPECT_EQ(r.glyph_calls, 8 * 10 + 2);
}

// After 1. e4: Black to move and the en passant square e3 named.
TEST(ExtrasRender, EnPassantSquareAndSideToMoveAfterE4) {
    Board board;
    board.reset();
    board.step(8 * 64 + 52);
    const Rendered r = render_of(board);
    EXPECT_EQ(r.ascii,
              "\n"
              " 8|  r  n  b  q  k  b  n  r\n"
              " 7|  p  p  p  p  p  p  p  p\n"
              " 6|  .  .  .  .  .  .  .  .\n"
              " 5|  .  .  .  .  .  .  .  .\n"
              " 4|  .  .  .  .  P  .  .  .\n"
              " 3|  .  .  .  .  .  .  .  .\n"
              " 2|  P  P  P  P  .  P  P  P\n"
              " 1|  R  N  B  Q  K  B  N  R\n"
              "   ------------------------\n"
              "     a  b  c  d  e  f  g  h\n"
              "\n"
              "side:       black\n"
              "enpassant:  e3\n"
              "Castling:   KQkq\n"
              "\n"
              "\n");
    EXPECT_EQ(r.glyphs,
              "  8 |  ♜  ♞  ♝  ♛  ♚  ♝  ♞  ♜\n\n"
              "  7 |  ♟  ♟  ♟  ♟  ♟  ♟  ♟  ♟\n\n"
              "  6 |   .   .   .   .   .   .   .   .\n\n"
              "  5 |   .   .   .   .   .   .   .   .\n\n"
              "  4 |   .   .   .   .  ♙   .   .   .\n\n"
              "  3 |   .   .   .   .   .   .   .   .\n\n"
              "  2 |  ♙  ♙  ♙  ♙   .  ♙  ♙  ♙\n\n"
              "  1 |  ♖  ♘  ♗  ♕  ♔  ♗  ♘  ♖\n\n"
              "      -------------------------------\n"
              "       a   b   c   d   e   f   g   h\n");
}

// The status block after the board: the lines a position's side, square and rights give.
std::string status_of(const Board& board) {
    const std::string ascii = render_of(board).ascii;
    return ascii.substr(ascii.find("side:"));
}

// Square names count ranks from the top of the table; rights print in the order K Q k q.
TEST(ExtrasRender, StatusLinesNameSquaresAndRights) {
    // En passant e6 (square 20) with rights K and k (5).
    EXPECT_EQ(
        status_of(board_from_fen("rnbqkbnr/pppp1ppp/8/3Pp3/8/8/PPP1PPPP/RNBQKBNR w Kk e6 0 3")),
        "side:       white\nenpassant:  e6\nCastling:   K-k-\n\n\n");
    // En passant h3 (square 47), no rights, Black to move.
    EXPECT_EQ(status_of(board_from_fen("rnbqkbnr/ppppppp1/8/8/6pP/8/PPPPPPP1/RNBQKBNR b - h3 0 3")),
              "side:       black\nenpassant:  h3\nCastling:   ----\n\n\n");
    EXPECT_EQ(status_of(board_from_fen("4k3/8/8/8/8/8/8/4K3 b Qq - 0 1")),
              "side:       black\nenpassant:  NA\nCastling:   -Q-q\n\n\n");
}

// Nothing to draw: the frame, the footer and the status lines must still all be there.
TEST(ExtrasRender, EmptyBoardPrintsOnlyEmptyCells) {
    Board board;
    const Rendered r = render_of(board);
    std::string ascii = "\n";
    std::string glyphs;
    for (int32_t rank = 8; rank >= 1; --rank) {
        const std::string digit = std::to_string(rank);
        ascii.append(" ").append(digit).append("|  .  .  .  .  .  .  .  .\n");
        glyphs.append("  ").append(digit).append(" |   .   .   .   .   .   .   .   .\n\n");
    }
    ascii +=
        "   ------------------------\n     a  b  c  d  e  f  g  h\n\n"
        "side:       white\nenpassant:  NA\nCastling:   ----\n\n\n";
    glyphs += "      -------------------------------\n       a   b   c   d   e   f   g   h\n";
    EXPECT_EQ(r.ascii, ascii);
    EXPECT_EQ(r.glyphs, glyphs);
}

// A square set in two bitboards shows the higher Piece; a side value other than 0 prints
// black; an en passant value off the board prints as none instead of reading past the names.
TEST(ExtrasRender, OddRecordsStillPrintSafely) {
    Board board;
    board.parse_fen("8/8/8/8/4P3/8/8/8 w - - 0 1");
    board.bitboards[piece::k] |= 1ULL << sq("e4");
    board.side = 7;
    board.enpassant = 99;
    Rendered r = render_of(board);
    EXPECT_NE(r.ascii.find(" 4|  .  .  .  .  k  .  .  .\n"), std::string::npos);
    EXPECT_NE(r.glyphs.find("  4 |   .   .   .   .  ♚   .   .   .\n\n"), std::string::npos);
    EXPECT_NE(r.ascii.find("side:       black\nenpassant:  NA\n"), std::string::npos);
    board.enpassant = -1;
    r = render_of(board);
    EXPECT_NE(r.ascii.find("enpassant:  NA\n"), std::string::npos);
}

// The blank snapshot's en passant value 0 is the square a8.
TEST(ExtrasRender, BlankSnapshotShowsEnPassantA8) {
    Board board;
    board.restore_state(State());
    EXPECT_EQ(status_of(board), "side:       white\nenpassant:  a8\nCastling:   ----\n\n\n");
}

// Rendering is a pure read and prints everything again on a second call.
TEST(ExtrasRender, RenderingTwicePrintsTwiceAndChangesNothing) {
    Board board;
    board.reset();
    board.step(8 * 64 + 52);
    const Board before = board;
    RecordingSink sink;
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    board.render(sink);
    board.render(sink);
    std::fflush(stdout);
    const std::string ascii = ::testing::internal::GetCapturedStdout();
    const Rendered once = render_of(before);
    EXPECT_EQ(ascii, once.ascii + once.ascii);
    EXPECT_EQ(sink.text, once.glyphs + once.glyphs);
    EXPECT_TRUE(same_board(board, before, {.backup = false}));
}

}  // namespace
}  // namespace ortolan
