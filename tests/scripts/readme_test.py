#!/usr/bin/env python3
"""Keeps the README's reference sections true to the code: the key table
is what "cvpack keys" prints from the program's key table, the command-line
section names every switch the program looks for, and every file the
"Where things are" map names exists; every setup description shown passes
"cvpack check", every message shown is one the program has, and every
shell session shown is one the end-to-end tier runs. Usage:
readme_test.py CVPACK"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
CVPACK = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "native", "bin", "cvpack")


def readme():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        return f.read()


def blocks(text, language):
    """(marker line above or "", body) of each fenced block of a language;
    blocks inside list items are indented, and come out without it."""
    found = []
    for m in re.finditer(r"^( *)```%s\n(.*?)^ *```$" % language, text, re.S | re.M):
        above = text[:m.start()].rstrip("\n").rsplit("\n", 1)[-1].strip()
        indent = len(m.group(1))
        body = "".join(line[indent:] for line in m.group(2).splitlines(True))
        found.append((above, body))
    return found


def c_formats(path):
    """The string literals of a source file (adjacent ones joined), as
    patterns: a printf conversion stands for any text."""
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        code = f.read()
    formats = []
    for m in re.finditer(r'"(?:[^"\\\n]|\\.)*"(?:\s*"(?:[^"\\\n]|\\.)*")*', code):
        text = "".join(re.findall(r'"((?:[^"\\\n]|\\.)*)"', m.group(0)))
        text = text.replace('\\"', '"').replace("\\\\", "\\")
        parts = re.split(r"%[-+ #0-9.]*(?:l|ll|z|h)?[sdiuxXc]", text)
        formats.append(".*".join(re.escape(part) for part in parts))
    return formats


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

    def test_setup_descriptions_shown_pass_the_check(self):
        # A setup description shown in part (one component) is checked
        # as the one component of a setup description.
        shown = blocks(readme(), "ini")
        self.assertGreaterEqual(len(shown), 2)
        with tempfile.TemporaryDirectory() as work:
            for _, body in shown:
                if not re.search(r"^\[defs\]", body, re.M):
                    names = re.findall(r"^\[([^\]]+)\]", body, re.M)
                    body = "[defs]\ncomponents=%s\n\n%s" % (",".join(names), body)
                path = os.path.join(work, "shown.inf")
                with open(path, "w", encoding="utf-8") as f:
                    f.write(body)
                r = subprocess.run([CVPACK, "check", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                self.assertEqual(0, r.returncode, "%s\ncvpack check says:\n%s" % (body, r.stdout.decode()))

    def test_messages_shown_are_the_programs(self):
        shown = [(m.group(1), body) for above, body in blocks(readme(), "text")
                 for m in [re.match(r"<!-- message: (\S+) -->$", above)] if m]
        self.assertGreaterEqual(len(shown), 3)
        for path, body in shown:
            formats = c_formats(path)
            for line in body.splitlines():
                self.assertTrue(any(re.fullmatch(f, line) for f in formats),
                                'the README shows "%s", which %s never writes' % (line, path))

    def test_every_session_shown_is_marked_to_run(self):
        # tests/e2e/test_readme.py runs the marked ones; an unmarked one
        # would be shown as run and go stale.
        text = readme()
        for above, body in blocks(text, "console"):
            self.assertRegex(above, r"^<!-- run: \S+", "a session that is not run:\n" + body)
        for above, body in blocks(text, "text"):
            self.assertRegex(above, r"^<!-- message: \S+ -->$", "a text that is not checked:\n" + body)
        self.assertEqual([], re.findall(r"^ *```(?!console|ini|text|c\b|$).*$", text, re.M),
                         "a block of a language nothing checks")

    def test_the_management_tool_line_is_the_one_publishing_runs(self):
        text = readme()
        m = re.search(r"^    setup\.exe (/quiet .*)$", section(text, "Command line"), re.M)
        self.assertIsNotNone(m, 'no example for a management tool in "Command line"')
        publishing = re.search(r"<!-- run: publishing -->\n```console\n(.*?)^```", text, re.S | re.M).group(1)
        self.assertIn("$ wine setup-signed.exe %s;" % m.group(1), publishing)

    def test_the_extraction_librarys_export_is_declared_as_shown(self):
        with open(os.path.join(ROOT, "tools", "cvgetex", "README.md"), encoding="utf-8") as f:
            shown = blocks(f.read(), "c")
        self.assertEqual(1, len(shown))
        with open(os.path.join(ROOT, "tools", "cvgetex", "cvgetex.cpp"), encoding="utf-8") as f:
            code = " ".join(f.read().split())
        declaration = " ".join(shown[0][1].split()).rstrip(";")
        self.assertIn(declaration, code)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
