#!/usr/bin/env python3
"""Two processes of 8 threads each write one log at once: every line of both
arrives whole and is counted, and with a small limit the files stay near it.

  log_share_check.py WRITER WORK_DIR [RUNNER...]

WRITER is the shared_log_writer program; RUNNER, when given, the command
that runs a Windows program (the build's Wine loader with its prefix).
"""
import os
import re
import shutil
import subprocess
import sys

THREADS, LINES = 8, 3000
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\|\d{8}\| Shared : ([AB]) (\d+) (\d+) \.{40}$")


def run_pair(writer, runner, path, limit, lines):
    env = dict(os.environ, WINEDEBUG="-all")
    procs = [subprocess.Popen(runner + [writer, path, str(limit), str(THREADS), str(lines), tag], env=env,
                              stdout=subprocess.PIPE)
             for tag in "AB"]
    ready = [p.stdout.readline().strip() == b"ready" for p in procs]
    open(path + ".go", "w").close()
    codes = [p.wait(timeout=600) for p in procs]
    os.remove(path + ".go")
    return codes if all(ready) else None


def lines_of(path):
    with open(path, "rb") as f:
        data = f.read()
    end = b"\r\n" if b"\r\n" in data[:200] else b"\n"
    if data and not data.endswith(end):
        return None
    return data.decode("latin-1").split(end.decode())[:-1]


def main():
    writer, work = sys.argv[1], sys.argv[2]
    runner = sys.argv[3:]
    failures = []

    def check(what, ok):
        print(("ok     " if ok else "FAILED ") + what)
        if not ok:
            failures.append(what)

    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    # Every line kept in one file: each of the 48,000 lines whole, once.
    path = os.path.join(work, "verifylog.txt")
    check("both writers ended", run_pair(writer, runner, path, 1 << 30, LINES) == [0, 0])
    lines = lines_of(path)
    check("the file ends with a whole line", lines is not None)
    seen = {}
    bad = 0
    for line in lines or []:
        m = LINE.match(line)
        if not m:
            bad += 1
            if bad <= 3:
                print("  malformed: %r" % line[:120])
            continue
        key = m.groups()
        seen[key] = seen.get(key, 0) + 1
    # The two processes wrote at the same time: their lines alternate often.
    tags = [l[39] for l in lines or [] if len(l) > 39]
    switches = sum(1 for a, b in zip(tags, tags[1:]) if a != b)
    check("the processes wrote at once (%d switches)" % switches, switches >= 100)
    expected = 2 * THREADS * LINES
    check("no line malformed or glued (%d)" % bad, bad == 0)
    check("every line once (%d distinct of %d, %d lines)" % (len(seen), expected, len(lines or [])),
          len(seen) == expected and all(n == 1 for n in seen.values()))

    # A limit of 64 KiB: both processes start the file afresh as it fills,
    # and no file runs far past the limit (a few dozen lines of each process).
    shutil.rmtree(work)
    os.makedirs(work)
    limit = 65536
    check("both writers ended (limit %d)" % limit, run_pair(writer, runner, path, limit, 1000) == [0, 0])
    names = sorted(os.listdir(work))
    check("the file and one earlier generation (%s)" % names, names == ["verifylog.1.txt", "verifylog.txt"])
    for name in names:
        file_lines = lines_of(os.path.join(work, name))
        size = os.path.getsize(os.path.join(work, name))
        check("%s ends with a whole line" % name, file_lines is not None)
        check("%s: every line whole" % name, all(LINE.match(l) for l in file_lines or []))
        check("%s: %d bytes, near the limit" % (name, size), size <= limit + 64 * 100)
    print("%d passed, %d failed" % (11 - len(failures), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
