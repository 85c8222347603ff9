#!/usr/bin/env python3
"""End-to-end tests of sealed packages, on either build (as tarvex_e2e.py):

    seal_e2e.py posix | windows [CASE...]

The checker writes the seal and checks it; a run checks it before its first
entry and, when it is broken, logs each problem and deploys nothing. The
checker's SARIF output is validated with the SARIF Multitool (scripts/setup
--sarif installs it).
"""
import hashlib
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_e2e as e2e  # noqa: E402
from tarvex_e2e import Case, expect, head, tail  # noqa: E402

VALIDATOR = os.path.join(e2e.ROOT, "build/tools/sarif/node_modules/@microsoft/"
                         "sarif-multitool-linux/Sarif.Multitool")


def sha(data):
    return hashlib.sha256(data).hexdigest()


def package(t, name):
    """A library, a program and a text file to deploy into Bin\\."""
    c = Case(t, name)
    t.library(os.path.join(c.app, "tool.dll"))
    t.program(os.path.join(c.app, "setup.exe"), os.path.join(c.dir, "record.txt"))
    c.write("app/notes.txt", "notes\n")
    c.manifest([("Tool", {"FileName": "tool.dll", "FilePath": "Bin\\", "Duplix": "Y",
                          "ExecuteFile": "Y"}),
                ("Setup", {"FileName": "setup.exe", "FilePath": "Bin\\", "Duplix": "Y",
                           "ExecuteFile": "Y"}),
                ("Notes", {"FileName": "notes.txt", "FilePath": "Bin\\", "Duplix": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    return c


def read(c, rel):
    with open(os.path.join(c.dir, rel), "rb") as f:
        return f.read()


def seal_line(c, name):
    return sha(read(c, "app/" + name)) + "  " + name


def seal(c):
    code, out = c.t.check(["--seal", c.app_n()])
    expect(code, 0, "exit code of --seal: %s" % out)
    return out


def deployed_nothing(c):
    """The run failed on its seal: nothing placed, registered or run."""
    expect(c.code, 1, "exit code")
    expect(os.listdir(os.path.join(c.agent, "Bin")), [], "files placed")
    expect(c.t.registered(), [], "registrations")
    expect(c.exists("record.txt"), False, "program run")
    status = c.status()
    expect((status["LastRunStatusCode"], status["Desc"]), ("FAILED", c.t.stored("Package Seal Broken; ")),
           "status")


# ---------------------------------------------------------------- cases

def case_seal_written_and_verified(t):
    """--seal writes what sha256sum -c passes; a sealed run logs the check."""
    c = package(t, "sealok")
    out = seal(c)
    names = ["Tarvex.INI", "tool.dll", "setup.exe", "notes.txt"]
    expect(out[-5:], ["sealed " + seal_line(c, n) for n in names] +
           ["wrote " + c.app_n("Tarvex.SHA256")], "--seal output")
    expect(read(c, "app/Tarvex.SHA256").decode(),
           "".join(seal_line(c, n) + "\n" for n in names), "seal file")
    p = subprocess.run(["sha256sum", "-c", "--strict", "Tarvex.SHA256"], cwd=c.app,
                       capture_output=True)
    expect(p.returncode, 0, "sha256sum -c: %s" % p.stdout)
    expect(t.check([c.app_n()])[0], 0, "checker on the sealed package")
    expect(c.run("4711"), 0, "exit code")
    log = c.log()
    expect(log[:4], head(c) + ["MSG : Package Seal Verified - 4 Files"], "log")
    expect(log[-3:], tail(c), "log end")
    expect(len(log), 4 + 5 + 3, "log lines")
    expect(read(c, "agent/Bin/notes.txt"), b"notes\n", "deployed")
    # Sealing again replaces the seal: here with a changed file's digest.
    c.write("app/notes.txt", "other notes\n")
    seal(c)
    expect(read(c, "app/Tarvex.SHA256").decode().splitlines()[3], seal_line(c, "notes.txt"),
           "resealed")
    # No temporary file is left by the seal's rename (the POSIX run lock's
    # file is the run's own).
    expect(sorted(n for n in os.listdir(c.app) if n != ".Tarvex.lock"), sorted(["Duplix.log", "Duplix.json", "Tarvex.INI", "Tarvex.SHA256",
                                              "notes.txt", "setup.exe", "tool.dll",
                                              os.path.basename(t.exe)]), "package files")


def case_package_with_errors_is_not_sealed(t):
    c = package(t, "sealbad")
    c.write("app/Tarvex.SHA256", "earlier seal\n")
    os.remove(os.path.join(c.app, "notes.txt"))
    code, out = t.check(["--seal", c.app_n()])
    expect((code, out[-1]), (1, "not sealed: a package with errors is never sealed"), "--seal")
    expect(read(c, "app/Tarvex.SHA256"), b"earlier seal\n", "seal left alone")
    expect(t.check(["--seal", "--format", "sarif", c.app_n()])[0], 2, "--seal with SARIF")


def broken(t, name, change, lines):
    c = package(t, name)
    seal(c)
    change(c)
    c.run("4711")
    expect(c.log(), head(c) + lines + tail(c), "log")
    deployed_nothing(c)
    return c


def case_broken_seals_deploy_nothing(t):
    """Each problem of a seal, in the seal's order and then the manifest's."""
    def alter(c):
        c.write("app/setup.exe", read(c, "app/setup.exe") + b"!")
    broken(t, "sealalter", alter, ["ERR : Package Seal - setup.exe does not match"])

    def drop(c):
        os.remove(os.path.join(c.app, "notes.txt"))
    broken(t, "sealgone", drop, ["ERR : Package Seal - notes.txt is missing"])

    def unsealed(c):
        text = read(c, "app/Tarvex.SHA256").decode().splitlines()
        c.write("app/Tarvex.SHA256", "\n".join(text[2:]) + "\n")
    broken(t, "sealshort", unsealed, ["ERR : Package Seal - Tarvex.INI is not sealed",
                                      "ERR : Package Seal - tool.dll is not sealed"])

    def mixed(c):
        text = read(c, "app/Tarvex.SHA256").decode().splitlines()
        c.write("app/Tarvex.SHA256", "\n".join([text[0], "not a line", text[2], "",
                                                text[3]]) + "\n")
        c.write("app/notes.txt", "changed\n")
    broken(t, "sealmixed", mixed, ["ERR : Package Seal - line 2 is not a seal line",
                                   "ERR : Package Seal - line 4 is not a seal line",
                                   "ERR : Package Seal - notes.txt does not match",
                                   "ERR : Package Seal - tool.dll is not sealed"])

    # An empty seal seals nothing, and a changed manifest fails as any file.
    broken(t, "sealempty", lambda c: c.write("app/Tarvex.SHA256", ""),
           ["ERR : Package Seal - %s is not sealed" % n
            for n in ("Tarvex.INI", "tool.dll", "setup.exe", "notes.txt")])
    broken(t, "sealini", lambda c: c.write("app/Tarvex.INI", read(c, "app/Tarvex.INI") + b";\r\n"),
           ["ERR : Package Seal - Tarvex.INI does not match"])


def case_hand_written_seal(t):
    """CR LF, '\\', ' *', upper-case hex, a file beyond the copy sources; on
    Windows a seal in another case is the seal, on POSIX it is not."""
    c = package(t, "sealhand")
    c.write("app/Docs/readme.txt", "read me\n")
    lines = [seal_line(c, n) for n in ("Tarvex.INI", "tool.dll", "setup.exe", "notes.txt")]
    lines[1] = lines[1][:64].upper() + " *" + lines[1][66:]
    lines.append(sha(b"read me\n") + "  Docs\\readme.txt")
    name = "tarvex.sha256" if t.name == "windows" else "Tarvex.SHA256"
    c.write("app/" + name, "\r\n".join(lines) + "\r\n")
    expect(c.run("4711"), 0, "exit code")
    expect(c.log()[3], "MSG : Package Seal Verified - 5 Files", "check")
    c.write("app/Docs/readme.txt", "read me too\n")
    c.run("4711")
    expect(c.log()[3], "ERR : Package Seal - Docs\\readme.txt does not match", "check")
    if t.name == "posix":
        # Only Tarvex.SHA256 is the seal: a run of another case's package is unsealed.
        os.rename(os.path.join(c.app, name), os.path.join(c.app, "tarvex.sha256"))
        expect(c.run("4711"), 0, "exit code, unsealed")
        expect(c.log()[3].startswith("MSG : Successfully Copied File"), True, "unsealed run")
        expect(t.check([c.app_n()])[1][-2:], [
            c.app_n("Tarvex.INI") + ":0: error: the seal is stored as 'tarvex.sha256': a run on "
            "POSIX would not find it, and deploy unsealed", "1 error, 0 warnings"], "checker")


def validate(c, document):
    """The SARIF Multitool's validation against the SARIF 2.1.0 schema and its
    rules: no error."""
    if not os.access(VALIDATOR, os.X_OK):
        subprocess.run([os.path.join(e2e.ROOT, "scripts/setup"), "--sarif"], check=True)
    path = os.path.join(c.dir, "check.sarif")
    with open(path, "w") as f:
        f.write(document)
    result = os.path.join(c.dir, "validation.sarif")
    p = subprocess.run([VALIDATOR, "validate", path, "-j",
                        os.path.join(os.path.dirname(VALIDATOR), "sarif-2.1.0.json"),
                        "-o", result, "--log", "ForceOverwrite"], capture_output=True,
                       env=dict(os.environ, DOTNET_SYSTEM_GLOBALIZATION_INVARIANT="1"),
                       timeout=300)
    expect(p.returncode, 0, "validator exit code: %s" % p.stdout)
    with open(result) as f:
        found = json.load(f)["runs"][0].get("results", [])
    errors = [r["message"].get("text", r["message"]) for r in found
              if r.get("level") == "error"]
    expect(errors, [], "validation errors")


def case_checker_on_a_sealed_package_and_sarif(t):
    c = package(t, "sealcheck")
    seal(c)
    c.write("app/notes.txt", "altered\n")
    c.write("app/Tarvex.INI", read(c, "app/Tarvex.INI") +
            b"[Extra]\r\nFileName=extra.txt\r\nDuplix=Y\r\nFileNme=x\r\n")
    c.write("app/extra.txt", "extra")
    s, m = c.app_n("Tarvex.SHA256"), c.app_n("Tarvex.INI")
    code, out = t.check([c.app_n()])
    tailing = ": a sealed run fails before its first entry"
    expect((code, out[4:]), (1, [
        m + ":16: error: source 'extra.txt' is not sealed in Tarvex.SHA256" + tailing,
        m + ":18: warning: unknown key 'FileNme' (did you mean 'FileName'?): a run never reads it",
        s + ":1: error: 'Tarvex.INI' does not match its digest" + tailing,
        s + ":4: error: 'notes.txt' does not match its digest" + tailing,
        "3 errors, 1 warning"]), "checker")
    code, out = t.check(["--format", "sarif", c.app_n()])
    expect(code, 1, "exit code with SARIF")
    document = "\n".join(out) + "\n"
    log = json.loads(document)
    run = log["runs"][0]
    expect((log["version"], run["tool"]["driver"]["name"]), ("2.1.0", "tarvex-check"), "tool")
    rules = [r["id"] for r in run["tool"]["driver"]["rules"]]
    got = [(rules[r["ruleIndex"]], r["ruleId"], r["level"],
            r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"].rsplit("/", 1)[1],
            r["locations"][0]["physicalLocation"]["region"]["startLine"])
           for r in run["results"]]
    expect(got, [("not-sealed", "not-sealed", "error", "Tarvex.INI", 16),
                 ("unknown-key", "unknown-key", "warning", "Tarvex.INI", 18),
                 ("seal-mismatch", "seal-mismatch", "error", "Tarvex.SHA256", 1),
                 ("seal-mismatch", "seal-mismatch", "error", "Tarvex.SHA256", 4)], "results")
    validate(c, document)

    # Every kind of finding of the broken packages, names that are no UTF-8
    # and line 0 included; and a clean package's empty log.
    c.write("app/Tarvex.INI", b"X=1\r\n[]\r\n[A\xff]\r\nFileName=a/b.txt\r\nFilePath=\"..\\\\x\"\r\n"
            b"Duplix=Yes\r\nExecuteFile=Y\r\nParameters=/q\r\n[a\xff]\r\n[B]\r\nDuplix=Y\r\n"
            b"FileName=gone.txt\r\nFileName=again.txt\r\nTimeout=5\r\n[C]\r\n"
            b"FileName=Tarvex.INI\r\nExecuteFile=Y\r\nFilePath=C:\\x\\\r\n"
            b"[D]\r\nFileName=d.exe\r\nExecuteFile=Y\r\nSuccessCodes=0,x\r\n"
            b"RebootCodes=0x1FFFFFFFF\r\nTimeout=0\r\n"
            b"[E]\r\nFileName=e.exe\r\nExecuteFile=Y\r\nSuccessCodes=1\r\nRebootCodes=1\r\n")
    c.write("app/Tarvex.SHA256", "no seal line\n")
    code, out = t.check(["--format", "sarif", c.app_n()])
    expect(code, 1, "exit code with SARIF, broken package")
    document = "\n".join(out) + "\n"
    kinds = sorted(set(r["ruleId"] for r in json.loads(document)["runs"][0]["results"]))
    expect(kinds, ["absolute-path", "climbing-path", "code-in-both", "execute-only",
                   "exit-code-range", "exit-codes", "file-path-end", "flag-value",
                   "key-outside-section", "missing-source", "nameless-section",
                   "not-executable", "not-sealed", "own-file", "quoted-value", "repeated-key",
                   "repeated-section", "seal-line", "separator-in-name", "timeout-range",
                   "unnamed-file", "unused-outcome"],
           "kinds")
    validate(c, document)
    clean = package(t, "sealclean")
    code, out = t.check(["--format=sarif", clean.app_n()])
    expect((code, json.loads("\n".join(out))["runs"][0]["results"]), (0, []), "clean package")


def case_a_source_changed_after_the_check_is_not_placed(t):
    """The seal holds when the run checks it; then the first entry's program
    changes the second entry's source: that copy fails and places nothing."""
    c = Case(t, "sealchanged")
    data = c.write("app/data.bin", b"sealed bytes " * 1000)
    with open(os.path.join(c.app, "change.exe"), "w") as f:
        f.write('#!/bin/sh\nprintf changed >> "%s"\n' % data)
    os.chmod(os.path.join(c.app, "change.exe"), 0o755)
    c.manifest([("Change", {"FileName": "change.exe", "FilePath": "Bin\\", "Duplix": "Y",
                            "ExecuteFile": "Y"}),
                ("Data", {"FileName": "data.bin", "FilePath": "Bin\\", "Duplix": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    seal(c)
    expect(c.run("1"), 1, "exit code")
    lines = c.log()
    expect(lines[3], "MSG : Package Seal Verified - 3 Files", "seal line")
    assert any(x.endswith(" 13 Invalid data") for x in lines), lines
    expect(lines[-4], "MSG : Failed to Copy File %s to %s" % (c.app_n("data.bin"),
                                                            c.agent_n("Bin/")),
           "the copy's failure")
    assert not c.exists("agent/Bin/data.bin"), "a changed source was placed"


case_a_source_changed_after_the_check_is_not_placed.only = "posix"


def case_manifest_rewritten_during_a_run_changes_nothing(t):
    """The package is read once: the first entry's program puts a manifest
    naming an unsealed program in the sealed one's place; the run goes on
    with the manifest it checked, and the unsealed program is neither
    copied nor run."""
    c = Case(t, "sealswap")
    evil = c.write("app/evil.ini", "[Swap]\r\nFileName=evil.exe\r\nFilePath=Bin\\\r\n"
                   "Duplix=Y\r\nExecuteFile=Y\r\n[Notes]\r\nFileName=evil.exe\r\n"
                   "Duplix=Y\r\nExecuteFile=Y\r\n")
    manifest = os.path.join(c.app, "Tarvex.INI")
    if t.name == "posix":
        with open(os.path.join(c.app, "swap.exe"), "w") as f:
            f.write('#!/bin/sh\ncp "%s" "%s"\n' % (evil, manifest))
        os.chmod(os.path.join(c.app, "swap.exe"), 0o755)
    else:
        t.program(os.path.join(c.app, "swap.exe"), os.path.join(c.dir, "record.txt"))
        t.env.update(TARVEX_REPLACE_FROM=t.native(evil), TARVEX_REPLACE_TO=t.native(manifest))
    # Whatever runs records its command line (Windows) or its arguments.
    t.program(os.path.join(c.app, "evil.exe"), os.path.join(c.dir, "record.txt"))
    if t.name == "posix":
        c.write("app/evil.exe", "#!/bin/sh\necho evil >> '%s'\n" % os.path.join(c.dir, "record.txt"))
    c.write("app/notes.txt", "notes\n")
    c.manifest([("Swap", {"FileName": "swap.exe", "FilePath": "Bin\\", "Duplix": "Y",
                          "ExecuteFile": "Y"}),
                ("Notes", {"FileName": "notes.txt", "FilePath": "Bin\\", "Duplix": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    seal(c)
    try:
        expect(c.run("4711"), 0, "exit code")
    finally:
        t.env.pop("TARVEX_REPLACE_FROM", None)
        t.env.pop("TARVEX_REPLACE_TO", None)
    expect(read(c, "app/Tarvex.INI"), read(c, "app/evil.ini"), "the manifest was rewritten")
    expect(c.log()[-4], "MSG : Successfully Copied File %s to %s" % (c.app_n("notes.txt"),
                                                                   c.agent_n("Bin" + t.sep)),
           "the second entry as sealed")
    expect(sorted(os.listdir(os.path.join(c.agent, "Bin"))), ["notes.txt", "swap.exe"],
           "deployed")
    ran = read(c, "record.txt").decode() if c.exists("record.txt") else ""
    expect("evil" in ran, False, "the unsealed program ran: %r" % ran)


def case_seals_that_are_no_file_seal_the_package_shut(t):
    """Only a seal that is not there leaves a package unsealed: one that is
    a folder, a link, a FIFO or too large lets nothing through, and the
    checker says so with the run's own number."""
    def replace(make):
        def change(c):
            os.remove(os.path.join(c.app, "Tarvex.SHA256"))
            make(c, os.path.join(c.app, "Tarvex.SHA256"))
        return change
    cases = [("sealdir", lambda c, p: os.makedirs(p), "267 Path is a folder"),
             ("sealhuge", lambda c, p: os.truncate(c.write("app/Tarvex.SHA256", ""), 17 << 20),
              "223 File too large")]
    if t.name == "posix":
        cases += [
            ("sealdangle", lambda c, p: os.symlink(os.path.join(c.dir, "none"), p),
             "681 Path is a link"),
            ("sealloop", lambda c, p: os.symlink(p, p), "681 Path is a link"),
            ("seallink", lambda c, p: os.symlink(os.path.join(c.dir, "seal.copy"), p),
             "681 Path is a link"),
            ("sealpipe", lambda c, p: os.mkfifo(p), "87 Invalid parameter"),
        ]
    for name, make, error in cases:
        def keep_and_make(c, make=make):
            # A link to the seal's own bytes is refused as any link.
            with open(os.path.join(c.dir, "seal.copy"), "wb") as f:
                f.write(read(c, "app/Tarvex.SHA256"))
            replace(make)(c)
        c = broken(t, name, keep_and_make, ["ERR : Package Seal - Tarvex.SHA256 " + error])
        code, out = t.check([c.app_n()])
        expect((code, out[-1]), (1, "1 error, 0 warnings"), "checker on %s" % name)
        code, out = t.check(["--format", "sarif", c.app_n()])
        results = json.loads("\n".join(out))["runs"][0]["results"]
        expect([(r["ruleId"], r["level"], r["message"]["text"]) for r in results],
               [("seal-unreadable", "error", "Tarvex.SHA256 cannot be read: " + error +
                 ": a sealed run fails before its first entry")], "SARIF on %s" % name)


def case_dot_backslash_names_are_sealed_as_read(t):
    """FileName=.\\notes.txt is sealed as notes.txt, which its reader
    accepts, and the run verifies it."""
    c = Case(t, "sealdot")
    c.write("app/notes.txt", "notes\n")
    c.manifest([("Notes", {"FileName": ".\\notes.txt", "FilePath": "Bin\\", "Duplix": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    out = seal(c)
    expect(out[-2], "sealed " + seal_line(c, "notes.txt"), "--seal output")
    expect(c.run("4711"), 0, "exit code")
    expect(c.log()[3], "MSG : Package Seal Verified - 2 Files", "seal line")
    expect(read(c, "agent/Bin/notes.txt"), b"notes\n", "deployed")


def as_account(uid, umask):
    """Runs a child as another account of the shared group 4242."""
    def switch():
        os.setgroups([4242])
        os.setgid(4242)
        os.setuid(uid)
        os.umask(umask)
    return switch


def case_accounts_that_share_the_package(t):
    """A seal made by a build account (umask 022) is read by the agent's
    account, by a run and by sha256sum -c; two accounts that share a
    group-writable folder (umask 002) take turns at it."""
    if os.geteuid() != 0:
        print("skip  accounts_that_share_the_package: needs root to act as two accounts")
        return
    c = Case(t, "sealshare")
    c.write("app/notes.txt", "notes\n")
    c.manifest([("Notes", {"FileName": "notes.txt", "FilePath": "Bin\\", "Duplix": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    for folder, _, names in os.walk(c.agent):
        os.chmod(folder, 0o777)
    os.chown(c.app, 4201, 4242)
    os.chmod(c.app, 0o2775)
    p = subprocess.run([t.check_exe, "--seal", c.app], env=t.env, capture_output=True,
                       preexec_fn=as_account(4201, 0o022))
    expect(p.returncode, 0, "--seal as the build account: %s" % p.stdout)
    expect(os.stat(os.path.join(c.app, "Tarvex.SHA256")).st_mode & 0o777, 0o644, "seal's mode")
    p = subprocess.run(["sha256sum", "-c", "--strict", "Tarvex.SHA256"], cwd=c.app,
                       capture_output=True, preexec_fn=as_account(4202, 0o022))
    expect(p.returncode, 0, "sha256sum -c as the agent's account: %s" % p.stdout)
    expect(t.run(c.app, ["4711"], as_account(4202, 0o022)), 0, "run as the agent's account")
    expect(c.log()[3], "MSG : Package Seal Verified - 2 Files", "seal line")
    for name in ("Duplix.log", ".Tarvex.lock"):
        os.remove(os.path.join(c.app, name))
    for uid in (4201, 4202, 4201):
        expect(t.run(c.app, ["4711"], as_account(uid, 0o002)), 0, "run as %d" % uid)
        expect(c.log()[-1], "MSG : Application Stopped <time>", "log of %d" % uid)
    lock = os.stat(os.path.join(c.app, ".Tarvex.lock"))
    expect((lock.st_mode & 0o777, lock.st_gid), (0o660, 4242), "the lock file")
    expect(os.stat(os.path.join(c.app, "Duplix.log")).st_mode & 0o777, 0o664, "the log's mode")


case_accounts_that_share_the_package.only = "posix"


CASES = [v for k, v in sorted(globals().items()) if k.startswith("case_")]


def main():
    kind = sys.argv[1] if len(sys.argv) > 1 else "posix"
    t = e2e.Posix() if kind == "posix" else e2e.Windows()
    t.base = e2e.unique_base(os.path.join(e2e.temp_root(short=kind != "posix"),
                                          "tarvex-seal-" if kind == "posix" else "ts"))
    return e2e.run_cases(CASES, kind, t, t, sys.argv[2:], "seal")


if __name__ == "__main__":
    sys.exit(main())
