"""Matches between UCI engines, with Elo: ``ortolan-match`` or ``python -m ortolan_match``.

The UCI client is python-chess's ``chess.engine``; games are judged by the standard rules
(checkmate, stalemate, insufficient material, threefold repetition, the fifty-move rule).
"""

from ortolan_match._cli import main
from ortolan_match._runner import (
    Adjudication,
    EngineSpec,
    GameRecord,
    Match,
    Opening,
    TimeControl,
    judge,
    random_openings,
    read_openings,
)
from ortolan_match._stats import Estimate, Sprt, elo_of, estimate, parse_sprt, score_of

__all__ = [
    "Adjudication",
    "EngineSpec",
    "Estimate",
    "GameRecord",
    "Match",
    "Opening",
    "Sprt",
    "TimeControl",
    "elo_of",
    "estimate",
    "judge",
    "main",
    "parse_sprt",
    "random_openings",
    "read_openings",
    "score_of",
]
