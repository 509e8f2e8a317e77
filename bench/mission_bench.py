#!/usr/bin/env python3
"""Mission install/deinstall benchmark: the program against zip + unzip on seeded Thief-like folders.

Run from the repository root:

    python3 bench/mission_bench.py --program build/linux/Brennick --profiles typical,large,many --runs 3
    python3 bench/mission_bench.py --program build/linux/Brennick --scale --runs 1
    python3 bench/mission_bench.py --program build/linux/Brennick --profiles typical,large,many:1 --scale --scale-runs 1
    python3 bench/mission_bench.py --program build/linux/Brennick --profiles tiny --runs 1   # smoke check

Profiles (all generated from a fixed seed, so every machine sees the same folders and archives):

    tiny      30 files, about 300 KB         (smoke check, well under a minute)
    typical   300 files, about 60 MB
    large     3,000 files, about 400 MB
    many      20,000 files of 1 to 8 KB
    --scale   installs of 1,000, 2,000, 5,000, 10,000 and 20,000 small files ("many" shape), time per file

About one mission file in ten overwrites a game file; the rest are new, some in new folders one level
below the game's own (fam/<mission>, snd/<mission>, ...). File contents mix text (strings, books),
structured binary (objects, meshes, textures) and incompressible data (sounds, movies). Missions are
deflated ZIP archives made with Python's zipfile. Generated inputs are cached under <out>/cache, so
reruns start at once.

Each timed run, in alternation (program first on even runs, tools first on odd ones):

    fresh copy of the game folder (cp -a), sync, drop the page cache, settle;
    time the install;  check the installed files against the mission;
    sync, drop the page cache, settle;
    time the deinstall; check that the game folder is byte for byte as before (files, contents, folders).

    program install:   <game>/Brennick mission.zip -a        (program copied into the game folder)
    program deinstall: <game>/Brennick -d -a
    tools install:     zip -q -@ backup.zip < overwritten-list && unzip -o -q mission.zip
    tools deinstall:   rm the added files, rmdir the added folders, unzip -o -q backup.zip

The tools are handed the list of files to save; the program finds them itself. Only the command is
timed. Dropping the page cache needs root; without it the runs go on with a note (warm-ish cache).
The ext4 root file system here is mounted with discard and creates files slowly for a while after
many were deleted, hence the sync, the cache drop and a short settle pause before each timing.

Output (default folder build/bench): runs.csv (every timed command), summary.csv (medians, ratios,
peak RSS), scale.csv (time per file), install_vs_files.png and, with --scale, scale_per_file.png
(gnuplot, bench/mission_bench.gp). Exit status 1 when any install or deinstall went wrong.
"""

import argparse
import csv
import hashlib
import json
import os
import random
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import threading
import time
import zipfile

GENERATOR_VERSION = 3
SEED = 20261208
PROGRAM_NAME = "Brennick"
# Files the program or the tools leave at the top of the game folder by design.
COMPANION_FILES = {PROGRAM_NAME, PROGRAM_NAME + ".Ini", PROGRAM_NAME + ".Zip", PROGRAM_NAME + ".Taff",
                   "tools_backup.zip"}
SCALE_SIZES = [1000, 2000, 5000, 10000, 20000]

# shape "mixed": log-normal sizes scaled to the total; shape "small": 1 to 8 KB each.
PROFILES = {
    "tiny": dict(files=30, total=300_000, shape="mixed", game_files=60, game_total=400_000),
    "typical": dict(files=300, total=60_000_000, shape="mixed", game_files=600, game_total=40_000_000),
    "large": dict(files=3000, total=400_000_000, shape="mixed", game_files=3000,
                  game_total=150_000_000),
    "many": dict(files=20000, shape="small", game_files=4000),
    # Reuse of a copy: the state file an earlier mission with longer names left, with the blank
    # line after its section header that many editors leave.
    "reused": dict(files=10000, shape="small", game_files=2000, prior_state=True),
    # Every mission file replaces a game file: 20,000 saved files to find in the backup.
    "saved": dict(files=20000, shape="small", game_files=20000, over=1.0),
}


def scale_profile(n):
    return dict(files=n, shape="small", game_files=max(n // 5, 10))


# The game's folder tree: (weight, folders, extensions). Content kind follows the extension.
CATEGORIES = [
    (8, ["strings", "strings/english"], [".str"]),
    (6, ["books", "books/english"], [".str"]),
    (5, ["intrface", "intrface/english"], [".str", ".pcx"]),
    (14, ["obj", "obj/txt16"], [".bin"]),
    (10, ["mesh", "mesh/txt16"], [".bin", ".gif"]),
    (18, ["snd", "snd/ambient", "snd/voices", "snd/sfx"], [".wav"]),
    (20, ["fam/core", "fam/city", "fam/mansion", "fam/stone"], [".pcx", ".gif"]),
    (5, ["motions"], [".mc", ".mi"]),
    (2, ["movies"], [".avi"]),
    (3, ["song"], [".snc"]),
    (2, ["pal", "bitmap"], [".pcx"]),
]
KIND_OF_EXT = {".str": "text", ".txt": "text", ".cfg": "text", ".wav": "random", ".gif": "random",
               ".avi": "random"}
GAME_TOP_FILES = ["thief.exe", "dark.cfg", "user.cfg", "install.cfg", "darkinst.cfg", "cam.cfg",
                  "lgvid.dll", "dark.gam", "strings.crf", "books.crf"]
WORDS = ("the guard keeper hammer lord bafford mansion sceptre garrett thief shadow lantern key "
         "vault gold purse lockpick rope arrow water moss fire broadhead blackjack tower city "
         "watch patrol night stone hall stair door chest candle torch servant cellar ghost "
         "of and to in on with for at by from as is was his her their a an").split()
NEW_FOLDER_BASES = ["fam", "snd", "intrface", "obj", "mesh", "books", "strings"]
MISSION_TAG = "miss20"
# Most bytes become zero, the rest small numbers or 0xFF: fields of game records.
LOW_ENTROPY = bytes(b % 8 if b < 64 else (0xFF if b < 80 else 0) for b in range(256))


# ---------------------------------------------------------------- data generation

def kind_of(path):
    return KIND_OF_EXT.get(os.path.splitext(path)[1], "struct")


def gen_text(rng, n):
    out, size, line = [], 0, 0
    while size < n:
        words = " ".join(rng.choices(WORDS, k=rng.randint(4, 14)))
        text = f'line_{line}: "{words[:1].upper()}{words[1:]}."\n'
        out.append(text)
        size += len(text)
        line += 1
    return "".join(out).encode("ascii")[:n]


def gen_struct(rng, n):
    # Records of low-entropy fields plus a little noise: compresses a few times, like game objects.
    base = rng.randbytes(24 * 48).translate(LOW_ENTROPY)
    palette = [base[48 * i:48 * i + 48] for i in range(24)]
    count = n // 64 + 1
    pieces = rng.choices(palette, k=count)
    noise = rng.randbytes(16 * count)
    head = struct.pack("<4sII", b"LGBN", n, count)
    body = b"".join(pieces[i] + noise[16 * i:16 * i + 16] for i in range(count))
    return (head + body)[:n]


def gen_content(rng, path, n):
    kind = kind_of(path)
    if kind == "text":
        return gen_text(rng, n)
    if kind == "random":
        return rng.randbytes(n)
    return gen_struct(rng, n)


def file_hash(data):
    return hashlib.blake2b(data, digest_size=16).hexdigest()


def hash_path(path):
    h = hashlib.blake2b(digest_size=16)
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                break
            h.update(block)
    return h.hexdigest()


def draw_sizes(rng, params, count, total_key):
    if params["shape"] == "small":
        return [rng.randint(1024, 8192) for _ in range(count)]
    total = params[total_key]
    weights = [rng.lognormvariate(0, 1.6) for _ in range(count)]
    scale = total / sum(weights)
    return [max(32, int(w * scale)) for w in weights]


def pick_path(rng, used, folder=None):
    """A new file name; in the given folder, with an extension that fits the folder's kind."""
    if folder:
        base = folder.split("/")[0]
        choices = [c for c in CATEGORIES if any(f.split("/")[0] == base for f in c[1])]
    else:
        choices = CATEGORIES
    weights = [c[0] for c in choices]
    while True:
        _, folders, exts = rng.choices(choices, weights=weights)[0]
        where = folder or rng.choice(folders)
        path = f"{where}/{rng.choice(WORDS)}{rng.randrange(100000):05d}{rng.choice(exts)}"
        if path not in used:
            used.add(path)
            return path


def plan_inputs(name, params):
    """Decides every path and size; content is drawn per file from its own seed."""
    rng = random.Random(f"{SEED}:{name}:plan")
    used = set(GAME_TOP_FILES)
    game_paths = list(GAME_TOP_FILES[: min(len(GAME_TOP_FILES), params["game_files"] // 6)])
    # Every game folder holds files, so the mission's new folders sit one level below the game's.
    for _, folders, _ in CATEGORIES:
        for folder in folders:
            game_paths.append(pick_path(rng, used, folder))
    while len(game_paths) < params["game_files"]:
        game_paths.append(pick_path(rng, used))
    n_files = params["files"]
    n_over = max(3, int(n_files * params["over"]) if "over" in params else n_files // 10)
    overwritten = sorted(rng.sample(game_paths, min(n_over, len(game_paths))))
    new_folders = sorted({f"{b}/{MISSION_TAG}{s}" for b in NEW_FOLDER_BASES for s in ("", "x")})
    added = [f"{MISSION_TAG}.mis", "readme.txt"]
    used.update(added)
    while len(added) + len(overwritten) < n_files:
        if rng.random() < 0.3:
            added.append(pick_path(rng, used, rng.choice(new_folders)))
        else:
            added.append(pick_path(rng, used))
    game_sizes = draw_sizes(rng, params, len(game_paths), "game_total")
    mission_paths = sorted(added + overwritten)
    mission_sizes = draw_sizes(rng, params, len(mission_paths), "total")
    return dict(game=dict(zip(game_paths, game_sizes)),
                mission=dict(zip(mission_paths, mission_sizes)),
                overwritten=overwritten, added=sorted(added))


def folders_of(paths):
    out = set()
    for p in paths:
        parts = p.split("/")[:-1]
        for i in range(1, len(parts) + 1):
            out.add("/".join(parts[:i]))
    return out


def cache_key(name, params):
    blob = json.dumps([GENERATOR_VERSION, SEED, name, params], sort_keys=True).encode()
    return f"{name}-{hashlib.sha1(blob).hexdigest()[:10]}"


def generate(cache_root, name, params):
    """Makes (or finds cached) the pristine game folder, the mission archive and their manifest."""
    root = os.path.join(cache_root, cache_key(name, params))
    manifest_path = os.path.join(root, "manifest.json")
    if os.path.exists(manifest_path):
        with open(manifest_path) as f:
            return root, json.load(f)
    if os.path.exists(root):
        shutil.rmtree(root)
    t0 = time.perf_counter()
    plan = plan_inputs(name, params)
    game_dir = os.path.join(root, "game")
    game_hashes = {}
    for path, size in plan["game"].items():
        data = gen_content(random.Random(f"{SEED}:{name}:game:{path}"), path, size)
        full = os.path.join(game_dir, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        game_hashes[path] = file_hash(data)
    mission_hashes = {}
    mission_zip = os.path.join(root, "mission.zip")
    when = (2005, 6, 15, 12, 0, 0)
    with zipfile.ZipFile(mission_zip + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=6) as zf:
        for folder in sorted(folders_of(plan["mission"])):
            info = zipfile.ZipInfo(folder + "/", when)
            info.external_attr = (0o40755 << 16) | 0x10
            zf.writestr(info, b"")
        for path, size in plan["mission"].items():
            data = gen_content(random.Random(f"{SEED}:{name}:mission:{path}"), path, size)
            info = zipfile.ZipInfo(path, when)
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            zf.writestr(info, data, compresslevel=6)
            mission_hashes[path] = file_hash(data)
    os.replace(mission_zip + ".part", mission_zip)
    game_folders = sorted(folders_of(plan["game"]))
    new_folders = sorted(folders_of(plan["mission"]) - set(game_folders))
    manifest = dict(name=name, params=params, game=game_hashes, game_folders=game_folders,
                    mission=mission_hashes, overwritten=plan["overwritten"], added=plan["added"],
                    new_folders=new_folders, files=len(mission_hashes),
                    bytes=sum(plan["mission"].values()),
                    zip_bytes=os.path.getsize(mission_zip))
    with open(os.path.join(root, "overwritten.list"), "w") as f:
        f.write("".join(p + "\n" for p in plan["overwritten"]))
    with open(os.path.join(root, "added.list"), "w") as f:
        f.write("".join(p + "\n" for p in plan["added"]))
    with open(os.path.join(root, "new_folders.list"), "w") as f:
        # Deepest first, so rmdir meets each folder after its subfolders.
        f.write("".join(p + "\n" for p in sorted(new_folders, key=lambda p: -p.count("/"))))
    with open(manifest_path + ".part", "w") as f:
        json.dump(manifest, f)
    os.replace(manifest_path + ".part", manifest_path)
    print(f"  generated {name}: {manifest['files']} mission files, {manifest['bytes'] / 1e6:.1f} MB "
          f"({manifest['zip_bytes'] / 1e6:.1f} MB zipped), game {len(game_hashes)} files, "
          f"in {time.perf_counter() - t0:.1f} s", flush=True)
    return root, manifest


# ---------------------------------------------------------------- preparing and timing

class Env:
    def __init__(self, args):
        self.settle = args.settle
        self.drop = not args.no_drop
        self.timeout = args.timeout
        self.runs_csv = os.path.join(args.out, "runs.csv")

    def quiesce(self):
        subprocess.run(["sync"], check=True)
        if self.drop:
            try:
                with open("/proc/sys/vm/drop_caches", "w") as f:
                    f.write("3\n")
            except OSError as e:
                self.drop = False
                print(f"  NOTE: cannot drop the page cache ({e.strerror}); timing with a warm "
                      f"cache from here on", flush=True)
        if self.settle > 0:
            time.sleep(self.settle)


def kill_group(pid):
    try:
        os.killpg(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def timed(argv, cwd, log_path, timeout):
    """Runs one command; returns (seconds, exit code, user s, sys s, peak RSS KiB).

    The peak RSS comes from GNU time when it is there: a child forked from this Python process
    inherits the parent's resident size into its own maximum across exec, so wait4 alone would
    report Python's size for a small program."""
    rss_path = log_path + ".rss"
    launch = [GNU_TIME, "-f", "%M", "-o", rss_path] + argv if GNU_TIME else argv
    with open(log_path, "wb") as log:
        t0 = time.perf_counter()
        proc = subprocess.Popen(launch, cwd=cwd, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT, start_new_session=True)
        killer = threading.Timer(timeout, kill_group, (proc.pid,))
        killer.start()
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        finally:
            killer.cancel()
        seconds = time.perf_counter() - t0
    code = os.waitstatus_to_exitcode(status)
    rss = usage.ru_maxrss
    if GNU_TIME:
        try:
            with open(rss_path) as f:
                rss = int(f.read().split()[-1])
        except (OSError, ValueError, IndexError):
            rss = -1
    return seconds, code, usage.ru_utime, usage.ru_stime, rss


def copy_game(root, work):
    game = os.path.join(work, "game")
    if os.path.exists(game):
        subprocess.run(["rm", "-rf", game], check=True)
    subprocess.run(["cp", "-a", os.path.join(root, "game"), game], check=True)
    return game


def walk_tree(game):
    files, folders = {}, set()
    for dirpath, dirnames, filenames in os.walk(game):
        rel_dir = os.path.relpath(dirpath, game)
        for d in dirnames:
            folders.add(d if rel_dir == "." else f"{rel_dir}/{d}")
        for fn in filenames:
            if rel_dir == "." and fn in COMPANION_FILES:
                continue
            rel = fn if rel_dir == "." else f"{rel_dir}/{fn}"
            files[rel] = os.path.join(dirpath, fn)
    return files, folders


def check_installed(game, manifest):
    problems = []
    for path, digest in manifest["mission"].items():
        full = os.path.join(game, path)
        if not os.path.isfile(full):
            problems.append(f"missing after install: {path}")
        elif hash_path(full) != digest:
            problems.append(f"wrong content after install: {path}")
    return problems


def check_restored(game, manifest):
    files, folders = walk_tree(game)
    expected = manifest["game"]
    problems = [f"left behind: {p}" for p in sorted(set(files) - set(expected))]
    problems += [f"missing: {p}" for p in sorted(set(expected) - set(files))]
    problems += [f"changed: {p}" for p in sorted(set(files) & set(expected))
                 if hash_path(files[p]) != expected[p]]
    problems += [f"folder left behind: {p}" for p in sorted(folders - set(manifest["game_folders"]))]
    problems += [f"folder missing: {p}" for p in sorted(set(manifest["game_folders"]) - folders)]
    return problems


def commands(side, root, game, program):
    mission = os.path.abspath(os.path.join(root, "mission.zip"))
    if side == "program":
        exe = os.path.join(game, PROGRAM_NAME)
        return ([exe, mission, "-a"], 3), ([exe, "-d", "-a"], 1)
    lists = {k: os.path.abspath(os.path.join(root, k + ".list"))
             for k in ("overwritten", "added", "new_folders")}
    install = ["sh", "-c", f'zip -q -@ tools_backup.zip < "{lists["overwritten"]}" && '
                           f'unzip -o -q "{mission}"']
    deinstall = ["sh", "-c", f'xargs -d "\\n" rm -f < "{lists["added"]}" && '
                             f'xargs -r -d "\\n" rmdir < "{lists["new_folders"]}" && '
                             f'unzip -o -q tools_backup.zip']
    return (install, 0), (deinstall, 0)


RUN_FIELDS = ["profile", "files", "bytes", "run", "side", "op", "seconds", "user_s", "sys_s",
              "maxrss_kib", "exit", "ok"]


def append_run(path, row):
    """Every timed command lands in runs.csv at once, so a stopped long run keeps what it measured."""
    new = not os.path.exists(path)
    with open(path, "a", newline="") as f:
        w = csv.DictWriter(f, fieldnames=RUN_FIELDS)
        if new:
            w.writeheader()
        w.writerow(row)


def write_prior_state(path, files):
    """The state file of an earlier, deinstalled mission with longer names than this one's."""
    lines = ["[Mission]", "", "Installed=0", f"FCount={files + 500}"]
    lines += [f"F{i}=earlier_mission_with_longer_names\\folder{i % 97}\\file{i:06d}.bin:{i % 2}"
              for i in range(1, files + 501)]
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n\r\n")


def run_side(env, side, name, root, manifest, work, program, run_index, failures):
    game = copy_game(root, work)
    if side == "program":
        shutil.copy2(program, os.path.join(game, PROGRAM_NAME))
        if manifest["params"].get("prior_state"):
            write_prior_state(os.path.join(game, PROGRAM_NAME + ".Ini"), manifest["files"])
    rows = []
    for op, (argv, want) in zip(("install", "deinstall"), commands(side, root, game, program)):
        env.quiesce()
        log = os.path.join(work, f"{name}-{side}-{op}.log")
        secs, code, user, system, rss = timed(argv, game, log, env.timeout)
        problems = []
        if code != want:
            problems.append(f"exit code {code}, expected {want} (output in {log})")
        if side == "program":
            with open(log, "rb") as f:
                out = f.read()
            if op == "install" and b"Mission Installed Successfuly." not in out:
                problems.append(f"no success message (output in {log})")
            if op == "deinstall" and b"Deinstalled successfuly." not in out:
                problems.append(f"no success message (output in {log})")
        problems += (check_installed if op == "install" else check_restored)(game, manifest)
        ok = not problems
        if not ok:
            failures.append(f"{name} run {run_index} {side} {op}: " + "; ".join(problems[:5]) +
                            (f" (+{len(problems) - 5} more)" if len(problems) > 5 else ""))
            print(f"  FAILED: {failures[-1]}", flush=True)
        rows.append(dict(profile=name, files=manifest["files"], bytes=manifest["bytes"],
                         run=run_index, side=side, op=op, seconds=f"{secs:.4f}",
                         user_s=f"{user:.3f}", sys_s=f"{system:.3f}", maxrss_kib=rss,
                         exit=code, ok=int(ok)))
        append_run(env.runs_csv, rows[-1])
        print(f"  {name:<12} run {run_index} {side:<7} {op:<9} {secs:8.3f} s  "
              f"(user {user:.2f} sys {system:.2f}, RSS {rss / 1024:.1f} MiB){'' if ok else '  FAIL'}",
              flush=True)
        if not ok:
            break  # a failed install leaves nothing sensible to deinstall
    return rows


def bench_profile(env, args, name, params, failures, runs):
    root, manifest = generate(os.path.join(args.out, "cache"), name, params)
    work = os.path.join(args.out, "work")
    os.makedirs(work, exist_ok=True)
    sides = ["program", "tools"] if args.program else ["tools"]
    rows = []
    for r in range(runs):
        order = sides if r % 2 == 0 else sides[::-1]
        for side in order:
            rows += run_side(env, side, name, root, manifest, work, args.program, r + 1, failures)
    subprocess.run(["rm", "-rf", os.path.join(work, "game")], check=True)
    return rows


# ---------------------------------------------------------------- reporting

def median_of(rows, profile, side, op, cpu=False):
    vals = [float(r["user_s"]) + float(r["sys_s"]) if cpu else float(r["seconds"]) for r in rows
            if r["profile"] == profile and r["side"] == side and r["op"] == op and r["ok"]]
    return statistics.median(vals) if vals else None


def summarise(rows):
    out = []
    for profile in dict.fromkeys(r["profile"] for r in rows):
        first = next(r for r in rows if r["profile"] == profile)
        for op in ("install", "deinstall"):
            prog = median_of(rows, profile, "program", op)
            tools = median_of(rows, profile, "tools", op)
            prog_cpu = median_of(rows, profile, "program", op, cpu=True)
            tools_cpu = median_of(rows, profile, "tools", op, cpu=True)
            rss = [r["maxrss_kib"] for r in rows
                   if r["profile"] == profile and r["side"] == "program" and r["op"] == op]
            n = sum(1 for r in rows if r["profile"] == profile and r["op"] == op and r["ok"])
            out.append(dict(profile=profile, files=first["files"], bytes=first["bytes"], op=op,
                            program_s=f"{prog:.4f}" if prog is not None else "",
                            tools_s=f"{tools:.4f}" if tools is not None else "",
                            ratio=f"{prog / tools:.2f}" if prog and tools else "",
                            program_ms_per_file=f"{1000 * prog / first['files']:.4f}"
                            if prog is not None else "",
                            tools_ms_per_file=f"{1000 * tools / first['files']:.4f}"
                            if tools is not None else "",
                            program_cpu_s=f"{prog_cpu:.3f}" if prog_cpu is not None else "",
                            tools_cpu_s=f"{tools_cpu:.3f}" if tools_cpu is not None else "",
                            program_peak_rss_kib=max(rss) if rss else "", good_runs=n))
    return out


def write_csv(path, rows):
    if not rows:
        return
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=list(rows[0].keys()))
        w.writeheader()
        w.writerows(rows)


def print_summary(title, summary):
    print(f"\n{title}")
    print(f"  {'profile':<12}{'files':>7}{'MB':>8}  {'op':<10}{'program s':>10}{'tools s':>10}"
          f"{'ratio':>7}{'prog ms/file':>14}{'tools ms/file':>14}{'prog CPU s':>11}{'tools CPU s':>12}"
          f"{'peak RSS MiB':>13}")
    for s in summary:
        rss = f"{s['program_peak_rss_kib'] / 1024:.1f}" if s["program_peak_rss_kib"] != "" else "-"
        print(f"  {s['profile']:<12}{s['files']:>7}{s['bytes'] / 1e6:>8.1f}  {s['op']:<10}"
              f"{s['program_s'] or '-':>10}{s['tools_s'] or '-':>10}{s['ratio'] or '-':>7}"
              f"{s['program_ms_per_file'] or '-':>14}{s['tools_ms_per_file'] or '-':>14}"
              f"{s['program_cpu_s'] or '-':>11}{s['tools_cpu_s'] or '-':>12}{rss:>13}")


def plot(out, summary, scale_summary):
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mission_bench.gp")
    if not shutil.which("gnuplot"):
        print("NOTE: gnuplot not found (Debian package gnuplot-nox); no plot written")
        return
    points = sorted((s for s in summary + scale_summary if s["op"] == "install"),
                    key=lambda s: s["files"])
    data = os.path.join(out, "install_vs_files.dat")
    with open(data, "w") as f:
        f.write("# files program_s tools_s profile\n")
        for s in points:
            f.write(f"{s['files']} {s['program_s'] or 'NaN'} {s['tools_s'] or 'NaN'} "
                    f"{s['profile']}\n")
    scale_data = os.path.join(out, "scale_per_file.dat")
    with open(scale_data, "w") as f:
        f.write("# files program_install_ms tools_install_ms program_deinstall_ms tools_deinstall_ms\n")
        by_files = {}
        for s in scale_summary:
            by_files.setdefault(s["files"], {})[s["op"]] = s
        for files in sorted(by_files):
            i, d = by_files[files].get("install", {}), by_files[files].get("deinstall", {})
            f.write(f"{files} {i.get('program_ms_per_file') or 'NaN'} "
                    f"{i.get('tools_ms_per_file') or 'NaN'} {d.get('program_ms_per_file') or 'NaN'} "
                    f"{d.get('tools_ms_per_file') or 'NaN'}\n")
    args = (f"installdat='{data}'; installpng='{os.path.join(out, 'install_vs_files.png')}'; "
            f"scaledat='{scale_data}'; scalepng='{os.path.join(out, 'scale_per_file.png')}'; "
            f"withscale={1 if scale_summary else 0}")
    result = subprocess.run(["gnuplot", "-e", args, script], capture_output=True, text=True)
    if result.returncode != 0:
        print(f"NOTE: gnuplot failed: {result.stderr.strip()}")
        return
    print(f"\nplot: {os.path.join(out, 'install_vs_files.png')}")
    if scale_summary:
        print(f"plot: {os.path.join(out, 'scale_per_file.png')}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter,
                                 epilog="\n".join(__doc__.split("\n")[1:]))
    ap.add_argument("--program", help="the built program (omit to time the standard tools only)")
    ap.add_argument("--profiles", default="",
                    help="comma list of " + ",".join(PROFILES) + "; name:N runs that one N times")
    ap.add_argument("--scale", action="store_true", help="per-file cost at 1,000 .. 20,000 files")
    ap.add_argument("--scale-sizes", default=",".join(map(str, SCALE_SIZES)))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--scale-runs", type=int, help="runs per scale size (default: --runs)")
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap.add_argument("--out", default=os.path.join(repo, "build", "bench"),
                    help="CSV, plots, cache and work folder (default: build/bench of the repository)")
    ap.add_argument("--settle", type=float, default=1.0, help="pause after sync and cache drop, s")
    ap.add_argument("--no-drop", action="store_true", help="do not drop the page cache")
    ap.add_argument("--timeout", type=float, default=3600, help="per command, seconds")
    args = ap.parse_args()

    runs_of = {}
    for item in (p for p in args.profiles.split(",") if p):
        name, _, runs = item.partition(":")
        runs_of[name] = int(runs) if runs else args.runs
    profiles = list(runs_of)
    unknown = [p for p in profiles if p not in PROFILES]
    if unknown or (not profiles and not args.scale):
        ap.error(f"choose --profiles from {','.join(PROFILES)} and/or --scale (got {unknown})")
    if args.program:
        args.program = os.path.abspath(args.program)
        if not os.access(args.program, os.X_OK):
            ap.error(f"program not found or not executable: {args.program}")
    missing = [t for t in ("zip", "unzip", "cp", "sync") if not shutil.which(t)]
    if missing:
        ap.error(f"missing tools: {' '.join(missing)}")
    args.out = os.path.abspath(args.out)
    os.makedirs(args.out, exist_ok=True)
    if os.path.exists(os.path.join(args.out, "runs.csv")):
        os.replace(os.path.join(args.out, "runs.csv"), os.path.join(args.out, "runs.previous.csv"))
    env = Env(args)
    failures, rows, scale_rows = [], [], []
    print(f"program: {args.program or '(none: tools only)'}; runs {args.runs}; out {args.out}",
          flush=True)
    for name in profiles:
        rows += bench_profile(env, args, name, PROFILES[name], failures, runs_of[name])
    if args.scale:
        for n in (int(x) for x in args.scale_sizes.split(",") if x):
            if n == PROFILES["many"]["files"]:
                # The largest scale step is the "many" profile itself; measured once, shown twice.
                many = [r for r in rows if r["profile"] == "many"]
                scale_rows += many or bench_profile(env, args, "many", PROFILES["many"], failures,
                                                    args.scale_runs or args.runs)
                continue
            scale_rows += bench_profile(env, args, f"scale-{n}", scale_profile(n), failures,
                                        args.scale_runs or args.runs)

    summary, scale_summary = summarise(rows), summarise(scale_rows)
    write_csv(os.path.join(args.out, "summary.csv"), summary)
    write_csv(os.path.join(args.out, "scale.csv"), scale_summary)
    if summary:
        print_summary("Medians (ratio = program / tools):", summary)
    if scale_summary:
        print_summary("Per-file cost (small files, 1 to 8 KB):", scale_summary)
    plot(args.out, summary, scale_summary)
    print(f"csv: {env.runs_csv}, summary.csv, scale.csv")
    if failures:
        print(f"\n*** {len(failures)} FAILURE(S) ***", file=sys.stderr)
        for f in failures:
            print(f"*** {f}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
