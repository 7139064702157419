#!/usr/bin/env python3
"""The soak: a host that verifies from 8 threads against the reference
endpoint and reloads the module every few seconds, while its log is rotated
by rename under it as an administrator's tool would. Ends with every log
file bounded by its limit, no line lost or glued, memory flat, no crash.

  soak_check.py BIN_DIR ENDPOINT_DIR WORK_DIR [RUNNER...]

BIN_DIR holds soak_host, the module and the base library; ENDPOINT_DIR is
the running endpoint fixture (its port file); RUNNER, when given, the
command that runs a Windows program. HV_SOAK_SECONDS (default 60) is how
long the host lives, HV_SOAK_ROTATE_S (default 4) how often the log is
renamed away, HV_SOAK_LIMIT (default 262144) the log's size limit;
HV_SOAK_MEMORY=unjudged (set for sanitizer builds) skips the memory check.
"""
import os
import re
import shutil
import subprocess
import sys
import time

MESSAGES = {"StartVerify : start...", "StartVerify : EncryptVerifyUrl finish!",
            "SendVerifyUrl : Navigate status is 200", "StartVerify : SendVerifyUrl finish!",
            "StartVerify : DecryptVerifyResult finish!", "StartVerify : end!"}
PREFIX = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\|\d{8}\| ")


def rss_kib(pid):
    """Resident memory of the process and its children (Wine's loader may
    run the program in a child), in KiB."""
    total = 0
    pids = [str(pid)]
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            pids += f.read().split()
    except OSError:
        pass
    for p in pids:
        try:
            with open("/proc/%s/status" % p) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def main():
    bin_dir, endpoint_dir, work = sys.argv[1:4]
    runner = sys.argv[4:]
    windows = bool(runner)
    seconds = int(os.environ.get("HV_SOAK_SECONDS", "60"))
    rotate_every = float(os.environ.get("HV_SOAK_ROTATE_S", "4"))
    limit = int(os.environ.get("HV_SOAK_LIMIT", "262144"))
    with open(os.path.join(endpoint_dir, "port")) as f:
        port = f.read().strip()
    names = ["soak_host.exe", "HvVerifySp.dll", "vexbase.dll"] if windows else \
            ["soak_host", "libHvVerifySp.so", "libvexbase.so"]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    kept = os.path.join(work, "kept")
    os.makedirs(kept)
    for name in names:
        shutil.copy2(os.path.join(bin_dir, name), work)
    with open(os.path.join(work, "vexcomm.dat"), "w") as f:
        f.write("[SPCfg]\r\nVerifyHost=127.0.0.1:%s\r\nVerifyLogLimit=%d\r\n" % (port, limit))
    log = os.path.join(work, "verifylog.txt")
    earlier = os.path.join(work, "verifylog.1.txt")
    env = dict(os.environ, WINEDEBUG="-all", HV_SOAK_SECONDS=str(seconds))
    host = subprocess.Popen(runner + [os.path.join(work, names[0])], env=env, cwd=work,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    start = time.monotonic()
    next_rotation, next_sample = start + rotate_every, start + 1
    renamed = collected = 0
    samples = []
    # The administrator renames the log away every few seconds; each
    # earlier generation the writer leaves is taken aside at once, so that
    # the next one does not replace it and every line can be counted.
    while host.poll() is None:
        now = time.monotonic()
        if os.path.exists(earlier):
            try:
                os.rename(earlier, os.path.join(kept, "generation-%05d.txt" % collected))
                collected += 1
            except OSError:
                pass
        if now >= next_rotation and os.path.exists(log):
            os.rename(log, os.path.join(kept, "renamed-%05d.txt" % renamed))
            renamed += 1
            next_rotation = now + rotate_every
        if now >= next_sample:
            samples.append((now - start, rss_kib(host.pid)))
            next_sample = now + 1
        if now - start > seconds + 300:
            host.kill()
        time.sleep(0.005)
    output = host.stdout.read().decode(errors="replace")
    print(output.strip())
    failures = []

    def check(what, ok):
        print(("ok     " if ok else "FAILED ") + what)
        if not ok:
            failures.append(what)

    check("the host ended normally (exit %s)" % host.returncode, host.returncode == 0)
    m = re.search(r"soak: (\d+) verifications in (\d+) cycles", output)
    verified = int(m.group(1)) if m else -1
    cycles = int(m.group(2)) if m else 0
    files = [os.path.join(kept, n) for n in sorted(os.listdir(kept))] + \
            [p for p in (earlier, log) if os.path.exists(p)]
    ours = bad = 0
    largest = 0
    for path in files:
        data = open(path, "rb").read()
        end = b"\r\n" if windows else b"\n"
        largest = max(largest, len(data))
        if data and not data.endswith(end):
            bad += 1
            print("  %s ends inside a line" % path)
        lines = data.decode("latin-1").split(end.decode())[:-1]
        longest = max((len(l) for l in lines), default=0) + len(end)
        # The line that found the file below its limit may pass it.
        check("%s: %d bytes, within the limit and one line" % (os.path.basename(path), len(data)),
              len(data) <= limit + longest)
        for line in lines:
            if PREFIX.match(line) and line[30:] in MESSAGES:
                ours += 1
            else:
                bad += 1
                if bad <= 3:
                    print("  malformed: %r" % line[:120])
    check("%d verifications in %d cycles, %d renames, %d generations kept" %
          (verified, cycles, renamed, collected), verified > 0 and cycles >= 2 and renamed >= 2)
    check("no line malformed or glued (%d)" % bad, bad == 0)
    check("every line there: %d of %d" % (ours, 6 * verified), ours == 6 * verified)
    # Memory: the last third of the run against the second (the first
    # settles what the process keeps once for good).
    third = len(samples) // 3
    if os.environ.get("HV_SOAK_MEMORY") == "unjudged":
        print("memory not judged: a sanitizer build")
    elif third >= 2:
        middle = max(r for _, r in samples[third:2 * third])
        last = max(r for _, r in samples[2 * third:])
        print("rss: %s" % " ".join("%.0fs=%dK" % s for s in samples[::max(1, len(samples) // 12)]))
        check("memory flat: %d KiB, then %d KiB" % (middle, last), last <= middle * 1.1 + 4096)
    print("largest file %d bytes (limit %d)" % (largest, limit))
    print("%d passed, %d failed" % (4 + len(files) - len(failures), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
