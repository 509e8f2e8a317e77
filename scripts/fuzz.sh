#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs each for a bounded time, seeded with
# archives made by zip, Python's zipfile and the engine, state files written by the program, and
# the shared corpus of third-party archives when it is there.
# Usage: scripts/fuzz.sh [seconds] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_archive fuzz_profile)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fuzz/make_seeds.sh "$work/seeds" build/fuzz/fuzz/make_seeds build/fuzz/Brennick
archive_seeds=("$work/seeds/archives" sample)
if [ -d ../shared/corpus ]; then
    archive_seeds+=(../shared/corpus)
else
    echo "fuzz: ../shared/corpus not found; seeding without the shared corpus"
fi

status=0
for target in "${targets[@]}"; do
    mkdir -p "$work/$target"
    if [ "$target" = fuzz_profile ]; then
        seeds=("$work/seeds/profiles")
    else
        seeds=("${archive_seeds[@]}")
    fi
    echo "== $target for ${seconds} s"
    if ! build/fuzz/fuzz/$target "$work/$target" "${seeds[@]}" -max_total_time="$seconds" \
        -max_len=65536 -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
        -artifact_prefix="$work/$target-" >"$work/$target.log" 2>&1; then
        status=1
        tail -n 40 "$work/$target.log"
        mkdir -p build/fuzz-crashes
        cp "$work/$target"-* build/fuzz-crashes/ 2>/dev/null || true
    fi
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb|Done [0-9]+ runs" "$work/$target.log" || true
done
exit $status
