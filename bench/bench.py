#!/usr/bin/env python3
"""Tarvex benchmarks: runs the real programs, prints each table and writes
bench/results.md and bench/scaling.png. Started by scripts/bench.

    bench.py [--quick] [--no-wine] [--check] [--copy]

--quick   fewer runs and no 10 000-entry manifests; results go to
          build/bench/ instead of bench/ (for trying the script out)
--no-wine the POSIX program only
--check   the package checker's section only, put in place of its section
          and goal in the results already written
--copy    the copy benchmark alone, put in place of its section and goals
          in the results already written

Every figure is measured against something measured in the same run (cp,
/bin/true, the same program with fewer entries), with the runs of the two
sides interleaved, so load on the machine falls on both sides alike.
"""
import datetime
import os
import platform
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
POSIX_EXE = os.path.join(ROOT, "build/posix/Tarvex")
POSIX_CHECK = os.path.join(ROOT, "build/posix/tarvex-check")
# A host that runs no 32-bit code gets the 64-bit build (scripts/wine.sh).
WINDOWS_DIR = os.environ.get("TARVEX_BENCH_WINDOWS") or os.path.join(ROOT, "build/windows")
WINDOWS_EXE = os.path.join(WINDOWS_DIR, "Tarvex.exe")

QUICK = "--quick" in sys.argv
COPY_ONLY = "--copy" in sys.argv
WINE = "--no-wine" not in sys.argv
CHECK_ONLY = "--check" in sys.argv
OUT_DIR = os.path.join(ROOT, "build/bench" if QUICK else "bench")
WORK_DIR = os.path.join(ROOT, "build/bench")

COPY_MIB = 256
COPY_ROUNDS = 3 if QUICK else 15
SCALE_SIZES = [10, 100, 1000] if QUICK else [10, 100, 1000, 10000]
SCALE_ROUNDS = 3 if QUICK else 15
FRESH_ROUNDS = 1 if QUICK else 9
WINE_ROUNDS = 1 if QUICK else 5
WINE_LIMIT_S = 300  # the 10 000-entry run under Wine is given this long
START_RUNS = 60 if QUICK else 300
START_BLOCK = 30
WINE_START_RUNS = 5 if QUICK else 20
LOCK_RUNS = 60 if QUICK else 300
QUIET_WAIT_S = 10 if QUICK else 90  # longest wait for a quiet machine before a timing
FILE_SIZE = 4096
KIB_GOAL = 4096

GOALS = {
    "copy": 1.05,         # Tarvex / (cp && sync), median of the pair ratios
    "again": 0.35,        # onto an unchanged target / a fresh copy, the same
    "again_cat": 1.3,     # onto an unchanged target / cat SRC TARGET > /dev/null
    "again_cat_aim": 1.0,  # the same, where it should be on every machine
    "scale": 1.2,         # net seconds per entry at 10 000 / at 100
    "start_ms": 2.0,      # median wall time of a run without a parameter
    "check_s": 1.0,       # median wall time of the checker over 10 000 entries
    "lock_ms": 0.1,       # median time a run spends taking its run lock
}

# The unchanged target on machines measured before, kept in section 1 beside
# those a later run adds: machine, date, Tarvex and cat (median ms), the
# median pair ratio, both files mapped and read (ms), the way a run took.
EARLIER_MACHINES = [
    ["2 CPUs, AMD EPYC, 23.5 GiB", "2026-12-09", "52.70", "52.11", "0.975", "39", "59",
     "mapped (the only way then; mapped and read timed by hand, best of five)"],
]
MACHINE_HEADER = ["machine", "date", "Tarvex, unchanged target ms", "cat SRC TARGET ms",
                  "ratio", "both mapped ms", "both read ms", "way a run takes"]

REPORT = []  # (section number, markdown block); written in section order
CURRENT = ["0"]
STATEMENTS = []  # (goal, met, text)
T0 = time.time()


def say(text=""):
    print(text, flush=True)


def section(title):
    say("\n== %s" % title)
    CURRENT[0] = title.split(".")[0]
    add("## %s\n" % title)


def add(text):
    REPORT.append((CURRENT[0], text.rstrip("\n") + "\n"))


def table(header, rows):
    """Prints a table and adds it to the report."""
    widths = [max(len(str(c)) for c in col) for col in zip(header, *rows)]
    for line in [header] + rows:
        say("  " + "  ".join(str(c).rjust(w) for c, w in zip(line, widths)))
    md = ("| " + " | ".join(header) + " |\n|---|" + "|".join("---:" for _ in header[1:]) +
          "|\n")
    for line in rows:
        md += "| " + " | ".join(str(c) for c in line) + " |\n"
    add(md)


def state(goal, met, text, why=""):
    """A goal's plain statement; why is added when it is not met."""
    if not met and why:
        text += " " + why
    STATEMENTS.append((goal, met, text))
    say("  -> %s: %s. %s" % (goal, "MET" if met else "NOT MET", text))


def ms(ns):
    return "%.2f" % (ns / 1e6)


def us(seconds):
    return "%.1f" % (seconds * 1e6)


def num(n):
    return "{:,}".format(n).replace(",", " ")


def mib(kib):
    return "%.2f" % (kib / 1024)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


# ---------------------------------------------------------------- runner

RUNNER = os.path.join(WORK_DIR, "runner")


def build_runner():
    os.makedirs(WORK_DIR, exist_ok=True)
    run(["gcc", "-O2", "-static", "-Wall", "-Wextra", "-o", RUNNER,
         os.path.join(ROOT, "bench/runner.c")])


def timed(argv, env, count=1, cwd=None, limit=None):
    """Runs argv count times through the runner:
    [(wall ns, peak KiB, exit code, CPU ns)].
    With a limit in seconds, a run still going then is killed: None."""
    p = subprocess.Popen([RUNNER, str(count)] + argv, env=env, cwd=cwd, stdout=subprocess.PIPE,
                         stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        out, _ = p.communicate(timeout=limit)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)  # the runner's own group: it and its child
        p.communicate()
        return None
    if p.returncode != 0:
        raise RuntimeError("runner failed for %s" % argv)
    return [tuple(int(x) for x in line.split()) for line in out.decode().splitlines()]


# ---------------------------------------------------------------- other load

def cpu_sample():
    """(busy, total) CPU time of the whole machine, and this process's own
    and its waited-for descendants' CPU time, all in seconds."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    hz = os.sysconf("SC_CLK_TCK")
    idle = fields[3] + fields[4]
    total = sum(fields[:8])
    t = os.times()
    return (total - idle) / hz, total / hz, t.user + t.system + t.children_user + t.children_system


class OtherLoad:
    """How many CPUs other processes kept busy while a benchmark ran."""

    def __init__(self):
        self.start = cpu_sample()

    def cpus(self):
        end = cpu_sample()
        wall = (end[1] - self.start[1]) / os.cpu_count()
        if wall <= 0:
            return 0.0
        return max(0.0, (end[0] - self.start[0]) - (end[2] - self.start[2])) / wall


def wait_for_quiet(limit_s):
    """Waits (up to limit_s) until other processes leave most of the CPUs
    free: timings taken on a saturated machine say more about it than
    about the program. Returns the other load at the end."""
    deadline = time.time() + limit_s
    told = False
    while True:
        load = OtherLoad()
        time.sleep(2)
        busy = load.cpus()
        if busy < 0.5 or time.time() >= deadline:
            if told:
                say("  going on with %.1f CPUs used by other processes" % busy)
            return busy
        if not told:
            say("  the machine is busy (%.1f CPUs used by other processes); waiting up to "
                "%d s" % (busy, limit_s))
            told = True


def load_note(before, load):
    return ("Other processes used %.1f of %d CPUs just before and %.1f on average during "
            "this benchmark." % (before, os.cpu_count(), load.cpus()))


# ---------------------------------------------------------------- sandboxes

def tmpfs_root():
    """A memory file system for the many-file runs (see results.md)."""
    with open("/proc/mounts") as f:
        mounts = {line.split()[1]: line.split()[2] for line in f}
    if mounts.get("/dev/shm") == "tmpfs" and os.access("/dev/shm", os.W_OK):
        return tempfile.mkdtemp(prefix="tarvex-bench.", dir="/dev/shm"), "tmpfs (/dev/shm)"
    d = tempfile.mkdtemp(prefix="tarvex-bench.")
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2g", "tarvex-bench", d],
                      stderr=subprocess.DEVNULL).returncode == 0:
        return d, "tmpfs (mounted)"
    return d, "disk (no tmpfs available)"


class Sandbox:
    """app/ with the program and Tarvex.INI, agent/ with PMStatus and Out."""

    def __init__(self, base, exe, windows=False):
        self.dir = base
        self.app = os.path.join(base, "app")
        self.agent = os.path.join(base, "agent")
        self.out = os.path.join(self.agent, "Out")
        os.makedirs(os.path.join(self.agent, "PMStatus"))
        os.makedirs(self.out)
        os.makedirs(self.app)
        self.exe = os.path.join(self.app, os.path.basename(exe))
        shutil.copy2(exe, self.exe)
        self.manifest_path = os.path.join(self.app, "Tarvex.INI")
        self.windows = windows
        if windows:
            self.env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
            self.argv = ["wine", self.exe]
        else:
            reg = os.path.join(base, "registry.reg")
            with open(reg, "w", newline="") as f:
                f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\r\n"
                        '"InstallationPath"="%s"\r\n"REGID"="REG-42"\r\n' % self.agent)
            self.env = dict(os.environ, TARVEX_REGISTRY=reg, LC_ALL="C")
            self.argv = [self.exe]

    def native_agent(self):
        return "Z:" + self.agent.replace("/", "\\") if self.windows else self.agent

    def manifest(self, names, age_s=60):
        """One copy-only entry per name, all into Out\\; the file's time is
        set age_s seconds back (0: as just written)."""
        entry = "[E%05d]\r\nFileName=%s\r\nFilePath=Out\\\r\nDuplix=Y\r\nExecuteFile=\r\n\r\n"
        text = "".join(entry % (i, n) for i, n in enumerate(names))
        with open(self.manifest_path, "w", newline="") as f:
            f.write(text)
        if age_s:
            t = time.time() - age_s
            os.utime(self.manifest_path, (t, t))

    def empty_out(self):
        shutil.rmtree(self.out)
        os.makedirs(self.out)

    def log(self):
        with open(os.path.join(self.app, "Duplix.log"), "rb") as f:
            return f.read().decode("utf-8", "replace")


# ---------------------------------------------------------------- 1. copy

def bench_copy():
    section("1. Copy: one 256 MiB file, durable, Tarvex against cp and sync")
    base = tempfile.mkdtemp(prefix="tarvex-bench-copy.", dir="/var/tmp")
    try:
        sb = Sandbox(base, POSIX_EXE)
        src = os.path.join(sb.app, "big.bin")
        with open(src, "wb") as f:
            for _ in range(COPY_MIB):
                f.write(os.urandom(1 << 20))
        sb.manifest(["big.bin"])
        target = os.path.join(sb.out, "big.bin")
        # The same run with the copy not asked for: what a run costs besides
        # the copy (start, run log, status file, hand-off).
        fixed = Sandbox(os.path.join(base, "fixed"), POSIX_EXE)
        with open(fixed.manifest_path, "w", newline="") as f:
            f.write("[Big]\r\nFileName=big.bin\r\nFilePath=Out\\\r\nDuplix=N\r\n")
        t = time.time() - 60
        os.utime(fixed.manifest_path, (t, t))
        # Tarvex's copy is on the disk before it is reported: cp is given the
        # same, its target flushed by sync.
        cp_sync = ["/bin/sh", "-c", 'cp "$1" "$2" && sync "$2"', "sh", src, target]
        sides = {"Tarvex": (sb, sb.argv + ["4711"]), "cp && sync": (sb, cp_sync),
                 "Tarvex, unchanged target": (sb, sb.argv + ["4711"]),
                 "cat SRC TARGET": (sb, ["/bin/sh", "-c", 'cat "$1" "$2" > /dev/null', "sh",
                                         src, target]),
                 "Tarvex, copy not asked": (fixed, fixed.argv + ["4711"])}
        results = {name: [] for name in sides}

        def one(name):
            if name in ("Tarvex, unchanged target", "cat SRC TARGET"):
                # The target already holds the source's bytes (as a repeated
                # deployment finds it): put there beforehand if a run before
                # this one removed it.
                if not os.path.exists(target):
                    shutil.copyfile(src, target)
                before = os.stat(target)
            elif os.path.exists(target):
                os.remove(target)
            os.sync()  # the previous run's writes do not fall on this one
            box, argv = sides[name]
            r = timed(argv, box.env)[0]
            copied = box is fixed or os.path.getsize(target) == COPY_MIB << 20
            if r[2] != 0 or not copied:
                raise RuntimeError("%s: exit %d or wrong target" % (name, r[2]))
            if name == "Tarvex, unchanged target" and \
                    os.stat(target).st_ino != before.st_ino:
                raise RuntimeError("an unchanged target was written again")
            return r

        names = list(sides)
        for name in names:  # warm-up: the source into the page cache
            one(name)
        before = wait_for_quiet(QUIET_WAIT_S)
        load = OtherLoad()
        n = len(names)
        for r in range(COPY_ROUNDS):  # the order turns each round: no side keeps a place
            for name in names[r % n:] + names[:r % n]:
                results[name].append(one(name))
        if "Successfully Copied File " + src not in sb.log():
            raise RuntimeError("Tarvex did not log the copy:\n" + sb.log())
        note = load_note(before, load)
        if not os.path.exists(target):
            shutil.copyfile(src, target)
        ways = compare_ways(src, target)

        def pairs(a, b, field=0):
            return [x[field] / y[field] for x, y in zip(results[a], results[b])]

        ratios = pairs("Tarvex", "cp && sync")
        cpu_ratios = pairs("Tarvex", "cp && sync", 3)
        again = pairs("Tarvex, unchanged target", "Tarvex")
        again_cat = pairs("Tarvex, unchanged target", "cat SRC TARGET")
        rows = []
        for name in sides:
            walls = [r[0] for r in results[name]]
            rows.append([name, len(walls), ms(statistics.median(walls)), ms(min(walls)),
                         ms(max(walls)), ms(statistics.median(r[3] for r in results[name])),
                         mib(max(r[1] for r in results[name]))])
        add("Runs alternate Tarvex, `cp SRC DST && sync DST`, Tarvex onto a target that "
            "already holds the source's bytes, and Tarvex with the copy not asked for "
            "(`Duplix=N`, the rest of a run's cost), in rounds whose order turns, after one "
            "warm-up round; a pair is two sides of the same round. Before every run but the "
            "unchanged-target one the target is deleted, and before every run the disk is "
            "synced, so each run really copies and waits for its own writes only. Tarvex "
            "flushes the new file, replaces the target and flushes the folder before it logs "
            "the copy. Folder on the disk (%s). Tarvex's time includes its run log and status "
            "file (whose hand-off is flushed too)." % fs_type(base))
        table(["program", "runs", "median ms", "min ms", "max ms", "median CPU ms",
               "peak RSS MiB"], rows)
        ratio = statistics.median(ratios)
        cpu_ratio = statistics.median(cpu_ratios)
        again_ratio = statistics.median(again)
        again_cat_ratio = statistics.median(again_cat)
        med = {name: statistics.median(r[0] for r in results[name]) / 1e6 for name in sides}
        add("Median of the %d pair ratios Tarvex/(cp && sync): **%.3f** (ratio of the medians "
            "%.3f; pair ratios %s). Tarvex takes %.2f ms more than cp and sync; a run without "
            "the copy takes %.2f ms. In CPU time the median pair ratio is %.3f.\n\n"
            "Median of the pair ratios of a repeated deployment onto an unchanged target to a "
            "fresh durable copy: **%.3f** (%.1f against %.1f ms; pair ratios %s); the "
            "comparison reads both files, here from the page cache. %s"
            % (len(ratios), ratio, med["Tarvex"] / med["cp && sync"],
               ", ".join("%.3f" % r for r in ratios), med["Tarvex"] - med["cp && sync"],
               med["Tarvex, copy not asked"], cpu_ratio, again_ratio,
               med["Tarvex, unchanged target"], med["Tarvex"],
               ", ".join("%.3f" % r for r in again), note))
        say("  median ratio Tarvex/(cp && sync) %.3f (CPU time %.3f); unchanged/fresh %.3f; %s"
            % (ratio, cpu_ratio, again_ratio, note))
        state("Durable copy ≤ 1.05 × cp && sync (POSIX)", ratio <= GOALS["copy"],
              "Tarvex takes %.3f × the wall time of `cp SRC DST && sync DST` for the 256 MiB "
              "copy (%.1f against %.1f ms; a run without the copy: %.1f ms); CPU time %.3f ×. "
              "%s" % (ratio, med["Tarvex"], med["cp && sync"], med["Tarvex, copy not asked"],
                      cpu_ratio, note),
              "Why: both copy with copy_file_range in one call and wait for the disk once; "
              "Tarvex adds the fixed cost of a run and a flush of the folder and of the "
              "handed-over status file.")
        state("Repeated deployment onto an unchanged target ≤ 0.35 × a fresh durable copy "
              "(POSIX)", again_ratio <= GOALS["again"],
              "%.3f × (%.1f against %.1f ms)." % (again_ratio, med["Tarvex, unchanged target"],
                                                 med["Tarvex"]))
        faster = "mapped" if ways["mapped"] <= ways["read"] else "read"
        add("The two ways of comparing, timed alone by bench/compare_probe.cc over the same "
            "two files in the page cache, 4 MiB at a time, %d rounds alternating: both mapped "
            "%.1f ms, both read into two 64 KiB blocks %.1f ms (medians). A run times both on "
            "its first ranges and takes the faster, here %s, trying the other every 16th range."
            % (COPY_ROUNDS, ways["mapped"] / 1e6, ways["read"] / 1e6, faster))
        add("The unchanged target on each machine measured (a machine measured again "
            "replaces its row):")
        row = [machine_name(), datetime.date.today().isoformat(),
               ms(med["Tarvex, unchanged target"] * 1e6), ms(med["cat SRC TARGET"] * 1e6),
               "%.3f" % again_cat_ratio, "%.0f" % (ways["mapped"] / 1e6),
               "%.0f" % (ways["read"] / 1e6), faster]
        table(MACHINE_HEADER, machine_rows(row))
        aim = "%.3f × (%.1f against %.1f ms): the comparison takes, 4 MiB at a time, the " \
              "faster of mapping both files and reading them (%s here)." \
              % (again_cat_ratio, med["Tarvex, unchanged target"], med["cat SRC TARGET"], faster)
        state("Repeated deployment onto an unchanged target ≤ 1.3 × `cat SRC TARGET > "
              "/dev/null` (POSIX)", again_cat_ratio <= GOALS["again_cat"], aim)
        state("Repeated deployment onto an unchanged target ≤ 1.0 × `cat SRC TARGET > "
              "/dev/null` (POSIX)", again_cat_ratio <= GOALS["again_cat_aim"], aim,
              "Why: each way costs about what cat does here; see the table above.")
        return max(r[1] for r in results["Tarvex"]), max(r[1] for r in results["cp && sync"])
    finally:
        shutil.rmtree(base, ignore_errors=True)


def compare_ways(a, b):
    """{way: median ns} of bench/compare_probe.cc over the two files."""
    probe = os.path.join(WORK_DIR, "compare_probe")
    run(["g++", "-O2", "-std=c++17", "-I" + os.path.join(ROOT, "src"), "-o", probe,
         os.path.join(ROOT, "bench/compare_probe.cc"),
         os.path.join(os.path.dirname(POSIX_EXE), "libtarvex_core.a"), "-lcrypto"])
    out = subprocess.run([probe, a, b, str(COPY_ROUNDS)], capture_output=True, text=True,
                         check=True).stdout
    return {way: int(ns) for way, ns in (line.split() for line in out.splitlines())}


def machine_rows(current):
    """The rows of the per-machine table: those of the results already
    written and the earlier ones, less the current machine's, and its new."""
    rows = {r[0]: r for r in EARLIER_MACHINES}
    path = os.path.join(OUT_DIR, "results.md")
    if os.path.exists(path):
        with open(path) as f:
            text = f.read()
        head = "| " + " | ".join(MACHINE_HEADER) + " |"
        if head in text:
            for line in text.split(head, 1)[1].split("\n")[2:]:
                if not line.startswith("| "):
                    break
                cells = [c.strip() for c in line.strip("|").split("|")]
                rows[cells[0]] = cells
    rows[current[0]] = current
    return [rows[name] for name in sorted(rows)]


def fs_type(path):
    best, kind = "", "?"
    with open("/proc/mounts") as f:
        for line in f:
            _, mnt, typ = line.split()[:3]
            if path.startswith(mnt.rstrip("/") + "/") and len(mnt) > len(best):
                best, kind = mnt, typ
    return "%s on %s" % (kind, best or "/")


# ---------------------------------------------------------------- 3. start

def bench_start():
    section("3. Start to exit: a run without a parameter")
    base = tempfile.mkdtemp(prefix="tarvex-bench-start.", dir="/var/tmp")
    try:
        sb = Sandbox(base, POSIX_EXE)
        tarvex, floor = [], []
        before = wait_for_quiet(QUIET_WAIT_S)
        load = OtherLoad()
        done = 0
        while done < START_RUNS:  # blocks of each, interleaved
            n = min(START_BLOCK, START_RUNS - done)
            tarvex += timed(sb.argv, sb.env, n)
            floor += timed(["/bin/true"], sb.env, n)
            done += n
        note = load_note(before, load)
        if any(r[2] != 2 for r in tarvex):
            raise RuntimeError("a run without a parameter did not exit 2")
        lines = sb.log().split("\r\n")[:-1]
        if len(lines) != 3 or lines[1] != "ERR : Invalid CommandLine Parameter ":
            raise RuntimeError("unexpected log:\n" + sb.log())
        rows = []
        for name, rs in (("Tarvex (no parameter)", tarvex), ("/bin/true (floor)", floor)):
            walls = sorted(r[0] for r in rs)
            rows.append([name, len(walls), ms(statistics.median(walls)),
                         ms(walls[len(walls) // 10]), ms(walls[len(walls) * 9 // 10]),
                         ms(statistics.median(r[3] for r in rs)), mib(max(r[1] for r in rs))])
        add("Each run is timed from posix_spawn to wait4 by bench/runner.c, in blocks of %d "
            "alternating with /bin/true, which shows what starting any program costs here. "
            "Folder on the disk (%s). %s" % (START_BLOCK, fs_type(base), note))
        table(["program", "runs", "median ms", "p10 ms", "p90 ms", "median CPU ms",
               "peak RSS MiB"], rows)
        med = statistics.median(r[0] for r in tarvex) / 1e6
        floor_med = statistics.median(r[0] for r in floor) / 1e6
        say("  " + note)
        if floor_med > GOALS["start_ms"] / 2:
            # The goal was set where starting any program costs well under it.
            why = ("Why: starting any program costs %.2f ms on this machine (/bin/true); "
                   "Tarvex's own share is the %.2f ms above that. See findings.md §1."
                   % (floor_med, med - floor_med))
        else:
            why = ("Why: with other processes busy, the wall time measures the wait for a "
                   "CPU; the program's own cost is its CPU time. See findings.md §1.")
        state("Start to exit ≤ 2 ms (POSIX)", med <= GOALS["start_ms"],
              "Median %.2f ms over %d runs (/bin/true: %.2f ms; CPU time %.2f ms). %s"
              % (med, len(tarvex), floor_med,
                 statistics.median(r[3] for r in tarvex) / 1e6, note), why)
        return max(r[1] for r in tarvex), max(r[1] for r in floor)
    finally:
        shutil.rmtree(base, ignore_errors=True)


# ---------------------------------------------------------------- 2. scale

def make_sources(app, count):
    for i in range(count):
        with open(os.path.join(app, "f%05d.dat" % i), "wb") as f:
            f.write(os.urandom(FILE_SIZE))


def scale_run(sb, n, age_s, limit=None):
    """One deployment of n entries into an empty Out: (wall ns, KiB, CPU ns),
    or None when it was stopped at the limit."""
    sb.empty_out()
    sb.manifest(["f%05d.dat" % i for i in range(n)], age_s)
    r = timed(sb.argv + ["4711"], sb.env, limit=limit)
    if r is None:
        return None
    wall, kib, code, cpu = r[0]
    if code != 0 or len(os.listdir(sb.out)) != n:
        raise RuntimeError("%d entries: exit %d, %d files copied\n%s"
                           % (n, code, len(os.listdir(sb.out)), sb.log()[-2000:]))
    return wall, kib, cpu


def rounds(sb, sizes, count, age_s, big_every=3):
    """count rounds over the sizes, the order turning each round, so that
    load on the machine and what a run leaves behind fall on every size
    alike. 10 000 entries only run every big_every-th round: one run of
    them costs as much as a round of the others."""
    results = {n: [] for n in sizes}
    for r in range(count):
        k = r % len(sizes)
        for n in sizes[k:] + sizes[:k]:
            if n < 10000 or r % big_every == 0:
                results[n].append(scale_run(sb, n, age_s))
    return results


def scale_table(results, base, with_cpu=True):
    """Rows and per-entry figures: wall seconds per entry, and net seconds
    per entry in wall and CPU time, the cost of the entries beyond the base
    run's, (median(n) - median(base)) / (n - base), which leaves out what
    every run costs once (start, log, status file)."""
    fixed = [statistics.median(r[i] for r in base[1]) for i in (0, 2)]
    rows, per, net, cpu = [], {}, {}, {}
    for n in sorted(results):
        wall = statistics.median(r[0] for r in results[n])
        spent = statistics.median(r[2] for r in results[n])
        per[n] = wall / 1e9 / n
        if n > base[0]:
            net[n] = (wall - fixed[0]) / 1e9 / (n - base[0])
            cpu[n] = (spent - fixed[1]) / 1e9 / (n - base[0])
        row = [num(n), len(results[n]), "%.4f" % (wall / 1e9), us(per[n]),
               us(net[n]) if n in net else "(base)"]
        if with_cpu:
            row.append(us(cpu[n]) if n in cpu else "(base)")
        rows.append(row + [mib(max(r[1] for r in results[n]))])
    return rows, per, net, cpu


def scale_header(with_cpu=True):
    return (["entries", "runs", "median s", "µs/entry", "net µs/entry"] +
            (["net CPU µs/entry"] if with_cpu else []) + ["peak RSS MiB"])


def scale_statement(label, per, net, what, why=""):
    """The flatness goal, judged on the net figures given (wall or CPU)."""
    if 100 not in net or 10000 not in net:
        return None
    if net[100] <= 0:
        state("Scale flat ≤ 1.2 × from 100 to 10 000 (%s)" % label, False,
              "Not measurable: the %s net cost of 100 entries came out at %.1f µs/entry, "
              "below the noise of the 10-entry base run." % (what, net[100] * 1e6))
        return None
    ratio = net[10000] / net[100]
    state("Scale flat ≤ 1.2 × from 100 to 10 000 (%s)" % label, ratio <= GOALS["scale"],
          "Net %s %.1f µs/entry at 100, %.1f at 10 000: %.2f × (wall time / entries: "
          "%.1f → %.1f µs)." % (what, net[100] * 1e6, net[10000] * 1e6, ratio, per[100] * 1e6,
                                per[10000] * 1e6), why)
    return ratio


NET_NOTE = ("*µs/entry* is the median wall time divided by the entries; *net* is what the "
            "entries beyond the first 10 add, (median(n) − median(10)) / (n − 10), which "
            "leaves out what a run costs once (start, run log, status file, hand-off). "
            "*net CPU* is the same in CPU time (user + system of the program), which waiting "
            "for a busy CPU does not lengthen; on the tmpfs the runs do not wait for a disk, "
            "so it is the program's own cost, and the goal is judged on it. 10 000 entries "
            "run every third round.")


def bench_scale_posix(root, fs_label):
    section("2a. Scale, POSIX: copy-only manifests of 4 KiB files")
    sb = Sandbox(os.path.join(root, "posix"), POSIX_EXE)
    make_sources(sb.app, max(SCALE_SIZES))
    load = OtherLoad()
    results = rounds(sb, SCALE_SIZES, SCALE_ROUNDS, 60)
    rows, per, net, cpu = scale_table(results, (10, results[10]))
    add("Each entry is its own 4 KiB file in the application folder (which holds %s such "
        "files for every size), all copied into one folder `Out`, emptied before each run. "
        "Sandbox on %s. The manifest's time is set a minute back, as for a manifest that lies "
        "in place before the agent starts Tarvex. %d rounds over all sizes. %s Other "
        "processes used %.1f of %d CPUs on average meanwhile."
        % (num(max(SCALE_SIZES)), fs_label, SCALE_ROUNDS, NET_NOTE, load.cpus(),
           os.cpu_count()))
    table(scale_header(), rows)
    scale_statement("POSIX, manifest written a minute before", per, cpu, "CPU")

    # The same, with the manifest written just before the run: its time is
    # then as new as the run's, which must not make the run read it again.
    fresh = rounds(sb, [n for n in SCALE_SIZES if n >= 100], FRESH_ROUNDS, 0)
    frows, fper, fnet, fcpu = scale_table(fresh, (10, results[10]))
    add("The same with the manifest written just before each run (%d rounds; net against "
        "the 10-entry runs above):" % FRESH_ROUNDS)
    table(scale_header(), frows)
    ratio = scale_statement("POSIX, manifest written just before the run", fper, fcpu, "CPU")
    if ratio is not None and ratio > GOALS["scale"]:
        add(fresh_manifest_evidence(sb))
    return sb, results, per, cpu


def fresh_manifest_evidence(sb):
    """How often a run opens its manifest, aged and fresh (strace)."""
    if not shutil.which("strace"):
        return ""
    n = 1000
    counts = {}
    for label, age in (("written a minute before", 60), ("written just before", 0)):
        sb.empty_out()
        sb.manifest(["f%05d.dat" % i for i in range(n)], age)
        trace = os.path.join(sb.dir, "trace.txt")
        run(["strace", "-f", "-e", "trace=openat", "-o", trace] + sb.argv + ["4711"],
            env=sb.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(trace) as f:
            counts[label] = sum(1 for line in f if "Tarvex.INI" in line)
    text = ("Evidence (strace, %d entries): the manifest is opened %d times when it was written "
            "a minute before and %d times when it was written just before the run."
            % (n, counts["written a minute before"], counts["written just before"]))
    say("  " + text)
    return text + "\n"


def massif_evidence(sb, n):
    """Peak heap and its biggest allocation sites for an n-entry run."""
    if not shutil.which("valgrind"):
        return ""
    sb.empty_out()
    sb.manifest(["f%05d.dat" % i for i in range(n)], 60)
    out = os.path.join(sb.dir, "massif.out")
    run(["valgrind", "--tool=massif", "--massif-out-file=" + out] + sb.argv + ["4711"],
        env=sb.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    report = subprocess.run(["ms_print", out], capture_output=True, text=True).stdout
    peak = re.search(r"(\d+) \(peak\)", report)
    if not peak:
        return ""
    lines = report.splitlines()
    start = next(i for i, l in enumerate(lines) if re.match(r"\s*%s\s" % peak.group(1), l))
    total = int(lines[start].split()[2].replace(",", ""))
    sites = []
    for i in range(start + 1, len(lines)):
        line = lines[i]
        if re.match(r"\s*\d+\s+[\d,]+\s+[\d,]+", line) or line.startswith("----"):
            break
        m = re.match(r"->(\d+\.\d+)% \(([\d,]+)B\) (.*)", line)
        if not m:
            continue
        where = m.group(3)
        # The first of this program's own functions on the path.
        j = i
        while "tarvex::" not in where and j + 1 < len(lines) and lines[j + 1].startswith("|"):
            j += 1
            where = lines[j]
        fn = re.search(r"tarvex::(?:[\w:]*::)?(?:\(anonymous namespace\)::)?(\w+)\(", where)
        kind = "hash table" if "_Hashtable" in m.group(3) else (
            "vector growth" if "vector" in m.group(3) else (
                "string" if "basic_string" in m.group(3) else ""))
        sites.append("%s %s B (%s%%)" % ((fn.group(1) if fn else "other") +
                                          (" — " + kind if kind else ""),
                                          m.group(2), m.group(1)))
    text = ("Heap at its peak for %s entries (valgrind massif): %.1f MiB; biggest sites: %s."
            % (num(n), total / 1048576, "; ".join(sites[:7])))
    say("  " + text)
    return text + "\n"


# ---------------------------------------------------------------- 5. checker

def bench_check(sb, fs_label):
    """The package checker over the scale benchmark's application folder
    and a manifest naming all its files."""
    section("5. Package checker: the largest manifest, POSIX")
    n = max(SCALE_SIZES)
    sb.manifest(["f%05d.dat" % i for i in range(n)], 60)
    out = os.path.join(sb.dir, "check.txt")
    env = dict(sb.env, RUNNER_STDOUT=out)
    argv = [POSIX_CHECK, sb.app]
    timed(argv, env)  # warm-up: the folder and the manifest into the caches
    before = wait_for_quiet(QUIET_WAIT_S)
    load = OtherLoad()
    results = timed(argv, env, SCALE_ROUNDS)
    note = load_note(before, load)
    with open(out) as f:
        lines = f.read().splitlines()
    if any(r[2] != 0 for r in results) or len(lines) != n + 1 or \
            lines[-1] != "0 errors, 0 warnings":
        raise RuntimeError("the checker did not pass the package: %s" % lines[-3:])
    wall = statistics.median(r[0] for r in results) / 1e9
    cpu = statistics.median(r[3] for r in results) / 1e9
    add("`build/posix/tarvex-check` over an application folder laid out as in 2a (%s 4 KiB "
        "files and the program, on %s) with a manifest of %s copy-only entries naming them all; its output "
        "(a plan line per entry and the summary) goes to a file. One warm-up run, then %d "
        "runs. It reads each entry's five keys through the profile routines a run uses (the "
        "cached manifest: one stat per read) and tests each source once. %s"
        % (num(n), fs_label, num(n), len(results), note))
    table(["entries", "runs", "median s", "min s", "max s", "median CPU s", "µs/entry",
           "peak RSS MiB"],
          [[num(n), len(results), "%.3f" % wall, "%.3f" % (min(r[0] for r in results) / 1e9),
            "%.3f" % (max(r[0] for r in results) / 1e9), "%.3f" % cpu, us(wall / n),
            mib(max(r[1] for r in results))]])
    if n == 10000:
        if CHECK_ONLY:
            add("Measured %s by `scripts/bench --check`, apart from the other sections."
                % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"))
        state("Checker, 10 000 entries < 1 s (POSIX)", wall < GOALS["check_s"],
              "Median %.3f s wall, %.3f s CPU over %d runs (%.1f µs/entry). %s"
              % (wall, cpu, len(results), wall / n * 1e6, note),
              "Why: with other processes busy, the wall time measures the wait for a CPU; "
              "the CPU time is the checker's own cost.")


# ---------------------------------------------------------------- Wine

class Wine:
    def __init__(self):
        self.prefix = tempfile.mkdtemp(prefix="tarvex-bench-wine.")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def boot(self):
        # A persistent server first: runs then do not each start and stop one.
        run(["wineserver", "-p"], env=self.env)
        run(["wine", "wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def set_agent(self, path, regid="REG-42"):
        for name, value in (("InstallationPath", path), ("REGID", regid)):
            run(["wine", "reg", "add", "HKLM\\SOFTWARE\\VELMOR", "/v", name, "/t", "REG_SZ",
                 "/d", value, "/f", "/reg:32"], env=self.env, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)

    def close(self):
        # The server leaves the folder of its socket behind, named in the prefix.
        try:
            with open(os.path.join(self.prefix, "wineserver")) as f:
                server = f.read().strip()
        except OSError:
            server = ""
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL)
        if re.fullmatch(r"wine-\w{6}", server):
            shutil.rmtree(os.path.join(tempfile.gettempdir(), server), ignore_errors=True)
        shutil.rmtree(self.prefix, ignore_errors=True)


def bench_wine(root, fs_label, posix_app):
    section("2b. Scale, Win32 build under Wine")
    wine = Wine()
    try:
        t = time.time()
        wine.boot()
        say("  prefix ready in %.1f s" % (time.time() - t))
        sb = Sandbox(os.path.join(root, "wine"), WINDOWS_EXE, windows=True)
        sb.env = wine.env
        wine.set_agent(sb.native_agent())
        for i in range(max(SCALE_SIZES)):  # the same sources as the POSIX runs
            name = "f%05d.dat" % i
            os.link(os.path.join(posix_app, name), os.path.join(sb.app, name))
        small = [n for n in SCALE_SIZES if n <= 1000]
        load = OtherLoad()
        results = rounds(sb, small, WINE_ROUNDS, 60)
        note = ""
        if 10000 in SCALE_SIZES:
            m1000 = statistics.median(r[0] for r in results[1000]) / 1e9
            if m1000 * 10 > WINE_LIMIT_S:
                note = ("10 000 entries not run: 1 000 took %.0f s, so 10 000 would take more "
                        "than the %d s allowed." % (m1000, WINE_LIMIT_S))
            else:
                r = scale_run(sb, 10000, 60, limit=WINE_LIMIT_S)
                if r is None:
                    note = ("10 000 entries stopped after %d s: stopped at 1 000." % WINE_LIMIT_S)
                else:
                    results[10000] = [r]
                    note = "10 000 entries run once (%.0f s)." % (r[0] / 1e9)
        rows, per, net, _ = scale_table(results, (10, results[10]), with_cpu=False)
        add("Tarvex.exe under Wine %s (private prefix, wineserver kept running), same layout "
            "and the same 4 KiB files (hard links) on %s; %d rounds for 10–1 000 entries. %s "
            "Net as above, in wall time only: under Wine the work is shared with the "
            "wineserver, whose CPU time is not the program's. Other processes used %.1f of "
            "%d CPUs on average meanwhile."
            % (subprocess.run(["wine", "--version"], capture_output=True, text=True,
                              env=wine.env).stdout.strip(), fs_label, WINE_ROUNDS, note,
               load.cpus(), os.cpu_count()))
        table(scale_header(False), rows)
        if note:
            say("  " + note)
        ratio = scale_statement(
            "Win32 under Wine", per, net, "wall",
            "Why: Wine looks up each name not yet in `Out` (the target, the temporary file) by "
            "reading the whole folder, so each entry costs more the more files `Out` holds; "
            "Windows finds a name through the folder's index. See findings.md §4.")
        if ratio is not None and ratio > GOALS["scale"] and not QUICK:
            add(wine_scan_evidence(sb))

        # Start to exit under Wine, for reference.
        starts = timed(sb.argv, sb.env, WINE_START_RUNS)
        med = statistics.median(r[0] for r in starts)
        add("Start to exit under Wine, no parameter, %d runs: median %s ms, peak RSS %s MiB "
            "(Wine's own start dominates; for reference, no goal)."
            % (len(starts), ms(med), mib(max(r[1] for r in starts))))
        say("  start to exit under Wine: median %s ms" % ms(med))
        lock = lock_samples([os.path.join(WINDOWS_DIR, "tarvex_lock_probe.exe")], wine.env,
                            WINE_START_RUNS, ["wine"])
        add("Taking the run lock under Wine (bench/lock_probe.cc, %d runs): median %s ms, p90 "
            "%s ms (a named mutex: a few wineserver requests; for reference, no goal)."
            % (len(lock), ms(statistics.median(lock)), ms(lock[len(lock) * 9 // 10])))
        return results, per, net
    finally:
        wine.close()


def wine_scan_evidence(sb):
    """What a Wine run reads from directories, for 100 and 1 000 entries
    (strace: the bytes that getdents64 returns)."""
    if not shutil.which("strace"):
        return ""
    read = {}
    for n in (100, 1000):
        sb.empty_out()
        sb.manifest(["f%05d.dat" % i for i in range(n)], 60)
        trace = os.path.join(sb.dir, "trace.txt")
        subprocess.run(["strace", "-f", "-e", "trace=getdents64", "-o", trace] + sb.argv +
                       ["4711"], env=sb.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        total = 0
        with open(trace) as f:
            for line in f:
                m = re.search(r"getdents64\(.*\)\s+=\s+(\d+)", line)
                if m:
                    total += int(m.group(1))
        read[n] = total
    text = ("Evidence (strace): a Wine run reads %.1f MiB of directory entries for 100 entries "
            "and %.1f MiB for 1 000 (%.0f × for 10 × the entries): each name not yet in `Out` "
            "is looked up by reading the whole folder."
            % (read[100] / 1048576, read[1000] / 1048576, read[1000] / max(read[100], 1)))
    say("  " + text)
    return text + "\n"


# ---------------------------------------------------------------- plot

def plot(posix, wine):
    def fmt(value):
        return "NaN" if value is None else "%.9f" % value

    dat = os.path.join(OUT_DIR, "scaling.dat")
    with open(dat, "w") as f:
        f.write("# entries  seconds_per_entry  net_seconds_per_entry\n"
                "# POSIX (net: CPU time)\n")
        for n in sorted(posix[0]):
            f.write("%d %.9f %s\n" % (n, posix[0][n], fmt(posix[1].get(n))))
        f.write("\n\n# Win32 under Wine (net: wall time)\n")
        for n in sorted(wine[0] if wine else []):
            f.write("%d %.9f %s\n" % (n, wine[0][n], fmt(wine[1].get(n))))
        if not wine:
            f.write("NaN NaN NaN\n")
    png = os.path.join(OUT_DIR, "scaling.png")
    run(["gnuplot", "-e", "datafile='%s'; outfile='%s'" % (dat, png),
         os.path.join(ROOT, "bench/scaling.gp")])
    say("  plot: %s" % os.path.relpath(png, ROOT))


# ---------------------------------------------------------------- main

# ---------------------------------------------------------------- 5. lock

def lock_samples(argv, env, count, loader=()):
    """Nanoseconds that bench/lock_probe.cc reports, one fresh process each, sorted."""
    samples = []
    for _ in range(count):
        out = subprocess.run(list(loader) + argv, env=env, capture_output=True, text=True,
                             check=True, stdin=subprocess.DEVNULL)
        samples.append(int(out.stdout.split()[0]))
    return sorted(samples)


def bench_lock():
    section("6. Run lock: what taking it adds to a run")
    before = wait_for_quiet(QUIET_WAIT_S)
    load = OtherLoad()
    lock = lock_samples([os.path.join(ROOT, "build/posix/tarvex_lock_probe")], os.environ,
                        LOCK_RUNS)
    note = load_note(before, load)
    med, p90 = statistics.median(lock), lock[len(lock) * 9 // 10]
    add("bench/lock_probe.cc calls the POSIX table's fncLockAppFolder once in a fresh "
        "process, as a run does, after reading its folder as a run has by then, and prints "
        "the time the call took: one open of the application folder and one flock. %d runs; "
        "median %s ms, p10 %s ms, p90 %s ms. The start-to-exit figures of section 3 include "
        "it. %s" % (len(lock), ms(med), ms(lock[len(lock) // 10]), ms(p90), note))
    say("  lock: median %s ms, p90 %s ms" % (ms(med), ms(p90)))
    state("Run lock ≤ 0.1 ms (POSIX)", med / 1e6 <= GOALS["lock_ms"],
          "Median %s ms over %d runs (p90 %s ms). %s" % (ms(med), len(lock), ms(p90), note))


def machine_name():
    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    mem = "?"
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal"):
                mem = "%.1f GiB" % (int(line.split()[1]) / 1048576)
    return "%d CPUs, %s, %s" % (os.cpu_count(), cpu, mem)


def machine():
    return [
        "- Machine: %s memory (nproc, /proc/cpuinfo)" % machine_name(),
        "- Kernel: %s %s" % (platform.system(), platform.release()),
        "- Date: %s" % datetime.datetime.now().strftime("%Y-%m-%d %H:%M %Z").strip(),
        "- Load average at the start: %s" % " ".join(open("/proc/loadavg").read().split()[:3]),
        "- Programs: `build/posix/Tarvex` (%d bytes), `build/posix/tarvex-check` (%d bytes), "
        "`%s` (%d bytes%s), Release builds; %s"
        % (os.path.getsize(POSIX_EXE), os.path.getsize(POSIX_CHECK),
           os.path.relpath(WINDOWS_EXE, ROOT),
           os.path.getsize(WINDOWS_EXE) if WINE else 0,
           "" if "windows64" not in WINDOWS_DIR else
           ": the 64-bit build, as this host runs no 32-bit code",
           subprocess.run(["cp", "--version"], capture_output=True, text=True)
           .stdout.splitlines()[0]),
    ]


def main():
    os.makedirs(OUT_DIR, exist_ok=True)
    build_runner()
    head = machine()
    say("\n".join(head))
    copy_rss = bench_copy()
    if COPY_ONLY:
        REPORT.insert(1, ("1", "Rerun alone (`scripts/bench --copy`, %s, on %s; the other "
                               "sections are of the run the head describes).\n"
                          % (datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), machine_name())))
        merge_section("1", ("Durable copy", "Repeated deployment onto an unchanged target"))
        return
    start_rss = bench_start()
    bench_lock()
    root, fs_label = tmpfs_root()
    try:
        sb, posix_results, per, net_cpu = bench_scale_posix(root, fs_label)
        bench_check(sb, fs_label)
        massif = ""
        scale_rss = {n: max(r[1] for r in rs) for n, rs in posix_results.items() if rs}
        if max(scale_rss.values()) > KIB_GOAL:
            massif = massif_evidence(sb, max(SCALE_SIZES))
        wine = None
        if WINE:
            _, wper, wnet = bench_wine(root, fs_label, sb.app)
            wine = (wper, wnet)
        plot((per, net_cpu), wine)
        add("![seconds per entry](scaling.png)\n")
    finally:
        subprocess.run(["umount", root], stderr=subprocess.DEVNULL)
        shutil.rmtree(root, ignore_errors=True)

    section("4. Memory: peak resident set (POSIX)")
    add("ru_maxrss of each run from wait4, largest over the runs of each benchmark. It also "
        "counts what the runner had touched before the program's exec, little for a small "
        "static program; /bin/true shows the lowest figure any program reaches here.")
    rows = [["1. copy, Tarvex", mib(copy_rss[0])], ["1. copy, cp && sync", mib(copy_rss[1])],
            ["3. start to exit, Tarvex", mib(start_rss[0])],
            ["3. start to exit, /bin/true", mib(start_rss[1])]]
    rows += [["2. scale, Tarvex, %s entries" % num(n), mib(k)]
             for n, k in sorted(scale_rss.items())]
    table(["benchmark", "peak RSS MiB"], rows)
    over = ["%s entries (%.2f MiB)" % (num(n), k / 1024) for n, k in sorted(scale_rss.items())
            if k > KIB_GOAL]
    state("Memory ≤ 4 MiB, copy (POSIX)", copy_rss[0] <= KIB_GOAL,
          "Peak %.2f MiB (cp && sync: %.2f MiB)." % (copy_rss[0] / 1024, copy_rss[1] / 1024))
    state("Memory ≤ 4 MiB, start to exit (POSIX)", start_rss[0] <= KIB_GOAL,
          "Peak %.2f MiB (/bin/true: %.2f MiB)." % (start_rss[0] / 1024, start_rss[1] / 1024))
    sizes = sorted(scale_rss)
    slope = (scale_rss[sizes[-1]] - scale_rss[sizes[0]]) / (sizes[-1] - sizes[0])
    state("Memory ≤ 4 MiB, scale (POSIX)", not over,
          ("Exceeded at %s." % ", ".join(over)) if over else
          "Largest %.2f MiB." % (max(scale_rss.values()) / 1024),
          "Why: the parsed manifest stays in memory, %.2f KiB per entry here, on top of the "
          "%.2f MiB that any run takes; see the heap profile below and findings.md §3."
          % (slope, start_rss[0] / 1024))
    if massif:
        add(massif)

    elapsed = time.time() - T0
    write_results(head, elapsed)
    say("\nbench: %.0f s; results in %s" % (elapsed, os.path.relpath(OUT_DIR, ROOT)))


def check_only():
    """Section 5 alone, put into the results already written: its block and
    its goal replace theirs, everything else stays as it was measured."""
    os.makedirs(OUT_DIR, exist_ok=True)
    build_runner()
    root, fs_label = tmpfs_root()
    try:
        sb = Sandbox(os.path.join(root, "posix"), POSIX_EXE)
        make_sources(sb.app, max(SCALE_SIZES))
        bench_check(sb, fs_label)
    finally:
        subprocess.run(["umount", root], stderr=subprocess.DEVNULL)
        shutil.rmtree(root, ignore_errors=True)
    merge_section("5", "Checker, ")


def merge_section(number, goal_prefix):
    """Puts the section measured alone (its number) and its goals (starting
    with goal_prefix) into the results already there, in place of theirs;
    writes whole results where there are none yet."""
    path = os.path.join(OUT_DIR, "results.md")
    if not os.path.exists(path):
        write_results(machine(), time.time() - T0)
        return
    with open(path) as f:
        text = f.read()
    # The section goes where its old one stood, or last.
    mark = "\n<<section %s>>\n" % number
    text, found = re.subn(r"\n## %s\. .*?(?=\n## |\Z)" % re.escape(number), lambda m: mark, text,
                          count=1, flags=re.S)
    if not found:
        text = text.rstrip("\n") + "\n" + mark
    prefixes = (goal_prefix,) if isinstance(goal_prefix, str) else goal_prefix
    lines = [l for l in text.split("\n") if not l.startswith(tuple("- **" + p for p in prefixes))]
    last_goal = max(i for i, l in enumerate(lines) if l.startswith("- **"))
    lines[last_goal + 1:last_goal + 1] = [
        "- **%s — %s.** %s" % (goal, "met" if met else "not met", t)
        for goal, met, t in STATEMENTS]
    block = "\n".join(block for _, block in REPORT)
    with open(path, "w") as f:
        f.write("\n".join(lines).replace(mark.strip("\n"), block.rstrip("\n")))
    say("\nbench: section %s put into %s" % (number, os.path.relpath(path, ROOT)))


def write_results(head, elapsed):
    lines = ["# Tarvex benchmarks", "",
             "Written by `scripts/bench`%s; do not edit by hand. Findings and their "
             "analysis: [findings.md](findings.md)." % (" --quick" if QUICK else ""), ""]
    lines += head
    lines += ["- Load average at the end: %s" % " ".join(open("/proc/loadavg").read().split()[:3]),
              "- Runtime of `scripts/bench`: %.0f s (without building)" % elapsed, "",
              "## Goals", ""]
    for goal, met, text in STATEMENTS:
        lines.append("- **%s — %s.** %s" % (goal, "met" if met else "not met", text))
    lines.append("")
    with open(os.path.join(OUT_DIR, "results.md"), "w") as f:
        blocks = [text for _, text in sorted(REPORT, key=lambda block: block[0])]
        f.write("\n".join(lines) + "\n" + "\n".join(blocks))


if __name__ == "__main__":
    check_only() if CHECK_ONLY else main()
