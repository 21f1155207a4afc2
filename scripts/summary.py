#!/usr/bin/env python3
"""Sums up the tiers of a test run. Each ctest test counts as the GoogleTest
cases it ran (from the XML it wrote during this run, when it wrote one) or as
one test otherwise; fuzz targets and failed services come from the extra
file as 'PASS|FAIL tier name' lines. Prints each tier's counts, a line for
every tier that was asked for and ran no test (which fails the run), and
'N passed, N failed' last; exits non-zero on any failure.

Usage: summary.py --tiers native,fuzz,win,e2e STAMP EXTRA [tier=JUNIT ...]"""
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


def junit_counts(junit, stamp, build_root):
    """(passed, failed, names of failed tests) of one ctest junit file."""
    passed = failed = 0
    failures = []
    for case in ET.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        if case.get("status") in ("notrun", "disabled"):
            continue
        ctest_failed = case.get("status") == "fail" or case.find("failure") is not None
        xml = None
        for tree in ("native", "win32", "win64"):
            p = os.path.join(build_root, tree, "test-results", name + ".xml")
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
        elif ctest_failed:
            failed += 1
            failures.append(name)
        else:
            passed += 1
    return passed, failed, failures


def summarize(tiers, stamp, extra, junits, build_root):
    """Returns (lines to print, exit status)."""
    counts = {t: [0, 0] for t in tiers}
    failures = []
    with open(extra) as f:
        for line in f:
            parts = line.split()
            if len(parts) != 3:
                continue
            status, tier, name = parts
            entry = counts.setdefault(tier, [0, 0])
            if status == "PASS":
                entry[0] += 1
            elif status == "FAIL":
                entry[1] += 1
                failures.append(name)
    for arg in junits:
        tier, _, junit = arg.partition("=")
        entry = counts.setdefault(tier, [0, 0])
        if not os.path.exists(junit):
            entry[1] += 1
            failures.append(os.path.basename(junit))
            continue
        p, fl, names = junit_counts(junit, stamp, build_root)
        entry[0] += p
        entry[1] += fl
        failures += names
    lines = []
    empty = []
    for tier, (p, fl) in counts.items():
        lines.append(f"tier {tier}: {p} passed, {fl} failed")
        if tier in tiers and p + fl == 0:
            empty.append(tier)
    for tier in empty:
        lines.append(f"tier {tier} was asked for and ran no test")
    passed = sum(c[0] for c in counts.values())
    failed = sum(c[1] for c in counts.values()) + len(empty)
    if failures:
        lines.append("failed: " + ", ".join(failures))
    lines.append(f"{passed} passed, {failed} failed")
    return lines, 1 if failed else 0


def main(argv):
    tiers = []
    if len(argv) > 1 and argv[1] == "--tiers":
        tiers = [t for t in argv[2].split(",") if t]
        argv = argv[2:]
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    stamp, extra, junits = argv[1], argv[2], argv[3:]
    lines, status = summarize(tiers, stamp, extra, junits, os.environ.get("BUILD_DIR", "build"))
    print("\n".join(lines))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
