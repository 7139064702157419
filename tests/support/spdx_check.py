"""Checks one package's bill of materials (PACKAGE.spdx.json beside it).

check_package(check, package, root, files): `root` is the folder the
package was unpacked in and `files` its file list, as paths relative to
root (a tar.gz's or zip's begin with its top folder). Checks the fields SPDX
2.3 requires of the document, its packages and files; that every licence
expression parses (python3-license-expression, SPDX identifiers or
LicenseRef-); that the files listed are exactly the package's, each with
the SHA-1 and SHA-256 of its unpacked content; that the package's own
checksum matches; that every relationship names known elements with a
relationship type of SPDX 2.3; the clauses the schema cannot express:
a package whose files were not analysed contains no files (7.8), an
analysed one carries the verification code of the files it contains (7.9);
that an analysed package's concluded licence names every licence of the
components linked into its files, and no expression repeats a term; and
that every Debian component's version is the one dpkg reports.
"""
import hashlib
import json
import os
import re
import subprocess

from license_expression import get_spdx_licensing

LICENSING = get_spdx_licensing()
NONE = ("NOASSERTION", "NONE")


def licence_ok(expression):
    """Parses as an SPDX expression of known identifiers and LicenseRef- names."""
    if expression in NONE:
        return True
    info = LICENSING.validate(expression)
    unknown = [k for k in info.invalid_symbols if not k.startswith("LicenseRef-")]
    syntax = [e for e in info.errors if not e.startswith("Unknown license key")]
    return not syntax and not unknown


# SPDX 2.3 clause 11.1's relationship types.
RELATIONSHIP_TYPES = set("""DESCRIBES DESCRIBED_BY CONTAINS CONTAINED_BY DEPENDS_ON DEPENDENCY_OF
DEPENDENCY_MANIFEST_OF BUILD_DEPENDENCY_OF DEV_DEPENDENCY_OF OPTIONAL_DEPENDENCY_OF
PROVIDED_DEPENDENCY_OF TEST_DEPENDENCY_OF RUNTIME_DEPENDENCY_OF EXAMPLE_OF GENERATES GENERATED_FROM
ANCESTOR_OF DESCENDANT_OF VARIANT_OF DISTRIBUTION_ARTIFACT PATCH_FOR PATCH_APPLIED COPY_OF FILE_ADDED
FILE_DELETED FILE_MODIFIED EXPANDED_FROM_ARCHIVE DYNAMIC_LINK STATIC_LINK DATA_FILE_OF TEST_CASE_OF
BUILD_TOOL_OF DEV_TOOL_OF TEST_OF TEST_TOOL_OF DOCUMENTATION_OF OPTIONAL_COMPONENT_OF METAFILE_OF
PACKAGE_OF AMENDS PREREQUISITE_FOR HAS_PREREQUISITE REQUIREMENT_DESCRIPTION_FOR SPECIFICATION_FOR
OTHER""".split())


def contained_files(doc, package_id):
    """The file elements a package holds: CONTAINS, CONTAINED_BY, hasFiles."""
    file_ids = {f.get("SPDXID") for f in doc.get("files", [])}
    held = set()
    for r in doc.get("relationships", []):
        if r.get("relationshipType") == "CONTAINS" and r.get("spdxElementId") == package_id:
            held.add(r.get("relatedSpdxElement"))
        if r.get("relationshipType") == "CONTAINED_BY" and r.get("relatedSpdxElement") == package_id:
            held.add(r.get("spdxElementId"))
    package = next((p for p in doc.get("packages", []) if p.get("SPDXID") == package_id), {})
    held.update(package.get("hasFiles", []))
    return held & file_ids


def verification_code(doc, file_ids):
    """Clause 7.9.4: SHA-1 over the sorted SHA-1s of the files, concatenated."""
    digests = sorted(c.get("checksumValue", "").lower() for f in doc.get("files", [])
                     if f.get("SPDXID") in file_ids for c in f.get("checksums", []) if c.get("algorithm") == "SHA1")
    return hashlib.sha1("".join(digests).encode()).hexdigest()


def clause_faults(doc):
    """What SPDX 2.3 forbids that its JSON schema lets through."""
    faults = []
    for p in doc.get("packages", []):
        held = contained_files(doc, p.get("SPDXID"))
        if p.get("filesAnalyzed", True) is False:
            if held:
                faults.append("7.8: %s has filesAnalyzed false and contains %d files" % (p.get("name"), len(held)))
            if "packageVerificationCode" in p:
                faults.append("7.9: %s has filesAnalyzed false and a verification code" % p.get("name"))
        else:
            code = p.get("packageVerificationCode", {}).get("packageVerificationCodeValue")
            if code != verification_code(doc, held):
                faults.append("7.9: %s's verification code %s is not its files' %s" %
                              (p.get("name"), code, verification_code(doc, held)))
    bad = sorted({r.get("relationshipType") for r in doc.get("relationships", [])} - RELATIONSHIP_TYPES)
    if bad:
        faults.append("11.1: unknown relationship types " + ", ".join(map(str, bad)))
    return faults


def repeated_terms(expression):
    """The terms an AND or OR of the expression names twice."""
    repeated, todo = [], [LICENSING.parse(expression)]
    while todo:
        node = todo.pop()
        args = [str(a) for a in getattr(node, "args", ())] if type(node).__name__ in ("AND", "OR") else []
        repeated += sorted({a for a in args if args.count(a) > 1})
        todo += list(getattr(node, "args", ())) if args else []
    return repeated


def licence_faults(doc):
    """Licence expressions that repeat a term, and an analysed package
    whose concluded licence leaves out a licence of code linked into its
    files (a STATIC_LINK from a file it contains to a component)."""
    faults = []
    elements = doc.get("packages", []) + doc.get("files", [])
    for expression in sorted({e.get(k) for e in elements for k in ("licenseConcluded", "licenseDeclared")
                              if e.get(k) and e.get(k) not in NONE}):
        try:
            repeated = repeated_terms(expression)
        except Exception as error:  # an unparsable expression is reported by its own check
            faults.append("licence: %s does not parse (%s)" % (expression, error))
            continue
        if repeated:
            faults.append("licence: %s repeats %s" % (expression, ", ".join(repeated)))
    by_id = {p.get("SPDXID"): p for p in doc.get("packages", [])}
    for p in doc.get("packages", []):
        if p.get("filesAnalyzed", True) is False:
            continue
        held = contained_files(doc, p.get("SPDXID"))
        concluded = p.get("licenseConcluded", "NOASSERTION")
        keys = set() if concluded in NONE else set(LICENSING.license_keys(concluded))
        for r in doc.get("relationships", []):
            inside = by_id.get(r.get("relatedSpdxElement"), {})
            if r.get("relationshipType") != "STATIC_LINK" or r.get("spdxElementId") not in held:
                continue
            theirs = inside.get("licenseConcluded", "NOASSERTION")
            missing = ["unknown"] if theirs in NONE else sorted(set(LICENSING.license_keys(theirs)) - keys)
            if concluded != "NOASSERTION" and missing:
                faults.append("licence: %s is concluded %s, without %s of %s linked in" %
                              (p.get("name"), concluded, " ".join(missing), inside.get("name")))
    return sorted(set(faults))


def check_package(check, package, root, files):
    name = os.path.basename(package)
    path = package + ".spdx.json"
    if not os.path.exists(path):
        check(name + ": bill of materials beside it", False, path)
        return
    doc = json.load(open(path))
    what = name + ".spdx.json"
    created = doc.get("creationInfo", {})
    check(what + ": SPDX 2.3 document fields",
          doc.get("spdxVersion") == "SPDX-2.3" and doc.get("dataLicense") == "CC0-1.0" and
          doc.get("SPDXID") == "SPDXRef-DOCUMENT" and bool(doc.get("name")) and
          bool(re.match(r"^[a-z]+://\S+$", doc.get("documentNamespace", ""))) and
          bool(re.match(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$", created.get("created", ""))) and
          bool(created.get("creators")) and
          all(re.match(r"^(Tool|Organization|Person): ", c) for c in created.get("creators", [])),
          json.dumps({k: doc.get(k) for k in ("spdxVersion", "dataLicense", "SPDXID", "creationInfo")}))
    packages, sbom_files = doc.get("packages", []), doc.get("files", [])
    ids = [e.get("SPDXID", "") for e in packages + sbom_files] + ["SPDXRef-DOCUMENT"]
    check(what + ": SPDX identifiers well-formed and unique", len(ids) == len(set(ids)) and
          all(re.match(r"^SPDXRef-[A-Za-z0-9.-]+$", i) for i in ids))
    bad = [p.get("name") for p in packages if not (p.get("name") and p.get("SPDXID") and
           p.get("downloadLocation") and (p.get("filesAnalyzed") is False or p.get("packageVerificationCode")))]
    check(what + ": every package has its required fields", not bad, str(bad))
    bad = [f.get("fileName") for f in sbom_files if not (f.get("fileName") and f.get("SPDXID") and
           {"SHA1", "SHA256"} <= {c.get("algorithm") for c in f.get("checksums", [])})]
    check(what + ": every file has a name, an identifier, SHA-1 and SHA-256", not bad, str(bad[:5]))
    expressions = {e.get(k) for e in packages + sbom_files for k in ("licenseConcluded", "licenseDeclared")
                   if e.get(k)}
    bad = sorted(x for x in expressions if not licence_ok(x))
    check(what + ": licence expressions parse", not bad, str(bad))
    refs = {r.get("licenseId") for r in doc.get("hasExtractedLicensingInfos", [])}
    used = {m for x in expressions for m in re.findall(r"LicenseRef-[A-Za-z0-9.-]+", x)}
    check(what + ": every LicenseRef is defined", used <= refs, str(sorted(used - refs)))
    listed = {f["fileName"][2:] if f.get("fileName", "").startswith("./") else f.get("fileName"): f
              for f in sbom_files}
    check(what + ": lists exactly the package's files", set(listed) == set(files),
          str(sorted(set(listed) ^ set(files))[:10]))
    wrong = []
    for rel in sorted(set(listed) & set(files)):
        data = open(os.path.join(root, rel), "rb").read()
        want = {"SHA1": hashlib.sha1(data).hexdigest(), "SHA256": hashlib.sha256(data).hexdigest()}
        if any(c.get("checksumValue") != want.get(c.get("algorithm")) for c in listed[rel].get("checksums", [])):
            wrong.append(rel)
    check(what + ": file checksums match the package's content", not wrong, str(wrong[:5]))
    digest = hashlib.sha256(open(package, "rb").read()).hexdigest()
    described = [p for p in packages if p.get("SPDXID") in doc.get("documentDescribes", [])]
    check(what + ": describes the package with its checksum", any(
        {"algorithm": "SHA256", "checksumValue": digest} in p.get("checksums", []) for p in described))
    known = set(ids)
    bad = [r for r in doc.get("relationships", [])
           if r.get("spdxElementId") not in known or r.get("relatedSpdxElement") not in known]
    check(what + ": relationships name known elements", not bad, str(bad[:3]))
    faults = clause_faults(doc)
    check(what + ": SPDX 2.3 clauses 7.8, 7.9 and 11.1", not faults, "; ".join(faults[:3]))
    faults = licence_faults(doc)
    check(what + ": the package's concluded licence covers what is linked in; no term repeated", not faults,
          "; ".join(faults[:3]))
    stale = []
    for p in packages:
        locator = next((r["referenceLocator"] for r in p.get("externalRefs", [])
                        if r.get("referenceType") == "purl" and r["referenceLocator"].startswith("pkg:deb/")), None)
        if locator and "arch=source" not in locator:
            installed = subprocess.run(["dpkg-query", "-W", "-f=${Version}", p["name"]],
                                       capture_output=True, text=True).stdout.strip()
            if installed != p.get("versionInfo"):
                stale.append("%s %s (dpkg: %s)" % (p["name"], p.get("versionInfo"), installed))
    check(what + ": component versions are the installed ones", not stale, str(stale))
    return doc


def components(doc):
    """Names of the components the document links to the shipped files."""
    by_id = {p["SPDXID"]: p["name"] for p in doc.get("packages", [])}
    return {by_id.get(r["relatedSpdxElement"]) for r in doc.get("relationships", [])
            if r.get("relationshipType") in ("STATIC_LINK", "DYNAMIC_LINK")}
