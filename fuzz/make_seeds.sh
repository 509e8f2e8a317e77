#!/usr/bin/env bash
# Makes fuzzing seeds: small archives written by Info-ZIP zip, Python's zipfile and the engine
# itself, and state files written by an install and a deinstall of the bundled sample.
# Usage: fuzz/make_seeds.sh <out folder> <make_seeds program> <Brennick program>
set -euo pipefail
out=$(realpath -m "$1")
make_seeds=$(realpath "$2")
program=$(realpath "$3")
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out/archives" "$out/profiles"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A little mission-like tree: text, repetitive data, noise, an empty file and an empty folder.
src="$work/src"
mkdir -p "$src/books" "$src/intrface/miss20" "$src/snd" "$src/empty"
python3 - "$src" <<'EOF'
import os, random, sys
src = sys.argv[1]
random.seed(7)
open(os.path.join(src, "books", "note.str"), "w").write("door guard torch key loot " * 30)
open(os.path.join(src, "intrface", "miss20", "goals.str"), "w").write('goal_text_0: "Steal it"\n' * 8)
open(os.path.join(src, "snd", "ambient.wav"), "wb").write(bytes(random.randrange(256) for _ in range(800)))
open(os.path.join(src, "zero.bin"), "wb").write(bytes(600))
open(os.path.join(src, "empty.txt"), "wb").close()
EOF

if command -v zip >/dev/null; then
    (
        cd "$src"
        zip -q -r -0 "$out/archives/zip-stored.zip" .
        zip -q -r -9 "$out/archives/zip-deflated.zip" .
        zip -q -r -P secret "$out/archives/zip-encrypted.zip" .
        zip -q -r -D -z "$out/archives/zip-comment-nofolders.zip" . <<<"a comment"
        # Written to a pipe, zip cannot seek back, so every entry has a data descriptor.
        zip -q -r - . | cat >"$out/archives/zip-streamed.zip"
        zip -q -r -P secret - books | cat >"$out/archives/zip-streamed-encrypted.zip"
        zip -q -r -fz "$out/archives/zip-zip64.zip" books
    )
else
    echo "make_seeds: zip not found; no zip-made seeds" >&2
fi

python3 - "$src" "$out/archives" <<'EOF'
import io, os, sys, zipfile
src, out = sys.argv[1], sys.argv[2]
files = []
for folder, _, names in os.walk(src):
    for name in names:
        path = os.path.join(folder, name)
        files.append((path, os.path.relpath(path, src)))
def write(name, **options):
    with zipfile.ZipFile(os.path.join(out, name), "w", **options) as z:
        z.writestr("books/", b"")
        for path, arcname in files:
            z.write(path, arcname)
write("python-stored.zip", compression=zipfile.ZIP_STORED)
write("python-deflated.zip", compression=zipfile.ZIP_DEFLATED, compresslevel=9)
write("python-bzip2.zip", compression=zipfile.ZIP_BZIP2)
write("python-lzma.zip", compression=zipfile.ZIP_LZMA)
# Forced ZIP64 records on every entry.
with zipfile.ZipFile(os.path.join(out, "python-zip64.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for path, arcname in files:
        with open(path, "rb") as source, z.open(arcname, "w", force_zip64=True) as target:
            target.write(source.read())
# An unseekable target: every entry gets a data descriptor.
class Unseekable(io.RawIOBase):
    def __init__(self): self.data = bytearray()
    def writable(self): return True
    def write(self, b): self.data += b; return len(b)
stream = Unseekable()
with zipfile.ZipFile(stream, "w", zipfile.ZIP_DEFLATED) as z:
    for path, arcname in files:
        z.write(path, arcname)
    z.comment = b"streamed"
open(os.path.join(out, "python-streamed.zip"), "wb").write(stream.data)
EOF

"$make_seeds" "$out/archives"

# State files as an install and a deinstall leave them, plus the engine's backup archive.
game="$work/game"
cp -a "$root/sample/game" "$game"
cp "$program" "$game/Brennick"
(cd "$game" && ./Brennick "$root/sample/mission.zip" >/dev/null) || true
cp "$game/Brennick.Ini" "$out/profiles/installed.ini" 2>/dev/null || true
cp "$game/Brennick.Zip" "$out/archives/engine-backup.zip" 2>/dev/null || true
(cd "$game" && ./Brennick -d >/dev/null) || true
cp "$game/Brennick.Ini" "$out/profiles/deinstalled.ini" 2>/dev/null || true
printf '[Mission]\r\nInstalled=1\r\nFCount=2\r\nF1=books\\a.txt:1\r\nF2=dark.cfg:0\r\n[Other]\r\nkey = value ; note\r\n' \
    >"$out/profiles/handmade.ini"

echo "make_seeds: $(ls "$out/archives" | wc -l) archives, $(ls "$out/profiles" | wc -l) state files in $out"
