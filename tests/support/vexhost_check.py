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

    def check(what, ok):
        print(("ok     " if ok else "FAILED ") + what)
        if not ok:
            failures.append(what)

    def host_folder(folder, config, endpoint_port=None):
        for name in names:
            shutil.copy2(os.path.join(bin_dir, name), folder)
        with open(os.path.join(folder, "vexcomm.dat"), "w") as f:
            f.write("[SPCfg]\r\n%sVerifyHost=127.0.0.1:%s\r\n" % (config, endpoint_port or port))
        host = runner + [os.path.join(folder, names[0])]
        env = dict(os.environ, WINEDEBUG="-all")

        def run(args, stdin=""):
            p = subprocess.run(host + args, input=stdin.encode(), capture_output=True,
                               env=env, timeout=240)
            return p.returncode, p.stdout.decode(errors="replace"), p.stderr.decode(errors="replace")
        return run

    with tempfile.TemporaryDirectory() as host_dir:
        run = host_folder(host_dir, "")
        rc, out, _ = run(["classes"])
        check("classes lists HvVerifyImpl with its whole identifier",
              rc == 0 and "{87041C5E-FA03-49F6-B118-402A2A5AA8A1} HvVerifyImpl" in out)
        rc, out, _ = run(["verify", "alice"], "right-pw\n")
        check("right password accepted", rc == 0 and "result=accepted" in out)
        check("verify ends with a line a person reads",
              out.rstrip().splitlines()[-1].startswith("vexhost: the endpoint's answer was received")
              and "verifylog.txt" in out.rstrip().splitlines()[-1])
        rc, out, _ = run(["verify", "alice", "--timeout", "5"], "wrong\n")
        check("wrong password rejected", rc == 0 and "result=rejected" in out)
        rc, out, _ = run(["request", "/IHvVerify/SetVerifyOpt", "not json"])
        check("bad request gets the parse failure", rc == 0 and "-536412127" in out)
        rc, out, _ = run(["request", "/IHvVerify/Nothing", "{}"])
        check("unknown method fails", rc == 1 and "-536543224" in out)
        rc, _, _ = run(["--module", os.path.join(host_dir, "missing-module"), "classes"])
        check("missing module exits 3", rc == 3)
        # The base library exports none of the HvDll entry points: the host
        # must say so and exit 4, not crash asking it HvDllCanUnloadNow.
        rc, _, err = run(["--module", os.path.join(host_dir, names[2]), "classes"])
        check("a module without HvDllCanUnloadNow exits 4", rc == 4 and "four HvDll" in err)
        # A service that refused Initialize is never uninitialised: the
        # stand-in module ends the process with 86 when it is.
        refusing = "refusing_service.dll" if windows else "librefusing_service.so"
        rc, _, err = run(["--module", os.path.join(bin_dir, refusing), "request", "/x", "{}"])
        check("a refused Initialize exits 5 and is not followed by Uninitialize",
              rc == 5 and "did not initialise" in err)
        rc, _, err = run(["verify"])
        check("missing arguments exit 2 and say so", rc == 2 and "arguments missing" in err)
        rc, _, err = run(["classes", "./module.so"])
        check("a stray argument is named", rc == 2 and "argument not understood: ./module.so" in err)
    with tempfile.TemporaryDirectory() as host_dir:
        run = host_folder(host_dir, "IHvVerify=IAccountCheck\r\n")
        rc, out, _ = run(["verify", "alice"], "right-pw\n")
        check("a configured interface name serves verify", rc == 0 and "result=accepted" in out)
        rc, out, _ = run(["request", "/IAccountCheck/SetVerifyOpt", "not json"])
        check("its method paths begin with that name", rc == 0 and "-536412127" in out)
        rc, out, _ = run(["request", "/IHvVerify/SetVerifyOpt", "not json"])
        check("the default name is not registered then", rc == 1 and "-536543224" in out)
    # The endpoint behind nginx and Apache (HV_PROXY_DIR: the proxy
    # fixture's folder), through each front: plain, chunked, redirecting.
    proxy_dir = os.environ.get("HV_PROXY_DIR")
    fronts = []
    if proxy_dir:
        with open(os.path.join(proxy_dir, "ports")) as f:
            fronts = [line.split() for line in f if line.strip()]
    for front, front_port in fronts:
        with tempfile.TemporaryDirectory() as host_dir:
            run = host_folder(host_dir, "", front_port)
            rc, out, _ = run(["verify", "alice"], "right-pw\n")
            check("behind %s: right password accepted" % front, rc == 0 and "result=accepted" in out)
            rc, out, _ = run(["verify", "alice"], "wrong\n")
            check("behind %s: wrong password rejected" % front, rc == 0 and "result=rejected" in out)
    check("proxy fronts were given (HV_PROXY_DIR)", not proxy_dir or len(fronts) == 5)
    total = 14 + 2 * len(fronts)
    print("%d passed, %d failed" % (total - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
