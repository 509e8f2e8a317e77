#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, headless and quiet, in a Wine prefix of
# the build's own so that test runs never touch the user's.
set -eu
export WINEDEBUG=-all
export WINEPREFIX="${BRENNICK_WINEPREFIX:-${TMPDIR:-/tmp}/brennick-wine-$(id -u)}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ ! -d "$WINEPREFIX" ]; then
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w || true
fi
exec wine "$@"
