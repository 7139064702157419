#!/usr/bin/python3
"""hardening.py judges the stack protector and FORTIFY per compilation
unit: a binary of two units, one built without them, must fail both
checks, and the same binary with both units protected must pass. Built as
a Linux shared object and (when mingw-w64 is installed) a Windows DLL, the
stack protector only there."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hardening  # noqa: E402

UNITS = {"a.c": "int a(char *d, const char *s) { char b[64]; __builtin_strcpy(b, s);"
                " __builtin_strcpy(d, b); return 0; }\n",
         "b.c": "int b(char *d, const char *s) { char b[64]; __builtin_strcpy(b, s);"
                " __builtin_strcpy(d, b); return 1; }\n"}
HARDENED = ["-O2", "-g3", "-D_FORTIFY_SOURCE=2", "-fstack-protector-strong", "-fcf-protection"]
BARE = ["-O2", "-g3", "-fno-stack-protector", "-fcf-protection"]


def build(work, compiler, out, second_unit_flags, link):
    objects = []
    for name, flags in (("a.c", HARDENED), ("b.c", second_unit_flags)):
        obj = name + ".o"
        # As the project's build maps its folders (cmake/project_options.cmake).
        subprocess.run([compiler, "-c", name, "-o", obj, "-ffile-prefix-map=%s=build" % work] + flags,
                       cwd=work, check=True)
        objects.append(obj)
    subprocess.run([compiler, "-shared", "-o", out] + objects + link, cwd=work, check=True)
    return os.path.join(work, out)


def verdicts(results, words):
    return [ok for what, ok, _ in results if any(w in what for w in words)]


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for name, text in UNITS.items():
            open(os.path.join(work, name), "w").write(text)
        cases = [("linux", "gcc", "two.so", [], lambda p: hardening.elf(p, p), ("stack protector", "fortified"))]
        if shutil.which("x86_64-w64-mingw32-gcc"):
            cases.append(("windows", "x86_64-w64-mingw32-gcc", "two.dll", ["-fstack-protector-strong", "-static"],
                          lambda p: hardening.pe(p, p, "x86_64-w64-mingw32-objdump", True), ("stack protector",)))
        for system, compiler, out, link, judge, words in cases:
            for second, expect in ((BARE, False), (HARDENED, True)):
                got = verdicts(judge(build(work, compiler, out, second, link)), words)
                ok = len(got) == len(words) and all(v == expect for v in got)
                what = "%s: second unit %s -> %s" % (system, "unprotected" if second is BARE else "protected",
                                                     "passes" if expect else "fails")
                print(("ok     " if ok else "FAILED ") + what + " (got %s)" % got)
                failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
