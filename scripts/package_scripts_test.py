#!/usr/bin/python3
"""scripts/package and scripts/rebuild-packages refuse, before they build or
remove anything, a wrong argument and a folder holding files they did not
write: each case must exit 2 and leave the folder's files as they were.
Then both run to the end in a scratch repository whose build is stubbed
(cmake and packaging/make_packages.py write a file per target): their own
earlier output is replaced, a file added or changed meanwhile is kept, an
interrupted swap loses nothing, relative paths are the caller's, and the
rebuild copies only what git tracks. (The package suite covers real
builds.)"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile

SCRIPTS = os.path.dirname(os.path.abspath(__file__))

# The build, stubbed: cmake makes the build folder it is given, the
# packaging step writes one file per target (and, when asked, fails, drops
# a file into HV_DIST_DIR meanwhile, or records the signing paths).
STUB_CMAKE = """#!/bin/bash
while [ $# -gt 0 ]; do [ "$1" = -B ] && mkdir -p "$2"; shift; done
exit 0
"""
STUB_MAKE_PACKAGES = """import argparse, os, sys
p = argparse.ArgumentParser()
for opt in ("stage", "prefix", "symbols", "system", "version", "out", "maintainer"):
    p.add_argument("--" + opt)
a = p.parse_args()
if os.environ.get("STUB_FAIL"):
    sys.exit(1)
if os.environ.get("STUB_DROP"):
    open(os.environ["STUB_DROP"], "w").write("put there during the build")
if os.environ.get("STUB_RECORD"):
    open(os.environ["STUB_RECORD"], "w").write(os.environ.get("HV_SIGN_CERT", "") + "\\n" + os.environ.get("HV_SIGN_KEY", ""))
open(os.path.join(a.out, "HvVerifySp-%s-%s.zip" % (a.version, a.system)), "w").write(a.version)
"""
# mv, interrupted just before it moves the new folder into place: Ctrl-C
# (SIGINT to the whole process group) or SIGKILL of the script.
STUB_MV = """#!/bin/bash
case "$*" in
  *.new.*)
    case ${STUB_INTERRUPT:-} in
      INT) kill -INT 0; sleep 5; exit 1 ;;
      KILL) kill -KILL $PPID; exit 1 ;;
    esac ;;
esac
exec /bin/mv "$@"
"""


def snapshot(folder):
    found = {}
    for d, _, files in os.walk(folder):
        for f in files:
            path = os.path.join(d, f)
            found[os.path.relpath(path, folder)] = open(path, "rb").read()
    return found


def earlier_release(folder):
    """What an earlier run of scripts/package left: packages and their SHA256SUMS."""
    os.makedirs(folder)
    for name in ("HvVerifySp-1.0.0-linux-x86_64.tar.gz", "hvverifysp_1.0.0_amd64.deb"):
        open(os.path.join(folder, name), "w").write(name)
    subprocess.run("sha256sum -- * > SHA256SUMS", shell=True, cwd=folder, check=True)


def run(command, env):
    """Runs a script in a session of its own; a script that is not refused
    goes on to build, and is ended with everything it started."""
    p = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                         start_new_session=True)
    try:
        _, err = p.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        _, err = p.communicate()
        return "timed out (not refused)", err
    return p.returncode, err


def stub_repository(work):
    """A git repository holding the packaging scripts, with the build
    stubbed; returns (repository, the PATH that finds the stubs)."""
    repo = os.path.join(work, "stub")
    os.makedirs(os.path.join(repo, "scripts"))
    os.makedirs(os.path.join(repo, "packaging"))
    for name in ("package", "rebuild-packages", "version", "replace_folder.sh"):
        shutil.copy(os.path.join(SCRIPTS, name), os.path.join(repo, "scripts", name))
    open(os.path.join(repo, "scripts", "setup"), "w").write("exit 0\n")
    open(os.path.join(repo, "packaging", "make_packages.py"), "w").write(STUB_MAKE_PACKAGES)
    shutil.copy(os.path.join(SCRIPTS, "..", "packaging", "sign_pe.sh"), os.path.join(repo, "packaging"))
    open(os.path.join(repo, "CMakeLists.txt"), "w").write("project(HvVerifySp VERSION 1.1.0 LANGUAGES C CXX)\n")
    env = dict(os.environ, GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@example.org", GIT_COMMITTER_NAME="t",
               GIT_COMMITTER_EMAIL="t@example.org")
    for args in (["init", "-q"], ["add", "-A"], ["commit", "-qm", "stub"]):
        subprocess.run(["git", "-C", repo] + args, check=True, capture_output=True, env=env)
    stubs = os.path.join(work, "stub-bin")
    os.makedirs(stubs)
    for name, text in (("cmake", STUB_CMAKE), ("mv", STUB_MV)):
        open(os.path.join(stubs, name), "w").write(text)
        os.chmod(os.path.join(stubs, name), 0o755)
    return repo, stubs + os.pathsep + os.environ["PATH"]


def stubbed_runs(work):
    """The runs that go to the end, on the stub repository: (what, ok, detail)."""
    repo, path = stub_repository(work)
    package = ["bash", os.path.join(repo, "scripts", "package")]
    dist = os.path.join(work, "out", "dist")
    rows = []

    def run_here(command, **extra):
        env = dict(os.environ, PATH=path, HV_DIST_DIR="out/dist", HV_BUILD_DIR=os.path.join(work, "builds"))
        env.update(extra)
        env.pop("HV_VERSION", None)
        p = subprocess.run(command, cwd=work, env=env, capture_output=True, text=True, timeout=120,
                           start_new_session=True)
        return p.returncode, p.stderr.strip()[-200:]

    def row(what, ok, detail):
        rows.append((what, ok, detail))

    rc, err = run_here(package)
    row("a relative HV_DIST_DIR is the caller's", rc == 0 and os.path.isfile(os.path.join(dist, ".package"))
        and not os.path.exists(os.path.join(repo, "out")), "exit %s, %s" % (rc, err))
    rc, err = run_here(package)
    earlier = snapshot(dist)
    row("its own earlier output is replaced", rc == 0 and len(earlier) == 5, "exit %s, %s" % (rc, err))
    if not os.path.isdir(dist):
        return rows
    backup = os.path.join(work, "out", "backup")
    shutil.copytree(dist, backup)
    if os.path.exists(os.path.join(backup, ".package")):
        os.remove(os.path.join(backup, ".package"))
    subprocess.run("sha256sum -- * > SHA256SUMS", shell=True, cwd=backup, check=True)
    before = snapshot(backup)
    rc, err = run_here(package, HV_DIST_DIR="out/backup")
    row("a copy of it with its own SHA256SUMS is refused", rc == 2 and snapshot(backup) == before,
        "exit %s, %s" % (rc, err))
    notes = os.path.join(dist, "notes.txt")
    rc, err = run_here(package, STUB_DROP=notes)
    row("a file put into it during the build is kept (refused before the move)",
        rc == 2 and snapshot(dist) == dict(earlier, **{"notes.txt": b"put there during the build"}),
        "exit %s, %s" % (rc, err))
    if os.path.exists(notes):
        os.remove(notes)
    changed = os.path.join(dist, "SHA256SUMS")
    open(changed, "a").write("# mine\n")
    rc, err = run_here(package)
    row("a file of it changed since is kept (refused)", rc == 2 and snapshot(dist) != earlier,
        "exit %s, %s" % (rc, err))
    open(changed, "wb").write(earlier["SHA256SUMS"])
    rc, err = run_here(package, STUB_INTERRUPT="INT")
    row("Ctrl-C between the moves leaves the earlier packages",
        rc != 0 and snapshot(dist) == earlier and not os.path.exists(os.path.join(work, "out", ".dist.old")),
        "exit %s, %s" % (rc, err))
    rc, err = run_here(package, STUB_INTERRUPT="KILL")
    rc2, err2 = run_here(package, STUB_FAIL="1")
    row("a run killed between the moves is undone by the next (here a failing one)",
        rc != 0 and rc2 != 0 and snapshot(dist) == earlier, "exit %s then %s, %s" % (rc, rc2, err2))
    keys = os.path.join(work, "keys")
    os.makedirs(keys)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-subj", "/CN=t", "-days", "2", "-keyout", os.path.join(keys, "key.pem"),
                    "-out", os.path.join(keys, "cert.pem")], check=True, capture_output=True)
    record = os.path.join(work, "record")
    rc, err = run_here(package, HV_SIGN_CERT="keys/cert.pem", HV_SIGN_KEY="keys/key.pem", STUB_RECORD=record)
    got = open(record).read().split("\n") if os.path.exists(record) else None
    row("relative HV_SIGN_CERT and HV_SIGN_KEY are the caller's",
        rc == 0 and got == [os.path.join(keys, "cert.pem"), os.path.join(keys, "key.pem")],
        "exit %s, %s, %s" % (rc, got, err))

    open(os.path.join(repo, "stray.txt"), "w").write("not tracked")
    rc, err = run_here(["bash", os.path.join(repo, "scripts", "rebuild-packages"), "rebuild-out"])
    rebuilt = os.path.join(work, "rebuild-out")
    made = sorted(os.listdir(os.path.join(rebuilt, "dist"))) if os.path.isdir(os.path.join(rebuilt, "dist")) else []
    row("rebuild: a relative FOLDER is the caller's", rc == 0 and made and
        not os.path.exists(os.path.join(repo, "rebuild-out")), "exit %s, %s" % (rc, err))
    row("rebuild: files git does not track are not copied", rc == 0 and
        not os.path.exists(os.path.join(rebuilt, "src", "stray.txt")), "exit %s, %s" % (rc, err))
    row("rebuild: a tree with changes is built under a marked version", rc == 0 and
        any(".dirty." in name for name in made), str(made))
    return rows


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        release = os.path.join(work, "release")
        earlier_release(release)
        foreign = os.path.join(work, "foreign")
        earlier_release(foreign)
        open(os.path.join(foreign, "notes.txt"), "w").write("mine")
        unsummed = os.path.join(work, "unsummed")
        os.makedirs(unsummed)
        open(os.path.join(unsummed, "HvVerifySp-0.9.zip"), "w").write("old")
        rebuilt = os.path.join(work, "rebuilt")
        os.makedirs(os.path.join(rebuilt, "dist"))
        open(os.path.join(rebuilt, "dist", "SHA256SUMS"), "w").write("")
        half = os.path.join(work, "half-signing")
        os.makedirs(half)
        open(os.path.join(half, "cert.pem"), "w").write("cert")
        package = ["bash", os.path.join(SCRIPTS, "package")]
        rebuild = ["bash", os.path.join(SCRIPTS, "rebuild-packages")]
        cases = [
            ("a mistyped target", package, {"HV_DIST_DIR": release, "HV_PACKAGE_TARGETS": "linux windows-64"}, release),
            ("no target", package, {"HV_DIST_DIR": release, "HV_PACKAGE_TARGETS": " "}, release),
            ("a certificate without its key", package,
             {"HV_DIST_DIR": release, "HV_SIGN_CERT": os.path.join(half, "cert.pem")}, release),
            ("a file SHA256SUMS does not list", package, {"HV_DIST_DIR": foreign}, foreign),
            ("a backup made with sha256sum * > SHA256SUMS", package, {"HV_DIST_DIR": release}, release),
            ("a folder without SHA256SUMS", package, {"HV_DIST_DIR": unsummed}, unsummed),
            ("rebuild: a folder it did not make", rebuild + [rebuilt], {}, rebuilt),
            ("rebuild: a signing folder without key.pem", rebuild + [release, half], {}, release),
            ("rebuild: no folder", rebuild, {}, release),
        ]
        for what, command, env, folder in cases:
            before = snapshot(folder)
            rc, err = run(command, dict(os.environ, **env))
            ok = rc == 2 and snapshot(folder) == before and err.strip() != ""
            print(("ok     " if ok else "FAILED ") + what + ": exit %s, %s" % (rc, err.strip()[-200:]))
            failures += not ok
        for what, ok, detail in stubbed_runs(work):
            print(("ok     " if ok else "FAILED ") + what + ("" if ok else ": " + detail))
            failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
