#!/usr/bin/env python3
"""Kills the program at random instants of an install or a deinstall and checks that a later
deinstall gives the game folder back byte for byte.

Each run works on a fresh copy of a generated game folder: the program is started on a mission
of a few thousand files (some replacing game files), killed with SIGKILL at a random instant,
and then run with -d (a deinstall that is itself killed is followed by another -d). The state
file must parse after every kill, and the game's files must equal their state before the install.
"""
import argparse
import configparser
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

COMPANIONS = (".ini", ".zip", ".taff")


def make_bytes(rng, size):
    kind = rng.randrange(3)
    if kind == 0:  # text-like
        words = [b"garrett", b"hammer", b"keeper", b"loot", b"guard", b"torch", b"water", b"arrow"]
        out = bytearray()
        while len(out) < size:
            out += rng.choice(words) + b" "
        return bytes(out[:size])
    if kind == 1:  # structured binary
        return bytes((i * 7 + (i >> 5)) & 0xFF for i in range(size))
    return rng.randbytes(size)  # incompressible


def build_game(root, rng, files):
    names = []
    for i in range(files):
        folder = ["strings", "books", "obj", "mesh", "snd", "intrface"][i % 6]
        name = os.path.join(folder, "sub%d" % (i % 5), "game%04d.dat" % i)
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(make_bytes(rng, rng.randrange(0, 6000)))
        names.append(name)
    return names


def build_mission(path, rng, game_names, files):
    replaced = rng.sample(game_names, max(1, files // 10))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("newstuff/", b"")
        for name in replaced:
            z.writestr(name.replace(os.sep, "/"), make_bytes(rng, rng.randrange(0, 6000)))
        for i in range(files - len(replaced)):
            z.writestr("newstuff/m%d/file%05d.bin" % (i % 7, i), make_bytes(rng, rng.randrange(0, 6000)))


def snapshot(root, program_name):
    state = {}
    base = os.path.splitext(program_name)[0].lower()
    for folder, _, files in os.walk(root):
        for f in files:
            rel = os.path.relpath(os.path.join(folder, f), root)
            low = rel.lower()
            if low == program_name.lower() or (
                os.path.splitext(low)[0] == base and os.path.splitext(low)[1] in COMPANIONS):
                continue
            with open(os.path.join(folder, f), "rb") as fh:
                state[rel] = hashlib.sha256(fh.read()).hexdigest()
    return state


def state_file_parses(game, program_name):
    ini = os.path.join(game, os.path.splitext(program_name)[0] + ".Ini")
    if not os.path.exists(ini):
        return True
    parser = configparser.ConfigParser(strict=True, interpolation=None)
    try:
        parser.read(ini, encoding="latin-1")
    except configparser.Error as e:
        print("state file does not parse:", e)
        return False
    return True


def run(program, game, args, kill_after=None):
    proc = subprocess.Popen([os.path.join(game, os.path.basename(program))] + args, cwd=game,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    if kill_after is None:
        return proc.wait(timeout=600)
    time.sleep(kill_after)
    proc.send_signal(signal.SIGKILL)
    return proc.wait(timeout=600)


def one_run(program, template, mission, before, duration, mode, rng, work):
    game = os.path.join(work, "game")
    shutil.rmtree(game, ignore_errors=True)
    shutil.copytree(template, game, symlinks=True)
    program_name = os.path.basename(program)
    instant = rng.uniform(0, duration)
    if mode == "install":
        run(program, game, [mission, "-a"], kill_after=instant)
    else:
        if run(program, game, [mission, "-a"]) != 3:
            print("install before the killed deinstall failed")
            return False
        run(program, game, ["-d", "-a"], kill_after=instant)
    if not state_file_parses(game, program_name):
        return False
    run(program, game, ["-d", "-a"])
    if not state_file_parses(game, program_name):
        return False
    after = snapshot(game, program_name)
    if after != before:
        lost = sorted(k for k in before if k not in after)
        changed = sorted(k for k in before if k in after and after[k] != before[k])
        extra = sorted(k for k in after if k not in before)
        print("%s killed at %.3f s: %d lost, %d changed, %d left behind (e.g. %s)" % (
            mode, instant, len(lost), len(changed), len(extra), (lost + changed + extra)[:3]))
        return False
    return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--runs", type=int, default=20)
    ap.add_argument("--files", type=int, default=2000)
    ap.add_argument("--seed", type=int, default=1)
    opts = ap.parse_args()
    rng = random.Random(opts.seed)
    work = tempfile.mkdtemp(prefix="brennick-kill-")
    try:
        template = os.path.join(work, "template")
        os.makedirs(template)
        game_names = build_game(template, rng, 600)
        shutil.copy2(opts.program, template)
        mission = os.path.join(work, "mission.zip")
        build_mission(mission, rng, game_names, opts.files)
        before = snapshot(template, os.path.basename(opts.program))

        # Time one whole install and deinstall to choose the kill instants within them.
        game = os.path.join(work, "game")
        shutil.copytree(template, game, symlinks=True)
        start = time.monotonic()
        code = run(opts.program, game, [mission, "-a"])
        install_time = time.monotonic() - start
        start = time.monotonic()
        code_d = run(opts.program, game, ["-d", "-a"])
        deinstall_time = time.monotonic() - start
        if code != 3 or code_d != 1 or snapshot(game, os.path.basename(opts.program)) != before:
            print("a whole install and deinstall did not round-trip (exit %d, %d)" % (code, code_d))
            return 1
        print("install %.2f s, deinstall %.2f s for %d files" % (install_time, deinstall_time, opts.files))

        restored = 0
        total = 0
        for mode, duration in (("install", install_time), ("deinstall", deinstall_time)):
            for _ in range(opts.runs):
                total += 1
                if one_run(opts.program, template, mission, before, duration * 1.1, mode, rng, work):
                    restored += 1
        print("%d of %d restored" % (restored, total))
        return 0 if restored == total else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
