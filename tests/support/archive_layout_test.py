#!/usr/bin/python3
"""The archives make_packages.py writes hold one top folder named after
themselves, and the package check refuses every archive that does not:
files at the top (which unpack into ~/bin, ~/lib), a folder of another
name, a file beside the folder, a member climbing out, a link."""
import io
import os
import sys
import tarfile
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "packaging"))
import archive_layout  # noqa: E402
import make_packages  # noqa: E402

TOP = "HvVerifySp-1.0.0-linux-x86_64"


def tar(path, names, link=None):
    with tarfile.open(path, "w:gz") as t:
        for name in names:
            info = tarfile.TarInfo(name)
            info.size = 1
            t.addfile(info, io.BytesIO(b"x"))
        if link:
            info = tarfile.TarInfo(link)
            info.type, info.linkname = tarfile.SYMTYPE, "/etc/passwd"
            t.addfile(info)


def zip_(path, names):
    with zipfile.ZipFile(path, "w") as z:
        for name in names:
            z.writestr(name, b"x")


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        tree = os.path.join(work, "tree")
        os.makedirs(os.path.join(tree, "bin"))
        for name in ("bin/vexhost", "README-deploy.txt"):
            open(os.path.join(tree, name), "w").write("x")
        names = ["README-deploy.txt", "bin/vexhost"]
        cases = [
            ("make_packages' tar.gz", TOP + ".tar.gz",
             lambda p: make_packages.write_tar_gz(p, tree, names), True),
            ("make_packages' zip", TOP + ".zip", lambda p: make_packages.write_zip(p, tree, names), True),
            ("a tar.gz with its files at the top", TOP + ".tar.gz", lambda p: tar(p, names), False),
            ("a zip with its files at the top", TOP + ".zip", lambda p: zip_(p, names), False),
            ("a folder of another name", TOP + ".zip", lambda p: zip_(p, ["HvVerifySp/bin/vexhost"]), False),
            ("a file beside the folder", TOP + ".tar.gz",
             lambda p: tar(p, [TOP + "/bin/vexhost", "README-deploy.txt"]), False),
            ("a member climbing out of the folder", TOP + ".zip",
             lambda p: zip_(p, [TOP + "/bin/vexhost", TOP + "/../../.bashrc"]), False),
            ("an absolute member", TOP + ".tar.gz", lambda p: tar(p, ["/" + TOP + "/bin/vexhost"]), False),
            ("a link inside the folder", TOP + ".tar.gz",
             lambda p: tar(p, [TOP + "/bin/vexhost"], link=TOP + "/passwd"), False),
            ("an empty archive", TOP + ".zip", lambda p: zip_(p, []), False),
        ]
        for number, (what, name, write, sound) in enumerate(cases):
            folder = os.path.join(work, str(number))
            os.makedirs(folder)
            archive = os.path.join(folder, name)
            write(archive)
            root, wrong = archive_layout.unpack(archive, os.path.join(folder, "out"))
            if sound:
                ok = not wrong and open(os.path.join(root, "bin", "vexhost")).read() == "x" and \
                    os.listdir(os.path.join(folder, "out")) == [TOP]
            else:
                ok = bool(wrong) and root is None and not os.path.exists(os.path.join(folder, "out"))
            print(("ok     " if ok else "FAILED ") + what + ": " + (", ".join(wrong) or "sound"))
            failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
