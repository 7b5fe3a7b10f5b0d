"""The PettingZoo adapter: PettingZoo's own API test and how its data relates to the planes."""

import warnings

import numpy as np
import pytest
from pettingzoo.test import api_test
from support import flush_c_stdout

import ortolan
import ortolan_pettingzoo

# PettingZoo's test prefers bare arrays; a dict with an action mask is its documented form for
# games with illegal moves, which it only knows by name for its own environments.
DICT_OBSERVATION_WARNINGS = {
    "Observation space for each agent probably should be gymnasium.spaces.box or "
    "gymnasium.spaces.discrete",
    "Observation is not a NumPy array",
}

START_ACTIONS = [*range(496, 504), *range(560, 568), 56 * 64 + 57, 57 * 64 + 57]
START_ACTIONS += [56 * 64 + 62, 57 * 64 + 62]
FOOLS_MATE = [501, 524, 566, 195]  # 1. f3 e5 2. g4 Qh4#


def planes_of(observation):
    """The (8, 8, 119) observation back as 119 planes of 64 squares."""
    return observation.transpose(2, 0, 1).reshape(119, 64)


@pytest.mark.parametrize(
    "make",
    [ortolan_pettingzoo.env, lambda: ortolan_pettingzoo.raw_env(max_plies=25, rules="ortolan")],
    ids=["wrapped", "truncating"],
)
def test_passes_pettingzoo_api_test(make):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        api_test(make(), num_cycles=300)
    assert {str(w.message) for w in caught} <= DICT_OBSERVATION_WARNINGS


def test_observation_is_the_environments_planes_channels_last():
    zoo = ortolan_pettingzoo.raw_env(rules="ortolan")
    zoo.reset()
    game = ortolan.Ortolan()
    _, planes, _, _ = game.reset()
    for action in [*FOOLS_MATE[:3], 8 * 64 + 11]:  # ... 2... d5 instead of the mate
        observation = zoo.observe(zoo.agent_selection)["observation"]
        assert observation.shape == (8, 8, 119)
        assert observation.dtype == np.int32
        assert planes_of(observation).tolist() == planes
        zoo.step(action)
        _, planes, _, _ = game.step(action)
    assert zoo.agent_selection == "player_0"


def test_action_mask_is_the_flat_legality_mask_for_the_mover_only():
    zoo = ortolan_pettingzoo.raw_env(rules="ortolan")
    zoo.reset()
    mask = zoo.observe("player_0")["action_mask"]
    assert mask.shape == (4672,)
    assert mask.dtype == np.int8
    assert np.flatnonzero(mask).tolist() == sorted(START_ACTIONS)
    assert not zoo.observe("player_1")["action_mask"].any()
    zoo.step(8 * 64 + 52)  # e2-e4
    assert 524 in np.flatnonzero(zoo.observe("player_1")["action_mask"])  # e7-e5
    assert not zoo.observe("player_0")["action_mask"].any()


def test_the_agent_not_to_move_sees_the_board_from_its_own_seat():
    zoo = ortolan_pettingzoo.raw_env(rules="ortolan")
    zoo.reset()
    zoo.step(8 * 64 + 52)  # e2-e4; Black to move
    white = planes_of(zoo.observe("player_0")["observation"])
    # White's own pawns first, unrotated, as the environment draws them for White.
    assert np.flatnonzero(white[0]).tolist() == [36, 48, 49, 50, 51, 53, 54, 55]
    assert np.flatnonzero(white[6]).tolist() == list(range(8, 16))
    assert np.flatnonzero(white[5]).tolist() == [60]
    assert not white[112].any()
    # Its older slot holds the start position, also from White's seat.
    assert np.flatnonzero(white[14]).tolist() == list(range(48, 56))
    black = planes_of(zoo.observe("player_1")["observation"])
    assert black[112].all()
    assert (white[113] == black[113]).all()


def test_fools_mate_terminates_both_agents_with_opposite_rewards():
    zoo = ortolan_pettingzoo.env(rules="ortolan")
    zoo.reset()
    for action in FOOLS_MATE:
        zoo.step(action)
    assert zoo.terminations == {"player_0": True, "player_1": True}
    assert zoo.truncations == {"player_0": False, "player_1": False}
    assert zoo.rewards == {"player_0": -1, "player_1": 1}
    assert zoo.agent_selection == "player_0"
    _, reward, terminated, truncated, _ = zoo.last()
    assert (reward, terminated, truncated) == (-1, True, False)
    zoo.step(None)
    _, reward, terminated, _, _ = zoo.last()
    assert (zoo.agent_selection, reward, terminated) == ("player_1", 1, True)
    zoo.step(None)
    assert zoo.agents == []


def test_an_illegal_action_raises_and_changes_nothing():
    zoo = ortolan_pettingzoo.raw_env(rules="ortolan")
    zoo.reset()
    before = zoo.observe("player_0")
    with pytest.raises(ValueError, match=r"^Invalid action$"):
        zoo.step(0)
    after = zoo.observe("player_0")
    assert zoo.agent_selection == "player_0"
    assert np.array_equal(after["observation"], before["observation"])
    assert np.array_equal(after["action_mask"], before["action_mask"])
    assert zoo.rewards == {"player_0": 0, "player_1": 0}


def test_max_plies_truncates_a_running_game():
    zoo = ortolan_pettingzoo.raw_env(max_plies=4, rules="ortolan")
    zoo.reset()
    for action in [8 * 64 + 52, 524, 56 * 64 + 62, 60 * 64 + 1]:  # e4 e5 Nf3 Nc6
        assert not any(zoo.truncations.values())
        zoo.step(action)
    assert zoo.truncations == {"player_0": True, "player_1": True}
    assert zoo.terminations == {"player_0": False, "player_1": False}
    assert not zoo.observe("player_0")["action_mask"].any()


def test_move_counter_plane_keeps_counting_across_games_within_the_space():
    zoo = ortolan_pettingzoo.raw_env(rules="ortolan")
    space = zoo.observation_space("player_0")
    zoo.reset()
    for action in FOOLS_MATE:
        zoo.step(action)
    zoo.reset()
    observation = zoo.observe("player_0")
    assert (observation["observation"][:, :, 113] == 4).all()
    assert space.contains(observation)
    assert space["observation"].high[0, 0, 113] == 2**31 - 1
    assert space["observation"].low[0, 0, 113] == -(2**31)


def test_human_render_prints_the_board(capfd):
    zoo = ortolan_pettingzoo.raw_env(render_mode="human", rules="ortolan")
    zoo.reset()
    flush_c_stdout()
    out = capfd.readouterr().out
    # The letter board (C stdio) and the glyph board (sys.stdout) share the captured stream.
    assert "side:       white" in out
    assert "Castling:   KQkq" in out
    assert out.count("\u265a") == 1  # the black king's glyph


def test_bad_settings_are_refused():
    with pytest.raises(ValueError, match="render_mode"):
        ortolan_pettingzoo.raw_env(render_mode="rgb_array", rules="ortolan")
    with pytest.raises(ValueError, match="max_plies"):
        ortolan_pettingzoo.raw_env(max_plies=0, rules="ortolan")
