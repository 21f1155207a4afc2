#!/usr/bin/env python3
# Tells whether the ECDSA signature of a certificate or revocation list (PEM
# or DER) has both of its numbers at their full width. Wine's check of such
# a signature fails when a number is shorter than the curve's size (about
# one signature in a hundred), so the test tier makes its certificates again
# until each is one Wine can check, and its tests do not fail by chance.
# Usage: ecdsa_sig.py FILE [WIDTH]   exit 0 full width, 1 a shorter number
import base64
import sys


def read_der(path):
    raw = open(path, "rb").read()
    if b"-----BEGIN" in raw:
        body = b"".join(l for l in raw.splitlines() if l and not l.startswith(b"-----"))
        return base64.b64decode(body)
    return raw


def element(data, at):
    """(tag, start of content, end of content) of the element at `at`."""
    tag = data[at]
    length = data[at + 1]
    at += 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[at:at + count], "big")
        at += count
    return tag, at, at + length


def children(data, start, end):
    out = []
    while start < end:
        tag, s, e = element(data, start)
        out.append((tag, s, e))
        start = e
    return out


def main():
    width = int(sys.argv[2]) if len(sys.argv) > 2 else 32
    der = read_der(sys.argv[1])
    _, s, e = element(der, 0)
    tag, bs, be = children(der, s, e)[2]  # signed part, algorithm, signature
    if tag != 0x03:
        return 2
    _, s, e = element(der, bs + 1)  # after the unused-bits byte: SEQUENCE r s
    for tag, ns, ne in children(der, s, e):
        number = der[ns:ne].lstrip(b"\x00")
        if tag != 0x02 or len(number) != width:
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
