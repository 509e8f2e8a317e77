#!/usr/bin/env bash
# Builds the programs a player gets, into build/release: Brennick.exe for Windows (MinGW-w64,
# static) and Brennick for Linux (static: C and C++ runtimes and zlib linked in), stripped, each
# with a SHA-256 file in sha256sum's format. Fails when either program would need a library the
# player's system does not have.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
# The Windows program is the one the Windows build tests under Wine; the Linux one is a build of
# its own, as the test build links its libraries dynamically.
cmake --preset release-linux >/dev/null
cmake --build --preset release-linux -j "$jobs" --target Brennick
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target Brennick

out=build/release
rm -rf "$out"
mkdir -p "$out"
strip -o "$out/Brennick" build/release-linux/Brennick
x86_64-w64-mingw32-strip -o "$out/Brennick.exe" build/windows/Brennick.exe

status=0
linked=$(ldd "$out/Brennick" 2>&1 || true)
if ! grep -q "not a dynamic executable" <<<"$linked"; then
    echo "release.sh: build/release/Brennick is not static:" >&2
    echo "$linked" >&2
    status=1
fi
# Only DLLs every Windows has; a MinGW runtime or zlib DLL would have to lie beside the program.
dlls=$(x86_64-w64-mingw32-objdump -p "$out/Brennick.exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
for dll in $dlls; do
    case "${dll,,}" in
        kernel32.dll | user32.dll | msvcrt.dll | advapi32.dll | shell32.dll | ws2_32.dll) ;;
        *)
            echo "release.sh: build/release/Brennick.exe needs $dll" >&2
            status=1
            ;;
    esac
done
[ $status -eq 0 ] || exit $status

(cd "$out" && sha256sum Brennick >Brennick.sha256 && sha256sum Brennick.exe >Brennick.exe.sha256)
echo "== build/release"
ls -l "$out"
cat "$out"/*.sha256
echo "Brennick.exe imports:" $dlls
