"""The layout of a package's tar.gz or zip as a user unpacks it: one top
folder named after the archive (its file name without .tar.gz or .zip) and
everything inside it, so that unpacking in a home folder never merges into
~/bin or ~/lib.

  faults(archive): the members that break the layout (outside the folder,
      absolute, climbing out with "..", or in a tar neither a file nor a
      folder); empty when the layout is sound.
  unpack(archive, into): the faults, and when there are none the archive
      unpacked into `into`; returns (the top folder's path or None, faults).
      Nothing is written when there is a fault.
"""
import os
import tarfile
import zipfile


def top_folder(archive):
    name = os.path.basename(archive)
    for ext in (".tar.gz", ".zip"):
        if name.endswith(ext):
            return name[:-len(ext)]
    raise ValueError("not a tar.gz or zip: " + name)


def members(archive):
    """(name, is a folder, is a file or folder) of every member."""
    if archive.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            return [(i.filename, i.is_dir(), True) for i in z.infolist()]
    with tarfile.open(archive) as t:
        return [(m.name, m.isdir(), m.isfile() or m.isdir()) for m in t.getmembers()]


def faults(archive):
    folder = top_folder(archive)
    found = members(archive)
    wrong = []
    for name, is_dir, plain in found:
        parts = name.rstrip("/").split("/")
        inside = parts[0] == folder and (len(parts) > 1 or is_dir)
        if not inside or name.startswith("/") or "\\" in name or ".." in parts or not plain:
            wrong.append(name)
    return wrong if found else ["(no members)"]


def unpack(archive, into):
    wrong = faults(archive)
    if wrong:
        return None, wrong
    if archive.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            z.extractall(into)
    else:
        with tarfile.open(archive) as t:
            t.extractall(into)
    return os.path.join(into, top_folder(archive)), []
