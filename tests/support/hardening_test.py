#!/usr/bin/python3
"""hardening.py judges the stack protector and FORTIFY per compilation
unit: a binary of two units, the second built without one of them, must
fail that check, and the same binary with both units hardened must pass.
Built as a Linux shared object and (when mingw-w64 is installed) a Windows
DLL. FORTIFY counts only in an optimised unit (the C libraries fortify
nothing at -O0), and on Windows a unit of ours is judged wherever it was
compiled (here once without the project's folder map, so that its
compilation folder is absolute, as the toolchain's runtimes' are)."""
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
UNFORTIFIED = ["-O2", "-g3", "-fstack-protector-strong", "-fcf-protection"]
UNDONE = HARDENED + ["-U_FORTIFY_SOURCE"]
UNOPTIMISED = ["-O0", "-g3", "-D_FORTIFY_SOURCE=2", "-fstack-protector-strong", "-fcf-protection"]

# (the second unit, its flags, folders mapped as the project's build maps
# them, the verdicts expected: stack protector, FORTIFY)
ROWS = [
    ("unprotected", BARE, True, (False, False)),
    ("without _FORTIFY_SOURCE", UNFORTIFIED, True, (True, False)),
    ("with _FORTIFY_SOURCE undone by -U", UNDONE, True, (True, False)),
    ("at -O0 with _FORTIFY_SOURCE=2", UNOPTIMISED, True, (True, False)),
    ("unprotected, its folder absolute", BARE, False, (False, False)),
    ("hardened", HARDENED, True, (True, True)),
    ("hardened, its folder absolute", HARDENED, False, (True, True)),
]


def build(work, compiler, out, second_unit_flags, mapped, link):
    objects = []
    for name, flags in (("a.c", HARDENED), ("b.c", second_unit_flags)):
        obj = name + ".o"
        # As the project's build maps its folders (cmake/project_options.cmake).
        mapping = ["-ffile-prefix-map=%s=build" % work] if mapped or name == "a.c" else []
        subprocess.run([compiler, "-c", os.path.join(work, name), "-o", obj] + mapping + flags,
                       cwd=work, check=True, capture_output=True)
        objects.append(obj)
    subprocess.run([compiler, "-shared", "-o", out] + objects + link, cwd=work, check=True)
    return os.path.join(work, out)


def verdicts(results):
    def find(word):
        found = [ok for what, ok, _ in results if word in what]
        return found[0] if len(found) == 1 else None
    return (find("stack protector"), find("fortified"))


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for name, text in UNITS.items():
            open(os.path.join(work, name), "w").write(text)
        cases = [("linux", "gcc", "two.so", [], lambda p: hardening.elf(p, p))]
        if shutil.which("x86_64-w64-mingw32-gcc"):
            cases.append(("windows", "x86_64-w64-mingw32-gcc", "two.dll", ["-fstack-protector-strong", "-static"],
                          lambda p: hardening.pe(p, p, "x86_64-w64-mingw32-objdump", True)))
        for system, compiler, out, link, judge in cases:
            for what, second, mapped, expect in ROWS:
                if system == "linux" and not mapped:
                    continue  # every Linux unit is judged, wherever it was built
                got = verdicts(judge(build(work, compiler, out, second, mapped, link)))
                ok = got == expect
                print(("ok     " if ok else "FAILED ") + "%s: second unit %s -> stack protector %s, FORTIFY %s (got %s)"
                      % (system, what, *["passes" if e else "fails" for e in expect], got))
                failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
