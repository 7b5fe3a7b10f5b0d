// Action numbering and the legality mask: exact action numbers for pawn steps, knights,
// castling, promotions and sliders; move_direction; and, over many positions, that the mask
// holds exactly one distinct action per legal move.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "engine/board.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;

std::vector<int32_t> range_of(int32_t first, int32_t last) {
    std::vector<int32_t> v;
    for (int32_t i = first; i <= last; ++i) v.push_back(i);
    return v;
}

std::vector<int32_t> sorted(std::vector<int32_t> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// The twenty opening actions; a wrong plane for the double step or a knight table read the
// wrong way round shows up here first.
TEST(EnvActions, StartPositionHasExactlyTheTwentyOpeningActions) {
    Board board;
    board.reset();
    const ActionMask mask = board.get_actions();
    std::vector<int32_t> expected = range_of(496, 503);
    for (int32_t a : range_of(560, 567)) expected.push_back(a);
    for (int32_t a : {56 * 64 + 57, 57 * 64 + 57, 56 * 64 + 62, 57 * 64 + 62})
        expected.push_back(a);
    EXPECT_EQ(mask_actions(mask), sorted(expected));
    EXPECT_TRUE(mask_is_binary(mask));
    EXPECT_EQ(map_keys(board.ActionMap), sorted(expected));

    struct Expect {
        int32_t action, source, target;
    };
    for (const Expect& e :
         {Expect{496, 48, 40}, Expect{503, 55, 47}, Expect{560, 48, 32}, Expect{567, 55, 39},
          Expect{56 * 64 + 57, 57, 40}, Expect{57 * 64 + 57, 57, 42}, Expect{56 * 64 + 62, 62, 45},
          Expect{57 * 64 + 62, 62, 47}}) {
        const Move* m = board.ActionMap.find(e.action);
        ASSERT_NE(m, nullptr) << e.action;
        EXPECT_EQ(move_source(*m), e.source) << e.action;
        EXPECT_EQ(move_target(*m), e.target) << e.action;
    }
    EXPECT_EQ(move_double_push(*board.ActionMap.find(564)), 1);
}

// Directions count from the mover's seat, so Black's two-square step lands on the same plane
// as White's even though it goes the other way on the board.
TEST(EnvActions, BlackRepliesUseTheMoversOwnDirections) {
    Board board;
    board.reset();
    board.step(8 * 64 + 52);  // e2-e4
    const ActionMask mask = board.get_actions();
    std::vector<int32_t> expected = range_of(456, 463);
    for (int32_t a : range_of(520, 527)) expected.push_back(a);
    // b8-a6 and g8-f6 are row +2, file -1 (plane 61); b8-c6 and g8-h6 row +2, file +1 (60).
    for (int32_t a : {61 * 64 + 1, 60 * 64 + 1, 61 * 64 + 6, 60 * 64 + 6}) expected.push_back(a);
    EXPECT_EQ(mask_actions(mask), sorted(expected));
    ASSERT_NE(board.ActionMap.find(524), nullptr);
    EXPECT_EQ(move_source(*board.ActionMap.find(524)), sq("e7"));
    EXPECT_EQ(move_target(*board.ActionMap.find(524)), sq("e5"));
    EXPECT_EQ(board.step(524).done, 0);
    EXPECT_TRUE(get_bit(board.bitboards[piece::p], sq("e5")));
}

// Castling is the king's two-square move, and the planes swap between the sides because
// "right" for Black is towards file a.
TEST(EnvActions, CastlingIsNumberedAsTheKingsTwoSquareMove) {
    Board white_board = board_from_fen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
    ActionMask mask = white_board.get_actions();
    EXPECT_EQ(mask_actions(mask).size(), 26u);
    EXPECT_EQ(mask.planes[22][60], 1);
    EXPECT_EQ(mask.planes[50][60], 1);
    const Move* short_castle = white_board.ActionMap.find(22 * 64 + 60);
    const Move* long_castle = white_board.ActionMap.find(50 * 64 + 60);
    ASSERT_TRUE(short_castle && long_castle);
    EXPECT_EQ(move_target(*short_castle), sq("g1"));
    EXPECT_EQ(move_castling(*short_castle), 1);
    EXPECT_EQ(move_target(*long_castle), sq("c1"));
    EXPECT_EQ(move_castling(*long_castle), 1);
    // The one-square king steps keep planes of their own.
    EXPECT_EQ(move_target(*white_board.ActionMap.find(21 * 64 + 60)), sq("f1"));
    EXPECT_EQ(move_target(*white_board.ActionMap.find(49 * 64 + 60)), sq("d1"));

    Board black_board = board_from_fen("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
    mask = black_board.get_actions();
    EXPECT_EQ(mask_actions(mask).size(), 26u);
    const Move* black_short = black_board.ActionMap.find(50 * 64 + 4);
    const Move* black_long = black_board.ActionMap.find(22 * 64 + 4);
    ASSERT_TRUE(black_short && black_long);
    EXPECT_EQ(move_target(*black_short), sq("g8"));
    EXPECT_EQ(move_castling(*black_short), 1);
    EXPECT_EQ(move_target(*black_long), sq("c8"));
    EXPECT_EQ(move_castling(*black_long), 1);

    const StepResult r = black_board.step(50 * 64 + 4);
    EXPECT_EQ(r.done, 0);
    EXPECT_TRUE(get_bit(black_board.bitboards[piece::k], sq("g8")));
    EXPECT_TRUE(get_bit(black_board.bitboards[piece::r], sq("f8")));
}

struct PromotionCase {
    int32_t plane;
    const char* target;
    int32_t kind;  // 0 knight, 1 bishop, 2 rook, 3 queen
};

// Planes 64-72 by direction and kind; a queen promotion has no plane there and takes the
// pawn's one-square plane, so the twelve promotions of one pawn are twelve distinct actions.
void expect_promotions(Board& board, int32_t source, int32_t side,
                       const std::vector<PromotionCase>& cases) {
    const ActionMask mask = board.get_actions();
    const int32_t kinds[2][4] = {{piece::N, piece::B, piece::R, piece::Q},
                                 {piece::n, piece::b, piece::r, piece::q}};
    std::set<int32_t> from_source;
    for (int32_t a : mask_actions(mask))
        if (a % 64 == source) from_source.insert(a);
    std::set<int32_t> expected;
    for (const PromotionCase& c : cases) {
        const int32_t action = c.plane * 64 + source;
        expected.insert(action);
        const Move* m = board.ActionMap.find(action);
        ASSERT_NE(m, nullptr) << "plane " << c.plane;
        EXPECT_EQ(move_target(*m), sq(c.target)) << "plane " << c.plane;
        EXPECT_EQ(move_promoted(*m), kinds[side][c.kind]) << "plane " << c.plane;
    }
    EXPECT_EQ(from_source, expected);
}

// b7 can promote straight and by capturing on both sides: twelve moves from one square that
// must land on twelve different planes.
TEST(EnvActions, WhiteUnderpromotionsHaveTheirPlanesAndQueenPromotionsTheStepPlanes) {
    Board board = board_from_fen("n1r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1");
    expect_promotions(board, sq("b7"), white,
                      {{64, "a8", 0},
                       {65, "a8", 1},
                       {66, "a8", 2},
                       {0, "a8", 3},
                       {67, "b8", 0},
                       {68, "b8", 1},
                       {69, "b8", 2},
                       {7, "b8", 3},
                       {70, "c8", 0},
                       {71, "c8", 1},
                       {72, "c8", 2},
                       {14, "c8", 3}});
    EXPECT_EQ(mask_actions(board.get_actions()).size(), 17u);
}

// For Black, g2xh1 is forward-left (row +, file +) and g2xf1 forward-right.
TEST(EnvActions, BlackUnderpromotionsCountDirectionsFromBlacksSeat) {
    Board board = board_from_fen("4k3/8/8/8/8/8/6p1/4KB1R b - - 0 1");
    expect_promotions(board, sq("g2"), black,
                      {{64, "h1", 0},
                       {65, "h1", 1},
                       {66, "h1", 2},
                       {0, "h1", 3},
                       {67, "g1", 0},
                       {68, "g1", 1},
                       {69, "g1", 2},
                       {7, "g1", 3},
                       {70, "f1", 0},
                       {71, "f1", 1},
                       {72, "f1", 2},
                       {14, "f1", 3}});
    EXPECT_EQ(mask_actions(board.get_actions()).size(), 17u);
}

// Playing a queen promotion's action really promotes to a queen, and an under-promotion's to
// its own piece.
TEST(EnvActions, PromotionActionsPlayThePieceTheyName) {
    Board board = board_from_fen("n1r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1");
    Board other = board;
    board.step(7 * 64 + sq("b7"));
    EXPECT_TRUE(get_bit(board.bitboards[piece::Q], sq("b8")));
    EXPECT_EQ(board.bitboards[piece::P], 0u);
    other.step(72 * 64 + sq("b7"));
    EXPECT_TRUE(get_bit(other.bitboards[piece::R], sq("c8")));
    EXPECT_EQ(other.bitboards[piece::r], 0u);
}

// The longest diagonal slide: direction 2 at distance 7; the whole queen fan is planes 7-23.
TEST(EnvActions, QueenSlidesAreNumberedByDirectionAndDistance) {
    Board board = board_from_fen("4k3/8/8/8/8/8/8/Q3K3 w - - 0 1");
    const ActionMask mask = board.get_actions();
    std::vector<int32_t> expected;
    for (int32_t plane = 7; plane <= 23; ++plane) expected.push_back(plane * 64 + 56);
    for (int32_t plane : {0, 7, 14, 21, 49}) expected.push_back(plane * 64 + 60);
    EXPECT_EQ(mask_actions(mask), sorted(expected));
    const Move* diagonal = board.ActionMap.find(20 * 64 + 56);
    ASSERT_NE(diagonal, nullptr);
    EXPECT_EQ(move_target(*diagonal), sq("h8"));
    EXPECT_EQ(move_target(*board.ActionMap.find(13 * 64 + 56)), sq("a8"));
    EXPECT_EQ(move_target(*board.ActionMap.find(23 * 64 + 56)), sq("d1"));
}

// Knight planes are absolute board directions: the same for a White and a Black knight.
TEST(EnvActions, KnightJumpsGetEightDistinctPlanesForEitherColour) {
    const std::pair<int32_t, const char*> by_plane[8] = {{56, "d6"}, {57, "f6"}, {58, "g5"},
                                                         {59, "g3"}, {60, "f2"}, {61, "d2"},
                                                         {62, "c3"}, {63, "c5"}};
    for (const char* fen : {"4k3/8/8/8/4N3/8/8/4K3 w - - 0 1", "4k3/8/8/8/4n3/8/8/4K3 b - - 0 1"}) {
        Board board = board_from_fen(fen);
        const ActionMask mask = board.get_actions();
        std::set<int32_t> knight_actions;
        for (int32_t a : mask_actions(mask))
            if (a % 64 == sq("e4")) knight_actions.insert(a);
        std::set<int32_t> expected;
        for (const auto& [plane, target] : by_plane) {
            expected.insert(plane * 64 + sq("e4"));
            const Move* m = board.ActionMap.find(plane * 64 + sq("e4"));
            ASSERT_NE(m, nullptr) << fen << " plane " << plane;
            EXPECT_EQ(move_target(*m), sq(target)) << fen << " plane " << plane;
        }
        EXPECT_EQ(knight_actions, expected) << fen;
        EXPECT_EQ(mask_actions(mask).size(), 13u) << fen;
    }
}

// Each case of move_direction for both sides, including the same-square answer (-1, -1).
TEST(EnvActions, MoveDirectionCoversEveryCaseForBothSides) {
    struct Case {
        const char* from;
        const char* to;
        int32_t distance, white_direction, black_direction;
    };
    const Case cases[] = {
        {"e4", "e8", 4, 1, 5},  // same file, towards rank 8
        {"e4", "e1", 3, 5, 1},  // same file, towards rank 1
        {"e4", "h4", 3, 3, 7},  // same rank, towards file h
        {"e4", "a4", 4, 7, 3},  // same rank, towards file a
        {"e4", "g2", 2, 4, 0},  // diagonal, row increasing, file increasing
        {"e4", "c2", 2, 6, 2},  // diagonal, row increasing, file decreasing
        {"e4", "c6", 2, 0, 4},  // diagonal, row decreasing, file decreasing
        {"e4", "g6", 2, 2, 6},  // diagonal, row decreasing, file increasing
        {"a1", "h8", 7, 2, 6}, {"h8", "a1", 7, 6, 2}, {"b7", "b8", 1, 1, 5},
    };
    Board board;
    for (int32_t side : {white, black}) {
        board.side = side;
        for (const Case& c : cases) {
            const auto [distance, direction] = board.move_direction(sq(c.from), sq(c.to));
            EXPECT_EQ(distance, c.distance) << c.from << c.to << " side " << side;
            EXPECT_EQ(direction, side == white ? c.white_direction : c.black_direction)
                << c.from << c.to << " side " << side;
        }
        EXPECT_EQ(board.move_direction(sq("e4"), sq("e4")), std::make_pair(-1, -1));
        EXPECT_EQ(board.move_direction(0, 0), std::make_pair(-1, -1));
    }
}

// get_actions is a pure query apart from the ActionMap: two calls give equal masks and the
// position, counters and history stay as they were.
TEST(EnvActions, GetActionsTwiceGivesEqualMasksAndChangesNothingElse) {
    Board board;
    board.reset();
    board.step(56 * 64 + 62);  // Nf3: no_progress_count 1, total_move_count 1
    const Board before = board;
    const ActionMask first = board.get_actions();
    const ActionMask second = board.get_actions();
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
    EXPECT_TRUE(same_board(board, before, {.action_map = true}));
    EXPECT_EQ(board.no_progress_count, 1);
    EXPECT_EQ(board.total_move_count, 1);
    EXPECT_EQ(map_keys(board.ActionMap), mask_actions(first));
    EXPECT_EQ(mask_actions(first).size(), 20u);
}

// Snapshots and comparisons rely on map equality: order of entries does not matter, values
// and keys do.
TEST(EnvActions, ActionMapEqualityIgnoresOrderButNotContent) {
    ActionMap a, b;
    a.insert(496, 100);
    a.insert(560, 200);
    b.insert(560, 200);
    b.insert(496, 100);
    EXPECT_TRUE(a == b);
    ActionMap other_value = a;
    other_value.clear();
    other_value.insert(496, 100);
    other_value.insert(560, 201);
    EXPECT_FALSE(a == other_value);
    ActionMap extra = b;
    extra.insert(0, 0);
    EXPECT_FALSE(a == extra);
    EXPECT_FALSE(extra == a);
    ActionMap other_key;
    other_key.insert(496, 100);
    other_key.insert(561, 200);
    EXPECT_FALSE(a == other_key);
}

// Checkmate: nothing to number.
TEST(EnvActions, PositionWithoutLegalMovesGivesAnEmptyMaskAndMap) {
    Board board = board_from_fen("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");
    board.ActionMap.insert(496, 0);  // a stale entry must go
    const ActionMask mask = board.get_actions();
    EXPECT_TRUE(mask_actions(mask).empty());
    EXPECT_TRUE(mask_is_binary(mask));
    EXPECT_TRUE(board.ActionMap.empty());
}

// The mask, the ActionMap and the legal moves agree exactly: one action per legal move, at
// the number the rules give, with no two legal moves sharing a number.
void expect_mask_matches_legal_moves(Board& board, const char* where) {
    const std::vector<Move> legal = legal_moves_by_trial(board);
    const ActionMask mask = board.get_actions();
    const std::vector<int32_t> ones = mask_actions(mask);
    ASSERT_TRUE(mask_is_binary(mask)) << where;
    ASSERT_EQ(ones.size(), legal.size()) << where;
    ASSERT_EQ(board.ActionMap.size(), legal.size()) << where;
    ASSERT_EQ(map_keys(board.ActionMap), ones) << where;
    std::set<int32_t> numbers;
    for (Move m : legal) {
        const int32_t action = reference_action(m, board.side);
        numbers.insert(action);
        const Move* found = board.ActionMap.find(action);
        ASSERT_NE(found, nullptr) << where << " action " << action;
        ASSERT_EQ(*found, m) << where << " action " << action;
    }
    ASSERT_EQ(numbers.size(), legal.size()) << where;
}

// Legal move counts of well-known positions, taken from an independent move generator.
TEST(EnvActions, MaskCountsMatchKnownLegalMoveCounts) {
    const std::pair<const char*, size_t> known[] = {
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 20},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 48},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq - 0 1", 43},
        {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 14},
        {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 6},
        {"r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1", 6},
        {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 44},
        {"n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1", 24},
        {"n1n5/PPPk4/8/8/8/8/4Kppp/5N1N w - - 0 1", 24},
        {"rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3", 31},
        {"rnbqkbnr/pppp1ppp/8/8/3pP3/8/PPP2PPP/RNBQKBNR b KQkq e3 0 3", 31},
    };
    for (const auto& [fen, count] : known) {
        Board board = board_from_fen(fen);
        EXPECT_EQ(mask_actions(board.get_actions()).size(), count) << fen;
        expect_mask_matches_legal_moves(board, fen);
    }
}

// Starts of random games full of promotions, castlings and en passant captures.
const char* const random_game_starts[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
    "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1",
    "r3k2r/1P4P1/8/8/8/8/1p4p1/R3K2R w KQkq - 0 1",
    "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
    "4k3/8/8/2pPp3/2PpP3/8/8/4K3 w - e6 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
};

// Many positions reached by random play from those starts.
TEST(EnvActions, MaskHoldsOneDistinctActionPerLegalMoveAlongRandomGames) {
    std::mt19937 engine(12345);
    int32_t positions = 0;
    for (const char* fen : random_game_starts) {
        for (int32_t game = 0; game < 12; ++game) {
            Board board = board_from_fen(fen);
            for (int32_t ply = 0; ply < 120; ++ply) {
                expect_mask_matches_legal_moves(board, fen);
                if (::testing::Test::HasFatalFailure()) return;
                ++positions;
                const std::vector<Move> legal = legal_moves_by_trial(board);
                if (legal.empty()) break;
                const Move m = legal[engine() % legal.size()];
                ASSERT_EQ(board.make_move(m), 1);
            }
        }
    }
    EXPECT_GT(positions, 3000);
}

// The move the table gives each plane is the move of every legal action on it.
TEST(EnvActions, PlaneMovesAreTheMovesOfTheActionsOnThem) {
    std::mt19937 engine(777);
    for (const char* fen : random_game_starts) {
        Board board = board_from_fen(fen);
        for (int32_t ply = 0; ply < 80; ++ply) {
            ActionMap::Entry legal[max_moves];
            const int32_t count = board.legal_actions(legal);
            if (count == 0) break;
            for (int32_t i = 0; i < count; ++i) {
                const Move m = legal[i].second;
                const PlaneMove made = plane_move(legal[i].first / 64, board.side);
                const int32_t kind = move_promoted(m) % 6;
                ASSERT_EQ(row_of(move_target(m)) - row_of(move_source(m)), made.rows) << fen;
                ASSERT_EQ(file_of(move_target(m)) - file_of(move_source(m)), made.files) << fen;
                ASSERT_EQ(kind && kind != piece::Q ? kind - 1 : -1, made.underpromotion) << fen;
            }
            board.step(legal[engine() % static_cast<uint32_t>(count)].first);
        }
    }
}

}  // namespace
}  // namespace ortolan
