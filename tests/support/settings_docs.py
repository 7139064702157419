"""The settings the module reads and the shipped documents that must name
them. The list comes from the module's sources, the one place it is kept:
every key read through ConfiguredValue or NamedValue (src/host/config.h)
with a literal name, outside the tests.

  missing(root, documents) -> (settings, {document: [settings it lacks]})
"""
import gzip
import os
import re

READ = re.compile(r'\b(?:ConfiguredValue|NamedValue)\(\s*HV_W\("([A-Za-z0-9_]+)"\)')


def settings(root):
    names = set()
    for folder, _, files in os.walk(os.path.join(root, "src")):
        for name in files:
            if name.endswith((".cpp", ".h")) and not name.endswith("_test.cpp"):
                names.update(READ.findall(open(os.path.join(folder, name), encoding="utf-8").read()))
    return sorted(names)


def text(path):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt", encoding="utf-8") as f:
        return f.read()


def missing(root, documents):
    names = settings(root)
    lacking = {}
    for path in documents:
        # A manual page escapes nothing in these names; each must stand as a word.
        body = text(path)
        absent = [n for n in names if not re.search(r"\b%s\b" % re.escape(n), body)]
        if absent:
            lacking[path] = absent
    return names, lacking
