#!/usr/bin/env python3
"""End-to-end tests: the real program in a sandbox, on either build.

    tarvex_e2e.py posix   build/posix/Tarvex, natively
    tarvex_e2e.py windows build/windows/Tarvex.exe under Wine (WINEPREFIX must
                          name an initialised private prefix)

TARVEX_E2E_EXE names another program to test; TARVEX_E2E_HELPERS another
folder of Windows helper programs (a 64-bit build needs 64-bit helpers).

Each case lays out an application folder (the program and its manifest), an
agent installation folder with PMStatus, and the agent's registry values,
runs one deployment and compares the whole run log and the status file.
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCHEMA = os.path.join(ROOT, "package", "run-report.schema.json")
_validator = None


def validate_report(app):
    """The run report a run left, against its published schema (by
    python3-jsonschema); returns it, or None where there is none."""
    global _validator
    path = os.path.join(app, "Duplix.json")
    if not os.path.exists(path):
        return None
    if _validator is None:
        import jsonschema
        with open(SCHEMA) as f:
            _validator = jsonschema.Draft202012Validator(json.load(f))
    with open(path, "rb") as f:
        report = json.loads(f.read().decode("utf-8"))
    # A report of many entries is held to the schema by its first and last
    # 5 000: the validator takes a minute over 400 000.
    checked = dict(report)
    if len(report.get("entries", [])) > 10000:
        checked["entries"] = report["entries"][:5000] + report["entries"][-5000:]
    errors = sorted(_validator.iter_errors(checked), key=lambda e: list(e.path))
    if errors:
        raise AssertionError("Duplix.json does not fit its schema: %s at %s" %
                             (errors[0].message, list(errors[0].path)))
    return report
STAMP = re.compile(r"^(MSG : Application (Started|Stopped) ).+$")


def crlf_lines(data):
    text = data.decode("utf-8", "replace")
    assert text.endswith("\r\n") or text == "", "log does not end in CR LF: %r" % text[-20:]
    assert "\n" not in text.replace("\r\n", ""), "bare LF in log"
    return text.split("\r\n")[:-1]


def parse_ini(text):
    sections, current = {}, None
    for line in text.replace("\r\n", "\n").split("\n"):
        line = line.lstrip()
        if line.startswith("[") and line.rstrip().endswith("]"):
            line = line.rstrip()
            current = sections.setdefault(line[1:-1], {})
        elif "=" in line and current is not None:
            k, v = line.split("=", 1)
            current.setdefault(k.strip(), v.lstrip())
    return sections


def temp_root(short=False):
    """The folder for sandboxes: $TMPDIR or /tmp. Under Wine (short) only one
    whose every name is a valid 8.3 name will do: the logs show short paths."""
    root = tempfile.gettempdir()
    names = [n for n in root.split("/") if n]
    if short and not all(re.fullmatch(r"[A-Za-z0-9_-]{1,8}", n) for n in names):
        return "/tmp"
    return root


def unique_base(prefix):
    """A fresh sandbox root per run; short, so its names are valid 8.3 names."""
    n = os.getpid() % 1000000
    while os.path.exists(prefix + "%06d" % n):
        n = (n + 1) % 1000000
    return prefix + "%06d" % n


class Posix:
    name = "posix"
    sep = "/"

    def __init__(self):
        self.exe = os.environ.get("TARVEX_E2E_EXE") or os.path.join(ROOT, "build/posix/Tarvex")
        self.check_exe = (os.environ.get("TARVEX_E2E_CHECK") or
                          os.path.join(ROOT, "build/posix/tarvex-check"))
        self.base = unique_base(os.path.join(temp_root(), "tarvex-e2e-"))

    def native(self, path):
        return path

    def short(self, path):
        return path

    def prepare(self, sandbox):
        self.sandbox = sandbox
        self.bin = os.path.join(sandbox, "bin")
        os.makedirs(self.bin)
        self.regsvr_log = os.path.join(sandbox, "regsvr32.log")
        with open(os.path.join(self.bin, "Regsvr32"), "w") as f:
            # With REGSVR_UNREGISTER_MS an unregistration takes that long
            # and records its end.
            f.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s"\n'
                    'if [ "$2" = -u ] && [ -n "$REGSVR_UNREGISTER_MS" ]; then\n'
                    '  sleep $((REGSVR_UNREGISTER_MS / 1000)).$(printf %%03d'
                    ' $((REGSVR_UNREGISTER_MS %% 1000)))\n'
                    '  echo "unregistered" >> "%s"\nfi\n'
                    'exit "${REGSVR_EXIT:-0}"\n' % (self.regsvr_log, self.regsvr_log))
        os.chmod(os.path.join(self.bin, "Regsvr32"), 0o755)
        self.regfile = os.path.join(sandbox, "registry.reg")
        self.env = dict(os.environ, PATH=self.bin + ":" + os.environ.get("PATH", ""),
                        TARVEX_REGISTRY=self.regfile, LC_ALL="C")
        self.env.pop("REGSVR_EXIT", None)
        self.env.pop("REGSVR_UNREGISTER_MS", None)
        return "Tarvex"

    def set_registry(self, values):
        if values is None:
            if os.path.exists(self.regfile):
                os.remove(self.regfile)
            return
        lines = ["Windows Registry Editor Version 5.00", "",
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]"]
        for k, v in values.items():
            if isinstance(v, tuple):
                lines.append('"%s"=%s' % (k, v[1]))
            else:
                lines.append('"%s"="%s"' % (k, v.replace("\\", "\\\\").replace('"', '\\"')))
        with open(self.regfile, "w") as f:
            f.write("\r\n".join(lines) + "\r\n")

    def program(self, path, record):
        """A deployable program that records its arguments; it behaves as the
        Windows helper does under TARVEX_SLEEP_MS, TARVEX_CHILD_MS and
        TARVEX_EXIT_CODE (of which POSIX keeps the low 8 bits)."""
        with open(path, "w") as f:
            f.write('#!/bin/sh\nfor a in "$@"; do printf "[%%s]" "$a"; done >> "%s"\n'
                    'echo >> "%s"\n'
                    'if [ -n "$TARVEX_CHILD_MS" ]; then\n'
                    '  TARVEX_SLEEP_MS=$TARVEX_CHILD_MS TARVEX_CHILD_MS= "$0" child'
                    ' </dev/null >/dev/null 2>&1 &\nfi\n'
                    'if [ -n "$TARVEX_SLEEP_MS" ]; then\n'
                    '  sleep $((TARVEX_SLEEP_MS / 1000)).$(printf %%03d $((TARVEX_SLEEP_MS %% 1000)))\n'
                    '  echo done >> "%s"\nfi\n'
                    'exit "${TARVEX_EXIT_CODE:-0}"\n' % (record, record, record))
        os.chmod(path, 0o755)

    def library(self, path):
        with open(path, "wb") as f:
            f.write(b"library bytes")

    def stored(self, value):
        return value

    def registered(self):
        if not os.path.exists(self.regsvr_log):
            return []
        with open(self.regsvr_log) as f:
            return f.read().splitlines()

    def registration_calls(self, target):
        return ["-s " + target]

    def fail_registration(self):
        self.env["REGSVR_EXIT"] = "3"

    def slow_unregistration(self, ms):
        self.env["REGSVR_UNREGISTER_MS"] = str(ms)

    def command(self, app, args):
        return [os.path.join(app, "Tarvex")] + args

    def run(self, app, args, preexec=None):
        p = subprocess.run(self.command(app, args), env=self.env, cwd=self.sandbox, timeout=120,
                           stdin=subprocess.DEVNULL, preexec_fn=preexec)
        validate_report(app)
        return p.returncode

    def check(self, args):
        """The package checker: (exit code, standard output lines)."""
        p = subprocess.run([self.check_exe] + args, env=self.env, cwd=self.sandbox,
                           timeout=120, stdin=subprocess.DEVNULL, capture_output=True)
        return p.returncode, p.stdout.decode("utf-8", "replace").splitlines()


class Windows:
    name = "windows"
    sep = "\\"

    def __init__(self):
        self.exe = os.environ.get("TARVEX_E2E_EXE") or os.path.join(ROOT, "build/windows/Tarvex.exe")
        self.check_exe = os.path.join(os.path.dirname(self.exe), "TarvexCheck.exe")
        self.helpers = (os.environ.get("TARVEX_E2E_HELPERS") or
                        os.path.join(ROOT, "build/wine-helpers"))
        self.base = unique_base(os.path.join(temp_root(short=True), "tx"))
        self.env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        assert "WINEPREFIX" in self.env, "WINEPREFIX not set"
        # Only a 64-bit prefix has a folder for 32-bit programs (its registry
        # files may not be written yet just after the prefix is made).
        self.win64 = os.path.isdir(os.path.join(self.env["WINEPREFIX"],
                                                "drive_c/Program Files (x86)"))
        # The test library registers itself in its own build's view; the
        # agent's key is always read from the 32-bit view.
        with open(self.exe, "rb") as f:
            data = f.read(4096)
        machine = struct.unpack_from("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4)[0]
        self.own_view = "/reg:64" if machine == 0x8664 else "/reg:32"

    def native(self, path):
        return "Z:" + path.replace("/", "\\")

    def short(self, path):
        return self.native(path)

    def wine(self, *args, check=True):
        """A Wine tool of the test's own (reg), not the program under test.
        Wine now and then fails to load the tool at all ("could not be
        started"); that start alone is tried again."""
        for attempt in range(3):
            p = subprocess.run(["wine"] + list(args), env=self.env, capture_output=True,
                               timeout=120, stdin=subprocess.DEVNULL)
            if b"could not be started" not in p.stdout + p.stderr:
                break
            time.sleep(1)
        if check and p.returncode != 0:
            raise AssertionError("wine %s: %s %s" % (args, p.stdout, p.stderr))
        return p

    def prepare(self, sandbox):
        self.sandbox = sandbox
        self.record = os.path.join(sandbox, "record.txt")
        self.env["TARVEX_RECORD"] = self.native(self.record)
        self.env.pop("TARVEX_EXIT_CODE", None)
        self.env.pop("TARVEX_REGTEST_FAIL", None)
        self.env.pop("TARVEX_REGTEST_UNREGISTER_MS", None)
        self.wine("reg", "delete", "HKLM\\SOFTWARE\\TarvexTest", "/f", self.own_view,
                  check=False)
        return "Tarvex.exe"

    def set_registry(self, values):
        self.wine("reg", "delete", "HKLM\\SOFTWARE\\VELMOR", "/f", "/reg:32", check=False)
        if values is None:
            return
        self.wine("reg", "add", "HKLM\\SOFTWARE\\VELMOR", "/f", "/reg:32")
        for k, v in values.items():
            if isinstance(v, tuple):
                self.wine("reg", "add", "HKLM\\SOFTWARE\\VELMOR", "/v", k, "/t", v[0], "/d",
                          v[2], "/f", "/reg:32")
            else:
                self.wine("reg", "add", "HKLM\\SOFTWARE\\VELMOR", "/v", k, "/t", "REG_SZ",
                          "/d", v, "/f", "/reg:32")

    def program(self, path, record):
        shutil.copy(os.path.join(self.helpers, "recorder.exe"), path)
        self.env["TARVEX_RECORD"] = self.native(record)

    def library(self, path):
        shutil.copy(os.path.join(self.helpers, "regtest.dll"), path)

    def registered(self):
        p = self.wine("reg", "query", "HKLM\\SOFTWARE\\TarvexTest", "/v", "Registered",
                      self.own_view, check=False)
        return ["registered"] if p.returncode == 0 and b"Registered" in p.stdout else []

    def registration_calls(self, target):
        return ["registered"]

    def fail_registration(self):
        self.env["TARVEX_REGTEST_FAIL"] = "1"

    def slow_unregistration(self, ms):
        self.env["TARVEX_REGTEST_UNREGISTER_MS"] = str(ms)

    def command(self, app, args):
        return ["wine", os.path.join(app, "Tarvex.exe")] + args

    def run(self, app, args):
        command = self.command(app, args)
        if any('"' in a for a in args):
            # Wine escapes quotes in the arguments it is handed; a batch file
            # passes the command line as written.
            bat = os.path.join(self.sandbox, "run.bat")
            with open(bat, "w") as f:
                f.write('@"%s" %s\r\n@exit %%ERRORLEVEL%%\r\n'
                        % (self.native(os.path.join(app, "Tarvex.exe")), " ".join(args)))
            command = ["wine", "cmd", "/c", self.native(bat)]
        p = subprocess.run(command, env=self.env, cwd=self.sandbox, capture_output=True,
                           timeout=300, stdin=subprocess.DEVNULL)
        validate_report(app)
        return p.returncode

    def check(self, args):
        p = self.wine(self.check_exe, *args, check=False)
        return p.returncode, p.stdout.decode("utf-8", "replace").replace("\r\n", "\n").splitlines()

    # Wine's profile writer rewrites the whole file and drops trailing blanks.
    def stored(self, value):
        return value.rstrip(" ")


class Case:
    """One sandbox: app/ holds the program, agent/ is the installation folder."""

    count = 0

    def __init__(self, target, name):
        self.t = target
        Case.count += 1
        # Under Wine, names that are valid short names keep the logged paths
        # free of generated 8.3 forms.
        if target.name == "windows":
            name = "c%02d" % Case.count
        self.dir = os.path.join(target.base, name)
        if os.path.exists(self.dir):
            shutil.rmtree(self.dir)
        os.makedirs(self.dir)
        exe_name = target.prepare(self.dir)
        self.app = os.path.join(self.dir, "app")
        self.agent = os.path.join(self.dir, "agent")
        os.makedirs(self.app)
        os.makedirs(os.path.join(self.agent, "PMStatus"))
        shutil.copy(target.exe, os.path.join(self.app, exe_name))
        self.registry(InstallationPath=target.native(self.agent), REGID="REG-42")

    # -- layout
    def registry(self, **values):
        self.t.set_registry(values)

    def no_registry(self):
        self.t.set_registry(None)

    def manifest(self, sections):
        text = ""
        for name, keys in sections:
            text += "[%s]\r\n" % name
            for k, v in keys.items():
                text += "%s=%s\r\n" % (k, v)
        self.write("app/Tarvex.INI", text)

    def write(self, rel, data):
        path = os.path.join(self.dir, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb" if isinstance(data, bytes) else "w") as f:
            f.write(data)
        return path

    # -- paths as the program writes them
    def n(self, rel=""):
        return self.t.native(os.path.join(self.dir, rel) if rel else self.dir)

    def app_n(self, name=""):
        return self.t.native(self.app) + (self.t.sep + name if name else "")

    def agent_n(self, rel=""):
        return self.t.native(self.agent) + self.t.sep + rel

    # -- running and reading
    def run(self, *args):
        self.code = self.t.run(self.app, list(args))
        return self.code

    def start(self, *args, **env):
        """Starts a run in the background; env is added to the environment."""
        return subprocess.Popen(self.t.command(self.app, list(args)),
                                env=dict(self.t.env, **env), cwd=self.t.sandbox,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def log(self):
        with open(os.path.join(self.app, "Duplix.log"), "rb") as f:
            lines = crlf_lines(f.read())
        out = []
        for line in lines:
            m = STAMP.match(line)
            out.append(m.group(1) + "<time>" if m else line)
        return out

    def status(self, where="agent/PMStatus/Duplix.ini"):
        path = os.path.join(self.dir, where)
        with open(path, "rb") as f:
            data = f.read()
        return parse_ini(data.decode("utf-8", "replace")).get("STATUS_INFO")

    def exists(self, rel):
        return os.path.exists(os.path.join(self.dir, rel))


def expect(actual, wanted, what="value"):
    if actual != wanted:
        raise AssertionError("%s differs:\n  got:  %r\n  want: %r" % (what, actual, wanted))


def head(c, pid="4711"):
    return ["MSG : Application Started <time>", "MSG : CommandLine Parameter Received " + pid,
            "MSG : Successfully retrieved VELMOR Info. Installation Path - " + c.agent_n("") +
            " and RegID - REG-42"]


def tail(c):
    pid = c.t.short(c.app) + c.t.sep + "Duplix.ini"
    return ["MSG : Successfully Copied PID File " + pid + " to " + c.agent_n("PMStatus" + c.t.sep),
            "MSG : Successfully Deleted PID File " + pid, "MSG : Application Stopped <time>"]


# ---------------------------------------------------------------- cases

def case_no_parameter(t):
    c = Case(t, "noparam")
    expect(c.run(), 2, "exit code")
    expect(c.log(), ["MSG : Application Started <time>", "ERR : Invalid CommandLine Parameter ",
                     "MSG : Application Stopped <time>"], "log")
    expect(c.exists("app/Duplix.ini"), False, "status file made")
    c.run('" "', '""')
    expect(c.log()[1], "ERR : Invalid CommandLine Parameter ", "quotes only")
    expect(c.code, 2, "exit code")


def case_quoted_parameter_and_agent_missing(t):
    c = Case(t, "agentmissing")
    c.no_registry()
    expect(c.run('"12"', "34"), 1, "exit code")
    expect(c.log(), ["MSG : Application Started <time>",
                     "MSG : CommandLine Parameter Received 12 34",
                     "ERR : Unable to locate VELMOR registry entries for Results folder. RetVal - 2",
                     "MSG : Failed to retrieve VELMOR Info. Installation Path -  and RegID - ",
                     "MSG : Application Stopped <time>"], "log")
    expect(c.exists("app/Duplix.ini"), False, "status file made")


def case_log_cannot_be_created(t):
    c = Case(t, "nolog")
    os.makedirs(os.path.join(c.app, "Duplix.log"))
    c.manifest([("A", {"FileName": "a.txt", "Duplix": "Y"})])
    c.write("app/a.txt", "a")
    expect(c.run("1"), 3, "exit code")
    expect(c.exists("app/Duplix.ini") or c.exists("agent/a.txt"), False, "work done")


def case_log_that_is_a_link_or_read_only(t):
    """Neither is written: the run ends at once (3), also for root."""
    c = Case(t, "loglink")
    log = c.write("app/Duplix.log", "earlier log")
    os.chmod(log, 0o444)
    expect(c.run("1"), 3, "exit code, read-only log")
    expect(open(log).read(), "earlier log", "read-only log")
    if t.name == "posix":
        os.remove(log)
        os.symlink(c.write("other.txt", "another file"), log)
        expect(c.run("1"), 3, "exit code, log a link")
        expect(open(log).read(), "another file", "file behind the link")
    expect(c.exists("app/Duplix.ini"), False, "status file made")


def case_second_run_replaces_log(t):
    c = Case(t, "rerun")
    c.run("1")
    c.run()
    expect(len(c.log()), 3, "lines of the second run")


def case_library_success(t):
    c = Case(t, "library")
    t.library(os.path.join(c.app, "tool.dll"))
    c.manifest([("Tool", {"FileName": "tool.dll", "FilePath": "Bin\\", "Duplix": "Y",
                          "ExecuteFile": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    expect(c.run("4711"), 0, "exit code")
    target = c.agent_n("Bin" + t.sep + "tool.dll")
    expect(c.log(), head(c) + [
        "MSG : Successfully Copied File " + c.app_n("tool.dll") + " to " + c.agent_n("Bin" + t.sep),
        "MSG : Successfully Executed/Registered File " + target] + tail(c), "log")
    s = c.status()
    expect(list(s.keys()), ["REGID", "Desc", "PID", "SysID", "LastRunDateTime",
                            "NextRunDateTime", "LastRunStatusCode"], "status keys")
    expect((s["REGID"], s["Desc"], s["PID"], s["SysID"], s["LastRunStatusCode"]),
           ("REG-42", "", "4711", "", "SUCCESS"), "status values")
    assert re.match(r"^\d\d/\d\d/\d{4} \d\d.\d\d.\d\d [AP]M$", s["LastRunDateTime"]), s
    expect(c.exists("app/Duplix.ini"), False, "local status file kept")
    expect(t.registered(), t.registration_calls(target), "registrations")


def case_unregistration_ends_before_the_copy(t):
    """A slow unregistration has ended before the new library is copied and
    registered: it cannot undo the registration."""
    c = Case(t, "slowunreg")
    t.library(os.path.join(c.app, "tool.dll"))
    c.manifest([("Tool", {"FileName": "tool.dll", "FilePath": "Bin\\", "Duplix": "Y",
                          "ExecuteFile": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    expect(c.run("1"), 0, "first run")
    t.slow_unregistration(1500)
    expect(c.run("2"), 0, "second run")
    target = c.agent_n("Bin" + t.sep + "tool.dll")
    if t.name == "posix":
        expect(t.registered(), ["-s " + target, "-s -u " + target, "unregistered",
                                "-s " + target], "registration tool calls")
    else:
        expect(t.registered(), ["registered"], "registered after the second run")


def case_the_file_run_is_the_file_copied(t):
    """A FileName with a folder: the copy keeps the last part, and that file is run."""
    c = Case(t, "subfolder")
    record = os.path.join(c.dir, "record.txt")
    os.makedirs(os.path.join(c.app, "sub"))
    t.program(os.path.join(c.app, "sub", "setup.exe"), record)
    c.manifest([("Setup", {"FileName": "sub\\setup.exe", "FilePath": "Bin\\", "Duplix": "Y",
                           "ExecuteFile": "Y", "Parameters": "/q"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    expect(c.run("1"), 0, "exit code")
    expect(c.log()[3:5], [
        "MSG : Successfully Copied File " + c.app_n("sub" + t.sep + "setup.exe") + " to " +
        c.agent_n("Bin" + t.sep),
        "MSG : Successfully Executed/Registered File " + c.agent_n("Bin" + t.sep + "setup.exe")],
        "log")
    assert "/q" in open(record).read(), "the copied program did not run"


def case_quote_in_a_name(t):
    """A name no command line can quote fails its entry before any copy (123)."""
    c = Case(t, "quote")
    if t.name == "posix":
        c.write('app/a"b.dll', "x")
    c.manifest([("Quote", {"FileName": 'a"b.dll', "Duplix": "Y", "ExecuteFile": "Y"})])
    expect(c.run("1"), 1, "exit code")
    expect(c.log()[3:4], ['ERR : Sub - subDuplix FileName - a"b.dll 123 The filename, '
                          'directory name, or volume label syntax is incorrect'], "log")
    expect(c.status()["Desc"], t.stored("Failed to Copy " + c.app_n('a"b.dll') + " to " +
                                        c.agent_n("") + "; "), "Desc")
    expect(os.listdir(c.agent), ["PMStatus"], "files deployed")
    if t.name == "posix":
        expect(t.registered(), [], "registration tool calls")


def case_program_with_parameters(t):
    c = Case(t, "program")
    record = os.path.join(c.dir, "record.txt")
    t.program(os.path.join(c.app, "setup.exe"), record)
    long_param = "p" * 300
    c.manifest([("Setup", {"FileName": "setup.exe", "FilePath": "Bin Files\\", "Duplix": "y",
                           "ExecuteFile": "Y", "Parameters": "/quiet " + long_param})])
    os.makedirs(os.path.join(c.agent, "Bin Files"))
    expect(c.run("7"), 0, "exit code")
    target = c.agent_n("Bin Files" + t.sep + "setup.exe")
    expect(c.log()[3:5], [
        "MSG : Successfully Copied File " + c.app_n("setup.exe") + " to " +
        c.agent_n("Bin Files" + t.sep),
        "MSG : Successfully Executed/Registered File " + target], "log")
    with open(record) as f:
        got = f.read()
    assert long_param in got and "/quiet" in got, got


def case_registry_values(t):
    c = Case(t, "regvalues")
    c.no_registry()
    c.registry(REGID="REG-42")
    expect(c.run("1"), 1, "exit code")
    expect(c.log()[2:4], [
        "ERR : Failed to read Value in Registry key VELMOR InstallationPath . Retval - 2",
        "MSG : Failed to retrieve VELMOR Info. Installation Path -  and RegID - "], "log")
    c.registry(InstallationPath=t.native(c.agent), REGID="")
    expect(c.run("1"), 1, "exit code")
    expect(c.log()[2:], ["MSG : Failed to retrieve VELMOR Info. Installation Path - " +
                         c.agent_n("") + " and RegID - ", "MSG : Application Stopped <time>"],
           "log")


def case_no_manifest_and_no_sections(t):
    c = Case(t, "nomanifest")
    expect(c.run("1"), 1, "exit code")
    expect(c.log(), head(c, "1") + [
        "ERR : File Not Found " + t.short(c.app) + t.sep + "Tarvex.INI"] + tail(c), "log")
    expect(c.status()["Desc"], t.stored("Tarvex.ini Not Found; "), "Desc")
    c.write("app/Tarvex.INI", "; nothing here\r\n")
    expect(c.run("1"), 1, "exit code")
    expect(c.log()[3], "ERR : File Info Not Found in Tarvex.ini", "log")
    expect(c.status()["Desc"], t.stored("File Info Not Found in Tarvex.ini; "), "Desc")
    expect(c.status()["LastRunStatusCode"], "FAILED", "status")


def case_second_of_three_fails(t):
    c = Case(t, "threesections")
    c.write("app/one.txt", "1")
    c.write("app/three.txt", "3")
    c.manifest([("One", {"FileName": "one.txt", "Duplix": "Y"}),
                ("Two", {"FileName": "two.txt", "Duplix": "Y"}),
                ("Three", {"FileName": "three.txt", "Duplix": "Y"})])
    expect(c.run("9"), 1, "exit code")
    expect(c.log(), head(c, "9") + [
        "MSG : Successfully Copied File " + c.app_n("one.txt") + " to " + c.agent_n(""),
        "ERR : File Not Found " + c.app_n("two.txt")] + tail(c), "log")
    expect(c.status()["Desc"], t.stored(c.app_n("two.txt") + " Not Found; "), "Desc")
    expect(c.exists("agent/three.txt"), False, "third deployed")


def case_flags_and_kinds(t):
    c = Case(t, "flags")
    c.write("app/a.txt", "a")
    c.manifest([("Off", {"FileName": "a.txt", "Duplix": "yes", "ExecuteFile": ""}),
                ("Text", {"FileName": "a.txt", "Duplix": "y", "ExecuteFile": "Y"})])
    expect(c.run("5"), 1, "exit code")
    target = c.agent_n("a.txt")
    expect(c.log()[3:5], [
        "MSG : Successfully Copied File " + c.app_n("a.txt") + " to " + c.agent_n(""),
        "MSG : Failed to Execute/Register File " + target], "log")
    expect(c.status()["Desc"], t.stored("Failed to Execute/Register File " + target + "; "), "Desc")


def case_pmstatus_missing_then_stale_file_reused(t):
    c = Case(t, "stale")
    c.manifest([("Off", {"FileName": "x", "Duplix": "N"})])
    os.rmdir(os.path.join(c.agent, "PMStatus"))
    # The agent learns nothing: exit 5, whatever the status.
    c.manifest([("Gone", {"FileName": "gone.txt", "Duplix": "Y"})])
    expect(c.run("0"), 5, "exit code, FAILED not handed over")
    expect(c.status("app/Duplix.ini")["LastRunStatusCode"], "FAILED", "local status")
    c.manifest([("Off", {"FileName": "x", "Duplix": "N"})])
    expect(c.run("1"), 5, "exit code, SUCCESS not handed over")
    log = c.log()
    pid = t.short(c.app) + t.sep + "Duplix.ini"
    expect(log[-2], "MSG : Failed to Copy PID File " + pid + " to " + c.agent_n("PMStatus" + t.sep),
           "log")
    assert log[-3].startswith("ERR : Function - fncDuplix. Source Path - "), log
    expect(c.status("app/Duplix.ini")["PID"], "1", "local status")
    os.makedirs(os.path.join(c.agent, "PMStatus"))
    expect(c.run("2"), 0, "exit code")
    expect(c.status()["PID"], "2", "reused status")
    expect(c.exists("app/Duplix.ini"), False, "local status kept")


def case_program_cannot_start(t):
    c = Case(t, "nostart")
    c.write("app/broken.exe", "not a program")
    c.write("app/later.txt", "x")
    c.manifest([("Broken", {"FileName": "broken.exe", "Duplix": "Y", "ExecuteFile": "Y"}),
                ("Later", {"FileName": "later.txt", "Duplix": "Y"})])
    expect(c.run("1"), 1, "exit code")
    log = c.log()
    assert log[4].startswith("ERR : Sub - subDuplix FileName - broken.exe "), log
    expect(c.status()["Desc"], t.stored("Failed to Execute/Register File " +
           c.agent_n("broken.exe") + "; "), "Desc")
    expect(c.exists("agent/later.txt"), False, "later entry deployed")


def case_failing_registration(t):
    c = Case(t, "badreg")
    t.library(os.path.join(c.app, "tool.dll"))
    t.fail_registration()
    c.manifest([("Tool", {"FileName": "tool.dll", "Duplix": "Y", "ExecuteFile": "Y"})])
    expect(c.run("1"), 1, "exit code")
    target = c.agent_n("tool.dll")
    expect(c.log()[4], "MSG : Failed to Execute/Register File " + target, "log")
    expect(c.status()["LastRunStatusCode"], "FAILED", "status")


def case_sigchld_ignored_by_the_starter(t):
    """An ignored SIGCHLD, inherited through exec, still lets registrations be judged."""
    import signal
    c = Case(t, "sigchld")
    t.library(os.path.join(c.app, "tool.dll"))
    c.manifest([("Tool", {"FileName": "tool.dll", "Duplix": "Y", "ExecuteFile": "Y"})])
    ignore = lambda: signal.signal(signal.SIGCHLD, signal.SIG_IGN)
    expect(t.run(c.app, ["1"], ignore), 0, "exit code, registration exits 0")
    t.fail_registration()
    expect(t.run(c.app, ["1"], ignore), 1, "exit code, registration exits 3")


case_sigchld_ignored_by_the_starter.only = "posix"


def case_forty_sections(t):
    c = Case(t, "forty")
    sections = []
    for i in range(40):
        c.write("app/file%02d.txt" % i, str(i))
        sections.append(("Entry number %02d" % i, {"FileName": "file%02d.txt" % i,
                                                    "FilePath": "Files\\", "Duplix": "Y"}))
    os.makedirs(os.path.join(c.agent, "Files"))
    c.manifest(sections)
    expect(c.run("40"), 0, "exit code")
    expect(len(os.listdir(os.path.join(c.agent, "Files"))), 40, "files deployed")
    expect(len(c.log()), 3 + 40 + 3, "log lines")


def case_checker_passes_what_a_run_deploys(t):
    """A clean package: the checker shows the plan and exits 0, and a run ends SUCCESS."""
    c = Case(t, "checkclean")
    t.library(os.path.join(c.app, "tool.dll"))
    t.program(os.path.join(c.app, "setup.exe"), os.path.join(c.dir, "record.txt"))
    c.manifest([("Tool", {"FileName": "tool.dll", "FilePath": "Bin\\", "Duplix": "Y",
                          "ExecuteFile": "Y"}),
                ("Setup", {"FileName": "setup.exe", "FilePath": "Bin\\", "Duplix": "Y",
                           "ExecuteFile": "Y", "Parameters": "/quiet"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    folder = c.agent_n("Bin" + t.sep)
    expect(t.check(["--install", c.agent_n(""), c.app_n()]), (0, [
        "[Tool] copy tool.dll to %s (unregistering the installed library first), then "
        "register %stool.dll" % (folder, folder),
        "[Setup] copy setup.exe to %s, then run %ssetup.exe with /quiet" % (folder, folder),
        "0 errors, 0 warnings"]), "checker")
    expect(c.run("4711"), 0, "exit code")
    expect(c.status()["LastRunStatusCode"], "SUCCESS", "status")


def case_checker_broken_package(t):
    """Findings as compilers give them, exit 1; exit 2 for a folder that is not there."""
    c = Case(t, "checkbroken")
    c.write("app/tool.dll", "x")
    c.write("app/extra.txt", "x")
    c.write("app/Tarvex.INI", "[Tool]\r\nFileName=tool.dll\r\nFilePath=Bin\r\nDuplix=Yes\r\n"
            "[tool]\r\nFileNam=x\r\n[Gone]\r\nFileName=gone.exe\r\nDuplix=Y\r\n")
    m = c.app_n("Tarvex.INI")
    code, out = t.check([c.app_n()])
    expect((code, out), (1, [
        "[Tool] nothing", "[tool] nothing", "[Gone] copy gone.exe to <install>" + t.sep,
        m + ":0: warning: 'extra.txt' is in the package folder but no entry names it",
        m + ":3: error: FilePath 'Bin' does not end with '\\': a run glues folder and file name "
        "together (<install>%sBintool.dll)" % t.sep,
        m + ":4: error: Duplix=Yes counts as N: only Y (any case) asks for a copy",
        m + ":5: error: section [tool] repeats [Tool] of line 1 (names ignore case): a run reads "
        "only the first, so it deploys that entry again and never reads this one",
        m + ":8: error: source 'gone.exe' is not in the package folder: a run fails this entry",
        "4 errors, 1 warning"]), "checker")
    expect(t.check([c.app_n("missing")])[0], 2, "exit code for a missing folder")
    expect(c.exists("app/Duplix.log") or c.exists("app/Duplix.ini"), False, "checker wrote")


def case_checker_agrees_with_the_run(t):
    """What the checker says of an entry is what a run then does with it:
    (entry, package files, finding or None for no finding, exit code, target)."""
    rows = [
        ({"FileName": "a.txt", "FilePath": "Bin/", "Duplix": "Y"}, ["a.txt"],
         "warning: FilePath 'Bin/' ends with '/'", 0, "agent/Bin/a.txt"),
        ({"FileName": ".\\a.txt", "Duplix": "Y"}, ["a.txt"], None, 0, "agent/a.txt"),
        ({"FileName": "Duplix.ini", "Duplix": "Y"}, [],
         "error: FileName 'Duplix.ini' names one of Tarvex's own files", 0, "agent/Duplix.ini"),
        ({"FileName": 'a"b.txt', "Duplix": "Y"}, [], "error: FileName 'a\"b.txt' holds '\"'",
         1, None),
        ({"FileName": "i.exe", "ExecuteFile": "Y"}, [],
         "warning: ExecuteFile=Y without Duplix=Y on 'i.exe'", 1, None),
    ]
    if t.name == "posix":
        rows.append(({"FileName": "n.exe", "Duplix": "Y", "ExecuteFile": "Y"}, ["n.exe"],
                     "warning: program 'n.exe' has no execute permission", 1, "agent/n.exe"))
    for entry, files, finding, code, target in rows:
        c = Case(t, "agree")
        for name in files:
            c.write("app/" + name, "x")
        c.manifest([("Entry", entry)])
        os.makedirs(os.path.join(c.agent, "Bin"))
        out = t.check([c.app_n()])[1]
        found = [line for line in out if ": error: " in line or ": warning: " in line]
        if finding is None:
            expect(found, [], "findings for %r" % entry)
        else:
            assert any(finding in line for line in found), (entry, out)
        expect(c.run("1"), code, "exit code for %r" % entry)
        if target:
            assert c.exists(target), (entry, target, c.log())


def lock_case(t, name, programs):
    """A folder with programs that record to record.txt, one section each."""
    c = Case(t, name)
    c.record = os.path.join(c.dir, "record.txt")
    for p in programs:
        t.program(os.path.join(c.app, p + ".exe"), c.record)
    c.env = {"TARVEX_RECORD": t.native(c.record)}  # the Windows helper's record
    return c


def deploy(c, program):
    c.manifest([("Setup", {"FileName": program + ".exe", "Duplix": "Y", "ExecuteFile": "Y",
                           "Parameters": program})])


def records(c, until=None, timeout=60):
    """The lines recorded so far; with until, waits for a line containing it."""
    deadline = time.time() + timeout
    while True:
        lines = []
        if os.path.exists(c.record):
            with open(c.record) as f:
                lines = [line.strip() for line in f if line.strip()]
        if until is None or any(until in line for line in lines):
            return lines
        assert time.time() < deadline, "nothing recorded %r: %r" % (until, lines)
        time.sleep(0.05)


def finish(p, timeout=120):
    try:
        return p.wait(timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        raise


def case_runs_in_one_folder_take_turns(t):
    c = lock_case(t, "turns", ["setup"])
    deploy(c, "setup")
    runs = [c.start(pid, TARVEX_SLEEP_MS="1000", **c.env) for pid in ("1", "2")]
    expect([finish(p) for p in runs], [0, 0], "exit codes")
    turns = ["end" if line == "done" else "start" for line in records(c)]
    expect(turns, ["start", "end", "start", "end"], "program runs")
    pid = c.status()["PID"]
    expect(c.log(), head(c, pid) + [
        "MSG : Successfully Copied File " + c.app_n("setup.exe") + " to " + c.agent_n(""),
        "MSG : Successfully Executed/Registered File " + c.agent_n("setup.exe")] + tail(c), "log")


def case_killed_runs_and_programs_left_running_block_nothing(t):
    """The lock goes with its run: a program that leaves a child running and
    a run that is killed (its program still running) do not hold up the next
    run, and a run in another folder goes on while one is held."""
    b = lock_case(t, "other", ["setup"])
    a = lock_case(t, "held", ["leave", "wait"])  # both deploy into a's agent folder
    deploy(b, "setup")
    deploy(a, "leave")
    expect(finish(a.start("1", TARVEX_CHILD_MS="60000", **a.env)), 0, "exit code")
    records(a, "child")
    deploy(a, "wait")
    start = time.time()
    held = a.start("2", TARVEX_SLEEP_MS="60000", **a.env)
    records(a, "wait")
    assert time.time() - start < 30, "waited for the child left running"
    expect(finish(b.start("3", **b.env)), 0, "exit code in another folder")
    assert held.poll() is None, "the held run ended"
    held.kill()
    held.wait()
    a.manifest([("Off", {"FileName": "wait.exe", "Duplix": "N"})])
    start = time.time()
    expect(a.run("4"), 0, "exit code after the killed run")
    assert time.time() - start < 30, "waited for the killed run's program"
    expect(a.log(), head(a, "4") + tail(a), "log")


def case_output_pipe_ends_with_the_run(t):
    """A program that leaves a process running holds nothing of Tarvex's
    output: a pipe on it reaches its end when Tarvex exits."""
    c = Case(t, "pipe")
    pid_file = os.path.join(c.dir, "left.pid")
    c.write("app/leave.exe", "#!/bin/sh\nsleep 60 &\necho $! > %s\necho started\n" % pid_file)
    os.chmod(os.path.join(c.app, "leave.exe"), 0o755)
    c.manifest([("Leave", {"FileName": "leave.exe", "Duplix": "Y", "ExecuteFile": "Y"})])
    p = subprocess.Popen(t.command(c.app, ["1"]), env=t.env, cwd=c.dir, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = p.communicate(timeout=20)
        expect((p.returncode, out, err), (0, b"", b""), "exit code and output")
    finally:
        p.kill()
        with open(pid_file) as f:
            os.kill(int(f.read()), 9)


def case_fifos_never_block(t):
    """A FIFO as the status file or as the registry file is an error at once."""
    c = Case(t, "fifo")
    c.manifest([("Off", {"FileName": "x", "Duplix": "N"})])
    os.mkfifo(os.path.join(c.app, "Duplix.ini"))
    expect(c.run("1"), 5, "exit code, status file a FIFO")
    assert "ERR : Failed to Write Status SUCCESS to " + c.app_n("Duplix.ini") in c.log(), c.log()
    os.remove(t.regfile)
    os.mkfifo(t.regfile)
    expect(c.run("1"), 1, "exit code, registry a FIFO")
    expect(c.log()[2], "ERR : Unable to open VELMOR registry entries for Results folder. "
           "RetVal - 5", "log")


case_output_pipe_ends_with_the_run.only = "posix"
case_fifos_never_block.only = "posix"


def case_a_user_who_cannot_write_the_folder_cannot_hold_a_run(t):
    """nobody, who may read the application folder but not write it, holds
    a lock on the folder and tries to open the lock file: the run goes on at once."""
    c = Case(t, "nobody")
    c.manifest([("Off", {"FileName": "x", "Duplix": "N"})])
    expect(c.run("1"), 0, "first run")
    for folder in (c.dir, c.app):
        os.chmod(folder, 0o755)
    as_nobody = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
    lock = os.path.join(c.app, ".Tarvex.lock")
    opened = subprocess.run(as_nobody + ["sh", "-c", "exec 3<'%s'" % lock],
                            capture_output=True, timeout=30)
    assert opened.returncode != 0, "nobody opened the lock file"
    holder = subprocess.Popen(as_nobody + ["flock", "-x", c.app, "sleep", "60"],
                              stdin=subprocess.DEVNULL)
    try:
        time.sleep(0.5)
        start = time.time()
        expect(c.run("2"), 0, "run while nobody holds the folder")
        assert time.time() - start < 20, "the run waited for nobody"
    finally:
        holder.kill()
        holder.wait()


def case_program_at_the_root_runs(t):
    """A program whose folder is the root (here of a chroot) takes its lock
    and deploys."""
    c = Case(t, "root")
    root = os.path.join(c.dir, "root")
    os.makedirs(root)
    for lib in subprocess.run(["ldd", t.exe], capture_output=True, text=True).stdout.split():
        if lib.startswith("/") and os.path.exists(lib):
            os.makedirs(root + os.path.dirname(lib), exist_ok=True)
            shutil.copy(lib, root + lib)
    shutil.copy(t.exe, os.path.join(root, "Tarvex"))
    # No procfs in the chroot: the link a kernel would show stands in.
    os.makedirs(os.path.join(root, "proc/self"))
    os.symlink("/Tarvex", os.path.join(root, "proc/self/exe"))
    os.makedirs(os.path.join(root, "agent/PMStatus"))
    with open(os.path.join(root, "a.txt"), "w") as f:
        f.write("a")
    with open(os.path.join(root, "Tarvex.INI"), "w") as f:
        f.write("[A]\r\nFileName=a.txt\r\nDuplix=Y\r\n")
    with open(os.path.join(root, "registry.reg"), "w") as f:
        f.write('REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\r\n'
                '"InstallationPath"="/agent/"\r\n"REGID"="REG-42"\r\n')
    env = {"TARVEX_REGISTRY": "/registry.reg", "LC_ALL": "C"}
    if "ASAN_OPTIONS" in t.env:
        # A sanitizer build reads its options from /proc/self/environ, and
        # its leak check needs the real /proc: off in the chroot.
        env["ASAN_OPTIONS"] = t.env["ASAN_OPTIONS"] + ":detect_leaks=0"
        with open(os.path.join(root, "proc/self/environ"), "wb") as f:
            f.write(b"".join(("%s=%s" % kv).encode() + b"\0" for kv in env.items()))
    p = subprocess.run([shutil.which("chroot") or "/usr/sbin/chroot", root, "/Tarvex", "1"],
                       capture_output=True, timeout=60, env=env)
    expect(p.returncode, 0, "exit code")
    with open(os.path.join(root, "Duplix.log"), "rb") as f:
        lines = crlf_lines(f.read())
    expect(lines[3:6], ["MSG : Successfully Copied File /a.txt to /agent/",
                        "MSG : Successfully Copied PID File /Duplix.ini to /agent/PMStatus/",
                        "MSG : Successfully Deleted PID File /Duplix.ini"], "log")
    assert os.path.exists(os.path.join(root, "agent/a.txt"))


case_a_user_who_cannot_write_the_folder_cannot_hold_a_run.only = "posix"
case_program_at_the_root_runs.only = "posix"


def case_registry_view_of_a_32_bit_program(t):
    """Only the view that 32-bit programs see is read: on 64-bit Windows the
    agent's values in the 64-bit view alone are not found."""
    if not t.win64:
        return
    c = Case(t, "regview")
    c.manifest([("Off", {"FileName": "x", "Duplix": "N"})])
    c.no_registry()
    key = "HKLM\\SOFTWARE\\VELMOR"
    try:
        for name, value in (("InstallationPath", t.native(c.agent)), ("REGID", "REG-64")):
            t.wine("reg", "add", key, "/v", name, "/d", value, "/f", "/reg:64")
        expect(c.run("1"), 1, "exit code")
        expect(c.log()[2], "ERR : Unable to locate VELMOR registry entries for Results folder. "
               "RetVal - 2", "log")
        c.registry(InstallationPath=t.native(c.agent), REGID="REG-42")
        expect(c.run("1"), 0, "exit code")
        expect(c.log()[2], head(c)[2], "log")
    finally:
        t.wine("reg", "delete", key, "/f", "/reg:64", check=False)


case_registry_view_of_a_32_bit_program.only = "windows"
def case_two_folders_into_one_target_folder_at_once(t):
    """Two runs from two application folders deploy into one folder at the
    same time: neither meets the other's temporary files."""
    c = Case(t, "twofolders")
    exe_name = os.path.basename(os.listdir(c.app)[0])
    second = os.path.join(c.dir, "app2")
    os.makedirs(second)
    shutil.copy(os.path.join(c.app, exe_name), second)
    sections = []
    size = 16 << 20  # each copy lasts longer than the two runs' starts lie apart
    for i in range(4):
        sections.append(("File %d" % i, {"FileName": "f%d.bin" % i, "FilePath": "Shared\\",
                                         "Duplix": "Y"}))
        c.write("app/f%d.bin" % i, b"a" * size)
        c.write("app2/f%d.bin" % i, b"b" * size)
    c.manifest(sections)
    shutil.copy(os.path.join(c.app, "Tarvex.INI"), second)
    os.makedirs(os.path.join(c.agent, "Shared"))
    if t.name == "windows":
        commands = [["wine", os.path.join(a, exe_name), "1"] for a in (c.app, second)]
    else:
        commands = [[os.path.join(a, exe_name), "1"] for a in (c.app, second)]
    runs = [subprocess.Popen(cmd, env=t.env, cwd=c.dir, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for cmd in commands]
    expect([p.wait(timeout=300) for p in runs], [0, 0], "exit codes")
    for folder in (c.app, second):
        with open(os.path.join(folder, "Duplix.log"), "rb") as f:
            lines = crlf_lines(f.read())
        errors = [x for x in lines if x.startswith("ERR")]
        if t.name == "windows":
            # Windows cannot replace a file that the other run holds open
            # (comparing or replacing it): that attempt is refused and retried.
            errors = [x for x in errors
                      if not x.endswith((" 5 Permission denied", " 32 File in use"))]
        expect(errors, [], "error lines")
    for i in range(4):
        with open(os.path.join(c.agent, "Shared", "f%d.bin" % i), "rb") as f:
            data = f.read()
        assert data in (b"a" * size, b"b" * size), "f%d.bin torn" % i
    expect(sorted(os.listdir(os.path.join(c.agent, "Shared"))),
           ["f%d.bin" % i for i in range(4)], "files in the target folder")


def case_unchanged_target_stays_other_bytes_replaced(t):
    c = Case(t, "unchanged")
    c.write("app/data.bin", b"current bytes " * 1000)
    c.manifest([("Data", {"FileName": "data.bin", "FilePath": "Bin\\", "Duplix": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    expect(c.run("1"), 0, "first run")
    target = os.path.join(c.agent, "Bin", "data.bin")
    old = 1000000000 * 10 ** 9  # 2001
    os.utime(target, ns=(old, old))
    before = os.stat(target)
    expect(c.run("2"), 0, "second run")
    expect(c.log()[3], "MSG : Successfully Copied File " + c.app_n("data.bin") + " to " +
           c.agent_n("Bin" + t.sep), "log")
    after = os.stat(target)
    expect((after.st_ino, after.st_mtime_ns), (before.st_ino, old), "identity and time")
    # Same size and time, other bytes: replaced.
    source = os.stat(os.path.join(c.app, "data.bin"))
    with open(target, "wb") as f:
        f.write(b"earlier bytes " * 1000)
    os.utime(target, ns=(source.st_atime_ns, source.st_mtime_ns))
    expect(c.run("3"), 0, "third run")
    with open(target, "rb") as f:
        expect(f.read(), b"current bytes " * 1000, "target bytes")


def case_copy_rules_for_read_only_sources_modes_times_and_owners(t):
    """A read-only source deploys again onto its identical read-only target;
    a read-only target with other bytes is refused; a copy takes the
    source's time of last change; on POSIX the mode loses group and other
    write, a program that lost its execute bit is mended in place and run,
    and a replaced target keeps its owner and group."""
    c = Case(t, "rules")
    data = c.write("app/data.bin", b"sealed media " * 100)
    old = 1000000000 * 10 ** 9  # 2001
    os.utime(data, ns=(old, old))
    sections = [("Data", {"FileName": "data.bin", "FilePath": "Bin\\", "Duplix": "Y"})]
    if t.name == "posix":
        t.program(os.path.join(c.app, "tool.exe"), os.path.join(c.dir, "runs.txt"))
        os.chmod(os.path.join(c.app, "tool.exe"), 0o777)
        sections.append(("Tool", {"FileName": "tool.exe", "FilePath": "Bin\\", "Duplix": "Y",
                                  "ExecuteFile": "Y"}))
    c.manifest(sections)
    os.chmod(data, 0o444)
    os.makedirs(os.path.join(c.agent, "Bin"))
    target = os.path.join(c.agent, "Bin", "data.bin")
    expect(c.run("1"), 0, "first run")
    first = os.stat(target)
    expect(first.st_mtime_ns, old, "the source's time")
    expect(first.st_mode & 0o222, 0, "a read-only source makes a read-only target")
    expect(c.run("2"), 0, "a second run onto the identical read-only target")
    expect(c.log()[3], "MSG : Successfully Copied File " + c.app_n("data.bin") + " to " +
           c.agent_n("Bin" + t.sep), "log")
    expect(os.stat(target).st_ino, first.st_ino, "left in place")
    if t.name == "posix":
        tool = os.path.join(c.agent, "Bin", "tool.exe")
        expect(os.stat(tool).st_mode & 0o7777, 0o755, "0777 becomes 0755")
        inode = os.stat(tool).st_ino
        os.chmod(tool, 0o644)
        expect(c.run("3"), 0, "a run onto a program without its execute bit")
        expect((os.stat(tool).st_ino, os.stat(tool).st_mode & 0o7777), (inode, 0o755),
               "mended in place")
        with open(os.path.join(c.dir, "runs.txt")) as f:
            expect(len(f.read().splitlines()), 3, "runs of the program")
        if os.geteuid() == 0:
            with open(tool, "ab") as f:
                f.write(b"# older\n")
            os.chown(tool, 65534, 65534)
            expect(c.run("4"), 0, "a run that replaces another user's program")
            expect((os.stat(tool).st_uid, os.stat(tool).st_gid), (65534, 65534),
                   "owner and group kept")
    # Other bytes in a read-only target: refused, three times, and kept.
    os.chmod(data, 0o644)
    with open(data, "ab") as f:
        f.write(b"new")
    expect(c.run("5"), 1, "a run onto a read-only target with other bytes")
    with open(target, "rb") as f:
        expect(f.read(), b"sealed media " * 100, "the read-only target")
    expect(c.status()["Desc"], t.stored("Failed to Copy %s to %s; " % (c.app_n("data.bin"),
                                                             c.agent_n("Bin" + t.sep))), "Desc")


def case_durable_copy_under_strace(t):
    """The real program flushes a new file before it replaces the target and
    the folder after, and makes the temporary file exclusively."""
    if not shutil.which("strace"):
        raise AssertionError("strace is missing (scripts/setup installs it)")
    c = Case(t, "strace")
    c.write("app/data.bin", b"durable " * 1000)
    c.manifest([("Data", {"FileName": "data.bin", "FilePath": "Bin\\", "Duplix": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    trace = os.path.join(c.dir, "trace.txt")
    env = dict(t.env)
    if "ASAN_OPTIONS" in env:  # the leak checker cannot run under a tracer
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    p = subprocess.run(["strace", "-f", "-y", "-o", trace, "-e",
                        "trace=openat,fsync,fdatasync,rename,renameat,renameat2",
                        os.path.join(c.app, "Tarvex"), "1"], env=env, cwd=c.dir,
                       stdin=subprocess.DEVNULL, timeout=120)
    expect(p.returncode, 0, "exit code")
    with open(trace) as f:
        calls = f.read().splitlines()
    folder = os.path.join(c.agent, "Bin")
    def first(pattern, after=-1):
        for i, line in enumerate(calls):
            if i > after and re.search(pattern, line):
                return i
        raise AssertionError("no %s after line %d in:\n%s" % (pattern, after, "\n".join(calls)))
    tmp = re.escape(folder + "/.data.bin.")
    made = first(r"openat\(.*" + tmp + r".*O_CREAT\|O_EXCL\|O_NOFOLLOW")
    flushed = first(r"fsync\(\d+<" + tmp, made)
    moved = first(r"rename(at2?)?\(.*" + tmp + r".*data\.bin", flushed)
    first(r"fsync\(\d+<" + re.escape(folder) + r">\)", moved)


case_durable_copy_under_strace.only = "posix"


def case_in_use_identical_program_deploys_again(t):
    c = Case(t, "inuse")
    shutil.copy(os.path.join(t.helpers, "recorder.exe"), os.path.join(c.app, "keep.exe"))
    c.manifest([("Keep", {"FileName": "keep.exe", "FilePath": "Bin\\", "Duplix": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    expect(c.run("1"), 0, "first run")
    record = os.path.join(c.dir, "kept.txt")
    env = dict(t.env, TARVEX_SLEEP_MS="20000", TARVEX_RECORD=t.native(record))
    keep = subprocess.Popen(["wine", os.path.join(c.agent, "Bin", "keep.exe")], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 60
        while not os.path.exists(record) and time.time() < deadline:
            time.sleep(0.1)
        assert os.path.exists(record), "the program did not start"
        expect(c.run("2"), 0, "run over the program in use")
        expect(c.log()[3:4], ["MSG : Successfully Copied File " + c.app_n("keep.exe") + " to " +
                              c.agent_n("Bin" + t.sep)], "log")
    finally:
        keep.wait(timeout=120)


case_in_use_identical_program_deploys_again.only = "windows"


def case_pmstatus_is_the_application_folder(t):
    """The status file is never handed over onto itself, nor lost: PMStatus
    is the application folder (on POSIX also by a link)."""
    for name in ["pmisapp", "pmlink"][:2 if t.name == "posix" else 1]:
        c = Case(t, name)
        pm = os.path.join(c.agent, "PMStatus")
        if name == "pmlink":
            os.rmdir(pm)
            os.symlink(c.app, pm)
        else:
            exe = os.listdir(c.app)[0]
            shutil.move(os.path.join(c.app, exe), os.path.join(pm, exe))
            c.app = pm
        c.write(os.path.join(c.app, "Tarvex.INI"), "[Off]\r\nFileName=x\r\nDuplix=N\r\n")
        expect(c.run("77"), 5, "exit code")
        log = c.log()
        assert log[-3].startswith("ERR : Function - fncDuplix. Source Path - ") and \
            log[-3].endswith(" 5 Permission denied"), log
        assert log[-2].startswith("MSG : Failed to Copy PID File "), log
        s = c.status(os.path.join(c.app, "Duplix.ini"))
        expect((s["PID"], s["LastRunStatusCode"]), ("77", "SUCCESS"), "status file kept")


def pe_resource(data, wanted_type, wanted_id):
    """The bytes of a resource (its first language) in a PE file, or None."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<HxxxxxxxxxxxxH", data, pe + 6)
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    root_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            if address <= rva < address + size:
                return rva - address + raw
        raise AssertionError("RVA %#x in no section" % rva)

    root = offset(root_rva)

    def entry(directory, wanted):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            if wanted is None or name == wanted:
                return target
        return None

    at = root
    for wanted in (wanted_type, wanted_id, None):
        target = entry(at, wanted)
        if target is None:
            return None
        at = root + (target & 0x7FFFFFFF)
    rva, size = struct.unpack_from("<II", data, at)
    return data[offset(rva):offset(rva) + size]


def case_program_file(t):
    """The programs shipped, also when a test build of other code is run:
    Tarvex.exe a 32-bit GUI program, TarvexCheck.exe a 32-bit console
    program, both carrying version 5.00 and an application manifest that
    turns UAC virtualization off (asInvoker) and names the systems up to
    Windows 10 and 11."""
    for name, subsystem in (("Tarvex.exe", 2), ("TarvexCheck.exe", 3)):
        with open(os.path.join(ROOT, "build/windows", name), "rb") as f:
            data = f.read()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        expect(data[pe:pe + 4], b"PE\0\0", name + " PE signature")
        expect(struct.unpack_from("<H", data, pe + 4)[0], 0x14C, name + " machine (i386)")
        expect(struct.unpack_from("<H", data, pe + 24 + 68)[0], subsystem,
               "subsystem (2 GUI, 3 console)")
        fixed = data.find(struct.pack("<I", 0xFEEF04BD))
        assert fixed > 0, "no fixed version information"
        versions = struct.unpack_from("<IIII", data, fixed + 8)
        expect(versions, (0x50000, 0, 0x50000, 0), "FILEVERSION and PRODUCTVERSION")
        for field in ("FileVersion", "ProductVersion"):
            key = (field + "\0").encode("utf-16-le")
            at = data.find(key)
            assert at > 0, field + " missing"
            at += len(key)
            at += (4 - at % 4) % 4  # the value is aligned on 32 bits
            expect(data[at:at + 10].decode("utf-16-le"), "5.00\0", name + " " + field)
        manifest = pe_resource(data, 24, 1)
        assert manifest, name + ": no manifest resource (type 24, id 1)"
        text = manifest.decode("utf-8")
        assert re.search(r'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>', text), \
            text
        for system, guid in (("7", "35138b9a-5d96-4fbd-8e2d-a2440225f93a"),
                             ("8", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38"),
                             ("8.1", "1f676c76-80e1-4239-95bb-83d0f6d0da78"),
                             ("10/11", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")):
            assert '<supportedOS Id="{%s}"/>' % guid in text, name + ": Windows " + system


case_program_file.only = "windows"

CASES = [v for k, v in sorted(globals().items()) if k.startswith("case_")]


def run_cases(cases, kind, target, subject, only, title):
    """Runs the cases for one build on subject; prints "N passed, N failed"."""
    passed = failed = 0
    for case in cases:
        if only and case.__name__[5:] not in only:
            continue
        if getattr(case, "only", kind) != kind:
            continue
        start = time.time()
        try:
            case(subject)
            passed += 1
            print("PASS %-45s %5.1fs" % (case.__name__[5:], time.time() - start))
        except Exception:
            failed += 1
            print("FAIL %s (%.1fs)\n%s" % (case.__name__[5:], time.time() - start,
                                           traceback.format_exc()))
        sys.stdout.flush()
    if not failed:
        shutil.rmtree(target.base, ignore_errors=True)
    else:
        print("sandboxes kept in " + target.base)
    print("%s %s: %d passed, %d failed" % (title, kind, passed, failed))
    return 1 if failed else 0


def main():
    kind = sys.argv[1] if len(sys.argv) > 1 else "posix"
    target = Posix() if kind == "posix" else Windows()
    return run_cases(CASES, kind, target, target, sys.argv[2:], "e2e")


if __name__ == "__main__":
    sys.exit(main())
