"""A reference for the batched environment: one ortolan.Ortolan per slot, driven from Python by
the batched environment's conventions (autoreset modes, max_plies, fresh games from FEN text),
with observations and masks turned into arrays shaped as the batch returns them."""

from pathlib import Path

import numpy as np

import ortolan

DATA = Path(__file__).resolve().parents[1] / "data"


def data_fens():
    lines = (DATA / "vector_fens.txt").read_text().splitlines()
    return [line for line in lines if line.strip() and not line.startswith("#")]


def planes(observation):
    return np.asarray(observation, dtype=np.int32).reshape(119, 8, 8)


def flat_mask(game):
    return np.asarray(game.get_actions(), dtype=np.int32).reshape(-1).astype(bool)


def snapshot_fields(state):
    """Every field of a snapshot but move_index, which is rebuilt before every use."""
    return {
        "bitboards": state.bitboards.tolist(),
        "occupancies": state.occupancies.tolist(),
        "side": state.side,
        "enpassant": state.enpassant,
        "castle": state.castle,
        "state_history": state.state_history,
        "state_pos": state.state_pos,
        "total_move_count": state.total_move_count,
        "no_progress_count": state.no_progress_count,
        "repetition_count": state.repetition_count,
        "n_repititions": state.n_repititions,
        "prev_n_repititions": state.prev_n_repititions,
    }


def start_from_fen(game, fen):
    """A fresh game from FEN text, assembled from its definition: the loaded position as the
    only record of the history (piece planes from the bitboards, repetition planes 0 for the
    side to move and the carried-over previous value for the other), counted once, the ring
    at 1, the move counter kept. Restored into a game that has not just been reset, so a
    Black-to-move position is drawn from Black's seat. Returns the observation."""
    carried = game.save_state().prev_n_repititions
    loaded = ortolan.Ortolan()
    loaded.parse_fen(fen)
    state = loaded.save_state()
    pieces = [[(int(board) >> square) & 1 for square in range(64)] for board in state.bitboards]
    white = 0 if state.side == 0 else carried
    black = 0 if state.side == 1 else carried
    state.state_history = [[*pieces, [white] * 64, [black] * 64]]
    state.state_pos = 1
    state.repetition_count = {loaded.hash_state(): 1}
    state.n_repititions = 0
    state.prev_n_repititions = 0
    _, observation, _, _ = game.restore_state(state)
    return observation


class Reference:
    """N Ortolan games stepped one by one as the batch steps its slots."""

    def __init__(self, num_envs, mode="next_step", max_plies=None):
        self.games = [ortolan.Ortolan() for _ in range(num_envs)]
        self.mode = mode
        self.max_plies = max_plies
        self.ended = [False] * num_envs
        self.plies = [0] * num_envs
        self.observation = np.zeros((num_envs, 119, 8, 8), dtype=np.int32)
        self.mask = np.zeros((num_envs, 4672), dtype=bool)

    def _start(self, i, fen=None):
        game = self.games[i]
        observation = game.reset()[1] if fen is None else start_from_fen(game, fen)
        self.observation[i] = planes(observation)
        self.mask[i] = flat_mask(game)
        self.ended[i] = False
        self.plies[i] = 0

    def reset(self, reset_mask=None, fens=None):
        for i in range(len(self.games)):
            if reset_mask is None or reset_mask[i]:
                self._start(i, None if fens is None else fens[i])
        return self.observation.copy(), self.mask.copy()

    def step(self, actions):
        n = len(self.games)
        rewards = np.zeros(n, dtype=np.float32)
        terminated = np.zeros(n, dtype=bool)
        truncated = np.zeros(n, dtype=bool)
        final = {}
        for i, game in enumerate(self.games):
            if self.mode != "disabled" and self.ended[i]:
                self._start(i)
                continue
            _, observation, reward, done = game.step(int(actions[i]))
            self.observation[i] = planes(observation)
            self.mask[i] = flat_mask(game)
            self.plies[i] += 1
            rewards[i] = reward
            terminated[i] = bool(done)
            truncated[i] = (
                not done and self.max_plies is not None and self.plies[i] >= self.max_plies
            )
            self.ended[i] = bool(terminated[i] or truncated[i])
            if self.mode == "same_step" and self.ended[i]:
                final[i] = (self.observation[i].copy(), self.mask[i].copy())
                self._start(i)
        to_play = self.observation[:, 112, 0, 0].astype(np.int8)
        return (
            self.observation.copy(),
            self.mask.copy(),
            rewards,
            terminated,
            truncated,
            to_play,
            final,
        )
