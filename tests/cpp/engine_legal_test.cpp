// The legal move generator against the trial reference (every generated move played with
// make_move): for every position, whether direct generation applies to it or not, legal_moves,
// legal_actions with their action numbers and its plane words must hold exactly the legal
// moves, has_legal_move must agree, and the position must be left as it was. Exact move lists
// for pins and checks, the between-squares table the generator uses, and, along random games,
// that play leaves what make_move leaves, a consistent position, that undo takes it back and
// that the key carried move by move equals the key of the new position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/attacks.h"
#include "engine/board.h"
#include "engine_support.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;
using Pair = std::pair<int32_t, Move>;

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

// Sorted moves of legal_moves.
std::vector<Move> legal_moves_of(Board& board) {
    MoveList list;
    board.legal_moves(list);
    std::vector<Move> moves(list.moves, list.moves + list.count);
    std::sort(moves.begin(), moves.end());
    return moves;
}

// legal_moves and legal_actions agree with the trial reference, has_legal_move with both, the
// plane words with all, and the Board is unchanged.
::testing::AssertionResult agrees(Board& board) {
    const Board before = board;
    std::vector<Move> trial = legal_moves_by_trial(board);
    std::sort(trial.begin(), trial.end());
    if (legal_moves_of(board) != trial)
        return ::testing::AssertionFailure() << "legal_moves keeps other moves than the trials";
    if (!same_position(board, before))
        return ::testing::AssertionFailure() << "legal_moves changed the position";
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
                failure << ' ' << p.first << ':' << name_of(move_source(p.second))
                        << name_of(move_target(p.second)) << '/' << std::hex << p.second
                        << std::dec;
        };
        failure << "legal_actions:";
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

// The same for a position that direct generation takes.
::testing::AssertionResult direct_agrees(Board& board) {
    if (!board.direct_generation_applies())
        return ::testing::AssertionFailure() << "position refused";
    return agrees(board);
}

std::vector<int32_t> actions_of(Board& board) {
    ActionMap::Entry entries[max_moves];
    const int32_t count = board.legal_actions(entries);
    std::vector<int32_t> actions;
    for (int32_t i = 0; i < count; ++i) actions.push_back(entries[i].first);
    std::sort(actions.begin(), actions.end());
    return actions;
}

// The words of a text, sorted.
std::vector<std::string> sorted_words(const std::string& text) {
    std::vector<std::string> words = split(text);
    std::sort(words.begin(), words.end());
    return words;
}

std::vector<std::string> described(const std::vector<Move>& moves) {
    std::vector<std::string> out;
    for (Move m : moves) out.push_back(describe(m));
    std::sort(out.begin(), out.end());
    return out;
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
        EXPECT_TRUE(agrees(board)) << fen;
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
// and en passant squares) and random games from them and from the start: the generator agrees
// with the trials everywhere, and so do play, undo and the carried key.
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
                        // Sliders, kings and sliders, or any piece: pins, checks and
                        // sides with several kings come up.
                        const char* pools[] = {"QqRrBbPp", "KkQqRrBb", "PNBRQKpnbrqk"};
                        const char* pool = pools[below(3)];
                        fen += pool[below(static_cast<uint32_t>(std::strlen(pool)))];
                    } else {
                        ++empty;
                    }
                }
                if (empty) fen += static_cast<char>('0' + empty);
                if (row < 7) fen += '/';
            }
            // Put one king for each side on a random empty-or-not square most of the time.
            board.parse_fen(
                (fen + (below(2) ? " w " : " b ") + (below(2) ? "KQkq" : "-") + " " +
                 (below(3) ? std::string("-") : name_of(below(2) ? 16 + below(8) : 40 + below(8))) +
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
                ASSERT_TRUE(agrees(board)) << "trial " << trial << " ply " << ply;
            }
            const std::vector<Move> legal_moves = legal_moves_by_trial(board);
            // Asked for some kinds onto some squares (one square and one kind, as SAN asks),
            // the generator gives exactly those of the legal moves.
            for (int32_t k = 0; k < 2; ++k) {
                const Bitboard targets = k == 0 ? square_bit(static_cast<int32_t>(below(64)))
                                                : Bitboard{rng()} << 32 | rng();
                const uint32_t kinds = k == 0 ? 1u << below(6) : below(64);
                std::vector<Move> expected;
                for (const Move m : legal_moves)
                    if (get_bit(targets, move_target(m)) && (kinds >> (move_piece(m) % 6) & 1))
                        expected.push_back(m);
                MoveList list;
                const int32_t n =
                    board.legal_moves(list, targets, kinds, board.direct_generation_applies());
                std::vector<Move> got(list.moves, list.moves + n);
                std::sort(got.begin(), got.end());
                std::sort(expected.begin(), expected.end());
                ASSERT_EQ(got, expected) << "trial " << trial << " ply " << ply;
            }
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

// Pins and a check, each with the exact legal moves: a pinned knight has none, a pinned rook
// slides along the pin up to taking the pinner, a bishop pinned by a queen keeps the two
// squares of the diagonal, and in check only blocks, captures of the checker and king steps
// remain (rook a1 checks along the first row: the knight takes it or blocks on c1; the king
// may not stay on the row).
TEST_F(EngineLegalMoves, PinnedPiecesAndChecksKeepOnlyTheirLegalMoves) {
    const std::pair<const char*, const char*> cases[] = {
        {"4k3/4r3/8/8/8/8/4N3/4K3 w - - 0 1", "e1d2 e1f2 e1d1 e1f1"},
        {"4k3/4r3/8/8/8/8/4R3/4K3 w - - 0 1", "e2e7x e2e6 e2e5 e2e4 e2e3 e1d2 e1f2 e1d1 e1f1"},
        {"4k3/8/8/8/7q/8/5B2/4K3 w - - 0 1", "f2h4x f2g3 e1d2 e1e2 e1d1 e1f1"},
        {"4k3/8/8/8/8/1N6/8/r3K3 w - - 0 1", "b3a1x b3c1 e1d2 e1e2 e1f2"},
    };
    for (const auto& [fen, moves] : cases) {
        load(fen);
        EXPECT_EQ(described(legal_moves_of(board)), sorted_words(moves)) << fen;
        EXPECT_TRUE(agrees(board)) << fen;
    }
}

// Two pieces between king and rook: neither is pinned. An enemy piece between: no pin.
TEST_F(EngineLegalMoves, TwoBlockersOrEnemyBlockerMeanNoPin) {
    load("4k3/4r3/8/8/8/4N3/4N3/4K3 w - - 0 1");
    EXPECT_TRUE(agrees(board));
    EXPECT_EQ(legal_moves_of(board).size(), 18u);  // 8 + 6 knight jumps, 4 king steps
    load("4k3/4r3/8/4n3/8/8/4N3/4K3 w - - 0 1");
    EXPECT_TRUE(agrees(board));
}

// En passant is always tried: here it would empty the king's row for the rook.
TEST_F(EngineLegalMoves, EnPassantAlongTheKingsRowIsTried) {
    load("8/8/8/KPp4r/8/8/8/7k w - c6 0 1");
    EXPECT_TRUE(agrees(board));
    for (Move m : legal_moves_of(board)) EXPECT_EQ(move_enpassant(m), 0) << describe(m);
}

// A side without a king: make_move accepts everything, so the filter keeps everything.
TEST_F(EngineLegalMoves, SideWithoutKingKeepsEveryMove) {
    load("4k3/8/8/8/8/8/8/RN6 w - - 0 1");
    EXPECT_TRUE(agrees(board));
    MoveList list;
    board.generate_moves(list);
    EXPECT_EQ(legal_moves_of(board).size(), static_cast<size_t>(list.count));
}

TEST_F(EngineLegalMoves, CheckmateAndStalemateHaveNoLegalMove) {
    load("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1");  // mate
    EXPECT_FALSE(board.has_legal_move());
    EXPECT_TRUE(agrees(board));
    load("7k/8/6Q1/8/8/8/8/6K1 b - - 0 1");  // stalemate
    EXPECT_FALSE(board.has_legal_move());
    EXPECT_TRUE(agrees(board));
    load("7k/8/6Q1/8/8/8/6p1/6K1 b - - 0 1");  // the pawn is blocked, the king is stuck
    EXPECT_FALSE(board.has_legal_move());
}

// Every node of a two- or three-ply walk from positions full of pins and checks.
TEST_F(EngineLegalMoves, GeneratorMatchesTrialAtEveryNodeOfPublishedPositions) {
    struct Walk {
        Board& board;
        int32_t nodes = 0;
        void visit(int32_t depth) {
            ++nodes;
            ASSERT_TRUE(agrees(board));
            if (depth == 0) return;
            const Board saved = board;
            for (Move m : legal_moves_by_trial(board)) {
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

}  // namespace
}  // namespace ortolan
