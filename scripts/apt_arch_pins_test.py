#!/usr/bin/env python3
"""The suite choice of apt_arch_pins on recorded `apt-cache policy` answers."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import apt_arch_pins  # noqa: E402

RECORDED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support", "apt")


def recorded(name):
    with open(os.path.join(RECORDED, name), encoding="utf-8") as f:
        return f.read()


class SuiteChoice(unittest.TestCase):
    def test_security_suite_without_its_i386_index_is_lowered(self):
        files = apt_arch_pins.package_files(recorded("policy-security-i386-missing.txt"))
        suites = apt_arch_pins.one_sided_suites(files)
        self.assertEqual(suites, [("bookworm-security", "main")])
        self.assertEqual(apt_arch_pins.preferences(suites),
                         "Package: *\nPin: release n=bookworm-security,c=main\n"
                         "Pin-Priority: 100\n")

    def test_agreeing_architectures_lower_nothing(self):
        files = apt_arch_pins.package_files(recorded("policy-both-architectures.txt"))
        self.assertEqual(len(files), 6)
        self.assertEqual(apt_arch_pins.one_sided_suites(files), [])
        self.assertEqual(apt_arch_pins.preferences([]), "")

    def test_suite_with_only_i386_is_lowered_too(self):
        files = [("bookworm", "main", "amd64"), ("bookworm", "main", "i386"),
                 ("bookworm-updates", "main", "i386")]
        self.assertEqual(apt_arch_pins.one_sided_suites(files), [("bookworm-updates", "main")])

    def test_status_file_and_other_architectures_do_not_count(self):
        # The dpkg status entry has no codename; an armhf index is not one of ours.
        text = (" 100 /var/lib/dpkg/status\n     release a=now\n"
                " 500 http://x bookworm/main amd64 Packages\n"
                "     release v=12,o=Debian,n=bookworm,l=Debian,c=main,b=amd64\n"
                " 500 http://x bookworm/main i386 Packages\n"
                "     release v=12,o=Debian,n=bookworm,l=Debian,c=main,b=i386\n"
                " 500 http://x bookworm/main armhf Packages\n"
                "     release v=12,o=Debian,n=bookworm,l=Debian,c=main,b=armhf\n")
        self.assertEqual(apt_arch_pins.one_sided_suites(apt_arch_pins.package_files(text)), [])


if __name__ == "__main__":
    unittest.main()
