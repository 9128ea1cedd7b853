#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
"""How close kronvik-cli comes to the system calls alone: kronvik-syscall-floor (the renames,
times and, with a shift, writes and flushes of a pass, with no parse, no check, no log and no
journal) against kronvik-cli with and without its journal, on fresh copies of a corpus, taking
turns, medians of the runs. The floor bounds what any tool can reach on this machine; a target
above it cannot be met.

    bench/floor.py [--small | -n PICTURES] [--runs N] [--work DIR]

Needs bench/build.sh run first. Copies go to --work (default /dev/shm). Not a test.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)
sys.dont_write_bytecode = True  # no cache folders in the source tree

from run import CameraCorpus, SmallCorpus  # noqa: E402
import small_corpus  # noqa: E402


def timed(command, env):
    start = time.perf_counter()
    child = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    error = child.stderr.read().decode()
    child.stderr.close()
    if os.waitstatus_to_exitcode(status) not in (0, 1):
        sys.exit(f"{' '.join(command)} failed: {error}")
    return wall, usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--small", action="store_true",
                        help="the small real camera pictures of ../shared/corpus/exiv2-jpeg")
    parser.add_argument("-n", type=int, default=2000, help="camera-like pictures (default 2000)")
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--work", default="/dev/shm")
    options = parser.parse_args()

    cli = os.path.join(ROOT, "build", "release", "app", "kronvik-cli")
    floor = os.path.join(ROOT, "build", "bench", "kronvik-syscall-floor")
    for program in (cli, floor):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program} is missing: run bench/build.sh first")
    if options.small:
        folder = os.path.join(ROOT, "..", "shared", "corpus", "exiv2-jpeg")
        corpus = SmallCorpus(small_corpus.candidates(folder), 26, folder)
    else:
        corpus = CameraCorpus(options.n)

    scratch = tempfile.mkdtemp(prefix="kronvik-floor-", dir=options.work)
    try:
        source, tree, state = (os.path.join(scratch, name) for name in ("source", "tree", "state"))
        corpus.make(source)
        env = dict(os.environ, TZ="UTC", XDG_STATE_HOME=state)
        os.makedirs(os.path.join(scratch, "empty"))
        timed([cli, "-q", os.path.join(scratch, "empty")], env)  # a journal that has seen a pass
        template = state + ".template"
        shutil.copytree(state, template)
        programs = {
            "floor, 1 thread": [floor],
            "floor, 2 threads": [floor, "--threads", "2"],
            "kronvik-cli": [cli, "-q"],
            "kronvik-cli --no-journal": [cli, "-q", "--no-journal"],
        }
        print(f"{corpus.label}; {options.runs} runs each, taking turns; medians")
        for work, shift in (("rename", []), ("shift +2 h", ["-t", "2"])):
            samples = {name: [] for name in programs}
            for _ in range(options.runs):
                for name, command in programs.items():
                    for path in (tree, state):
                        shutil.rmtree(path, ignore_errors=True)
                    shutil.copytree(source, tree)
                    shutil.copytree(template, state)
                    os.sync()
                    extra = (["--shift"] if shift else []) if name.startswith("floor") else shift
                    samples[name].append(timed(command + extra + [tree], env))
            count = len(corpus.pictures)
            print(f"\n{work}: {'':24} {'files/s':>9} {'wall ms':>8} {'CPU ms':>8}")
            for name, runs in samples.items():
                wall = statistics.median(run[0] for run in runs)
                cpu = statistics.median(run[1] for run in runs)
                print(f"  {name:32} {count / wall:9,.0f} {wall * 1000:8.1f} {cpu * 1000:8.1f}")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
