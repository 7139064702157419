"""Reads the hardening of one shipped binary back from the file.

elf(path) and pe(path, symbol_file, objdump, x64) return a list of
(property, ok, detail): the caller names the file beside each property.

Linux (readelf, and objdump on the file's symbol file): full RELRO (a
GNU_RELRO segment and immediate binding), a stack that is not executable,
a position-independent executable, and per compilation unit (so that one
unprotected unit fails the file): the stack protector (-fstack-protector-
strong or -all in the unit's DW_AT_producer, not undone by a later
-fno-stack-protector), fortified libc calls (_FORTIFY_SOURCE of 2 or more
as the unit's command line leaves it, in an optimised unit: __OPTIMIZE__,
for the C library fortifies nothing at -O0; read from its macro records,
which -g3 keeps: the producer does not record -D options), CET code
(-fcf-protection);
and CET marking (IBT and SHSTK in the GNU property note). The linker marks a file only when
every object in it is marked, and Debian 12's C start files (crt1.o,
crti.o) are not: there the marking cannot be had without claiming it for
start-up code that lacks the landing pads, so it is required only where
those files carry it.

Windows (pefile): ASLR (DYNAMIC_BASE with relocations kept), NX
(NX_COMPAT), high-entropy ASLR on x64, NO_SEH on x86 (the files register
no SEH handler: GCC unwinds by DWARF tables), and per unit (every unit
but the toolchain's static runtimes, which are built without them) the
stack protector and fortified calls as on Linux; the symbol file names
__stack_chk_fail, and the binary imports no runtime DLL for either (libssp
is linked in statically).
"""
import re
import subprocess

def units(objdump, symbol_file):
    """(producer, name, macro offset, compilation folder) of each
    compilation unit of the file."""
    info = subprocess.run([objdump, "--dwarf=info", symbol_file], capture_output=True, text=True).stdout
    found = []
    for unit in re.split(r"\n\s*<0><[0-9a-f]+>: Abbrev Number: \d+ \(DW_TAG_(?:compile|partial)_unit\)", info)[1:]:
        unit = unit.split("Abbrev Number", 1)[0]
        producer = re.search(r"DW_AT_producer\s*:\s*(?:\(indirect[^)]*\):\s*)?(.*)", unit)
        name = re.search(r"DW_AT_name\s*:\s*(?:\(indirect[^)]*\):\s*)?(\S+)\s*$", unit, re.M)
        macros = re.search(r"DW_AT_macros\s*:\s*(0x[0-9a-f]+|\d+)", unit)
        folder = re.search(r"DW_AT_comp_dir\s*:\s*(?:\(indirect[^)]*\):\s*)?(\S+)\s*$", unit, re.M)
        found.append((producer.group(1).strip() if producer else "", name.group(1) if name else "?",
                      int(macros.group(1), 0) if macros else None, folder.group(1) if folder else "/"))
    return found


# The source trees of the toolchain's static runtimes linked into the
# Windows files (mingw-w64's C runtime and winpthreads, GCC's libgcc,
# libstdc++ and libssp), which their packages build without the project's
# options.
RUNTIME_TREES = ("mingw-w64-crt", "mingw-w64-libraries", "mingw-w64-headers", "libgcc", "libstdc++-v3",
                 "libssp", "libquadmath", "libatomic", "libiberty")


def runtime_unit(name):
    """Whether a unit's source file lies in one of the runtime trees (its
    name less leading ./ and ../ parts begins with one)."""
    parts = [p for p in name.replace("\\", "/").split("/") if p not in ("", ".", "..")]
    return bool(parts) and parts[0] in RUNTIME_TREES


def own(unit_list):
    """The units judged: every unit but the toolchain's runtimes, known by
    the source tree they were built from, wherever it was built (the
    compilation folder is not asked: a unit of ours built without the
    project's folder map has an absolute one too). A unit of unknown origin
    is judged, so that nothing unprotected passes unseen."""
    return [u for u in unit_list if not runtime_unit(u[1])]


def stack_protected(producer):
    """The last stack-protector option of the unit's producer protects."""
    options = re.findall(r"-f(?:no-)?stack-protector(?:-\w+)?", producer)
    return bool(options) and options[-1] in ("-fstack-protector-strong", "-fstack-protector-all")


def macro_units(objdump, symbol_file):
    """Offset -> (the compiler's own and command-line macros, in order, as
    (defined, name, value), imported offsets) of .debug_macro."""
    text = subprocess.run([objdump, "--dwarf=macro", symbol_file], capture_output=True, text=True).stdout
    table = {}
    for block in re.split(r"\n\s*Offset:\s+", text)[1:]:
        offset = int(block.split(None, 1)[0], 0)
        macros = [(kind == "define", name, value) for kind, name, value in
                  re.findall(r"DW_MACRO_(define|undef)\w* - lineno : 0 macro : (\w+)[ \t]*(\S*)", block)]
        imports = [int(x, 0) for x in re.findall(r"DW_MACRO_import - offset : (0x[0-9a-f]+|\d+)", block)]
        table[offset] = (macros, imports)
    return table


def fortified(table, offset):
    """FORTIFY in force in the unit: _FORTIFY_SOURCE of 2 or more as the
    command line leaves it (a later -U undoes a -D), and an optimised build
    (__OPTIMIZE__): the C libraries' headers fortify nothing at -O0."""
    state, seen, todo = {}, set(), [offset]
    while todo:
        at = todo.pop(0)
        if at in seen or at not in table:
            continue
        seen.add(at)
        macros, imports = table[at]
        for defined, name, value in macros:
            state[name] = value if defined else None
        todo += imports
    level = state.get("_FORTIFY_SOURCE")
    return bool(level) and level.isdigit() and int(level) >= 2 and state.get("__OPTIMIZE__") is not None


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
    notes = readelf("-n", path)
    executable = "INTERP" in segments
    all_units = units("objdump", symbol_file)
    producers = [u[0] for u in all_units]
    table = macro_units("objdump", symbol_file)
    unguarded = [u[1] for u in all_units if not stack_protected(u[0])]
    unfortified = [u[1] for u in all_units if u[2] is None or not fortified(table, u[2])]
    stack = re.search(r"GNU_STACK\s+\S+\s+\S+\s+\S+\s+\S+\s+\S+\s+(\S+)", segments)
    result = [
        ("full RELRO (GNU_RELRO and BIND_NOW)", "GNU_RELRO" in segments and
         bool(re.search(r"\(FLAGS\)\s.*BIND_NOW|\(FLAGS_1\)\s.*\bNOW\b", dynamic)), ""),
        ("non-executable stack", bool(stack) and "E" not in stack.group(1),
         stack.group(1) if stack else "no GNU_STACK segment"),
        ("stack protector in every unit", bool(all_units) and not unguarded,
         "unprotected: " + ", ".join(unguarded[:10])),
        ("fortified calls (_FORTIFY_SOURCE=2, optimised) in every unit", bool(all_units) and not unfortified,
         "not fortified: " + ", ".join(unfortified[:10])),
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
    mine = own(units(objdump, symbol_file))
    unguarded = [u[1] for u in mine if not stack_protected(u[0])]
    table = macro_units(objdump, symbol_file)
    unfortified = [u[1] for u in mine if u[2] is None or not fortified(table, u[2])]
    result = [
        ("ASLR (DYNAMIC_BASE, relocations kept)", bool(flags & 0x40) and relocations.Size > 0,
         "DllCharacteristics 0x%x, relocations %d bytes" % (flags, relocations.Size)),
        ("NX (NX_COMPAT)", bool(flags & 0x100), "DllCharacteristics 0x%x" % flags),
        ("stack protector in every own unit (__stack_chk_fail, no runtime DLL)",
         bool(mine) and not unguarded and "__stack_chk_fail" in symbols and
         not any(d.lower().startswith("libssp") for d in dlls),
         "unprotected: " + ", ".join(unguarded[:10]) + "; imports " + ", ".join(dlls)),
        ("fortified calls (_FORTIFY_SOURCE=2, optimised) in every own unit", bool(mine) and not unfortified,
         "not fortified: " + ", ".join(unfortified[:10])),
    ]
    if not x64:
        result.append(("no SEH handlers (NO_SEH)", bool(flags & 0x400), "DllCharacteristics 0x%x" % flags))
    if x64:
        result.append(("high-entropy ASLR (HIGH_ENTROPY_VA)", bool(flags & 0x20), "DllCharacteristics 0x%x" % flags))
    return result
