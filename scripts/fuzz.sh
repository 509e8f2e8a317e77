#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs each for a bounded time, seeded with
# archives made by zip, Python's zipfile and the engine, state files written by the program, and
# the shared corpus of third-party archives when it is there. The target name_roundtrip runs the
# randomized name round trip of install and deinstall (the Linux end-to-end tests) for
# ROUNDTRIP_SEEDS seeds (3000) from ROUNDTRIP_FIRST_SEED (1) instead of its test-run few hundred.
# Usage: scripts/fuzz.sh [seconds] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_archive fuzz_install fuzz_profile name_roundtrip)
fuzz_targets=()
roundtrip=0
for target in "${targets[@]}"; do
    if [ "$target" = name_roundtrip ]; then roundtrip=1; else fuzz_targets+=("$target"); fi
done

status=0
if [ $roundtrip = 1 ]; then
    cmake --preset linux >/dev/null
    cmake --build --preset linux -j "$(nproc)" --target brennick_e2e_tests
    roundtrip_seeds="${ROUNDTRIP_SEEDS:-3000}"
    echo "== name_roundtrip for $roundtrip_seeds seeds"
    BRENNICK_ROUNDTRIP_SEEDS="$roundtrip_seeds" BRENNICK_ROUNDTRIP_FIRST_SEED="${ROUNDTRIP_FIRST_SEED:-1}" \
        build/linux/tests/brennick_e2e_tests --gtest_filter='NameRoundTripE2E.*' --gtest_brief=1 ||
        status=1
fi
[ ${#fuzz_targets[@]} -gt 0 ] || exit $status

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

for target in "${fuzz_targets[@]}"; do
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
