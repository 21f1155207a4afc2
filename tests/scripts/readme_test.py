#!/usr/bin/env python3
"""Keeps the README's reference sections true to the code: the key table
is what "cvpack keys" prints from the program's key table, the command-line
section names every switch the program looks for, and every file the
"Where things are" map names exists. Usage: readme_test.py CVPACK"""
import os
import re
import subprocess
import sys
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
CVPACK = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "native", "bin", "cvpack")


def readme():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        return f.read()


def section(text, title):
    m = re.search(r"^## %s\n(.*?)(?=^## )" % re.escape(title), text + "\n## ", re.S | re.M)
    if not m:
        raise AssertionError('README has no section "%s"' % title)
    return m.group(1)


class Readme(unittest.TestCase):
    def test_key_table_is_what_cvpack_keys_prints(self):
        text = readme()
        m = re.search(r"<!-- keys: cvpack keys -->\n(.*?)<!-- end of keys -->", text, re.S)
        self.assertIsNotNone(m, "README: no marked key table")
        r = subprocess.run([CVPACK, "keys"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(0, r.returncode, r.stderr.decode())
        self.assertEqual(r.stdout.decode("utf-8"), m.group(1),
                         "the README's key table differs from `cvpack keys`: paste its output")

    def test_every_switch_of_the_program_is_in_the_command_line_section(self):
        with open(os.path.join(ROOT, "src", "app", "switches.cpp"), encoding="latin-1") as f:
            code = f.read()
        names = set(re.findall(r'"[-/]([A-Za-z][A-Za-z0-9]*)', code))
        for source in ("install/elevation.cpp", "install/kept_list.cpp"):
            with open(os.path.join(ROOT, "src", source), encoding="latin-1") as f:
                names |= set(re.findall(r'k\w+Switch\[\] = "/([A-Za-z]+)', f.read()))
        self.assertIn("InstallKept", names)
        self.assertIn("KeptSum", names)
        names.add("log")
        self.assertIn("quiet", names)
        self.assertIn("proxy", names)
        doc = section(readme(), "Command line")
        for name in sorted(names):
            self.assertRegex(doc, r"`[-/]%s\b" % name, 'switch "%s" is not in "Command line"' % name)

    def test_files_of_the_map_exist(self):
        doc = section(readme(), "Where things are")
        paths = set(re.findall(r"`((?:src|tests|tools|scripts|bench|cmake)/[^`* ]+)`", doc))
        self.assertTrue(paths)
        for path in sorted(paths):
            self.assertTrue(os.path.exists(os.path.join(ROOT, path)), "%s named in the README is missing" % path)

    def test_the_test_cases_named_exist(self):
        doc = section(readme(), "Where things are")
        tests = []
        for folder, _, files in os.walk(os.path.join(ROOT, "tests")):
            for name in files:
                if name.endswith((".cpp", ".py")):
                    with open(os.path.join(folder, name), encoding="latin-1") as f:
                        tests.append(f.read())
        everything = "\n".join(tests)
        cases = re.findall(r"(?:--gtest_filter=|GTEST_FILTER=)'(\w+)\.(\w+)'", doc)
        self.assertEqual(2, len(cases))
        for suite, case in cases:
            self.assertRegex(everything, r"TEST(?:_F)?\(%s, %s\)" % (suite, case))
        e2e = re.findall(r"CV_E2E_CASE=(\w+)\.(\w+)", doc)
        self.assertEqual(1, len(e2e))
        for cls, method in e2e:
            self.assertRegex(everything, r"class %s\(" % cls)
            self.assertRegex(everything, r"def %s\(" % method)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
