#!/usr/bin/python3
"""The packages as a host team receives them.

  package_check.py DIST TARGET... [--wine SYSTEM LOADER PREFIX]...

DIST is what scripts/package wrote (the Windows binaries signed with
DIST/../signing/cert.pem); TARGET is linux, windows-x64 or windows-x86.
Each package is unpacked into an empty folder and checked: its contents,
the checksums, the packaged module's exports, stripped binaries whose
symbol files hold the debugging sections, the version (Windows version
resources read back with pefile, vexhost --version), the signatures, and
the packaged vexhost verifying an accepted and a rejected account against
the packaged reference endpoint (Windows under Wine, when a loader is
given for that package's system, windows-x64 or windows-x86). The .deb is
unpacked into a scratch root (dpkg -x).
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import endpoint_fixture  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
VERSION = re.search(r"project\(HvVerifySp VERSION ([0-9.]+)",
                    open(os.path.join(ROOT, "CMakeLists.txt")).read()).group(1)
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


def check_linux(dist, work):
    base = "HvVerifySp-%s-linux-x86_64" % VERSION
    root = os.path.join(work, "tgz")
    with tarfile.open(os.path.join(dist, base + ".tar.gz")) as t:
        t.extractall(root)
    expected = {"bin/vexhost", "bin/verify-endpoint", "lib/libHvVerifySp.so", "lib/libvexbase.so",
                "include/hv/vex_host.h", "include/hv/vex_base_entries.h",
                "share/doc/HvVerifySp/vexcomm.dat", "share/doc/HvVerifySp/README-deploy.txt",
                "share/doc/HvVerifySp/CHANGELOG.md"}
    found = {os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs}
    check("linux tar.gz holds exactly its files", found == expected, str(sorted(found ^ expected)))
    symbols = os.path.join(work, "linux-symbols")
    with tarfile.open(os.path.join(dist, base + "-symbols.tar.gz")) as t:
        t.extractall(symbols)
    check_split("objdump", [os.path.join(root, f) for f in
                            ("bin/vexhost", "bin/verify-endpoint", "lib/libHvVerifySp.so", "lib/libvexbase.so")],
                symbols)
    check_exports(os.path.join(root, "lib/libHvVerifySp.so"), False, "objdump")
    p = run([os.path.join(root, "bin/vexhost"), "--version"])
    check("vexhost --version says " + VERSION, p.stdout.decode().strip() == "vexhost " + VERSION)
    deb = [f for f in os.listdir(dist) if f.endswith(".deb")]
    check("one .deb", len(deb) == 1, str(deb))
    if deb:
        scratch = os.path.join(work, "deb")
        run(["dpkg", "-x", os.path.join(dist, deb[0]), scratch])
        for path in ("usr/lib/libHvVerifySp.so", "usr/lib/libvexbase.so", "usr/include/hv/vex_host.h",
                     "usr/bin/vexhost", "usr/bin/verify-endpoint"):
            check(".deb installs " + path, os.path.exists(os.path.join(scratch, path)))
        version = run(["dpkg-deb", "-f", os.path.join(dist, deb[0]), "Version"]).stdout.decode().strip()
        check(".deb version is " + VERSION, version == VERSION, version)
    return root


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


def check_windows(dist, work, system, linux_root, wine, cert):
    base = "HvVerifySp-%s-%s" % (VERSION, system)
    root = os.path.join(work, system)
    with zipfile.ZipFile(os.path.join(dist, base + ".zip")) as z:
        z.extractall(root)
    expected = {"HvVerifySp.dll", "vexbase.dll", "vexhost.exe", "include/hv/vex_host.h",
                "include/hv/vex_base_entries.h", "vexcomm.dat", "README-deploy.txt", "CHANGELOG.md"}
    found = {os.path.relpath(os.path.join(d, f), root).replace(os.sep, "/")
             for d, _, fs in os.walk(root) for f in fs}
    check(system + " zip holds exactly its files", found == expected, str(sorted(found ^ expected)))
    triplet = "x86_64-w64-mingw32" if system == "windows-x64" else "i686-w64-mingw32"
    objdump = triplet + "-objdump"
    binaries = [os.path.join(root, f) for f in ("HvVerifySp.dll", "vexbase.dll", "vexhost.exe")]
    symbols = os.path.join(work, system + "-symbols")
    with zipfile.ZipFile(os.path.join(dist, base + "-symbols.zip")) as z:
        z.extractall(symbols)
    check_split(objdump, binaries, symbols)
    check_exports(os.path.join(root, "HvVerifySp.dll"), True, objdump)
    major, minor, patch = (int(x) for x in VERSION.split("."))
    for path in binaries:
        name = os.path.basename(path)
        values, fixed = version_strings(path)
        want = {"FileVersion": VERSION, "ProductVersion": VERSION, "ProductName": "HvVerifySp",
                "OriginalFilename": name, "InternalName": os.path.splitext(name)[0]}
        check(name + " version resource", all(values.get(k) == v for k, v in want.items())
              and bool(values.get("FileDescription")), str(values))
        check(name + " fixed file version " + VERSION, fixed is not None and
              (fixed.FileVersionMS, fixed.FileVersionLS) == ((major << 16) | minor, patch << 16))
        p = run(["osslsigncode", "verify", "-CAfile", cert, "-in", path])
        check(name + " carries a valid signature", p.returncode == 0,
              (p.stdout + p.stderr).decode(errors="replace")[-300:])
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


def main():
    args = sys.argv[1:]
    wine = {}
    while "--wine" in args:
        at = args.index("--wine")
        wine[args[at + 1]] = (args[at + 2], args[at + 3])
        del args[at:at + 4]
    dist, targets = args[0], args[1:]
    cert = os.path.join(os.path.dirname(os.path.abspath(dist)), "signing", "cert.pem")
    sums = {}
    for line in open(os.path.join(dist, "SHA256SUMS")):
        digest, name = line.split(None, 1)
        sums[name.strip().lstrip("*")] = digest
    files = sorted(f for f in os.listdir(dist) if f != "SHA256SUMS")
    check("SHA256SUMS lists every file", sorted(sums) == files, str(sorted(set(sums) ^ set(files))))
    for name in files:
        digest = hashlib.sha256(open(os.path.join(dist, name), "rb").read()).hexdigest()
        check("checksum of " + name, sums.get(name) == digest)
    with tempfile.TemporaryDirectory() as work:
        linux_root = check_linux(dist, work) if "linux" in targets else None
        if linux_root:
            endpoint_dir = os.path.join(work, "endpoint")
            os.makedirs(endpoint_dir)
            endpoint_fixture.start(endpoint_dir, os.path.join(linux_root, "bin", "verify-endpoint"))
            try:
                port = open(os.path.join(endpoint_dir, "port")).read().strip()
                verify_accounts([os.path.join(linux_root, "bin", "vexhost")], os.path.join(linux_root, "bin"), port)
            finally:
                endpoint_fixture.stop(endpoint_dir)
        for system in ("windows-x64", "windows-x86"):
            if system in targets:
                check_windows(dist, work, system, linux_root, wine.get(system), cert)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
