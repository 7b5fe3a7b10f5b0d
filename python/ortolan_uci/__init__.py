"""A UCI engine over ``ortolan_vector.Search``: ``ortolan-uci`` or ``python -m ortolan_uci``.

It speaks the Universal Chess Interface on standard input and output, so a chess GUI, a match
runner (``ortolan-match``) or python-chess's ``chess.engine`` can play against the search with
any evaluator: random playouts (``rollout``), a Python callable (``package.module:function``)
or an ONNX network file.
"""

from ortolan_uci._engine import Engine, centipawns, main, move_budget

__all__ = ["Engine", "centipawns", "main", "move_budget"]
