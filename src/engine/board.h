// Board: one game of chess, its one-deep position backup and the bookkeeping of an episode.
// Every engine and environment operation is a member of Board; the definitions are spread
// over engine/, env/ and extras/ by subject.
#pragma once

#include <cstdint>
#include <utility>

#include "engine/bits.h"
#include "engine/movegen.h"
#include "engine/types.h"
#include "env/actions.h"
#include "env/observation.h"
#include "env/repetition.h"
#include "env/rules.h"

namespace ortolan {

struct State;
class GlyphSink;

inline constexpr const char* start_position =
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 ";

// What play changed besides the mover, enough for undo to take the move back.
struct MoveUndo {
    Move move;
    int32_t taken;          // Piece captured (en passant included), -1 for none
    int32_t rook;           // the castling rook's Piece, -1 for none
    Bitboard rook_squares;  // the squares the rook's bitboard changed on
    int32_t castle, enpassant, no_progress_count;  // before the move
};

// The end-of-game decision: done is 1 when the game is over, reward is from White's side.
struct Outcome {
    int32_t done;
    int32_t reward;
};

// What is wrong with FEN text as a game to start (read_fen, then position_fault), or nullptr.
const char* fen_fault(const char* text);

class Board {
public:
    // Clears the counters and containers, makes sure the attack tables are built and leaves an
    // empty board: White to move, no castling rights, no en passant square.
    Board();

    // The one-deep copy of the position used around trial moves. Counters, maps and history
    // are outside it.
    void backup_position() {
        castle_copy = castle;
        enpassant_copy = enpassant;
        side_copy = side;
        for (int i = 0; i < 12; ++i) bitboards_copy[i] = bitboards[i];
        for (int i = 0; i < 3; ++i) occupancies_copy[i] = occupancies[i];
    }
    void restore_position() {
        castle = castle_copy;
        enpassant = enpassant_copy;
        side = side_copy;
        for (int i = 0; i < 12; ++i) bitboards[i] = bitboards_copy[i];
        for (int i = 0; i < 3; ++i) occupancies[i] = occupancies_copy[i];
    }

    // Board core.
    void generate_moves(MoveList& list) const;
    int32_t is_square_attacked(int32_t square, int32_t by_side) const {
        return is_attacked_through(square, by_side, occupancies[both]);
    }
    // The same test with the sliders' blockers taken from the given occupancy.
    int32_t is_attacked_through(int32_t square, int32_t by_side, Bitboard occupancy) const;
    int32_t make_move(Move move);
    void parse_fen(const char* text);
    // Strict reading of FEN text: the placement, then any of side to move, castling, en
    // passant, half-move clock and full-move number (absent ones default to w - - 0 1; a
    // full-move number of 0 reads as 1). Sets the position and the two numbers and returns
    // nullptr, or returns what is wrong with the text, the Board then holding no position.
    const char* read_fen(const char* text, int32_t& halfmove, int32_t& fullmove);
    // What makes the position one not to play from, or nullptr: each side one king and at most
    // 16 pieces and 8 pawns, no pawn on the first or last rank, castling rights with their king
    // and rook at home, an en passant square a double step has just left, the side not to move
    // not in check, and a check the last move can have given.
    const char* position_fault() const;

    // Legal moves. Positions whose side to move has exactly one king and whose bitboards and
    // occupancies agree are judged directly, from the checkers and the pins; any other
    // position by trial: every generated move played with make_move and taken back.
    bool direct_generation_applies() const;
    // The legal moves, in no particular order; returns their number.
    int32_t legal_moves(MoveList& list);
    // The legal moves of the pieces of the kinds in the mask (bit k for piece kind k of the
    // side to move, piece::P to piece::K) onto the target squares, castling among the king's;
    // direct tells direct_generation_applies(), which the caller knows.
    int32_t legal_moves(MoveList& list, Bitboard targets, uint32_t kinds, bool direct);
    // Whether the side to move has a legal move, stopping at the first one found.
    bool has_legal_move();
    // The legal moves with their action numbers; returns their number.
    int32_t legal_actions(ActionMap::Entry* out);
    // The same as plane words, counts and moves by action. With consistent the caller knows
    // that consistent_position() holds, as it does after play from a position that held it,
    // and only the king is counted.
    int32_t legal_actions(ActionPlanes& out, bool consistent);
    // Plays a generated move as a trial and takes it back; true when it is legal.
    bool try_move(Move move);

    // Playing a legal move of a position that direct generation applies to, and taking it
    // back. The position key after the move follows from the key before it and the record.
    void play(Move move, MoveUndo& undo);
    void undo(const MoveUndo& undo);
    uint64_t key_after(uint64_t key, const MoveUndo& undo) const;
    // The key a game carries from move to move, from which position_key follows: hash_state
    // under rules_ortolan, the chess key less its en passant term under the chess rule sets
    // (that term asks whether the capture is legal, which the move alone does not tell).
    uint64_t carried_key() const;
    uint64_t carried_key_after(uint64_t key, const MoveUndo& undo) const {
        return rules == rules_ortolan ? key_after(key, undo) : chess_key_after(key, undo);
    }
    uint64_t key_of_carried(uint64_t carried) {
        return rules == rules_ortolan ? carried : chess_key_of_carried(carried);
    }
    uint64_t chess_key_after(uint64_t key, const MoveUndo& undo) const;
    uint64_t chess_key_of_carried(uint64_t carried);

    // Episode.
    ActionMask get_actions();
    std::pair<int32_t, int32_t> move_direction(int32_t source, int32_t target) const;
    void record_position();
    // The same for a position whose key is known; with consistent the caller knows that
    // consistent_position() holds.
    void record_position(uint64_t key, bool consistent);
    Observation build_observation() const;
    void build_observation(Observation& out) const;
    // The observation as observation_planes * 64 values, plane by plane; T is int32_t (exact
    // values), uint8_t (each value clipped to 0..255) or float.
    template <class T>
    void write_observation(T* planes) const;
    uint64_t hash_state() const;
    // The key a position is counted under for repetition by the rule set: hash_state under
    // rules_ortolan; under the chess rule sets a key of the pieces by kind, the side to move,
    // the castling rights and the en passant square only when a capture there is legal.
    uint64_t position_key();
    // An en passant capture is legal in the position.
    bool enpassant_capturable();
    // Neither side has the material to mate (python-chess's is_insufficient_material).
    bool insufficient_material() const;
    // The side to move could claim a draw under the FIDE laws: the third occurrence or a clock
    // of 100 now, or either one reached by one of its legal moves.
    bool draw_claimable();
    StepResult reset();
    // What reset does to the game, from FEN text that read_fen accepts, without the
    // observation and the ActionMap: the history and the repetition table emptied, the ring at
    // 0, the position loaded and counted once. Under rules_ortolan the clock starts at 0 and
    // the step counter and prev_n_repititions are kept; under the chess rule sets the clocks
    // come from the FEN and prev_n_repititions starts at 0.
    void new_game(const char* fen);
    StepResult step(int32_t action);
    // Everything step does to the game with a legal move but the observation and the end of
    // the game: the move played, the new position recorded, the step counted.
    void advance(Move move) { advance(move, direct_generation_applies()); }
    // The same where the caller knows direct_generation_applies() of the position; returns the
    // carried key of the new position.
    uint64_t advance(Move move, bool direct);
    // The same for a position that direct generation applies to and whose carried key is
    // known: the new carried key, which it returns, follows from the key and the move.
    uint64_t advance_direct(Move move, uint64_t key);
    // The end of the game by the rule set, given the number of legal moves of the position:
    // mate or stalemate first; then under rules_ortolan the third occurrence (exactly) or a
    // no-progress counter of 50, under the chess rule sets insufficient material, the
    // ending_occurrence or an ending_clock of half-moves.
    Outcome outcome(int32_t legal_count) const {
        if (legal_count == 0) return {1, terminal_reward()};
        if (rules == rules_ortolan) return {n_repititions == 2 || no_progress_count >= 50, 0};
        return {chess_draw(), 0};
    }
    bool chess_draw() const {
        return n_repititions >= ending_occurrence(rules) - 1 ||
               no_progress_count >= ending_clock(rules) || insufficient_material();
    }

    // Snapshots, playouts and the text board.
    State save_state() const;
    StepResult restore_state(State state);
    // restore_state without the observation, reusing the Board's own storage for the copy.
    void load_state(const State& state);
    // load_state for a game that starts from the snapshot, as a search's root does: the
    // snapshot's step counter is taken too.
    void load_game(const State& state);
    int32_t roll_out();
    int32_t roll_out(uint32_t seed);
    void render(GlyphSink& glyphs) const;

    // Helpers shared by the operations above.
    template <class Keys>
    uint64_t updated_key(uint64_t key, const MoveUndo& undo, Keys keys) const;
    int32_t king_square(int32_t of_side) const {
        return lowest_square(bitboards[of_side == white ? piece::K : piece::k]);
    }
    bool in_check() const;
    // The side to move has exactly one king.
    bool one_king_to_move() const {
        const Bitboard kings = bitboards[side == white ? piece::K : piece::k];
        return kings && !(kings & (kings - 1));
    }
    // No square holds two pieces and each occupancy is the union of its piece bitboards.
    bool consistent_position() const;
    // Sets the occupancies to the unions of the piece bitboards.
    void rebuild_occupancies();
    // Replaces the ActionMap by the legal moves of the position.
    void rebuild_action_map();
    // Reward of a position whose side to move has no legal move.
    int32_t terminal_reward() const;

    int32_t rules;  // rules_ortolan, rules_standard or rules_fide
    int32_t total_move_count;
    int32_t state_pos;
    int32_t no_progress_count;
    int32_t just_reset;
    int32_t castle;
    int32_t enpassant;
    int32_t side;
    Bitboard bitboards[12];
    Bitboard occupancies[3];
    int32_t castle_copy;
    int32_t enpassant_copy;
    int32_t side_copy;
    Bitboard bitboards_copy[12];
    Bitboard occupancies_copy[3];
    RepetitionMap repetition_count;
    ortolan::ActionMap ActionMap;
    int32_t n_repititions;
    int32_t prev_n_repititions;
    History state_history;
};

}  // namespace ortolan
