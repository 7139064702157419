"""Reads the hardening of one shipped binary back from the file.

elf(path) and pe(path, symbol_file, objdump, x64) return a list of
(property, ok, detail): the caller names the file beside each property.

Linux (readelf, and objdump on the file's symbol file): full RELRO (a
GNU_RELRO segment and immediate binding), a stack that is not executable,
a position-independent executable, the stack protector (__stack_chk_fail
imported), fortified libc calls (a __*_chk function imported, or glibc's
fortified wrappers among the sources the symbol file names: a file whose
every copy can be bounded at compile time imports no __*_chk), CET code
(every compilation unit built with -fcf-protection) and CET marking (IBT
and SHSTK in the GNU property note). The linker marks a file only when
every object in it is marked, and Debian 12's C start files (crt1.o,
crti.o) are not: there the marking cannot be had without claiming it for
start-up code that lacks the landing pads, so it is required only where
those files carry it.

Windows (pefile): ASLR (DYNAMIC_BASE with relocations kept), NX
(NX_COMPAT), high-entropy ASLR on x64, and the stack protector: the
symbol file names __stack_chk_fail and the binary imports no runtime DLL
for it (libssp is linked in statically).
"""
import re
import subprocess

# libc functions that have a fortified __NAME_chk variant.
FORTIFIABLE = {"memcpy", "memmove", "memset", "strcpy", "strncpy", "strcat", "strncat", "sprintf",
               "snprintf", "vsprintf", "vsnprintf", "printf", "fprintf", "vfprintf", "read", "fgets",
               "realpath", "getcwd", "wcscpy", "wmemcpy", "stpcpy", "mbstowcs", "wcstombs", "fread",
               "recv", "recvfrom", "poll", "ppoll", "readlink", "syslog", "vprintf", "vsyslog", "mempcpy"}


def readelf(*args):
    return subprocess.run(["readelf", "-W"] + list(args), capture_output=True, text=True).stdout


def start_files_marked():
    """Whether the system's C start files carry the CET property note."""
    crti = subprocess.run(["gcc", "-print-file-name=crti.o"], capture_output=True, text=True).stdout.strip()
    return "IBT" in readelf("-n", crti)


def elf(path, symbol_file):
    header = readelf("-h", path)
    segments = readelf("-l", path)
    dynamic = readelf("-d", path)
    symbols = readelf("--dyn-syms", path)
    notes = readelf("-n", path)
    imported = set(re.findall(r"\sUND\s+([A-Za-z_][\w]*)", symbols))
    executable = "INTERP" in segments
    lines = subprocess.run(["objdump", "--dwarf=rawline", symbol_file], capture_output=True, text=True).stdout
    info = subprocess.run(["objdump", "--dwarf=info", symbol_file], capture_output=True, text=True).stdout
    producers = re.findall(r"DW_AT_producer\s*:.*?: (.*)", info)
    wrappers = bool(re.search(r"string_fortified\.h|stdio2\.h|unistd\.h\b.*bits|bits/\w+2\.h", lines))
    stack = re.search(r"GNU_STACK\s+\S+\s+\S+\s+\S+\s+\S+\s+\S+\s+(\S+)", segments)
    fortified = sorted(n for n in imported if re.match(r"__\w+_chk$", n) and n != "__stack_chk_fail")
    unfortified = sorted(imported & FORTIFIABLE)
    result = [
        ("full RELRO (GNU_RELRO and BIND_NOW)", "GNU_RELRO" in segments and
         bool(re.search(r"\(FLAGS\)\s.*BIND_NOW|\(FLAGS_1\)\s.*\bNOW\b", dynamic)), ""),
        ("non-executable stack", bool(stack) and "E" not in stack.group(1),
         stack.group(1) if stack else "no GNU_STACK segment"),
        ("stack protector (__stack_chk_fail)", "__stack_chk_fail" in imported, ""),
        ("fortified calls (_FORTIFY_SOURCE)", bool(fortified) or wrappers,
         "no __*_chk import and no fortified wrapper compiled in; plain: " + ", ".join(unfortified)),
        ("CET code (-fcf-protection in every unit)", bool(producers) and
         all("-fcf-protection" in p for p in producers),
         "; ".join(sorted(set(p for p in producers if "-fcf-protection" not in p)))[:300]),
        ("CET marking (IBT, SHSTK)", bool(re.search(r"x86 feature: .*IBT.*SHSTK|x86 feature: .*SHSTK.*IBT", notes))
         or not start_files_marked(), notes.strip()[-200:]),
    ]
    if executable:
        result.append(("position-independent executable", "DYN (" in header and
                       bool(re.search(r"\(FLAGS_1\)\s.*\bPIE\b", dynamic)), ""))
    return result


def pe(path, symbol_file, objdump, x64):
    import pefile
    binary = pefile.PE(path, fast_load=True)
    flags = binary.OPTIONAL_HEADER.DllCharacteristics
    relocations = binary.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    binary.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    dlls = [entry.dll.decode() for entry in getattr(binary, "DIRECTORY_ENTRY_IMPORT", [])]
    symbols = subprocess.run([objdump, "-t", symbol_file], capture_output=True, text=True).stdout
    result = [
        ("ASLR (DYNAMIC_BASE, relocations kept)", bool(flags & 0x40) and relocations.Size > 0,
         "DllCharacteristics 0x%x, relocations %d bytes" % (flags, relocations.Size)),
        ("NX (NX_COMPAT)", bool(flags & 0x100), "DllCharacteristics 0x%x" % flags),
        ("stack protector (__stack_chk_fail, no runtime DLL)",
         "__stack_chk_fail" in symbols and not any(d.lower().startswith("libssp") for d in dlls),
         "imports " + ", ".join(dlls)),
    ]
    if x64:
        result.append(("high-entropy ASLR (HIGH_ENTROPY_VA)", bool(flags & 0x20), "DllCharacteristics 0x%x" % flags))
    return result
