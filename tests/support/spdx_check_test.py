#!/usr/bin/python3
"""spdx_check's clause checks catch what SPDX 2.3's JSON schema lets
through: each broken document must be refused, the sound one accepted."""
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
             "packageVerificationCode": {"packageVerificationCodeValue": hashlib.sha1(sha1.encode()).hexdigest()}},
            {"SPDXID": "SPDXRef-Package-libssl3", "name": "libssl3", "filesAnalyzed": False}],
        "relationships": [
            {"spdxElementId": "SPDXRef-Package-HvVerifySp", "relationshipType": "CONTAINS",
             "relatedSpdxElement": "SPDXRef-File-a"},
            {"spdxElementId": "SPDXRef-File-a", "relationshipType": "DYNAMIC_LINK",
             "relatedSpdxElement": "SPDXRef-Package-libssl3"}],
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
    ]
    failures = 0
    for what, doc, clause in cases:
        faults = spdx_check.clause_faults(copy.deepcopy(doc))
        ok = not faults if clause is None else any(f.startswith(clause) for f in faults)
        print(("ok     " if ok else "FAILED ") + what + ": " + ("; ".join(faults) or "no fault"))
        failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
