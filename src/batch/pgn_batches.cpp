#include "batch/pgn_batches.h"

#include <cstring>
#include <stdexcept>
#include <string_view>

#include "batch/slot.h"
#include "batch/splitmix.h"
#include "batch/vector_ortolan.h"

namespace ortolan {

namespace {

// The White's-side score of a result tag, or 0 for anything else.
float white_score(const std::string& result) {
    if (result == "1-0") return 1.0f;
    if (result == "0-1") return -1.0f;
    return 0.0f;
}

}  // namespace

PgnBatches::PgnBatches(const PgnBatchSettings& settings)
    : settings_(settings), pool_(settings.threads), random_(settings.seed) {
    settings_.read.filter = &settings_.filter;
    if (settings.observation_type < observation_uint8 ||
        settings.observation_type > observation_int32)
        throw std::invalid_argument("unknown observation type");
    if (settings.skip_plies < 0 || settings.every < 1 || settings.shuffle < 0)
        throw std::invalid_argument("skip_plies >= 0, every >= 1 and shuffle >= 0 are needed");
    if (settings.read.rules < rules_ortolan || settings.read.rules > rules_fide)
        throw std::invalid_argument("unknown rules");
    workers_.resize(static_cast<size_t>(settings.threads));
    for (Worker& w : workers_) {
        w.settings = &settings_;
        w.board.rules = settings.read.rules;
        w.options = settings_.read;
        w.options.visitor = &w;
    }
}

void PgnBatches::Worker::position(const Board& b, int32_t ply, int32_t action) {
    if (ply < settings->skip_plies || (ply - settings->skip_plies) % settings->every != 0) return;
    Position& p = positions.emplace_back();
    p.history = b.state_history;
    std::memcpy(p.bitboards, b.bitboards, sizeof p.bitboards);
    p.side = b.side;
    p.castle = b.castle;
    p.enpassant = b.enpassant;
    p.state_pos = b.state_pos;
    // A slot reset to a Black-to-move start draws it from Black's seat.
    p.just_reset = ply == 0 && b.side == black ? 0 : b.just_reset;
    p.total_move_count = b.total_move_count;
    p.no_progress_count = b.no_progress_count;
    p.action = action;
    p.ply = ply;
    p.game = games;
}

void PgnBatches::Worker::game_end(const pgn::Entry& entry) {
    const bool kept =
        entry.kind == pgn::entry_game && (settings->filter.unfinished || entry.result != "*");
    if (!kept) {
        positions.resize(game_start);
        return;
    }
    const float score = white_score(entry.result);
    for (size_t i = game_start; i < positions.size(); ++i)
        positions[i].outcome = positions[i].side == white ? score : -score;
    game_start = positions.size();
    ++games;
}

void PgnBatches::read_pieces(const char* data, const std::vector<size_t>& cuts,
                             const std::vector<int64_t>& lines, bool at_end) {
    // cuts holds span boundaries: span i is [cuts[i], cuts[i + 1]), starting on line lines[i].
    // Each thread takes a run of spans; the games are read, then numbered and replayed in text
    // order.
    const auto pieces = static_cast<int64_t>(cuts.size()) - 1;
    if (pieces <= 0) return;
    pool_.for_chunks(pieces, [&](int64_t begin, int64_t end, int32_t chunk) {
        Worker& w = workers_[static_cast<size_t>(chunk)];
        w.entries.clear();
        for (int64_t i = begin; i < end; ++i)
            pgn::read_span(data + cuts[static_cast<size_t>(i)],
                           data + cuts[static_cast<size_t>(i) + 1], lines[static_cast<size_t>(i)],
                           at_end && i == pieces - 1, w.options, w.board, w.entries);
    });
    // Counts in text order; each thread's games are numbered after those of the threads before.
    std::vector<int64_t> first_game(workers_.size());
    for (size_t t = 0; t < workers_.size(); ++t) {
        first_game[t] = games_;
        games_ += workers_[t].games;
        for (pgn::Entry& e : workers_[t].entries) {
            ++entries_;
            if (e.kind == pgn::entry_skipped) {
                e.number = entries_;
                skipped_.push_back(std::move(e));
            } else if (e.kind == pgn::entry_filtered ||
                       (!settings_.filter.unfinished && e.result == "*")) {
                ++filtered_;
            }
        }
    }
    pool_.for_chunks(static_cast<int64_t>(workers_.size()),
                     [&](int64_t begin, int64_t end, int32_t) {
                         for (int64_t t = begin; t < end; ++t) {
                             Worker& w = workers_[static_cast<size_t>(t)];
                             for (Position& p : w.positions)
                                 p.game += first_game[static_cast<size_t>(t)];
                         }
                     });
    for (Worker& w : workers_) {
        queue_.push_block(std::move(w.positions));
        w.positions = queue_.take_spare();
        w.game_start = 0;
        w.games = 0;
    }
}

void PgnBatches::feed(const char* data, size_t size) {
    buffer_.append(data, size);
    size_t begin = 0;
    if (first_) {
        static constexpr std::string_view bom = "\xEF\xBB\xBF";
        if (buffer_.size() < bom.size() && bom.starts_with(buffer_)) return;
        if (std::string_view(buffer_).starts_with(bom)) begin = scanned_ = bom.size();
        first_ = false;
    }
    // Every game start in the new text and its line; the last one ends what can be read now.
    cuts_.assign(1, begin);
    cut_lines_.assign(1, line_);
    for (size_t at = starts_.next(buffer_.data(), buffer_.size(), scanned_); at < buffer_.size();
         at = starts_.next(buffer_.data(), buffer_.size(), at)) {
        cuts_.push_back(at);
        cut_lines_.push_back(first_line_ + starts_.line());
    }
    scanned_ = buffer_.size();
    if (cuts_.size() < 2) return;
    // Each span between two game starts is read on its own, as Reader reads it: a game that
    // has no result token ends at the next start.
    read_pieces(buffer_.data(), cuts_, cut_lines_, false);
    line_ = cut_lines_.back();
    const size_t done = cuts_.back();
    const size_t kept = buffer_.size() - done;
    std::memmove(buffer_.data(), buffer_.data() + done, kept);
    buffer_.resize(kept);
    scanned_ = kept;
}

void PgnBatches::finish() {
    if (ended_) return;
    ended_ = true;
    const size_t begin = first_ && std::string_view(buffer_).starts_with("\xEF\xBB\xBF") ? 3 : 0;
    read_pieces(buffer_.data(), {begin, buffer_.size()}, {line_}, true);
    buffer_.clear();
    scanned_ = 0;
}

int64_t PgnBatches::available() const {
    const auto held = static_cast<int64_t>(queue_.size());
    if (settings_.shuffle == 0 || ended_)
        return held + static_cast<int64_t>(pool_positions_.size());
    const int64_t room = settings_.shuffle - static_cast<int64_t>(pool_positions_.size());
    return held > room ? held - room : 0;
}

void PgnBatches::write(Worker& worker, const Position& p, int64_t row,
                       const PgnBatchOutput& out) const {
    Board& board = worker.board;
    board.state_history = p.history;
    std::memcpy(board.bitboards, p.bitboards, sizeof board.bitboards);
    board.rebuild_occupancies();
    board.side = p.side;
    board.castle = p.castle;
    board.enpassant = p.enpassant;
    board.state_pos = p.state_pos;
    board.just_reset = p.just_reset;
    board.total_move_count = p.total_move_count;
    board.no_progress_count = p.no_progress_count;
    const auto r = static_cast<size_t>(row);
    write_observation_row(board, settings_.observation_type, out.observation, r);
    if (out.mask) {
        slot::refresh_legal(board);
        slot::write_mask(board, out.mask + r * action_count);
    }
    out.action[r] = p.action;
    out.outcome[r] = p.outcome;
    out.ply[r] = p.ply;
    out.game[r] = p.game;
}

int64_t PgnBatches::next(int64_t rows, const PgnBatchOutput& out) {
    picked_.clear();
    drawn_.clear();
    int64_t from_queue = 0;
    if (settings_.shuffle == 0) {
        // In order: the rows are written from the queue where the positions lie.
        from_queue = std::min<int64_t>(rows, static_cast<int64_t>(queue_.size()));
        queue_.first(static_cast<size_t>(from_queue),
                     [&](const Position& p) { picked_.push_back(&p); });
    } else {
        // Fill the buffer, then draw each row at random from it, the drawn place refilled from
        // the queue while it lasts.
        while (!queue_.empty() &&
               static_cast<int64_t>(pool_positions_.size()) < settings_.shuffle) {
            pool_positions_.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        const int64_t n = std::min<int64_t>(rows, available());
        drawn_.reserve(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) {
            const uint64_t k = splitmix64(random_) % pool_positions_.size();
            drawn_.push_back(std::move(pool_positions_[k]));
            if (!queue_.empty()) {
                pool_positions_[k] = std::move(queue_.front());
                queue_.pop_front();
            } else {
                pool_positions_[k] = std::move(pool_positions_.back());
                pool_positions_.pop_back();
            }
        }
        for (const Position& p : drawn_) picked_.push_back(&p);
    }
    const auto n = static_cast<int64_t>(picked_.size());
    pool_.for_chunks(n, [&](int64_t begin, int64_t end, int32_t chunk) {
        for (int64_t i = begin; i < end; ++i)
            write(workers_[static_cast<size_t>(chunk)], *picked_[static_cast<size_t>(i)], i, out);
    });
    for (int64_t i = 0; i < from_queue; ++i) queue_.pop_front();
    return n;
}

}  // namespace ortolan
