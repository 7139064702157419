#!/usr/bin/python3
"""scripts/version on a scratch repository: two commits never share a
version, a later commit sorts after an earlier one and a release after
every build before it (dpkg --compare-versions), only an annotated tag
makes a release, and a tag that contradicts CMakeLists.txt is refused."""
import os
import shutil
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "version")


def main():
    failures = 0

    def check(what, ok, detail=""):
        nonlocal failures
        print(("ok     " if ok else "FAILED ") + what + ("" if ok else ": " + detail))
        failures += not ok

    with tempfile.TemporaryDirectory() as repo:
        env = dict(os.environ, GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@example.org", GIT_COMMITTER_NAME="t",
                   GIT_COMMITTER_EMAIL="t@example.org")
        env.pop("HV_VERSION", None)

        def git(*args):
            subprocess.run(["git", "-C", repo] + list(args), check=True, capture_output=True, env=env)

        changes = []

        def commit(version):
            changes.append(version)
            with open(os.path.join(repo, "CMakeLists.txt"), "w") as f:
                f.write("# change %d\nproject(HvVerifySp VERSION %s LANGUAGES C CXX)\n" % (len(changes), version))
            git("add", "-A")
            git("commit", "-qm", "change")

        def version():
            p = subprocess.run(["bash", os.path.join(repo, "scripts", "version")], capture_output=True,
                               text=True, env=env)
            return p.stdout.strip() if p.returncode == 0 else None

        def newer(a, b):
            return subprocess.run(["dpkg", "--compare-versions", a, "gt", b]).returncode == 0

        os.makedirs(os.path.join(repo, "scripts"))
        shutil.copy(SCRIPT, os.path.join(repo, "scripts", "version"))
        git("init", "-q")
        commit("1.0.0")
        first = version()
        commit("1.0.0")
        second = version()
        check("a build between releases names its commit", second is not None and second.startswith("1.0.0+2.g"),
              str(second))
        check("two commits, two versions, the later one newer", first != second and newer(second, first),
              "%s %s" % (first, second))
        git("tag", "v9.9.9")
        check("a lightweight tag is not a release", version() == second, str(version()))
        git("tag", "-d", "v9.9.9")
        git("tag", "-a", "-m", "release", "v1.0.0")
        release = version()
        check("the annotated tag's commit is the release", release == "1.0.0", str(release))
        commit("1.0.0")
        after = version()
        check("a build after the release counts from its tag and sorts after it",
              after is not None and after.startswith("1.0.0+1.g") and newer(after, release), str(after))
        commit("1.0.1")
        check("the next release sorts after every build of the last", newer("1.0.1", after))
        git("tag", "-a", "-m", "release", "v2.0.0")
        check("a tag that contradicts CMakeLists.txt is refused", version() is None, str(version()))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
