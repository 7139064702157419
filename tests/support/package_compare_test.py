#!/usr/bin/python3
"""The package check compares a signed zip with an unsigned rebuild once
the signatures are removed: a signature osslsigncode cannot remove must
fail the comparison, never turn both files into the same empty bytes
(which made two signed builds equal whatever they held)."""
import os
import subprocess
import sys
import tempfile
import zipfile

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import package_compare  # noqa: E402


def unremovable(work, body):
    """A DLL whose signature directory points past the end of the file."""
    source, dll = os.path.join(work, "a.c"), os.path.join(work, "a.dll")
    open(source, "w").write("int f(void) { return %d; }\n" % body)
    subprocess.run(["x86_64-w64-mingw32-gcc", "-shared", "-s", "-o", dll, source], check=True)
    data = open(dll, "rb").read()
    pe = pefile.PE(data=data, fast_load=True)
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    security.VirtualAddress, security.Size = len(data) + 4096, 64
    return bytes(pe.write())


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        one, other = unremovable(work, 1), unremovable(work, 2)
        zips = []
        for n, data in enumerate((one, other)):
            zips.append(os.path.join(work, "%d.zip" % n))
            with zipfile.ZipFile(zips[-1], "w") as z:
                z.writestr("HvVerifySp.dll", data)
        for what, call in [
            ("a signature that cannot be removed is an error", lambda: package_compare.without_signature(one, work)),
            ("two zips of such files are not the same", lambda: package_compare.same_zip(zips[0], zips[1], work)),
        ]:
            try:
                result = call()
                outcome, ok = "returned %r" % (result[:16] if isinstance(result, bytes) else result), False
            except package_compare.SignatureNotRemoved as e:
                outcome, ok = str(e)[:120], True
            print(("ok     " if ok else "FAILED ") + what + ": " + outcome)
            failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
