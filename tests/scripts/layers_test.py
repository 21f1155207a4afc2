#!/usr/bin/env python3
"""Checks that includes point downwards: each layer of src/ includes only
its own headers and those of the layers below it."""
import os
import re
import unittest

SRC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src")

# What each layer may include besides itself.
ALLOWED = {
    "base": set(),
    "ui": set(),
    "http": {"base"},
    "setup": {"base", "http", "ui", "resources"},
    "install": {"base", "http", "setup", "ui", "resources"},
    "download": {"base", "http", "setup", "install", "ui", "resources"},
    "app": {"base", "http", "setup", "install", "download", "ui", "resources"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/')


def offending_includes(layer):
    found = []
    folder = os.path.join(SRC, layer)
    for name in sorted(os.listdir(folder)):
        if not name.endswith((".h", ".cpp")):
            continue
        with open(os.path.join(folder, name), encoding="latin-1") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if m and m.group(1) != layer and m.group(1) not in ALLOWED[layer]:
                    found.append("src/%s/%s:%d includes %s/" % (layer, name, number, m.group(1)))
    return found


class Layers(unittest.TestCase):
    def test_every_layer_is_known(self):
        layers = {d for d in os.listdir(SRC) if os.path.isdir(os.path.join(SRC, d))}
        self.assertEqual(set(), layers - set(ALLOWED) - {"resources"})

    def test_includes_point_downwards(self):
        for layer in ALLOWED:
            with self.subTest(layer=layer):
                self.assertEqual([], offending_includes(layer))


if __name__ == "__main__":
    unittest.main()
