#!/usr/bin/env python3
"""Cost of matching names regardless of letter case: many new files installed into one folder.

Run from the repository root (Linux build):

    python3 bench/case_cache_bench.py --program build/linux/Brennick
    python3 bench/case_cache_bench.py --program build/linux/Brennick --sizes 1000,20000 --runs 3

For each size N the game folder holds strings/english/goals.str and a folder Many/ with 100 files;
the mission archive (stored entries, made with Python's zipfile) holds N new files MANY\\fNNNNN.str
and Strings\\English\\GOALS.STR. Every new file's folder is spelled in another case than on disk and
every new name is absent, so each one goes through the case-insensitive lookup in a folder that
grows to N + 100 names: the worst case for the folder listing cache.

Reported per size: install wall time (median of --runs), time per file, and the number of folder
listings the program read (directories opened, counted with strace in a separate, untimed run).
Without the cache each new file would list its folder again; the last column estimates that cost
from the measured time of one listing of the final folder (Python's os.listdir, a lower bound).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile


def make_inputs(root, n):
    game = os.path.join(root, "game")
    os.makedirs(os.path.join(game, "strings", "english"))
    with open(os.path.join(game, "strings", "english", "goals.str"), "wb") as f:
        f.write(b"the game's goals\n")
    os.makedirs(os.path.join(game, "Many"))
    for i in range(100):
        with open(os.path.join(game, "Many", "old%03d.str" % i), "wb") as f:
            f.write(b"old %d\n" % i)
    archive = os.path.join(root, "mission.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as z:
        z.writestr("Strings\\English\\GOALS.STR", b"mission goals\n")
        for i in range(n):
            z.writestr("MANY\\f%05d.str" % i, b"file %d\n" % i)
    return game, archive


def install(program, root, n, traced):
    """One install into a fresh game folder; returns (seconds, folder listings or None)."""
    work = os.path.join(root, "run")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    game, archive = make_inputs(work, n)
    exe = os.path.join(game, "Brennick")
    shutil.copy2(program, exe)
    argv = [exe, archive, "-a"]
    if traced:
        trace = os.path.join(work, "trace.txt")
        argv = ["strace", "-f", "-qq", "-e", "trace=openat", "-o", trace] + argv
    start = time.perf_counter()
    result = subprocess.run(argv, cwd=game, stdin=subprocess.DEVNULL, capture_output=True)
    seconds = time.perf_counter() - start
    if result.returncode != 3 or b"Mission Installed Successfuly." not in result.stdout:
        sys.exit("install of %d files failed:\n%s" % (n, result.stdout.decode(errors="replace")))
    names = os.listdir(os.path.join(game, "Many"))
    if len(names) != n + 100 or os.path.exists(os.path.join(game, "MANY")):
        sys.exit("install of %d files: wrong folder contents" % n)
    listings = None
    if traced:
        with open(trace) as f:
            listings = sum(1 for line in f if "O_DIRECTORY" in line and "= -1" not in line)
    listing_cost = statistics.median(
        timed_listdir(os.path.join(game, "Many")) for _ in range(5))
    return seconds, listings, listing_cost


def timed_listdir(folder):
    start = time.perf_counter()
    os.listdir(folder)
    return time.perf_counter() - start


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--program", required=True, help="the Linux build of the program")
    ap.add_argument("--sizes", default="1000,5000,20000")
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    program = os.path.abspath(args.program)
    have_strace = shutil.which("strace") is not None
    print("%8s %10s %14s %10s %22s" % ("files", "install s", "us per file", "listings",
                                       "no-cache estimate s"))
    with tempfile.TemporaryDirectory(prefix="case_cache_bench_") as root:
        for n in (int(s) for s in args.sizes.split(",")):
            times = []
            listing_cost = 0.0
            for _ in range(args.runs):
                seconds, _, listing_cost = install(program, root, n, False)
                times.append(seconds)
            listings = install(program, root, n, True)[1] if have_strace else None
            median = statistics.median(times)
            # Each new file listing a folder of on average (n / 2 + 100) names again.
            estimate = n * listing_cost * (n / 2 + 100) / (n + 100)
            print("%8d %10.3f %14.1f %10s %22.1f" %
                  (n, median, median / n * 1e6, listings if listings is not None else "-",
                   estimate))


if __name__ == "__main__":
    main()
