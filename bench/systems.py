"""The systems ortolan is measured beside, each imported on first use.

A system that cannot be imported is remembered with the reason and reported as unavailable;
every peer is optional. A workload of a new peer adds its loader to LOADERS.
"""

from __future__ import annotations

import importlib
import pkgutil
import re
from collections.abc import Callable

from .common import Unavailable, reason, version_of


def load_ortolan():
    import ortolan

    return ortolan, version_of("ortolan")


def load_ortolan_pettingzoo():
    import ortolan_pettingzoo

    return ortolan_pettingzoo, version_of("ortolan")


def load_ortolan_vector():
    import ortolan_vector

    return ortolan_vector, version_of("ortolan")


def load_chess():
    import chess

    return chess, version_of("chess")


def load_pettingzoo():
    """PettingZoo's chess environment: the newest pettingzoo.classic.chess_vN."""
    import pettingzoo.classic

    names = [
        m.name
        for m in pkgutil.iter_modules(pettingzoo.classic.__path__)
        if re.fullmatch(r"chess_v\d+", m.name)
    ]
    if not names:
        raise Unavailable("pettingzoo.classic has no chess_vN environment")
    name = max(names, key=lambda n: int(n.removeprefix("chess_v")))
    module = importlib.import_module(f"pettingzoo.classic.{name}")
    return module, f"{version_of('pettingzoo')} ({name})"


def load_openspiel():
    import pyspiel

    return pyspiel.load_game("chess"), version_of("open_spiel")


def load_envpool():
    import envpool

    return envpool, version_of("envpool")


def load_pgx():
    """Pgx under JAX, on the CPU: the modules the batched loop needs, in a namespace."""
    from types import SimpleNamespace

    import jax
    import pgx
    from pgx.experimental import auto_reset

    versions = f"{version_of('pgx')} (JAX {version_of('jax')})"
    return SimpleNamespace(jax=jax, pgx=pgx, auto_reset=auto_reset), versions


def load_mctx():
    """mctx's search over Pgx's chess, under JAX: the three modules in a namespace."""
    from types import SimpleNamespace

    import jax
    import mctx
    import pgx

    versions = f"{version_of('mctx')} (Pgx {version_of('pgx')}, JAX {version_of('jax')})"
    return SimpleNamespace(jax=jax, mctx=mctx, pgx=pgx), versions


# name -> loader returning (the module or object the workloads use, its version text).
LOADERS: dict[str, Callable[[], tuple[object, str]]] = {
    "ortolan": load_ortolan,
    "ortolan_pettingzoo": load_ortolan_pettingzoo,
    "ortolan_vector": load_ortolan_vector,
    "python-chess": load_chess,
    "PettingZoo": load_pettingzoo,
    "OpenSpiel": load_openspiel,
    "EnvPool": load_envpool,
    "Pgx": load_pgx,
    "mctx": load_mctx,
}


class Systems:
    """Imports each system once, when a workload first asks for it."""

    def __init__(self) -> None:
        self.modules: dict[str, object] = {}
        self.missing: dict[str, str] = {}
        self.versions: dict[str, str] = {}

    def get(self, name: str):
        """The system's module; raises Unavailable with the reason it cannot be loaded."""
        if name not in self.modules and name not in self.missing:
            try:
                self.modules[name], self.versions[name] = LOADERS[name]()
            except Exception as exc:
                self.missing[name] = reason(exc)
        if name in self.missing:
            raise Unavailable(self.missing[name])
        return self.modules[name]

    def label(self, name: str) -> str:
        """The name with its version, as the tables show it."""
        return f"{name} {self.versions.get(name, '')}".strip()

    def summary(self) -> list[str]:
        """One entry per system asked for: its version or why it is unavailable."""
        out = [f"{n}: {v}" for n, v in self.versions.items()]
        out += [f"{n}: unavailable ({why})" for n, why in self.missing.items()]
        return out
