#!/usr/bin/env bash
# Runs a Windows program under Wine with a prefix kept beside the build, so
# tests never touch the user's own ~/.wine. KELVORIN_WINEPREFIX overrides it.
set -e
prefix=${KELVORIN_WINEPREFIX:-${WINEPREFIX:-$HOME/.cache/kelvorin-wine}}
mkdir -p "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
exec "$wine" "$@"
