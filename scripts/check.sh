#!/usr/bin/env bash
# Installs what is missing, builds both platforms (Linux and the Windows cross build) and runs
# every test: the Linux tests natively, the Windows tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ zlib1g-dev libgtest-dev googletest
          g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
          zip unzip 7zip python3)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
for preset in linux windows; do
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done
status=0
for preset in linux windows; do
    echo "== $preset: test"
    ctest --preset "$preset" || status=1
done
exit $status
