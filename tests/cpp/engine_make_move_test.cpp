// make_move: the fields a move changes, castling, en passant, promotion, the castling-right
// masks, the legality test that takes a move back, and the no-progress counter.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>

#include "engine/bits.h"
#include "engine/board.h"
#include "engine/movegen.h"
#include "engine/perft.h"
#include "engine/types.h"
#include "engine_support.h"

namespace ortolan {
namespace {

std::string coordinates(Move m) {
    std::string s = name_of(move_source(m)) + name_of(move_target(m));
    if (move_promoted(m)) s += "pnbrqkpnbrqk"[move_promoted(m)];
    return s;
}

// The generated move with these coordinates ("e2e4", "c7b8q"), or -1 when there is none.
Move generated(const Board& board, const std::string& text) {
    MoveList list;
    board.generate_moves(list);
    for (int32_t i = 0; i < list.count; ++i)
        if (coordinates(list.moves[i]) == text) return list.moves[i];
    return -1;
}

// make_move of the generated move; -1 when the move is not generated at all.
int32_t play(Board& board, const std::string& text) {
    const Move m = generated(board, text);
    return m < 0 ? -1 : board.make_move(m);
}

using Snapshot = PositionCopy;

void expect_consistent_occupancies(const Board& b) {
    Bitboard w = 0, k = 0;
    for (int i = 0; i < 6; ++i) {
        w |= b.bitboards[i];
        k |= b.bitboards[i + 6];
    }
    EXPECT_EQ(b.occupancies[white], w);
    EXPECT_EQ(b.occupancies[black], k);
    EXPECT_EQ(b.occupancies[both], w | k);
}

class EngineMakeMove : public ::testing::Test {
protected:
    Board board;
    void load(const char* fen) { board.parse_fen(fen); }
};

// e2-e4: e3 (44) becomes the en passant square; the pawn resets the counter to 1.
TEST_F(EngineMakeMove, DoubleStepFromStartSetsEnPassantBehindThePawn) {
    load(start_position);
    ASSERT_EQ(board.make_move(encode_move(e2, e4, piece::P, 0, 0, 1, 0, 0)), 1);
    EXPECT_EQ(board.enpassant, 44);
    EXPECT_EQ(board.side, 1);
    EXPECT_EQ(board.castle, 15);
    EXPECT_EQ(board.no_progress_count, 1);
    EXPECT_EQ(board.bitboards[piece::P], 0x00ef001000000000ULL);
    EXPECT_EQ(board.occupancies[white], 0xffef001000000000ULL);
    expect_consistent_occupancies(board);
    // Black's double step sets the square behind it from Black's side.
    ASSERT_EQ(play(board, "c7c5"), 1);
    EXPECT_EQ(board.enpassant, c6);
    EXPECT_EQ(board.side, 0);
}

// The en passant chance lasts one move only.
TEST_F(EngineMakeMove, EnPassantSquareClearedByAnyOtherMove) {
    load(start_position);
    ASSERT_EQ(play(board, "e2e4"), 1);
    ASSERT_EQ(play(board, "g8f6"), 1);
    EXPECT_EQ(board.enpassant, 64);
    ASSERT_EQ(play(board, "d2d4"), 1);
    EXPECT_EQ(board.enpassant, d3);
    ASSERT_EQ(play(board, "e7e6"), 1);  // a single pawn step clears it too
    EXPECT_EQ(board.enpassant, 64);
}

// The captured pawn is not on the target square but one row behind it.
TEST_F(EngineMakeMove, EnPassantCaptureRemovesThePawnBehindTheTarget) {
    load("4k3/8/8/3Pp3/8/8/8/4K3 w - e6 0 1");
    board.no_progress_count = 30;
    ASSERT_EQ(play(board, "d5e6"), 1);
    EXPECT_EQ(board.bitboards[piece::P], squares_of({e6}));
    EXPECT_EQ(board.bitboards[piece::p], Bitboard{0});
    EXPECT_EQ(board.occupancies[black], squares_of({e8}));
    EXPECT_EQ(board.enpassant, 64);
    EXPECT_EQ(board.no_progress_count, 1);
    expect_consistent_occupancies(board);

    load("4k3/8/8/8/3pP3/8/8/4K3 b - e3 0 1");
    board.no_progress_count = 30;
    ASSERT_EQ(play(board, "d4e3"), 1);
    EXPECT_EQ(board.bitboards[piece::p], squares_of({e3}));
    EXPECT_EQ(board.bitboards[piece::P], Bitboard{0});
    EXPECT_EQ(board.occupancies[white], squares_of({e1}));
    EXPECT_EQ(board.no_progress_count, 1);
}

// Taking en passant would empty the fifth row between king and rook: illegal.
TEST_F(EngineMakeMove, EnPassantExposingKingOnRowIsRejected) {
    load("8/8/8/KPp4r/8/8/8/7k w - c6 0 1");
    const Snapshot before(board);
    EXPECT_EQ(play(board, "b5c6"), 0);
    EXPECT_TRUE(Snapshot(board) == before);
    EXPECT_EQ(play(board, "b5b6"), 1);
}

// The captured knight goes, and no pawn is left behind on the promotion square.
TEST_F(EngineMakeMove, CapturePromotionPutsTheNewPieceOnTarget) {
    const struct {
        const char* text;
        int32_t piece;
    } cases[] = {
        {"c7b8q", piece::Q}, {"c7b8r", piece::R}, {"c7b8b", piece::B}, {"c7b8n", piece::N}};
    for (const auto& c : cases) {
        load("1n2k3/2P5/8/8/8/8/8/4K3 w - - 0 1");
        board.no_progress_count = 12;
        ASSERT_EQ(play(board, c.text), 1) << c.text;
        EXPECT_EQ(board.bitboards[c.piece], squares_of({b8})) << c.text;
        EXPECT_EQ(board.bitboards[piece::P], Bitboard{0}) << c.text;
        EXPECT_EQ(board.bitboards[piece::n], Bitboard{0}) << c.text;
        EXPECT_EQ(board.occupancies[black], squares_of({e8})) << c.text;
        EXPECT_EQ(board.occupancies[white], squares_of({b8, e1})) << c.text;
        EXPECT_EQ(board.no_progress_count, 1) << c.text;
    }
}

// Black takes the rook on h1 and promotes: the rook's right goes with it.
TEST_F(EngineMakeMove, BlackCapturePromotionOnRookHomeDropsRight) {
    load("4k3/8/8/8/8/8/6p1/4K2R b K - 0 1");
    ASSERT_EQ(play(board, "g2h1n"), 1);
    EXPECT_EQ(board.bitboards[piece::n], squares_of({h1}));
    EXPECT_EQ(board.bitboards[piece::p], Bitboard{0});
    EXPECT_EQ(board.bitboards[piece::R], Bitboard{0});
    EXPECT_EQ(board.castle, 0);
    EXPECT_EQ(board.side, 0);
}

// A pawn reaching the last row becomes the new piece, with no capture involved.
TEST_F(EngineMakeMove, QuietPromotionResetsCounter) {
    load("k7/4P3/8/8/8/8/8/4K3 w - - 0 1");
    board.no_progress_count = 25;
    ASSERT_EQ(play(board, "e7e8q"), 1);
    EXPECT_EQ(board.bitboards[piece::Q], squares_of({e8}));
    EXPECT_EQ(board.bitboards[piece::P], Bitboard{0});
    EXPECT_EQ(board.no_progress_count, 1);
}

// Castling counts as a quiet king move: the counter goes on.
TEST_F(EngineMakeMove, WhiteShortCastlingMovesKingAndRook) {
    load("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
    board.no_progress_count = 5;
    ASSERT_EQ(board.make_move(0x805fbc), 1);
    EXPECT_EQ(board.bitboards[piece::K], squares_of({g1}));
    EXPECT_EQ(board.bitboards[piece::R], squares_of({a1, f1}));
    EXPECT_EQ(board.castle, black_kingside | black_queenside);
    EXPECT_EQ(board.no_progress_count, 6);
    EXPECT_EQ(board.side, 1);
    EXPECT_EQ(board.enpassant, 64);
    expect_consistent_occupancies(board);
}

// Long castling moves the rook three squares, and Black's rook lives on row 0.
TEST_F(EngineMakeMove, OtherCastlingsMoveTheirRooks) {
    load("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
    ASSERT_EQ(board.make_move(0x805ebc), 1);
    EXPECT_EQ(board.bitboards[piece::K], squares_of({c1}));
    EXPECT_EQ(board.bitboards[piece::R], squares_of({d1, h1}));
    EXPECT_EQ(board.castle, 12);

    load("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
    ASSERT_EQ(board.make_move(0x80b184), 1);
    EXPECT_EQ(board.bitboards[piece::k], squares_of({g8}));
    EXPECT_EQ(board.bitboards[piece::r], squares_of({a8, f8}));
    EXPECT_EQ(board.castle, 3);
    EXPECT_EQ(board.side, 0);

    load("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
    ASSERT_EQ(board.make_move(0x80b084), 1);
    EXPECT_EQ(board.bitboards[piece::k], squares_of({c8}));
    EXPECT_EQ(board.bitboards[piece::r], squares_of({d8, h8}));
    EXPECT_EQ(board.castle, 3);
    expect_consistent_occupancies(board);
}

// Rights without a rook (lenient FEN): the rook's destination square is set regardless.
TEST_F(EngineMakeMove, CastlingWithRightsButMissingRookSetsDestination) {
    load("4k3/8/8/8/8/8/8/4K3 w KQ - 0 1");
    ASSERT_EQ(board.make_move(0x805fbc), 1);
    EXPECT_EQ(board.bitboards[piece::K], squares_of({g1}));
    EXPECT_EQ(board.bitboards[piece::R], squares_of({f1}));
    EXPECT_EQ(board.castle, 0);
    expect_consistent_occupancies(board);

    load("4k3/8/8/8/8/8/8/4K3 w KQ - 0 1");
    ASSERT_EQ(board.make_move(0x805ebc), 1);
    EXPECT_EQ(board.bitboards[piece::R], squares_of({d1}));

    load("4k3/8/8/8/8/8/8/4K3 b kq - 0 1");
    ASSERT_EQ(board.make_move(0x80b184), 1);
    EXPECT_EQ(board.bitboards[piece::r], squares_of({f8}));
    load("4k3/8/8/8/8/8/8/4K3 b kq - 0 1");
    ASSERT_EQ(board.make_move(0x80b084), 1);
    EXPECT_EQ(board.bitboards[piece::r], squares_of({d8}));
    EXPECT_EQ(board.occupancies[black], squares_of({c8, d8}));
}

// Moves from or to a8, e8, h8, a1, e1, h1 drop the rights of that square, whoever moves.
TEST_F(EngineMakeMove, CastleKeepMaskDropsRightsOnHomeSquares) {
    const struct {
        const char* fen;
        const char* move;
        int32_t castle;
    } cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "a1b1", 13},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "h1g1", 14},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1d1", 12},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "a1a8", 5},   // takes the a8 rook
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "h1h8", 10},  // takes the h8 rook
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "a8b8", 7},
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "h8g8", 11},
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "e8f8", 3},
        // A bishop taking the rook on h8 drops only Black's short right.
        {"r3k2r/8/8/8/8/8/1B6/R3K2R w KQkq - 0 1", "b2h8", 11},
        {"r3k2r/8/8/8/8/8/1b6/R3K2R b KQkq - 0 1", "b2a1", 13},
        // A Black knight leaving a1 drops White's long right: the square decides.
        {"r3k2r/8/8/8/8/8/8/n3K2R b KQkq - 0 1", "a1b3", 13},
        // Moves elsewhere keep everything.
        {"r3k2r/8/8/8/8/8/P7/R3K2R w KQkq - 0 1", "a2a3", 15},
    };
    for (const auto& c : cases) {
        load(c.fen);
        ASSERT_EQ(play(board, c.move), 1) << c.fen << " " << c.move;
        EXPECT_EQ(board.castle, c.castle) << c.fen << " " << c.move;
    }
}

// The knight on e2 shields its king from the rook on e7: moving it is rejected, and the
// position, en passant square, rights and counter are all as before.
TEST_F(EngineMakeMove, PinnedPieceMoveIsRejectedAndChangesNothing) {
    load("4k2r/4r3/8/1Pp5/8/8/4N3/4K2R w Kk c6 0 1");
    board.no_progress_count = 7;
    board.total_move_count = 3;
    const Snapshot before(board);
    for (const char* move : {"e2c3", "e2g1", "e2c1", "e2d4", "e2f4", "e2g3"}) {
        EXPECT_EQ(play(board, move), 0) << move;
        EXPECT_TRUE(Snapshot(board) == before) << move;
        EXPECT_EQ(board.enpassant, c6);
        EXPECT_EQ(board.castle, 5);
        EXPECT_EQ(board.no_progress_count, 7);
        EXPECT_EQ(board.total_move_count, 3);
    }
    // A move away from the pin line is fine.
    EXPECT_EQ(play(board, "b5c6"), 1);
}

// King next to an unprotected rook on d2: d1, e2 and f2 are covered by it, d2 (taking it)
// and f1 are not.
TEST_F(EngineMakeMove, KingMayNotStepOntoAttackedSquare) {
    const struct {
        const char* move;
        int32_t result;
    } cases[] = {{"e1d1", 0}, {"e1d2", 1}, {"e1e2", 0}, {"e1f2", 0}, {"e1f1", 1}};
    for (const auto& c : cases) {
        load("4k3/8/8/8/8/8/3r4/4K3 w - - 0 1");
        board.no_progress_count = 4;
        const Snapshot before(board);
        EXPECT_EQ(play(board, c.move), c.result) << c.move;
        if (c.result == 0) {
            EXPECT_TRUE(Snapshot(board) == before) << c.move;
        } else {
            EXPECT_EQ(board.side, 1) << c.move;
        }
    }
}

// A mover without a king has nothing to leave in check: the move stands.
TEST_F(EngineMakeMove, MoverWithoutKingIsAccepted) {
    load("4k3/8/8/8/8/8/8/N7 w - - 0 1");
    EXPECT_EQ(play(board, "a1b3"), 1);
    EXPECT_EQ(board.bitboards[piece::N], squares_of({b3}));
    EXPECT_EQ(board.side, 1);
    load("r7/8/8/8/8/8/8/4K3 b - - 0 1");
    EXPECT_EQ(play(board, "a8a1"), 1);
    EXPECT_EQ(board.side, 0);
}

// Quiet piece moves count up; pawn moves and captures restart at 1.
TEST_F(EngineMakeMove, NoProgressCounterRule) {
    load(start_position);
    EXPECT_EQ(board.no_progress_count, 0);
    ASSERT_EQ(play(board, "g1f3"), 1);
    EXPECT_EQ(board.no_progress_count, 1);  // 0 after loading, +1
    ASSERT_EQ(play(board, "g8f6"), 1);
    EXPECT_EQ(board.no_progress_count, 2);
    board.no_progress_count = 40;
    ASSERT_EQ(play(board, "b1c3"), 1);
    EXPECT_EQ(board.no_progress_count, 41);
    ASSERT_EQ(play(board, "e7e6"), 1);  // pawn step
    EXPECT_EQ(board.no_progress_count, 1);
    ASSERT_EQ(play(board, "c3b5"), 1);
    ASSERT_EQ(play(board, "f6e4"), 1);
    EXPECT_EQ(board.no_progress_count, 3);
    ASSERT_EQ(play(board, "b5c7"), 1);  // knight takes a pawn
    EXPECT_EQ(board.no_progress_count, 1);
}

// Counters are plain int32 that a snapshot may set anywhere: they wrap without overflow.
TEST_F(EngineMakeMove, NoProgressCounterWrapsAtInt32Max) {
    load("4k3/8/8/8/8/8/8/4K1N1 w - - 0 1");
    board.no_progress_count = std::numeric_limits<int32_t>::max();
    ASSERT_EQ(play(board, "g1f3"), 1);
    EXPECT_EQ(board.no_progress_count, std::numeric_limits<int32_t>::min());
    ASSERT_EQ(play(board, "e8d8"), 1);
    EXPECT_EQ(board.no_progress_count, std::numeric_limits<int32_t>::min() + 1);
    board.no_progress_count = -1;
    ASSERT_EQ(play(board, "f3g5"), 1);
    EXPECT_EQ(board.no_progress_count, 0);
}

// After an accepted move the backup still holds the position before it, so restore_position
// undoes the move; the counter keeps the value the move gave it.
TEST_F(EngineMakeMove, RestoreAfterAcceptedMoveUndoesIt) {
    load("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
    board.no_progress_count = 8;
    const Snapshot before(board);
    ASSERT_EQ(board.make_move(0x805ebc), 1);
    EXPECT_EQ(board.no_progress_count, 9);
    board.restore_position();
    Snapshot after(board);
    EXPECT_EQ(after.no_progress_count, 9);
    after.no_progress_count = before.no_progress_count;
    EXPECT_TRUE(after == before);
}

}  // namespace
}  // namespace ortolan
