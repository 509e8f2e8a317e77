#!/usr/bin/env bash
# Installs what is missing, builds both platforms and runs every test: the Linux build natively
# (unit, end-to-end, interoperability, corpus, kill harness, benchmark smoke run), the Windows
# build under Wine, the unit, end-to-end, interoperability and corpus tests again with
# AddressSanitizer and UndefinedBehaviorSanitizer, the release programs with the end-to-end tests
# against the static Linux one, the formatting check, and each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ zlib1g-dev libgtest-dev googletest
          g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
          zip unzip 7zip python3 time clang libclang-rt-14-dev clang-format gnuplot-nox)
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
status=0
run() {  # a failing step is reported and the others still run
    echo "== $*"
    "$@" || { echo "== FAILED: $*"; status=1; }
}
for preset in linux windows sanitize; do
    run cmake --preset "$preset"
    run cmake --build --preset "$preset" -j "$jobs"
done
run ctest --preset linux
run ctest --preset windows
run ctest --preset sanitize -L '^(unit|e2e|interop|corpus)$'
run scripts/release.sh
run env BRENNICK_TEST_PROGRAM="$PWD/build/release/Brennick" ctest --preset linux -L '^e2e$'
run scripts/format.sh --check
# The name round trip here runs four times the test run's seeds; scripts/fuzz.sh alone runs 3000.
run env ROUNDTRIP_SEEDS="${ROUNDTRIP_SEEDS:-1000}" scripts/fuzz.sh "${BRENNICK_FUZZ_SECONDS:-60}"
exit $status
