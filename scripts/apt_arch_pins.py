#!/usr/bin/env python3
"""Lowers, for one apt transaction, the suites that lack one architecture.

A library marked "Multi-Arch: same" must be installed at the same version
for amd64 and for i386. When one architecture's index of a suite is
missing (on some machines a mirror in the middle of a sync fails the i386
index of the security suite at every try), the other architecture's
candidates come from that suite while their twins exist only at an older
version elsewhere, and apt refuses the 32-bit Wine ("... but it is not
installable"). Lowering such a suite below the others for the one
transaction that installs both Wines makes apt choose, for every package it
installs or upgrades there, a version that both architectures have. An
installed package newer than that is never downgraded (pin 100, as
installed packages have).

    apt_arch_pins.py OUT [APT OPTIONS...]

reads `apt-cache policy`, writes the preferences to OUT (empty when every
suite has both architectures) and prints each lowered suite. The caller
hands OUT's folder to apt with -o Dir::Etc::PreferencesParts for that
transaction only, so nothing under /etc/apt changes.
"""
import subprocess
import sys

ARCHITECTURES = ("amd64", "i386")


def package_files(policy_text):
    """(codename, component, architecture) of each index `apt-cache policy`
    lists under "Package files:"."""
    files = []
    for line in policy_text.splitlines():
        line = line.strip()
        if not line.startswith("release "):
            continue
        fields = dict(item.split("=", 1) for item in line[len("release "):].split(",")
                      if "=" in item)
        if "n" in fields and "c" in fields and "b" in fields:
            files.append((fields["n"], fields["c"], fields["b"]))
    return files


def one_sided_suites(files):
    """The (codename, component) pairs that have an index for one of the two
    architectures but not for the other, sorted."""
    arches = {}
    for codename, component, arch in files:
        if arch in ARCHITECTURES:
            arches.setdefault((codename, component), set()).add(arch)
    return sorted(key for key, found in arches.items() if len(found) != len(ARCHITECTURES))


def preferences(suites):
    """apt preferences that put each suite below every other source."""
    return "\n".join(f"Package: *\nPin: release n={codename},c={component}\n"
                     f"Pin-Priority: 100\n" for codename, component in suites)


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    policy = subprocess.run(["apt-cache", *argv[2:], "policy"], check=True,
                            capture_output=True, text=True).stdout
    suites = one_sided_suites(package_files(policy))
    with open(argv[1], "w", encoding="utf-8") as out:
        out.write(preferences(suites))
    for codename, component in suites:
        print(f"{codename}/{component}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
