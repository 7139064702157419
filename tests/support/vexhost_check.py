#!/usr/bin/env python3
"""Drives the reference host with the real module against the reference
endpoint, as an operator would.

  vexhost_check.py BIN_DIR ENDPOINT_DIR [RUNNER...]

BIN_DIR holds vexhost, the module and the base library; ENDPOINT_DIR is the
running endpoint fixture (its port file); RUNNER, when given, is the command
that runs a Windows program (the build's Wine loader with its prefix). The programs are copied into a
folder of their own with a "vexcomm.dat" naming the endpoint.
"""
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    bin_dir, endpoint_dir = sys.argv[1], sys.argv[2]
    runner = sys.argv[3:]
    windows = bool(runner)
    with open(os.path.join(endpoint_dir, "port")) as f:
        port = f.read().strip()
    names = ["vexhost.exe", "HvVerifySp.dll", "vexbase.dll"] if windows else \
            ["vexhost", "libHvVerifySp.so", "libvexbase.so"]
    failures = []
    with tempfile.TemporaryDirectory() as host_dir:
        for name in names:
            shutil.copy2(os.path.join(bin_dir, name), host_dir)
        with open(os.path.join(host_dir, "vexcomm.dat"), "w") as f:
            f.write("[SPCfg]\r\nVerifyHost=127.0.0.1:%s\r\n" % port)
        host = [os.path.join(host_dir, names[0])]
        host = runner + host
        env = dict(os.environ, WINEDEBUG="-all")

        def run(args, stdin=""):
            p = subprocess.run(host + args, input=stdin.encode(), capture_output=True,
                               env=env, timeout=120)
            return p.returncode, p.stdout.decode(errors="replace")

        def check(what, ok):
            print(("ok     " if ok else "FAILED ") + what)
            if not ok:
                failures.append(what)

        rc, out = run(["classes"])
        check("classes lists HvVerifyImpl", rc == 0 and "HvVerifyImpl" in out)
        rc, out = run(["verify", "alice"], "right-pw\n")
        check("right password accepted", rc == 0 and "result=accepted" in out)
        rc, out = run(["verify", "alice", "--timeout", "5"], "wrong\n")
        check("wrong password rejected", rc == 0 and "result=rejected" in out)
        rc, out = run(["request", "/IHvVerify/SetVerifyOpt", "not json"])
        check("bad request gets the parse failure", rc == 0 and "-536412127" in out)
        rc, out = run(["request", "/IHvVerify/Nothing", "{}"])
        check("unknown method fails", rc == 1 and "-536543224" in out)
        rc, _ = run(["--module", os.path.join(host_dir, "missing-module"), "classes"])
        check("missing module exits 3", rc == 3)
        rc, _ = run(["verify"])
        check("bad arguments exit 2", rc == 2)
    print("%d passed, %d failed" % (7 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
