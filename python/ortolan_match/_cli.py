"""The command line of ortolan-match."""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence

from ortolan_match import _runner, _stats


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog="ortolan-match",
        description="Plays UCI engine A against engine B in game pairs with colours swapped "
        "and reports W/D/L, the Elo difference with its 95 %% interval (from the pairs' "
        "pentanomial counts) and the likelihood of superiority.",
    )
    p.add_argument(
        "--engine",
        action="append",
        nargs="+",
        metavar="WORD",
        default=[],
        help="COMMAND [option.Name=value ...] [name=NAME]; given twice (A, then B), or once "
        "with --anchor. COMMAND ortolan-uci runs this interpreter's engine.",
    )
    p.add_argument("--anchor", choices=["stockfish"], help="B is Stockfish at --elo levels")
    p.add_argument(
        "--elo", type=int, nargs="+", default=[1350], help="UCI_Elo levels of the anchor"
    )
    p.add_argument("--games", type=int, default=2, help="games a match (rounded up to pairs)")
    p.add_argument("--concurrency", type=int, default=1, help="games played at once")
    limits = p.add_mutually_exclusive_group(required=True)
    limits.add_argument("--nodes", type=int, help="nodes a move")
    limits.add_argument("--movetime", type=int, help="milliseconds a move")
    limits.add_argument("--tc", help="clock: seconds+increment, e.g. 10+0.1")
    p.add_argument("--openings", help="EPD/FEN file (a position a line) or PGN file")
    p.add_argument("--plies", type=int, default=8, help="plies of each PGN game to open with")
    p.add_argument(
        "--random-plies",
        type=int,
        default=4,
        help="without --openings: openings of this many random plies",
    )
    p.add_argument("--seed", type=int, default=1, help="seed of the random openings")
    p.add_argument("--pgn", help="PGN file the games are appended to, one by one")
    p.add_argument("--draw-after", type=int, help="adjudicate a draw after this many plies")
    p.add_argument(
        "--resign",
        type=int,
        nargs=2,
        metavar=("CP", "MOVES"),
        help="adjudicate a loss when both engines report a side lost by CP centipawns for "
        "MOVES moves each",
    )
    p.add_argument(
        "--sprt", nargs="+", metavar="KEY=VALUE", help="elo0=0 elo1=10 alpha=0.05 beta=0.05"
    )
    p.add_argument(
        "--margin",
        type=float,
        default=2.0,
        help="seconds past its time after which a silent engine loses (default 2)",
    )
    p.add_argument(
        "--time-margin",
        type=float,
        default=0.0,
        help="seconds a clock may fall below zero before the engine loses on time",
    )
    p.add_argument("--quiet", action="store_true", help="no progress line after each pair")
    return p


def main(argv: Sequence[str] | None = None) -> int:
    p = parser()
    args = p.parse_args(argv)
    try:
        specs = [_runner.EngineSpec.parse(words) for words in args.engine]
        if args.anchor:
            if len(specs) != 1:
                p.error("--anchor takes one --engine")
            anchor = _runner.anchor_specs(args.elo)
            opponents = [(level, anchor(level)) for level in args.elo]
        else:
            if len(specs) != 2:
                p.error("give --engine twice (A and B), or once with --anchor")
            opponents = [(None, specs[1])]
        if args.nodes is not None:
            control = _runner.TimeControl(nodes=args.nodes)
        elif args.movetime is not None:
            control = _runner.TimeControl(movetime=args.movetime / 1000.0)
        else:
            control = _runner.TimeControl.parse_clock(args.tc)
        pairs = (args.games + 1) // 2
        if args.openings:
            openings = _runner.read_openings(args.openings, args.plies)
        else:
            openings = _runner.random_openings(pairs, args.random_plies, args.seed)
        sprt = _stats.parse_sprt(args.sprt) if args.sprt else None
    except (ValueError, OSError) as error:
        p.error(str(error))
    adjudication = _runner.Adjudication(
        draw_after=args.draw_after,
        resign_score=args.resign[0] if args.resign else None,
        resign_moves=args.resign[1] if args.resign else 3,
    )
    for level, opponent in opponents:
        match = _runner.Match(
            specs[0],
            opponent,
            openings=openings,
            games=args.games,
            control=control,
            concurrency=args.concurrency,
            adjudication=adjudication,
            sprt=sprt,
            pgn=args.pgn,
            margin=args.margin,
            time_margin=args.time_margin,
            progress=None if args.quiet else sys.stdout,
        )
        try:
            estimate = match.run()
        except KeyboardInterrupt:
            print("interrupted: the finished games are counted", file=sys.stderr)
            estimate = _stats.estimate(match.pentanomial)
        print(match.summary())
        if level is not None:
            print(
                f"on the anchor's scale: {level + estimate.elo:.0f} "
                f"({level + estimate.low:.0f} to {level + estimate.high:.0f})"
            )
    return 0
