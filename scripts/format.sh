#!/usr/bin/env bash
# Formats every tracked C++ source and header with clang-format and the repository's
# .clang-format. With --check, changes nothing and fails, naming the files, when any file is not
# formatted (CI runs this).
# Usage: scripts/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format="${CLANG_FORMAT:-clang-format}"
[ $# -eq 0 ] || [ "$1" = --check ] || { echo "usage: scripts/format.sh [--check]" >&2; exit 2; }

mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
[ ${#files[@]} -gt 0 ] || exit 0
if [ $# -eq 0 ]; then
    "$clang_format" -i "${files[@]}"
    exit 0
fi
report=$("$clang_format" --dry-run -Werror "${files[@]}" 2>&1) && {
    echo "All ${#files[@]} files are formatted."
    exit 0
}
# clang-format reports every place that differs; one line per file is enough to act on.
unformatted=$(grep -- '-Wclang-format-violations' <<<"$report" | cut -d: -f1 | sort -u || true)
if [ -z "$unformatted" ]; then
    echo "$report" >&2  # clang-format itself failed
    exit 1
fi
sed 's/^/not formatted: /' <<<"$unformatted"
echo "$(wc -l <<<"$unformatted") of ${#files[@]} files are not formatted; scripts/format.sh formats them."
exit 1
