#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pgn/reader.h"

namespace ortolan::pgn {
namespace {

std::vector<Entry> read_all(const std::string& text, size_t chunk = 0, Options options = {}) {
    Reader reader(options);
    std::vector<Entry> out;
    if (chunk == 0) chunk = text.size() + 1;
    for (size_t i = 0; i < text.size(); i += chunk)
        reader.feed(text.data() + i, std::min(chunk, text.size() - i), out);
    reader.finish(out);
    return out;
}

const std::vector<int32_t> d4_nf6_c4_e6 = {563, 3910, 562, 460};

TEST(PgnReader, ReadsMovetextSyntax) {
    const std::string text =
        "\xEF\xBB\xBF[Event \"a \\\"quoted\\\" \\\\ name\"]\r\n\r\n[Result \"1-0\"]\r\n"
        "% an escape line 1. e4\r\n"
        "1. d4 {[%clk 0:03:00] [%eval 0.2]} 1... Nf6!? $1 ( 1... d5 2. c4 (2. Nf3) dxc4 ) "
        "2.c4 ; a comment to the end of the line\ne6?? 1-0\n";
    const auto games = read_all(text);
    ASSERT_EQ(games.size(), 1u);
    EXPECT_EQ(games[0].kind, entry_game);
    EXPECT_EQ(games[0].actions, d4_nf6_c4_e6);
    ASSERT_EQ(games[0].tags.size(), 2u);
    EXPECT_EQ(games[0].tags[0].value, "a \"quoted\" \\ name");
    EXPECT_EQ(games[0].result, "1-0");
    EXPECT_EQ(games[0].line, 1);
}

TEST(PgnReader, ChunkSizeDoesNotChangeTheGames) {
    const std::string text =
        "[Event \"one\"]\n\n1. e4 e5 {a comment\nover lines} 2. Nf3 *\n\n"
        "1. d4 Nf6 2. c4 e6 0-1\n1. e4 *\n\n[Event \"two\"]\n[Result \"*\"]\n\n"
        "[Event \"three\"]\n\n1. e4 e5 2. Ke3 Nc6 1/2-1/2\n\n[Event \"four\"]\n1. Nf3\n";
    const auto whole = read_all(text);
    ASSERT_EQ(whole.size(), 6u);
    const std::vector<int32_t> kinds = {entry_game, entry_game,    entry_game,
                                        entry_game, entry_skipped, entry_skipped};
    const std::vector<int64_t> lines = {1, 6, 7, 9, 12, 16};
    for (size_t i = 0; i < whole.size(); ++i) {
        EXPECT_EQ(whole[i].kind, kinds[i]) << i;
        EXPECT_EQ(whole[i].line, lines[i]) << i;
    }
    EXPECT_EQ(whole[0].actions, (std::vector<int32_t>{564, 524, 3646}));
    EXPECT_EQ(whole[1].actions, d4_nf6_c4_e6);
    EXPECT_EQ(whole[1].result, "0-1");
    EXPECT_TRUE(whole[3].actions.empty());  // a game of tags alone
    EXPECT_EQ(whole[4].reason, "illegal move");
    EXPECT_EQ(whole[4].token, "Ke3");
    EXPECT_EQ(whole[4].skip_line, 14);
    EXPECT_EQ(whole[5].reason, "the input ends inside the game");
    for (size_t chunk : {1, 2, 7, 64}) {
        const auto parts = read_all(text, chunk);
        ASSERT_EQ(parts.size(), whole.size()) << chunk;
        for (size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(parts[i].actions, whole[i].actions) << chunk << " " << i;
            EXPECT_EQ(parts[i].line, whole[i].line) << chunk << " " << i;
            EXPECT_EQ(parts[i].reason, whole[i].reason) << chunk << " " << i;
        }
    }
}

TEST(PgnReader, RecordsFaultsAndGoesOn) {
    struct Case {
        const char* movetext;
        const char* token;
        const char* reason;
    };
    const Case cases[] = {
        {"1. e4 N4 *", "N4", "unreadable move"},
        {"1. b4 a5 2. bxa5 b6 3. axb6 Ra7 4. bxa7 Bb7 5. axb8 *", "axb8", "illegal move"},
        {"1. e2e4 e5 *", "e2e4", "move in UCI notation, not SAN"},
        {"1. e4 -- 2. d4 *", "--", "null move"},
        {"1. e4 Z0 *", "Z0", "null move"},
        {"1. e4 { open comment *", "{", "unbalanced comment"},
        {"1. e4 } e5 *", "}", "unbalanced comment"},
        {"1. e4 ( 1. d4 *", "(", "unbalanced variation"},
        {"1. Nf3 Nf6 2. Nc3 Nc6 3. Nb5 Nb4 4. Nd4 *", "Nd4", "ambiguous move"},
        {"1. e4 & *", "&", "unreadable token"},
    };
    for (const Case& c : cases) {
        const std::string text = std::string("[Event \"x\"]\n\n") + c.movetext +
                                 "\n\n[Event \"after\"]\n\n1. d4 Nf6 2. c4 e6 *\n";
        const auto games = read_all(text);
        ASSERT_EQ(games.size(), 2u) << c.movetext;
        EXPECT_EQ(games[0].reason, c.reason) << c.movetext;
        EXPECT_EQ(games[0].token, c.token) << c.movetext;
        EXPECT_EQ(games[0].kind, *c.reason ? entry_skipped : entry_game) << c.movetext;
        EXPECT_EQ(games[1].actions, d4_nf6_c4_e6) << c.movetext;
    }
}

TEST(PgnReader, DecodesEverySanForm) {
    // Each line: a FEN, a SAN text and the action it names (or -1 where the text is refused).
    struct Case {
        const char* fen;
        const char* san;
        int32_t action;
    };
    const char* knights = "4k3/8/8/8/8/2N3N1/8/2N1K3 w - - 0 1";  // c3, g3 and c1
    const char* promotion = "1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1";
    const Case cases[] = {
        {knights, "Ne2", -1},               // three knights reach e2
        {knights, "Nce2", -1},              // two of them on the c-file
        {knights, "N3e2", -1},              // two on the third rank
        {knights, "Nc3e2", 59 * 64 + 42},   // c3-e2: source - target = 42 - 52 = -10
        {knights, "N1e2", 58 * 64 + 58},    // c1-e2: 58 - 52 = 6
        {knights, "Nge2+", 62 * 64 + 46},   // g3-e2: 46 - 52 = -6
        {knights, "Nd3", 57 * 64 + 58},     // c1-d3: 58 - 43 = 15
        {knights, "Nc1-d3", 57 * 64 + 58},  // long algebraic, as game_text writes it
        {knights, "Nc1xd3", 57 * 64 + 58},
        {start_position, "e2-e4", 8 * 64 + 52},  // forward two from e2 (square 52): 7 + 1
        {start_position, "e3-e4", -1},
        {promotion, "a8=Q", 7 * 64 + 8},  // forward one: plane 7 * 1 + 0
        {promotion, "a8Q", 7 * 64 + 8},
        {promotion, "a8=N", (64 + 1 * 3 + 0) * 64 + 8},
        {promotion, "axb8=R#", (64 + 2 * 3 + 2) * 64 + 8},
        {promotion, "axb8R", (64 + 2 * 3 + 2) * 64 + 8},
        {promotion, "bxa8=Q", -1},
        {promotion, "a8", -1},  // a promotion must say what to
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "O-O", 50 * 64 + 4},  // Black's left: 7 * 7 + 1
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "0-0-0", 22 * 64 + 4},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "O-O-O+", 50 * 64 + 60},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "exd6", 0 * 64 + 28},  // en passant
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "ed6", 0 * 64 + 28},
        // En passant takes the pawn that gives check: b5-c6, forward-right.
        {"b7/p7/Pp2k3/1Pp1Ppp1/3K4/2N5/8/8 w - c6 0 39", "bxc6", 2 * 7 * 64 + 25},
        {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", "Kxd2", 0 * 64 + 60},  // x needs no capture
        {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", "Kc3", -1},
    };
    for (const Case& c : cases) {
        Board board;
        board.new_game(c.fen);
        MoveList scratch;
        Move move = 0;
        const SanStatus status =
            decode_san(board, board.direct_generation_applies(), c.san, scratch, move);
        if (c.action < 0) {
            EXPECT_NE(status, san_ok) << c.fen << " " << c.san;
        } else {
            ASSERT_EQ(status, san_ok) << c.fen << " " << c.san;
            EXPECT_EQ(action_number(move, board.side), c.action) << c.fen << " " << c.san;
        }
    }
}

TEST(PgnReader, SetsUpFenStartsAndRefusesOthers) {
    const auto games = read_all(
        "[FEN \"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\"]\n[SetUp \"1\"]\n\n1. e4 Kd7 *\n\n"
        "[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1 junk\"]\n\n*\n\n"
        "[Variant \"Atomic\"]\n\n1. e4 *\n\n[Variant \"Standard\"]\n\n1. e4 *\n");
    ASSERT_EQ(games.size(), 4u);
    EXPECT_EQ(games[0].fen, "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
    EXPECT_EQ(games[0].actions, (std::vector<int32_t>{8 * 64 + 52, 14 * 64 + 4}));
    EXPECT_EQ(games[1].reason, "FEN tag cannot be loaded: more than six fields");
    EXPECT_EQ(games[2].reason, "variant other than standard chess");
    EXPECT_EQ(games[2].token, "Atomic");
    EXPECT_EQ(games[3].kind, entry_game);
}

TEST(PgnReader, JudgesTheEndingAndFilters) {
    // Fool's mate, then a third occurrence at ply 8 that the players play past.
    const auto games = read_all(
        "[WhiteElo \"2000\"]\n[BlackElo \"1500\"]\n[TimeControl \"180+2\"]\n\n"
        "1. f3 e5 2. g4 Qh4# 0-1\n\n"
        "[WhiteElo \"2000\"]\n[BlackElo \"2100\"]\n[TimeControl \"60+0\"]\n\n"
        "1. Nf3 Nf6 2. Ng1 Ng8 3. Nf3 Nf6 4. Ng1 Ng8 5. e4 *\n",
        0, Options{rules_ortolan, nullptr});
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0].ending, ending_checkmate);
    EXPECT_EQ(games[0].ending_ply, 4);
    EXPECT_EQ(games[1].ending, ending_threefold_repetition);
    EXPECT_EQ(games[1].ending_ply, 8);
    EXPECT_EQ(games[1].actions.size(), 9u);

    // The chess rule sets: a bare king after a capture, and a clock of 100 half-moves (75 moves
    // are needed under FIDE's automatic rule).
    const std::string chess_endings =
        "[FEN \"4k3/8/8/8/8/8/3r4/4K3 w - - 0 1\"]\n\n1. Kxd2 Kd7 *\n\n"
        "[FEN \"4k3/8/8/8/8/8/8/4K2R w - - 98 60\"]\n\n1. Rh2 Kd7 2. Rh3 *\n";
    const int32_t standard_endings[] = {ending_insufficient_material, ending_fifty_moves};
    const int32_t fide_endings[] = {ending_insufficient_material, ending_none};
    for (const int32_t rules : {rules_standard, rules_fide}) {
        const auto read = read_all(chess_endings, 0, Options{rules, nullptr});
        ASSERT_EQ(read.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const int32_t expected =
                rules == rules_standard ? standard_endings[i] : fide_endings[i];
            EXPECT_EQ(read[i].ending, expected) << rules << " " << i;
            EXPECT_EQ(read[i].ending_ply, expected == ending_none ? -1 : i == 0 ? 1 : 2);
        }
    }

    Filter filter;
    filter.min_elo = 1800;
    Options options{rules_ortolan, &filter};
    const auto text = std::string("[WhiteElo \"2000\"]\n[BlackElo \"1500\"]\n\n1. e4 *\n\n") +
                      "[WhiteElo \"2000\"]\n[BlackElo \"2100\"]\n[TimeControl \"60+0\"]\n\n1. e4 "
                      "*\n";
    auto kept = read_all(text, 0, options);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].kind, entry_filtered);
    EXPECT_EQ(kept[1].kind, entry_game);
    filter.time_classes = 1u << time_blitz;
    kept = read_all(text, 0, options);
    EXPECT_EQ(kept[1].kind, entry_filtered);

    EXPECT_EQ(time_class("15"), time_ultrabullet);
    EXPECT_EQ(time_class("60+1"), time_bullet);  // 100 s
    EXPECT_EQ(time_class("180+0"), time_blitz);
    EXPECT_EQ(time_class("600+5"), time_rapid);
    EXPECT_EQ(time_class("1800+0"), time_classical);
    EXPECT_EQ(time_class("-"), time_correspondence);
    EXPECT_EQ(time_class("?"), time_unknown);
}

TEST(PgnReader, FindsGameStartsOnly) {
    // Starts: the line after movetext, even inside an unclosed comment; not a tag line after a
    // blank line among tags, nor a first line after a restart in the middle of a stream.
    const std::string text = "[A \"1\"]\n\n[B \"2\"]\n1. e4 {\n[C \"3\"]\n\n[D \"4\"]\n*\n";
    GameStarts starts;
    std::vector<size_t> found;
    for (size_t at = starts.next(text.data(), text.size(), 0); at < text.size();
         at = starts.next(text.data(), text.size(), at))
        found.push_back(at);
    EXPECT_EQ(found, (std::vector<size_t>{text.find("[C")}));
    EXPECT_EQ(starts.line(), 8);

    GameStarts middle;
    middle.restart(true);
    const std::string rest = "[B \"2\"]\n1. e4 *\n[C \"3\"]\n";
    EXPECT_EQ(middle.next(rest.data(), rest.size(), 0), rest.find("[C"));
}

}  // namespace
}  // namespace ortolan::pgn
