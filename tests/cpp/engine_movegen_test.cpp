// Pseudo-legal move generation: exact move lists in generation order, the castling
// conditions, en passant, promotions, the attack test and the list capacity.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/bits.h"
#include "engine/board.h"
#include "engine/movegen.h"
#include "engine/types.h"
#include "engine_support.h"

namespace ortolan {
namespace {

std::vector<Move> generate(const Board& board) {
    MoveList list;
    list.count = -1;
    board.generate_moves(list);
    return std::vector<Move>(list.moves, list.moves + list.count);
}

std::vector<std::string> described(const Board& board) {
    std::vector<std::string> out;
    for (Move m : generate(board)) out.push_back(describe(m));
    return out;
}

std::vector<Move> castlings(const Board& board) {
    std::vector<Move> out;
    for (Move m : generate(board))
        if (move_castling(m)) out.push_back(m);
    return out;
}

class EngineMoveGeneration : public ::testing::Test {
protected:
    Board board;
    void load(const char* fen) { board.parse_fen(fen); }
};

constexpr Move white_short = 0x805fbc;
constexpr Move white_long = 0x805ebc;
constexpr Move black_short = 0x80b184;
constexpr Move black_long = 0x80b084;

// The bit layout of a Move: a shifted field would corrupt every other one.
TEST(EngineMoveEncoding, FieldsPackIntoTheirBits) {
    const Move e2e4 = encode_move(e2, e4, piece::P, 0, 0, 1, 0, 0);
    EXPECT_EQ(e2e4, 52 | 36 << 6 | 1 << 21);
    EXPECT_EQ(move_source(e2e4), 52);
    EXPECT_EQ(move_target(e2e4), 36);
    EXPECT_EQ(move_piece(e2e4), 0);
    EXPECT_EQ(move_double_push(e2e4), 1);
    EXPECT_EQ(move_capture(e2e4) | move_enpassant(e2e4) | move_castling(e2e4), 0);
    const Move e7e8q = encode_move(e7, e8, piece::P, piece::Q, 0, 0, 0, 0);
    EXPECT_EQ(e7e8q, 12 | 4 << 6 | 4 << 16);
    EXPECT_EQ(move_promoted(e7e8q), 4);
    // Every field at its maximum: the flags end at bit 23.
    const Move full = encode_move(63, 63, 11, 10, 1, 1, 1, 1);
    EXPECT_EQ(full, 0xfabfff);
    EXPECT_EQ(move_piece(full), 11);
    EXPECT_EQ(move_promoted(full), 10);
}

// The four castling moves are fixed numbers that the action map relies on.
TEST(EngineMoveEncoding, CastlingMovesHaveTheFixedValues) {
    EXPECT_EQ(encode_move(e1, g1, piece::K, 0, 0, 0, 0, 1), white_short);
    EXPECT_EQ(encode_move(e1, c1, piece::K, 0, 0, 0, 0, 1), white_long);
    EXPECT_EQ(encode_move(e8, g8, piece::k, 0, 0, 0, 0, 1), black_short);
    EXPECT_EQ(encode_move(e8, c8, piece::k, 0, 0, 0, 0, 1), black_long);
    EXPECT_EQ(white_short, 8413116);
    EXPECT_EQ(white_long, 8412860);
    EXPECT_EQ(black_short, 8434052);
    EXPECT_EQ(black_long, 8433796);
}

// Pawns by source a2..h2, single step before double step, then the knights.
TEST_F(EngineMoveGeneration, StartPositionGivesTwentyMovesInOrder) {
    load(start_position);
    std::vector<Move> expected;
    for (int32_t source = a2; source <= h2; ++source) {
        expected.push_back(encode_move(source, source - 8, piece::P, 0, 0, 0, 0, 0));
        expected.push_back(encode_move(source, source - 16, piece::P, 0, 0, 1, 0, 0));
    }
    expected.push_back(encode_move(b1, a3, piece::N, 0, 0, 0, 0, 0));
    expected.push_back(encode_move(b1, c3, piece::N, 0, 0, 0, 0, 0));
    expected.push_back(encode_move(g1, f3, piece::N, 0, 0, 0, 0, 0));
    expected.push_back(encode_move(g1, h3, piece::N, 0, 0, 0, 0, 0));
    EXPECT_EQ(generate(board), expected);
}

// Black pawns advance towards higher squares: +8 and +16.
TEST_F(EngineMoveGeneration, BlackStartRepliesMirrorWhite) {
    load("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    std::vector<Move> expected;
    for (int32_t source = a7; source <= h7; ++source) {
        expected.push_back(encode_move(source, source + 8, piece::p, 0, 0, 0, 0, 0));
        expected.push_back(encode_move(source, source + 16, piece::p, 0, 0, 1, 0, 0));
    }
    expected.push_back(encode_move(b8, a6, piece::n, 0, 0, 0, 0, 0));
    expected.push_back(encode_move(b8, c6, piece::n, 0, 0, 0, 0, 0));
    expected.push_back(encode_move(g8, f6, piece::n, 0, 0, 0, 0, 0));
    expected.push_back(encode_move(g8, h6, piece::n, 0, 0, 0, 0, 0));
    EXPECT_EQ(generate(board), expected);
}

// Push promotions first (Q R B N), then captures on the lower-numbered target, then higher.
TEST_F(EngineMoveGeneration, PromotionWithTwoCapturesGivesTwelveMovesInOrder) {
    load("1n1n4/2P5/8/8/8/8/8/7k w - - 0 1");
    std::vector<Move> expected;
    for (int32_t target : {c8, b8, d8})
        for (int32_t kind : {piece::Q, piece::R, piece::B, piece::N})
            expected.push_back(encode_move(c7, target, piece::P, kind, target != c8, 0, 0, 0));
    EXPECT_EQ(generate(board), expected);
}

// Black promotes to q r b n (10, 9, 8, 7), not to White pieces.
TEST_F(EngineMoveGeneration, BlackPromotionUsesBlackPieces) {
    load("7K/8/8/8/8/8/2p5/1N1N4 b - - 0 1");
    std::vector<Move> expected;
    for (int32_t target : {c1, b1, d1})
        for (int32_t kind : {piece::q, piece::r, piece::b, piece::n})
            expected.push_back(encode_move(c2, target, piece::p, kind, target != c1, 0, 0, 0));
    EXPECT_EQ(generate(board), expected);
}

// A blocked promotion push gives nothing, the captures still promote.
TEST_F(EngineMoveGeneration, BlockedPromotionPawnStillPromotesByCapture) {
    load("2Rr4/2P5/8/8/8/8/8/7k w - - 0 1");
    // c7 cannot push onto its own rook; it takes d8; the rook on c8 has its own moves.
    EXPECT_EQ(described(board), split("c7d8qx c7d8rx c7d8bx c7d8nx c8a8 c8b8 c8d8x"));
}

// A pawn on its start row whose double-step square is taken still steps once; a blocked
// pawn only captures. King steps come in square order: g2, h2, then g1.
TEST_F(EngineMoveGeneration, DoubleStepNeedsBothSquaresEmpty) {
    load("7k/8/8/8/p1p5/1p6/PPP5/7K w - - 0 1");
    EXPECT_EQ(described(board), split("a2a3 a2b3x c2c3 c2b3x h1g2 h1h2 h1g1"));
}

// Two capturers, each with its en passant capture after its push and ordinary captures.
TEST_F(EngineMoveGeneration, EnPassantAfterThePawnsOtherMovesForBothCapturers) {
    load("4k3/8/2n5/3PpP2/8/8/8/4K3 w - e6 0 1");
    std::vector<Move> expected = {
        encode_move(d5, d6, piece::P, 0, 0, 0, 0, 0), encode_move(d5, c6, piece::P, 0, 1, 0, 0, 0),
        encode_move(d5, e6, piece::P, 0, 1, 0, 1, 0), encode_move(f5, f6, piece::P, 0, 0, 0, 0, 0),
        encode_move(f5, e6, piece::P, 0, 1, 0, 1, 0),
    };
    for (int32_t target : {d2, e2, f2, d1, f1})
        expected.push_back(encode_move(e1, target, piece::K, 0, 0, 0, 0, 0));
    EXPECT_EQ(generate(board), expected);
}

// The mirror of the White case: Black captures onto row 5 (e3).
TEST_F(EngineMoveGeneration, BlackEnPassantCapturesTowardsRankOne) {
    load("4k3/8/8/8/3pPp2/8/8/4K3 b - e3 0 1");
    std::vector<Move> expected = {
        encode_move(d4, d3, piece::p, 0, 0, 0, 0, 0),
        encode_move(d4, e3, piece::p, 0, 1, 0, 1, 0),
        encode_move(f4, f3, piece::p, 0, 0, 0, 0, 0),
        encode_move(f4, e3, piece::p, 0, 1, 0, 1, 0),
    };
    for (int32_t target : {d8, f8, d7, e7, f7})
        expected.push_back(encode_move(e8, target, piece::k, 0, 0, 0, 0, 0));
    EXPECT_EQ(generate(board), expected);
}

// A pawn that does not attack the en passant square gets no en passant move.
TEST_F(EngineMoveGeneration, EnPassantOnlyForPawnsBesideTheDoubleStepper) {
    load("7k/8/8/2P1pP2/8/8/8/7K w - e6 0 1");
    const std::vector<std::string> expected = split("c5c6 f5f6 f5e6xe h1g2 h1h2 h1g1");
    EXPECT_EQ(described(board), expected);
}

// A lenient FEN can put a piece on the en passant square: then the pawn captures it the
// ordinary way (enemy) or not at all (own), and no en passant capture appears.
TEST_F(EngineMoveGeneration, EnPassantOnlyOntoEmptySquare) {
    load("4k3/8/4n3/3PpP2/8/8/8/4K3 w - e6 0 1");
    EXPECT_EQ(described(board), split("d5d6 d5e6x f5f6 f5e6x e1d2 e1e2 e1f2 e1d1 e1f1"));
    load("4k3/8/4B3/3PpP2/8/8/8/4K3 w - e6 0 1");
    EXPECT_EQ(described(board), split("d5d6 f5f6 e6c8 e6g8 e6d7 e6f7 e1d2 e1e2 e1f2 e1d1 e1f1"));
}

// python-chess pseudo-legal moves of the position, put in this generator's order: pieces
// P N B R Q K, sources ascending from a8, targets ascending, castling before the king.
TEST_F(EngineMoveGeneration, KiwipeteWhiteListInGenerationOrder) {
    load("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
    EXPECT_EQ(described(board),
              split("d5d6 d5e6x a2a3 a2a4d b2b3 g2g3 g2g4d g2h3x e5d7x e5f7x e5c6 e5g6x e5c4 "
                    "e5g4 e5d3 c3b5 c3a4 c3b1 c3d1 d2h6 d2g5 d2f4 d2e3 d2c1 e2a6x e2b5 e2c4 "
                    "e2d3 e2d1 e2f1 a1b1 a1c1 a1d1 h1f1 h1g1 f3f6x f3f5 f3h5 f3f4 f3g4 f3d3 "
                    "f3e3 f3g3 f3h3x e1g1c e1c1c e1d1 e1f1"));
}

// Same derivation. No short castling: the bishop on b4 hits f8 through c5, d6, e7.
TEST_F(EngineMoveGeneration, BlackListWithPromotionCapturesInGenerationOrder) {
    load("r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 b kq - 0 1");
    EXPECT_EQ(described(board),
              split("c7c6 c7c5d d7d6 d7d5d g7h6x b2b1q b2b1r b2b1b b2b1n b2a1qx b2a1rx b2a1bx "
                    "b2a1nx f6g8 f6d5 f6h5 f6e4x f6g4 a5c6 a5c4x a5b3 b6a7x b6c5 b6d4 b6e3 "
                    "b6f2 b6g1x g6f5 g6h5 g6e4x a8b8 a8c8 a8d8 a8a7x h8f8 h8g8 a3a4x a3b4x "
                    "a3b3 a3c3 a3d3 a3e3 a3f3x a3a2x e8c8c e8d8 e8f8 e8e7"));
}

// A real opening position with an en passant chance on f6 (list from python-chess).
TEST_F(EngineMoveGeneration, EnPassantFlagsAndPieceFieldsInOpening) {
    load("rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3");
    EXPECT_EQ(described(board),
              split("e5e6 e5f6xe a2a3 a2a4d b2b3 b2b4d c2c3 c2c4d d2d3 d2d4d f2f3 f2f4d g2g3 "
                    "g2g4d h2h3 h2h4d b1a3 b1c3 g1f3 g1h3 g1e2 f1a6 f1b5 f1c4 f1d3 f1e2 d1h5 "
                    "d1g4 d1f3 d1e2 e1e2"));
    // The piece field is the Piece that stands on the source square.
    for (Move m : generate(board)) {
        const int32_t mover = move_piece(m);
        ASSERT_TRUE(get_bit(board.bitboards[mover], move_source(m))) << describe(m);
    }
}

// Castling: each right on its own, for both colours.
TEST_F(EngineMoveGeneration, CastlingNeedsItsOwnRight) {
    load("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_short, white_long}));
    load("r3k2r/8/8/8/8/8/8/R3K2R w K - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_short}));
    load("r3k2r/8/8/8/8/8/8/R3K2R w Q - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_long}));
    load("r3k2r/8/8/8/8/8/8/R3K2R w kq - 0 1");
    EXPECT_EQ(castlings(board), std::vector<Move>{});
    load("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_short, black_long}));
    load("r3k2r/8/8/8/8/8/8/R3K2R b k - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_short}));
    load("r3k2r/8/8/8/8/8/8/R3K2R b q - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_long}));
    load("r3k2r/8/8/8/8/8/8/R3K2R b KQ - 0 1");
    EXPECT_EQ(castlings(board), std::vector<Move>{});
}

// Castling comes after the queen moves and before the king's ordinary moves. d1 is taken,
// so only short castling (list from python-chess, put in generation order).
TEST_F(EngineMoveGeneration, CastlingListedBetweenQueenAndKingMoves) {
    load("r3k2r/8/8/8/8/8/8/R2QK2R w KQkq - 0 1");
    EXPECT_EQ(described(board),
              split("a1a8x a1a7 a1a6 a1a5 a1a4 a1a3 a1a2 a1b1 a1c1 h1h8x h1h7 h1h6 h1h5 h1h4 "
                    "h1h3 h1h2 h1f1 h1g1 d1d8 d1d7 d1d6 d1d5 d1h5 d1a4 d1d4 d1g4 d1b3 d1d3 "
                    "d1f3 d1c2 d1d2 d1e2 d1b1 d1c1 e1g1c e1d2 e1e2 e1f2 e1f1"));
    const std::vector<Move> moves = generate(board);
    ASSERT_EQ(moves.size(), 39u);
    EXPECT_EQ(moves[34], white_short);
    for (size_t i = 0; i < 18; ++i) EXPECT_EQ(move_piece(moves[i]), piece::R) << i;
    for (size_t i = 18; i < 34; ++i) EXPECT_EQ(move_piece(moves[i]), piece::Q) << i;
    for (size_t i = 34; i < 39; ++i) EXPECT_EQ(move_piece(moves[i]), piece::K) << i;
}

// Every square between king and rook must be empty, b1/b8 included, whoever stands there.
TEST_F(EngineMoveGeneration, CastlingBlockedByAnyPieceBetweenKingAndRook) {
    load("r3k2r/8/8/8/8/8/8/R3KB1R w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_long}));
    load("r3k2r/8/8/8/8/8/8/R3K1NR w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_long}));
    load("r3k2r/8/8/8/8/8/8/RN2K2R w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_short}));
    load("r3k2r/8/8/8/8/8/8/Rn2K2R w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_short}));
    load("r3k2r/8/8/8/8/8/8/R1B1K2R w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_short}));
    load("r3k2r/8/8/8/8/8/8/R2QK2R w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_short}));
    load("rn2k2r/8/8/8/8/8/8/R3K2R b kq - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_short}));
    load("r3kb1r/8/8/8/8/8/8/R3K2R b kq - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_long}));
    load("r3k1Nr/8/8/8/8/8/8/R3K2R b kq - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_long}));
    load("r2qk2r/8/8/8/8/8/8/R3K2R b kq - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_short}));
}

// The king may not castle out of check or across an attacked square.
TEST_F(EngineMoveGeneration, CastlingBlockedWhenKingOrPassingSquareAttacked) {
    // Knight d3 checks e1 (and hits c1).
    load("r3k2r/8/8/8/8/3n4/8/R3K2R w KQ - 0 1");
    EXPECT_EQ(castlings(board), std::vector<Move>{});
    // Bishop c4 hits f1 through d3, e2.
    load("r3k2r/8/8/8/2b5/8/8/R3K2R w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_long}));
    // Bishop g4 hits d1 through f3, e2.
    load("r3k2r/8/8/8/6b1/8/8/R3K2R w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_short}));
    // Black: bishop c5 hits f8, bishop g5 hits d8, knight d6 checks e8.
    load("r3k2r/8/8/2B5/8/8/8/R3K2R b kq - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_long}));
    load("r3k2r/8/8/6B1/8/8/8/R3K2R b kq - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_short}));
    load("r3k2r/8/3N4/8/8/8/8/R3K2R b kq - 0 1");
    EXPECT_EQ(castlings(board), std::vector<Move>{});
    // A rook on the e-file behind an own piece does not check.
    load("r3k2r/8/8/8/4r3/8/4P3/R3K2R w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_short, white_long}));
}

// The destination square is left to make_move: castling into an attacked g1 or c1 is
// generated and then rejected; an attacked b1 does not matter at all.
TEST_F(EngineMoveGeneration, CastlingIntoAttackedSquareGeneratedButRejected) {
    // Bishop c5 hits g1 via d4, e3, f2.
    load("r3k2r/8/8/2b5/8/8/8/R3K2R w KQ - 0 1");
    ASSERT_EQ(castlings(board), (std::vector<Move>{white_short, white_long}));
    EXPECT_EQ(board.make_move(white_short), 0);
    EXPECT_EQ(board.make_move(white_long), 1);
    // Bishop f4 hits c1 via e3, d2.
    load("r3k2r/8/8/8/5b2/8/8/R3K2R w KQ - 0 1");
    ASSERT_EQ(castlings(board), (std::vector<Move>{white_short, white_long}));
    EXPECT_EQ(board.make_move(white_long), 0);
    EXPECT_EQ(board.make_move(white_short), 1);
    // Knight a3 hits b1 only.
    load("r3k2r/8/8/8/8/n7/8/R3K2R w KQ - 0 1");
    ASSERT_EQ(castlings(board), (std::vector<Move>{white_short, white_long}));
    EXPECT_EQ(board.make_move(white_long), 1);
    // Black: bishop c4 hits g8 via d5, e6, f7.
    load("r3k2r/8/8/8/2B5/8/8/R3K2R b kq - 0 1");
    ASSERT_EQ(castlings(board), (std::vector<Move>{black_short, black_long}));
    EXPECT_EQ(board.make_move(black_short), 0);
    EXPECT_EQ(board.make_move(black_long), 1);
}

// Castling needs the king on e1/e8: rights left over from a lenient FEN are not enough.
TEST_F(EngineMoveGeneration, NoCastlingWhenKingIsOffItsHomeSquare) {
    load("r3k2r/8/8/8/8/8/8/R2K3R w KQkq - 0 1");
    EXPECT_EQ(castlings(board), std::vector<Move>{});
    load("r2k3r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
    EXPECT_EQ(castlings(board), std::vector<Move>{});
    // A White king on e8 is not on its home square either.
    load("4K3/8/8/8/8/8/8/k7 w KQkq - 0 1");
    EXPECT_EQ(castlings(board), std::vector<Move>{});
}

// The rook itself is not looked at: the right alone stands for it.
TEST_F(EngineMoveGeneration, CastlingWithRightsButNoRookIsGenerated) {
    load("4k3/8/8/8/8/8/8/4K3 w KQ - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{white_short, white_long}));
    load("4k3/8/8/8/8/8/8/4K3 b kq - 0 1");
    EXPECT_EQ(castlings(board), (std::vector<Move>{black_short, black_long}));
}

// No pieces for the side to move: count 0, whatever the list held before.
TEST_F(EngineMoveGeneration, SideWithoutPiecesHasNoMoves) {
    EXPECT_EQ(generate(board).size(), 0u);  // fresh, empty board
    load("8/8/8/8/8/8/8/k7 w - - 0 1");
    MoveList list;
    list.count = 12345;
    board.generate_moves(list);
    EXPECT_EQ(list.count, 0);
    load("8/8/8/8/8/8/8/K7 b - - 0 1");
    EXPECT_EQ(generate(board).size(), 0u);
}

// Generation only reads the position.
TEST_F(EngineMoveGeneration, GenerationLeavesThePositionAlone) {
    load("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
    board.no_progress_count = 9;
    const Board before = board;
    generate(board);
    EXPECT_EQ(std::memcmp(board.bitboards, before.bitboards, sizeof board.bitboards), 0);
    EXPECT_EQ(std::memcmp(board.occupancies, before.occupancies, sizeof board.occupancies), 0);
    EXPECT_EQ(board.side, before.side);
    EXPECT_EQ(board.castle, before.castle);
    EXPECT_EQ(board.enpassant, before.enpassant);
    EXPECT_EQ(board.no_progress_count, 9);
}

// Twenty queens and a king: more pseudo-legal moves than the old 256-entry list held.
// The count is python-chess's pseudo-legal count of the same position.
TEST_F(EngineMoveGeneration, TwentyQueensOverflowTheOldListSize) {
    EXPECT_EQ(max_moves, 2048);
    load("K1QQQQQ1/Q6Q/Q6Q/4Q3/1Q5Q/5Q1Q/Q6Q/1QQQ2Q1 w - - 0 1");
    ASSERT_EQ(count_bits(board.bitboards[piece::Q]), 20);
    const std::vector<Move> moves = generate(board);
    EXPECT_EQ(moves.size(), 261u);
    EXPECT_EQ(std::set<Move>(moves.begin(), moves.end()).size(), moves.size());
    for (Move m : moves) ASSERT_FALSE(get_bit(board.occupancies[white], move_target(m)));
    // The colours swapped, Black to move: the same count.
    load("k1qqqqq1/q6q/q6q/4q3/1q5q/5q1q/q6q/1qqq2q1 b - - 0 1");
    EXPECT_EQ(generate(board).size(), 261u);
}

// f3 is covered three times (e2, g2, g1), e4 not at all.
TEST_F(EngineMoveGeneration, StartPositionAttackExamples) {
    load(start_position);
    EXPECT_EQ(board.is_square_attacked(e4, white), 0);
    EXPECT_EQ(board.is_square_attacked(f3, white), 1);
    EXPECT_EQ(board.is_square_attacked(f6, black), 1);
    EXPECT_EQ(board.is_square_attacked(e5, black), 0);
    // Nothing reaches the far half at the start.
    EXPECT_EQ(board.is_square_attacked(e6, white), 0);
    EXPECT_EQ(board.is_square_attacked(e3, black), 0);
}

// Attacked squares of every square for both sides, from python-chess (Board.is_attacked_by).
TEST_F(EngineMoveGeneration, AttackedSquaresOfKiwipeteMatchReference) {
    load("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
    const Bitboard expected[2] = {0x7ef9ff75eaf52800ULL, 0x00508dd7aefebbffULL};
    for (int32_t by = white; by <= black; ++by) {
        Bitboard attacked = 0;
        for (int32_t square = 0; square < 64; ++square)
            if (board.is_square_attacked(square, by)) set_bit(attacked, square);
        EXPECT_EQ(attacked, expected[by]) << "side " << by;
    }
}

// Each attacker kind on its own, and the direction a pawn attacks in.
TEST_F(EngineMoveGeneration, EachPieceKindAttacksOnlyForItsOwnSide) {
    load("8/8/8/4p3/4P3/8/8/8 w - - 0 1");
    EXPECT_EQ(board.is_square_attacked(d5, white), 1);
    EXPECT_EQ(board.is_square_attacked(f5, white), 1);
    EXPECT_EQ(board.is_square_attacked(d3, white), 0);
    EXPECT_EQ(board.is_square_attacked(e5, white), 0);
    EXPECT_EQ(board.is_square_attacked(d4, black), 1);
    EXPECT_EQ(board.is_square_attacked(f4, black), 1);
    EXPECT_EQ(board.is_square_attacked(d6, black), 0);
    EXPECT_EQ(board.is_square_attacked(d5, black), 0);
    // Knight.
    load("8/8/8/8/8/8/8/1N6 w - - 0 1");
    EXPECT_EQ(board.is_square_attacked(c3, white), 1);
    EXPECT_EQ(board.is_square_attacked(c3, black), 0);
    EXPECT_EQ(board.is_square_attacked(b3, white), 0);
    // Bishop blocked by a pawn of either colour.
    load("8/8/8/8/8/8/3p4/2B5 w - - 0 1");
    EXPECT_EQ(board.is_square_attacked(d2, white), 1);
    EXPECT_EQ(board.is_square_attacked(e3, white), 0);
    EXPECT_EQ(board.is_square_attacked(b2, white), 1);
    // Rook along the row, blocked on the file.
    load("8/8/8/8/8/8/R7/r7 b - - 0 1");
    EXPECT_EQ(board.is_square_attacked(h1, black), 1);
    EXPECT_EQ(board.is_square_attacked(a2, black), 1);
    EXPECT_EQ(board.is_square_attacked(a3, black), 0);
    EXPECT_EQ(board.is_square_attacked(a3, white), 1);
    // Queen both ways; a bishop does not attack straight, a rook not diagonally.
    load("8/8/8/3q4/8/8/8/8 w - - 0 1");
    EXPECT_EQ(board.is_square_attacked(h1, black), 1);
    EXPECT_EQ(board.is_square_attacked(d1, black), 1);
    EXPECT_EQ(board.is_square_attacked(e3, black), 0);
    load("8/8/8/3b4/8/8/8/3r4 w - - 0 1");
    EXPECT_EQ(board.is_square_attacked(d4, black), 1);  // rook d1 up the file
    EXPECT_EQ(board.is_square_attacked(d6, black), 0);  // behind the bishop
    EXPECT_EQ(board.is_square_attacked(c1, black), 1);  // rook along the row
    EXPECT_EQ(board.is_square_attacked(e4, black), 1);  // bishop diagonal
    EXPECT_EQ(board.is_square_attacked(e5, black), 0);
    // King.
    load("8/8/8/8/8/8/8/7k w - - 0 1");
    EXPECT_EQ(board.is_square_attacked(g2, black), 1);
    EXPECT_EQ(board.is_square_attacked(f1, black), 0);
    EXPECT_EQ(board.is_square_attacked(g2, white), 0);
}

}  // namespace
}  // namespace ortolan
