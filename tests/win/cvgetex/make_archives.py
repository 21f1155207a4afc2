#!/usr/bin/env python3
"""Writes the test archives of the extraction library into the folder given.

Every archive holds the same tree (TREE below); the tests compare what the
library unpacks with it. Damaged and unsafe archives are derived from good
ones by patching bytes, so that they differ from a good one in exactly one
way.
"""
import os
import random
import shutil
import subprocess
import sys
import zipfile

random.seed(7)
NOISE = bytes(random.getrandbits(8) for _ in range(150000))  # does not compress
TEXT = b"".join(b"line %06d of a compressible file\r\n" % i for i in range(12000))

TREE = {
    "top.txt": b"top of the archive\r\n",
    "sub/inner/deep.txt": b"three levels down\r\n",
    "sub/noise.bin": NOISE,
    "sub/text.txt": TEXT,
    "empty.dat": b"",
}


def write_tree(root):
    for name, data in TREE.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def make_cab(out, src, names, compress):
    args = ["gcab", "-c"] + (["-z"] if compress else []) + [os.path.abspath(out)] + names
    subprocess.run(args, cwd=src, check=True)


def make_zip(out, method, folders=True):
    with zipfile.ZipFile(out, "w", method) as z:
        if folders:
            z.writestr(zipfile.ZipInfo("sub/"), b"")
            z.writestr(zipfile.ZipInfo("sub/inner/"), b"")
            z.writestr(zipfile.ZipInfo("emptyfolder/"), b"")
        for name, data in TREE.items():
            z.writestr(zipfile.ZipInfo(name), data, compress_type=method)


def patch(src, dst, old, new, count=1):
    data = open(src, "rb").read()
    assert len(old) == len(new) and data.count(old) >= count, (src, old)
    open(dst, "wb").write(data.replace(old, new, count))


def flip(src, dst, offset):
    data = bytearray(open(src, "rb").read())
    data[offset] ^= 0x55
    open(dst, "wb").write(bytes(data))


def cut(src, dst, fraction):
    data = open(src, "rb").read()
    open(dst, "wb").write(data[: int(len(data) * fraction)])


def unsafe_zip(out, name):
    # A good entry first: nothing at all may be written for the archive.
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("good.txt", b"harmless\r\n")
        z.writestr(zipfile.ZipInfo(name), b"must not be written\r\n")


def main():
    out = sys.argv[1]
    shutil.rmtree(out, ignore_errors=True)
    src = os.path.join(out, "tree")
    os.makedirs(src)
    write_tree(src)
    names = list(TREE)

    make_cab(os.path.join(out, "stored.cab"), src, names, False)
    make_cab(os.path.join(out, "mszip.cab"), src, names, True)
    make_zip(os.path.join(out, "stored.zip"), zipfile.ZIP_STORED)
    make_zip(os.path.join(out, "deflated.zip"), zipfile.ZIP_DEFLATED)

    # Unsafe names. The cabinet tool cleans names it is given, so the name
    # is patched in afterwards; names are not covered by a checksum.
    bad = os.path.join(out, "bad")
    os.makedirs(os.path.join(bad, "ab"))
    os.makedirs(os.path.join(bad, "x"))
    with open(os.path.join(bad, "good.txt"), "wb") as f:
        f.write(b"harmless\r\n")
    with open(os.path.join(bad, "ab", "evil.txt"), "wb") as f:
        f.write(b"must not be written\r\n")
    with open(os.path.join(bad, "x", "evil.txt"), "wb") as f:
        f.write(b"must not be written\r\n")
    make_cab(os.path.join(bad, "ab.cab"), bad, ["good.txt", "ab/evil.txt"], True)
    make_cab(os.path.join(bad, "x.cab"), bad, ["good.txt", "x/evil.txt"], True)
    patch(os.path.join(bad, "ab.cab"), os.path.join(out, "climb.cab"), b"ab\\evil.txt", b"..\\evil.txt")
    patch(os.path.join(bad, "x.cab"), os.path.join(out, "absolute.cab"), b"x\\evil.txt", b"\\xevil.txt")
    patch(os.path.join(bad, "x.cab"), os.path.join(out, "drive.cab"), b"x\\evil.txt", b"C:evil.txt")
    for label, name in [
        ("climb", "../evil.txt"),
        ("climb-backslash", "..\\evil.txt"),
        ("climb-nested", "sub/../../evil.txt"),
        ("climb-dots", "sub/.../evil.txt"),
        ("absolute", "/evil.txt"),
        ("absolute-backslash", "\\evil.txt"),
        ("drive", "C:/evil.txt"),
        ("share", "//server/share/evil.txt"),
        ("stream", "good.txt:evil"),
        ("device", "sub/aux.txt"),
    ]:
        unsafe_zip(os.path.join(out, "unsafe-%s.zip" % label), name)

    # Damaged copies. Offsets are inside the data of sub/noise.bin, which is
    # stored as it is in both stored archives.
    stored_zip = open(os.path.join(out, "stored.zip"), "rb").read()
    stored_cab = open(os.path.join(out, "stored.cab"), "rb").read()
    flip(os.path.join(out, "stored.zip"), os.path.join(out, "badcrc-stored.zip"),
         stored_zip.index(NOISE[:64]) + 1000)
    flip(os.path.join(out, "stored.cab"), os.path.join(out, "badsum-stored.cab"),
         stored_cab.index(NOISE[:64]) + 1000)
    deflated = open(os.path.join(out, "deflated.zip"), "rb").read()
    flip(os.path.join(out, "deflated.zip"), os.path.join(out, "badcrc-deflated.zip"),
         len(deflated) // 2)
    mszip = open(os.path.join(out, "mszip.cab"), "rb").read()
    flip(os.path.join(out, "mszip.cab"), os.path.join(out, "badsum-mszip.cab"), len(mszip) // 2)
    for name in ["stored.zip", "deflated.zip", "stored.cab", "mszip.cab"]:
        cut(os.path.join(out, name), os.path.join(out, "cut-" + name), 0.6)
    # Names beyond ASCII: a cabinet's name in the legacy code page of the
    # test prefix (no UTF-8 mark; patched in, like the unsafe names), a ZIP
    # name in its traditional code page 437, and one marked UTF-8.
    names = os.path.join(out, "names")
    os.makedirs(names)
    with open(os.path.join(names, "cafX.txt"), "wb") as f:
        f.write(b"legacy name\r\n")
    make_cab(os.path.join(names, "plain.cab"), names, ["cafX.txt"], False)
    patch(os.path.join(names, "plain.cab"), os.path.join(out, "legacy-name.cab"), b"cafX.txt",
          "café.txt".encode("cp1252"))
    with zipfile.ZipFile(os.path.join(names, "plain.zip"), "w") as z:
        z.writestr(zipfile.ZipInfo("cafX-437.txt"), b"code page 437\r\n")
        z.writestr(zipfile.ZipInfo("\u043f\u0440\u0438-\u4e0b.txt"), b"marked UTF-8\r\n")
    patch(os.path.join(names, "plain.zip"), os.path.join(out, "names.zip"), b"cafX-437.txt",
          "café-437.txt".encode("cp437"), count=2)
    with open(os.path.join(out, "not-an-archive.zip"), "wb") as f:
        f.write(b"this is plain text, not an archive\r\n")


if __name__ == "__main__":
    main()
