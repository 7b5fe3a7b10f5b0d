// Reading PGN: game databases as written in the wild, turned into action lists.
//
// The text is cut into spans at game starts (GameStarts), and each span is read on its own
// (read_span), so that a stream can be read a chunk at a time (Reader) and a large block can be
// shared among threads with the same result. A game start is a line whose first character is
// '[' after a line that held something other than tag pairs: a blank line among the tag pairs
// of one game does not end them, and a tag line ends a brace comment left open before it.
//
// Movetext is read as real files hold it: tag pairs with \" and \\ escapes, {...} and ;
// comments, nested variations (read past; the main line is kept), NAGs and !? suffixes, move
// numbers 12. and 12..., the four result tokens, % escape lines, a byte-order mark, CRLF line
// ends, games without tags and games without moves. Moves are SAN, decoded against the legal
// moves of Board::legal_moves: disambiguation by file, rank or square, x and +/# optional,
// promotions =Q and Q, castling O-O / 0-0 / O-O-O, and long algebraic text (e2-e4, Ng1xf3). A
// FEN tag sets up another start.
//
// A game that cannot be read (an illegal, ambiguous or unreadable move, a null move, a broken
// tag, an unbalanced comment or variation, a variant other than chess, a FEN that fen_fault
// refuses, the input ending inside it) is recorded with its line, the token and the reason, and
// reading goes on with the next game.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/board.h"

namespace ortolan::pgn {

// Endings of a main line; their names are ending_names[ending].
enum Ending : int32_t {
    ending_none,
    ending_checkmate,
    ending_stalemate,
    ending_insufficient_material,
    ending_threefold_repetition,
    ending_fivefold_repetition,
    ending_fifty_moves,
    ending_seventyfive_moves,
    ending_no_progress,
    ending_count
};
extern const char* const ending_names[ending_count];

// Time-control classes of a TimeControl tag, by the estimated length base + 40 * increment
// seconds: under 29 s ultrabullet, 179 bullet, 479 blitz, 1499 rapid, otherwise classical;
// "-" is correspondence. Bit i of a class mask stands for class i.
enum TimeClass : int32_t {
    time_ultrabullet,
    time_bullet,
    time_blitz,
    time_rapid,
    time_classical,
    time_correspondence,
    time_unknown,
    time_class_count
};
extern const char* const time_class_names[time_class_count];
int32_t time_class(std::string_view time_control);

// What a game must show, by its tags, to be decoded at all; a game that fails is counted as
// filtered, not read further.
struct Filter {
    int32_t min_elo = 0;          // both WhiteElo and BlackElo at least this (0: no check)
    uint32_t time_classes = ~0u;  // accepted classes
    std::vector<std::string> terminations;  // accepted Termination values (empty: any)
    bool unfinished = true;                 // whether a result of * is accepted
};

struct Tag {
    std::string name;
    std::string value;
};

enum EntryKind : int32_t { entry_game, entry_skipped, entry_filtered };

// One game of the input: a game read (its tags, start FEN, actions, result and ending), a
// game skipped (where and why) or a game a filter left out.
struct Entry {
    int32_t kind = entry_game;
    int64_t number = 0;  // the game's number in the input, counted from 1, where the reader's
                         // user counts them
    int64_t line = 0;    // the line the game starts on, counted from 1
    std::vector<Tag> tags;
    std::string fen;  // the FEN tag; empty for the standard start
    std::vector<int32_t> actions;
    std::string result;            // the Result tag, else the game's result token, else "*"
    int32_t ending = ending_none;  // the first ending the main line reaches under the rules
    int32_t ending_ply = -1;       // the plies played when it was reached
    // For a skipped game: the line of the token at fault, the token and the reason.
    int64_t skip_line = 0;
    std::string token;
    std::string reason;

    const std::string* tag(std::string_view name) const;
};

// Told of every position of a game as it is read, before its move is played: what is built
// from a game while it is read, without playing it again.
class PositionVisitor {
public:
    // The board holds the position; a game's first position has just_reset as Board::new_game
    // left it.
    virtual void position(const Board& board, int32_t ply, int32_t action) = 0;
    // The game's entry is complete: accepted or not.
    virtual void game_end(const Entry& entry) = 0;

protected:
    ~PositionVisitor() = default;
};

// The rule set (env/rules.h) the endings are judged under, the filter and the visitor. The
// board starts every game with a step counter and prev_n_repititions of 0, as a new Board.
struct Options {
    int32_t rules = rules_standard;
    const Filter* filter = nullptr;
    PositionVisitor* visitor = nullptr;
};

// Finds game starts in a stream of bytes given a chunk at a time.
class GameStarts {
public:
    // The offset in data of the next game start at or after from, or size when there is none
    // in the chunk; lines counts the line ends passed on the way. The state carries over to the
    // next chunk. Offsets must be asked in increasing order within a chunk, each chunk once.
    size_t next(const char* data, size_t size, size_t from);
    // Lines ended before the offset last returned, since the stream began.
    int64_t line() const { return lines_; }
    // Starts over in the middle of a stream, at the start of a line or inside one; lines
    // before the next complete line's are unknown, so a '[' there is not a game start.
    void restart(bool at_line_start);

private:
    enum LineKind : uint8_t { line_blank, line_tag, line_escape, line_content, line_unknown };
    int64_t lines_ = 0;
    bool line_start_ = true;      // the scan stands at the start of a line
    LineKind kind_ = line_blank;  // of the line being scanned, so far
    bool content_ = false;        // the last line with anything on it held more than tag pairs
    bool known_ = true;           // whether that line was seen
};

// Reads the games of the span [begin, end), which starts on line `line` (counted from 1),
// appending one entry per game. at_end tells that the input ends with the span, so a game
// cut off by it is reported as such. The board is scratch space.
void read_span(const char* begin, const char* end, int64_t line, bool at_end,
               const Options& options, Board& board, std::vector<Entry>& out);

// Reads a stream given a chunk at a time: entries come out as their games are complete.
class Reader {
public:
    explicit Reader(Options options) : options_(std::move(options)) {}

    // Adds bytes of the stream and appends the entries of the games they complete.
    void feed(const char* data, size_t size, std::vector<Entry>& out);
    // The stream has ended: appends the entries of what is left.
    void finish(std::vector<Entry>& out);

private:
    Options options_;
    Board board_;
    GameStarts starts_;
    std::string buffer_;  // the text read and not yet given out, from begin_ on
    size_t begin_ = 0;    // where the current game starts in the buffer
    size_t scanned_ = 0;  // how much of the buffer the scanner has seen
    int64_t line_ = 1;    // the line begin_ is on
    bool first_ = true;   // before any byte: a byte-order mark may come
};

// The legal move that SAN text names in the position, or an error; direct tells
// Board::direct_generation_applies() of the position, and scratch holds the candidates.
enum SanStatus : int32_t { san_ok, san_unreadable, san_illegal, san_ambiguous, san_uci, san_null };
SanStatus decode_san(Board& board, bool direct, std::string_view text, MoveList& scratch,
                     Move& out);

}  // namespace ortolan::pgn
