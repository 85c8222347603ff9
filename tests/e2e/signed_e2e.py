#!/usr/bin/env python3
"""End-to-end tests of signed packages, on either build (as tarvex_e2e.py):

    signed_e2e.py posix | windows [CASE...]

Keys are throwaway ECDSA P-256 keys made by openssl, and packages are
signed with openssl dgst, as an administrator does it by hand, or by the
checker (--seal --sign, POSIX). The agent's key pins the public keys
(PackageKeys); a signed run logs its verdict, and a refused package deploys
nothing and leaves the recorded versions alone. The checker's --key finds
what such a run finds.
"""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_e2e as e2e  # noqa: E402
from tarvex_e2e import Case, expect, head, tail  # noqa: E402
from seal_e2e import validate  # noqa: E402


def make_key(c, name):
    """A key pair in the sandbox: (private key file, PackageKeys entry)."""
    key = os.path.join(c.dir, name + ".pem")
    pub = os.path.join(c.dir, name + ".pub.pem")
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout",
                    "-out", key], check=True)
    subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-out", pub], check=True)
    with open(pub) as f:
        body = "".join(line.strip() for line in f if not line.startswith("-----"))
    return key, pub, body


def package(t, name, keys):
    """A package of one text file into Bin\\, the agent pinning keys."""
    c = Case(t, name)
    c.write("app/notes.txt", "notes\n")
    c.manifest([("Notes", {"FileName": "notes.txt", "FilePath": "Bin\\", "Duplix": "Y"})])
    os.makedirs(os.path.join(c.agent, "Bin"))
    if keys is not None:
        c.registry(InstallationPath=t.native(c.agent), REGID="REG-42", PackageKeys=keys)
    return c


def sign(c, key, statements):
    """Seals the package with the checker, puts the statements at the seal's
    top and signs its bytes with openssl."""
    code, out = c.t.check(["--seal", c.app_n()])
    expect(code, 0, "--seal: %s" % out)
    seal = os.path.join(c.app, "Tarvex.SHA256")
    with open(seal) as f:
        lines = f.read()
    with open(seal, "w", newline="\n") as f:
        f.write("".join("# %s: %s\n" % kv for kv in statements) + lines)
    subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, "-out", seal + ".sig", seal],
                   check=True)


def state(c):
    path = os.path.join(c.agent, "TarvexState.ini")
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return e2e.parse_ini(f.read().decode()).get("Versions")


def refused(c, reason, recorded):
    """A signed run that refused its package: one line, nothing touched."""
    if os.path.exists(os.path.join(c.agent, "Bin", "notes.txt")):
        os.remove(os.path.join(c.agent, "Bin", "notes.txt"))
    expect(c.run("4711"), 1, "exit code")
    expect(c.log(), head(c) + ["ERR : Package Signature - " + reason] + tail(c), "log")
    s = c.status()
    expect((s["LastRunStatusCode"], s["Desc"]),
           ("FAILED", c.t.stored("Package Signature Invalid; ")), "status")
    expect(os.listdir(os.path.join(c.agent, "Bin")), [], "files placed")
    expect(state(c), recorded, "recorded versions")


def verified(c, name, version, recorded):
    expect(c.run("4711"), 0, "exit code")
    expect(c.log()[3:5], ["MSG : Package Signature Verified - %s %d" % (name, version),
                          "MSG : Package Seal Verified - 2 Files"], "log")
    expect(state(c), recorded, "recorded versions")


def key_check(c, pub):
    """The checker with --key: its exit code, its finding lines (the plan's
    one line and the summary left out) and its SARIF results as (rule,
    level, line), the log validated."""
    args = ["--key", c.t.native(pub), c.app_n()]
    code, out = c.t.check(args)
    sarif_code, sarif = c.t.check(["--format", "sarif"] + args)
    expect(sarif_code, code, "exit code with SARIF")
    document = "\n".join(sarif) + "\n"
    results = [(r["ruleId"], r["level"],
                r["locations"][0]["physicalLocation"].get("region", {}).get("startLine", 0))
               for r in json.loads(document)["runs"][0]["results"]]
    return code, out[1:-1], results, document


def check_stderr(t, args):
    """The checker's exit code and standard error, for a refused use."""
    if t.name == "windows":
        p = t.wine(t.check_exe, *args, check=False)
    else:
        p = subprocess.run([t.check_exe] + args, env=t.env, capture_output=True, timeout=120)
    return p.returncode, p.stderr.decode("utf-8", "replace").splitlines()


# ---------------------------------------------------------------- cases

def case_signed_runs_and_never_an_older_one(t):
    c0 = Case(t, "keys")
    key, pub, body = make_key(c0, "publisher")
    c = package(t, "signok", body)
    sign(c, key, [("Package", "Tools"), ("Version", 5)])
    # The administrator's check by hand.
    p = subprocess.run(["openssl", "dgst", "-sha256", "-verify", pub, "-signature",
                        os.path.join(c.app, "Tarvex.SHA256.sig"),
                        os.path.join(c.app, "Tarvex.SHA256")], capture_output=True)
    expect(p.returncode, 0, "openssl dgst -verify: %s" % p.stdout)
    verified(c, "Tools", 5, {"Tools": "5"})
    expect(c.exists("agent/Bin/notes.txt"), True, "deployed")
    # Replayed: an older version of the same package, signed as it was.
    sign(c, key, [("Package", "Tools"), ("Version", 4)])
    refused(c, "version 4 is older than 5", {"Tools": "5"})
    sign(c, key, [("Package", "Tools"), ("Version", 5)])
    verified(c, "Tools", 5, {"Tools": "5"})  # a redeploy of the same
    sign(c, key, [("Package", "Other"), ("Version", 1), ("Expires", "2099-01-01T00:00:00Z")])
    verified(c, "Other", 1, {"Tools": "5", "Other": "1"})


def case_each_refusal_touches_nothing(t):
    c0 = Case(t, "keys2")
    key, _, body = make_key(c0, "publisher")
    other, _, _ = make_key(c0, "stranger")
    c = package(t, "signbad", body)
    sign(c, key, [("Package", "Tools"), ("Version", 2)])
    sig = os.path.join(c.app, "Tarvex.SHA256.sig")
    os.rename(sig, sig + ".kept")
    refused(c, "Tarvex.SHA256.sig is missing", None)
    os.rename(sig + ".kept", sig)
    with open(os.path.join(c.app, "Tarvex.SHA256"), "a") as f:
        f.write("# a line added after signing\n")
    refused(c, "does not verify", None)
    sign(c, other, [("Package", "Tools"), ("Version", 2)])
    refused(c, "does not verify", None)
    sign(c, key, [("Package", "Tools")])
    refused(c, "Package or Version missing", None)
    sign(c, key, [("Package", "Tools"), ("Version", 0)])
    refused(c, "Package or Version missing", None)
    sign(c, key, [("Package", "Tools"), ("Version", 3), ("Expires", "2020-01-01T00:00:00Z")])
    refused(c, "expired at 2020-01-01T00:00:00Z", None)
    # A key that cannot be read fails closed, never drops a key silently.
    sign(c, key, [("Package", "Tools"), ("Version", 3)])
    for value in ("", body + ",not-a-key"):
        c.registry(InstallationPath=t.native(c.agent), REGID="REG-42", PackageKeys=value)
        refused(c, "PackageKeys cannot be read", None)
    os.remove(os.path.join(c.app, "Tarvex.SHA256"))
    refused(c, "Tarvex.SHA256 is missing", None)


def case_two_keys_the_second_signing(t):
    c0 = Case(t, "keys3")
    _, _, first = make_key(c0, "old")
    key, _, second = make_key(c0, "new")
    c = package(t, "signtwo", " %s ,\t%s " % (first, second))
    sign(c, key, [("Package", "Tools"), ("Version", 9)])
    verified(c, "Tools", 9, {"Tools": "9"})


def case_without_package_keys_a_run_is_as_it_was(t):
    """No PackageKeys: a sealed package runs as ever, its signature file
    unread, whatever it holds; nothing is recorded."""
    c = package(t, "signnone", None)
    code, out = t.check(["--seal", c.app_n()])
    expect(code, 0, "--seal")
    c.write("app/Tarvex.SHA256.sig", "not a signature")
    expect(c.run("4711"), 0, "exit code")
    expect(c.log(), head(c) + [
        "MSG : Package Seal Verified - 2 Files",
        "MSG : Successfully Copied File %s to %s" % (c.app_n("notes.txt"), c.agent_n("Bin" + t.sep))
    ] + tail(c), "log")
    expect(state(c), None, "recorded versions")


def case_the_checker_signs_and_checks_as_a_run_would(t):
    """The checker states and signs the seal: openssl verifies it and a run
    that pins the key deploys it (Windows refuses --sign: there the checker
    states and openssl signs). With --key the checker finds what such a run
    finds, at the seal's line, in SARIF too."""
    c0 = Case(t, "keys4")
    key, pub, body = make_key(c0, "publisher")
    _, stranger, _ = make_key(c0, "stranger")
    c = package(t, "signcheck", body)
    seal = os.path.join(c.app, "Tarvex.SHA256")
    stated = ["--seal", "--package", "Tools", "--version", "7",
              "--expires", "2099-01-01T00:00:00Z"]
    if t.name == "windows":
        code, err = check_stderr(t, stated + ["--sign", t.native(key), c.app_n()])
        expect((code, err[:1], os.path.exists(seal)),
               (2, ["TarvexCheck: --sign is not available here: sign on POSIX, or with openssl "
                    "(see README)"], False), "--sign where it cannot sign")
        code, out = t.check(stated + [c.app_n()])
        subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, "-out", seal + ".sig", seal],
                       check=True)
        written = out[-1:]
    else:
        code, out = t.check(stated + ["--sign", key, c.app_n()])
        written = out[-2:]
    expect(code, 0, "--seal: %s" % out)
    expect(written, ["wrote %s (Package Tools, Version 7, Expires 2099-01-01T00:00:00Z)"
                     % c.app_n("Tarvex.SHA256")] +
           ([] if t.name == "windows" else
            ["wrote %s (signed with %s)" % (c.app_n("Tarvex.SHA256.sig"), key)]), "--seal output")
    with open(seal) as f:
        expect(f.read().splitlines()[:3], ["# Package: Tools", "# Version: 7",
                                           "# Expires: 2099-01-01T00:00:00Z"], "statements")
    p = subprocess.run(["openssl", "dgst", "-sha256", "-verify", pub, "-signature",
                        seal + ".sig", seal], capture_output=True)
    expect(p.returncode, 0, "openssl dgst -verify: %s" % p.stdout)
    verified(c, "Tools", 7, {"Tools": "7"})
    code, lines, results, _ = key_check(c, pub)
    expect((code, lines, results), (0, [
        c.app_n("Tarvex.SHA256") + ":0: note: signed package 'Tools' version 7 verifies with "
        "this key (a run also refuses a version older than the machine has deployed, which only "
        "the machine knows)"], [("signature-verified", "note", 0)]), "--key, the publisher's")
    code, out = t.check([c.app_n()])
    expect((code, out[1]), (0, c.app_n("Tarvex.SHA256") + ":0: note: Tarvex.SHA256.sig is not "
                            "checked without --key PUB.pem: a run verifies it only where the "
                            "agent's PackageKeys pins keys, and ignores it elsewhere"),
           "without --key")

    # Each refusal: the checker's finding holds the reason a run logs.
    def agrees(rule, line, recorded):
        code, lines, results, _ = key_check(c, pub)
        expect((code, results, len(lines)), (1, [(rule, "error", line)], 1), "--key: " + rule)
        prefix = "%s:%d: error: signature: " % (c.app_n("Tarvex.SHA256"), line)
        suffix = ": a run that pins this key deploys nothing"
        expect((lines[0].startswith(prefix), lines[0].endswith(suffix)), (True, True), lines[0])
        refused(c, lines[0][len(prefix):-len(suffix)], recorded)

    # Keys of the wrong kind are refused before anything is read or written.
    refusals = [(["--key", t.native(key), c.app_n()],
                 "%s holds no P-256 public key (a PEM PUBLIC KEY, as openssl pkey -pubout "
                 "writes it)" % t.native(key))]
    if t.name == "posix":
        refusals.append((stated + ["--sign", pub, c.app_n()],
                         "%s holds no P-256 private key (an unencrypted PEM, as openssl ecparam "
                         "-genkey writes it)" % pub))
    with open(seal, "rb") as f:
        before = f.read()
    for args, error in refusals:
        expect(check_stderr(t, args), (2, [os.path.basename(t.check_exe).split(".")[0] + ": " +
                                           error]), "a key of the wrong kind")
    with open(seal, "rb") as f:
        expect(f.read(), before, "the seal after a refused --sign")
    code, _, results, document = key_check(c, stranger)
    expect((code, results), (1, [("signature-invalid", "error", 0)]), "--key, a stranger's")
    validate(c, document)
    sign(c, key, [("Package", "Tools"), ("Version", "7.1")])
    agrees("signature-statement", 2, {"Tools": "7"})
    sign(c, key, [("Package", "Tools"), ("Version", 8), ("Expires", "2020-01-01T00:00:00Z")])
    agrees("signature-expired", 3, {"Tools": "7"})
    with open(seal, "a") as f:
        f.write("# a line added after signing\n")
    agrees("signature-invalid", 0, {"Tools": "7"})
    # Sealed again without --sign: the signature is left, and said to be stale.
    code, out = t.check(["--seal", c.app_n()])
    expect((code, out[-1]), (0, "left %s as it was: it signs the seal replaced, so a run that "
                             "pins keys refuses the package until it is signed again"
                             % c.app_n("Tarvex.SHA256.sig")), "--seal over a signed package")
    os.remove(seal + ".sig")
    agrees("signature-missing", 0, {"Tools": "7"})


KNOWN_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll", "gdi32.dll",
              "shell32.dll", "ole32.dll", "oleaut32.dll", "ws2_32.dll", "shlwapi.dll",
              "rpcrt4.dll", "sechost.dll", "combase.dll", "ntdll.dll"}


def case_programs_import_only_known_dlls(t):
    """A library the programs import is loaded before any of their code runs,
    from their own folder first, unless it is a KnownDLL."""
    for exe in (t.exe, t.check_exe):
        objdump = "x86_64-w64-mingw32-objdump" if "64" in os.path.basename(
            os.path.dirname(exe)) else "i686-w64-mingw32-objdump"
        out = subprocess.run([objdump, "-p", exe], capture_output=True, check=True).stdout
        names = {line.split(b":", 1)[1].strip().decode().lower()
                 for line in out.splitlines() if line.strip().startswith(b"DLL Name:")}
        expect(bool(names), True, "imports of " + exe)
        expect(sorted(names - KNOWN_DLLS), [], "imports of %s that are no KnownDLL" % exe)


case_programs_import_only_known_dlls.only = "windows"

CASES = [v for k, v in sorted(globals().items()) if k.startswith("case_")]


def main():
    kind = sys.argv[1] if len(sys.argv) > 1 else "posix"
    t = e2e.Posix() if kind == "posix" else e2e.Windows()
    t.base = e2e.unique_base(os.path.join(e2e.temp_root(short=kind != "posix"),
                                          "tarvex-sign-" if kind == "posix" else "tg"))
    return e2e.run_cases(CASES, kind, t, t, sys.argv[2:], "signed")


if __name__ == "__main__":
    sys.exit(main())
