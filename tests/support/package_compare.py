"""Two package folders compared: a second build of the same sources must
give the same bytes, file by file; a signed release and an unsigned
rebuild the same once the signatures are removed (package_check.py
--same-as)."""
import json
import os
import subprocess
import tempfile
import zipfile


def read_sums(dist):
    sums = {}
    if os.path.exists(os.path.join(dist, "SHA256SUMS")):
        for line in open(os.path.join(dist, "SHA256SUMS")):
            digest, name = line.split(None, 1)
            sums[name.strip().lstrip("*")] = digest
    return sums


class SignatureNotRemoved(Exception):
    """osslsigncode could not remove a signature: the file cannot be
    compared with an unsigned build (and must not compare equal to one)."""


def without_signature(data, work):
    """A PE file as the unsigned build wrote it: the Authenticode signature
    removed, the checksum field zeroed, the padding at its end dropped."""
    import pefile
    pe = pefile.PE(data=data, fast_load=True)
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    if security.Size:
        signed, plain = os.path.join(work, "signed.bin"), os.path.join(work, "plain.bin")
        open(signed, "wb").write(data)
        p = subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", plain],
                           capture_output=True, timeout=300)
        try:
            if p.returncode != 0 or not os.path.exists(plain):
                raise SignatureNotRemoved("osslsigncode remove-signature failed (%d): %s" % (
                    p.returncode, " ".join((p.stderr + p.stdout).decode(errors="replace").split())[-200:]))
            data = open(plain, "rb").read()
        finally:
            for path in (signed, plain):
                if os.path.exists(path):
                    os.remove(path)
    checksum = pe.OPTIONAL_HEADER.get_file_offset() + 64
    return (data[:checksum] + b"\0\0\0\0" + data[checksum + 4:]).rstrip(b"\0")


def same_zip(ours, theirs, work):
    """Two zips with the same members, the PE files equal once unsigned."""
    with zipfile.ZipFile(ours) as a, zipfile.ZipFile(theirs) as b:
        if sorted(a.namelist()) != sorted(b.namelist()):
            return False
        for name in a.namelist():
            x, y = a.read(name), b.read(name)
            if name.lower().endswith((".dll", ".exe")):
                x, y = without_signature(x, work), without_signature(y, work)
            if x != y:
                return False
    return True


def same_sbom(ours, theirs):
    """Two bills of materials equal but for what names the signed bytes."""
    def plain(path):
        doc = json.load(open(path))
        for f in doc.get("files", []):
            if f.get("fileName", "").lower().endswith((".dll", ".exe")):
                f.pop("checksums", None)
        for p in doc.get("packages", []):
            if p.get("SPDXID") in doc.get("documentDescribes", []):
                p.pop("checksums", None)
                p.pop("packageVerificationCode", None)
        doc.pop("documentNamespace", None)
        return doc
    return plain(ours) == plain(theirs)


def check_same(dist, other, check):
    """A second build in another folder gave the same bytes, file by file;
    a signed release and an unsigned rebuild the same once the signatures
    are removed (the Windows packages and their bills of materials). Each
    verdict goes to check(what, ok, detail="")."""
    ours, theirs = read_sums(dist), read_sums(other)
    check("the rebuild gives the same files", sorted(ours) == sorted(theirs),
          str(sorted(set(ours) ^ set(theirs))))
    unsigned = []
    with tempfile.TemporaryDirectory() as work:
        for name in sorted(set(ours) & set(theirs)):
            a, b = os.path.join(dist, name), os.path.join(other, name)
            if ours[name] == theirs[name]:
                check("the rebuild reproduces " + name, True)
                unsigned.append(name)
            elif name.endswith(".zip") and not name.endswith("-symbols.zip"):
                try:
                    check("the rebuild reproduces " + name + " (signatures removed)", same_zip(a, b, work))
                except SignatureNotRemoved as e:
                    check("the rebuild reproduces " + name + " (signatures removed)", False, str(e))
            elif name.endswith(".zip.spdx.json"):
                check("the rebuild reproduces " + name + " (but the signed files' checksums)", same_sbom(a, b))
            else:
                check("the rebuild reproduces " + name, False)
    lines = [line for line in open(os.path.join(dist, "SHA256SUMS")) if line.split()[-1] in unsigned]
    check("the rebuild reproduces SHA256SUMS (the lines of unsigned files)", set(lines) <= set(
        open(os.path.join(other, "SHA256SUMS")).readlines()))
