#!/usr/bin/python3
"""scripts/version (and the configure that reads it) on a scratch
repository: two builds never share a version; in dpkg order a later commit
sorts after an earlier one and every build between two releases above the
earlier and below the later, with or without the tags; only an annotated
vX.Y.Z tag makes a release; a shallow clone is numbered 0; a dirty tree, a bad
HV_VERSION and a tag that contradicts CMakeLists.txt are caught."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

SCRIPTS = os.path.dirname(os.path.abspath(__file__))
VERSION_CMAKE = os.path.join(SCRIPTS, "..", "cmake", "version.cmake")


def main():
    failures = 0

    def check(what, ok, detail=""):
        nonlocal failures
        print(("ok     " if ok else "FAILED ") + what + ("" if ok else ": " + detail))
        failures += not ok

    with tempfile.TemporaryDirectory() as work:
        repo = os.path.join(work, "repo")
        env = dict(os.environ, GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@example.org", GIT_COMMITTER_NAME="t",
                   GIT_COMMITTER_EMAIL="t@example.org")
        env.pop("HV_VERSION", None)

        def git(*args, cwd=repo):
            subprocess.run(["git", "-C", cwd] + list(args), check=True, capture_output=True, env=env)

        changes = []

        def commit(version):
            changes.append(version)
            with open(os.path.join(repo, "CMakeLists.txt"), "w") as f:
                f.write("# change %d\nproject(HvVerifySp VERSION %s LANGUAGES C CXX)\n" % (len(changes), version))
            git("add", "-A")
            git("commit", "-qm", "change")

        def version(where=repo, **extra):
            p = subprocess.run(["bash", os.path.join(where, "scripts", "version")], capture_output=True,
                               text=True, env=dict(env, **extra))
            return p.stdout.strip() if p.returncode == 0 else None

        def configure(where=repo, **extra):
            """What the configure makes of the version: (text, Windows fixed
            version), or None when it fails."""
            p = subprocess.run(["cmake", "-DPROJECT_SOURCE_DIR=" + where, "-P", VERSION_CMAKE],
                               capture_output=True, text=True, env=dict(env, **extra))
            m = re.search(r"HvVerifySp version (\S+) \(Windows file version ([0-9,]+)\)", p.stdout)
            return (m.group(1), tuple(int(n) for n in m.group(2).split(","))) if p.returncode == 0 and m else None

        def newer(a, b):
            return a is not None and b is not None and \
                subprocess.run(["dpkg", "--compare-versions", a, "gt", b]).returncode == 0

        def edit(name, text):
            with open(os.path.join(repo, name), "w") as f:
                f.write(text)

        os.makedirs(os.path.join(repo, "scripts"))
        shutil.copy(os.path.join(SCRIPTS, "version"), os.path.join(repo, "scripts", "version"))
        edit("notes.txt", "notes\n")
        git("init", "-q")
        commit("1.0.0")
        first = version()
        commit("1.0.0")
        second = version()
        check("a build before a release names its commit and the release it leads to",
              second is not None and re.fullmatch(r"1\.0\.0~2\.g[0-9a-f]{12}", second) is not None, str(second))
        check("a build before a release sorts below it (no tag yet)", newer("1.0.0", second), str(second))
        check("two commits, two versions, the later one newer", first != second and newer(second, first),
              "%s %s" % (first, second))
        git("tag", "v9.9.9")
        check("a lightweight tag is not a release", version() == second, str(version()))
        git("tag", "-d", "v9.9.9")
        git("tag", "-a", "-m", "candidate", "v1.0.0-rc1")
        check("a candidate's tag (v1.0.0-rc1) changes nothing", version() == second, str(version()))
        git("tag", "-a", "-m", "release", "v1.0.0")
        release = version()
        check("the annotated tag's commit is the release", release == "1.0.0", str(release))
        check("the release sorts above every build before it", newer(release, second) and newer(release, first))
        check("the Windows fixed version of a release sorts above its builds'",
              configure() == ("1.0.0", (1, 0, 0, 65535)), str(configure()))

        edit("notes.txt", "changed\n")
        dirty = version()
        check("a dirty tree at a release tag is no release but a marked build of its commit",
              dirty is not None and dirty.startswith(second + ".dirty.") and newer(release, dirty)
              and newer(dirty, second), str(dirty))
        check("the same changes, the same version", version() == dirty, str(version()))
        edit("notes.txt", "changed again\n")
        check("other changes, another version", version() not in (dirty, None), str(version()))
        edit("notes.txt", "notes\n")
        edit("new.txt", "new\n")
        untracked = version()
        check("a file git does not ignore makes the tree dirty",
              untracked not in (None, dirty) and ".dirty." in untracked, str(untracked))
        os.remove(os.path.join(repo, "new.txt"))
        check("a clean tree again is the release", version() == release, str(version()))

        commit("1.0.0")
        check("a build after a release whose version was not raised is refused", version() is None,
              str(version()))
        check("a failing scripts/version fails the configure", configure() is None, str(configure()))
        commit("1.0.1")
        after = version()
        check("a build after a release sorts above it and below the next",
              after is not None and after.startswith("1.0.1~4.g") and newer(after, release)
              and newer("1.0.1", after) and newer(after, dirty), str(after))
        check("the Windows fixed version counts the commits",
              configure() == (after, (1, 0, 1, 4)), str(configure()))
        git("tag", "-a", "-m", "release", "v0.9.0", "HEAD~3")
        check("tagging an earlier commit changes no later build's version", version() == after, str(version()))
        commit("0.9.5")
        check("a version below a release already made is refused", version() is None, str(version()))
        git("reset", "-q", "--hard", "HEAD~1")

        for what, value, ok in [
            ("HV_VERSION: a release of CMakeLists.txt's version", "1.0.1", True),
            ("HV_VERSION: a build of it", "1.0.1~9.g0123456789ab", True),
            ("HV_VERSION: a dirty build of it", "1.0.1~9.g0123456789ab.dirty.0123456789ab", True),
            ("HV_VERSION: another release", "1.0.0", False),
            ("HV_VERSION: the old form", "1.0.1+9.g0123456789ab", False),
            ("HV_VERSION: not a version", "1.0.1 beta", False),
        ]:
            got = version(HV_VERSION=value)
            check(what + (" accepted" if ok else " refused"), (got == value) if ok else got is None, str(got))

        git("tag", "-a", "-m", "release", "v2.0.0")
        check("a tag that contradicts CMakeLists.txt is refused", version() is None, str(version()))
        git("tag", "-d", "v2.0.0")

        shallow = os.path.join(work, "shallow")
        subprocess.run(["git", "clone", "-q", "--depth", "1", "file://" + repo, shallow], check=True,
                       capture_output=True, env=env)
        got = version(shallow)
        check("a shallow clone is numbered 0, below every counted build, and still names its commit",
              got is not None and got.startswith(version().split("~")[0] + "~0.g" + subprocess.run(
                  ["git", "-C", repo, "rev-parse", "--short=12", "HEAD"], capture_output=True,
                  text=True, env=env).stdout.strip())
              and subprocess.run(["dpkg", "--compare-versions", got, "lt", version()]).returncode == 0,
              str(got))
        copy = os.path.join(work, "copy")
        shutil.copytree(repo, copy, ignore=shutil.ignore_patterns(".git"))
        check("a copy without history needs HV_VERSION", configure(copy) is None
              and configure(copy, HV_VERSION=after) == (after, (1, 0, 1, 4)), str(configure(copy)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
