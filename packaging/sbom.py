"""The bill of materials of one package: an SPDX 2.3 JSON document beside it
(PACKAGE.spdx.json) listing every shipped file with its checksums and the
components built into the binaries or loaded by them, with the versions
this machine's Debian packages have (dpkg), never typed in here.

What goes into which binary is read from the build: the libraries a Linux
binary loads from its dynamic section (readelf), the third-party code
compiled in from the source files its symbol file names (objdump's line
tables), and on Windows the static C, C++ and thread runtimes that every
binary links (-static in cmake/project_options.cmake), the DLLs its import
tables name (pefile), the system DLLs its platform code loads by name at
run time (known by the source files compiled in), and the licences of the
parts of the mingw-w64 C runtime linked in (by their source files too).

The described package is analysed (SPDX 2.3 clause 7.8: it CONTAINS its
files, so filesAnalyzed is true) and carries its verification code (7.9);
the components are not analysed and contain no files.
"""
import hashlib
import json
import os
import re
import subprocess
import time

# Third-party code that may be compiled into a binary: a pattern of its
# source paths in the debugging line tables, a file of its Debian package,
# and its licence.
COMPILED_IN = [
    ("jsoncpp", r"json_(reader|value|writer)\.cpp", "/usr/include/jsoncpp/json/json.h", "MIT"),
    ("loki", r"/usr/include/loki\b", "/usr/include/loki/Typelist.h", "MIT"),
    ("cpp-httplib", r"httplib\.h", "/usr/include/httplib.h", "MIT"),
]
# Libraries a Linux binary may load, by the start of their file name.
LOADED_LICENCES = {"libjsoncpp": "MIT", "libcpp-httplib": "MIT", "libssl": "Apache-2.0", "libcrypto": "Apache-2.0",
                   "libstdc++": "GPL-3.0-or-later WITH GCC-exception-3.1",
                   "libgcc_s": "GPL-3.0-or-later WITH GCC-exception-3.1",
                   "libc.so": "LGPL-2.1-or-later", "libm.so": "LGPL-2.1-or-later",
                   "ld-linux": "LGPL-2.1-or-later"}
# The runtimes every Windows binary links statically.
WINDOWS_RUNTIMES = [
    ("libstdc++.a", "GPL-3.0-or-later WITH GCC-exception-3.1"),
    ("libgcc.a", "GPL-3.0-or-later WITH GCC-exception-3.1"),
    ("libssp.a", "GPL-3.0-or-later WITH GCC-exception-3.1"),
    ("libwinpthread.a", "MIT AND BSD-3-Clause"),
    ("libmingw32.a", "ZPL-2.1 AND LicenseRef-mingw-w64-public-domain"),
]
# Parts of the mingw-w64 C runtime under terms of their own (the "Files:"
# stanzas of its Debian copyright file): a pattern of their sources in the
# line tables (which list folders and file names apart), the stanza's licence name, and the SPDX identifier, or the
# LicenseRef- made for it where SPDX has none.
MINGW_COPYRIGHT = "/usr/share/doc/mingw-w64-common/copyright"
MINGW_PARTS = [
    (r"mingw-w64-crt/gdtoa\b|\bmingw_pformat\.c", "Lucent", "LicenseRef-mingw-w64-Lucent"),
    (r"\b(qnan|strtodnrp)\.c", "David-Gay", "LicenseRef-mingw-w64-David-Gay"),
    (r"\b((base|dir)name\.c|mingw_(v?[sfn]*printf|pformat)\.c)", "Keith-Marshall",
     "LicenseRef-mingw-w64-Keith-Marshall"),
    (r"\bsf?_erf\.c|mingw-w64-crt/math/softmath\b", "Permissive-Sun", "LicenseRef-mingw-w64-Permissive-Sun"),
    (r"\bgetopt\.c", None, "BSD-2-Clause AND ISC"),
    (r"\bstrtok_r\.c", None, "BSD-3-Clause"),
]
# System DLLs the platform code loads by name at run time (LoadLibraryExW
# from the system folder), by the source file that loads them.
RUN_TIME_LOADS = [
    (r"\btls_win32\.cpp", ("secur32.dll", "crypt32.dll")),
    (r"\btls_chain_win32\.cpp", ("crypt32.dll",)),
    (r"\bproxy_win32\.cpp", ("winhttp.dll",)),
]
OWN_LICENCE = "MIT"


def run(args):
    return subprocess.run(args, capture_output=True, text=True).stdout


def debian_package(path):
    """(package, version) of the Debian package that installed `path`."""
    owner = ""
    for candidate in (path, os.path.realpath(path)):
        owner = owner or run(["dpkg-query", "-S", candidate]).split(":")[0].strip()
    if not owner:
        return None
    version = run(["dpkg-query", "-W", "-f=${Version}", owner]).strip()
    return owner, version


def source_package(symbols, probe):
    """(name, version) of jsoncpp's Debian source package when the build
    compiled it from that (the Windows builds, under BUILD/_deps)."""
    if probe != COMPILED_IN[0][2]:
        return None
    folder = os.path.join(os.path.dirname(symbols), "_deps", "jsoncpp")
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        if name.endswith(".dsc"):
            fields = dict(re.findall(r"^(Source|Version): (\S+)$", open(os.path.join(folder, name)).read(), re.M))
            if "Source" in fields and "Version" in fields:
                return fields["Source"], fields["Version"]
    return None


def spdx_id(kind, text):
    return "SPDXRef-%s-%s" % (kind, re.sub(r"[^A-Za-z0-9.-]", "-", text))


def sums(path):
    data = open(path, "rb").read()
    return [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(data).hexdigest()},
            {"algorithm": "SHA256", "checksumValue": hashlib.sha256(data).hexdigest()}]


def binary_kind(path):
    head = open(path, "rb").read(4)
    return "elf" if head == b"\x7fELF" else "pe" if head[:2] == b"MZ" else None


def linux_components(path, symbols):
    """(component file, licence, relationship) for one ELF file."""
    found = []
    for lib in re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", run(["readelf", "-d", path])):
        where = re.search(r"\s%s \([^)]*x86-64[^)]*\) => (\S+)" % re.escape(lib), run(["/sbin/ldconfig", "-p"]))
        if where:
            licence = next((v for k, v in LOADED_LICENCES.items() if lib.startswith(k)), "NOASSERTION")
            found.append((where.group(1), licence, "DYNAMIC_LINK"))
    return found + compiled_in(path, symbols, "objdump")


def line_tables(path, symbols, objdump):
    """The source files the symbol file of `path` names (its line tables)."""
    debug = os.path.join(symbols, os.path.basename(path) + ".debug")
    return run([objdump, "--dwarf=rawline", debug]) if os.path.exists(debug) else ""


def compiled_in(path, symbols, objdump):
    lines = line_tables(path, symbols, objdump)
    return [(probe, licence, "STATIC_LINK") for _, pattern, probe, licence in COMPILED_IN
            if re.search(pattern, lines)]


def imported_dlls(path):
    """The DLLs the import and delay-import tables of `path` name."""
    import pefile
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                           pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    return {e.dll.decode("ascii") for e in entries}


def mingw_runtime_licence(lines):
    """The mingw-w64 C runtime's licence expression: its general terms and
    those of each part of it the line tables show linked in."""
    terms = ["ZPL-2.1", "LicenseRef-mingw-w64-public-domain"]
    for pattern, _, licence in MINGW_PARTS:
        if re.search(pattern, lines) and licence not in terms:
            terms.append(licence)
    return " AND ".join(terms)


def windows_components(path, symbols, triplet):
    found = []
    lines = line_tables(path, symbols, triplet + "-objdump")
    for archive, licence in WINDOWS_RUNTIMES:
        if archive == "libmingw32.a":
            licence = mingw_runtime_licence(lines)
        found.append((run([triplet + "-g++-posix", "-print-file-name=" + archive]).strip(), licence, "STATIC_LINK"))
    # The system libraries it imports come with Windows itself, and so do
    # the ones it loads at run time by name (Schannel's secur32 and crypt32:
    # the platform's TLS; WinHTTP's proxy settings).
    dlls = imported_dlls(path)
    for pattern, names in RUN_TIME_LOADS:
        if re.search(pattern, lines):
            dlls.update(names)
    shipped = {n.lower() for n in os.listdir(os.path.dirname(path))}
    for dll in sorted({d.lower() for d in dlls} - shipped):
        found.append(("system:" + dll, "NOASSERTION", "DYNAMIC_LINK"))
    return found + compiled_in(path, symbols, triplet + "-objdump")


def header(package, version, epoch):
    """The document and the package it describes (the archive itself)."""
    name = os.path.basename(package)
    digest = hashlib.sha256(open(package, "rb").read()).hexdigest()
    return {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": name,
        "documentNamespace": "https://hvverifysp.invalid/spdx/%s-%s" % (name, digest),
        "creationInfo": {"created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)),
                         "creators": ["Tool: HvVerifySp packaging/sbom.py"]},
        "documentDescribes": ["SPDXRef-Package-HvVerifySp"],
        "packages": [{
            "name": "HvVerifySp", "SPDXID": "SPDXRef-Package-HvVerifySp", "versionInfo": version,
            "packageFileName": name, "supplier": "Organization: The HvVerifySp authors",
            "downloadLocation": "NOASSERTION", "filesAnalyzed": True,
            "licenseInfoFromFiles": ["NOASSERTION"],
            "checksums": [{"algorithm": "SHA256", "checksumValue": digest}],
            "licenseConcluded": OWN_LICENCE, "licenseDeclared": OWN_LICENCE,
            "copyrightText": "Copyright (c) 2026 The HvVerifySp authors"}],
        "files": [],
        "relationships": [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                           "relatedSpdxElement": "SPDXRef-Package-HvVerifySp"}],
    }


def verification_code(files):
    """SPDX 2.3 clause 7.9: the SHA-1 of the sorted SHA-1s of the package's files."""
    digests = sorted(c["checksumValue"] for f in files for c in f["checksums"] if c["algorithm"] == "SHA1")
    return hashlib.sha1("".join(digests).encode("ascii")).hexdigest()


def licence_text(name):
    """The text of the stanza "License: NAME" of the mingw-w64 copyright file."""
    text = open(MINGW_COPYRIGHT, encoding="utf-8").read()
    found = re.search(r"^License: %s\n((?: .*\n?)+)" % re.escape(name), text, re.M)
    if not found:
        return "See notices/mingw-w64-runtime.txt in the package (License: %s)." % name
    return "\n".join("" if line.strip() == "." else line[1:] for line in found.group(1).rstrip("\n").split("\n"))


def extracted_licences(expressions):
    """hasExtractedLicensingInfos for every LicenseRef- the expressions use."""
    texts = {"LicenseRef-mingw-w64-public-domain":
             "Parts of the mingw-w64 runtime are in the public domain "
             "(see notices/mingw-w64-runtime.txt in the package)."}
    texts.update({ref: licence_text(name) for _, name, ref in MINGW_PARTS if name})
    used = sorted({m for x in expressions for m in re.findall(r"LicenseRef-[A-Za-z0-9.-]+", x)})
    return [{"licenseId": ref, "name": ref[len("LicenseRef-"):], "extractedText": texts[ref]} for ref in used]


def system_component(dll):
    """A Windows system library: loaded, never shipped."""
    return {"name": dll, "SPDXID": spdx_id("Package", dll), "supplier": "Organization: Microsoft",
            "downloadLocation": "NOASSERTION", "filesAnalyzed": False, "comment": "part of Windows, not shipped",
            "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION", "copyrightText": "NOASSERTION"}


def debian_component(owner, licence):
    name, version = owner
    source = "?arch=source" if name == "libjsoncpp" else ""
    return {"name": name, "SPDXID": spdx_id("Package", name), "versionInfo": version,
            "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION",
            "filesAnalyzed": False, "licenseConcluded": licence, "licenseDeclared": licence,
            "copyrightText": "NOASSERTION",
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": "pkg:deb/debian/%s@%s%s" % (name, version, source)}]}


def outer_parentheses_dropped(text):
    text = text.strip()
    while text.startswith("(") and text.endswith(")"):
        depth = 0
        for i, c in enumerate(text):
            depth += {"(": 1, ")": -1}.get(c, 0)
            if depth == 0 and i < len(text) - 1:
                return text  # "(A) AND (B)": the first ")" closes early
        text = text[1:-1].strip()
    return text


def and_terms(expression):
    """The terms an expression joins by AND at its top level (outer
    parentheses dropped, nested AND groups opened)."""
    text, terms, depth, start = outer_parentheses_dropped(expression), [], 0, 0
    for i, c in enumerate(text):
        depth += {"(": 1, ")": -1}.get(c, 0)
        if depth == 0 and text.startswith(" AND ", i):
            terms.append(text[start:i])
            start = i + len(" AND ")
    terms.append(text[start:])
    if len(terms) == 1:
        return [text]
    return [t for term in terms for t in and_terms(term)]


def merged(expressions):
    """Every term of `expressions` joined by AND, each once, in the order
    first seen (an OR group kept in parentheses); NOASSERTION when any is
    unknown."""
    terms = []
    for expression in expressions:
        if expression in ("NOASSERTION", "NONE"):
            return "NOASSERTION"
        terms += [t for t in and_terms(expression) if t not in terms]
    return " AND ".join("(%s)" % t if " OR " in t else t for t in terms)


def add_component(components, probe, licence, symbols):
    """The component `probe` names, added to `components`; its SPDX id or None."""
    if probe.startswith("system:"):
        component = system_component(probe[len("system:"):])
    else:
        owner = source_package(symbols, probe) or debian_package(probe)
        if not owner:
            return None
        component = debian_component(owner, licence)
    known = components.setdefault(component["SPDXID"], component)
    if known["licenseConcluded"] == "NOASSERTION":
        known["licenseConcluded"] = known["licenseDeclared"] = licence
    elif licence != "NOASSERTION":
        # Two archives of one Debian package under different terms.
        known["licenseConcluded"] = known["licenseDeclared"] = merged([known["licenseConcluded"], licence])
    return component["SPDXID"]


def document(package, root, files, version, system, symbols, epoch, folder=""):
    """`files` are paths under `root`; the package holds them in `folder`
    (a tar.gz's or zip's top folder), and the document names them as
    unpacking shows them: ./FOLDER/PATH."""
    doc = header(package, version, epoch)
    components, linked_in = {}, set()
    triplet = {"windows-x64": "x86_64-w64-mingw32", "windows-x86": "i686-w64-mingw32"}.get(system)
    for rel in files:
        path = os.path.join(root, rel)
        shown = folder + "/" + rel if folder else rel
        file_id = spdx_id("File", rel)
        doc["files"].append({"fileName": "./" + shown, "SPDXID": file_id, "checksums": sums(path),
                             "licenseConcluded": "NOASSERTION", "copyrightText": "NOASSERTION"})
        doc["relationships"].append({"spdxElementId": "SPDXRef-Package-HvVerifySp",
                                     "relationshipType": "CONTAINS", "relatedSpdxElement": file_id})
        kind = binary_kind(path)
        inside = (linux_components(path, symbols) if kind == "elf" else
                  windows_components(path, symbols, triplet) if kind == "pe" and triplet else [])
        for probe, licence, relation in inside:
            component = add_component(components, probe, licence, symbols)
            link = {"spdxElementId": file_id, "relationshipType": relation, "relatedSpdxElement": component}
            if component and link not in doc["relationships"]:
                doc["relationships"].append(link)
            if component and relation == "STATIC_LINK":
                linked_in.add(component)
    # What the package's files contain is under the project's licence and
    # that of every component linked into them (the Windows files: the GCC
    # runtime's, mingw-w64's, winpthreads'); what they only load is not.
    doc["packages"][0]["licenseConcluded"] = merged(
        [OWN_LICENCE] + [components[k]["licenseConcluded"] for k in sorted(linked_in)])
    doc["packages"] += [components[k] for k in sorted(components)]
    doc["packages"][0]["packageVerificationCode"] = {"packageVerificationCodeValue": verification_code(doc["files"])}
    doc["hasExtractedLicensingInfos"] = extracted_licences(
        [p.get(k, "") for p in doc["packages"] for k in ("licenseConcluded", "licenseDeclared")])
    return doc


def write(package, root, files, version, system, symbols, epoch, folder=""):
    doc = document(package, root, files, version, system, symbols, epoch, folder)
    with open(package + ".spdx.json", "w") as f:
        json.dump(doc, f, indent=1, sort_keys=True)
        f.write("\n")
