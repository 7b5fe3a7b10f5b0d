# Shared helpers for the scripts in this directory; sourced, not run.
# shellcheck shell=bash

ORTOLAN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ORTOLAN_VENV="$ORTOLAN_ROOT/.venv"
ORTOLAN_MIN_CMAKE="3.25"

log() { printf '==> %s\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# version_ge A B: true when dotted version A >= B.
version_ge() {
    [[ "$(printf '%s\n%s\n' "$2" "$1" | sort -V | head -n1)" == "$2" ]]
}

# cmake_ok PATH: true when PATH runs and is at least ORTOLAN_MIN_CMAKE.
cmake_ok() {
    local exe="$1" ver
    [[ -n "$exe" && -x "$exe" ]] || return 1
    ver="$("$exe" --version 2>/dev/null | sed -n 's/^cmake version \([0-9][0-9.]*\).*/\1/p')" || return 1
    [[ -n "$ver" ]] && version_ge "$ver" "$ORTOLAN_MIN_CMAKE"
}

# A cmake outside the venv that is new enough, or nothing. A pyenv shim on
# PATH may exist but fail for the active pyenv version, so each candidate is
# actually run.
find_system_cmake() {
    local cand
    for cand in "$(command -v cmake 2>/dev/null || true)" /usr/bin/cmake /usr/local/bin/cmake; do
        [[ "$cand" == "$ORTOLAN_VENV"/* ]] && continue
        if cmake_ok "$cand"; then
            printf '%s\n' "$cand"
            return 0
        fi
    done
    return 1
}

# The cmake the build uses: the venv's if setup installed one, else the system's.
find_cmake() {
    if cmake_ok "$ORTOLAN_VENV/bin/cmake"; then
        printf '%s\n' "$ORTOLAN_VENV/bin/cmake"
    else
        find_system_cmake || die "no cmake >= $ORTOLAN_MIN_CMAKE found (run scripts/setup)"
    fi
}

find_ninja() {
    if [[ -x "$ORTOLAN_VENV/bin/ninja" ]]; then
        printf '%s\n' "$ORTOLAN_VENV/bin/ninja"
    elif command -v ninja >/dev/null 2>&1 && ninja --version >/dev/null 2>&1; then
        command -v ninja
    else
        die "ninja not found (run scripts/setup)"
    fi
}
