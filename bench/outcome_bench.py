#!/usr/bin/env python3
"""Benchmarks of judged programs and the run report (POSIX), started by
scripts/bench --outcome; its section and goal are put into bench/results.md
as scripts/bench --check does for its own.

8a. start to exit of a run of one program entry, judged (SuccessCodes,
    RebootCodes, Timeout) and not, in alternating blocks;
8b. the 10 000-entry deployment with the three keys on every entry and
    without them, rounds alternating;
8c. Duplix.json for 10 000 entries: making it and writing it, and its size
    (bench/report_probe.cc).
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench as b  # noqa: E402

SECTION = "8. Judged programs and the run report (POSIX)"
RUNS = 40 if b.QUICK else 400
BLOCK = 20
ROUNDS = 3 if b.QUICK else 9
ENTRIES = 1000 if b.QUICK else 10000
GOAL = 1.05  # judged / not judged, medians
KEYS = "SuccessCodes=0\r\nRebootCodes=3010, 1641\r\nTimeout=600\r\n"
PROBE = os.path.join(b.ROOT, "build/posix/tarvex_report_probe")


def program_entry(sb, judged):
    with open(sb.manifest_path, "w", newline="") as f:
        f.write("[Program]\r\nFileName=prog.exe\r\nFilePath=Out\\\r\nDuplix=Y\r\n"
                "ExecuteFile=Y\r\n" + (KEYS if judged else ""))


def start_to_exit():
    base = tempfile.mkdtemp(prefix="tarvex-bench-outcome.", dir="/var/tmp")
    try:
        sb = b.Sandbox(base, b.POSIX_EXE)
        shutil.copy("/bin/true", os.path.join(sb.app, "prog.exe"))
        results = {False: [], True: []}
        for judged in (False, True):  # warm-up
            program_entry(sb, judged)
            b.timed(sb.argv + ["4711"], sb.env)
        before = b.wait_for_quiet(b.QUIET_WAIT_S)
        load = b.OtherLoad()
        done = 0
        while done < RUNS:
            for judged in ((False, True) if done % (2 * BLOCK) == 0 else (True, False)):
                program_entry(sb, judged)
                results[judged] += b.timed(sb.argv + ["4711"], sb.env, BLOCK)
            done += BLOCK
        note = b.load_note(before, load)
        if any(r[2] != 0 for rs in results.values() for r in rs):
            raise RuntimeError("a run failed:\n" + sb.log())
        program_entry(sb, True)
        b.timed(sb.argv + ["4711"], sb.env)
        if "MSG : Exit Code 0 - " not in sb.log():
            raise RuntimeError("the judged run was not judged:\n" + sb.log())
        rows = []
        for judged in (False, True):
            walls = sorted(r[0] for r in results[judged])
            rows.append(["judged (SuccessCodes, RebootCodes, Timeout)" if judged else
                         "not judged", len(walls), b.ms(statistics.median(walls)),
                         b.ms(walls[len(walls) // 10]), b.ms(walls[len(walls) * 9 // 10]),
                         b.ms(statistics.median(r[3] for r in results[judged]))])
        b.add("### 8a. Start to exit, one program\n\nA package of one entry that copies a "
              "program (`/bin/true`) and runs it, with and without the three keys, timed from "
              "posix_spawn to wait4 by bench/runner.c in alternating blocks of %d; the judged "
              "run starts the program in a process group of its own and logs its exit code. "
              "Folder on the disk (%s). %s" % (BLOCK, b.fs_type(base), note))
        b.table(["entry", "runs", "median ms", "p10 ms", "p90 ms", "median CPU ms"], rows)
        return (statistics.median(r[0] for r in results[True]) /
                statistics.median(r[0] for r in results[False])), note
    finally:
        shutil.rmtree(base, ignore_errors=True)


def scale():
    root, fs_label = b.tmpfs_root()
    try:
        sb = b.Sandbox(os.path.join(root, "posix"), b.POSIX_EXE)
        b.make_sources(sb.app, ENTRIES)
        names = ["f%05d.dat" % i for i in range(ENTRIES)]
        plain = "".join("[E%05d]\r\nFileName=%s\r\nFilePath=Out\\\r\nDuplix=Y\r\n\r\n" % (i, n)
                        for i, n in enumerate(names))
        keyed = "".join("[E%05d]\r\nFileName=%s\r\nFilePath=Out\\\r\nDuplix=Y\r\n%s\r\n"
                        % (i, n, KEYS) for i, n in enumerate(names))
        results = {False: [], True: []}

        def one(judged):
            sb.empty_out()
            with open(sb.manifest_path, "w", newline="") as f:
                f.write(keyed if judged else plain)
            r = b.timed(sb.argv + ["4711"], sb.env)[0]
            if r[2] != 0 or len(os.listdir(sb.out)) != ENTRIES:
                raise RuntimeError("exit %d\n%s" % (r[2], sb.log()[-2000:]))
            return r

        one(False), one(True)
        before = b.wait_for_quiet(b.QUIET_WAIT_S)
        load = b.OtherLoad()
        for r in range(ROUNDS):
            for judged in ((False, True) if r % 2 == 0 else (True, False)):
                results[judged].append(one(judged))
        note = b.load_note(before, load)
        rows = [["with the three keys" if judged else "without", len(results[judged]),
                 "%.3f" % (statistics.median(x[0] for x in results[judged]) / 1e9),
                 "%.3f" % (statistics.median(x[3] for x in results[judged]) / 1e9),
                 b.mib(max(x[1] for x in results[judged]))] for judged in (False, True)]
        b.add("### 8b. %s entries\n\n%s copy-only entries of 4 KiB files into one folder, on "
              "%s, with `SuccessCodes`, `RebootCodes` and `Timeout` on every entry (read, "
              "parsed and carried, but ignored: no entry runs a program) and without, in "
              "rounds whose order turns. Each run also writes its Duplix.json. %s"
              % (b.num(ENTRIES), b.num(ENTRIES), fs_label, note))
        b.table(["manifest", "runs", "median s", "median CPU s", "peak RSS MiB"], rows)
        return (statistics.median(x[0] for x in results[True]) /
                statistics.median(x[0] for x in results[False]))
    finally:
        subprocess.run(["umount", root], stderr=subprocess.DEVNULL)
        shutil.rmtree(root, ignore_errors=True)


def report():
    base = tempfile.mkdtemp(prefix="tarvex-bench-report.", dir="/var/tmp")
    try:
        samples = []
        for _ in range(3 if b.QUICK else 11):
            out = subprocess.run([PROBE, str(ENTRIES), base], capture_output=True, text=True,
                                 check=True).stdout.split()
            samples.append(tuple(int(x) for x in out))
        made = statistics.median(s[0] for s in samples) / 1e6
        written = statistics.median(s[1] for s in samples) / 1e6
        size = samples[0][2]
        b.add("### 8c. Duplix.json for %s entries\n\nbench/report_probe.cc fills a run's state "
              "with %s copied entries and times, in a fresh process each (%d runs), the "
              "report's text made from it (nlohmann-json, an entry at a time) and its writing "
              "(an exclusive temporary file, flushed, one rename, on the disk: %s)."
              % (b.num(ENTRIES), b.num(ENTRIES), len(samples), b.fs_type(base)))
        b.table(["entries", "made ms", "written ms", "size KiB", "bytes/entry"],
                [[b.num(ENTRIES), "%.1f" % made, "%.1f" % written, "%.0f" % (size / 1024),
                  "%.0f" % (size / ENTRIES)]])
        say = ("Duplix.json for %s entries: %.1f ms to make, %.1f ms to write, %.0f KiB."
               % (b.num(ENTRIES), made, written, size / 1024))
        b.say("  " + say)
        return say
    finally:
        shutil.rmtree(base, ignore_errors=True)


def main():
    os.makedirs(b.OUT_DIR, exist_ok=True)
    b.build_runner()
    b.section(SECTION)
    b.add("Measured %s by `scripts/bench --outcome`, apart from the other sections."
          % time.strftime("%Y-%m-%d %H:%M"))
    start, note = start_to_exit()
    per_entry = scale()
    said = report()
    b.state("Judged entries cost no more than others (POSIX)",
            start <= GOAL and per_entry <= GOAL,
            "Start to exit of one program entry, judged / not: %.3f; %s entries with the "
            "keys / without: %.3f (medians). %s %s" % (start, b.num(ENTRIES), per_entry, said,
                                                        note),
            "Why: judging reads the exit code the run already waits for; the keys are three "
            "more reads of the manifest's parsed text per entry.")
    b.merge_section("8", "Judged ")


if __name__ == "__main__":
    main()
