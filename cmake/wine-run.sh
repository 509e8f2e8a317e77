#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, headless and quiet, in a Wine prefix of
# the build's own so that test runs never touch the user's.
set -eu
export WINEDEBUG=-all
export WINEPREFIX="${BRENNICK_WINEPREFIX:-${TMPDIR:-/tmp}/brennick-wine-$(id -u)}"
# No Mono or Gecko installer dialogs, no window system.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# The first run creates the prefix. Runs started at the same time wait for it under a lock, and
# a prefix is only taken for ready once wineboot has finished (the marker file), so an
# interrupted creation is completed (wineboot --init updates what exists) rather than half used.
ready="$WINEPREFIX/.brennick-ready"
if [ ! -f "$ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$ready" ]; then
        wineboot --init >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
        [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run.sh: cannot create $WINEPREFIX" >&2; exit 1; }
        touch "$ready"
    fi
    flock -u 9
    exec 9>&-
fi
exec wine "$@"
