"""The rule sets of the batched environment and the search, and the snapshots that carry one."""

from __future__ import annotations

from typing import Literal

import ortolan
from ortolan_vector import _core

RulesName = Literal["standard", "fide", "ortolan"]

# Rule set codes of the compiled core, by name.
RULES: dict[str, int] = _core.RULES


def rules_name(rules: object) -> RulesName:
    if not isinstance(rules, str) or rules not in RULES:
        raise ValueError(f"rules must be 'standard', 'fide' or 'ortolan', not {rules!r}")
    return rules  # type: ignore[return-value]


class RuledState:
    """A snapshot of a game played under ``"standard"`` or ``"fide"`` rules: ``state`` is the
    ``ortolan.State`` and ``rules`` the rule set its fields mean something under (the clock is
    the half-move clock, ``total_move_count`` the game's ply, the repetition keys count an en
    passant square only when the capture is legal). Only an environment or search of the same
    rules takes it back."""

    __slots__ = ("rules", "state")

    def __init__(self, state: ortolan.State, rules: RulesName) -> None:
        if not isinstance(state, ortolan.State):
            raise TypeError(f"state must be an ortolan.State, not {type(state).__name__}")
        self.state = state
        self.rules: RulesName = rules_name(rules)

    def __repr__(self) -> str:
        return f"RuledState(rules={self.rules!r}, state=<{self.state.total_move_count} plies>)"


def wrap(state: ortolan.State, rules: RulesName) -> ortolan.State | RuledState:
    """What a save of a game under the rules hands out: the State itself under "ortolan"."""
    return state if rules == "ortolan" else RuledState(state, rules)


def unwrap(item: object, rules: RulesName, where: str) -> ortolan.State:
    """The State inside a snapshot for a game under the rules, or ValueError (TypeError for
    something that is no snapshot) saying why it does not belong there."""
    if isinstance(item, RuledState):
        if item.rules != rules:
            raise ValueError(f"{where} was saved under {item.rules!r} rules, not {rules!r}")
        return item.state
    if isinstance(item, ortolan.State):
        if rules != "ortolan":
            raise ValueError(
                f"{where} is a bare ortolan.State, which only 'ortolan' rules take; "
                f"{rules!r} rules take the RuledState their save_state returns"
            )
        return item
    raise TypeError(f"{where} must be an ortolan.State or a RuledState, not {type(item).__name__}")


def rules_of(item: object) -> RulesName:
    return item.rules if isinstance(item, RuledState) else "ortolan"
