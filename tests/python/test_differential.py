"""Random games played in lockstep with python-chess.

At every ply the environment is compared with a python-chess board that plays the same moves:

- the legal moves, decoded from the action mask with a decoder written here from the numbering
  rules (square = row * 8 + file with row 0 = rank 8; planes 0-55 direction * 7 + distance - 1
  with directions counted from the mover's seat; knight planes 56-63; underpromotions 64-72;
  queen promotions on the pawn's one-square plane);
- the packed Move behind every action (squares, piece, promotion and the four flags);
- the twelve piece bitboards, the occupancies, side to move, en passant square and castling
  rights, square for square;
- the position key, computed here from the key formula;
- the no-progress counter, the occurrence counts of position keys, the repetition values, the
  total move counter and the history ring, all tracked here by the environment's own rules;
- the observation of every step and of every restore;
- the done flag and reward of every step: mate, stalemate, third occurrence, no-progress draw.

python-chess is the reference only for the rules of chess. Its own draw claims are not used:
the environment ends a game at the third occurrence of a position key (the key includes the en
passant square after every double step, and it is a plain XOR mix, so the test tracks keys,
not FEN text) and at a no-progress counter of 50 plies. Its castling rights agree with the
environment's for every position reachable here, since all start positions have rights that
match the king and rook placement (see ``castle_bits``).

The default run plays a few hundred games; ORTOLAN_DIFF_GAMES sets another total and
ORTOLAN_DIFF_SEED another seed.
"""

import itertools
import math
import os
import random
import re

import chess
import pytest

import ortolan

TOTAL_GAMES = int(os.environ.get("ORTOLAN_DIFF_GAMES", "300"))
SEED = os.environ.get("ORTOLAN_DIFF_SEED", "0")
MAX_PLIES = 600

MASK64 = (1 << 64) - 1
PIECE_MULTIPLIER = 0x9E3779B97F4A7C15
WHITE_TO_MOVE_KEY = 0x6E57394121878680
BLACK_TO_MOVE_KEY = 0xCBF29CE484222325
CASTLE_MULTIPLIER = 0xF0F0F0F0F0F0F0F0

NO_SQUARE = 64
PLANES = 73
ACTIONS = PLANES * 64

# (row change, file change) of direction codes 0..7 for White; Black's are the negatives.
# Row -1 is toward rank 8, file -1 toward file a.
WHITE_DIRECTIONS = [(-1, -1), (-1, 0), (-1, 1), (0, 1), (1, 1), (1, 0), (1, -1), (0, -1)]
# Knight planes are absolute: (row change, file change) by plane.
KNIGHT_PLANES = {
    56: (-2, -1),
    57: (-2, 1),
    58: (-1, 2),
    59: (1, 2),
    60: (2, 1),
    61: (2, -1),
    62: (1, -2),
    63: (-1, -2),
}
UNDERPROMOTIONS = (chess.KNIGHT, chess.BISHOP, chess.ROOK)
# Piece order of the bitboards: PNBRQK then pnbrqk.
PIECE_ORDER = [
    (colour, kind)
    for colour in (chess.WHITE, chess.BLACK)
    for kind in (chess.PAWN, chess.KNIGHT, chess.BISHOP, chess.ROOK, chess.QUEEN, chess.KING)
]
PIECE_INDEX = {piece: index for index, piece in enumerate(PIECE_ORDER)}

# Start positions other than the initial one: castling both ways, en passant (available,
# pinned, and for either side), promotions for both colours (also onto rook home squares, which
# drops castling rights), checks through castling squares, and small endgames where positions
# repeat and mates happen.
FEN_POSITIONS = {
    "kiwipete": "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "rook-endgame": "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
    "promotion-mess": "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -",
    "promotion-mess-mirrored": "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1",
    "pawn-on-d7": "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "en-passant-f6": "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
    "en-passant-for-black": "rnbqkbnr/ppp1pppp/8/8/2Pp4/8/PP1PPPPP/RNBQKBNR b KQkq c3 0 3",
    "en-passant-pinned": "8/8/8/8/k2Pp2Q/8/8/3K4 b - d3 0 1",
    "promotions-both": "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1",
    "promotions-onto-rooks-white": "r3k2r/1P4P1/8/8/8/8/1p4p1/R3K2R w KQkq - 0 1",
    "promotions-onto-rooks-black": "r3k2r/1P4P1/8/8/8/8/1p4p1/R3K2R b KQkq - 0 1",
    "castling-under-fire": "r3k2r/p6p/8/B7/1b6/8/P6P/R3K2R w KQkq - 0 1",
    "queen-against-king": "8/8/4k3/8/8/3QK3/8/8 w - - 0 1",
    "rooks-and-kings": "4k3/8/8/8/8/8/8/R3K2R b KQ - 0 1",
    # Positions no game reaches: 288 legal moves at once, and sides without a king, for which
    # every move is legal and which can neither be checked nor mated.
    "queens-all-round": "QQQQQQQQ/Q6Q/Q6Q/Q6Q/Q6Q/Q6Q/Q6Q/QQQQQQQB w - - 0 1",
    "armies-without-kings": "rnbq1bnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1BNR w - - 0 1",
    "army-without-king-against-king": "4k3/8/8/8/8/8/PPPPPPPP/RNBQ1BNR w - - 0 1",
    "nothing-to-move": "4k3/8/8/8/8/8/8/8 w - - 0 1",
}

# Share of the games for each start position; the initial position gets the largest share.
WEIGHTS = {"start": 6, **{label: 1 for label in FEN_POSITIONS}}
GAMES = {
    label: max(1, math.ceil(TOTAL_GAMES * weight / sum(WEIGHTS.values())))
    for label, weight in WEIGHTS.items()
}


# --- the reference side: squares, bitboards and the position key from a python-chess board -------


def env_square(square):
    """Square number of the environment (a8 = 0, h1 = 63) for a python-chess square (a1 = 0)."""
    return square ^ 56


def env_bitboard(mask):
    """A python-chess bitboard in the environment's square numbering (ranks turned over)."""
    return int.from_bytes(mask.to_bytes(8, "little"), "big")


def bitboards_of(board):
    return [env_bitboard(board.pieces_mask(kind, colour)) for colour, kind in PIECE_ORDER]


def castle_bits(board):
    """Castling rights as bits K = 1, Q = 2, k = 4, q = 8.

    python-chess filters its rights by the pieces (a right needs the king on e1/e8 and the rook
    on its corner), while the environment keeps bits that every move from or to e1, a1, h1, e8,
    a8 or h8 clears. From a position whose rights match its pieces both stay equal: a rook or
    king can only leave its home square, or a rook be captured there, by a move from or to it.
    """
    rights = board.clean_castling_rights()
    return (
        (1 if rights & chess.BB_H1 else 0)
        | (2 if rights & chess.BB_A1 else 0)
        | (4 if rights & chess.BB_H8 else 0)
        | (8 if rights & chess.BB_A8 else 0)
    )


def enpassant_of(board):
    """The en passant square as the environment keeps it: set after every double step."""
    return NO_SQUARE if board.ep_square is None else env_square(board.ep_square)


def position_key(bitboards, white_to_move, enpassant, castle):
    key = 0
    for bitboard in bitboards:
        key ^= (bitboard * PIECE_MULTIPLIER) & MASK64
    key ^= WHITE_TO_MOVE_KEY if white_to_move else BLACK_TO_MOVE_KEY
    if enpassant != NO_SQUARE:
        key ^= 1 << (enpassant % 64)
    key ^= (castle * CASTLE_MULTIPLIER) & MASK64
    return key


def key_of(board):
    return position_key(
        bitboards_of(board), board.turn == chess.WHITE, enpassant_of(board), castle_bits(board)
    )


# --- the action numbering, decoded from the rules ------------------------------------------------


def decode_action(action, board):
    """The python-chess move that an action number stands for in this position.

    Returns None for a number that names no move on the board (a target off the board).
    """
    plane, source = divmod(action, 64)
    row, file = divmod(source, 8)
    seat = 1 if board.turn == chess.WHITE else -1
    promotion = None
    if plane < 56:
        direction, distance = divmod(plane, 7)
        distance += 1
        row_step, file_step = WHITE_DIRECTIONS[direction]
        row_change, file_change = seat * row_step * distance, seat * file_step * distance
    elif plane < 64:
        row_change, file_change = KNIGHT_PLANES[plane]
    else:
        direction, kind = divmod(plane - 64, 3)
        row_step, file_step = WHITE_DIRECTIONS[direction]
        row_change, file_change = seat * row_step, seat * file_step
        promotion = UNDERPROMOTIONS[kind]
    target_row, target_file = row + row_change, file + file_change
    if not (0 <= target_row < 8 and 0 <= target_file < 8):
        return None
    from_square = chess.square(file, 7 - row)
    to_square = chess.square(target_file, 7 - target_row)
    if (
        promotion is None
        and board.piece_type_at(from_square) == chess.PAWN
        and target_row in (0, 7)
    ):
        promotion = chess.QUEEN
    return chess.Move(from_square, to_square, promotion)


def mask_actions(mask, thorough=True):
    """Action numbers of the 1 entries; the mask must be 73 lists of 64 zeros and ones.

    Checking the type and value of all 4672 entries costs more than the rest of a ply, so the
    lockstep games do it on every 16th position only and otherwise look at the planes that hold
    a 1.
    """
    assert type(mask) is list
    assert len(mask) == PLANES
    assert all(type(plane) is list and len(plane) == 64 for plane in mask)
    if thorough:
        assert set(map(type, itertools.chain.from_iterable(mask))) == {int}
        flat = bytes(itertools.chain.from_iterable(mask))  # refuses values outside 0..255
        assert not flat.translate(None, b"\x00\x01"), f"mask values {sorted(set(flat))}"
        return [match.start() for match in re.finditer(b"\x01", flat)]
    actions = []
    for number, total in enumerate(map(sum, mask)):
        if total:
            plane = mask[number]
            ones = [number * 64 + square for square, value in enumerate(plane) if value == 1]
            assert len(ones) == total, f"plane {number}: {plane}"
            actions.extend(ones)
    return actions


def check_move_record(move_value, action, move, board):
    """The packed Move that the action map holds for ``action`` describes ``move``."""
    assert 0 <= move_value < 1 << 24, hex(move_value)
    source = move_value & 63
    target = (move_value >> 6) & 63
    piece = (move_value >> 12) & 15
    promoted = (move_value >> 16) & 15
    flags = [(move_value >> bit) & 1 for bit in (20, 21, 22, 23)]
    mover = board.piece_at(move.from_square)
    expected_promoted = 0
    if move.promotion is not None:
        expected_promoted = PIECE_INDEX[(mover.color, move.promotion)]
    double_push = mover.piece_type == chess.PAWN and abs(move.to_square - move.from_square) == 16
    expected_flags = [
        int(board.is_capture(move)),
        int(double_push),
        int(board.is_en_passant(move)),
        int(board.is_castling(move)),
    ]
    assert (source, target, piece, promoted, flags) == (
        action % 64,
        env_square(move.to_square),
        PIECE_INDEX[(mover.color, mover.piece_type)],
        expected_promoted,
        expected_flags,
    ), f"move record {move_value:#x} for action {action} ({move.uci()})"


# --- the episode bookkeeping, tracked by the environment's rules ---------------------------------


def filled(value):
    return [value] * 64


# The eight squares of one byte of a bitboard as 0/1 values, lowest square first.
BYTE_SQUARES = [[byte >> bit & 1 for bit in range(8)] for byte in range(256)]


def piece_planes(bitboards):
    return [
        [v for byte in bitboard.to_bytes(8, "little") for v in BYTE_SQUARES[byte]]
        for bitboard in bitboards
    ]


class Episode:
    """What the environment should hold besides the position, tracked independently."""

    def __init__(self):
        # A new environment: counters 0, empty maps and history, just_reset 0.
        self.ring = []
        self.state_pos = 0
        self.counts = {}
        self.n_repititions = None  # not set before the first recorded position
        self.prev_n_repititions = 0
        self.no_progress_count = 0
        self.total_move_count = 0
        self.just_reset = 0

    def copy(self):
        other = Episode.__new__(Episode)
        other.__dict__.update(self.__dict__)
        other.ring = list(self.ring)
        other.counts = dict(self.counts)
        return other

    def record(self, board):
        key = key_of(board)
        self.counts[key] = self.counts.get(key, 0) + 1
        n = self.counts[key] - 1
        white = board.turn == chess.WHITE
        record = [
            *piece_planes(bitboards_of(board)),
            filled(n if white else self.prev_n_repititions),
            filled(self.prev_n_repititions if white else n),
        ]
        self.state_pos = (self.state_pos + 1) % 8
        if len(self.ring) < 8:
            self.ring.append(record)
        else:
            self.ring[(self.state_pos + 7) % 8] = record
        self.n_repititions = n
        self.prev_n_repititions = n

    def reset(self, board):
        self.just_reset = 1
        self.ring = []
        self.counts = {}
        self.state_pos = 0
        self.no_progress_count = 0
        self.record(board)

    def play(self, board, move):
        """Plays ``move`` on ``board`` and returns the expected (reward, done) of the step."""
        progress = board.is_zeroing(move)
        board.push(move)
        self.just_reset = 0
        self.no_progress_count = 1 if progress else self.no_progress_count + 1
        self.record(board)
        self.total_move_count += 1
        if not any(board.generate_legal_moves()):
            if board.is_check():
                return (1 if board.turn == chess.BLACK else -1), 1
            return 0, 1
        if self.n_repititions == 2 or self.no_progress_count >= 50:
            return 0, 1
        return 0, 0

    def observation(self, board):
        black = board.turn == chess.BLACK
        planes = []
        for slot in range(8):
            index = (self.state_pos + 7 - slot) % 8
            if index < len(self.ring):
                record = self.ring[index]
                pieces = record[6:12] + record[0:6] if black else record[0:12]
                planes += [*pieces, record[12], record[13]]
            else:
                planes += [filled(0)] * 14
        castle = castle_bits(board)
        planes += [
            filled(1 if black else 0),
            filled(self.total_move_count),
            filled(castle & 1),
            filled(castle >> 1 & 1),
            filled(castle >> 2 & 1),
            filled(castle >> 3 & 1),
            filled(self.no_progress_count),
        ]
        if black and not self.just_reset:
            planes = [plane[::-1] for plane in planes]
        return planes


# --- the lockstep game ---------------------------------------------------------------------------


class Tally:
    def __init__(self):
        self.positions = 0
        self.games = 0
        self.endings = {}

    def ended(self, how):
        self.endings[how] = self.endings.get(how, 0) + 1


@pytest.fixture(scope="module")
def tally(request):
    counts = Tally()
    yield counts
    reporter = request.config.pluginmanager.get_plugin("terminalreporter")
    capture = request.config.pluginmanager.get_plugin("capturemanager")
    if reporter is not None and capture is not None and counts.games:
        endings = ", ".join(f"{how} {n}" for how, n in sorted(counts.endings.items()))
        with capture.global_and_fixture_disabled():
            reporter.write_line(
                f"\ndifferential: {counts.positions} positions compared in {counts.games}"
                f" games ({endings})"
            )


class Game:
    def __init__(self, env, episode, board, label):
        self.env = env
        self.episode = episode
        self.board = board
        self.label = label

    def where(self):
        return (
            f"[{self.label}] start {self.board.root().fen()} moves "
            f"{' '.join(m.uci() for m in self.board.move_stack)} (ply {self.board.ply()})"
        )

    def compare(self, tally):
        """Compares the position and the bookkeeping; returns action number -> move."""
        env, board, episode = self.env, self.board, self.episode
        actions = mask_actions(env.get_actions(), thorough=tally.positions % 16 == 0)
        decoded = {}
        for action in actions:
            move = decode_action(action, board)
            assert move is not None, f"action {action} leaves the board; {self.where()}"
            decoded[action] = move
        legal = set(board.legal_moves)
        assert len(set(decoded.values())) == len(decoded), self.where()
        assert set(decoded.values()) == legal, (
            f"missing {sorted(m.uci() for m in legal - set(decoded.values()))}, "
            f"extra {sorted(m.uci() for m in set(decoded.values()) - legal)}; {self.where()}"
        )

        state = env.save_state()
        bitboards = bitboards_of(board)
        assert state.bitboards.tolist() == bitboards, self.where()
        white = board.occupied_co[chess.WHITE]
        black = board.occupied_co[chess.BLACK]
        assert state.occupancies.tolist() == [
            env_bitboard(white),
            env_bitboard(black),
            env_bitboard(white | black),
        ], self.where()
        assert state.side == (0 if board.turn == chess.WHITE else 1), self.where()
        assert state.enpassant == enpassant_of(board), self.where()
        assert state.castle == castle_bits(board), self.where()
        assert env.hash_state() == key_of(board), self.where()

        move_index = state.move_index
        assert sorted(move_index) == actions, self.where()
        for action, move in decoded.items():
            check_move_record(move_index[action], action, move, board)

        assert state.no_progress_count == episode.no_progress_count, self.where()
        assert state.total_move_count == episode.total_move_count, self.where()
        assert state.repetition_count == episode.counts, self.where()
        if episode.n_repititions is not None:
            assert state.n_repititions == episode.n_repititions, self.where()
        assert state.prev_n_repititions == episode.prev_n_repititions, self.where()
        assert state.state_pos == episode.state_pos, self.where()
        assert state.state_history == episode.ring, self.where()
        tally.positions += 1
        return decoded

    def step(self, action, move):
        expected_reward, expected_done = self.episode.play(self.board, move)
        side, observation, reward, done = self.env.step(action)
        assert side == (0 if self.board.turn == chess.WHITE else 1), self.where()
        assert (reward, done) == (expected_reward, expected_done), self.where()
        assert observation == self.episode.observation(self.board), self.where()
        return reward, done


def move_order(move):
    return (move.from_square, move.to_square, move.promotion or 0)


def choose(rng, board, moves, style):
    """A move by one of three ways of playing: uniform, taking, or shuffling back and forth."""
    moves = sorted(moves, key=move_order)
    last_moves = board.move_stack
    if style == "taking" and rng.random() < 0.6:
        sharp = [m for m in moves if board.is_capture(m) or m.promotion or board.gives_check(m)]
        if sharp:
            return rng.choice(sharp)
    if style == "shuffling" and len(last_moves) >= 2 and rng.random() < 0.8:
        back = last_moves[-2]
        undo = chess.Move(back.to_square, back.from_square)
        if undo in moves:
            return undo
    return rng.choice(moves)


def play_game(env, episode, label, fen, game_number, tally):
    rng = random.Random(f"{SEED}/{label}/{game_number}")
    style = ("uniform", "taking", "shuffling")[game_number % 3]
    # Every game starts with reset, as a trainer's would; a game from FEN text then loads its
    # position with parse_fen, which leaves the start position counted and in the history ring.
    board = chess.Board()
    episode.reset(board)
    assert env.reset() == (0, episode.observation(board), 0, 0)
    if fen is not None:
        board = chess.Board(fen)
        env.parse_fen(fen)
        episode.no_progress_count = 0
    game = Game(env, episode, board, f"{label} #{game_number} {style} seed {SEED}")

    snapshot = None
    rewind_at = None
    played_on = 0
    for _ in range(MAX_PLIES):
        decoded = game.compare(tally)
        if not decoded:
            break
        if snapshot is None and rng.random() < 0.05:
            snapshot = (env.save_state(), board.copy(), episode.copy())
            rewind_at = board.ply() + rng.randint(1, 12)
        elif snapshot is not None and board.ply() == rewind_at:
            state, board_then, episode_then = snapshot
            episode_then.total_move_count = episode.total_move_count  # never rewound
            episode_then.just_reset = episode.just_reset  # restore_state keeps it
            game.label += f", rewound from ply {board.ply()}"
            game.board = board = board_then.copy()
            game.episode = episode = episode_then
            side, observation, reward, done = env.restore_state(state)
            assert side == (0 if board.turn == chess.WHITE else 1), game.where()
            assert (reward, done) == (0, 0), game.where()
            assert observation == episode.observation(board), game.where()
            assert env.save_state().move_index == state.move_index, game.where()
            rewind_at = -1
            continue
        actions = {m: a for a, m in decoded.items()}
        move = choose(rng, board, actions, style)
        reward, done = game.step(actions[move], move)
        if done and not played_on:
            if reward:
                tally.ended("mate")
            elif not any(board.generate_legal_moves()):
                tally.ended("stalemate")
            elif episode.n_repititions == 2:
                tally.ended("repetition")
            else:
                tally.ended("no-progress")
        if done:
            if not any(board.generate_legal_moves()):
                game.compare(tally)
                with pytest.raises(ValueError, match=r"^Invalid action$"):
                    env.step(rng.randrange(ACTIONS))
                episode.just_reset = 0
                break
            # The environment accepts moves after a draw; play on a little now and then.
            if played_on == 0 and rng.random() < 0.2:
                played_on = rng.randint(1, 6)
                continue
            played_on -= 1
            if played_on <= 0:
                break
    else:
        tally.ended("ply limit")
    tally.games += 1
    # The episode model carries over to the next game, as the environment does.
    return episode


@pytest.mark.parametrize("label", list(GAMES))
def test_games_agree_with_python_chess(label, tally):
    env = ortolan.Ortolan()
    episode = Episode()
    fen = FEN_POSITIONS.get(label)
    for game_number in range(GAMES[label]):
        episode = play_game(env, episode, label, fen, game_number, tally)


@pytest.mark.parametrize("label", list(FEN_POSITIONS))
def test_games_from_fen_without_reset(label, tally):
    """parse_fen on a new environment: nothing counted, empty history, until the first step."""
    env = ortolan.Ortolan()
    episode = Episode()
    board = chess.Board(FEN_POSITIONS[label])
    env.parse_fen(FEN_POSITIONS[label])
    rng = random.Random(f"{SEED}/fresh/{label}")
    game = Game(env, episode, board, f"{label} fresh seed {SEED}")
    for _ in range(60):
        decoded = game.compare(tally)
        if not decoded:
            break
        actions = {m: a for a, m in decoded.items()}
        move = choose(rng, board, actions, "taking")
        if game.step(actions[move], move)[1]:
            game.compare(tally)
            break
    tally.games += 1


# --- rollouts, judged by the reference -----------------------------------------------------------


def board_from_state(state):
    """A python-chess board for a snapshot's position."""
    board = chess.Board(None)
    for index, bitboard in enumerate(state.bitboards.tolist()):
        colour, kind = PIECE_ORDER[index]
        for square in range(64):
            if bitboard >> square & 1:
                board.set_piece_at(env_square(square), chess.Piece(kind, colour))
    board.turn = chess.WHITE if state.side == 0 else chess.BLACK
    castle = state.castle
    rights = 0
    for bit, corner in ((1, chess.BB_H1), (2, chess.BB_A1), (4, chess.BB_H8), (8, chess.BB_A8)):
        if castle & bit:
            rights |= corner
    board.castling_rights = rights
    board.ep_square = None if state.enpassant == NO_SQUARE else env_square(state.enpassant)
    return board


@pytest.mark.parametrize("label", ["start", *FEN_POSITIONS])
def test_roll_out_result_matches_the_final_position(label, tally):
    env = ortolan.Ortolan()
    for _ in range(4):
        env.reset()
        if label != "start":
            env.parse_fen(FEN_POSITIONS[label])
        before = env.save_state()
        reward = env.roll_out()
        after = env.save_state()
        steps = after.total_move_count - before.total_move_count
        board = board_from_state(after)
        # Nothing to play: no step, and the result is what the position already is.
        assert (steps == 0) == (not any(board_from_state(before).generate_legal_moves()))
        assert 0 <= steps <= 400
        # The final position has python-chess's legal moves, and its key the formula's value.
        assert env.hash_state() == key_of(board), board.fen()
        mask = set(mask_actions(env.get_actions()))
        assert {decode_action(a, board) for a in mask} == set(board.legal_moves), board.fen()
        if reward:
            assert board.is_checkmate(), board.fen()
            assert reward == (1 if board.turn == chess.BLACK else -1), board.fen()
        elif board.is_checkmate():
            pytest.fail(f"mate in {board.fen()} reported as reward 0")
        elif not board.is_stalemate():
            assert steps == 400 or after.n_repititions == 2 or after.no_progress_count >= 50, (
                f"rollout stopped after {steps} steps at {board.fen()}"
            )
        # The environment carries on from there with the same rules.
        env.restore_state(before)
        assert env.save_state().bitboards.tolist() == before.bitboards.tolist()
        tally.positions += 1


# --- the helpers above, checked against worked examples ------------------------------------------


def test_position_key_examples():
    assert key_of(chess.Board()) == 0x07259D7613375B63
    empty = chess.Board(None)
    assert key_of(empty) == WHITE_TO_MOVE_KEY
    empty.turn = chess.BLACK
    assert key_of(empty) == BLACK_TO_MOVE_KEY
    after_e4 = chess.Board()
    after_e4.push_uci("e2e4")
    assert enpassant_of(after_e4) == 44
    assert castle_bits(after_e4) == 15


@pytest.mark.parametrize(
    ("fen", "action", "uci"),
    [
        (chess.STARTING_FEN, 7 * 64 + 48, "a2a3"),
        (chess.STARTING_FEN, 8 * 64 + 52, "e2e4"),
        (chess.STARTING_FEN, 56 * 64 + 57, "b1a3"),
        (chess.STARTING_FEN, 57 * 64 + 62, "g1h3"),
        ("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1", 524, "e7e5"),
        ("rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq - 0 2", 195, "d8h4"),
        ("4k3/8/8/8/4N3/8/8/4K3 w - - 0 1", 56 * 64 + 36, "e4d6"),
        ("4k3/8/8/8/4N3/8/8/4K3 w - - 0 1", 59 * 64 + 36, "e4g3"),
        ("4k3/8/8/8/4N3/8/8/4K3 w - - 0 1", 63 * 64 + 36, "e4c5"),
        ("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", 22 * 64 + 60, "e1g1"),
        ("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", 50 * 64 + 60, "e1c1"),
        ("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", 50 * 64 + 4, "e8g8"),
        ("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", 22 * 64 + 4, "e8c8"),
        ("r1r1k3/1P6/8/8/8/8/6p1/4K2R w - - 0 1", 67 * 64 + 9, "b7b8n"),
        ("r1r1k3/1P6/8/8/8/8/6p1/4K2R w - - 0 1", 65 * 64 + 9, "b7a8b"),
        ("r1r1k3/1P6/8/8/8/8/6p1/4K2R w - - 0 1", 72 * 64 + 9, "b7c8r"),
        ("r1r1k3/1P6/8/8/8/8/6p1/4K2R w - - 0 1", 1 * 7 * 64 + 9, "b7b8q"),
        ("4k3/8/8/8/8/8/6p1/4KB1R b - - 0 1", 67 * 64 + 54, "g2g1n"),
        ("4k3/8/8/8/8/8/6p1/4KB1R b - - 0 1", 64 * 64 + 54, "g2h1n"),
        ("4k3/8/8/8/8/8/6p1/4KB1R b - - 0 1", 70 * 64 + 54, "g2f1n"),
        ("4k3/8/8/8/8/8/6p1/4KB1R b - - 0 1", 0 * 64 + 54, "g2h1q"),
        ("7k/8/8/8/8/8/8/Q3K3 w - - 0 1", 20 * 64 + 56, "a1h8"),
    ],
)
def test_decoder_examples(fen, action, uci):
    assert decode_action(action, chess.Board(fen)) == chess.Move.from_uci(uci)
