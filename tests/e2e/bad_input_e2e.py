#!/usr/bin/env python3
"""End-to-end tests with bad input: the real program fed what it should not
get, on either build.

    bad_input_e2e.py posix    build/posix/Tarvex
    bad_input_e2e.py windows  build/windows/Tarvex.exe under Wine (WINEPREFIX
                              must name an initialised private prefix)

Whatever the input, a run says what is wrong in a clear log line, keeps its
log whole, and loses nothing: every file that was there before the run is
still there with its bytes, except the targets the run deploys and its own
log and status files; no temporary file stays behind.

Under Wine a sandbox costs seconds of registry set-up, so the cases share
one sandbox whose application and agent folders are laid out afresh for
each. Cases that only the POSIX build can show (registry file, UTF-8 names,
Linux path limits, argument size) run there alone.

TARVEX_E2E_EXE names another program to test.
"""
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_e2e as e2e  # noqa: E402
from tarvex_e2e import expect  # noqa: E402

COPY_ERROR = "ERR : Function - fncDuplix. Source Path - "


class Box:
    """One sandbox, reused: the registry is set once, the folders per case."""

    def __init__(self, t):
        self.t = t
        self.c = e2e.Case(t, "bad")
        self.exe_name = "Tarvex.exe" if t.name == "windows" else "Tarvex"
        self.registry_changed = False  # a case changed the agent's values

    def fresh(self):
        c = self.c
        gone = [os.path.join(c.app, n) for n in os.listdir(c.app) if n != self.exe_name]
        gone += [os.path.join(c.dir, n) for n in os.listdir(c.dir)
                 if n not in ("app", "bin", "registry.reg")]
        for path in gone:
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)
        os.makedirs(os.path.join(c.agent, "PMStatus"))
        if self.registry_changed:
            c.registry(InstallationPath=self.t.native(c.agent), REGID="REG-42")
            self.registry_changed = False
        return c


# ---------------------------------------------------------------- checks

def snapshot(top):
    files = {}
    for folder, _, names in os.walk(top):
        for n in names:
            p = os.path.join(folder, n)
            if os.path.isfile(p) and not os.path.islink(p):
                with open(p, "rb") as f:
                    files[os.path.relpath(p, top)] = hashlib.sha1(f.read()).hexdigest()
    return files


class Run:
    """A run with the checks every bad input must pass."""

    # Files a run may rewrite, move or replace.
    OWN = {"app/Duplix.log", "app/Duplix.json", "app/Duplix.ini", "agent/PMStatus/Duplix.ini"}

    def __init__(self, c, args=("1",), deployed=(), watch=None):
        self.c = c
        before = snapshot(c.dir)
        if watch is not None:
            self.code, self.killed_at = run_watched(c, list(args), watch)
        else:
            self.code, self.killed_at = c.run(*args), None
        after = snapshot(c.dir)
        self.lines = c.log()
        problems = []
        if self.killed_at is not None:
            problems.append("stopped at: ..." + self.killed_at[-100:])
        elif self.lines[-1] != "MSG : Application Stopped <time>":
            problems.append("last log line: %r" % self.lines[-1])
        lost = [p for p in before if p not in self.OWN and p not in deployed and
                (p not in after or after[p] != before[p])]
        if lost:
            problems.append("files lost or changed: %s" % lost)
        tmp = [p for p in after if p.endswith(".tarvex.tmp")]
        if tmp:
            problems.append("temporary files left: %s" % [p[-60:] for p in tmp])
        self.problems = problems
        if problems and not (self.killed_at is not None and len(problems) == 1):
            raise AssertionError("; ".join(problems))

    def status(self):
        for where in ("agent/PMStatus/Duplix.ini", "app/Duplix.ini"):
            path = os.path.join(self.c.dir, where)
            if os.path.isfile(path):
                return self.c.status(where)
        return None

    def failed_with(self, line, desc=None):
        """Exit 1, the line in the log, FAILED handed over with its Desc."""
        if line not in self.lines:
            raise AssertionError("log lacks %r:\n  %s" % (line, "\n  ".join(self.lines)))
        expect(self.code, 1, "exit code")
        s = self.status()
        expect(s["LastRunStatusCode"], "FAILED", "status")
        if desc is not None:
            expect(s["Desc"], self.c.t.stored(desc), "Desc")


def run_watched(c, args, pattern):
    """Runs the program and kills it as soon as its log shows a line starting
    with pattern (a copy failure would otherwise be retried for thirty
    seconds). Returns (exit code, the line or None)."""
    log = os.path.join(c.app, "Duplix.log")
    if os.path.exists(log):
        os.remove(log)
    if c.t.name == "windows":
        command = ["wine", os.path.join(c.app, "Tarvex.exe")] + args
    else:
        command = [os.path.join(c.app, "Tarvex")] + args
    p = subprocess.Popen(command, env=c.t.env, cwd=c.t.sandbox, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 120
    while p.poll() is None and time.time() < deadline:
        time.sleep(0.02)
        if os.path.exists(log):
            with open(log, "rb") as f:
                for line in f.read().decode("utf-8", "replace").split("\r\n"):
                    if line.startswith(pattern):
                        p.send_signal(signal.SIGKILL)
                        p.wait()
                        return p.returncode, line
    if p.poll() is None:
        p.kill()
    return p.wait(), None


# ---------------------------------------------------------------- cases

def case_manifest_of_binary_bytes(box):
    c = box.fresh()
    rng = random.Random(7)
    # NULs, high bytes, line ends and '=' but no '[': no section at all.
    c.write("app/Tarvex.INI", bytes(rng.choice(b"\x00\x01\x7f\x80\xff\x0d\x0a=Ab ")
                                    for _ in range(8192)))
    r = Run(c)
    r.failed_with("ERR : File Info Not Found in Tarvex.ini", "File Info Not Found in Tarvex.ini; ")


def case_manifest_of_ten_megabytes(box):
    c = box.fresh()
    c.write("app/a.txt", "a")
    path = c.write("app/Tarvex.INI", "")
    with open(path, "w") as f:
        f.write((";" + "x" * 100 + "\r\n") * 104000)  # 10.6 MB of comments
        f.write("[Entry]\r\nFileName=a.txt\r\nDuplix=Y\r\n")
    start = time.time()
    r = Run(c, deployed={"agent/a.txt"})
    expect(r.code, 0, "exit code")
    expect(r.lines[3], "MSG : Successfully Copied File " + c.app_n("a.txt") + " to " +
           c.agent_n(""), "log")
    assert time.time() - start < 30, "a 10 MB manifest took %.0f s" % (time.time() - start)


def case_manifest_of_ten_megabytes_of_sections(box):
    # Under Wine, at its pace of profile reads, this would take minutes.
    c = box.fresh()
    c.write("app/a.txt", "a")
    path = c.write("app/Tarvex.INI", "")
    with open(path, "w") as f:
        f.write("[Entry]\r\nFileName=a.txt\r\nDuplix=Y\r\n")
        for i in range(400000):  # 10.3 MB
            f.write("[S%06d]\r\nFileName=b.txt\r\n" % i)
    start = time.time()
    r = Run(c, deployed={"agent/a.txt"})
    expect(r.code, 0, "exit code")
    expect(len(r.lines), 7, "log lines")
    assert time.time() - start < 30, "400000 sections took %.0f s" % (time.time() - start)


def case_manifest_is_a_folder(box):
    c = box.fresh()
    os.makedirs(os.path.join(c.app, "Tarvex.INI", "inside"))
    r = Run(c)
    r.failed_with("ERR : File Not Found " + c.t.short(c.app) + c.t.sep + "Tarvex.INI",
                  "Tarvex.ini Not Found; ")
    assert os.path.isdir(os.path.join(c.app, "Tarvex.INI", "inside"))


def case_pmstatus_is_a_file(box):
    c = box.fresh()
    c.write("app/a.txt", "a")
    c.manifest([("A", {"FileName": "a.txt", "Duplix": "Y"})])
    os.rmdir(os.path.join(c.agent, "PMStatus"))
    c.write("agent/PMStatus", "the agent's own file")
    r = Run(c, deployed={"agent/a.txt"})
    pid = c.t.short(c.app) + c.t.sep + "Duplix.ini"
    expect(r.lines[-2], "MSG : Failed to Copy PID File " + pid + " to " +
           c.agent_n("PMStatus" + c.t.sep), "log")
    assert r.lines[-3].startswith(COPY_ERROR) and r.lines[-3].endswith(" 3 Path not found"), \
        r.lines[-3]
    # The deployment worked; the outcome waits beside the program.
    expect(r.code, 5, "exit code")
    expect(c.status("app/Duplix.ini")["LastRunStatusCode"], "SUCCESS", "local status")


def case_sources_that_are_not_regular_files(box):
    """A FIFO (which would wait for a writer for ever), a device or a socket
    as a source: refused at once as an invalid parameter."""
    import socket
    for name in ("pipe.dll", "null.dll", "sock.dll"):
        c = box.fresh()
        path = os.path.join(c.app, name)
        if name == "pipe.dll":
            os.mkfifo(path)
        elif name == "null.dll":
            os.symlink("/dev/null", path)
        else:
            listener = socket.socket(socket.AF_UNIX)
            listener.bind(path)
        c.manifest([("A", {"FileName": name, "Duplix": "Y"})])
        r = Run(c, watch=COPY_ERROR)
        assert r.killed_at and r.killed_at.endswith(" 87 Invalid parameter"), (name, r.killed_at)


def case_program_parameters_of_ten_megabytes(box):
    # Wine passes a command line of any length; Windows stops at 32767
    # characters, Linux at 128 KiB for one argument.
    c = box.fresh()
    record = os.path.join(c.dir, "record.txt")
    c.t.program(os.path.join(c.app, "setup.exe"), record)
    c.write("app/Tarvex.INI", "[Setup]\r\nFileName=setup.exe\r\nDuplix=Y\r\nExecuteFile=Y\r\n"
            "Parameters=" + "p" * (10 << 20) + "\r\n")
    r = Run(c, deployed={"agent/setup.exe"})
    line = r.lines[4]
    assert line.startswith("ERR : Sub - subDuplix FileName - setup.exe "), r.lines
    # The system refuses an argument that long; the line must say so.
    assert not line.endswith("Internal error"), "unclear log line: %r" % line
    r.failed_with(line, "Failed to Execute/Register File " + c.agent_n("setup.exe") + "; ")


def case_registry_file_with_broken_lines(box):
    c = box.fresh()
    box.registry_changed = True
    c.write("app/a.txt", "a")
    c.manifest([("A", {"FileName": "a.txt", "Duplix": "Y"})])
    agent = c.agent.encode()
    with open(c.t.regfile, "wb") as f:
        f.write(b"Windows Registry Editor Version 5.00\r\n\r\n"
                b"garbage \x00\xff\xfe line\r\n"
                b"[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR\r\n"        # no ']'
                b"\"REGID\"=\"unclosed\r\n"
                b"[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\r\n"
                b"\"Broken\r\n=no name\r\n"
                b"\"InstallationPath\"=\"" + agent + b"\"\r\n"
                b"\"REGID\"=dword:zz\r\n"
                b"\"REGID\"=\"REG-42\"\r\n"
                b"\"x\"=hex:zz,\\\r\n"                      # goes on into the next line
                b"\"tail\"=\"\x00\x01")
    r = Run(c, deployed={"agent/a.txt"})
    expect(r.code, 0, "exit code")
    expect(r.lines[2], "MSG : Successfully retrieved VELMOR Info. Installation Path - " +
           c.agent_n("") + " and RegID - REG-42", "log")

    os.remove(os.path.join(c.agent, "PMStatus", "Duplix.ini"))

    # Nothing but junk: the key is not there.
    with open(c.t.regfile, "wb") as f:
        f.write(bytes(range(256)) * 64)
    r = Run(c)
    expect(r.code, 1, "exit code")
    expect(r.lines[2:4], [
        "ERR : Unable to locate VELMOR registry entries for Results folder. RetVal - 2",
        "MSG : Failed to retrieve VELMOR Info. Installation Path -  and RegID - "], "log")

    # A folder where the file should be cannot be read.
    os.remove(c.t.regfile)
    os.makedirs(c.t.regfile)
    r = Run(c)
    expect(r.code, 1, "exit code")
    expect(r.lines[2], "ERR : Unable to open VELMOR registry entries for Results folder. "
           "RetVal - 5", "log")
    os.rmdir(c.t.regfile)
    expect(c.exists("app/Duplix.ini") or c.exists("agent/PMStatus/Duplix.ini"), False,
           "status file without an agent")


def case_non_ascii_names(box):
    c = box.fresh()
    if box.t.name == "posix":
        name, folder, section, pid, enc = "résumé-日本語 ✓.txt", "Dossier é", "Données ✓", \
            "PID-é", "utf-8"
    else:
        # The ANSI code page of the prefix (1252): what it cannot hold is lost.
        name, folder, section, pid, enc = "résumé façade.txt", "Dossier é", "Données", \
            "PID-e", "cp1252"
    c.write("app/" + name, "non-ascii bytes")
    c.write("app/Tarvex.INI", ("[%s]\r\nFileName=%s\r\nFilePath=%s\\\r\nDuplix=Y\r\n"
                               % (section, name, folder)).encode(enc))
    os.makedirs(os.path.join(c.agent, folder))
    r = Run(c, args=(pid,), deployed={os.path.join("agent", folder, name)})
    expect(r.code, 0, "exit code")
    if box.t.name == "posix":
        expect(r.lines[1], "MSG : CommandLine Parameter Received " + pid, "log")
        expect(r.lines[3], "MSG : Successfully Copied File " + c.app_n(name) + " to " +
               c.agent_n(folder + c.t.sep), "log")
        expect(r.status()["PID"], pid, "PID")
    with open(os.path.join(c.agent, folder, name), "rb") as f:
        expect(f.read(), b"non-ascii bytes", "deployed bytes")


def case_long_file_names_keep_their_names(box):
    """Windows hands the copy short (8.3) paths; the target still takes the
    source's own name."""
    c = box.fresh()
    name = "Long Library Name.dat"
    c.write("app/" + name, "long name")
    c.manifest([("Long", {"FileName": name, "FilePath": "Bin Files\\", "Duplix": "Y",
                          "ExecuteFile": "N"})])
    os.makedirs(os.path.join(c.agent, "Bin Files"))
    r = Run(c, deployed={os.path.join("agent", "Bin Files", name)})
    expect(r.code, 0, "exit code")
    expect(sorted(os.listdir(os.path.join(c.agent, "Bin Files"))), [name], "deployed names")


def case_names_at_and_beyond_the_length_limits(box):
    """A name may have 255 bytes (NAME_MAX; the host's limit under Wine
    too), a Linux path 4095 (PATH_MAX with its NUL), a Windows path 259
    (MAX_PATH with its NUL). At the limit a file deploys like any other;
    beyond it the run fails at once with a clear line."""
    c = box.fresh()
    if box.t.name == "posix":
        name = "n" * 251 + ".txt"
        what = "a 255-byte name"
    else:
        name = "n" * (259 - len(c.agent_n("")) - 4) + ".txt"
        expect(len(c.agent_n(name)), 259, "target path length")
        what = "a 259-character target path"
    c.write("app/" + name, "at the limit")
    c.manifest([("Long", {"FileName": name, "Duplix": "Y"})])
    r = Run(c, deployed={"agent/" + name}, watch=COPY_ERROR)
    if r.problems:
        raise AssertionError("%s cannot be deployed: %s" % (what, "; ".join(r.problems)))
    expect(r.code, 0, "exit code")
    with open(os.path.join(c.agent, name), "rb") as f:
        expect(f.read(), b"at the limit", "deployed bytes")

    if box.t.name == "windows":
        # A source within MAX_PATH whose target would pass it: refused as
        # too long, and no temporary file is made.
        c = box.fresh()
        name = "m" * (258 - len(c.app_n("")))
        c.write("app/" + name, "beyond")
        c.manifest([("Long", {"FileName": name, "FilePath": "Bin\\", "Duplix": "Y"})])
        os.makedirs(os.path.join(c.agent, "Bin"))
        assert len(c.agent_n("Bin\\" + name)) >= 260
        r = Run(c, watch=COPY_ERROR)
        assert r.killed_at and r.killed_at.endswith(" 206 Path too long"), r.killed_at

    # A 256-byte name: no such source can exist.
    c = box.fresh()
    name = "n" * 252 + ".txt"
    c.manifest([("Long", {"FileName": name, "Duplix": "Y"})])
    r = Run(c)
    r.failed_with("ERR : File Not Found " + c.app_n(name), c.app_n(name) + " Not Found; ")


def case_paths_at_and_beyond_the_length_limits(box):
    """Linux: PATH_MAX (Windows' MAX_PATH is checked with the names)."""
    # A folder deep enough that a target path reaches 4095 bytes.
    c = box.fresh()
    deep = c.agent
    while len(deep) < 3800:
        deep = os.path.join(deep, "d" * 200)
    os.makedirs(deep)
    rel = os.path.relpath(deep, c.agent).replace("/", "\\") + "\\"
    name = "f" * (4095 - len(deep) - 1)
    c.write("app/" + name, "at the limit")
    c.manifest([("Deep", {"FileName": name, "FilePath": rel, "Duplix": "Y"})])
    target = os.path.relpath(os.path.join(deep, name), c.dir)
    expect(len(os.path.join(deep, name)), 4095, "target path length")
    r = Run(c, deployed={target}, watch=COPY_ERROR)
    if r.problems:
        raise AssertionError("a 4095-byte target path cannot be deployed: %s"
                             % "; ".join(r.problems))
    expect(r.code, 0, "exit code")

    # A target folder of 4096 bytes or more (made step by step, relative to
    # its parent): told as "Path too long". The run is stopped at its first
    # failed attempt; two more would follow, ten seconds apart.
    c = box.fresh()
    os.makedirs(deep)
    folder = os.open(deep, os.O_RDONLY)
    try:
        os.mkdir("e" * 250, dir_fd=folder)
    finally:
        os.close(folder)
    name = "g" * 20
    c.write("app/" + name, "beyond")
    c.manifest([("Deep", {"FileName": name, "FilePath": rel + "e" * 250 + "\\",
                          "Duplix": "Y"})])
    r = Run(c, watch=COPY_ERROR)
    assert r.killed_at and r.killed_at.endswith(" 206 Path too long"), r.killed_at

    # An installation folder beyond the limit: the lookup keeps it, the
    # hand-off says why it fails, the status waits beside the program.
    c = box.fresh()
    box.registry_changed = True
    long_agent = os.path.join(c.dir, "agent", *(["a" * 200] * 21))
    c.registry(InstallationPath=long_agent, REGID="REG-42")
    c.manifest([("Nothing", {"FileName": "x.txt", "Duplix": "N"})])
    r = Run(c)
    expect(r.code, 5, "exit code")
    assert r.lines[-3].startswith(COPY_ERROR) and r.lines[-3].endswith(" 206 Path too long"), \
        r.lines[-3][-80:]
    assert r.lines[-2].startswith("MSG : Failed to Copy PID File "), r.lines[-2][:80]
    expect(c.status("app/Duplix.ini")["LastRunStatusCode"], "SUCCESS", "local status")


case_manifest_of_ten_megabytes_of_sections.only = "posix"
case_program_parameters_of_ten_megabytes.only = "posix"
case_registry_file_with_broken_lines.only = "posix"
case_paths_at_and_beyond_the_length_limits.only = "posix"
case_sources_that_are_not_regular_files.only = "posix"

CASES = [v for k, v in sorted(globals().items()) if k.startswith("case_")]


def main():
    kind = sys.argv[1] if len(sys.argv) > 1 else "posix"
    only = sys.argv[2:]
    t = e2e.Posix() if kind == "posix" else e2e.Windows()
    # A root of its own (short: its names stay valid 8.3 names under Wine).
    t.base = e2e.unique_base(os.path.join(e2e.temp_root(short=kind != "posix"),
                                          "tarvex-bad-" if kind == "posix" else "tx"))
    if os.environ.get("TARVEX_E2E_EXE"):
        t.exe = os.environ["TARVEX_E2E_EXE"]
    return e2e.run_cases(CASES, kind, t, Box(t), only, "bad input")


if __name__ == "__main__":
    sys.exit(main())
