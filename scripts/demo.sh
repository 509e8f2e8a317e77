#!/usr/bin/env bash
# Builds the Linux program, installs the bundled sample mission into a copy of the sample game
# folder, deinstalls it again and shows that the game folder is back as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

cmake --preset linux >/dev/null
cmake --build --preset linux --target Brennick

work=$(mktemp -d "${TMPDIR:-/tmp}/brennick-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
game="$work/game"
cp -a sample/game "$game"
cp build/linux/Brennick "$game/Brennick"

run() {
    echo "\$ ./Brennick $*"
    set +e
    (cd "$game" && ./Brennick "$@")
    local code=$?
    set -e
    echo "(exit code $code)"
    echo
}

run "$root/sample/mission.zip" -a
echo "Game folder after the install:"
(cd "$game" && find . -print | LC_ALL=C sort)
echo
echo "State file:"
cat "$game/Brennick.Ini"
echo

run -d -a
echo "Game folder after the deinstall:"
(cd "$game" && find . -print | LC_ALL=C sort)
echo
echo "\$ diff -r sample/game <game folder>   (the program and its own files left aside)"
if diff -r -x Brennick -x Brennick.Ini -x Brennick.Zip -x Brennick.Taff sample/game "$game"; then
    echo "No differences: the game folder is back as it was."
else
    echo "The game folder differs from the sample game folder." >&2
    exit 1
fi
