"""The side-by-side benchmark: ortolan beside other chess systems, measured in one run.

Run it as ``python -m bench`` (scripts/bench installs everything first). Each workload is a
module of this package; ``--only NAME`` runs one of them.
"""
