"""PettingZoo's and Pgx's action numbers, checked by playing random games in lockstep.

Each game is played on this environment and on the peer at once, every action converted with
ortolan_notation. In every position the peer's legal actions, converted, are exactly this
environment's, and after every move the two positions agree. A game stops at the first ending
on either side, since the peers' draw rules differ from this environment's. Moves are drawn
with a preference for promotions and pawn moves, so that the games reach the promotion planes
of both sides early and often. EnvPool's Chess-v1 is Pgx's chess, numbering included, without
JAX.
"""

import json
import random
from pathlib import Path

import numpy as np
import pytest
from support import legal_actions

import ortolan
import ortolan_notation as notation

CASES = json.loads((Path(__file__).parents[1] / "data" / "notation_cases.json").read_text())
GAMES = 12
PIECE_CODES = {letter: code for code, letter in enumerate("pnbrqk", start=1)}


@pytest.mark.parametrize(
    ("to_peer", "from_peer", "rows"),
    [
        (notation.to_pettingzoo, notation.from_pettingzoo, CASES["pettingzoo"]),
        (notation.to_pgx, notation.from_pgx, CASES["pgx"]),
    ],
    ids=["pettingzoo", "pgx"],
)
def test_numbers_read_off_the_peers(to_peer, from_peer, rows):
    for label, side, ours, theirs in rows:
        assert to_peer(ours, side) == theirs, label
        assert from_peer(theirs, side) == ours, label


@pytest.mark.parametrize(
    ("to_peer", "from_peer"),
    [(notation.TO_PETTINGZOO, notation.FROM_PETTINGZOO), (notation.TO_PGX, notation.FROM_PGX)],
    ids=["pettingzoo", "pgx"],
)
def test_tables_reorder_whole_policy_vectors(to_peer, from_peer):
    policy = np.random.default_rng(0).random(73 * 64)
    for side in (0, 1):
        assert sorted(to_peer[side]) == list(range(73 * 64))
        assert np.array_equal(policy[from_peer[side]][to_peer[side]], policy)
    assert not to_peer.flags.writeable


@pytest.mark.parametrize("convert", [notation.to_pettingzoo, notation.from_pgx])
@pytest.mark.parametrize(("action", "side"), [(4672, 0), (-1, 1), (0, 2), (0, -1)])
def test_converters_refuse_numbers_out_of_range(convert, action, side):
    with pytest.raises(ValueError, match=r"outside 0\.\.4671|side to move is 0"):
        convert(action, side)


# --- lockstep play -------------------------------------------------------------------------------


def letters(state):
    """The piece letter on each square (a8 = 0), straight from the bitboards."""
    board = [""] * 64
    for letter, bitboard in zip("PNBRQKpnbrqk", state.bitboards.tolist(), strict=True):
        for square in range(64):
            if bitboard >> square & 1:
                board[square] = letter
    return board


def choose(rng, state, actions):
    """A legal action, preferring promotions, then pawn moves."""
    on = letters(state)
    promotions = [a for a in actions if len(notation.action_to_uci(state, a)) == 5]
    pawns = [a for a in actions if on[a % 64] in "Pp"]
    if promotions and rng.random() < 0.9:
        return rng.choice(promotions)
    if pawns and rng.random() < 0.6:
        return rng.choice(pawns)
    return rng.choice(actions)


class PettingZooPeer:
    to_peer, from_peer = notation.TO_PETTINGZOO, notation.FROM_PETTINGZOO

    def __init__(self, seed):
        chess_v6 = pytest.importorskip(
            "pettingzoo.classic.chess_v6", reason="PettingZoo's chess needs pygame and chess"
        )
        self.env = chess_v6.env()
        self.env.reset(seed=seed)

    def legal(self):
        return set(np.flatnonzero(self.env.observe(self.env.agent_selection)["action_mask"]))

    def step(self, action):
        self.env.step(action)
        return any(self.env.terminations.values()) or any(self.env.truncations.values())

    def assert_position(self, state):
        # The adapter keeps a python-chess board; its FEN names the en passant square after
        # every double step, as this environment does.
        theirs = self.env.unwrapped.board.fen(en_passant="fen").split()[:4]
        assert notation.to_fen(state).split()[:4] == theirs


class EnvPoolPeer:
    to_peer, from_peer = notation.TO_PGX, notation.FROM_PGX

    def __init__(self, seed):
        envpool = pytest.importorskip("envpool", reason="EnvPool is not installed")
        self.env = envpool.make("Chess-v1", env_type="gymnasium", num_envs=1, seed=seed)
        _, self.info = self.env.reset()

    def legal(self):
        return set(np.flatnonzero(self.info["legal_action_mask"][0]))

    def step(self, action):
        _, _, terminated, truncated, self.info = self.env.step(np.array([action]))
        return bool(terminated[0] or truncated[0])

    def assert_position(self, state):
        # Pgx's board is an 8 x 8 array seen from the mover's seat: the mover's pieces positive
        # (pawn 1 .. king 6), the other side's negative, the mover's first rank at the bottom.
        # For Black the ranks are mirrored, the files stay.
        expected = np.zeros((8, 8), dtype=int)
        for square, letter in enumerate(letters(state)):
            if letter:
                row = square // 8 if state.side == 0 else 7 - square // 8
                mine = letter.isupper() == (state.side == 0)
                expected[row, square % 8] = PIECE_CODES[letter.lower()] * (1 if mine else -1)
        assert np.array_equal(self.info["board"][0], expected)
        assert int(self.info["turn"][0]) == state.side


@pytest.mark.parametrize("peer_class", [PettingZooPeer, EnvPoolPeer], ids=["pettingzoo", "envpool"])
def test_random_games_in_lockstep_with_the_peer(peer_class):
    seen = set()
    for game in range(GAMES):
        rng = random.Random(game)
        env = ortolan.Ortolan()
        side, _, _, done = env.reset()
        peer = peer_class(seed=game)
        while True:
            state = env.save_state()
            ours = set(legal_actions(env.get_actions()))
            assert {int(peer.from_peer[side][a]) for a in peer.legal()} == ours
            seen |= {(side, action // 64) for action in ours}
            if done or not ours:
                break
            action = choose(rng, state, sorted(ours))
            ended = peer.step(int(peer.to_peer[side][action]))
            side, _, _, done = env.step(action)
            peer.assert_position(env.save_state())
            if ended:
                break
    # Each plane was legal somewhere for each side, the under-promotions included.
    assert {(side, plane) for side in (0, 1) for plane in range(73)} <= seen
