// Move-path counts (perft) against published values, from tests/data, and a counting walk written
// here that checks every move it plays: the fields make_move must set, the take-back through the
// position backup, and the position invariants.
//
// In a quick run (see quick_run), counts above one million nodes are skipped.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "engine/bits.h"
#include "engine/board.h"
#include "engine/movegen.h"
#include "engine/perft.h"
#include "engine/types.h"
#include "engine_support.h"
#include "test_data.h"

namespace ortolan {
namespace {

constexpr uint64_t quick_limit = 1000000;

using Position = PositionCopy;
using test_data::DataPosition;

// The counts of tests/data/positions.txt at every depth, by playing the last ply and by
// counting it; perft leaves the board as it found it.
class EnginePerftData : public ::testing::TestWithParam<DataPosition> {};

TEST_P(EnginePerftData, PublishedCountsAtEveryDepth) {
    const DataPosition& c = GetParam();
    Board board;
    board.parse_fen(c.fen.c_str());
    const Position before(board);
    for (size_t i = 0; i < c.values.size(); ++i) {
        const int32_t depth = static_cast<int32_t>(i + 1);
        if (quick_run() && c.values[i] > quick_limit) continue;
        EXPECT_EQ(perft(board, depth), c.values[i]) << "depth " << depth;
        EXPECT_TRUE(Position(board) == before) << "depth " << depth;
        EXPECT_EQ(perft_bulk(board, depth), c.values[i]) << "bulk, depth " << depth;
        EXPECT_TRUE(Position(board) == before) << "bulk, depth " << depth;
    }
    EXPECT_EQ(perft_bulk(board, 0), 1u);
}

INSTANTIATE_TEST_SUITE_P(Published, EnginePerftData,
                         ::testing::ValuesIn(test_data::data_positions("perft")),
                         test_data::DataName());

TEST(EnginePerftData, FileHoldsThePositions) {
    EXPECT_GE(test_data::data_positions("perft").size(), 20u);
}

// ---------------------------------------------------------------------------------------
// A counting walk that checks each move make_move plays.

class CheckedWalk {
public:
    explicit CheckedWalk(Board& board) : board_(board) {}

    uint64_t count(int32_t depth) {
        if (depth == 0) return 1;
        const Position entry(board_);
        MoveList list;
        board_.generate_moves(list);
        if (!(Position(board_) == entry)) fail("generate_moves changed the position");
        uint64_t nodes = 0;
        for (int32_t i = 0; i < list.count && errors_.empty(); ++i) {
            const Move move = list.moves[i];
            if (!board_.make_move(move)) {
                if (!(Position(board_) == entry)) fail("rejected move changed the position", move);
                continue;
            }
            check_after(entry, move);
            // The backup taken by make_move undoes the move exactly, counter aside.
            board_.restore_position();
            Position undone(board_);
            undone.no_progress_count = entry.no_progress_count;
            if (!(undone == entry)) fail("restore_position did not undo the move", move);
            board_.no_progress_count = entry.no_progress_count;

            board_.make_move(move);
            nodes += count(depth - 1);
            entry.put_back(board_);
        }
        return nodes;
    }

    const std::string& errors() const { return errors_; }

private:
    void fail(const std::string& what, Move move = -1) {
        if (!errors_.empty()) return;
        std::ostringstream out;
        out << what;
        if (move >= 0) out << " (move 0x" << std::hex << move << ")";
        errors_ = out.str();
    }

    static int32_t pieces_of(const Position& p, int32_t side) {
        int32_t n = 0;
        for (int i = 0; i < 6; ++i) n += count_bits(p.bitboards[side * 6 + i]);
        return n;
    }

    void check_after(const Position& before, Move move) {
        const Position after(board_);
        const int32_t mover = before.side;
        Bitboard seen = 0, colour[2] = {0, 0};
        for (int i = 0; i < 12; ++i) {
            if (seen & after.bitboards[i]) return fail("two pieces on one square", move);
            seen |= after.bitboards[i];
            colour[i / 6] |= after.bitboards[i];
        }
        if (after.occupancies[white] != colour[white] ||
            after.occupancies[black] != colour[black] ||
            after.occupancies[both] != (colour[white] | colour[black]))
            return fail("occupancies disagree with bitboards", move);
        if (after.side != (mover ^ 1)) return fail("side not handed over", move);

        const int32_t source = move_source(move), target = move_target(move);
        const int32_t lands = move_promoted(move) ? move_promoted(move) : move_piece(move);
        if (!get_bit(after.bitboards[lands], target)) return fail("piece not on target", move);
        if (get_bit(after.occupancies[both], source)) return fail("source not emptied", move);

        const int32_t king = lowest_square(after.bitboards[mover == white ? piece::K : piece::k]);
        if (king >= 0 && board_.is_square_attacked(king, mover ^ 1))
            return fail("accepted move leaves king attacked", move);

        const int32_t lost = pieces_of(before, mover ^ 1) - pieces_of(after, mover ^ 1);
        if (lost != move_capture(move)) return fail("capture count wrong", move);
        if (pieces_of(after, mover) != pieces_of(before, mover)) return fail("own count", move);
        if (move_capture(move) && !move_enpassant(move) &&
            !get_bit(before.occupancies[mover ^ 1], target))
            return fail("capture flag on an empty target", move);

        const int32_t expected_ep =
            move_double_push(move) ? (mover == white ? target + 8 : target - 8) : no_square;
        if (after.enpassant != expected_ep) return fail("en passant square", move);
        if (after.castle != (before.castle & castle_keep_mask[source] & castle_keep_mask[target]))
            return fail("castling rights", move);

        const bool resets =
            move_piece(move) == piece::P || move_piece(move) == piece::p || move_capture(move);
        const int32_t expected_count = resets ? 1 : before.no_progress_count + 1;
        if (after.no_progress_count != expected_count) return fail("no-progress counter", move);
    }

    Board& board_;
    std::string errors_;
};

void run_checked_walk(const char* fen, int32_t depth, uint64_t expected) {
    Board board;
    board.parse_fen(fen);
    CheckedWalk walk(board);
    EXPECT_EQ(walk.count(depth), expected) << fen;
    EXPECT_EQ(walk.errors(), "") << fen;
}

// The walk's counts must also equal the published ones, so nothing is skipped silently.
TEST(EngineCheckedWalk, EveryMoveToDepthThreeKeepsThePositionSound) {
    run_checked_walk(start_position, 3, 8902);
    run_checked_walk("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 3,
                     97862);
    run_checked_walk("r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 3, 9467);
    run_checked_walk("r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1", 3, 9467);
    run_checked_walk("8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 4, 43238);
    run_checked_walk("rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 3, 62379);
    run_checked_walk("8/8/1k6/2b5/2pP4/8/5K2/8 b - d3 0 1", 4, 13931);
    run_checked_walk("r3k2r/8/3Q4/8/8/5q2/8/R3K2R b KQkq - 0 1", 3, 50509);
}

// A starting counter far from zero shows the +1 rule on every quiet move.
TEST(EngineCheckedWalk, CounterRuleHoldsFromAnyStartingValue) {
    Board board;
    board.parse_fen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
    board.no_progress_count = 1000;
    CheckedWalk walk(board);
    EXPECT_EQ(walk.count(2), 2039u);
    EXPECT_EQ(walk.errors(), "");
    EXPECT_EQ(board.no_progress_count, 1000);
}

}  // namespace
}  // namespace ortolan
