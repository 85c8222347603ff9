#!/usr/bin/env python3
"""Benchmarks of sealed packages (POSIX), started by scripts/bench --seal;
its section and goal are put into bench/results.md as scripts/bench --check
does for its own.

6a. a sealed 256 MiB deployment against the same package unsealed and
    against `openssl dgst -sha256` of the file, runs alternating;
6b. sealing 10 000 small files with the checker.
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

SECTION = "7. Sealed packages (POSIX)"
ROUNDS = 3 if b.QUICK else 15
FILES = 1000 if b.QUICK else 10000
GOAL = 1.2  # (sealed - unsealed) / openssl dgst, median of the rounds


def deployment():
    base = tempfile.mkdtemp(prefix="tarvex-bench-seal.", dir="/var/tmp")
    try:
        sb = b.Sandbox(base, b.POSIX_EXE)
        src = os.path.join(sb.app, "big.bin")
        with open(src, "wb") as f:
            for _ in range(b.COPY_MIB):
                f.write(os.urandom(1 << 20))
        sb.manifest(["big.bin"])
        seal = os.path.join(sb.app, "Tarvex.SHA256")
        subprocess.run([b.POSIX_CHECK, "--seal", sb.app], check=True, stdout=subprocess.DEVNULL)
        aside = os.path.join(base, "Tarvex.SHA256")
        target = os.path.join(sb.out, "big.bin")
        openssl = ["openssl", "dgst", "-sha256", src]
        sides = ["sealed", "unsealed", "openssl dgst -sha256"]
        results = {name: [] for name in sides}

        def one(name):
            # The seal is put aside for the unsealed runs: the same package,
            # the same file in the page cache.
            if name == "unsealed" and os.path.exists(seal):
                os.rename(seal, aside)
            elif name == "sealed" and os.path.exists(aside):
                os.rename(aside, seal)
            if os.path.exists(target):
                os.remove(target)
            os.sync()
            argv = openssl if name == sides[2] else sb.argv + ["4711"]
            r = b.timed(argv, dict(sb.env, RUNNER_STDOUT=os.path.join(base, "out.txt")))[0]
            if r[2] != 0:
                raise RuntimeError("%s: exit %d" % (name, r[2]))
            if name != sides[2]:
                verified = "MSG : Package Seal Verified - 2 Files" in sb.log()
                if verified != (name == "sealed") or os.path.getsize(target) != b.COPY_MIB << 20:
                    raise RuntimeError("%s: wrong run:\n%s" % (name, sb.log()))
            return r

        for name in sides:
            one(name)  # warm-up
        before = b.wait_for_quiet(b.QUIET_WAIT_S)
        load = b.OtherLoad()
        for r in range(ROUNDS):
            for name in sides[r % 3:] + sides[:r % 3]:
                results[name].append(one(name))
        note = b.load_note(before, load)
        rows = [[name, len(results[name]), b.ms(statistics.median(x[0] for x in results[name])),
                 b.ms(min(x[0] for x in results[name])), b.ms(max(x[0] for x in results[name])),
                 b.ms(statistics.median(x[3] for x in results[name]))] for name in sides]
        extra = [(s[0] - u[0]) / o[0] for s, u, o in
                 zip(results["sealed"], results["unsealed"], results[sides[2]])]
        med = {name: statistics.median(x[0] for x in results[name]) / 1e6 for name in sides}
        ratio = statistics.median(extra)
        b.add("### 7a. A sealed 256 MiB deployment\n\nOne copy-only entry of a 256 MiB file "
              "(random bytes), on the disk (%s), run sealed (`Tarvex.SHA256` over the manifest "
              "and the file, written by `tarvex-check --seal`) and unsealed (the seal put "
              "aside), and `openssl dgst -sha256` of the file, in rounds whose order turns, "
              "after one warm-up round. Before each run the target is deleted and the disk "
              "synced: each deployment is a fresh durable copy. The file stays in the page "
              "cache." % b.fs_type(base))
        b.table(["side", "runs", "median ms", "min ms", "max ms", "median CPU ms"], rows)
        b.add("Per round, (sealed − unsealed) / openssl: median **%.3f** (rounds %s). The "
              "seal's check costs %.1f ms over the unsealed run's %.1f ms; openssl takes "
              "%.1f ms. %s" % (ratio, ", ".join("%.2f" % x for x in extra),
                               med["sealed"] - med["unsealed"], med["unsealed"],
                               med[sides[2]], note))
        b.state("Sealed 256 MiB deployment ≤ unsealed + 1.2 × openssl dgst -sha256 (POSIX)",
                ratio <= GOAL,
                "The check adds %.3f × openssl's time (median of %d rounds: %.1f ms sealed, "
                "%.1f ms unsealed, %.1f ms openssl). %s"
                % (ratio, ROUNDS, med["sealed"], med["unsealed"], med[sides[2]], note),
                "Why: the check reads and hashes the file once more, as openssl does, through "
                "the same library; the rest is the machine's noise on a durable copy.")
    finally:
        shutil.rmtree(base, ignore_errors=True)


def sealing():
    root, fs_label = b.tmpfs_root()
    try:
        sb = b.Sandbox(os.path.join(root, "posix"), b.POSIX_EXE)
        b.make_sources(sb.app, FILES)
        sb.manifest(["f%05d.dat" % i for i in range(FILES)])
        out = os.path.join(sb.dir, "seal.txt")
        env = dict(sb.env, RUNNER_STDOUT=out)
        argv = [b.POSIX_CHECK, "--seal", sb.app]
        b.timed(argv, env)
        before = b.wait_for_quiet(b.QUIET_WAIT_S)
        load = b.OtherLoad()
        results = b.timed(argv, env, b.SCALE_ROUNDS)
        note = b.load_note(before, load)
        with open(os.path.join(sb.app, "Tarvex.SHA256")) as f:
            sealed = len(f.read().splitlines())
        if any(r[2] != 0 for r in results) or sealed != FILES + 1:
            raise RuntimeError("sealing failed: %d lines" % sealed)
        wall = statistics.median(r[0] for r in results) / 1e9
        cpu = statistics.median(r[3] for r in results) / 1e9
        b.add("### 7b. Sealing %s small files\n\n`tarvex-check --seal` over %s 4 KiB files "
              "and a manifest of as many copy-only entries, on %s: it checks the package, "
              "hashes the manifest and every file and replaces the seal. One warm-up run, then "
              "%d runs. %s" % (b.num(FILES), b.num(FILES), fs_label, len(results), note))
        b.table(["files", "runs", "median s", "min s", "max s", "median CPU s", "µs/file",
                 "peak RSS MiB"],
                [[b.num(FILES), len(results), "%.3f" % wall,
                  "%.3f" % (min(r[0] for r in results) / 1e9),
                  "%.3f" % (max(r[0] for r in results) / 1e9), "%.3f" % cpu,
                  b.us(wall / FILES), b.mib(max(r[1] for r in results))]])
        say = "Sealing %s files: median %.3f s wall, %.3f s CPU (%.1f µs/file)." % (
            b.num(FILES), wall, cpu, wall / FILES * 1e6)
        b.say("  " + say)
        return say
    finally:
        subprocess.run(["umount", root], stderr=subprocess.DEVNULL)
        shutil.rmtree(root, ignore_errors=True)


def main():
    os.makedirs(b.OUT_DIR, exist_ok=True)
    b.build_runner()
    b.section(SECTION)
    b.add("Measured %s by `scripts/bench --seal`, apart from the other sections."
          % time.strftime("%Y-%m-%d %H:%M"))
    deployment()
    sealing()
    b.merge_section("7", "Sealed ")


if __name__ == "__main__":
    main()
