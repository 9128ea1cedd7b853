#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
"""The dating-pass benchmarks, in one command: kronvik-cli against jhead, exiv2 and exiftool on
the same pictures, the window's pass against kronvik-cli, the picture scan against find, and the
peak memory of a long pass. Prints Markdown tables (bench/README.md keeps the latest).

Every timed run works on a fresh copy of its corpus, made before the clock starts; runs go round
the tools in turn; every run is checked afterwards (every date a picture name with that
modification time, no picture lost), and a run that did not do the work is reported and left out
of the figures. Figures are medians of the good runs; CPU time is user + system time of the whole
process tree. All tools run with TZ=UTC and answer "skip" when they ask about a name that is
taken.

See bench/README.md for the modes and the options; --help lists them.
"""

import argparse
import calendar
import datetime
import os
import platform
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)
sys.dont_write_bytecode = True  # no cache folders in the source tree

import camera_corpus  # noqa: E402
import small_corpus  # noqa: E402

NAME_FORMAT = "%Y-%m-%d %H.%M.%S"
SHIFT_HOURS = 2
WORKS = {"rename": "rename + time", "shift": "shift +2 h, then rename + time"}
TARGET_SPEEDUP = {"rename": 2.0, "shift": 10.0}
ALL_MODES = ["tmpfs", "small", "cold", "window", "scan", "memory"]
DEFAULT_MODES = ["tmpfs", "small", "window", "scan", "memory"]
PEERS = ["jhead", "exiv2", "exiftool"]
# Longer than any tool's run takes over the largest corpus (exiftool over 10,000 pictures: about
# 4 min).
COMMAND_TIMEOUT = 1800
FULL_SIZES = dict(pictures=2000, runs=5, small_copies=26, cold_pictures=10000, cold_runs=3,
                  scan_files=100000, scan_directories=1000, memory_pictures=100000)
QUICK_SIZES = dict(pictures=200, runs=2, small_copies=3, cold_pictures=300, cold_runs=2,
                   scan_files=10000, scan_directories=100, memory_pictures=5000)


def log(text):
    print(text, file=sys.stderr, flush=True)


# --- The tools and their commands ---------------------------------------------------------------

def _each_picture(root, *command):
    # find's own walk is part of the tool's time, as kronvik-cli's scan is part of its own.
    return ["find", root, "-type", "f", "-iname", "*.jpg", "-exec", *command, "{}", "+"]


def _jhead_rename(root):
    return [_each_picture(root, "jhead", "-n" + NAME_FORMAT, "-ft")]


def _exiv2_rename(root):
    return [_each_picture(root, "exiv2", "-t", "-r", NAME_FORMAT, "rename")]


def _exiftool_rename(root):
    return [["exiftool", "-r", "-q", "-q", "-FileModifyDate<CreateDate#",
             "-FileName<${CreateDate;DateFmt('" + NAME_FORMAT + "')}%-c.%e", root]]


class Tool:
    def __init__(self, name, rename, shift, kronvik=False):
        self.name, self.kronvik = name, kronvik
        self._commands = {"rename": rename, "shift": shift}

    def commands(self, work, root):
        return self._commands[work](root)


def kronvik_tool(name, cli):
    return Tool(name, lambda root: [[cli, root]],
                lambda root: [[cli, "-t", str(SHIFT_HOURS), root]], kronvik=True)


PEER_TOOLS = {
    "jhead": Tool("jhead", _jhead_rename, lambda root: [
        _each_picture(root, "jhead", "-ta+%d:00" % SHIFT_HOURS)] + _jhead_rename(root)),
    "exiv2": Tool("exiv2", _exiv2_rename, lambda root: [
        _each_picture(root, "exiv2", "-a", str(SHIFT_HOURS), "adjust")] + _exiv2_rename(root)),
    # Without -overwrite_original exiftool would keep a second copy of every picture.
    "exiftool": Tool("exiftool", _exiftool_rename, lambda root: [
        ["exiftool", "-r", "-q", "-q", "-overwrite_original", "-AllDates+=%d" % SHIFT_HOURS,
         root]] + _exiftool_rename(root)),
}


# --- Running and timing -------------------------------------------------------------------------

class Runner:
    """Runs command lists as timed whole processes, with the benchmark's environment."""

    def __init__(self, scratch, display=None):
        self.scratch = scratch
        self.env = dict(os.environ, TZ="UTC", LC_ALL="C.UTF-8",
                        XDG_CONFIG_HOME=os.path.join(scratch, "config"),
                        XDG_STATE_HOME=os.path.join(scratch, "state"),
                        XDG_RUNTIME_DIR=os.path.join(scratch, "runtime"))
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        if display:
            self.env.update(DISPLAY=display, QT_QPA_PLATFORM="xcb")
        else:
            self.env.update(QT_QPA_PLATFORM="offscreen")
        self.env.pop("WAYLAND_DISPLAY", None)
        # What a user answers to exiv2's question about a name that is taken: skip the picture,
        # as kronvik-cli does.
        self.answers = os.path.join(scratch, "answers")
        with open(self.answers, "w") as file:
            file.write("s\n" * 200000)
        self.errors = os.path.join(scratch, "stderr.log")

    def timed(self, commands, capture=False, name=""):
        """(wall seconds, CPU seconds of the process tree, exit statuses, output of the last
        command when captured). The older tree's programs keep a journal of their own: an older
        kronvik refuses a journal that a newer one brought to a later version."""
        env = self.env
        if "(before)" in name:
            env = dict(env, XDG_STATE_HOME=os.path.join(self.scratch, "state-before"))
        statuses, output = [], ""
        # The time limit is a timer that kills the command at hand: subprocess's own timeout
        # polls the child with sleeps that double up to 50 ms, which rounded every timed process
        # up to its next look (63.5, 113.5, 163.5 ms...). Here the wait blocks, and ends with it.
        running = {}
        expired = threading.Event()

        def stop():
            expired.set()
            if "process" in running:
                running["process"].kill()

        timer = threading.Timer(COMMAND_TIMEOUT, stop)
        timer.daemon = True
        timer.start()
        with open(self.errors, "ab") as errors:
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            for argv in commands:
                if not expired.is_set():
                    with open(self.answers, "rb") as answers:
                        process = subprocess.Popen(
                            argv, stdin=answers, env=env, stderr=errors,
                            stdout=subprocess.PIPE if capture else subprocess.DEVNULL)
                        running["process"] = process
                        if expired.is_set():
                            process.kill()
                        out, _ = process.communicate()
                        del running["process"]
                if expired.is_set():
                    # A window that shows a box waits for a click no one makes; the run's
                    # check then reports the work it left undone.
                    if "timeout" not in statuses:
                        log("  %s did not end within %d s and was stopped"
                            % (os.path.basename(argv[0]), COMMAND_TIMEOUT))
                    statuses.append("timeout")
                    continue
                statuses.append(process.returncode)
                if capture:
                    output = out.decode(errors="replace")
            wall = time.perf_counter() - start
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
        timer.cancel()
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        return wall, cpu, statuses, output

    def error_tail(self, lines=3):
        try:
            with open(self.errors, "rb") as file:
                tail = file.read()[-2000:].decode(errors="replace").strip().splitlines()
            return " / ".join(tail[-lines:])
        except OSError:
            return ""


def fresh_directory(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


# --- Corpora ------------------------------------------------------------------------------------

class CameraCorpus:
    def __init__(self, count, bulk=camera_corpus.DEFAULT_BULK, seed=1):
        self.template = camera_corpus.Template(bulk, seed)
        self.pictures = camera_corpus.plan(count, seed)
        self.bytes = count * self.template.picture_size()
        shared = sum(1 for a, b in zip(self.pictures, self.pictures[1:])
                     if a.directory == b.directory and a.date == b.date)
        size = self.template.picture_size()
        self.label = "%s camera-like pictures of %s (%s share a neighbour's date)" % (
            "{:,}".format(count), "%.1f MB" % (size / 1e6) if size >= 1e6 else "%.0f KB" % (size / 1e3),
            "{:,}".format(shared))

    def make(self, root):
        fresh_directory(root)
        camera_corpus.write(root, self.pictures, self.template)


class SmallCorpus:
    def __init__(self, sources, copies, folder):
        self.entries = small_corpus.plan(sources, copies)
        self.pictures = [picture for picture, _ in self.entries]
        self.bytes = sum(len(source.data) for _, source in self.entries)
        self.label = "%s copies of %d real camera pictures from %s (%.0f KB on average), " \
            "unique dates" % (copies, len(sources), os.path.relpath(folder, ROOT),
                              self.bytes / max(1, len(self.pictures)) / 1000)

    def make(self, root):
        fresh_directory(root)
        small_corpus.write(root, self.entries)


def check(root, pictures, hours, undone=None):
    """What a run left undone: every date of the corpus (moved by `hours`) must name one picture
    whose modification time is that moment, in the directory the pictures were in, and no
    picture may be lost. Pictures sharing a date keep any name. The dates left undone are added
    to the set `undone` when one is given."""
    problems = []
    directories = {}
    for picture in pictures:
        dates = directories.setdefault(picture.directory, {})
        dates[picture.date] = dates.get(picture.date, 0) + 1
    for directory, dates in sorted(directories.items()):
        path = os.path.join(root, directory)
        try:
            names = os.listdir(path)
        except OSError as error:
            problems.append("%s: %s" % (directory, error.strerror))
            continue
        if len(names) != sum(dates.values()):
            problems.append("%s holds %d files where %d pictures were"
                            % (directory, len(names), sum(dates.values())))
        stems = {}
        for name in names:
            stem, extension = os.path.splitext(name)
            if extension.lower() in (".jpg", ".jpeg"):
                stems[stem] = name
        for date in dates:
            moment = date + datetime.timedelta(hours=hours)
            name = stems.get(moment.strftime(NAME_FORMAT))
            if name is None:
                problem = "%s: no picture named %s" % (directory, moment.strftime(NAME_FORMAT))
            else:
                modified = os.stat(os.path.join(path, name)).st_mtime
                if int(modified) == calendar.timegm(moment.timetuple()):
                    continue
                problem = "%s/%s: modified %s" % (directory, name, datetime.datetime.fromtimestamp(
                    modified, datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S"))
            problems.append(problem)
            if undone is not None:
                undone.add(date)
    return problems


def evict(root, method):
    """Writes the corpus out and drops it from the page cache; says how."""
    os.sync()
    if method == "drop_caches":
        try:
            with open("/proc/sys/vm/drop_caches", "w") as control:
                control.write("3\n")
            return "sync, then drop_caches (page cache, dentries and inodes)"
        except OSError:
            pass
    for directory, _, names in os.walk(root):
        for name in names:
            fd = os.open(os.path.join(directory, name), os.O_RDONLY)
            try:
                os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
            finally:
                os.close(fd)
    note = "sync, then posix_fadvise(POSIX_FADV_DONTNEED) on every picture (file data only)"
    return note + (" - drop_caches was refused" if method == "drop_caches" else "")


def resident_bytes(root, sample=50):
    """Bytes of the first `sample` pictures still in the page cache."""
    paths = []
    for directory, _, names in os.walk(root):
        paths += [os.path.join(directory, name) for name in sorted(names)]
        if len(paths) >= sample:
            break
    if not paths or not shutil.which("fincore"):
        return None
    done = subprocess.run(["fincore", "--bytes", "--noheadings", "--output", "RES"] + paths[:sample],
                          capture_output=True, text=True)
    return sum(int(value) for value in done.stdout.split() if value.isdigit())


# --- Rounds and tables --------------------------------------------------------------------------

class Sample:
    def __init__(self, wall, cpu, problems, statuses, extra=None):
        self.wall, self.cpu, self.problems, self.statuses = wall, cpu, problems, statuses
        self.extra = extra or {}


def round_robin(names, runs):
    """The order of each run: every name once, the first one moving on by one each run."""
    for run in range(runs):
        shift = run % len(names)
        yield run, names[shift:] + names[:shift]


def compare_tools(runner, tools, works, corpus, root, runs, cold_method=None):
    samples = {}
    notes = []
    for work in works:
        hours = SHIFT_HOURS if work == "shift" else 0
        for run, order in round_robin([tool.name for tool in tools], runs):
            for name in order:
                tool = next(t for t in tools if t.name == name)
                made = time.perf_counter()
                corpus.make(root)
                if cold_method:
                    how = evict(root, cold_method)
                    if not notes:
                        left = resident_bytes(root)
                        notes.append("- Eviction: %s%s." % (how, "" if left is None else
                                     "; after it, %d bytes of the first 50 pictures were cached"
                                     % left))
                wall, cpu, statuses, _ = runner.timed(tool.commands(work, root), name=name)
                problems = check(root, corpus.pictures, hours)
                samples.setdefault((work, name), []).append(Sample(wall, cpu, problems, statuses))
                log("  %-7s %-22s run %d/%d: %7.2f s %s (copy made in %.1f s)" % (
                    work, name, run + 1, runs, wall,
                    "ok" if not problems else "NOT DONE (%d problems)" % len(problems),
                    time.perf_counter() - made - wall))
    shutil.rmtree(root, ignore_errors=True)
    return samples, notes


def medians(runs):
    return "medians of %d runs" % runs if runs > 1 else "one run"


def good(samples):
    return [sample for sample in samples if not sample.problems]


def median_of(samples, field):
    values = [getattr(sample, field) for sample in good(samples)]
    return statistics.median(values) if values else None


def number(value, digits=0):
    if value is None:
        return "-"
    return "{:,.{}f}".format(value, digits)


def tools_table(title, samples, tools, works, count, runs, notes):
    lines = ["### " + title, "",
             "| work | tool | files/s | wall s | CPU s | CPU µs a file | kronvik-cli's speed ÷ the tool's | good runs |",
             "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: |"]
    verdicts, failures = [], []
    for work in works:
        rates = {}
        for tool in tools:
            wall = median_of(samples[(work, tool.name)], "wall")
            rates[tool.name] = count / wall if wall else None
        ours = rates.get("kronvik-cli")
        for tool in tools:
            runs_here = samples[(work, tool.name)]
            wall, cpu = median_of(runs_here, "wall"), median_of(runs_here, "cpu")
            rate = rates[tool.name]
            lines.append("| %s | %s | %s | %s | %s | %s | %s | %d/%d |" % (
                WORKS[work], tool.name, number(rate), number(wall, 3), number(cpu, 2),
                number(cpu * 1e6 / count if cpu is not None else None),
                number(ours / rate, 2) if ours and rate else "-", len(good(runs_here)), runs))
            for index, sample in enumerate(runs_here):
                if sample.problems:
                    failures.append("- %s, %s, run %d did not do the work (exit %s): %s%s" % (
                        WORKS[work], tool.name, index + 1, ",".join(map(str, sample.statuses)),
                        "; ".join(sample.problems[:3]),
                        " (and %d more)" % (len(sample.problems) - 3) if len(sample.problems) > 3 else ""))
        peers = [(rates[t.name], t.name) for t in tools if not t.kronvik and rates[t.name]]
        if peers and ours:
            best_rate, best = max(peers)
            reached = ours / best_rate
            verdicts.append("- %s: kronvik-cli %s files/s is %.2fx the fastest peer (%s, %s files/s); "
                            "target %gx: %s." % (WORKS[work], number(ours), reached, best,
                                                 number(best_rate), TARGET_SPEEDUP[work],
                                                 "met" if reached >= TARGET_SPEEDUP[work] else "not met"))
    return "\n".join(lines + [""] + verdicts + failures + notes) + "\n"


# --- The modes ----------------------------------------------------------------------------------

def run_tools_mode(runner, options, tools, corpus, root, runs, title, place, cold_method=None):
    log("%s: %s" % (title, corpus.label))
    samples, notes = compare_tools(runner, tools, options.works, corpus, root, runs, cold_method)
    count = len(corpus.pictures)
    return tools_table("%s: %s, in %s, %s" % (title, corpus.label, place, medians(runs)),
                       samples, tools, options.works, count, runs, notes)


def _probe(runner, tool, work, entries, probe):
    """The dates of `entries` that one run of `tool` left undone, on a fresh copy."""
    fresh_directory(probe)
    small_corpus.write(probe, entries)
    runner.timed(tool.commands(work, probe), name=tool.name)
    undone = set()
    check(probe, [picture for picture, _ in entries], SHIFT_HOURS if work == "shift" else 0, undone)
    return undone


def qualified_sources(runner, tools, folder, scratch):
    """The pictures of `folder` that every tool dates cleanly, with and without the shift: one
    copy of each with a date of its own, each tool and work on a fresh copy. A picture that one
    run leaves undone is tried again alone, since one hostile file can end a tool's whole run
    (jhead stops at it); only what fails alone is left out. Then the rest is tried together
    again until every tool dates all of it."""
    sources = small_corpus.candidates(folder)
    entries = small_corpus.plan(sources, 1)
    probe = os.path.join(scratch, "probe")
    for _ in range(4):
        failed = set()
        for tool in tools:
            for work in WORKS:
                undone = _probe(runner, tool, work, entries, probe)
                alone = {entry[0].date for entry in entries if entry[0].date in undone
                         and _probe(runner, tool, work, [entry], probe)}
                # Undone together but fine alone everywhere: leave out what was undone.
                failed |= alone or undone
        if not failed:
            break
        entries = [entry for entry in entries if entry[0].date not in failed]
    shutil.rmtree(probe, ignore_errors=True)
    kept = [source for _, source in entries]
    log("Small-file corpus: %d of the %d pictures with both dates are dated cleanly by every tool"
        % (len(kept), len(sources)))
    return kept


def window_mode(runner, options, programs, corpus, root, runs):
    """programs: (name, kind, path) with kind "cli" or "window"."""
    log("Window against kronvik-cli: %s" % corpus.label)
    samples = {}
    for run, order in round_robin([name for name, _, _ in programs], runs):
        for name in order:
            _, kind, path = next(p for p in programs if p[0] == name)
            corpus.make(root)
            command = [path, root]
            wall, cpu, statuses, output = runner.timed([command], capture=(kind == "window"),
                                                        name=name)
            figures = dict(re.findall(r"(\w+)=([\w.]+)", output))
            problems = check(root, corpus.pictures, 0)
            if kind == "window" and "total_ms" not in figures:
                problems.append("no figures from the window benchmark: " + runner.error_tail())
            samples.setdefault(name, []).append(Sample(wall, cpu, problems, statuses, figures))
            log("  %-28s run %d/%d: %7.2f s %s" % (name, run + 1, runs, wall,
                "ok" if not problems else "NOT DONE: " + "; ".join(problems[:2])))
    shutil.rmtree(root, ignore_errors=True)

    count = len(corpus.pictures)
    lines = ["### The window's pass against kronvik-cli: %s, %s, Qt platform %s" % (
                 corpus.label, medians(runs), runner.env.get("QT_QPA_PLATFORM")), "",
             "| program | pictures/s | scan + pass s | whole process s | CPU s | ÷ kronvik-cli | good runs |",
             "| --- | ---: | ---: | ---: | ---: | ---: | ---: |"]
    cli_wall = median_of(samples.get("kronvik-cli", []), "wall")
    verdicts = []
    for name, kind, _ in programs:
        these = good(samples[name])
        wall, cpu = median_of(samples[name], "wall"), median_of(samples[name], "cpu")
        if kind == "window":
            inner = statistics.median(float(s.extra["total_ms"]) / 1000 for s in these) if these else None
        else:
            inner = wall
        ratio = inner / cli_wall if inner and cli_wall else None
        lines.append("| %s | %s | %s | %s | %s | %s | %d/%d |" % (
            name, number(count / inner if inner else None), number(inner, 3), number(wall, 3),
            number(cpu, 2), number(ratio, 2), len(these), runs))
        if name == "window" and ratio:
            verdicts.append("- The window's scan and pass (timed inside the process, from setting the "
                            "source list to the last repaint) take %.2fx kronvik-cli's whole run; "
                            "target 1.1x: %s." % (ratio, "met" if ratio <= 1.1 else "not met"))
    for name, these in samples.items():
        for index, sample in enumerate(these):
            if sample.problems:
                verdicts.append("- %s run %d did not do the work: %s" % (
                    name, index + 1, "; ".join(sample.problems[:3])))
    return "\n".join(lines + [""] + verdicts) + "\n"


def make_scan_tree(root, files, directories):
    """`files` empty files over `directories` leaf folders (ten top folders), 90% named .JPG,
    5% .jpg and 5% .MOV. Returns the number of JPEG names."""
    fresh_directory(root)
    per_directory = max(1, files // directories)
    pictures = 0
    for d in range(directories):
        path = os.path.join(root, "DCIM%02d" % (d % 10), "%03dCANON" % (d // 10))
        os.makedirs(path)
        for f in range(per_directory):
            kind = f % 20
            name = "IMG_%04d.%s" % (f + 1, "MOV" if kind == 19 else "jpg" if kind == 18 else "JPG")
            pictures += kind != 19
            os.close(os.open(os.path.join(path, name), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644))
    return pictures


def scan_mode(runner, options, scanners, root, runs):
    files, directories = options.scan_files, options.scan_directories
    log("Scan against find: %s files in %s directories" % ("{:,}".format(files),
                                                           "{:,}".format(directories)))
    expected = make_scan_tree(root, files, directories)
    programs = [("find", ["find", root, "-iname", "*.jpg"])] + [
        (name, [path, root]) for name, path in scanners]
    # One run of each first, untimed: the tree is then equally cached for all.
    found = subprocess.run(programs[0][1], capture_output=True).stdout.count(b"\n")
    for _, command in programs[1:]:
        runner.timed([command], capture=True)
    samples = {}
    for run, order in round_robin([name for name, _ in programs], runs):
        for name in order:
            command = dict(programs)[name]
            wall, cpu, statuses, output = runner.timed([command], capture=(name != "find"))
            problems, figures = [], {}
            if name == "find":
                if found != expected:
                    problems.append("find found %d pictures, not %d" % (found, expected))
            else:
                figures = dict(re.findall(r"(\w+)=([\w.]+)", output))
                if figures.get("pictures") != str(expected):
                    problems.append("found %s pictures, not %d" % (figures.get("pictures"), expected))
            samples.setdefault(name, []).append(Sample(wall, cpu, problems, statuses, figures))
            log("  %-28s run %d/%d: %7.3f s %s" % (name, run + 1, runs, wall,
                "ok" if not problems else "NOT DONE: " + "; ".join(problems)))
    shutil.rmtree(root, ignore_errors=True)

    lines = ["### The picture scan against `find DIR -iname '*.jpg'`: %s files (%s pictures) in "
             "%s directories, warm cache, %s" % (
                 "{:,}".format(files), "{:,}".format(expected), "{:,}".format(directories),
                 medians(runs)), "",
             "| program | whole process ms | CPU ms | ÷ find | scan alone ms | good runs |",
             "| --- | ---: | ---: | ---: | ---: | ---: |"]
    find_wall = median_of(samples["find"], "wall")
    verdicts = []
    for name, _ in programs:
        wall, cpu = median_of(samples[name], "wall"), median_of(samples[name], "cpu")
        ratio = wall / find_wall if wall and find_wall else None
        inner = [float(s.extra["scan_ms"]) for s in good(samples[name]) if "scan_ms" in s.extra]
        lines.append("| %s | %s | %s | %s | %s | %d/%d |" % (
            name, number(wall * 1000 if wall else None, 1), number(cpu * 1000 if cpu else None, 1),
            number(ratio, 2), number(statistics.median(inner), 1) if inner else "-",
            len(good(samples[name])), runs))
        if name == "kronvik scan" and ratio:
            verdicts.append("- Kronvik's scan takes %.2fx find's time; target 1.5x: %s." % (
                ratio, "met" if ratio <= 1.5 else "not met"))
    return "\n".join(lines + [""] + verdicts) + "\n"


def memory_mode(runner, options, programs, corpus, root):
    log("Peak memory: %s" % corpus.label)
    rows, verdicts = [], []
    for name, kind, path in programs:
        corpus.make(root)
        report = os.path.join(runner.scratch, "time-v.txt")
        wall, cpu, statuses, _ = runner.timed([["/usr/bin/time", "-v", "-o", report, path, root]],
                                              name=name)
        with open(report) as file:
            found = re.search(r"Maximum resident set size \(kbytes\): (\d+)", file.read())
        peak = int(found.group(1)) / 1024 if found else None
        problems = check(root, corpus.pictures, 0)
        rows.append("| %s | %s | %s | %s |" % (name, number(peak, 1), number(wall, 2),
                                               "yes" if not problems else "NO: " + "; ".join(problems[:2])))
        if name in ("kronvik-cli", "window") and peak:
            verdicts.append("- %s: peak %.1f MB; target under 200 MB: %s." % (
                name, peak, "met" if peak < 200 else "not met"))
        log("  %-28s %7.2f s, peak %s MB" % (name, wall, number(peak, 1)))
    shutil.rmtree(root, ignore_errors=True)
    lines = ["### Peak resident memory of one pass (`/usr/bin/time -v`): %s" % corpus.label, "",
             "| program | peak RSS MB | wall s | did the work |", "| --- | ---: | ---: | --- |"]
    return "\n".join(lines + rows + [""] + verdicts) + "\n"


# --- Set-up -------------------------------------------------------------------------------------

def start_xvfb():
    """A private X server for the window, or None (the window then runs offscreen)."""
    if not shutil.which("Xvfb"):
        return None, None
    reader, writer = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(writer), "-screen", "0", "1280x1024x24",
                               "-nolisten", "tcp"], pass_fds=[writer], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    os.close(writer)
    with os.fdopen(reader) as pipe:
        display = pipe.readline().strip()
    if not display:
        server.kill()
        return None, None
    return server, ":" + display


def first_line(command):
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=30)
        return (done.stdout or done.stderr).strip().splitlines()[0]
    except (OSError, IndexError, subprocess.TimeoutExpired):
        return "?"


def machine_text(options, paths):
    with open("/proc/cpuinfo") as file:
        model = re.search(r"model name\s*:\s*(.*)", file.read())
    with open("/proc/meminfo") as file:
        memory = int(re.search(r"MemTotal:\s*(\d+)", file.read()).group(1)) / 1024 / 1024

    def file_system(path):
        while not os.path.exists(path):
            path = os.path.dirname(path)
        return " ".join(first_line(["findmnt", "-n", "-o", "FSTYPE,SOURCE", "-T", path]).split())

    lines = ["Run %s UTC on %s: %s, %d cores, %.0f GB of memory, Linux %s; load average %s." % (
        datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M"), platform.node(),
        model.group(1) if model else "?", os.cpu_count(), memory, platform.release(),
        " ".join("%.2f" % value for value in os.getloadavg()))]
    lines.append("Tools: %s; %s; exiftool %s; Exiv2 library as linked by kronvik-cli." % (
        first_line(["jhead", "-V"]), first_line(["exiv2", "--version"]),
        first_line(["exiftool", "-ver"])))
    lines.append("tmpfs corpora in %s (%s); cold corpus in %s (%s)." % (
        options.tmp, file_system(options.tmp), options.cold_dir, file_system(options.cold_dir)))
    for name, path in paths:
        if path:
            lines.append("%s: %s" % (name, path))
    for name, tree in (("Measured tree", options.tree), ("Older tree", options.before)):
        if tree:
            commit = subprocess.run(["git", "-C", tree, "log", "-1", "--format=%h %s"],
                                    capture_output=True, text=True).stdout.strip()
            lines.append("%s: %s (%s)" % (name, os.path.abspath(tree), commit or "not a git checkout"))
    return "\n".join("- " + line for line in lines) + "\n"


def parse_options():
    parser = argparse.ArgumentParser(
        description="Times Kronvik's dating pass against jhead, exiv2 and exiftool, its window "
                    "against kronvik-cli, its scan against find, and its peak memory.",
        epilog="Binaries come from TREE/build/release/app/kronvik-cli and TREE/build/bench/ "
               "(bench/build.sh TREE builds them); KRONVIK_CLI, KRONVIK_WINDOW_BENCH and "
               "KRONVIK_SCAN_BENCH override them.")
    parser.add_argument("--all", action="store_true",
                        help="every mode at full size, the cold disk included")
    parser.add_argument("--quick", action="store_true",
                        help="small sizes and 2 runs: to try the harness, not to quote")
    parser.add_argument("--modes", help="comma-separated, of: " + ",".join(ALL_MODES)
                        + " (default: all but cold)")
    parser.add_argument("--works", default="rename,shift", help="rename,shift (default both)")
    parser.add_argument("--tools", default=",".join(PEERS), help="peers to run (default all)")
    parser.add_argument("--tree", default=ROOT, help="the source tree measured (default this one)")
    parser.add_argument("--before", help="an older source tree, measured beside it as "
                                         "'kronvik-cli (before)' (its binaries built by bench/build.sh)")
    parser.add_argument("-n", "--pictures", type=int,
                        help="camera-like pictures in tmpfs and for the window (default 2000)")
    parser.add_argument("--runs", type=int, help="timed runs of each tool (default 5)")
    parser.add_argument("--small-copies", type=int,
                        help="copies of the small-file corpus (default 26)")
    parser.add_argument("--cold-pictures", type=int,
                        help="camera-like pictures on the work disk (default 10000)")
    parser.add_argument("--cold-runs", type=int, help="timed runs on the cold disk (default 3)")
    parser.add_argument("--evict", choices=["fadvise", "drop_caches"], default="fadvise",
                        help="how the cold corpus leaves the page cache (default fadvise)")
    parser.add_argument("--scan-files", type=int, help="files of the scan tree (default 100000)")
    parser.add_argument("--scan-directories", type=int, help="its folders (default 1000)")
    parser.add_argument("--memory-pictures", type=int,
                        help="pictures of the peak-memory pass (default 100000)")
    parser.add_argument("--bulk", type=int, default=camera_corpus.DEFAULT_BULK,
                        help="bytes of image data of each camera-like picture (default 3,000,000)")
    parser.add_argument("--tmp", default="/dev/shm", help="a tmpfs for the warm corpora")
    parser.add_argument("--cold-dir", default=os.path.join(ROOT, "build"),
                        help="a folder on the disk to measure; the cold corpus goes into a new "
                             "folder inside it, removed at the end (default build/: the file "
                             "system of the repository)")
    parser.add_argument("--small-folder", default=os.path.join(ROOT, "..", "shared", "corpus",
                                                               "exiv2-jpeg"))
    parser.add_argument("--platform", choices=["xvfb", "offscreen"], default="xvfb",
                        help="where the window runs (default Xvfb when installed)")
    parser.add_argument("--out", help="also write the tables to this file")
    options = parser.parse_args()
    sizes = QUICK_SIZES if options.quick else FULL_SIZES
    for name, value in sizes.items():
        if getattr(options, name) is None:
            setattr(options, name, value)
    modes = options.modes.split(",") if options.modes else (ALL_MODES if options.all else DEFAULT_MODES)
    unknown = set(modes) - set(ALL_MODES)
    if unknown:
        parser.error("unknown mode: " + ", ".join(sorted(unknown)))
    options.modes = [mode for mode in ALL_MODES if mode in modes]
    options.works = [work for work in options.works.split(",") if work]
    options.tools = [tool for tool in options.tools.split(",") if tool]
    if set(options.works) - set(WORKS) or set(options.tools) - set(PEERS):
        parser.error("works are rename and shift; tools are " + ", ".join(PEERS))
    return options


def binaries(tree, environment_prefix=None):
    tree = os.path.abspath(tree)
    found = {"cli": os.path.join(tree, "build", "release", "app", "kronvik-cli"),
             "window": os.path.join(tree, "build", "bench", "kronvik-window-bench"),
             "scan": os.path.join(tree, "build", "bench", "kronvik-scan-bench")}
    if environment_prefix:
        for key, variable in (("cli", "KRONVIK_CLI"), ("window", "KRONVIK_WINDOW_BENCH"),
                              ("scan", "KRONVIK_SCAN_BENCH")):
            if os.environ.get(variable):
                found[key] = os.path.abspath(os.environ[variable])
    return found


def ensure_built(tree, found, needed):
    missing = [key for key in needed if not os.access(found[key], os.X_OK)]
    if missing:
        log("Building %s for %s (bench/build.sh)" % (", ".join(missing), tree))
        subprocess.run([os.path.join(BENCH, "build.sh"), tree], check=True)


def main():
    options = parse_options()
    needed = {"cli"} | ({"window"} if {"window", "memory"} & set(options.modes) else set()) \
        | ({"scan"} if "scan" in options.modes else set())
    ours = binaries(options.tree, environment_prefix=True)
    ensure_built(options.tree, ours, needed)
    before = None
    if options.before:
        before = binaries(options.before)
        ensure_built(options.before, before, needed)

    scratch = tempfile.mkdtemp(prefix="kronvik-bench-", dir=options.tmp)
    server, display = (None, None)
    if options.platform == "xvfb" and {"window", "memory"} & set(options.modes):
        server, display = start_xvfb()
    runner = Runner(scratch, display)
    sections = []
    cold = None
    try:
        paths = [("kronvik-cli", ours["cli"]), ("window benchmark", ours["window"] if "window" in needed else None),
                 ("scan benchmark", ours["scan"] if "scan" in needed else None)]
        if before:
            paths += [("kronvik-cli (before)", before["cli"]),
                      ("window benchmark (before)", before["window"] if "window" in needed else None),
                      ("scan benchmark (before)", before["scan"] if "scan" in needed else None)]
        sections.append(machine_text(options, paths))
        log(sections[0])

        tools = [kronvik_tool("kronvik-cli", ours["cli"])]
        if before:
            tools.append(kronvik_tool("kronvik-cli (before)", before["cli"]))
        tools += [PEER_TOOLS[name] for name in options.tools]
        warm = os.path.join(scratch, "corpus")

        if "tmpfs" in options.modes:
            corpus = CameraCorpus(options.pictures, options.bulk)
            sections.append(run_tools_mode(runner, options, tools, corpus, warm, options.runs,
                                           "Camera-like corpus in tmpfs", options.tmp))
        if "small" in options.modes:
            sources = qualified_sources(runner, tools, options.small_folder, scratch)
            corpus = SmallCorpus(sources, options.small_copies, options.small_folder)
            sections.append(run_tools_mode(runner, options, tools, corpus, warm, options.runs,
                                           "Small-file corpus in tmpfs", options.tmp))
        if "cold" in options.modes:
            corpus = CameraCorpus(options.cold_pictures, options.bulk)
            os.makedirs(options.cold_dir, exist_ok=True)
            free = shutil.disk_usage(options.cold_dir).free
            if free < corpus.bytes * 1.1 + 2e9:
                sys.exit("the cold corpus needs %.1f GB and %s has %.1f GB free; try --cold-pictures"
                         % (corpus.bytes / 1e9, options.cold_dir, free / 1e9))
            cold = tempfile.mkdtemp(prefix="kronvik-bench-cold-", dir=options.cold_dir)
            sections.append(run_tools_mode(runner, options, tools, corpus, cold,
                                           options.cold_runs, "Camera-like corpus on the work disk, "
                                           "cold page cache", cold, cold_method=options.evict))
        windows = [("kronvik-cli", "cli", ours["cli"]), ("window", "window", ours["window"])]
        if before:
            windows += [("kronvik-cli (before)", "cli", before["cli"]),
                        ("window (before)", "window", before["window"])]
        if "window" in options.modes:
            corpus = CameraCorpus(options.pictures, options.bulk)
            sections.append(window_mode(runner, options, windows, corpus, warm, options.runs))
        if "scan" in options.modes:
            scanners = [("kronvik scan", ours["scan"])]
            if before:
                scanners.append(("kronvik scan (before)", before["scan"]))
            sections.append(scan_mode(runner, options, scanners, os.path.join(scratch, "scan"),
                                      options.runs))
        if "memory" in options.modes:
            corpus = CameraCorpus(options.memory_pictures, bulk=4096)
            sections.append(memory_mode(runner, options, windows, corpus, warm))
        sections.append("Load average at the end: %s.\n" % " ".join(
            "%.2f" % value for value in os.getloadavg()))
    finally:
        if server:
            server.terminate()
            server.wait()
        shutil.rmtree(scratch, ignore_errors=True)
        if cold:
            shutil.rmtree(cold, ignore_errors=True)

    text = "\n".join(sections)
    print(text)
    if options.out:
        with open(options.out, "w") as file:
            file.write(text)


if __name__ == "__main__":
    main()
