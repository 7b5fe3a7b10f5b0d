"""Elo from game pairs: the pentanomial counts, the Elo difference with its 95 % interval, the
likelihood of superiority and a sequential probability ratio test.

A pair is one opening played twice with colours swapped; its score for the first engine is
0, 0.5, 1, 1.5 or 2, and the five counts of those scores are the pentanomial. The pairs, not
the games, are the independent samples: the two games of a pair share an opening, so their
results correlate, and treating them as independent would misstate the interval.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

Z95 = 1.959963984540054


def elo_of(score: float) -> float:
    """The logistic Elo difference that scores ``score`` on average (infinite at 0 and 1)."""
    if score <= 0.0:
        return -math.inf
    if score >= 1.0:
        return math.inf
    return -400.0 * math.log10(1.0 / score - 1.0)


def score_of(elo: float) -> float:
    """The expected score of an Elo difference, in the logistic model."""
    return 1.0 / (1.0 + 10.0 ** (-elo / 400.0))


@dataclass(frozen=True)
class Estimate:
    pairs: int
    score: float  # mean points a game
    elo: float
    low: float  # 95 % interval
    high: float
    los: float  # likelihood of superiority, 0..1


def _moments(pentanomial: Sequence[int]) -> tuple[int, float, float]:
    """(pairs, mean, variance) of the per-game score of a pair, x / 2 for pair score x."""
    if len(pentanomial) != 5 or any(count < 0 for count in pentanomial):
        raise ValueError("a pentanomial is five counts >= 0")
    pairs = sum(pentanomial)
    if pairs == 0:
        return 0, 0.5, 0.0
    values = (0.0, 0.25, 0.5, 0.75, 1.0)
    mean = sum(c * v for c, v in zip(pentanomial, values, strict=True)) / pairs
    variance = sum(c * (v - mean) ** 2 for c, v in zip(pentanomial, values, strict=True)) / pairs
    return pairs, mean, variance


def estimate(pentanomial: Sequence[int]) -> Estimate:
    """The Elo difference of the first engine, from the counts of pairs scoring 0, 0.5, 1,
    1.5 and 2: the mean score's Elo, a 95 % interval from the normal approximation of the mean
    over pairs, and the likelihood that the first engine is the stronger."""
    pairs, mean, variance = _moments(pentanomial)
    if pairs == 0:
        return Estimate(0, 0.5, 0.0, -math.inf, math.inf, 0.5)
    error = math.sqrt(variance / pairs)
    low, high = mean - Z95 * error, mean + Z95 * error
    elo = elo_of(mean)
    if error > 0:
        los = 0.5 * (1.0 + math.erf((mean - 0.5) / (error * math.sqrt(2.0))))
    else:
        los = 1.0 if mean > 0.5 else 0.0 if mean < 0.5 else 0.5
    return Estimate(pairs, mean, elo, elo_of(low), elo_of(high), los)


@dataclass(frozen=True)
class Sprt:
    """H0: the Elo difference is elo0; H1: it is elo1 (logistic Elo). alpha and beta are the
    error rates of accepting H1 wrongly and H0 wrongly."""

    elo0: float = 0.0
    elo1: float = 10.0
    alpha: float = 0.05
    beta: float = 0.05

    @property
    def bounds(self) -> tuple[float, float]:
        """The log-likelihood ratios at which H0 (lower) and H1 (upper) are accepted."""
        return (
            math.log(self.beta / (1.0 - self.alpha)),
            math.log((1.0 - self.beta) / self.alpha),
        )

    def llr(self, pentanomial: Sequence[int]) -> float:
        """The log-likelihood ratio of H1 against H0 for the pairs so far, in the normal
        approximation of the pair means: N (s1 - s0) (2 m - s0 - s1) / (2 v) for N pairs of
        mean m and variance v, s0 and s1 the scores of elo0 and elo1."""
        pairs, mean, variance = _moments(pentanomial)
        if pairs == 0 or variance == 0.0:
            return 0.0
        s0, s1 = score_of(self.elo0), score_of(self.elo1)
        return pairs * (s1 - s0) * (2.0 * mean - s0 - s1) / (2.0 * variance)

    def decision(self, pentanomial: Sequence[int]) -> str | None:
        """ "H1" or "H0" once the test decides, None while it goes on."""
        llr = self.llr(pentanomial)
        lower, upper = self.bounds
        if llr >= upper:
            return "H1"
        if llr <= lower:
            return "H0"
        return None


def parse_sprt(words: Sequence[str]) -> Sprt:
    """``elo0=0 elo1=10 alpha=0.05 beta=0.05`` (any of them, in any order)."""
    values: dict[str, float] = {}
    for word in words:
        key, equals, text = word.partition("=")
        if not equals or key not in ("elo0", "elo1", "alpha", "beta"):
            raise ValueError(f"--sprt takes elo0=, elo1=, alpha=, beta=, not {word!r}")
        values[key] = float(text)
    test = Sprt(**values)
    if not (0 < test.alpha < 1 and 0 < test.beta < 1) or test.elo0 >= test.elo1:
        raise ValueError("--sprt needs 0 < alpha, beta < 1 and elo0 < elo1")
    return test
