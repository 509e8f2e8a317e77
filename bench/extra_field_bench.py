#!/usr/bin/env python3
"""Peak memory of an install whose mission holds large extra fields.

A mission of --entries small files, each with an extra field of 65,532 bytes in its local header
and its central record (10,000 entries make an archive of 1.3 GB), is installed with the program
copied into an empty game folder and then deinstalled; GNU time reports the peak RSS of each run.
The engine keeps no extra fields of an archive it only reads, so the install's peak stays small
whatever the extra fields add up to.

    python3 bench/extra_field_bench.py --program build/linux/Brennick --entries 10000 --limit-mib 16
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

EXTRA = struct.pack("<HH", 0xCAFE, 65528) + bytes(range(256)) * 255 + bytes(248)


def make_mission(path, entries):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for i in range(entries):
            info = zipfile.ZipInfo("maps/part%05d.txt" % i, (2020, 1, 1, 12, 0, 0))
            info.extra = EXTRA
            z.writestr(info, b"entry %d\n" % i)


def peak_rss_kib(argv, cwd):
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, cwd=cwd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return result.returncode, int(result.stderr.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--entries", type=int, default=10000)
    parser.add_argument("--limit-mib", type=float, default=16)
    args = parser.parse_args()
    assert len(EXTRA) == 65532
    work = tempfile.mkdtemp(prefix="extra_field_bench_")
    try:
        mission = os.path.join(work, "mission.zip")
        make_mission(mission, args.entries)
        game = os.path.join(work, "game")
        os.mkdir(game)
        program = os.path.join(game, os.path.basename(args.program))
        shutil.copy2(args.program, program)
        code, install = peak_rss_kib([program, mission, "-a"], game)
        print("install: exit %d, peak RSS %.1f MiB (%d entries, archive %.0f MB)"
              % (code, install / 1024, args.entries, os.path.getsize(mission) / 1e6))
        code_d, deinstall = peak_rss_kib([program, "-d", "-a"], game)
        print("deinstall: exit %d, peak RSS %.1f MiB" % (code_d, deinstall / 1024))
        ok = code == 3 and code_d == 1 and install / 1024 < args.limit_mib
        print("within %.0f MiB: %s" % (args.limit_mib, "yes" if ok else "NO"))
        return 0 if ok else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
