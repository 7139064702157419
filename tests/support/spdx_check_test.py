#!/usr/bin/python3
"""spdx_check's clause and licence checks catch what SPDX 2.3's JSON
schema lets through: each broken document must be refused, the sound one
accepted. The licence rows: a package concluded MIT whose file links in
GCC's runtime and mingw-w64's (as the Windows zip's DLLs do), and
expressions that repeat a term (as merging two components' did)."""
import copy
import hashlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import spdx_check  # noqa: E402


def sound():
    sha1 = hashlib.sha1(b"module").hexdigest()
    return {
        "files": [{"SPDXID": "SPDXRef-File-a", "checksums": [{"algorithm": "SHA1", "checksumValue": sha1}]}],
        "packages": [
            {"SPDXID": "SPDXRef-Package-HvVerifySp", "name": "HvVerifySp", "filesAnalyzed": True,
             "packageVerificationCode": {"packageVerificationCodeValue": hashlib.sha1(sha1.encode()).hexdigest()},
             "licenseConcluded": "MIT AND GPL-3.0-or-later WITH GCC-exception-3.1 AND ZPL-2.1",
             "licenseDeclared": "MIT"},
            {"SPDXID": "SPDXRef-Package-libssl3", "name": "libssl3", "filesAnalyzed": False,
             "licenseConcluded": "Apache-2.0"},
            {"SPDXID": "SPDXRef-Package-gcc", "name": "gcc-mingw-w64", "filesAnalyzed": False,
             "licenseConcluded": "GPL-3.0-or-later WITH GCC-exception-3.1"},
            {"SPDXID": "SPDXRef-Package-crt", "name": "mingw-w64", "filesAnalyzed": False,
             "licenseConcluded": "ZPL-2.1"}],
        "relationships": [
            {"spdxElementId": "SPDXRef-Package-HvVerifySp", "relationshipType": "CONTAINS",
             "relatedSpdxElement": "SPDXRef-File-a"},
            {"spdxElementId": "SPDXRef-File-a", "relationshipType": "DYNAMIC_LINK",
             "relatedSpdxElement": "SPDXRef-Package-libssl3"},
            {"spdxElementId": "SPDXRef-File-a", "relationshipType": "STATIC_LINK",
             "relatedSpdxElement": "SPDXRef-Package-gcc"},
            {"spdxElementId": "SPDXRef-File-a", "relationshipType": "STATIC_LINK",
             "relatedSpdxElement": "SPDXRef-Package-crt"}],
    }


def broken(change):
    doc = sound()
    change(doc)
    return doc


def main():
    cases = [
        ("the sound document", sound(), None),
        ("7.8: files of a package whose files were not analysed",
         broken(lambda d: d["packages"][0].update(filesAnalyzed=False)), "7.8"),
        ("7.8: a file CONTAINED_BY a package not analysed",
         broken(lambda d: d["relationships"].append({"spdxElementId": "SPDXRef-File-a",
                                                     "relationshipType": "CONTAINED_BY",
                                                     "relatedSpdxElement": "SPDXRef-Package-libssl3"})), "7.8"),
        ("7.9: an analysed package without its verification code",
         broken(lambda d: d["packages"][0].pop("packageVerificationCode")), "7.9"),
        ("7.9: a verification code of other files",
         broken(lambda d: d["files"][0]["checksums"][0].update(checksumValue="0" * 40)), "7.9"),
        ("11.1: a relationship type SPDX does not have",
         broken(lambda d: d["relationships"][1].update(relationshipType="LINKS")), "11.1"),
        ("licence: a package concluded MIT that links in GCC's and mingw-w64's runtimes",
         broken(lambda d: d["packages"][0].update(licenseConcluded="MIT")), "licence"),
        ("licence: a package concluded without the GCC runtime exception",
         broken(lambda d: d["packages"][0].update(licenseConcluded="MIT AND GPL-3.0-or-later AND ZPL-2.1")),
         "licence"),
        ("licence: a statically linked component of unknown licence",
         broken(lambda d: d["packages"][3].update(licenseConcluded="NOASSERTION")), "licence"),
        ("licence: merged terms repeated",
         broken(lambda d: d["packages"][2].update(
             licenseConcluded="(GPL-3.0-or-later WITH GCC-exception-3.1) AND "
                              "(GPL-3.0-or-later WITH GCC-exception-3.1)")), "licence"),
        ("licence: a term repeated inside a group",
         broken(lambda d: d["packages"][0].update(
             licenseConcluded="MIT AND (GPL-3.0-or-later WITH GCC-exception-3.1 AND ZPL-2.1 AND ZPL-2.1)")),
         "licence"),
        ("the package's own dynamic links do not count (libssl3 left out)",
         broken(lambda d: d["packages"][1].update(licenseConcluded="Apache-2.0 AND OpenSSL")), None),
    ]
    failures = 0
    for what, doc, clause in cases:
        doc = copy.deepcopy(doc)
        faults = spdx_check.clause_faults(doc) + spdx_check.licence_faults(doc)
        ok = not faults if clause is None else any(f.startswith(clause) for f in faults)
        print(("ok     " if ok else "FAILED ") + what + ": " + ("; ".join(faults) or "no fault"))
        failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
