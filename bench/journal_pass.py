#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
"""What the journal costs a whole dating pass: kronvik-cli with its journal and with --no-journal,
on fresh copies of the camera-like corpus, taking turns, medians of the runs.

    bench/journal_pass.py [-n PICTURES] [--runs N] [--work DIR] [--state DIR] [--cold]
                          [--history PASSES [--history-hours H]]

-n is 2,000 by default, the size of the camera-like corpus of bench/run.py's tables. The corpus
and its copies go to --work (default /dev/shm, memory, so the pictures' own disk
writes do not drown the journal's); the journal goes to --state (default a folder under build/,
on the repository's disk, where a user's ~/.local/state would be). Each run with the journal
starts from a journal of its own, made beforehand by a run over an empty folder: every copy holds
the same bytes under the same names, and a journal that had seen them shifted before would
look each picture up against every earlier copy, which no user's pictures do. With --cold, each
copy is written out and dropped from the page cache before its timed run (as bench/run.py's cold
mode does): put --work on a disk then, such as build/. With --history, each journal already
holds that many finished passes of as many pictures (a shift by 5 hours, or --history-hours, a
rename and a time each, written straight into its tables), as a journal in use for long does: the
oldest is pruned in each timed run. With --history-hours 2, the shift looks every picture up
among all those earlier shifts. The last row, a run over an empty folder, is the part of the journal's cost
that comes with every run, whatever its size. Not a test.
"""
import argparse
import os
import random
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)
sys.dont_write_bytecode = True  # no cache folders in the source tree

from run import evict  # noqa: E402


def timed_run(cli, args, tree, state):
    env = dict(os.environ, TZ="UTC", XDG_STATE_HOME=state)
    start = time.perf_counter()
    done = subprocess.run([cli, "-q", *args, tree], env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode not in (0, 1):
        sys.exit(f"kronvik-cli {' '.join(args)} failed ({done.returncode}): {done.stderr.decode()}")
    return elapsed


def shift_pair_key(offset, size, pair):
    """The key under which the journal lists a shift (ShiftPairKey in engine/shift_keys.cpp)."""
    mask = (1 << 64) - 1
    key = 0xcbf29ce484222325
    for byte in pair + offset.to_bytes(8, "little") + size.to_bytes(8, "little"):
        key = ((key ^ byte) * 0x100000001b3) & mask
    key = ((key ^ (key >> 30)) * 0xbf58476d1ce4e5b9) & mask
    key = ((key ^ (key >> 27)) * 0x94d049bb133111eb) & mask
    return key ^ (key >> 31)


def fill_history(journal, passes, pictures, hours):
    """Finished passes with random date pairs, as earlier runs of the same size leave them."""
    random.seed(1)
    database = sqlite3.connect(journal)
    for number in range(passes):
        cursor = database.execute(
            "INSERT INTO passes(started, ended, front_end, sources, time_adjust, recurse, outcome,"
            " process, process_stamp) VALUES(?, ?, 'cli', ?, ?, 1, 'finished', 1, 'bench')",
            (1600000000 + number, 1600000001 + number, b"/home/user/Pictures", hours))
        pass_id = cursor.lastrowid
        keys = b""
        for picture in range(pictures):
            old = b"/home/user/Pictures/100CANON/IMG_%04d.JPG" % picture
            new = b"/home/user/Pictures/100CANON/2019-04-21 %02d.%02d.%02d.JPG" % (
                picture // 3600 % 24, picture // 60 % 60, picture % 60)
            size, moment = 3000000 + picture, 1600000000000000000 + picture
            after = random.randbytes(40)
            change = [(pass_id, picture, 1, old, None, size, 1000, random.randbytes(40), after,
                       hours, moment, None),
                      (pass_id, picture, 2, old, new, size, None, None, None, None, None, None),
                      (pass_id, picture, 3, new, None, size, None, None, None, None, moment, moment)]
            shift = database.execute(
                "INSERT INTO changes(pass, picture, kind, path, new_path, size, offset,"
                " bytes_before, bytes_after, hours, time_before, time_after)"
                " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", change[0]).lastrowid
            keys += shift_pair_key(1000, size, after).to_bytes(8, "little") + shift.to_bytes(
                8, "little")
            database.executemany(
                "INSERT INTO changes(pass, picture, kind, path, new_path, size, offset,"
                " bytes_before, bytes_after, hours, time_before, time_after)"
                " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", change[1:])
        database.execute("INSERT INTO shift_keys(pass, hours, keys) VALUES(?, ?, ?)",
                         (pass_id, hours, keys))
        database.execute("INSERT INTO marks(pass, first, last, state) SELECT ?, min(id), max(id),"
                         " 1 FROM changes WHERE pass = ?", (pass_id, pass_id))
    database.commit()
    database.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    database.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-n", "--pictures", type=int, default=2000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--work", default="/dev/shm")
    parser.add_argument("--state", default=os.path.join(ROOT, "build", "journal-pass-state"))
    parser.add_argument("--history-hours", type=int, default=5,
                        help="the hours those passes shifted by (default 5: a -t 2 pass looks none"
                             " of them up; 2: it looks up every one)")
    parser.add_argument("--history", type=int, default=0,
                        help="finished passes of -n pictures each already in the journal")
    parser.add_argument("--cold", action="store_true",
                        help="drop each copy from the page cache before its timed run")
    parser.add_argument("--evict", choices=["fadvise", "drop_caches"], default="fadvise",
                        help="how a cold copy leaves the page cache (default fadvise)")
    parser.add_argument("--cli", default=os.environ.get(
        "KRONVIK_CLI", os.path.join(ROOT, "build", "release", "app", "kronvik-cli")))
    options = parser.parse_args()
    # kronvik-cli takes no relative XDG_STATE_HOME (it falls back to ~/.local/state).
    options.work = os.path.abspath(options.work)
    options.state = os.path.abspath(options.state)
    if not os.access(options.cli, os.X_OK):
        subprocess.run(["cmake", "--preset", "release"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "release", "--target", "kronvik-cli"],
                       cwd=ROOT, check=True)

    work = tempfile.mkdtemp(prefix="kronvik-journal-pass-", dir=options.work)
    try:
        corpus = os.path.join(work, "corpus")
        subprocess.run([sys.executable, os.path.join(BENCH, "camera_corpus.py"), corpus, "-n",
                        str(options.pictures)], check=True, stdout=subprocess.DEVNULL)
        # The last: what a run costs that finds no picture, the journal's share that no
        # picture's work dilutes (opening it, a pass's row and its end).
        works = {"rename + time": [], "shift +2 h first": ["-t", "2"], "an empty folder": []}
        modes = {"journal": [], "--no-journal": ["--no-journal"]}
        times = {(w, m): [] for w in works for m in modes}
        template = os.path.join(work, "journal-template")
        os.makedirs(os.path.join(work, "empty"), exist_ok=True)
        timed_run(options.cli, [], os.path.join(work, "empty"), template)
        if options.history:
            fill_history(os.path.join(template, "kronvik", "journal.sqlite3"), options.history,
                         options.pictures, options.history_hours)
        for run in range(options.runs):
            for work_name, work_args in works.items():
                order = list(modes.items())
                if run % 2:
                    order.reverse()
                for mode_name, mode_args in order:
                    tree = os.path.join(work, "copy")
                    shutil.rmtree(tree, ignore_errors=True)
                    if work_name == "an empty folder":
                        os.makedirs(tree)
                    else:
                        shutil.copytree(corpus, tree)
                    shutil.rmtree(options.state, ignore_errors=True)
                    shutil.copytree(template, options.state)
                    os.sync()  # the copy's writeback is no part of the pass
                    if options.cold:
                        how = evict(tree, options.evict)
                    times[(work_name, mode_name)].append(
                        timed_run(options.cli, mode_args + work_args, tree, options.state))
        print(f"{options.pictures} camera-like pictures of 3 MB in {options.work}"
              f"{' (cold: ' + how + ')' if options.cold else ''}, journal in "
              f"{options.state}"
              f"{f' holding {options.history} earlier passes' if options.history else ''}"
              f"{f' shifted by {options.history_hours} h' if options.history else ''}, "
              f"median of {options.runs} runs\n")
        print("| work | journal (ms) | --no-journal (ms) | journal's cost |")
        print("| --- | --- | --- | --- |")
        for work_name in works:
            on = statistics.median(times[(work_name, "journal")])
            off = statistics.median(times[(work_name, "--no-journal")])
            print(f"| {work_name} | {1000 * on:.1f} | {1000 * off:.1f} | "
                  f"{100 * (on - off) / off:+.1f}% ({1000 * (on - off):+.1f} ms) |")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
