// The batched tree search over roots from outside (FEN texts of any bytes, assembled States),
// with settings, evaluator answers and moves from the input. Settings out of range and roots
// that are not positions to play from are refused with std::invalid_argument; a refused answer
// (priors negative, NaN or infinite, values outside [-1, 1]) is reported by check and taken
// back by cancel so that good answers then complete the run; a refused advance changes
// nothing; every run leaves the roots with legal moves exactly their simulations of visits.
#include "batch/search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

using namespace ortolan;

bool accepted(const SearchSettings& settings, const Board* roots, int32_t count) {
    try {
        Search search(settings, roots, count, 0, 1);
    } catch (const std::invalid_argument&) {
        return false;
    }
    return true;
}

bool in_range(const SearchSettings& s) {
    return s.simulations >= 1 && std::isfinite(s.c_puct) && s.c_puct >= 0.0f &&
           std::isfinite(s.dirichlet_alpha) && s.dirichlet_alpha > 0.0f &&
           s.dirichlet_fraction >= 0.0f && s.dirichlet_fraction <= 1.0f &&
           s.leaves_per_batch >= 1 && s.leaves_per_batch <= 4096;
}

// A float the evaluator might send: ordinary, or one of the troublesome ones.
float take_float(fuzz::Input& in) {
    static const float odd[] = {0.0f,
                                -0.0f,
                                1.0f,
                                -1.0f,
                                1.0000001f,
                                -1.0000001f,
                                -1e-30f,
                                std::numeric_limits<float>::denorm_min(),
                                std::numeric_limits<float>::max(),
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::quiet_NaN()};
    const uint8_t kind = in.take<uint8_t>();
    if (kind < 128) return static_cast<float>(kind) / 127.0f;
    if (kind < 240) return odd[kind % std::size(odd)];
    return in.take<float>();
}

struct Game {
    Board board;
    std::vector<int32_t> legal;  // ascending
    bool over = false;
};

Game game_at(const Board& board) {
    Game game{board, {}, false};
    ActionMap::Entry moves[max_moves];
    const int32_t count = game.board.legal_actions(moves);
    for (int32_t i = 0; i < count; ++i) game.legal.push_back(moves[i].first);
    std::sort(game.legal.begin(), game.legal.end());
    game.over = game.board.outcome(count).done != 0;
    return game;
}

std::vector<int32_t> visit_counts(const Search& search) {
    std::vector<int32_t> counts(static_cast<size_t>(search.size()) * action_count);
    std::vector<float> values(static_cast<size_t>(search.size()));
    search.results(counts.data(), values.data());
    for (const float v : values)
        if (!(v >= -1.0f && v <= 1.0f)) std::abort();
    return counts;
}

int32_t visits(const std::vector<int32_t>& counts, int32_t t) {
    const auto row = counts.begin() + static_cast<ptrdiff_t>(t) * action_count;
    return std::accumulate(row, row + action_count, 0);
}

// After a run every tree whose root game goes on has the simulations of visits, or the visits
// its subtree brought along when it had more; an ended game has none.
void check_run(const Search& search, const std::vector<int32_t>& before) {
    const std::vector<int32_t> counts = visit_counts(search);
    for (int32_t t = 0; t < search.size(); ++t) {
        const int32_t want = search.tree(t).root_ended()
                                 ? 0
                                 : std::max(search.settings().simulations, visits(before, t));
        if (visits(counts, t) != want) std::abort();
        const Game game = game_at(search.tree(t).root_board());
        if (search.tree(t).root_ended() != game.over) std::abort();
    }
}

// Answers from the input: a prior and a value a row, then a few entries anywhere. After six
// refused answers every answer is a good one, so that a run completes.
class InputEvaluator final : public Evaluator {
public:
    InputEvaluator(const Search& search, fuzz::Input& in, int32_t type)
        : Evaluator(type), search_(search), in_(in) {}

    LeafRows room(int32_t rows) override {
        observations_.assign(static_cast<size_t>(rows) * observation_size, 0);
        masks_.reset(new bool[static_cast<size_t>(rows) * action_count]);
        return {observations_.data(), masks_.get()};
    }

    LeafAnswer evaluate(int32_t rows) override {
        if (first_bad >= 0) std::abort();  // the last answer should have been refused
        priors_.assign(static_cast<size_t>(rows) * action_count, 0.0f);
        values_.assign(static_cast<size_t>(rows), 0.0f);
        for (int32_t r = 0; r < rows; ++r) {
            std::fill_n(priors_.begin() + static_cast<ptrdiff_t>(r) * action_count, action_count,
                        take_float(in_));
            values_[r] = take_float(in_);
        }
        for (uint8_t pokes = in_.take<uint8_t>() % 4; pokes > 0; --pokes)
            priors_[in_.take<uint32_t>() % priors_.size()] = take_float(in_);
        // The first row the search must refuse (the mask says which priors count).
        first_bad = -1;
        for (int32_t r = 0; r < rows && first_bad < 0; ++r) {
            bool bad = !(values_[r] >= -1.0f && values_[r] <= 1.0f);
            for (int32_t a = 0; a < action_count; ++a) {
                const float p = priors_[static_cast<size_t>(r) * action_count + a];
                if (masks_[static_cast<size_t>(r) * action_count + a] &&
                    !(std::isfinite(p) && p >= 0.0f))
                    bad = true;
            }
            if (bad) first_bad = r;
        }
        if (first_bad >= 0 && faults_left_-- <= 0) {
            std::fill(priors_.begin(), priors_.end(), 1.0f);
            std::fill(values_.begin(), values_.end(), 0.0f);
            first_bad = -1;
        }
        counts_before = visit_counts(search_);
        return {priors_.data(), values_.data()};
    }

    int32_t first_bad = -1;              // of the last answer, until its refusal is seen
    std::vector<int32_t> counts_before;  // the visit counts before the last answer

private:
    const Search& search_;
    fuzz::Input& in_;
    int32_t faults_left_ = 6;
    std::vector<int32_t> observations_;
    std::unique_ptr<bool[]> masks_;
    std::vector<float> priors_, values_;
};

// Runs until a run completes; each refused answer must be the one expected, taken back.
void run_with_answers(Search& search, fuzz::Input& in) {
    const std::vector<int32_t> before = visit_counts(search);
    InputEvaluator evaluator(search, in, in.take<uint8_t>() % 3);
    for (;;) {
        try {
            search.run(evaluator);
        } catch (const AnswerRefused& refused) {
            if (refused.fault.row < 0 || refused.fault.row != evaluator.first_bad ||
                !refused.fault.what)
                std::abort();
            if (visit_counts(search) != evaluator.counts_before) std::abort();
            for (int32_t t = 0; t < search.size(); ++t)
                if (search.tree(t).node(0).pending != 0) std::abort();
            evaluator.first_bad = -1;
            continue;
        }
        if (evaluator.first_bad >= 0) std::abort();
        break;
    }
    check_run(search, before);
}

void advance(Search& search, fuzz::Input& in) {
    const int32_t n = search.size();
    std::vector<int32_t> actions(static_cast<size_t>(n));
    std::vector<Game> games;
    bool legal = true;
    for (int32_t t = 0; t < n; ++t) {
        games.push_back(game_at(search.tree(t).root_board()));
        const Game& game = games.back();
        const uint8_t how = in.take<uint8_t>();
        if (game.over)
            actions[t] = how & 7 ? -1 : in.take<int32_t>();
        else
            actions[t] =
                how & 7 ? game.legal[in.take<uint16_t>() % game.legal.size()] : in.take<int32_t>();
        legal &= game.over ? actions[t] == -1
                           : std::binary_search(game.legal.begin(), game.legal.end(), actions[t]);
    }
    const std::vector<int32_t> counts = visit_counts(search);
    try {
        search.advance(actions.data());
    } catch (const std::invalid_argument&) {
        if (legal) std::abort();
        if (visit_counts(search) != counts) std::abort();
        for (int32_t t = 0; t < n; ++t)
            if (!fuzz::same_state(search.tree(t).root_board().save_state(),
                                  games[t].board.save_state()))
                std::abort();
        return;
    }
    if (!legal) std::abort();
    for (int32_t t = 0; t < n; ++t) {
        Board expected = games[t].board;
        if (actions[t] != -1) {
            ActionMap::Entry moves[max_moves];
            const int32_t count = expected.legal_actions(moves);
            const auto* move = std::find_if(moves, moves + count, [&](const ActionMap::Entry& e) {
                return e.first == actions[t];
            });
            expected.advance(move->second);
        }
        const Board& root = search.tree(t).root_board();
        if (std::memcmp(root.bitboards, expected.bitboards, sizeof root.bitboards) != 0 ||
            root.side != expected.side || root.enpassant != expected.enpassant ||
            root.castle != expected.castle || root.no_progress_count != expected.no_progress_count)
            std::abort();
        fuzz::check_position(root);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    static Board scratch;

    SearchSettings settings;
    settings.simulations = 1 + in.take<uint8_t>() % 48;
    settings.leaves_per_batch = 1 + in.take<uint8_t>() % 12;
    settings.c_puct = static_cast<float>(in.take<uint8_t>()) / 32.0f;
    settings.dirichlet_alpha = static_cast<float>(1 + in.take<uint8_t>()) / 64.0f;
    settings.dirichlet_fraction = static_cast<float>(in.take<uint8_t>() % 101) / 100.0f;
    if (in.take<uint8_t>() % 8 == 0) {  // anything at all, out of range ones refused
        SearchSettings raw;
        raw.simulations = in.take<int32_t>();
        raw.leaves_per_batch = in.take<int32_t>();
        raw.c_puct = in.take<float>();
        raw.dirichlet_alpha = in.take<float>();
        raw.dirichlet_fraction = in.take<float>();
        scratch.reset();
        if (accepted(raw, &scratch, 1) != in_range(raw)) std::abort();
    }

    // The roots: FEN texts loaded as reset does, or States assembled from outside.
    std::vector<Board> roots;
    for (int32_t count = 1 + in.take<uint8_t>() % 3; count > 0; --count) {
        State state;
        if (in.take<uint8_t>() & 1) {
            scratch.reset();
            const std::string fen = fuzz::take_text(in, 100);
            scratch.parse_fen(fen.c_str());
            state = scratch.save_state();
        } else {
            state = fuzz::take_state(in, scratch);
        }
        try {
            scratch.restore_state(state);
        } catch (const std::invalid_argument&) {
            continue;
        }
        const Board game = fuzz::game_of(state);
        if (accepted(SearchSettings{}, &game, 1)) roots.push_back(game);
    }
    if (roots.empty()) return 0;
    Search search(settings, roots.data(), static_cast<int32_t>(roots.size()), in.take<uint64_t>(),
                  1 + in.take<uint8_t>() % 2);

    for (int32_t call = 0; call < 12 && !in.empty(); ++call) {
        switch (in.take<uint8_t>() % 4) {
            case 0:
            case 1:
                run_with_answers(search, in);
                break;
            case 2: {
                const std::vector<int32_t> before = visit_counts(search);
                search.start_run();
                search.run_rollouts();
                check_run(search, before);
                break;
            }
            default:
                advance(search, in);
                break;
        }
    }
    return 0;
}
