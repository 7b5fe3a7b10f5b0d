// Move-path counts (perft) against published values, and a counting walk written here that
// checks every move it plays: the fields make_move must set, the take-back through the
// position backup, and the position invariants.
//
// With ORTOLAN_QUICK=1 in the environment, counts above one million nodes are skipped
// (meant for the slow sanitizer build).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "engine/bits.h"
#include "engine/board.h"
#include "engine/movegen.h"
#include "engine/perft.h"
#include "engine/types.h"
#include "engine_support.h"

namespace ortolan {
namespace {

bool quick_run() {
    const char* value = std::getenv("ORTOLAN_QUICK");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

constexpr uint64_t quick_limit = 1000000;

struct PerftCase {
    const char* fen;
    std::vector<uint64_t> counts;  // depth 1, 2, ...
};

using Position = PositionCopy;

void run_published_counts(const PerftCase& c) {
    Board board;
    board.parse_fen(c.fen);
    const Position before(board);
    for (size_t i = 0; i < c.counts.size(); ++i) {
        const int32_t depth = static_cast<int32_t>(i + 1);
        if (quick_run() && c.counts[i] > quick_limit) continue;
        EXPECT_EQ(perft(board, depth), c.counts[i]) << c.fen << " depth " << depth;
        // perft leaves the board as it found it.
        EXPECT_TRUE(Position(board) == before) << c.fen << " depth " << depth;
    }
}

// ---------------------------------------------------------------------------------------
// Published counts.

// The opening position: 20, 400, 8902, 197281, 4865609.
TEST(EnginePerft, StartPosition) {
    run_published_counts({start_position, {20, 400, 8902, 197281, 4865609}});
}

// "Kiwipete": castling both ways for both sides, pins, en passant, promotions to come.
TEST(EnginePerft, KiwipeteCastlingPinsAndEnPassant) {
    run_published_counts({"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                          {48, 2039, 97862, 4085603}});
}

// White in check with promotions by capture; depth 2 holds 48 promotions and 6 castlings.
TEST(EnginePerft, PromotionsOutOfCheck) {
    run_published_counts({"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
                          {6, 264, 9467, 422333}});
}

// The same position with colours swapped, so Black's side of every rule is counted.
TEST(EnginePerft, PromotionsOutOfCheckMirrored) {
    run_published_counts({"r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1",
                          {6, 264, 9467, 422333}});
}

// Rook endgame with en passant pinned along the fifth row.
TEST(EnginePerft, RookEndgameWithPinnedEnPassant) {
    run_published_counts(
        {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", {14, 191, 2812, 43238, 674624}});
}

// A pawn on d7 promoting with capture on c8 or e8, and a knight checking from f2.
TEST(EnginePerft, PromotionNextToKnightCheck) {
    run_published_counts(
        {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", {44, 1486, 62379, 2103487}});
}

// A quiet middlegame full of bishops pinning knights.
TEST(EnginePerft, SymmetricMiddlegamePins) {
    run_published_counts(
        {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
         {46, 2079, 89890, 3894594}});
}

// Small positions that each isolate one trap (counts from the widely used perft test
// suite, confirmed with python-chess at every depth).
TEST(EnginePerft, EnPassantThatWouldExposeTheKing) {
    // After ...d7-d5, c5xd6 e.p. would open the fifth row to the rook on h5.
    run_published_counts(
        {"3k4/3p4/8/K1P4r/8/8/8/8 b - - 0 1", {18, 92, 1670, 10138, 185429, 1134888}});
    // After d2-d4, c4xd3 e.p. would uncover the bishop a2 on the king e6.
    run_published_counts(
        {"8/8/4k3/8/2p5/8/B2P2K1/8 w - - 0 1", {13, 102, 1266, 10276, 135655, 1015133}});
}

// c4xd3 e.p. removes the pawn on d4 and uncovers the bishop's check on f2.
TEST(EnginePerft, EnPassantGivingDiscoveredCheck) {
    run_published_counts(
        {"8/8/1k6/2b5/2pP4/8/5K2/8 b - d3 0 1", {15, 126, 1928, 13931, 206379, 1440467}});
}

// The rook arriving on f1/d1 gives check; castling rights of one side only.
TEST(EnginePerft, CastlingThatGivesCheck) {
    run_published_counts({"5k2/8/8/8/8/8/8/4K2R w K - 0 1", {15, 66, 1198, 6399, 120330, 661072}});
    run_published_counts({"3k4/8/8/8/8/8/8/R3K3 w Q - 0 1", {16, 71, 1286, 7418, 141077, 803711}});
}

// Rooks under attack by bishops and queens: rights vanish as rooks are taken.
TEST(EnginePerft, CastlingRightsLostByCaptureAndAttack) {
    run_published_counts({"r3k2r/1b4bq/8/8/8/8/7B/R3K2R w KQkq - 0 1", {26, 1141, 27826, 1274206}});
    run_published_counts({"r3k2r/8/3Q4/8/8/5q2/8/R3K2R b KQkq - 0 1", {44, 1494, 50509, 1720476}});
}

// Promotions that check, that stalemate, and pawns racing a lone king.
TEST(EnginePerft, PromotionsGivingCheckAndUnderpromotion) {
    run_published_counts(
        {"2K2r2/4P3/8/8/8/8/8/3k4 w - - 0 1", {11, 133, 1442, 19174, 266199, 3821001}});
    run_published_counts({"4k3/1P6/8/8/8/8/K7/8 w - - 0 1", {9, 40, 472, 2661, 38983, 217342}});
    run_published_counts({"8/P1k5/K7/8/8/8/8/8 w - - 0 1", {6, 27, 273, 1329, 18135, 92683}});
    run_published_counts({"K1k5/8/P7/8/8/8/8/8 w - - 0 1", {2, 6, 13, 63, 382, 2217}});
    run_published_counts(
        {"8/k1P5/8/1K6/8/8/8/8 w - - 0 1", {10, 25, 268, 926, 10857, 43261, 567584}});
}

// Queen and knight checks against a lone king, several at once.
TEST(EnginePerft, DiscoveredAndDoubleChecks) {
    run_published_counts({"8/8/1P2K3/8/2n5/1q6/8/5k2 b - - 0 1", {29, 165, 5160, 31961, 1004658}});
    run_published_counts({"8/8/2k5/5q2/5n2/8/5K2/8 b - - 0 1", {37, 183, 6559, 23527}});
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
