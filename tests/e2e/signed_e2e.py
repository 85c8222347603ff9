#!/usr/bin/env python3
"""End-to-end tests of signed packages, on either build (as tarvex_e2e.py):

    signed_e2e.py posix | windows [CASE...]

Keys are throwaway ECDSA P-256 keys made by openssl, and packages are
signed with openssl dgst, as an administrator does it by hand. The agent's
key pins the public keys (PackageKeys); a signed run logs its verdict, and
a refused package deploys nothing and leaves the recorded versions alone.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_e2e as e2e  # noqa: E402
from tarvex_e2e import Case, expect, head, tail  # noqa: E402


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
