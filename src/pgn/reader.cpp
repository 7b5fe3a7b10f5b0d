// The PGN reader: game starts, spans of games, the stream reader and the tag checks.
#include "pgn/reader.h"

#include <array>
#include <cstring>

namespace ortolan::pgn {

const char* const ending_names[ending_count] = {
    "",
    "checkmate",
    "stalemate",
    "insufficient_material",
    "threefold_repetition",
    "fivefold_repetition",
    "fifty_moves",
    "seventyfive_moves",
    "no_progress",
};

const char* const time_class_names[time_class_count] = {
    "ultrabullet", "bullet", "blitz", "rapid", "classical", "correspondence", "unknown",
};

namespace {

// Character classes, looked up in one table: the tokenizer asks them of every byte.
enum : uint8_t {
    class_blank = 1,
    class_digit = 2,
    class_letter = 4,
    class_tag = 8,
    class_symbol = 16
};
constexpr auto char_classes = [] {
    std::array<uint8_t, 256> t{};
    for (const char c : std::string_view(" \t\r\f\v")) t[static_cast<uint8_t>(c)] = class_blank;
    for (int c = 0; c < 256; ++c) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool tag =
            digit || letter || c == '_' || c == '+' || c == '#' || c == '=' || c == ':' || c == '-';
        // Characters of a SAN move, move number or result token.
        const bool symbol = tag || c == '/' || c == '@';
        t[c] |= (digit ? class_digit : 0) | (letter ? class_letter : 0) | (tag ? class_tag : 0) |
                (symbol ? class_symbol : 0);
    }
    return t;
}();
constexpr bool has_class(char c, uint8_t cls) {
    return char_classes[static_cast<uint8_t>(c)] & cls;
}
constexpr bool is_blank(char c) { return has_class(c, class_blank); }
constexpr bool is_digit(char c) { return has_class(c, class_digit); }
constexpr bool is_tag_name_char(char c) { return has_class(c, class_tag); }
constexpr bool is_symbol_char(char c) { return has_class(c, class_symbol); }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool standard_variant(std::string_view v) {
    return v.empty() || equals_ignoring_case(v, "standard") || equals_ignoring_case(v, "chess") ||
           equals_ignoring_case(v, "from position") || equals_ignoring_case(v, "normal");
}

// A non-negative decimal integer, or -1.
int64_t number_of(std::string_view text) {
    if (text.empty() || text.size() > 12) return -1;
    int64_t value = 0;
    for (const char c : text) {
        if (!is_digit(c)) return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The ending a position has reached under the board's rules, from its number of legal moves.
// The engine's verdict (Board::outcome) decides; this names the rule that gave it.
int32_t ending_of(const Board& board, int32_t legal_count) {
    const Outcome end = board.outcome(legal_count);
    if (!end.done) return ending_none;
    if (legal_count == 0) return board.in_check() ? ending_checkmate : ending_stalemate;
    if (board.rules == rules_ortolan)
        return board.n_repititions == 2 ? ending_threefold_repetition : ending_no_progress;
    const bool fide = board.rules == rules_fide;
    if (board.insufficient_material()) return ending_insufficient_material;
    if (board.no_progress_count >= ending_clock(board.rules))
        return fide ? ending_seventyfive_moves : ending_fifty_moves;
    return fide ? ending_fivefold_repetition : ending_threefold_repetition;
}

// One span being read: a cursor over the text with its line count.
class Span {
public:
    Span(const char* begin, const char* end, int64_t line, bool at_end, const Options& options,
         Board& board, std::vector<Entry>& out)
        : p_(begin),
          end_(end),
          line_start_(begin),
          line_(line),
          at_end_(at_end),
          options_(options),
          board_(board),
          out_(out) {}

    void run() {
        while (game()) {
        }
    }

private:
    // Skips blanks, line ends and % escape lines; false at the end of the span.
    bool skip_space() {
        while (p_ < end_) {
            const char c = *p_;
            if (c == '\n') {
                new_line(p_ + 1);
            } else if (is_blank(c)) {
                ++p_;
            } else if (c == '%' && p_ == line_start_) {
                to_line_end();
            } else {
                return true;
            }
        }
        return false;
    }
    void new_line(const char* next) {
        ++line_;
        p_ = next;
        line_start_ = next;
    }
    void to_line_end() {
        const void* nl = std::memchr(p_, '\n', static_cast<size_t>(end_ - p_));
        p_ = nl ? static_cast<const char*>(nl) : end_;
    }

    // Marks the game skipped at the token [begin, begin + size), unless it already is.
    // Kept out of line: inlined into the tokenizer, GCC 12 warns of overlaps it invents.
    [[gnu::noinline]] void fail(const char* begin, size_t size, const char* reason) {
        if (failed_) return;
        failed_ = true;
        entry_.kind = entry_skipped;
        entry_.skip_line = line_;
        entry_.token.assign(begin, size > 40 ? 40 : size);
        entry_.reason = reason;
    }

    // One tag pair at p_ ('['): tag_ok, or tag_broken with p_ at the end of the line, or
    // tag_again with p_ left at a tag whose name the game has already given: a game of tags
    // alone ended there, and the tag begins the next one.
    enum TagRead { tag_ok, tag_broken, tag_again };
    TagRead tag() {
        const char* start = p_;
        const char* q = p_ + 1;
        while (q < end_ && is_blank(*q)) ++q;
        const char* name = q;
        while (q < end_ && is_tag_name_char(*q)) ++q;
        const char* name_end = q;
        while (q < end_ && is_blank(*q)) ++q;
        bool ok = name_end > name && q < end_ && *q == '"';
        std::string value;
        if (ok) {
            ++q;
            ok = false;
            for (; q < end_ && *q != '\n'; ++q) {
                if (*q == '\\' && q + 1 < end_ && (q[1] == '"' || q[1] == '\\')) {
                    value += *++q;
                } else if (*q == '"') {
                    ok = true;
                    ++q;
                    break;
                } else {
                    value += *q;
                }
            }
            while (ok && q < end_ && is_blank(*q)) ++q;
            ok = ok && q < end_ && *q == ']';
        }
        if (!ok) {
            p_ = start;
            to_line_end();
            fail(start, static_cast<size_t>(p_ - start), "broken tag");
            return tag_broken;
        }
        std::string key(name, name_end);
        for (const Tag& t : entry_.tags) {
            if (t.name == key) {
                p_ = start;
                return tag_again;
            }
        }
        p_ = q + 1;
        entry_.tags.push_back({std::move(key), std::move(value)});
        return tag_ok;
    }

    // After the tags: the variant, the start and the filter. False when the moves need not
    // be decoded.
    bool start_game() {
        if (const std::string* v = entry_.tag("Variant"); v && !standard_variant(*v)) {
            fail(v->data(), v->size(), "variant other than standard chess");
            return false;
        }
        if (const std::string* fen = entry_.tag("FEN")) {
            if (const char* fault = fen_fault(fen->c_str());
                fault || fen->find('\0') != fen->npos) {
                fail(fen->data(), fen->size(), "FEN tag cannot be loaded");
                entry_.reason += ": ";
                entry_.reason += fault ? fault : "a NUL character";
                return false;
            }
            entry_.fen = *fen;
        }
        if (options_.filter && !passes(*options_.filter)) {
            entry_.kind = entry_filtered;
            return false;
        }
        board_.rules = options_.rules;
        board_.total_move_count = 0;
        board_.prev_n_repititions = 0;
        board_.new_game(entry_.fen.empty() ? start_position : entry_.fen.c_str());
        direct_ = board_.direct_generation_applies();
        key_ = board_.carried_key();
        return true;
    }

    bool passes(const Filter& filter) const {
        if (filter.min_elo > 0) {
            for (const char* name : {"WhiteElo", "BlackElo"}) {
                const std::string* elo = entry_.tag(name);
                if (!elo || number_of(*elo) < filter.min_elo) return false;
            }
        }
        if (filter.time_classes != ~0u) {
            const std::string* tc = entry_.tag("TimeControl");
            const int32_t cls = tc ? time_class(*tc) : time_unknown;
            if (!(filter.time_classes & (1u << cls))) return false;
        }
        if (!filter.terminations.empty()) {
            const std::string* t = entry_.tag("Termination");
            bool found = false;
            for (const std::string& accepted : filter.terminations) found |= t && *t == accepted;
            if (!found) return false;
        }
        if (!filter.unfinished) {
            const std::string* r = entry_.tag("Result");
            if (!r || *r == "*") return false;
        }
        return true;
    }

    void play(const char* begin, size_t size) {
        Move move = 0;
        switch (decode_san(board_, direct_, std::string_view(begin, size), candidates_, move)) {
            case san_ok:
                break;
            case san_illegal:
                return fail(begin, size, "illegal move");
            case san_ambiguous:
                return fail(begin, size, "ambiguous move");
            case san_uci:
                return fail(begin, size, "move in UCI notation, not SAN");
            case san_null:
                return fail(begin, size, "null move");
            default:
                return fail(begin, size, "unreadable move");
        }
        // The position has a legal move: no mate or stalemate, a draw by rule perhaps.
        if (entry_.ending == ending_none) {
            entry_.ending = ending_of(board_, 1);
            if (entry_.ending != ending_none)
                entry_.ending_ply = static_cast<int32_t>(entry_.actions.size());
        }
        const int32_t action = action_number(move, board_.side);
        if (options_.visitor)
            options_.visitor->position(board_, static_cast<int32_t>(entry_.actions.size()), action);
        entry_.actions.push_back(action);
        // Play keeps a position that direct generation applies to consistent, and the side to
        // move then has its one king unless a FEN gave the other side more.
        if (direct_) {
            key_ = board_.advance_direct(move, key_);
            direct_ = board_.one_king_to_move();
        } else {
            key_ = board_.advance(move, false);
            direct_ = board_.direct_generation_applies();
        }
    }

    // Reads one game from p_; false when the span holds no more.
    bool game() {
        entry_ = Entry{};
        failed_ = false;
        bool something = false;  // a tag, a move or a result token: what makes a game
        bool decoding = false;
        int32_t depth = 0;
        bool ended = false;
        std::string_view marker;

        if (!skip_space()) return false;
        entry_.line = line_;
        // The tag pairs; a blank line among them does not end them.
        while (p_ < end_ && *p_ == '[') {
            something = true;
            if (tag() == tag_again) {
                ended = true;
                break;
            }
            if (!skip_space()) break;
        }
        if (!failed_) decoding = start_game();

        const char* unclosed = nullptr;
        int64_t unclosed_line = 0;
        while (!ended && skip_space()) {
            const char* t = p_;
            const char c = *p_;
            if (c == '{') {
                const void* close = std::memchr(p_, '}', static_cast<size_t>(end_ - p_));
                const char* stop = close ? static_cast<const char*>(close) : end_;
                const int64_t comment_line = line_;
                for (const char* q = p_; (q = static_cast<const char*>(std::memchr(
                                              q, '\n', static_cast<size_t>(stop - q))));) {
                    ++line_;
                    line_start_ = ++q;
                }
                if (!close) {
                    unclosed = t;
                    unclosed_line = comment_line;
                    p_ = end_;
                    break;
                }
                p_ = stop + 1;
            } else if (c == '}') {
                ++p_;
                fail(t, 1, "unbalanced comment");
                something = true;
            } else if (c == ';') {
                to_line_end();
            } else if (c == '(') {
                ++p_;
                ++depth;
            } else if (c == ')') {
                ++p_;
                if (depth == 0) {
                    fail(t, 1, "unbalanced variation");
                    something = true;
                } else {
                    --depth;
                }
            } else if (c == '$') {
                ++p_;
                while (p_ < end_ && is_digit(*p_)) ++p_;
            } else if (c == '!' || c == '?') {
                while (p_ < end_ && (*p_ == '!' || *p_ == '?')) ++p_;
            } else if (c == '*') {
                ++p_;
                if (depth == 0) {
                    something = true;
                    ended = true;
                    marker = "*";
                }
            } else if (c == '.') {
                ++p_;
            } else if (is_symbol_char(c)) {
                if (is_digit(c)) {
                    const char* q = p_;
                    while (q < end_ && is_digit(*q)) ++q;
                    if (q < end_ && *q == '.') {  // a move number, 12. or 12...
                        while (q < end_ && *q == '.') ++q;
                        p_ = q;
                        continue;
                    }
                }
                while (p_ < end_ && is_symbol_char(*p_)) ++p_;
                const std::string_view word(t, static_cast<size_t>(p_ - t));
                while (p_ < end_ && (*p_ == '!' || *p_ == '?')) ++p_;
                if (depth > 0) continue;
                if (word == "1-0" || word == "0-1" || word == "1/2-1/2") {
                    something = true;
                    ended = true;
                    marker = word;
                    continue;
                }
                something = true;
                if (decoding && !failed_) play(t, word.size());
            } else {
                // A character no PGN token starts with: the rest of the run is the token.
                while (p_ < end_ && !is_blank(*p_) && *p_ != '\n') ++p_;
                fail(t, static_cast<size_t>(p_ - t), "unreadable token");
                something = true;
            }
        }
        if (!something) return false;
        if (unclosed && !failed_) {
            fail(unclosed, 1, "unbalanced comment");
            entry_.skip_line = unclosed_line;
        }
        if (depth > 0) fail("(", 1, "unbalanced variation");
        if (!ended && at_end_ && p_ >= end_) fail("", 0, "the input ends inside the game");
        if (const std::string* r = entry_.tag("Result")) {
            entry_.result = *r;
        } else {
            entry_.result = marker.empty() ? std::string_view("*") : marker;
        }
        if (entry_.kind == entry_game && decoding && entry_.ending == ending_none) {
            entry_.ending = ending_of(board_, board_.has_legal_move() ? 1 : 0);
            if (entry_.ending != ending_none)
                entry_.ending_ply = static_cast<int32_t>(entry_.actions.size());
        }
        if (entry_.kind != entry_game) {
            entry_.actions.clear();
            entry_.ending = ending_none;
            entry_.ending_ply = -1;
        }
        if (options_.visitor) options_.visitor->game_end(entry_);
        out_.push_back(std::move(entry_));
        return p_ < end_;
    }

    const char* p_;
    const char* end_;
    const char* line_start_;
    int64_t line_;
    bool at_end_;
    const Options& options_;
    Board& board_;
    std::vector<Entry>& out_;
    Entry entry_;
    bool failed_ = false;
    MoveList candidates_;
    bool direct_ = false;  // direct_generation_applies() of the board
    uint64_t key_ = 0;     // the board's carried key
};

}  // namespace

const std::string* Entry::tag(std::string_view name) const {
    for (const Tag& t : tags)
        if (t.name == name) return &t.value;
    return nullptr;
}

int32_t time_class(std::string_view tc) {
    if (tc == "-") return time_correspondence;
    const size_t plus = tc.find('+');
    const int64_t base = number_of(tc.substr(0, plus));
    const int64_t increment = plus == std::string_view::npos ? 0 : number_of(tc.substr(plus + 1));
    if (base < 0 || increment < 0) return time_unknown;
    const int64_t estimate = base + 40 * increment;
    if (estimate < 29) return time_ultrabullet;
    if (estimate < 179) return time_bullet;
    if (estimate < 479) return time_blitz;
    if (estimate < 1499) return time_rapid;
    return time_classical;
}

void GameStarts::restart(bool at_line_start) {
    line_start_ = at_line_start;
    kind_ = at_line_start ? line_blank : line_unknown;
    content_ = false;
    known_ = false;
}

size_t GameStarts::next(const char* data, size_t size, size_t from) {
    size_t i = from;
    while (i < size) {
        if (line_start_) {
            line_start_ = false;
            kind_ = line_blank;
            if (data[i] == '[') {
                const bool start = content_ && known_;
                known_ = true;
                content_ = false;
                kind_ = line_tag;
                if (start) return i;
            } else if (data[i] == '%') {
                kind_ = line_escape;
            }
        }
        if (kind_ != line_blank) {
            // The kind of the line is settled: on to its end.
            const void* nl = std::memchr(data + i, '\n', size - i);
            if (!nl) return size;
            i = static_cast<size_t>(static_cast<const char*>(nl) - data);
        }
        const char c = data[i];
        if (c == '\n') {
            ++lines_;
            if (kind_ == line_content) content_ = known_ = true;
            if (kind_ == line_escape) known_ = true;
            line_start_ = true;
        } else if (!is_blank(c)) {
            kind_ = line_content;
            continue;
        }
        ++i;
    }
    return size;
}

void read_span(const char* begin, const char* end, int64_t line, bool at_end,
               const Options& options, Board& board, std::vector<Entry>& out) {
    Span(begin, end, line, at_end, options, board, out).run();
}

void Reader::feed(const char* data, size_t size, std::vector<Entry>& out) {
    if (begin_ > 0 && begin_ * 2 >= buffer_.size()) {
        const size_t kept = buffer_.size() - begin_;
        std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
        buffer_.resize(kept);
        scanned_ -= begin_;
        begin_ = 0;
    }
    buffer_.append(data, size);
    if (first_) {
        static constexpr std::string_view bom = "\xEF\xBB\xBF";
        if (buffer_.size() < bom.size() && bom.starts_with(buffer_)) return;
        if (std::string_view(buffer_).starts_with(bom)) begin_ = scanned_ = bom.size();
        first_ = false;
    }
    while (true) {
        const size_t next = starts_.next(buffer_.data(), buffer_.size(), scanned_);
        scanned_ = next;
        if (next >= buffer_.size()) break;
        read_span(buffer_.data() + begin_, buffer_.data() + next, line_, false, options_, board_,
                  out);
        begin_ = next;
        line_ = starts_.line() + 1;
    }
}

void Reader::finish(std::vector<Entry>& out) {
    read_span(buffer_.data() + begin_, buffer_.data() + buffer_.size(), line_, true, options_,
              board_, out);
    buffer_.clear();
    begin_ = scanned_ = 0;
}

}  // namespace ortolan::pgn
