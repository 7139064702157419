#!/usr/bin/python3
"""The packages as a host team receives them.

  package_check.py DIST TARGET... [--wine SYSTEM LOADER PREFIX]...

DIST is what scripts/package wrote (the Windows binaries signed with
DIST/../signing/cert.pem, time-stamped by the authority of
DIST/../signing/tsa-ca.pem when it is there, and SHA256SUMS signed by the
OpenPGP key DIST/../signing/release-key.asc when it is there); TARGET is linux, windows-x64 or windows-x86.
Each package is unpacked into an empty folder and checked: the tar.gz and
zips (the symbol archives too) hold one folder named after themselves and
nothing outside it (archive_layout.py); their contents,
the checksums, the packaged module's exports, stripped binaries whose
symbol files hold the debugging sections, the version (Windows version
resources read back with pefile, vexhost --version), the signatures, and
the packaged vexhost verifying an accepted and a rejected account against
the packaged reference endpoint (Windows under Wine, when a loader is
given for that package's system, windows-x64 or windows-x86). The .deb is
unpacked into a scratch root (dpkg -x) and must pass lintian without an
error or a warning. Every shipped binary is read back for its hardening
(hardening.py), every package's bill of materials for SPDX 2.3 and its
completeness (spdx_check.py), and the shipped documents for every setting
the module reads (settings_docs.py). With --same-as DIST2 (a second build of the
same sources in another folder), both SHA256SUMS must be equal.
"""
import gzip
import hashlib
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import archive_layout  # noqa: E402
import endpoint_fixture  # noqa: E402
import hardening  # noqa: E402
from package_compare import check_same, read_sums  # noqa: E402
import settings_docs  # noqa: E402
import spdx_check  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging"))
import sbom  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
# The version the packages must carry: the checkout's (scripts/version).
VERSION = subprocess.run(["bash", os.path.join(ROOT, "scripts", "version")], capture_output=True,
                         text=True, check=True).stdout.strip()
RELEASE = re.match(r"[0-9]+\.[0-9]+\.[0-9]+", VERSION).group(0)
# The fourth number of the Windows fixed version: the commit count of a
# build before the release, 65535 for the release (cmake/version.cmake).
BUILD = min(int(re.search(r"~([0-9]+)\.g", VERSION).group(1)), 65534) if "~" in VERSION else 65535
failures = []


def check(what, ok, detail=""):
    print(("ok     " if ok else "FAILED ") + what + ("" if ok or not detail else ": " + detail))
    if not ok:
        failures.append(what)


def run(args, **kw):
    return subprocess.run(args, capture_output=True, timeout=300, **kw)


def sections(objdump, path):
    out = run([objdump, "-h", path]).stdout.decode()
    return set(re.findall(r"^\s*\d+\s+(\S+)", out, re.M))


def check_split(objdump, shipped, symbols_dir):
    for path in shipped:
        name = os.path.basename(path)
        have = sections(objdump, path)
        check(name + " ships without debugging sections",
              not any(s.startswith(".debug_") for s in have), str(sorted(have)))
        check(name + " names its symbol file", ".gnu_debuglink" in have)
        debug = os.path.join(symbols_dir, name + ".debug")
        check(name + ".debug holds the debugging sections",
              os.path.exists(debug) and ".debug_info" in sections(objdump, debug))


def check_exports(module, windows, objdump):
    rc = run(["cmake", "-DMODULE=" + module, "-DWINDOWS=" + ("ON" if windows else "OFF"),
              "-DOBJDUMP=" + objdump, "-P", os.path.join(ROOT, "cmake", "check_exports.cmake")])
    check(os.path.basename(module) + " exports exactly its entry points", rc.returncode == 0,
          rc.stderr.decode()[-300:])


def verify_accounts(host, folder, port, env=None):
    with open(os.path.join(folder, "vexcomm.dat"), "w") as f:
        f.write("[SPCfg]\r\nVerifyHost=127.0.0.1:%s\r\n" % port)
    for password, answer in (("right-pw", "result=accepted"), ("wrong", "result=rejected")):
        p = run(host + ["verify", "alice"], input=(password + "\n").encode(), env=env)
        out = p.stdout.decode(errors="replace")
        check("%s: %s" % (" ".join(os.path.basename(h) for h in host[-1:]), answer),
              p.returncode == 0 and answer in out, out[-300:] + p.stderr.decode(errors="replace")[-300:])


# The module and the base library are plug-ins in the package's private folder.
PLUGINS = "lib/hvverifysp/"


def unpack(archive, into):
    """The archive's top folder, unpacked, or None when its layout is wrong."""
    root, wrong = archive_layout.unpack(archive, into)
    check(os.path.basename(archive) + " holds one folder " + archive_layout.top_folder(archive) +
          " and nothing outside it", not wrong, str(wrong[:5]))
    return root


def check_copyright(path):
    """The Debian copyright file is machine-readable and states the project's licence."""
    text = open(path).read() if os.path.exists(path) else ""
    check("copyright file is machine-readable", text.startswith(
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"))
    check("copyright file states the MIT licence of the HvVerifySp authors",
          "Copyright: 2026 The HvVerifySp authors\nLicense: MIT" in text and "Permission is hereby granted" in text)


def check_linux(dist, work):
    base = "HvVerifySp-%s-linux-x86_64" % VERSION
    root = unpack(os.path.join(dist, base + ".tar.gz"), os.path.join(work, "tgz"))
    symbols = unpack(os.path.join(dist, base + "-symbols.tar.gz"), os.path.join(work, "linux-symbols"))
    if not root or not symbols:
        return None
    doc = "share/doc/hvverifysp/"
    expected = {"bin/vexhost", "bin/verify-endpoint", PLUGINS + "libHvVerifySp.so", PLUGINS + "libvexbase.so",
                "include/hv/vex_host.h", "include/hv/vex_base_entries.h",
                doc + "vexcomm.dat", doc + "README-deploy.txt", doc + "CHANGELOG.md", doc + "copyright",
                doc + "notices/loki", doc + "notices/cpp-httplib",
                "share/man/man1/vexhost.1.gz", "share/man/man1/verify-endpoint.1.gz"}
    found = {os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs}
    check("linux tar.gz holds exactly its files", found == expected, str(sorted(found ^ expected)))
    check_documents("linux", [os.path.join(root, f) for f in
                              (doc + "vexcomm.dat", doc + "README-deploy.txt", "share/man/man1/vexhost.1.gz")])
    binaries = [os.path.join(root, f) for f in
                ("bin/vexhost", "bin/verify-endpoint", PLUGINS + "libHvVerifySp.so", PLUGINS + "libvexbase.so")]
    check_split("objdump", binaries, symbols)
    for path in binaries:
        for what, ok, detail in hardening.elf(path, os.path.join(symbols, os.path.basename(path) + ".debug")):
            check("linux " + os.path.relpath(path, root) + ": " + what, ok, detail)
    check_exports(os.path.join(root, PLUGINS + "libHvVerifySp.so"), False, "objdump")
    check_copyright(os.path.join(root, doc + "copyright"))
    doc = spdx_check.check_package(check, os.path.join(dist, base + ".tar.gz"), os.path.dirname(root),
                                   {base + "/" + f for f in found})
    want = {"libjsoncpp25", "libstdc++6", "libssl3", "libcpp-httplib-dev"}
    have = spdx_check.components(doc or {})
    check("linux bill of materials names jsoncpp, the C++ runtime, OpenSSL, cpp-httplib",
          want <= have, str(sorted(want - have)))
    p = run([os.path.join(root, "bin/vexhost"), "--version"])
    check("vexhost --version says " + VERSION, p.stdout.decode().strip() == "vexhost " + VERSION)
    deb = [f for f in os.listdir(dist) if f.endswith(".deb")]
    check("one .deb", len(deb) == 1, str(deb))
    if deb:
        scratch = os.path.join(work, "deb")
        run(["dpkg", "-x", os.path.join(dist, deb[0]), scratch])
        for path in ("usr/" + PLUGINS + "libHvVerifySp.so", "usr/" + PLUGINS + "libvexbase.so",
                     "usr/include/hv/vex_host.h", "usr/bin/vexhost", "usr/bin/verify-endpoint",
                     "usr/share/doc/hvverifysp/copyright", "usr/share/doc/hvverifysp/changelog.gz",
                     "usr/share/man/man1/vexhost.1.gz"):
            check(".deb installs " + path, os.path.exists(os.path.join(scratch, path)))
        version = run(["dpkg-deb", "-f", os.path.join(dist, deb[0]), "Version"]).stdout.decode().strip()
        check(".deb version is " + VERSION, version == VERSION, version)
        p = run(["dpkg-parsechangelog", "-l", "-", "-S", "Version"],
                input=gzip.open(os.path.join(scratch, "usr/share/doc/hvverifysp/changelog.gz")).read())
        check(".deb changelog's newest section is the version shipped", p.stdout.decode().strip() == VERSION,
              p.stdout.decode() + p.stderr.decode()[-200:])
        shipped = open(os.path.join(root, "share/doc/hvverifysp/CHANGELOG.md"), encoding="utf-8").read()
        check("CHANGELOG.md shipped names the version shipped", "\n## %s (" % VERSION in shipped and
              "\n## Unreleased" not in shipped)
        p = run(["lintian", "--fail-on", "error,warning", "--display-level", ">=warning",
                 os.path.join(dist, deb[0])])
        report = (p.stdout + p.stderr).decode(errors="replace").strip()
        print("lintian: " + (report or "no tags"))
        check(".deb passes lintian without an error or a warning", p.returncode == 0 and
              not re.search(r"^[EW]: ", report, re.M), report[-600:])
        deb_files = {os.path.relpath(os.path.join(d, f), scratch)
                     for d, _, fs in os.walk(scratch) for f in fs}
        spdx_check.check_package(check, os.path.join(dist, deb[0]), scratch, deb_files)
    return root


def tree(root, skip="var/lib/dpkg"):
    """Every path under `root` but dpkg's own database."""
    found = set()
    for d, dirs, fs in os.walk(root):
        rel = os.path.relpath(d, root)
        if rel == skip or rel.startswith(skip + "/"):
            continue
        found.update(os.path.normpath(os.path.join(rel, n)) for n in dirs + fs)
    return found


def check_deb_cycle(deb, work, port):
    """The .deb installed into a scratch root (dpkg --root, its maintainer
    scripts run without chroot), the packaged vexhost verifying as root and
    as nobody, then purged: settings from /etc, the trace under /var/log (or
    nowhere, and said so), nothing written under /usr, nothing left after."""
    root = os.path.join(work, "deb-root")
    os.makedirs(os.path.join(root, "var/lib/dpkg/info"))
    os.makedirs(os.path.join(root, "var/lib/dpkg/updates"))
    open(os.path.join(root, "var/lib/dpkg/status"), "w").close()
    before = tree(root)
    dpkg = ["dpkg", "--root=" + root, "--force-script-chrootless", "--force-depends", "--log=/dev/null"]
    p = run(dpkg + ["-i", deb])
    check(".deb installs into a scratch root", p.returncode == 0, p.stderr.decode(errors="replace")[-300:])
    conffiles = os.path.join(root, "var/lib/dpkg/info/hvverifysp.conffiles")
    check(".deb's settings are a conffile under /etc", os.path.exists(conffiles) and
          open(conffiles).read().split() == ["/etc/hvverifysp/vexcomm.dat"])
    settings = os.path.join(root, "etc/hvverifysp/vexcomm.dat")
    text = open(settings, newline="").read()
    with open(settings, "w", newline="") as f:
        f.write(re.sub(r"(?m)^VerifyHost=.*$", "VerifyHost=127.0.0.1:%s" % port, text))
    usr = {n: os.stat(os.path.join(root, n)).st_mtime_ns for n in tree(root) if n.startswith("usr")}
    host = os.path.join(root, "usr/bin/vexhost")
    log = os.path.join(root, "var/log/hvverifysp/verifylog.txt")
    here = os.path.join(work, "cwd")
    os.makedirs(here)
    p = run([host, "verify", "alice"], input=b"right-pw\n", cwd=here)
    out = p.stdout.decode(errors="replace").strip()
    check("packaged vexhost: accepted with the settings of /etc, the trace in /var/log/hvverifysp",
          p.returncode == 0 and "result=accepted" in out and os.path.getsize(log) > 0 and
          out.splitlines()[-1].endswith("the trace is in " + log), out[-300:])
    # nobody: the log folder is not writable and the home does not exist.
    os.chmod(work, 0o755)
    p = run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", host, "verify", "alice"],
            input=b"right-pw\n", cwd="/", env=dict(os.environ, HOME="/nonexistent", XDG_STATE_HOME=""))
    out = p.stdout.decode(errors="replace").strip()
    check("packaged vexhost as nobody: accepted, and says no trace was written",
          p.returncode == 0 and "result=accepted" in out and "no trace was written" in out.splitlines()[-1],
          out[-300:] + p.stderr.decode(errors="replace")[-200:])
    written = {n for n in tree(root) if n.startswith("usr")} ^ set(usr)
    changed = [n for n in usr if os.path.exists(os.path.join(root, n)) and
               os.stat(os.path.join(root, n)).st_mtime_ns != usr[n]]
    check("packaged vexhost writes nothing under /usr", not written and not changed and not os.listdir(here),
          str(sorted(written) + changed + os.listdir(here)))
    p = run(dpkg + ["-P", "hvverifysp"])
    left = tree(root) - before
    check(".deb purged leaves nothing behind", p.returncode == 0 and not left,
          str(sorted(left)) + p.stderr.decode(errors="replace")[-300:])


def version_strings(path):
    import pefile
    pe = pefile.PE(path)
    values = {}
    for info in getattr(pe, "FileInfo", []) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                values.update({k.decode(): v.decode() for k, v in table.entries.items()})
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    return values, fixed


# The notices a Windows package carries for what is linked into it, and a
# phrase each must hold.
WINDOWS_NOTICES = {"jsoncpp.txt": "Baptiste Lepilleur", "mingw-w64-runtime.txt": "winpthreads",
                   "gcc-runtime.txt": "GCC RUNTIME LIBRARY EXCEPTION", "loki.txt": "Loki"}


def check_documents(what, documents):
    """Every setting the module reads is named in each shipped document."""
    names, lacking = settings_docs.missing(ROOT, documents)
    check(what + " documents name every setting the module reads (%d)" % len(names),
          len(names) >= 5 and not lacking,
          "; ".join("%s lacks %s" % (os.path.basename(k), ", ".join(v)) for k, v in lacking.items()))


def check_windows(dist, work, system, linux_root, wine, cert):
    base = "HvVerifySp-%s-%s" % (VERSION, system)
    root = unpack(os.path.join(dist, base + ".zip"), os.path.join(work, system))
    symbols = unpack(os.path.join(dist, base + "-symbols.zip"), os.path.join(work, system + "-symbols"))
    if not root or not symbols:
        return
    expected = {"HvVerifySp.dll", "vexbase.dll", "vexhost.exe", "include/hv/vex_host.h",
                "include/hv/vex_base_entries.h", "vexcomm.dat", "README-deploy.txt", "CHANGELOG.md",
                "LICENSE"} | {"notices/" + n for n in WINDOWS_NOTICES}
    found = {os.path.relpath(os.path.join(d, f), root).replace(os.sep, "/")
             for d, _, fs in os.walk(root) for f in fs}
    check(system + " zip holds exactly its files", found == expected, str(sorted(found ^ expected)))
    check_documents(system, [os.path.join(root, f) for f in ("vexcomm.dat", "README-deploy.txt")])
    triplet = "x86_64-w64-mingw32" if system == "windows-x64" else "i686-w64-mingw32"
    objdump = triplet + "-objdump"
    binaries = [os.path.join(root, f) for f in ("HvVerifySp.dll", "vexbase.dll", "vexhost.exe")]
    check_split(objdump, binaries, symbols)
    for path in binaries:
        debug = os.path.join(symbols, os.path.basename(path) + ".debug")
        for what, ok, detail in hardening.pe(path, debug, objdump, system == "windows-x64"):
            check(system + " " + os.path.basename(path) + ": " + what, ok, detail)
    for name, needle in WINDOWS_NOTICES.items():
        text = open(os.path.join(root, "notices", name), errors="replace").read() \
            if os.path.exists(os.path.join(root, "notices", name)) else ""
        check(system + " notices/" + name + " holds its licence", needle in text)
    check(system + " LICENSE is the MIT licence of the HvVerifySp authors",
          "Copyright (c) 2026 The HvVerifySp authors" in open(os.path.join(root, "LICENSE")).read())
    check_exports(os.path.join(root, "HvVerifySp.dll"), True, objdump)
    doc = spdx_check.check_package(check, os.path.join(dist, base + ".zip"), os.path.dirname(root),
                                   {base + "/" + f for f in found})
    arch = "x86-64" if system == "windows-x64" else "i686"
    want = {"libjsoncpp", "g++-mingw-w64-%s-posix" % arch, "gcc-mingw-w64-%s-posix" % arch,
            "mingw-w64-%s-dev" % arch, "secur32.dll"}
    have = spdx_check.components(doc or {})
    check(system + " bill of materials names jsoncpp, the C, C++ and thread runtimes, Schannel",
          want <= have, str(sorted(want - have)))
    # The C runtime's formatted output (mingw_pformat.c, gdtoa) is under the
    # Lucent and Keith Marshall terms: where a symbol file shows it linked
    # in, the runtime's licence must name them.
    linked = any("mingw_pformat.c" in run([objdump, "--dwarf=rawline", os.path.join(
        symbols, os.path.basename(path) + ".debug")]).stdout.decode(errors="replace") for path in binaries)
    runtime = next((p.get("licenseConcluded", "") for p in (doc or {}).get("packages", [])
                    if p.get("name") == "mingw-w64-%s-dev" % arch), "")
    check(system + " bill of materials: the C runtime's licence names gdtoa's and mingw_pformat's terms",
          not linked or ("LicenseRef-mingw-w64-Lucent" in runtime and "LicenseRef-mingw-w64-Keith-Marshall" in runtime),
          runtime)
    # Every Windows library it names must be one Windows has: the system
    # folder of the Wine prefix when there is one, else one the binaries'
    # import tables name or their platform code loads by name.
    named = {p["name"].lower() for p in (doc or {}).get("packages", []) if p.get("supplier") == "Organization: Microsoft"}
    if wine:
        folder = os.path.join(wine[1], "drive_c", "windows",
                              "syswow64" if system == "windows-x86" and
                              os.path.isdir(os.path.join(wine[1], "drive_c", "windows", "syswow64")) else "system32")
        exists = {n.lower() for n in os.listdir(folder)} if os.path.isdir(folder) else set()
    else:
        exists = {d.lower() for path in binaries for d in sbom.imported_dlls(path)}
        exists |= {d for _, names in sbom.RUN_TIME_LOADS for d in names}
    check(system + " bill of materials names only Windows libraries that exist", named and named <= exists,
          str(sorted(named - exists)))
    major, minor, patch = (int(x) for x in RELEASE.split("."))
    for path in binaries:
        name = os.path.basename(path)
        values, fixed = version_strings(path)
        want = {"FileVersion": VERSION, "ProductVersion": VERSION, "ProductName": "HvVerifySp",
                "OriginalFilename": name, "InternalName": os.path.splitext(name)[0]}
        check(name + " version resource", all(values.get(k) == v for k, v in want.items())
              and bool(values.get("FileDescription")), str(values))
        check(name + " fixed file version " + VERSION, fixed is not None and
              (fixed.FileVersionMS, fixed.FileVersionLS) == ((major << 16) | minor, (patch << 16) | BUILD))
        tsa = os.path.join(os.path.dirname(cert), "tsa-ca.pem")
        stamped = os.path.exists(tsa)
        p = run(["osslsigncode", "verify", "-CAfile", cert] + (["-TSA-CAfile", tsa] if stamped else []) +
                ["-in", path])
        out = (p.stdout + p.stderr).decode(errors="replace")
        check(name + " carries a valid signature" + (" with a valid RFC 3161 time stamp" if stamped else ""),
              p.returncode == 0 and (not stamped or "Timestamp Server Signature verification: ok" in out),
              out[-300:])
    if wine and linux_root:
        loader, prefix = wine
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINELOADER=loader)
        p = run([loader, os.path.join(root, "vexhost.exe"), "--version"], env=env)
        check("vexhost.exe --version says " + VERSION,
              p.stdout.decode(errors="replace").strip() == "vexhost " + VERSION)
        endpoint_dir = os.path.join(work, "endpoint-" + system)
        os.makedirs(endpoint_dir)
        endpoint_fixture.start(endpoint_dir, os.path.join(linux_root, "bin", "verify-endpoint"))
        try:
            port = open(os.path.join(endpoint_dir, "port")).read().strip()
            verify_accounts([loader, os.path.join(root, "vexhost.exe")], root, port, env)
        finally:
            endpoint_fixture.stop(endpoint_dir)


def check_sums_signature(dist, signing):
    """SHA256SUMS.asc: a valid OpenPGP signature by the release key."""
    key = os.path.join(signing, "release-key.asc")
    if not os.path.exists(key):
        return
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, GNUPGHOME=home)
        run(["gpg", "--batch", "--import", key], env=env)
        p = run(["gpg", "--batch", "--verify", os.path.join(dist, "SHA256SUMS.asc"),
                 os.path.join(dist, "SHA256SUMS")], env=env)
        check("SHA256SUMS.asc is a valid signature of SHA256SUMS by the release key", p.returncode == 0,
              p.stderr.decode(errors="replace")[-300:])


def main():
    args = sys.argv[1:]
    wine = {}
    while "--wine" in args:
        at = args.index("--wine")
        wine[args[at + 1]] = (args[at + 2], args[at + 3])
        del args[at:at + 4]
    same_as = None
    if "--same-as" in args:
        at = args.index("--same-as")
        same_as = args[at + 1]
        del args[at:at + 2]
    dist, targets = args[0], args[1:]
    cert = os.path.join(os.path.dirname(os.path.abspath(dist)), "signing", "cert.pem")
    sums = read_sums(dist)
    # .package is scripts/package's record of what it wrote (it knows its
    # earlier output by it), not a file of the release.
    files = sorted(f for f in os.listdir(dist) if f not in ("SHA256SUMS", "SHA256SUMS.asc", ".package"))
    check("SHA256SUMS lists every file", sorted(sums) == files, str(sorted(set(sums) ^ set(files))))
    marked = [line.rstrip("\n") for line in open(os.path.join(dist, ".package")) if not line.startswith("#")]
    check("the marker .package lists every file written, with its checksum", sorted(marked) == sorted(
        "%s  %s" % (hashlib.sha256(open(os.path.join(dist, f), "rb").read()).hexdigest(), f)
        for f in os.listdir(dist) if f != ".package"), str(marked[:2]))
    for name in files:
        digest = hashlib.sha256(open(os.path.join(dist, name), "rb").read()).hexdigest()
        check("checksum of " + name, sums.get(name) == digest)
    check_sums_signature(dist, os.path.dirname(cert))
    if same_as:
        check_same(dist, same_as, check)
    with tempfile.TemporaryDirectory() as work:
        linux_root = check_linux(dist, work) if "linux" in targets else None
        if linux_root:
            endpoint_dir = os.path.join(work, "endpoint")
            os.makedirs(endpoint_dir)
            endpoint_fixture.start(endpoint_dir, os.path.join(linux_root, "bin", "verify-endpoint"))
            try:
                port = open(os.path.join(endpoint_dir, "port")).read().strip()
                verify_accounts([os.path.join(linux_root, "bin", "vexhost")], os.path.join(linux_root, "bin"), port)
                deb = [f for f in os.listdir(dist) if f.endswith(".deb")]
                if deb:
                    check_deb_cycle(os.path.join(dist, deb[0]), work, port)
            finally:
                endpoint_fixture.stop(endpoint_dir)
        for system in ("windows-x64", "windows-x86"):
            if system in targets:
                check_windows(dist, work, system, linux_root, wine.get(system), cert)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
