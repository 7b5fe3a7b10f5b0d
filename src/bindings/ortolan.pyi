"""Chess as a reinforcement-learning environment: the classes ``Ortolan`` and ``State``.

Squares are numbered 0..63 from a8 along the ranks to h1 (a8 = 0, h8 = 7, a1 = 56, h1 = 63);
bit n of a bitboard is square n. Sides are 0 (White) and 1 (Black). Pieces are numbered 0..11
in the order "PNBRQKpnbrqk" (White pawn, knight, bishop, rook, queen, king, then Black's).
Castling rights are the bits 1 (White king-side), 2 (White queen-side), 4 (Black king-side)
and 8 (Black queen-side). Rewards are always from White's point of view. The package
``ortolan_notation`` turns actions and positions into UCI, SAN, FEN and python-chess boards.
"""

import collections.abc
import typing

import numpy
import numpy.typing

class State:
    """A snapshot of a game, from ``Ortolan.save_state``, for ``Ortolan.restore_state``.

    It owns copies of everything: restoring it any number of times, into any environment,
    continues the game from the same point. The position fields (``bitboards``,
    ``occupancies``, ``side``, ``enpassant``, ``castle``) are read-only; the episode fields can
    be replaced. A ``State`` cannot be pickled.
    """

    def __init__(self) -> None:
        """An empty record: every number 0 (so ``enpassant`` is 0, not 64), no history, empty
        maps. Restoring it gives an empty board; it is mostly useful as a value to fill."""
    @property
    def side(self) -> int:
        """The side to move: 0 White, 1 Black."""
    @property
    def enpassant(self) -> int:
        """The square a pawn capturing en passant would move to, set after every double step
        (whether or not a pawn can take there); 64 when there is none."""
    @property
    def castle(self) -> int:
        """Castling rights: bits 1 (White king-side), 2 (White queen-side), 4 (Black
        king-side), 8 (Black queen-side)."""
    @property
    def state_history(self) -> list[list[list[int]]]:
        """The last (at most 8) positions as records of 14 planes of 64 ints: one plane per
        piece (0..11, as the board is, not turned), then the repetition planes 12 and 13. A
        ring: the newest record is at index ``(state_pos + 7) % 8``. Each read returns a new
        list."""
    @state_history.setter
    def state_history(
        self,
        arg0: collections.abc.Sequence[
            collections.abc.Sequence[collections.abc.Sequence[typing.SupportsInt]]
        ],
    ) -> None: ...
    @property
    def state_pos(self) -> int:
        """The next write position of the ``state_history`` ring, 0..7."""
    @state_pos.setter
    def state_pos(self, arg0: typing.SupportsInt) -> None: ...
    @property
    def total_move_count(self) -> int:
        """The number of steps the environment had played, across games, when the snapshot was
        taken. ``restore_state`` does not write it back."""
    @total_move_count.setter
    def total_move_count(self, arg0: typing.SupportsInt) -> None: ...
    @property
    def no_progress_count(self) -> int:
        """Plies since the last pawn move or capture, that move included (1 right after it),
        or since the position was loaded; the game is drawn when it reaches 50."""
    @no_progress_count.setter
    def no_progress_count(self, arg0: typing.SupportsInt) -> None: ...
    @property
    def repetition_count(self) -> dict[int, int]:
        """How often each position key (``Ortolan.hash_state``) has occurred in the game."""
    @repetition_count.setter
    def repetition_count(
        self, arg0: collections.abc.Mapping[typing.SupportsInt, typing.SupportsInt]
    ) -> None: ...
    @property
    def move_index(self) -> dict[int, int]:
        """Action number to packed move, as the environment last numbered the legal moves.
        Scratch: the environment rebuilds it before every use, so it may still belong to the
        position before the last step. Read legal moves from ``Ortolan.get_actions``."""
    @move_index.setter
    def move_index(
        self, arg0: collections.abc.Mapping[typing.SupportsInt, typing.SupportsInt]
    ) -> None: ...
    @property
    def n_repititions(self) -> int:
        """Earlier occurrences of the current position: 0 the first time, 2 at the third
        occurrence, which draws."""
    @n_repititions.setter
    def n_repititions(self, arg0: typing.SupportsInt) -> None: ...
    @property
    def prev_n_repititions(self) -> int:
        """``n_repititions`` of the previous record, carried into the repetition planes."""
    @prev_n_repititions.setter
    def prev_n_repititions(self, arg0: typing.SupportsInt) -> None: ...
    @property
    def bitboards(self) -> numpy.typing.NDArray[numpy.uint64]:
        """The twelve piece bitboards, indexed by piece "PNBRQKpnbrqk"; bit n is square n
        (a8 = 0). A new array on every read: writing into it changes nothing."""
    @property
    def occupancies(self) -> numpy.typing.NDArray[numpy.uint64]:
        """Three bitboards: all White pieces, all Black pieces, all pieces."""

class Ortolan:
    """One chess game: ``reset``, then ``step`` actions until ``done``.

    Actions are ``plane * 64 + source`` (0..4671): the source square of the moving piece and
    one of 73 planes for where it goes. Planes 0-55 are ``direction * 7 + distance - 1`` along
    a rank, file or diagonal, with the direction counted from the mover's seat (0 forward-left,
    1 forward, 2 forward-right, 3 right, 4 backward-right, 5 backward, 6 backward-left,
    7 left): castling is the king's two-square move, and a pawn reaching the last rank this
    way becomes a queen. Planes 56-63 are the knight jumps, the same for both sides (source
    minus target = 17, 15, 6, -10, -17, -15, -6, 10). Planes 64-72 are ``64 + direction * 3 +
    kind``: a pawn's under-promotion to a knight, bishop or rook (kind 0, 1, 2), straight
    ahead or capturing to either side (direction 0, 1, 2 as above). White's e2-e4 is
    ``8 * 64 + 52``, Black's e7-e5 ``8 * 64 + 12``.

    An observation is 119 planes of 64 ints, seen from the side to move: for Black every plane
    is turned half round (entry i is square 63 - i), except in the observation a
    ``restore_state`` returns directly after ``reset``. For each of the last 8 positions
    (slot e = 0 the newest; an empty slot is all 0): planes ``14e + 0..5`` the mover's pawns,
    knights, bishops, rooks, queens, king, ``14e + 6..11`` the other side's, ``14e + 12`` and
    ``14e + 13`` repetition counts. Then 112 the side to move (all 1 for Black), 113 the
    environment's step counter, 114-117 the castling rights K, Q, k, q, 118 the no-progress
    counter.

    The game ends by checkmate (reward +1 when White mates, -1 when Black mates), stalemate,
    the third occurrence of a position or 50 plies without a pawn move or capture (reward 0).
    The interpreter lock is held throughout every call.
    """

    def __init__(self) -> None:
        """An environment with an empty board: call ``reset`` or ``parse_fen`` first."""
    def reset(self, /) -> tuple[int, list[list[int]], int, int]:
        """Starts a new game from the initial position.

        Returns ``(side, observation, reward, done)``: always ``(0, observation, 0, 0)``.
        The step counter of plane 113 is not reset.
        """
    def get_actions(self, /) -> list[list[int]]:
        """The legal actions of the position: 73 planes of 64 ints, 1 where ``plane * 64 +
        square`` is a legal action. All 0 when the game is mated or stalemated."""
    def render(self, /) -> None:
        """Prints the board twice: in letters with the side to move, en passant square and
        castling rights on the process's standard output, then in chess glyphs on
        ``sys.stdout``."""
    def parse_fen(self, arg0: str | bytes | bytearray, /) -> None:
        """Loads a position from FEN text: placement, side, castling rights, en passant
        square. The move counters of the text are ignored and the no-progress counter starts
        at 0; the history and repetition counts of the game are kept. The text is not
        checked: malformed text loads some position."""
    def step(self, arg0: typing.SupportsInt, /) -> tuple[int, list[list[int]], int, int]:
        """Plays an action of the side to move.

        Returns ``(side, observation, reward, done)``: the side now to move, the observation
        from its seat, the reward from White's point of view and 1 when the game has ended.
        A drawn game can be played on; a mated or stalemated one cannot.

        Raises ValueError("Invalid action") when the action is not legal in the position,
        which is then unchanged; TypeError when it is no integer or outside 32 bits.
        """
    def save_state(self, /) -> State:
        """A new snapshot of the game, independent of the environment."""
    def restore_state(self, arg0: State, /) -> tuple[int, list[list[int]], int, int]:
        """Puts a snapshot back (the snapshot is copied, not kept) and returns
        ``(side, observation, 0, 0)``, even for a finished game. The step counter keeps
        counting on."""
    def hash_state(self, /) -> int:
        """The 64-bit key of the position (pieces, side, castling rights, en passant square),
        the key of the repetition counts."""
    def roll_out(self, /) -> int:
        """Plays uniformly random legal actions until the game ends or 400 steps have been
        played, and returns the last reward (+1, -1 or 0). The game is left where the playout
        stopped: bracket it with ``save_state`` and ``restore_state``. Seeded afresh on every
        call, so not reproducible."""
