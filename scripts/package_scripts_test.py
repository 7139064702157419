#!/usr/bin/python3
"""scripts/package and scripts/rebuild-packages refuse, before they build or
remove anything, a wrong argument and a folder holding files they did not
write: each case must exit 2 and leave the folder's files as they were.
(A run that is not refused builds every target: the package suite covers
that.)"""
import os
import signal
import subprocess
import sys
import tempfile

SCRIPTS = os.path.dirname(os.path.abspath(__file__))


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
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
