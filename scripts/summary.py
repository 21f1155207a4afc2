#!/usr/bin/env python3
"""Sums up the tiers: each ctest test counts as the GoogleTest cases it ran
(from the XML it wrote during this run, when it wrote one) or as one test otherwise.
Prints 'N passed, N failed' last and exits non-zero on any failure."""
import os
import sys
import xml.etree.ElementTree as ET


def gtest_counts(path):
    root = ET.parse(path).getroot()
    tests = fails = 0
    for case in root.iter("testcase"):
        if case.get("status", "run") == "notrun" or case.get("result") == "skipped":
            continue
        tests += 1
        if case.find("failure") is not None:
            fails += 1
    return tests, fails


def main():
    stamp, extra, junits = sys.argv[1], sys.argv[2], sys.argv[3:]
    passed = failed = 0
    failures = []
    with open(extra) as f:
        for line in f:
            status, _, name = line.strip().partition(" ")
            if status == "PASS":
                passed += 1
            elif status == "FAIL":
                failed += 1
                failures.append(name)
    for junit in junits:
        if not os.path.exists(junit):
            failed += 1
            failures.append(os.path.basename(junit))
            continue
        for case in ET.parse(junit).getroot().iter("testcase"):
            name = case.get("name")
            ctest_failed = case.get("status") == "fail" or case.find("failure") is not None
            xml = None
            root = os.environ.get("BUILD_DIR", "build")
            for tree in ("native", "win32", "win64"):
                p = os.path.join(root, tree, "test-results", name + ".xml")
                if os.path.exists(p) and os.path.getmtime(p) >= os.path.getmtime(stamp):
                    xml = p
            if xml:
                try:
                    t, fl = gtest_counts(xml)
                except ET.ParseError:
                    t, fl = 1, 1
                if ctest_failed and fl == 0:
                    fl, t = 1, t + 1
                passed += t - fl
                failed += fl
                if fl:
                    failures.append(name)
            else:
                if ctest_failed:
                    failed += 1
                    failures.append(name)
                else:
                    passed += 1
    if failures:
        print("failed: " + ", ".join(failures))
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
