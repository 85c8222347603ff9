#!/usr/bin/env python3
"""End-to-end tests of judged programs, time limits, restarts and the run
report, on either build (as tarvex_e2e.py):

    outcome_e2e.py posix | windows [CASE...]

Installers are the test programs of tarvex_e2e.py, told their exit code by
TARVEX_EXIT_CODE (POSIX keeps its low 8 bits: 3010 is 194 there). Every
run's Duplix.json is validated against package/run-report.schema.json.
"""
import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_e2e as e2e  # noqa: E402
from tarvex_e2e import Case, expect, head, tail  # noqa: E402


def package(t, name, entries):
    """Programs a.exe, b.exe, ... into Bin\\, each with the keys given."""
    c = Case(t, name)
    sections = []
    for i, keys in enumerate(entries):
        exe = "%s.exe" % chr(ord("a") + i)
        t.program(os.path.join(c.app, exe), os.path.join(c.dir, "record.txt"))
        sections.append((exe[0].upper(), dict({"FileName": exe, "FilePath": "Bin\\",
                                               "Duplix": "Y", "ExecuteFile": "Y"}, **keys)))
    c.manifest(sections)
    os.makedirs(os.path.join(c.agent, "Bin"))
    return c


def run(c, code, pid="4711"):
    c.t.env["TARVEX_EXIT_CODE"] = str(code)
    try:
        c.run(pid)
    finally:
        c.t.env.pop("TARVEX_EXIT_CODE", None)
    return e2e.validate_report(c.app)


def lines(c, exe):
    """The copy line and the target of a program of the package."""
    return ("MSG : Successfully Copied File %s to %s" % (c.app_n(exe), c.agent_n("Bin" + c.t.sep)),
            c.agent_n("Bin" + c.t.sep + exe))


def case_exit_codes_judged(t):
    """Success, a restart, a failure that skips what follows; an entry
    without the keys is not judged."""
    reboot = "3010" if t.name == "windows" else "194"
    c = package(t, "judged", [{"SuccessCodes": "0, 0x10", "RebootCodes": "3010,1641,194"}])
    copied, target = lines(c, "a.exe")
    report = run(c, 0)
    expect(c.code, 0, "exit code")
    expect(c.log(), head(c) + [copied, "MSG : Exit Code 0 - " + target,
                               "MSG : Successfully Executed/Registered File " + target] + tail(c),
           "log, success")
    expect("RebootRequired" in c.status(), False, "status key without a restart")
    expect(report["entries"][0]["execution"]["judgment"], "success", "judgment")

    report = run(c, reboot)
    # Wine hands Linux the low 8 bits of a Windows exit code; the report
    # holds the program's own.
    expect(c.code, (3010 & 0xFF) if t.name == "windows" else 6, "exit code of a restart")
    expect(report["exitCode"], 3010 if t.name == "windows" else 6, "exit code reported")
    expect(c.log()[4:6], ["MSG : Exit Code %s - %s" % (reboot, target),
                          "MSG : Successfully Executed/Registered File " + target], "log")
    s = c.status()
    expect((s["LastRunStatusCode"], s.get("RebootRequired")), ("SUCCESS", "Y"), "status")
    expect((report["restartRequired"], report["status"]), (True, "SUCCESS"), "report of a restart")
    expect(report["entries"][0]["execution"]["judgment"], "reboot", "judgment")
    expect(report["entries"][0]["execution"]["exitCode"], int(reboot), "exit code reported")

    c2 = package(t, "judged2", [{"SuccessCodes": "0"}, {}])
    copied, target = lines(c2, "a.exe")
    report = run(c2, 1603)
    shown = "1603" if t.name == "windows" else "67"
    expect(c2.code, 1, "exit code of a failure")
    expect(c2.log(), head(c2) + [copied, "MSG : Exit Code %s - %s" % (shown, target),
                                 "MSG : Failed to Execute/Register File " + target] + tail(c2),
           "log, failure")
    s = c2.status()
    expect((s["LastRunStatusCode"], s["Desc"]),
           ("FAILED", t.stored("Failed to Execute/Register File %s; " % target)), "status")
    expect(c2.exists("agent/Bin/b.exe"), False, "the entry after the failure")
    expect([(e["copy"]["result"], e["execution"]["result"], e["execution"]["judgment"])
            for e in report["entries"]],
           [("copied", "failed", "failure"), ("skipped", "not-started", None)], "report entries")
    expect((report["status"], report["exitCode"], report["handOff"], report["restartRequired"]),
           ("FAILED", 1, "ok", False), "report of a failure")

    # The same code without the keys: as ever, a started program is deployed.
    c3 = package(t, "judged3", [{}])
    copied, target = lines(c3, "a.exe")
    run(c3, 1603)
    expect(c3.code, 0, "exit code, not judged")
    expect(c3.log(), head(c3) + [copied, "MSG : Successfully Executed/Registered File " + target]
           + tail(c3), "log, not judged")


def case_negative_codes(t):
    """-1, 4294967295 and 0xFFFFFFFF are one code, logged -1."""
    c = package(t, "negative", [{"SuccessCodes": "0xFFFFFFFF"}])
    _, target = lines(c, "a.exe")
    run(c, -1)
    expect(c.code, 0, "exit code")
    expect(c.log()[4], "MSG : Exit Code -1 - " + target, "log")


case_negative_codes.only = "windows"  # POSIX exit codes are 0 to 255


def case_time_limit_ends_the_program_and_what_it_started(t):
    """Timeout: the program and the child it left are ended at the limit;
    neither gets to write its "done"."""
    c = package(t, "timeout", [{"SuccessCodes": "0", "Timeout": "2"}, {}])
    _, target = lines(c, "a.exe")
    t.env.update(TARVEX_SLEEP_MS="6000", TARVEX_CHILD_MS="6000")
    try:
        start = time.time()
        c.run("4711")
        took = time.time() - start
    finally:
        for k in ("TARVEX_SLEEP_MS", "TARVEX_CHILD_MS"):
            t.env.pop(k, None)
    expect(c.code, 1, "exit code")
    expect(c.log()[4:6], ["ERR : Timed Out After 2 Seconds - " + target,
                          "MSG : Failed to Execute/Register File " + target], "log")
    assert took < 6, "the run waited %.1f s for a program of a 2 s limit" % took
    report = e2e.validate_report(c.app)
    expect((report["entries"][0]["execution"]["result"], report["entries"][0]["execution"]["exitCode"]),
           ("timed-out", None), "report")
    time.sleep(6.5)
    with open(os.path.join(c.dir, "record.txt")) as f:
        record = f.read()
    expect("done" in record, False, "a process of the program lived on: %r" % record)
    if t.name == "posix":
        alive = []
        for pid in os.listdir("/proc"):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if c.dir.encode() in f.read():
                        alive.append(pid)
            except OSError:
                pass
        expect(alive, [], "processes of the sandbox left running")


def case_bad_rules_run_nothing(t):
    """A judged program whose keys cannot be read is not run on guesses; the
    checker finds each such key, at its line, as an error, and a sound one
    in its plan."""
    bad = [({"SuccessCodes": "0, x"}, "exit-codes", "SuccessCodes"),
           ({"RebootCodes": "4294967296"}, "exit-code-range", "RebootCodes"),
           ({"Timeout": "86401"}, "timeout-range", "Timeout")]
    for i, (keys, rule, key) in enumerate(bad):
        c = package(t, "badrules%d" % i, [keys])
        run(c, 0)
        expect(c.code, 1, "exit code")
        expect(c.log()[3], "ERR : Sub - subDuplix FileName - a.exe 87 Invalid parameter", "log")
        expect(c.exists("agent/Bin/a.exe"), False, "copied")
        code, out = t.check(["--format", "sarif", c.app_n()])
        results = [(r["ruleId"], r["locations"][0]["physicalLocation"]["region"]["startLine"])
                   for r in json.loads("\n".join(out))["runs"][0]["results"]]
        # The manifest's sixth line holds the first key after the five.
        expect((code, results), (1, [(rule, 6)]), "checker on " + key)
        expect(t.check([c.app_n()])[1][0],
               "[A] fail before copying anything: its %s cannot be used" % key, "plan")
    c = package(t, "goodrules", [{"SuccessCodes": "0, 0x10", "RebootCodes": "3010",
                                  "Timeout": "60", "Parameters": "/q"}])
    expect(t.check([c.app_n()]), (0, [
        "[A] copy a.exe to <install>%sBin%s, then run <install>%sBin%sa.exe with /q for at most "
        "60 s, then judge its exit code: success 0, 16; restart 3010; any other fails the entry"
        % ((t.sep,) * 4), "0 errors, 0 warnings"]), "checker on sound keys")


def case_report_of_runs_that_end_early(t):
    """Runs without a status still report: an invalid parameter, no agent."""
    c = package(t, "early", [{}])
    c.run("")
    report = e2e.validate_report(c.app)
    expect((report["status"], report["exitCode"], report["pid"], report["entries"]),
           (None, 2, None, []), "invalid parameter")
    c.no_registry()
    c.run("4711")
    report = e2e.validate_report(c.app)
    expect((report["status"], report["exitCode"], report["handOff"]), (None, 1, None), "no agent")


CASES = [v for k, v in sorted(globals().items()) if k.startswith("case_")]


def main():
    kind = sys.argv[1] if len(sys.argv) > 1 else "posix"
    t = e2e.Posix() if kind == "posix" else e2e.Windows()
    t.base = e2e.unique_base(os.path.join(e2e.temp_root(short=kind != "posix"),
                                          "tarvex-out-" if kind == "posix" else "to"))
    return e2e.run_cases(CASES, kind, t, t, sys.argv[2:], "outcome")


if __name__ == "__main__":
    sys.exit(main())
