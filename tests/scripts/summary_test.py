#!/usr/bin/env python3
"""Checks the test run's summary: per-tier counts, and that a tier which was
asked for but ran no test fails the run instead of shrinking to nothing."""
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import summary  # noqa: E402

JUNIT = """<?xml version="1.0"?>
<testsuite tests="{n}">{cases}</testsuite>
"""
GTEST = """<?xml version="1.0"?>
<testsuites>{cases}</testsuites>
"""


class SummaryTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name
        self.stamp = self.file("started", "")
        past = time.time() - 60  # results written below are newer than the run's start
        os.utime(self.stamp, (past, past))
        self.extra = self.file("extra.txt", "")

    def tearDown(self):
        self.dir.cleanup()

    def file(self, name, text):
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)
        return path

    def junit(self, tier, *cases):
        body = "".join(
            f'<testcase name="{n}" status="{s}"/>' for n, s in cases)
        return tier + "=" + self.file(f"{tier}.junit.xml", JUNIT.format(n=len(cases), cases=body))

    def gtest(self, tree, program, passed, failed):
        cases = "".join('<testcase name="p" status="run"/>' for _ in range(passed))
        cases += "".join('<testcase name="f" status="run"><failure/></testcase>' for _ in range(failed))
        cases += '<testcase name="s" status="run" result="skipped"/>'
        self.file(f"{tree}/test-results/{program}.xml", GTEST.format(cases=cases))

    def run_summary(self, tiers, junits):
        return summary.summarize(tiers, self.stamp, self.extra, junits, self.root)

    def test_counts_each_tier_from_the_programs_results(self):
        self.gtest("native", "unit_http", 5, 0)
        self.gtest("win64", "win_app", 3, 1)
        with open(self.extra, "w") as f:
            f.write("PASS fuzz fuzz_url\nPASS fuzz fuzz_base64\n")
        lines, status = self.run_summary(
            ["native", "fuzz", "win"],
            [self.junit("native", ("unit_http", "passed")), self.junit("win", ("win_app", "fail"))])
        self.assertIn("tier native: 5 passed, 0 failed", lines)
        self.assertIn("tier fuzz: 2 passed, 0 failed", lines)
        self.assertIn("tier win: 3 passed, 1 failed", lines)
        self.assertEqual("10 passed, 1 failed", lines[-1])
        self.assertEqual(1, status)

    def test_a_tier_that_ran_nothing_fails_the_run(self):
        self.gtest("native", "unit_http", 2, 0)
        lines, status = self.run_summary(
            ["native", "win", "e2e"],
            [self.junit("native", ("unit_http", "passed")), self.junit("win"), self.junit("e2e")])
        self.assertIn("tier win was asked for and ran no test", lines)
        self.assertIn("tier e2e was asked for and ran no test", lines)
        self.assertEqual("2 passed, 2 failed", lines[-1])
        self.assertEqual(1, status)

    def test_a_fuzz_tier_without_targets_fails(self):
        lines, status = self.run_summary(["fuzz"], [])
        self.assertIn("tier fuzz was asked for and ran no test", lines)
        self.assertEqual(1, status)

    def test_results_older_than_the_run_do_not_count(self):
        self.gtest("native", "unit_old", 7, 0)
        old = os.path.join(self.root, "native/test-results/unit_old.xml")
        os.utime(old, (1, 1))
        lines, status = self.run_summary(["native"], [self.junit("native", ("unit_old", "passed"))])
        self.assertEqual("1 passed, 0 failed", lines[-1])  # counted as one ctest test
        self.assertEqual(0, status)

    def test_a_missing_junit_file_and_a_failed_service_fail(self):
        with open(self.extra, "w") as f:
            f.write("FAIL services service_nginx\n")
        lines, status = self.run_summary(["native"], ["native=" + os.path.join(self.root, "none.xml")])
        self.assertEqual("0 passed, 2 failed", lines[-1])
        self.assertIn("service_nginx", lines[-2])
        self.assertEqual(1, status)


if __name__ == "__main__":
    unittest.main()
