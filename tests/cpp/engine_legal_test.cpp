// The direct legal move generator: for every position it takes, the moves it finds, with their
// action numbers, must be exactly the legal moves found by playing every generated move with
// make_move, and its early answer and its plane words must agree; the position must be left as
// it was. Playing a legal move with play must leave what make_move leaves, and a consistent
// position, undo must take it back and the key carried move by move must equal the key of the
// new position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/board.h"
#include "engine_support.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;
using Pair = std::pair<int32_t, Move>;

std::string square_name(int32_t s) {
    return {static_cast<char>('a' + s % 8), static_cast<char>('8' - s / 8)};
}

std::vector<Pair> by_trial(const Board& board) {
    std::vector<Pair> out;
    for (Move m : legal_moves_by_trial(board)) out.emplace_back(reference_action(m, board.side), m);
    std::sort(out.begin(), out.end());
    return out;
}

bool same_position(const Board& a, const Board& b) {
    return std::memcmp(a.bitboards, b.bitboards, sizeof a.bitboards) == 0 &&
           std::memcmp(a.occupancies, b.occupancies, sizeof a.occupancies) == 0 &&
           a.castle == b.castle && a.enpassant == b.enpassant && a.side == b.side &&
           a.no_progress_count == b.no_progress_count;
}

// legal_actions into plane words holds exactly the expected (action, move) pairs: each word's
// count is its number of bits, the counts past the last plane are 0, and the moves are read
// back by action. The words start out full of stale bits, as a reused buffer would be. A
// consistent position is passed as known to be one, so that only its kings decide.
::testing::AssertionResult planes_hold(Board& board, const std::vector<Pair>& expected) {
    static ActionPlanes planes;
    std::memset(&planes, 0xff, sizeof planes);
    const int32_t count = board.legal_actions(planes, board.consistent_position());
    if (count != static_cast<int32_t>(expected.size()))
        return ::testing::AssertionFailure() << "planes count " << count;
    if (planes.direct != board.direct_generation_applies())
        return ::testing::AssertionFailure() << "planes say direct " << planes.direct;
    std::vector<Pair> found;
    for (int32_t plane = 0; plane < 80; ++plane) {
        const Bitboard word = plane < action_planes ? planes.planes[plane] : 0;
        if (planes.counts[plane] != count_bits(word))
            return ::testing::AssertionFailure()
                   << "plane " << plane << " counts " << int32_t{planes.counts[plane]};
        for (Bitboard b = word; b;) {
            const int32_t action = plane * 64 + pop_lowest(b);
            found.emplace_back(action, planes.move(action));
        }
    }
    if (found != expected) return ::testing::AssertionFailure() << "planes hold other moves";
    return ::testing::AssertionSuccess();
}

// The direct generator agrees with the trial reference, has_legal_move with both, the plane
// words with all, and the Board is unchanged.
::testing::AssertionResult direct_agrees(Board& board) {
    if (!board.direct_generation_applies())
        return ::testing::AssertionFailure() << "position refused";
    const Board before = board;
    ActionMap::Entry entries[max_moves];
    const int32_t count = board.legal_actions(entries);
    std::vector<Pair> found;
    for (int32_t i = 0; i < count; ++i) found.emplace_back(entries[i].first, entries[i].second);
    if (!same_position(board, before))
        return ::testing::AssertionFailure() << "legal_actions changed the position";
    std::sort(found.begin(), found.end());
    const std::vector<Pair> expected = by_trial(board);
    if (found != expected) {
        ::testing::AssertionResult failure = ::testing::AssertionFailure();
        auto list = [&failure](const std::vector<Pair>& pairs) {
            for (const Pair& p : pairs)
                failure << ' ' << p.first << ':' << square_name(move_source(p.second))
                        << square_name(move_target(p.second)) << '/' << std::hex << p.second
                        << std::dec;
        };
        failure << "direct:";
        list(found);
        failure << "\nby trial:";
        list(expected);
        return failure;
    }
    if (board.has_legal_move() != !expected.empty())
        return ::testing::AssertionFailure() << "has_legal_move says " << expected.empty();
    if (::testing::AssertionResult planes = planes_hold(board, expected); !planes) return planes;
    if (!same_position(board, before))
        return ::testing::AssertionFailure() << "has_legal_move changed the position";
    return ::testing::AssertionSuccess();
}

std::vector<int32_t> actions_of(Board& board) {
    ActionMap::Entry entries[max_moves];
    const int32_t count = board.legal_actions(entries);
    std::vector<int32_t> actions;
    for (int32_t i = 0; i < count; ++i) actions.push_back(entries[i].first);
    std::sort(actions.begin(), actions.end());
    return actions;
}

TEST(EngineLegal, StartPositionHasTheTwentyStartActions) {
    Board board;
    board.reset();
    std::vector<int32_t> expected;
    for (int32_t plane : {7, 8})
        for (int32_t source = a2; source <= h2; ++source) expected.push_back(plane * 64 + source);
    for (int32_t plane : {56, 57})
        for (int32_t source : {b1, g1}) expected.push_back(plane * 64 + source);
    EXPECT_EQ(actions_of(board), expected);
    EXPECT_TRUE(direct_agrees(board));
}

// Pins, checks, double checks, en passant that uncovers the king, castling through or into
// attacked squares, promotions, and a position with more than 256 pseudo-legal moves.
TEST(EngineLegal, AgreeWithTrialsInPositionsFullOfTraps) {
    const char* fens[] = {
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
        "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
        "8/8/8/KPp4r/8/8/8/7k w - c6 0 1",      // en passant would open the row
        "8/8/8/8/k2Pp2Q/8/8/4K3 b - d3 0 1",    // the same along Black's row
        "8/8/1k6/2b5/2pP4/8/5K2/8 b - d3 0 1",  // en passant against a diagonal pin
        "8/8/8/2k5/3Pp3/8/8/4K3 b - d3 0 1",    // en passant takes the checking pawn
        "4k3/8/8/8/8/8/8/r3K2R w K - 0 1",      // in check: no castling
        "4k3/8/8/8/8/8/6r1/R3K2R w KQ - 0 1",   // g1 attacked: long castling only
        "4k3/8/8/8/8/8/3r4/R3K2R w KQ - 0 1",   // d1 attacked: short castling only
        "4k3/8/8/8/8/8/8/1r2K2R w KQ - 0 1",    // b1 attacked: long castling allowed
        "4k3/8/8/8/8/8/8/R3K1nR w KQ - 0 1",    // g1 occupied
        "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1",
        "4k3/8/8/8/8/8/8/4K2N w K - 0 1",      // the right without its rook
        "3rk3/8/8/8/8/8/8/R3K2r w KQ - 0 1",   // an enemy rook on the rook's square
        "4k3/8/8/8/1b6/8/3N4/4K2R w K - 0 1",  // knight pinned, bishop checks nothing
        "4k3/8/8/b7/8/8/3P4/4K3 w - - 0 1",    // pawn pinned on a diagonal
        "4k3/4r3/8/8/8/8/4P3/4K3 w - - 0 1",   // pawn pinned on the file: pushes only
        "4k3/8/8/8/8/2q5/3P4/4K3 w - - 0 1",   // pinned pawn takes the pinner
        "4k3/8/8/8/8/8/4q3/4K3 w - - 0 1",     // checked by an adjacent queen
        "4k3/8/8/8/8/5n2/8/r3K3 w - - 0 1",    // double check
        "3qk3/2P5/8/8/8/8/8/4K3 w - - 0 1",    // promotions with and without capture
        "4k3/8/8/8/8/8/p7/1N2K3 b - - 0 1",    // Black promotes, and takes
        "4k3/8/8/8/8/8/8/Kq6 w - - 0 1",
        "KQQQQQQQ/Q6Q/Q6Q/Q2Q3Q/Q6Q/Q6Q/Q6Q/QQQQQQQk w - - 0 1",  // over 256 moves
        "qqqqqqqk/8/8/qqqqqqqq/8/8/8/K7 w - - 0 1",
        "7K/8/8/8/8/8/8/k7 w - - 0 1",    // kings next to nothing
        "8/8/8/3k4/3K4/8/8/8 w - - 0 1",  // kings side by side
    };
    for (const char* fen : fens) {
        Board board = board_from_fen(fen);
        EXPECT_TRUE(direct_agrees(board)) << fen;
    }
    Board many = board_from_fen(fens[24]);
    EXPECT_GT(actions_of(many).size(), 256u);
    MoveList list;
    many.generate_moves(list);
    EXPECT_GT(list.count, 256);
}

// A side to move with no king or with two kings is left to the trial path.
TEST(EngineLegal, RefusesSidesWithoutExactlyOneKing) {
    for (const char* fen : {"8/8/8/3r4/8/8/8/R7 w - - 0 1", "4k3/8/8/8/8/8/8/K6K w - - 0 1",
                            "4k3/8/8/8/8/8/8/RN6 w - - 0 1", "k6k/8/8/8/8/8/8/4K3 b - - 0 1"}) {
        Board board = board_from_fen(fen);
        const Board before = board;
        EXPECT_FALSE(board.direct_generation_applies()) << fen;
        EXPECT_EQ(actions_of(board).size(), legal_moves_by_trial(board).size()) << fen;
        EXPECT_TRUE(planes_hold(board, by_trial(board))) << fen;
        EXPECT_TRUE(same_position(board, before)) << fen;
    }
    // The other side's king count does not matter.
    Board board = board_from_fen("k6k/8/8/8/8/8/8/4K3 w - - 0 1");
    EXPECT_TRUE(direct_agrees(board));
    board = board_from_fen("8/8/8/8/8/8/8/4K3 w - - 0 1");
    EXPECT_TRUE(direct_agrees(board));
}

TEST(EngineLegal, ConsistentPositionSpotsOverlapsAndStaleOccupancies) {
    Board board;
    board.reset();
    EXPECT_TRUE(board.consistent_position());
    Board overlap = board;
    overlap.bitboards[piece::N] |= square_bit(e2);  // a knight on the pawn's square
    overlap.occupancies[white] |= square_bit(e2);
    EXPECT_FALSE(overlap.consistent_position());
    EXPECT_FALSE(overlap.direct_generation_applies());
    for (int32_t i = 0; i < 3; ++i) {
        Board stale = board;
        stale.occupancies[i] ^= square_bit(e4);
        EXPECT_FALSE(stale.consistent_position()) << i;
    }
    Board empty;
    EXPECT_TRUE(empty.consistent_position());
}

// Random lenient placements (several kings, pawns on the first and last rows, stray rights
// and en passant squares) and random games from them and from the start.
TEST(EngineLegal, AgreeWithTrialsInRandomLenientPositionsAndGames) {
    std::mt19937 rng(20261208);
    auto below = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    const int32_t trials = quick_run() ? 1000 : 4000;
    int32_t checked = 0;
    int32_t refused = 0;
    for (int32_t trial = 0; trial < trials; ++trial) {
        Board board;
        if (trial % 4 == 0) {
            board.reset();
        } else {
            std::string fen;
            const uint32_t density = 2 + below(6);
            for (int32_t row = 0; row < 8; ++row) {
                int32_t empty = 0;
                for (int32_t file = 0; file < 8; ++file) {
                    if (below(density) == 0) {
                        if (empty) fen += static_cast<char>('0' + empty);
                        empty = 0;
                        const char* pool = below(2) ? "QqRrBbPp" : "PNBRQKpnbrqk";
                        fen += pool[below(static_cast<uint32_t>(std::strlen(pool)))];
                    } else {
                        ++empty;
                    }
                }
                if (empty) fen += static_cast<char>('0' + empty);
                if (row < 7) fen += '/';
            }
            // Put one king for each side on a random empty-or-not square most of the time.
            board.parse_fen((fen + (below(2) ? " w " : " b ") + (below(2) ? "KQkq" : "-") + " " +
                             (below(3) ? std::string("-")
                                       : square_name(below(2) ? 16 + below(8) : 40 + below(8))) +
                             " 0 1")
                                .c_str());
            for (int32_t s = 0; s < 2; ++s) {
                if (below(5) == 0) continue;
                const int32_t king = s == white ? piece::K : piece::k;
                const int32_t square = static_cast<int32_t>(below(64));
                if (get_bit(board.occupancies[both], square)) continue;
                board.bitboards[king] = square_bit(square);
            }
            if (below(2)) {  // kings on their home squares so that castling comes up
                if (!get_bit(board.occupancies[both], e1) && !board.bitboards[piece::K])
                    board.bitboards[piece::K] = square_bit(e1);
            }
            Bitboard w = 0, b = 0;
            for (int32_t p = 0; p < 6; ++p) {
                w |= board.bitboards[p];
                b |= board.bitboards[p + 6];
            }
            // Drop a king that landed on a square already taken.
            if (w & b) continue;
            board.occupancies[white] = w;
            board.occupancies[black] = b;
            board.occupancies[both] = w | b;
            if (!board.consistent_position()) continue;
        }
        for (int ply = 0; ply < 12; ++ply) {
            const int32_t kings =
                count_bits(board.bitboards[board.side == white ? piece::K : piece::k]);
            if (kings == 1) {
                ++checked;
                ASSERT_TRUE(direct_agrees(board)) << "trial " << trial << " ply " << ply;
            } else {
                ++refused;
                ASSERT_FALSE(board.direct_generation_applies());
                ASSERT_EQ(board.has_legal_move(), !legal_moves_by_trial(board).empty());
            }
            const std::vector<Move> legal_moves = legal_moves_by_trial(board);
            if (legal_moves.empty()) break;
            // Every legal move played by play leaves what make_move leaves, undo takes it
            // back, and the key follows.
            const uint64_t key = board.hash_state();
            for (Move m : legal_moves) {
                Board by_make = board;
                Board by_play = board;
                ASSERT_EQ(by_make.make_move(m), 1);
                MoveUndo undo;
                by_play.play(m, undo);
                ASSERT_TRUE(by_play.consistent_position());
                ASSERT_TRUE(same_position(by_play, by_make))
                    << "trial " << trial << " ply " << ply << " move " << std::hex << m;
                ASSERT_EQ(by_play.key_after(key, undo), by_make.hash_state())
                    << "trial " << trial << " ply " << ply << " move " << std::hex << m;
                by_play.undo(undo);
                ASSERT_TRUE(same_position(by_play, board))
                    << "trial " << trial << " ply " << ply << " move " << std::hex << m;
            }
            ASSERT_EQ(
                board.make_move(legal_moves[below(static_cast<uint32_t>(legal_moves.size()))]), 1);
            ASSERT_TRUE(board.consistent_position());
        }
    }
    EXPECT_GT(checked, trials * 5);
    EXPECT_GT(refused, trials / 40);
}

}  // namespace
}  // namespace ortolan
