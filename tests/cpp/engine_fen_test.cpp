// FEN loading: the four fields read, the lenient handling of odd text, texts cut short at
// every length, and random byte strings followed by random moves. The cut and random texts
// live in heap buffers of exactly their length plus the NUL, so a read past the end shows
// under AddressSanitizer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "engine/bits.h"
#include "engine/board.h"
#include "engine/movegen.h"
#include "engine/types.h"
#include "engine_support.h"

namespace ortolan {
namespace {

// Parses a copy of the first length characters of text held in a buffer of exactly
// length + 1 bytes.
void parse_exact(Board& board, const char* text, size_t length) {
    std::vector<char> buffer(text, text + length);
    buffer.push_back('\0');
    board.parse_fen(buffer.data());
}

// No square in two bitboards, occupancies the ORs of the bitboards, fields in range.
::testing::AssertionResult position_is_sound(const Board& b) {
    Bitboard seen = 0, white_pieces = 0, black_pieces = 0;
    for (int i = 0; i < 12; ++i) {
        if (seen & b.bitboards[i])
            return ::testing::AssertionFailure() << "bitboard " << i << " overlaps another";
        seen |= b.bitboards[i];
        (i < 6 ? white_pieces : black_pieces) |= b.bitboards[i];
    }
    if (b.occupancies[white] != white_pieces || b.occupancies[black] != black_pieces ||
        b.occupancies[both] != (white_pieces | black_pieces))
        return ::testing::AssertionFailure() << "occupancies disagree with bitboards";
    if (b.enpassant < 0 || b.enpassant > 64)
        return ::testing::AssertionFailure() << "enpassant " << b.enpassant;
    if (b.side != white && b.side != black)
        return ::testing::AssertionFailure() << "side " << b.side;
    if (b.castle < 0 || b.castle > 15)
        return ::testing::AssertionFailure() << "castle " << b.castle;
    return ::testing::AssertionSuccess();
}

bool same_position(const Board& a, const Board& b) {
    return std::memcmp(a.bitboards, b.bitboards, sizeof a.bitboards) == 0 &&
           std::memcmp(a.occupancies, b.occupancies, sizeof a.occupancies) == 0 &&
           a.castle == b.castle && a.enpassant == b.enpassant && a.side == b.side;
}

class EngineFen : public ::testing::Test {
protected:
    Board board;
    void load(const char* fen) { board.parse_fen(fen); }
};

// The counter is reset by loading even when it held a value before.
TEST_F(EngineFen, StartPositionFields) {
    board.no_progress_count = 42;
    load(start_position);
    EXPECT_EQ(board.bitboards[piece::P], 0x00ff000000000000ULL);  // squares 48..55
    EXPECT_EQ(board.bitboards[piece::N], squares_of({b1, g1}));
    EXPECT_EQ(board.bitboards[piece::B], squares_of({c1, f1}));
    EXPECT_EQ(board.bitboards[piece::R], squares_of({a1, h1}));
    EXPECT_EQ(board.bitboards[piece::Q], squares_of({d1}));
    EXPECT_EQ(board.bitboards[piece::K], squares_of({60}));
    EXPECT_EQ(board.bitboards[piece::p], 0x000000000000ff00ULL);
    EXPECT_EQ(board.bitboards[piece::n], squares_of({b8, g8}));
    EXPECT_EQ(board.bitboards[piece::b], squares_of({c8, f8}));
    EXPECT_EQ(board.bitboards[piece::r], squares_of({a8, h8}));
    EXPECT_EQ(board.bitboards[piece::q], squares_of({d8}));
    EXPECT_EQ(board.bitboards[piece::k], squares_of({4}));
    EXPECT_EQ(board.occupancies[white], 0xffff000000000000ULL);
    EXPECT_EQ(board.occupancies[black], 0x000000000000ffffULL);
    EXPECT_EQ(board.occupancies[both], 0xffff00000000ffffULL);
    EXPECT_EQ(board.side, 0);
    EXPECT_EQ(board.castle, 15);
    EXPECT_EQ(board.enpassant, 64);
    EXPECT_EQ(board.no_progress_count, 0);
}

// Nothing left over from the previous position.
TEST_F(EngineFen, EightEmptyRowsWithBlackToMove) {
    load(start_position);
    load("8/8/8/8/8/8/8/8 b - - 0 1");
    for (int i = 0; i < 12; ++i) EXPECT_EQ(board.bitboards[i], Bitboard{0}) << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(board.occupancies[i], Bitboard{0}) << i;
    EXPECT_EQ(board.side, 1);
    EXPECT_EQ(board.castle, 0);
    EXPECT_EQ(board.enpassant, 64);
}

// e3 is 44 and d6 is 19 in a8-first numbering.
TEST_F(EngineFen, EnPassantFieldGivesSquare) {
    load("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    EXPECT_EQ(board.enpassant, 44);
    EXPECT_EQ(board.side, 1);
    load("rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 2");
    EXPECT_EQ(board.enpassant, 19);
    EXPECT_EQ(board.side, 0);
}

// Letter and digit are used as they come; only a result off 0..63 means no square.
TEST_F(EngineFen, EnPassantFormulaOffTheBoardMeansNoSquare) {
    const struct {
        const char* field;
        int32_t square;
    } cases[] = {
        {"a1", 56}, {"h8", 7},  {"i1", 64}, {"a9", 64}, {"h0", 64}, {"z9", 17},
        {"A3", 8},  {"a0", 64}, {"-", 64},  {"~~", 64}, {"!9", 64},
    };
    for (const auto& c : cases) {
        const std::string fen = std::string("4k3/8/8/8/8/8/8/4K3 w - ") + c.field + " 0 1";
        load(fen.c_str());
        EXPECT_EQ(board.enpassant, c.square) << c.field;
    }
}

// Half-move and full-move fields are never read, not even into no_progress_count.
TEST_F(EngineFen, ClocksHaveNoEffect) {
    const char* base = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -";
    load((std::string(base) + " 0 1").c_str());
    const Board reference = board;
    for (const char* tail : {" 99 123", "", " ", " x y z", " -5", " 49 1 extra words"}) {
        board.no_progress_count = 17;
        load((std::string(base) + tail).c_str());
        EXPECT_TRUE(same_position(board, reference)) << '"' << tail << '"';
        EXPECT_EQ(board.no_progress_count, 0) << '"' << tail << '"';
    }
}

// Letters in any order; unknown characters are skipped, not fatal.
TEST_F(EngineFen, CastlingFieldLetters) {
    const struct {
        const char* field;
        int32_t castle;
    } cases[] = {{"KQ", 3}, {"-", 0},    {"Kq", 9}, {"kqKQ", 15},
                 {"q", 8},  {"KxQ?", 3}, {"kk", 4}, {"KQkq", 15}};
    for (const auto& c : cases) {
        const std::string fen = std::string("r3k2r/8/8/8/8/8/8/R3K2R w ") + c.field + " - 0 1";
        load(fen.c_str());
        EXPECT_EQ(board.castle, c.castle) << c.field;
        EXPECT_EQ(board.enpassant, 64) << c.field;
    }
}

// Any side letter but "w" means Black.
TEST_F(EngineFen, SideOtherThanLowerCaseWIsBlack) {
    for (const char* side : {"b", "W", "x", "-"}) {
        const std::string fen = std::string("4k3/8/8/8/8/8/8/4K3 ") + side + " - - 0 1";
        load(fen.c_str());
        EXPECT_EQ(board.side, 1) << side;
    }
    load("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
    EXPECT_EQ(board.side, 0);
}

// A letter that names no piece leaves its square empty but uses it up.
TEST_F(EngineFen, UnknownLetterTakesASquareAndPlacesNothing) {
    load("xk6/8/8/8/8/8/8/K6Z w - - 0 1");
    EXPECT_EQ(board.bitboards[piece::k], squares_of({b8}));
    EXPECT_EQ(board.bitboards[piece::K], squares_of({a1}));
    EXPECT_EQ(board.occupancies[both], squares_of({b8, a1}));
    EXPECT_EQ(board.side, 0);
}

// A row of too few squares pulls the next row's text into it: "k/" plus the first "8/" fill
// row 0, every later row shifts up one, and the last row is left empty.
TEST_F(EngineFen, ShortRowShiftsLaterRowsUp) {
    load("k/8/8/8/8/8/8/K7 w - - 0 1");
    EXPECT_EQ(board.bitboards[piece::k], squares_of({a8}));
    EXPECT_EQ(board.bitboards[piece::K], squares_of({a2}));
    EXPECT_EQ(board.occupancies[both], squares_of({a8, a2}));
    EXPECT_EQ(board.side, 0);
    EXPECT_EQ(board.castle, 0);
    EXPECT_EQ(board.enpassant, 64);
}

// "9" ends a row like "8"; "44" is two skips of four; "0" skips nothing.
TEST_F(EngineFen, UnusualDigitsInPlacement) {
    load("9/44/8/8/0k7/8/8/3K4 b - - 0 1");
    EXPECT_EQ(board.bitboards[piece::k], squares_of({a4}));
    EXPECT_EQ(board.bitboards[piece::K], squares_of({d1}));
    EXPECT_EQ(board.occupancies[both], squares_of({a4, d1}));
    EXPECT_EQ(board.side, 1);
    load("4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1");
    EXPECT_EQ(board.bitboards[piece::R], squares_of({a1, h1}));
    EXPECT_EQ(board.bitboards[piece::K], squares_of({e1}));
    EXPECT_EQ(board.bitboards[piece::k], squares_of({e8}));
}

// Rights and en passant of the earlier position must not leak through.
TEST_F(EngineFen, ReloadingClearsThePreviousPosition) {
    load("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq e3 0 1");
    load("8/8/8/8/8/8/8/8 w - - 0 1");
    for (int i = 0; i < 12; ++i) EXPECT_EQ(board.bitboards[i], Bitboard{0}) << i;
    EXPECT_EQ(board.occupancies[both], Bitboard{0});
    EXPECT_EQ(board.castle, 0);
    EXPECT_EQ(board.enpassant, 64);
    EXPECT_EQ(board.side, 0);
}

// Only the position members and the counter change; the episode members and the backup
// keep whatever they held.
TEST_F(EngineFen, LeavesEpisodeMembersAndBackupAlone) {
    board.total_move_count = 11;
    board.state_pos = 5;
    board.just_reset = 1;
    board.n_repititions = 2;
    board.prev_n_repititions = 1;
    board.castle_copy = 9;
    board.enpassant_copy = 33;
    board.side_copy = 1;
    board.bitboards_copy[3] = 0x1234;
    board.occupancies_copy[2] = 0x5678;
    load(start_position);
    EXPECT_EQ(board.total_move_count, 11);
    EXPECT_EQ(board.state_pos, 5);
    EXPECT_EQ(board.just_reset, 1);
    EXPECT_EQ(board.n_repititions, 2);
    EXPECT_EQ(board.prev_n_repititions, 1);
    EXPECT_EQ(board.castle_copy, 9);
    EXPECT_EQ(board.enpassant_copy, 33);
    EXPECT_EQ(board.side_copy, 1);
    EXPECT_EQ(board.bitboards_copy[3], Bitboard{0x1234});
    EXPECT_EQ(board.occupancies_copy[2], Bitboard{0x5678});
}

// Every prefix of a full FEN: the pieces read so far, and each later field at its cleared
// value until the text reaches it.
TEST_F(EngineFen, TextCutShortAtEveryLengthKeepsClearedFields) {
    const char* full = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1";
    const size_t placement = std::strlen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR");
    Board complete;
    complete.parse_fen(full);
    for (size_t n = 0; n <= std::strlen(full); ++n) {
        // Start from a position whose fields differ from the cleared ones.
        load("r3k2r/8/8/8/8/8/8/R3K2R w KQkq d6 0 1");
        board.no_progress_count = 3;
        parse_exact(board, full, n);
        ASSERT_TRUE(position_is_sound(board)) << n;

        int32_t letters = 0;
        for (size_t i = 0; i < n && i < placement; ++i)
            letters += std::strchr("PNBRQKpnbrqk", full[i]) != nullptr;
        int32_t pieces = 0;
        for (int i = 0; i < 12; ++i) {
            EXPECT_EQ(board.bitboards[i] & ~complete.bitboards[i], Bitboard{0}) << n;
            pieces += count_bits(board.bitboards[i]);
        }
        EXPECT_EQ(pieces, letters) << n;

        const int32_t side = n >= placement + 2 ? 1 : 0;
        int32_t castle = 0;
        if (n >= placement + 4) castle = 1;
        if (n >= placement + 5) castle = 3;
        if (n >= placement + 6) castle = 7;
        if (n >= placement + 7) castle = 15;
        const int32_t enpassant = n >= placement + 10 ? 44 : 64;
        EXPECT_EQ(board.side, side) << n;
        EXPECT_EQ(board.castle, castle) << n;
        EXPECT_EQ(board.enpassant, enpassant) << n;
        EXPECT_EQ(board.no_progress_count, 0) << n;
    }
    EXPECT_TRUE(same_position(board, complete));
}

// The shortest cut of all: the NUL comes first.
TEST_F(EngineFen, EmptyTextGivesEmptyBoard) {
    load(start_position);
    parse_exact(board, "", 0);
    EXPECT_EQ(board.occupancies[both], Bitboard{0});
    EXPECT_EQ(board.side, 0);
    EXPECT_EQ(board.castle, 0);
    EXPECT_EQ(board.enpassant, 64);
}

// Random texts, half pure noise and half damaged real FENs, each followed by a few random
// generated moves. Whatever the text, the position stays sound; a rejected move changes
// nothing; an accepted one leaves the mover's king (if any) unattacked.
TEST_F(EngineFen, RandomTextsThenRandomMovesKeepPositionSound) {
    const char* seeds[] = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
        "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
        "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
    };
    const std::string alphabet = "pnbrqkPNBRQK0123456789/ wb-KQkqabcdefghx";
    std::mt19937 rng(8675309);
    auto below = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };

    int32_t accepted = 0, rejected = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        std::string text;
        if (trial % 2 == 0) {
            const uint32_t length = below(100);
            for (uint32_t i = 0; i < length; ++i)
                text += below(3) == 0 ? static_cast<char>(1 + below(255))
                                      : alphabet[below(static_cast<uint32_t>(alphabet.size()))];
        } else {
            text = seeds[below(5)];
            const uint32_t edits = 1 + below(6);
            for (uint32_t e = 0; e < edits && !text.empty(); ++e) {
                const uint32_t at = below(static_cast<uint32_t>(text.size()));
                switch (below(3)) {
                    case 0:
                        text[at] = alphabet[below(static_cast<uint32_t>(alphabet.size()))];
                        break;
                    case 1:
                        text.erase(at, 1);
                        break;
                    default:
                        text.resize(at);
                        break;
                }
            }
        }
        parse_exact(board, text.data(), text.size());
        ASSERT_TRUE(position_is_sound(board)) << '"' << text << '"';

        for (int ply = 0; ply < 8; ++ply) {
            MoveList list;
            board.generate_moves(list);
            ASSERT_GE(list.count, 0);
            ASSERT_LE(list.count, max_moves);
            if (list.count == 0) break;
            const Move move = list.moves[below(static_cast<uint32_t>(list.count))];
            const Board before = board;
            const int32_t mover = board.side;
            const int32_t result = board.make_move(move);
            ASSERT_TRUE(position_is_sound(board)) << '"' << text << "\" ply " << ply;
            if (result == 0) {
                ++rejected;
                ASSERT_TRUE(same_position(board, before)) << '"' << text << '"';
                ASSERT_EQ(board.no_progress_count, before.no_progress_count);
            } else {
                ASSERT_EQ(result, 1);
                ++accepted;
                ASSERT_EQ(board.side, mover ^ 1);
                const int32_t king = board.king_square(mover);
                if (king >= 0) {
                    ASSERT_EQ(board.is_square_attacked(king, board.side), 0);
                }
            }
        }
    }
    // The trials reached both outcomes many times.
    EXPECT_GT(accepted, 5000);
    EXPECT_GT(rejected, 500);
}

}  // namespace
}  // namespace ortolan
