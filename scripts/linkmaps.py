"""What a link took from outside its build, and the Debian packages it came
from: shared by scripts/licenses (the notices) and scripts/toolchain (the
build record and BUILDINFO)."""
import os
import re
import subprocess


def linked_files(map_path):
    """The files from outside the build that the link behind MAP used."""
    used = set()
    with open(map_path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    # Archive members pulled in: "ARCHIVE(MEMBER)" at the start of a line of
    # the map's first section.
    head = text.split("\nMemory Configuration", 1)[0]
    for m in re.finditer(r"^(/[^\s(]+\.a)\(", head, re.M):
        used.add(m.group(1))
    # Objects and shared libraries loaded whole.
    for m in re.finditer(r"^LOAD (/\S+)$", text, re.M):
        path = m.group(1)
        if path.endswith(".o") or ".so" in os.path.basename(path):
            used.add(path)
    # The build's own objects: relative paths, or in the map's folder.
    build = os.path.realpath(os.path.dirname(map_path)) + "/"
    # Header-only libraries compiled into the programs, which no map shows:
    # the build names them (CMakeLists.txt, compiled-headers.txt).
    listed = os.path.join(os.path.dirname(map_path), "compiled-headers.txt")
    if os.path.exists(listed):
        with open(listed) as f:
            used.update(line.strip() for line in f if line.strip())
    return sorted(p for p in used if not os.path.realpath(p).startswith(build))


def versions(packages):
    """{package: version} of those installed; names as dpkg gives them
    (with ":ARCH" for packages installed for several architectures)."""
    if not packages:
        return {}
    run = subprocess.run(["dpkg-query", "-W", "-f=${binary:Package}\t${db:Status-Abbrev}\t${Version}\n",
                          *sorted(packages)], capture_output=True, text=True)
    found = {}
    for line in run.stdout.splitlines():
        name, status, version = (line.split("\t") + ["", ""])[:3]
        if status.startswith("ii"):
            found[name] = version
    return found


def owners(paths):
    """{path: (package, version)} for each path an installed package owns;
    the others are left out. Links are followed to the file itself."""
    pending = {p: os.path.realpath(p) for p in paths}
    found = {}
    # Merged /usr: dpkg may know a file under /lib rather than /usr/lib.
    for strip in (False, True):
        asked = {}
        for path, real in pending.items():
            if strip:
                if not real.startswith("/usr/"):
                    continue
                real = real[4:]
            asked.setdefault(real, []).append(path)
        if not asked:
            break
        run = subprocess.run(["dpkg-query", "-S", *asked], capture_output=True, text=True)
        for line in run.stdout.splitlines():
            if line.startswith("diversion "):
                continue
            names, _, file = line.partition(": ")
            for path in asked.get(file, []):
                found[path] = names.split(",")[0].strip()
        pending = {p: r for p, r in pending.items() if p not in found}
    known = versions(set(found.values()))
    return {p: (pkg, known.get(pkg, "")) for p, pkg in found.items()}
