#!/usr/bin/python3
"""Writes one target's packages from its installed tree, byte for byte the
same on every rebuild of the same commit.

  make_packages.py --stage DIR --prefix P --symbols DIR --system SYSTEM
                   --version V --out DIST [--maintainer "NAME <ADDRESS>"]

STAGE/PREFIX is what `cmake --install` wrote (prefix /usr on Linux, the
package's top folder on Windows); SYMBOLS holds the NAME.debug files the
install split off. Writes to OUT: the zip (Windows) or the tar.gz and the
.deb (Linux), the symbol archive, and beside each package its bill of
materials (NAME.spdx.json, see sbom.py).

Every tar.gz and zip holds one folder named after it (its name without
.tar.gz or .zip) and everything inside that folder; the .deb holds the
tree under /usr, /etc and /var as dpkg installs it.

Every archive is made the same way each time: members sorted by name,
owned by root, modes 0755 (programs, folders) or 0644, and stamped with
SOURCE_DATE_EPOCH (the commit's time); gzip headers carry no name and
that time.
"""
import argparse
import gzip
import hashlib
import io
import os
import re
import subprocess
import sys
import tarfile
import textwrap
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sbom  # noqa: E402

EPOCH = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
PACKAGE = "hvverifysp"


def is_program(path):
    """Executables keep their execute bit; shared libraries are data to the loader."""
    name = os.path.basename(path)
    if name.endswith((".so", ".dll")) or ".so." in name:
        return False
    return os.access(path, os.X_OK) and not os.path.isdir(path)


def walk(top):
    """Every file under `top`, as sorted relative paths with '/'."""
    found = []
    for folder, dirs, files in os.walk(top):
        for name in files:
            found.append(os.path.relpath(os.path.join(folder, name), top).replace(os.sep, "/"))
    return sorted(found)


def normalise(top):
    """Fixes the modes and times of the installed tree."""
    for folder, dirs, files in os.walk(top):
        os.chmod(folder, 0o755)
        for name in files:
            path = os.path.join(folder, name)
            os.chmod(path, 0o755 if is_program(path) else 0o644)
            os.utime(path, (EPOCH, EPOCH))
    for folder, dirs, files in os.walk(top, topdown=False):
        os.utime(folder, (EPOCH, EPOCH))


def top_folder(archive):
    """The one folder a tar.gz or zip puts everything in: its own name
    without the extension, so that unpacking it never merges into the
    folders around it (~/bin, ~/lib)."""
    name = os.path.basename(archive)
    for ext in (".tar.gz", ".zip"):
        if name.endswith(ext):
            return name[:-len(ext)]
    raise ValueError("not a tar.gz or zip: " + name)


def write_tar_gz(out, top, names):
    """A gzip'd tar of `names` (files under `top`) and their folders, all
    inside the archive's top folder."""
    folder = top_folder(out)
    members = {""}
    for name in names:
        parts = name.split("/")
        members.update("/".join(parts[:i]) for i in range(1, len(parts)))
        members.add(name)
    with open(out, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as gz:
            with tarfile.open(fileobj=gz, mode="w", format=tarfile.GNU_FORMAT) as tar:
                for name in sorted(members):
                    path = os.path.join(top, name)
                    info = tar.gettarinfo(path, arcname=folder + "/" + name if name else folder)
                    info.uid = info.gid = 0
                    info.uname = info.gname = "root"
                    info.mtime = EPOCH
                    if info.isdir():
                        info.mode = 0o755
                        tar.addfile(info)
                    else:
                        info.mode = 0o755 if is_program(path) else 0o644
                        with open(path, "rb") as f:
                            tar.addfile(info, f)


def write_zip(out, top, names):
    """A zip of `names` (files under `top`), all inside its top folder."""
    folder = top_folder(out)
    stamp = time.gmtime(max(EPOCH, 315532800))[:6]  # zip times start in 1980
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name in names:
            info = zipfile.ZipInfo(folder + "/" + name, date_time=stamp)
            info.create_system = 3
            info.external_attr = (0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(top, name), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)


def date_of(epoch):
    return time.strftime("%Y-%m-%d", time.gmtime(epoch))


def ship_changelog(path, version):
    """The shipped CHANGELOG.md names the version it ships: a build between
    releases (X.Y.Z~N.gHASH) gets its "Unreleased" section under its own
    version."""
    text = open(path, encoding="utf-8").read()
    if "~" in version:
        text = text.replace("\n## Unreleased\n", "\n## %s (%s, not a release)\n" % (version, date_of(EPOCH)), 1)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def debian_changelog(changelog_md, maintainer):
    """CHANGELOG.md's versions as a Debian changelog (a native package's)."""
    entries, current = [], None
    for line in open(changelog_md, encoding="utf-8"):
        head = re.match(r"^## ([0-9.]+(?:~[0-9]+\.g[0-9a-f]+(?:\.dirty\.[0-9a-f]+)?)?) \((\d{4}-\d{2}-\d{2})[,)]", line)
        if head:
            current = {"version": head.group(1), "date": head.group(2), "items": []}
            entries.append(current)
        elif line.startswith("## "):
            current = None
        elif current is not None and line.startswith("- "):
            current["items"].append(line[2:].strip())
        elif current is not None and line.startswith("  ") and current["items"]:
            current["items"][-1] += " " + line.strip()
    text = ""
    for e in entries:
        stamp = time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.strptime(e["date"], "%Y-%m-%d"))
        items = "".join(textwrap.fill(i, 76, initial_indent="  * ", subsequent_indent="    ") + "\n"
                        for i in e["items"] or ["Release " + e["version"] + "."])
        text += "%s (%s) unstable; urgency=medium\n\n%s\n -- %s  %s\n\n" % (
            PACKAGE, e["version"], items, maintainer, stamp)
    return text.rstrip("\n") + "\n"


def shlib_depends(stage, binaries):
    """The Depends line dpkg-shlibdeps derives from the ELF files."""
    scratch = os.path.join(os.path.dirname(stage), "shlibdeps")
    os.makedirs(os.path.join(scratch, "debian"), exist_ok=True)
    open(os.path.join(scratch, "debian", "control"), "w").close()
    private = os.path.join(stage, "usr", "lib", PACKAGE)
    out = subprocess.run(["dpkg-shlibdeps", "-O", "-l" + private] + binaries, cwd=scratch,
                         check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        if line.startswith("shlibs:Depends="):
            return line.split("=", 1)[1]
    return ""


def write_gzip(path, data):
    """gzip -9n: no name and no time in the header."""
    with open(path, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as gz:
            gz.write(data)


# The settings are a conffile under /etc; the packaged vexhost names that
# folder and the log folder for the module (tools/vexhost/module_folders.h).
CONFFILE = "etc/%s/vexcomm.dat" % PACKAGE
LOG_DIR = "var/log/%s" % PACKAGE

# Purging removes the traces the packaged host wrote; removing keeps them
# (and the settings), as Debian does for logs. DPKG_ROOT: installs into a
# scratch root without chroot (dpkg --force-script-chrootless).
POSTRM = """#!/bin/sh
set -e
if [ "$1" = purge ]; then
	rm -rf "${DPKG_ROOT:-}/%s"
fi
""" % LOG_DIR


def write_deb(out, stage, version, maintainer):
    """The .deb of the installed tree (prefix /usr) with its Debian changelog,
    the settings as a conffile and the folder of the host's trace."""
    build = os.path.join(os.path.dirname(stage), "deb-root")
    subprocess.run(["rm", "-rf", build], check=True)
    subprocess.run(["cp", "-a", stage, build], check=True)
    doc = os.path.join(build, "usr", "share", "doc", PACKAGE)
    os.makedirs(os.path.dirname(os.path.join(build, CONFFILE)))
    os.rename(os.path.join(doc, "vexcomm.dat"), os.path.join(build, CONFFILE))
    os.makedirs(os.path.join(build, LOG_DIR))
    write_gzip(os.path.join(doc, "changelog.gz"),
               debian_changelog(os.path.join(doc, "CHANGELOG.md"), maintainer).encode())
    normalise(build)
    names = walk(build)
    elf = [os.path.join(build, n) for n in names if open(os.path.join(build, n), "rb").read(4) == b"\x7fELF"]
    size = sum((os.path.getsize(os.path.join(build, n)) + 1023) // 1024 for n in names)
    summary, description = open(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                              "description.txt")).read().split("\n", 1)
    extended = "\n".join(" " + (line if line.strip() else ".") for line in description.strip("\n").split("\n"))
    control = ("Package: %s\nVersion: %s\nArchitecture: amd64\nMaintainer: %s\nInstalled-Size: %d\n"
               "Depends: %s\nSection: net\nPriority: optional\nDescription: %s\n%s\n"
               % (PACKAGE, version, maintainer, size, shlib_depends(build, elf), summary, extended))
    control_dir = os.path.join(build, "DEBIAN")
    os.makedirs(control_dir)
    with open(os.path.join(control_dir, "control"), "w") as f:
        f.write(control)
    with open(os.path.join(control_dir, "conffiles"), "w") as f:
        f.write("/" + CONFFILE + "\n")
    with open(os.path.join(control_dir, "postrm"), "w") as f:
        f.write(POSTRM)
    with open(os.path.join(control_dir, "md5sums"), "w") as f:
        for n in names:
            if n == CONFFILE:
                continue
            f.write("%s  %s\n" % (hashlib.md5(open(os.path.join(build, n), "rb").read()).hexdigest(), n))
    normalise(build)
    os.chmod(os.path.join(control_dir, "postrm"), 0o755)
    subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", build, out], check=True,
                   capture_output=True, env=dict(os.environ, SOURCE_DATE_EPOCH=str(EPOCH)))
    return build


def main():
    ap = argparse.ArgumentParser()
    for opt in ("stage", "prefix", "symbols", "system", "version", "out"):
        ap.add_argument("--" + opt, required=True)
    ap.add_argument("--maintainer", default="")
    a = ap.parse_args()
    top = os.path.join(a.stage, a.prefix.strip("/"))
    for changelog in [os.path.join(d, "CHANGELOG.md") for d, _, fs in os.walk(top) if "CHANGELOG.md" in fs]:
        ship_changelog(changelog, a.version)
    normalise(a.stage)
    names = walk(top)
    base = "HvVerifySp-%s-%s" % (a.version, a.system)
    written = []
    if a.system.startswith("windows"):
        out = os.path.join(a.out, base + ".zip")
        write_zip(out, top, names)
        written.append((out, names, top, top_folder(out)))
        symbols = os.path.join(a.out, base + "-symbols.zip")
        write_zip(symbols, a.symbols, walk(a.symbols))
    else:
        out = os.path.join(a.out, base + ".tar.gz")
        write_tar_gz(out, top, names)
        written.append((out, names, top, top_folder(out)))
        deb = os.path.join(a.out, "%s_%s_amd64.deb" % (PACKAGE, a.version))
        deb_root = write_deb(deb, a.stage, a.version, a.maintainer)
        written.append((deb, [n for n in walk(deb_root) if not n.startswith("DEBIAN/")], deb_root, ""))
        symbols = os.path.join(a.out, base + "-symbols.tar.gz")
        normalise(a.symbols)
        write_tar_gz(symbols, a.symbols, walk(a.symbols))
    for package, files, root, folder in written:
        sbom.write(package, root, files, a.version, a.system, a.symbols, EPOCH, folder)
    return 0


if __name__ == "__main__":
    sys.exit(main())
