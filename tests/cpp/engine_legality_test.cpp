// The legal move generator: it must give exactly the moves make_move accepts, whatever the
// position, and leave the position alone. Also the between-squares table it uses. Move lists
// are compared in sorted order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/attacks.h"
#include "engine/bits.h"
#include "engine/board.h"
#include "engine/movegen.h"
#include "engine/types.h"
#include "engine_support.h"

namespace ortolan {
namespace {

std::string describe(Move m) {
    std::string s = name_of(move_source(m)) + name_of(move_target(m));
    if (move_promoted(m)) s += "pnbrqkpnbrqk"[move_promoted(m)];
    if (move_capture(m)) s += 'x';
    return s;
}

std::vector<std::string> split(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    std::sort(words.begin(), words.end());
    return words;
}

bool same_position(const Board& a, const Board& b) {
    return std::memcmp(a.bitboards, b.bitboards, sizeof a.bitboards) == 0 &&
           std::memcmp(a.occupancies, b.occupancies, sizeof a.occupancies) == 0 &&
           a.castle == b.castle && a.enpassant == b.enpassant && a.side == b.side &&
           a.no_progress_count == b.no_progress_count;
}

// The reference: every generated move tried with make_move and taken back.
std::vector<Move> legal_by_trial(Board& board) {
    MoveList list;
    board.generate_moves(list);
    std::vector<Move> legal;
    const Board before = board;
    for (int32_t i = 0; i < list.count; ++i) {
        if (board.make_move(list.moves[i])) {
            legal.push_back(list.moves[i]);
            board.restore_position();
            board.no_progress_count = before.no_progress_count;
        }
    }
    std::sort(legal.begin(), legal.end());
    return legal;
}

std::vector<Move> legal_by_filter(Board& board) {
    MoveList list;
    board.legal_moves(list);
    std::vector<Move> moves(list.moves, list.moves + list.count);
    std::sort(moves.begin(), moves.end());
    return moves;
}

std::vector<std::string> described(const std::vector<Move>& moves) {
    std::vector<std::string> out;
    for (Move m : moves) out.push_back(describe(m));
    std::sort(out.begin(), out.end());
    return out;
}

// Filter and trial agree, the position is left alone, and has_legal_move agrees too.
::testing::AssertionResult filter_agrees(Board& board) {
    const Board before = board;
    const std::vector<Move> expected = legal_by_trial(board);
    const std::vector<Move> kept = legal_by_filter(board);
    if (!same_position(board, before))
        return ::testing::AssertionFailure() << "legal_moves changed the position";
    if (kept != expected) {
        ::testing::AssertionResult failure = ::testing::AssertionFailure();
        failure << "kept:";
        for (Move m : kept) failure << ' ' << describe(m);
        failure << "\nby trial:";
        for (Move m : expected) failure << ' ' << describe(m);
        return failure;
    }
    if (board.has_legal_move() != !expected.empty())
        return ::testing::AssertionFailure() << "has_legal_move says " << !expected.empty();
    if (!same_position(board, before))
        return ::testing::AssertionFailure() << "has_legal_move changed the position";
    return ::testing::AssertionSuccess();
}

// Squares strictly between two squares on a common row, file or diagonal, walked here.
Bitboard reference_between(int32_t from, int32_t to) {
    const int32_t dr = to / 8 - from / 8, df = to % 8 - from % 8;
    if (from == to) return 0;
    if (dr != 0 && df != 0 && dr != df && dr != -df) return 0;
    const int32_t sr = (dr > 0) - (dr < 0), sf = (df > 0) - (df < 0);
    Bitboard result = 0;
    for (int32_t r = from / 8 + sr, f = from % 8 + sf; r * 8 + f != to; r += sr, f += sf)
        result |= Bitboard{1} << (r * 8 + f);
    return result;
}

TEST(EngineBetweenTable, SquaresStrictlyBetweenOnLinesOnly) {
    init_attack_tables();
    for (int32_t from = 0; from < 64; ++from)
        for (int32_t to = 0; to < 64; ++to)
            ASSERT_EQ(between_table[from][to], reference_between(from, to)) << from << " " << to;
    EXPECT_EQ(between_table[a1][h8], squares_of({b2, c3, d4, e5, f6, g7}));
    EXPECT_EQ(between_table[e1][e8], squares_of({e2, e3, e4, e5, e6, e7}));
    EXPECT_EQ(between_table[h1][a1], squares_of({b1, c1, d1, e1, f1, g1}));
    EXPECT_EQ(between_table[a1][b3], Bitboard{0});  // a knight's jump: no line
    EXPECT_EQ(between_table[e4][e5], Bitboard{0});  // neighbours
    EXPECT_EQ(between_table[h2][a3], Bitboard{0});  // would wrap around the board
}

class EngineLegalMoves : public ::testing::Test {
protected:
    Board board;
    void load(const char* fen) { board.parse_fen(fen); }
};

// A knight pinned on the file has no move at all.
TEST_F(EngineLegalMoves, KnightPinnedOnFileCannotMove) {
    load("4k3/4r3/8/8/8/8/4N3/4K3 w - - 0 1");
    EXPECT_EQ(described(legal_by_filter(board)), split("e1d2 e1f2 e1d1 e1f1"));
    EXPECT_TRUE(filter_agrees(board));
}

// A pinned rook may still slide along the pin line, up to taking the pinner.
TEST_F(EngineLegalMoves, RookPinnedOnFileSlidesAlongIt) {
    load("4k3/4r3/8/8/8/8/4R3/4K3 w - - 0 1");
    EXPECT_EQ(described(legal_by_filter(board)),
              split("e2e7x e2e6 e2e5 e2e4 e2e3 e1d2 e1f2 e1d1 e1f1"));
    EXPECT_TRUE(filter_agrees(board));
}

// A bishop pinned by a queen on the diagonal keeps only the two squares on that diagonal.
TEST_F(EngineLegalMoves, BishopPinnedByQueenOnDiagonal) {
    load("4k3/8/8/8/7q/8/5B2/4K3 w - - 0 1");
    EXPECT_EQ(described(legal_by_filter(board)), split("f2h4x f2g3 e1d2 e1e2 e1d1 e1f1"));
    EXPECT_TRUE(filter_agrees(board));
}

// Two pieces between king and rook: neither is pinned. An enemy piece between: no pin.
TEST_F(EngineLegalMoves, TwoBlockersOrEnemyBlockerMeanNoPin) {
    load("4k3/4r3/8/8/8/4N3/4N3/4K3 w - - 0 1");
    EXPECT_TRUE(filter_agrees(board));
    EXPECT_EQ(legal_by_filter(board).size(), 18u);  // 8 + 6 knight jumps, 4 king steps
    load("4k3/4r3/8/4n3/8/8/4N3/4K3 w - - 0 1");
    EXPECT_TRUE(filter_agrees(board));
}

// In check every move is tried: only blocks, captures of the checker and king steps remain.
TEST_F(EngineLegalMoves, InCheckOnlyAnswersToTheCheck) {
    // Rook a1 checks along the first row: the knight takes it or blocks on c1; the king may
    // not stay on the row (d1, and f1 behind it).
    load("4k3/8/8/8/8/1N6/8/r3K3 w - - 0 1");
    EXPECT_EQ(described(legal_by_filter(board)), split("b3a1x b3c1 e1d2 e1e2 e1f2"));
    EXPECT_TRUE(filter_agrees(board));
}

// En passant is always tried: here it would empty the king's row for the rook.
TEST_F(EngineLegalMoves, EnPassantAlongTheKingsRowIsTried) {
    load("8/8/8/KPp4r/8/8/8/7k w - c6 0 1");
    EXPECT_TRUE(filter_agrees(board));
    for (Move m : legal_by_filter(board)) EXPECT_EQ(move_enpassant(m), 0) << describe(m);
}

// A side without a king: make_move accepts everything, so the filter keeps everything.
TEST_F(EngineLegalMoves, SideWithoutKingKeepsEveryMove) {
    load("4k3/8/8/8/8/8/8/RN6 w - - 0 1");
    EXPECT_TRUE(filter_agrees(board));
    MoveList list;
    board.generate_moves(list);
    EXPECT_EQ(legal_by_filter(board).size(), static_cast<size_t>(list.count));
}

TEST_F(EngineLegalMoves, CheckmateAndStalemateHaveNoLegalMove) {
    load("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1");  // mate
    EXPECT_FALSE(board.has_legal_move());
    EXPECT_TRUE(filter_agrees(board));
    load("7k/8/6Q1/8/8/8/8/6K1 b - - 0 1");  // stalemate
    EXPECT_FALSE(board.has_legal_move());
    EXPECT_TRUE(filter_agrees(board));
    load("7k/8/6Q1/8/8/8/6p1/6K1 b - - 0 1");  // the pawn is blocked, the king is stuck
    EXPECT_FALSE(board.has_legal_move());
}

// Every node of a two- or three-ply walk from positions full of pins and checks.
TEST_F(EngineLegalMoves, FilterMatchesTrialAtEveryNodeOfPublishedPositions) {
    struct Walk {
        Board& board;
        int32_t nodes = 0;
        void visit(int32_t depth) {
            ++nodes;
            ASSERT_TRUE(filter_agrees(board));
            if (depth == 0) return;
            const Board saved = board;
            for (Move m : legal_by_trial(board)) {
                ASSERT_EQ(board.make_move(m), 1);
                visit(depth - 1);
                board = saved;
            }
        }
    };
    const struct {
        const char* fen;
        int32_t depth;
    } cases[] = {
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 2},
        {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 3},
        {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 3},
        {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 2},
        {"8/8/1P2K3/8/2n5/1q6/8/5k2 b - - 0 1", 3},
        {"3k4/3p4/8/K1P4r/8/8/8/8 b - - 0 1", 3},
        {"8/8/4k3/8/2p5/8/B2P2K1/8 w - - 0 1", 3},
    };
    for (const auto& c : cases) {
        load(c.fen);
        Walk walk{board};
        walk.visit(c.depth);
        EXPECT_GT(walk.nodes, 0) << c.fen;
        if (HasFatalFailure()) return;
    }
}

// Random lenient positions (several kings, pawns on the last rows, stray rights and en
// passant squares) and random legal continuations: filter and trial never disagree.
TEST_F(EngineLegalMoves, FilterMatchesTrialInRandomLenientPositions) {
    std::mt19937 rng(424242);
    auto below = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    int32_t positions = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        // A placement of random pieces on random squares, then the other fields.
        std::string fen;
        for (int32_t row = 0; row < 8; ++row) {
            int32_t empty = 0;
            for (int32_t file = 0; file < 8; ++file) {
                if (below(4) == 0) {
                    if (empty) fen += static_cast<char>('0' + empty);
                    empty = 0;
                    // Kings and sliders more often than their share, so pins and checks come up.
                    const char* pool = below(2) ? "KkQqRrBb" : "PNBRQKpnbrqk";
                    fen += pool[below(static_cast<uint32_t>(std::strlen(pool)))];
                } else {
                    ++empty;
                }
            }
            if (empty) fen += static_cast<char>('0' + empty);
            if (row < 7) fen += '/';
        }
        fen += below(2) ? " w " : " b ";
        fen += below(2) ? "KQkq" : "-";
        fen += ' ';
        fen += below(3) ? std::string("-") : name_of(below(2) ? 16 + below(8) : 40 + below(8));
        fen += " 0 1";
        load(fen.c_str());
        for (int ply = 0; ply < 6; ++ply) {
            ++positions;
            ASSERT_TRUE(filter_agrees(board)) << fen << " ply " << ply;
            const std::vector<Move> legal = legal_by_trial(board);
            if (legal.empty()) break;
            ASSERT_EQ(board.make_move(legal[below(static_cast<uint32_t>(legal.size()))]), 1);
        }
    }
    EXPECT_GT(positions, 10000);
}

}  // namespace
}  // namespace ortolan
