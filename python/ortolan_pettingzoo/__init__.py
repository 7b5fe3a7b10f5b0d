"""The ortolan chess environment as a PettingZoo AEC environment.

Two agents, ``player_0`` (White) and ``player_1`` (Black), take turns. Each observation is a
dict with

* ``"observation"``: an int32 array of shape (8, 8, 119), channels last: entry [row, file, p]
  is square row * 8 + file of the environment's plane p, seen from the observing agent's seat
  (for Black the board is turned half round, so row 0 is always the far rank);
* ``"action_mask"``: an int8 array of 4,672 entries, the environment's 73 x 64 legality mask
  flattened so that entry i is action i; all zero for the agent not to move.

Rewards are +1 for the winner and -1 for the loser of a checkmate and 0 otherwise. A game ends
by the rule set's endings, ``rules`` as in ``ortolan_vector.VectorOrtolan``: under
``"standard"`` (the default) by checkmate, stalemate, insufficient material, the third
occurrence of a position or 100 half-moves without a pawn move or capture; under ``"fide"`` by
the fifth occurrence or 150 half-moves instead; under ``"ortolan"`` by checkmate, stalemate,
the third occurrence or 50 plies. All agents are then terminated. With ``max_plies`` set, a
game still running after that many plies is truncated instead.
"""

import typing

import gymnasium
import numpy as np
from pettingzoo import AECEnv  # type: ignore[import-untyped]
from pettingzoo.utils import wrappers  # type: ignore[import-untyped]

import ortolan
from ortolan_vector import VectorOrtolan, _core
from ortolan_vector._rules import RulesName, rules_name

ACTIONS: int = _core.ACTION_COUNT


class OrtolanChessEnv(AECEnv):  # type: ignore[misc]  # PettingZoo ships no types
    """Chess for two agents on the ortolan engine."""

    metadata: typing.ClassVar[dict[str, typing.Any]] = {
        "render_modes": ["human"],
        "name": "ortolan_chess_v0",
        "is_parallelizable": False,
        "render_fps": 1,
    }

    def __init__(
        self,
        render_mode: str | None = None,
        max_plies: int | None = None,
        rules: RulesName = "standard",
    ):
        super().__init__()
        self.rules: RulesName = rules_name(rules)
        if render_mode is not None and render_mode not in self.metadata["render_modes"]:
            raise ValueError(f"render_mode must be None or 'human', not {render_mode!r}")
        self.render_mode = render_mode
        self.max_plies = max_plies
        # One slot of the batched environment, on the calling thread: it writes observations and
        # masks straight into new arrays at every step and truncates at max_plies itself.
        self.game = VectorOrtolan(
            1,
            threads=1,
            dtype=np.int32,
            autoreset_mode="disabled",
            max_plies=max_plies,
            rules=self.rules,
        )
        self.possible_agents = ["player_0", "player_1"]
        # The batched environment's bounds, channels last.
        low = self.game.observation_low.transpose(1, 2, 0).copy()
        high = self.game.observation_high.transpose(1, 2, 0).copy()
        observation_space = gymnasium.spaces.Dict(
            {
                "observation": gymnasium.spaces.Box(low=low, high=high, dtype=np.int32),
                "action_mask": gymnasium.spaces.Box(0, 1, shape=(ACTIONS,), dtype=np.int8),
            }
        )
        self.observation_spaces = dict.fromkeys(self.possible_agents, observation_space)
        self.action_spaces = {
            agent: gymnasium.spaces.Discrete(ACTIONS) for agent in self.possible_agents
        }
        self._planes = np.zeros(_core.OBSERVATION_SHAPE, dtype=np.int32)
        self._mask = np.zeros(ACTIONS, dtype=np.int8)
        self._side = 0

    def observation_space(self, agent: str) -> gymnasium.spaces.Dict:
        return self.observation_spaces[agent]

    def action_space(self, agent: str) -> gymnasium.spaces.Discrete:
        return self.action_spaces[agent]

    def reset(self, seed: int | None = None, options: dict[str, typing.Any] | None = None) -> None:
        # The game itself has no randomness; a seed makes the action spaces' sampling repeatable.
        if seed is not None:
            for offset, agent in enumerate(self.possible_agents):
                self.action_spaces[agent].seed(seed + offset)
        observation, info = self.game.reset()
        side = int(info["to_play"][0])
        self._record(side, observation)
        self.agents = self.possible_agents[:]
        self.rewards = dict.fromkeys(self.agents, 0)
        self._cumulative_rewards = dict.fromkeys(self.agents, 0)
        self.terminations = dict.fromkeys(self.agents, False)
        self.truncations = dict.fromkeys(self.agents, False)
        self.infos: dict[str, dict[str, typing.Any]] = {agent: {} for agent in self.agents}
        self.agent_selection = self.agents[side]
        if self.render_mode == "human":
            self.render()

    def _record(self, side: int, observation: dict[str, np.ndarray]) -> None:
        self._side = side
        self._planes = observation["observation"][0]
        self._mask = observation["action_mask"][0].view(np.int8)

    def observe(self, agent: str) -> dict[str, np.ndarray]:
        mover = self.possible_agents[self._side]
        over = self.terminations.get(agent, True) or self.truncations.get(agent, True)
        planes = self._planes if agent == mover else _core.other_seat(self._planes)
        mask = self._mask if agent == mover and not over else np.zeros(ACTIONS, dtype=np.int8)
        return {"observation": planes.transpose(1, 2, 0), "action_mask": mask}

    def step(self, action: typing.SupportsInt | None) -> None:
        agent = self.agent_selection
        if self.terminations[agent] or self.truncations[agent]:
            self._was_dead_step(action)
            return
        if action is None:
            raise TypeError("the agent to move plays an action, not None")
        # An illegal action raises ValueError("Invalid action") and changes nothing.
        chosen = int(action)
        if not (0 <= chosen < ACTIONS and self._mask[chosen]):
            raise ValueError("Invalid action")
        observation, rewards, terminated, truncated, info = self.game.step([chosen])
        side = int(info["to_play"][0])
        self._record(side, observation)
        self._cumulative_rewards[agent] = 0
        reward = int(rewards[0])
        self.rewards = {"player_0": reward, "player_1": -reward}
        if terminated[0]:
            self.terminations = dict.fromkeys(self.agents, True)
        elif truncated[0]:
            self.truncations = dict.fromkeys(self.agents, True)
        self.agent_selection = self.possible_agents[side]
        self._accumulate_rewards()
        if self.render_mode == "human":
            self.render()

    def render(self) -> None:
        if self.render_mode is None:
            gymnasium.logger.warn("render() called without a render_mode; nothing is drawn")
            return
        board = ortolan.Ortolan()
        saved = self.game.save_state(0)
        board.restore_state(getattr(saved, "state", saved))
        board.render()

    def close(self) -> None:
        pass


def raw_env(
    render_mode: str | None = None, max_plies: int | None = None, rules: RulesName = "standard"
) -> OrtolanChessEnv:
    return OrtolanChessEnv(render_mode=render_mode, max_plies=max_plies, rules=rules)


def env(
    render_mode: str | None = None, max_plies: int | None = None, rules: RulesName = "standard"
) -> AECEnv:
    """The environment behind PettingZoo's usual checks: actions in range, calls in order."""
    wrapped = wrappers.AssertOutOfBoundsWrapper(raw_env(render_mode, max_plies, rules))
    return wrappers.OrderEnforcingWrapper(wrapped)
