// PgnBatches: training positions from game databases, in batches.
//
// Text comes in a chunk at a time. The complete games of each chunk are cut at game starts into
// spans, shared among the threads; each thread reads its spans (pgn::read_span) and replays every
// game it accepts as a fresh VectorOrtolan slot would play it from the game's start, keeping what
// the observation of each sampled position needs. Batches are drawn from those positions in order,
// or at random from a buffer of them, and written on the threads. Which positions a batch holds
// and what is written never depend on the number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "batch/thread_pool.h"
#include "engine/board.h"
#include "pgn/reader.h"

namespace ortolan {

struct PgnBatchSettings {
    int32_t threads = 1;
    int32_t observation_type = 0;  // as VectorOrtolan's
    pgn::Options read;             // the rules (its filter is set to the one below)
    pgn::Filter filter;
    int32_t skip_plies = 0;  // positions before this ply are not kept
    int32_t every = 1;       // of the rest, every this many-th is kept
    int64_t shuffle = 0;     // positions in the shuffle buffer; 0 keeps the order
    uint64_t seed = 0;
};

// Where a batch goes, row by row; mask may be null.
struct PgnBatchOutput {
    void* observation;
    uint8_t* mask;
    int32_t* action;
    float* outcome;  // for the side to move, from the result: +1, -1, 0 (a draw or unfinished)
    int32_t* ply;
    int64_t* game;  // the index of the game among those kept
};

class PgnBatches {
public:
    explicit PgnBatches(const PgnBatchSettings& settings);
    PgnBatches(const PgnBatches&) = delete;
    PgnBatches& operator=(const PgnBatches&) = delete;

    // Adds text; the games it completes are read and their positions kept.
    void feed(const char* data, size_t size);
    // The text has ended.
    void finish();
    // The line the text fed next starts on (counted from 1), for text that starts in the middle
    // of a file.
    void set_line(int64_t line) {
        line_ = line;
        first_line_ = line - starts_.line();
    }
    // Positions ready to be given out: all of them in order; with a shuffle buffer, those
    // beyond a full buffer, or all of them once the text has ended.
    int64_t available() const;
    // Writes up to rows positions; returns how many.
    int64_t next(int64_t rows, const PgnBatchOutput& out);

    int32_t observation_type() const { return settings_.observation_type; }
    int64_t games() const { return games_; }  // read and kept
    const std::vector<pgn::Entry>& skipped() const { return skipped_; }
    int64_t filtered() const { return filtered_; }
    int64_t entries() const { return entries_; }  // every game of the text so far

private:
    // What a position's observation and mask are drawn from.
    struct Position {
        History history;
        Bitboard bitboards[12];
        int32_t side, castle, enpassant, state_pos, just_reset, total_move_count, no_progress_count;
        int32_t action, ply;
        float outcome;
        int64_t game;
    };
    // One thread's reading: its board, the entries of the games it read and the positions it
    // kept of them, taken as the reader reaches them. Each on cache lines of its own: a thread
    // writes its board and its positions' ends at every move, beside the next one's settings.
    struct alignas(64) Worker final : pgn::PositionVisitor {
        const PgnBatchSettings* settings = nullptr;
        Board board;
        pgn::Options options;
        std::vector<pgn::Entry> entries;
        std::vector<Position> positions;
        size_t game_start = 0;  // the first position of the game being read
        int64_t games = 0;      // games kept since the positions were handed over
        void position(const Board& b, int32_t ply, int32_t action) override;
        void game_end(const pgn::Entry& entry) override;
    };

    void read_pieces(const char* data, const std::vector<size_t>& cuts,
                     const std::vector<int64_t>& lines, bool at_end);
    void write(Worker& worker, const Position& p, int64_t row, const PgnBatchOutput& out) const;

    PgnBatchSettings settings_;
    ThreadPool pool_;
    std::vector<Worker> workers_;
    pgn::GameStarts starts_;
    std::string buffer_;
    size_t scanned_ = 0;
    int64_t line_ = 1;                // the line the buffer starts on
    int64_t first_line_ = 1;          // the line the text starts on
    std::vector<size_t> cuts_;        // the game starts of the text fed last
    std::vector<int64_t> cut_lines_;  // and their lines
    bool first_ = true;
    bool ended_ = false;
    // The positions waiting, in order: the blocks the threads filled, taken over whole, so that
    // no position is moved on its way to a batch.
    struct Queue {
        std::deque<std::vector<Position>> blocks;
        std::vector<std::vector<Position>> spare;  // blocks given out, kept for their room
        size_t head = 0;                           // in the first block
        size_t count = 0;
        size_t size() const { return count; }
        bool empty() const { return count == 0; }
        Position& front() { return blocks.front()[head]; }
        void pop_front() {
            --count;
            if (++head == blocks.front().size()) {
                if (spare.size() < 8) {
                    spare.push_back(std::move(blocks.front()));
                    spare.back().clear();
                }
                blocks.pop_front();
                head = 0;
            }
        }
        // An empty block with the room of one given out before, when there is one: the
        // threads fill blocks of about the same size from chunk to chunk.
        std::vector<Position> take_spare() {
            if (spare.empty()) return {};
            std::vector<Position> block = std::move(spare.back());
            spare.pop_back();
            return block;
        }
        void push_block(std::vector<Position>&& block) {
            if (block.empty()) return;
            count += block.size();
            blocks.push_back(std::move(block));
        }
        // Calls visit on each of the first n positions, in order.
        template <class Visit>
        void first(size_t n, Visit&& visit) {
            size_t b = 0, i = head;
            for (size_t k = 0; k < n; ++k, ++i) {
                if (i == blocks[b].size()) ++b, i = 0;
                visit(blocks[b][i]);
            }
        }
    };
    Queue queue_;
    std::vector<Position> pool_positions_;  // the shuffle buffer
    std::vector<const Position*> picked_;
    std::vector<Position> drawn_;
    uint64_t random_;
    int64_t games_ = 0, filtered_ = 0, entries_ = 0;
    std::vector<pgn::Entry> skipped_;
};

}  // namespace ortolan
