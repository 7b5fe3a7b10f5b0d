// The Board record: what construction leaves, the square/piece/right encodings, the
// castling-right masks and the one-deep position backup.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "engine/bits.h"
#include "engine/board.h"
#include "engine/types.h"

namespace ortolan {
namespace {

// Construction over memory full of garbage, so that a member left unset shows up.
TEST(EngineBoardConstruction, EveryMemberStartsCleared) {
    alignas(Board) unsigned char storage[sizeof(Board)];
    std::memset(storage, 0xa5, sizeof storage);
    Board* board = new (storage) Board();

    EXPECT_EQ(board->total_move_count, 0);
    EXPECT_EQ(board->state_pos, 0);
    EXPECT_EQ(board->no_progress_count, 0);
    EXPECT_EQ(board->just_reset, 0);
    EXPECT_EQ(board->castle, 0);
    EXPECT_EQ(board->enpassant, 64);
    EXPECT_EQ(board->side, 0);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(board->bitboards[i], Bitboard{0}) << i;
        EXPECT_EQ(board->bitboards_copy[i], Bitboard{0}) << i;
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(board->occupancies[i], Bitboard{0}) << i;
        EXPECT_EQ(board->occupancies_copy[i], Bitboard{0}) << i;
    }
    EXPECT_EQ(board->castle_copy, 0);
    EXPECT_EQ(board->enpassant_copy, 0);
    EXPECT_EQ(board->side_copy, 0);
    EXPECT_EQ(board->n_repititions, 0);
    EXPECT_EQ(board->prev_n_repititions, 0);
    EXPECT_TRUE(board->repetition_count.empty());
    EXPECT_TRUE(board->ActionMap.empty());
    EXPECT_EQ(board->state_history.size(), 0);

    board->~Board();
}

// Row 0 is rank 8: an easy place to get the board upside down.
TEST(EngineBoardEncoding, SquaresCountFromA8ToH1) {
    EXPECT_EQ(a8, 0);
    EXPECT_EQ(h8, 7);
    EXPECT_EQ(a7, 8);
    EXPECT_EQ(e8, 4);
    EXPECT_EQ(a1, 56);
    EXPECT_EQ(e1, 60);
    EXPECT_EQ(h1, 63);
    EXPECT_EQ(no_square, 64);
    EXPECT_EQ(square_bit(e1), Bitboard{1} << 60);
    EXPECT_EQ(row_of(e1), 7);
    EXPECT_EQ(file_of(e1), 4);
    for (int32_t square = 0; square < 64; ++square) {
        const std::string expected = {static_cast<char>('a' + square % 8),
                                      static_cast<char>('8' - square / 8)};
        EXPECT_EQ(square_names[square], expected) << square;
    }
}

// Black pieces are the White ones plus 6; rights are single bits K=1 Q=2 k=4 q=8.
TEST(EngineBoardEncoding, PiecesSidesAndRights) {
    EXPECT_STREQ(piece_letters, "PNBRQKpnbrqk");
    EXPECT_EQ(piece::P, 0);
    EXPECT_EQ(piece::K, 5);
    EXPECT_EQ(piece::p, 6);
    EXPECT_EQ(piece::k, 11);
    EXPECT_EQ(piece::q, piece::Q + 6);
    EXPECT_EQ(white, 0);
    EXPECT_EQ(black, 1);
    EXPECT_EQ(both, 2);
    EXPECT_EQ(white_kingside, 1);
    EXPECT_EQ(white_queenside, 2);
    EXPECT_EQ(black_kingside, 4);
    EXPECT_EQ(black_queenside, 8);
    EXPECT_STREQ(start_position, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 ");
}

// 15 everywhere but the six king and rook home squares.
TEST(EngineBoardEncoding, CastleKeepMaskOnlyOnKingAndRookHomes) {
    for (int32_t square = 0; square < 64; ++square) {
        int32_t expected = 15;
        if (square == a8) expected = 7;
        if (square == e8) expected = 3;
        if (square == h8) expected = 11;
        if (square == a1) expected = 13;
        if (square == e1) expected = 12;
        if (square == h1) expected = 14;
        EXPECT_EQ(castle_keep_mask[square], expected) << square;
    }
    // A king move from e1 keeps only Black's rights; a capture on h8 drops Black's short one.
    EXPECT_EQ(15 & castle_keep_mask[e1] & castle_keep_mask[f1], 12);
    EXPECT_EQ(15 & castle_keep_mask[b2] & castle_keep_mask[h8], 11);
}

// The backup covers the five position members only; the counters keep their new values.
TEST(EngineBoardBackup, RestoreGivesBackPositionButNotCounters) {
    Board board;
    board.parse_fen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq e3 0 1");
    const Board before = board;
    board.backup_position();
    for (Bitboard& b : board.bitboards) b = ~b;
    for (Bitboard& o : board.occupancies) o ^= 0x0123456789abcdefULL;
    board.castle = 3;
    board.enpassant = 20;
    board.side = 1;
    board.no_progress_count = 41;
    board.total_move_count = 17;
    board.restore_position();

    EXPECT_EQ(std::memcmp(board.bitboards, before.bitboards, sizeof board.bitboards), 0);
    EXPECT_EQ(std::memcmp(board.occupancies, before.occupancies, sizeof board.occupancies), 0);
    EXPECT_EQ(board.castle, 15);
    EXPECT_EQ(board.enpassant, e3);
    EXPECT_EQ(board.side, 0);
    EXPECT_EQ(board.no_progress_count, 41);
    EXPECT_EQ(board.total_move_count, 17);
    // The copies hold the position that was backed up.
    EXPECT_EQ(board.castle_copy, 15);
    EXPECT_EQ(board.enpassant_copy, e3);
    EXPECT_EQ(board.side_copy, 0);
    EXPECT_EQ(std::memcmp(board.bitboards_copy, before.bitboards, sizeof board.bitboards), 0);
    EXPECT_EQ(std::memcmp(board.occupancies_copy, before.occupancies, sizeof board.occupancies), 0);
}

}  // namespace
}  // namespace ortolan
