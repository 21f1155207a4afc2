"""The shipped program as built: a 32-bit Windows GUI executable whose
static imports are only DLLs that Windows always loads from its system
folder (a DLL of another name left beside the program would otherwise be
loaded in its place)."""
import os
import shutil
import subprocess
import unittest

import cvtest

KNOWN_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll',
              'ole32.dll', 'oleaut32.dll', 'comdlg32.dll', 'shlwapi.dll', 'ws2_32.dll',
              'msvcrt.dll'}


def headers(path):
    tool = shutil.which('x86_64-w64-mingw32-objdump') or shutil.which('i686-w64-mingw32-objdump') \
        or 'objdump'
    return subprocess.run([tool, '-p', path], capture_output=True, text=True, check=True).stdout


class ShippedProgram(unittest.TestCase):
    def setUp(self):
        self.exe = os.environ.get('CV_SHIPPED_CVGET', '')
        if not os.path.exists(self.exe):
            self.fail('shipped program missing: %r' % self.exe)
        self.text = headers(self.exe)

    def test_is_a_32_bit_gui_program(self):
        self.assertRegex(self.text, r'Magic\s+010b\s+\(PE32\)')
        self.assertRegex(self.text, r'Subsystem\s+00000002\s+\(Windows GUI\)')
        with open(self.exe, 'rb') as f:
            data = f.read(4096)
        pe = int.from_bytes(data[0x3c:0x40], 'little')
        self.assertEqual(b'PE\0\0', data[pe:pe + 4])
        self.assertEqual(0x14c, int.from_bytes(data[pe + 4:pe + 6], 'little'))  # i386

    def test_imports_only_known_dlls(self):
        # The shipped program, and the twin the other scenarios run.
        for exe in {self.exe, os.environ.get('CV_CVGET', self.exe)}:
            text = self.text if exe == self.exe else headers(exe)
            dlls = {l.split(':', 1)[1].strip().lower() for l in text.splitlines()
                    if 'DLL Name:' in l}
            self.assertIn('kernel32.dll', dlls, exe)
            self.assertEqual(set(), dlls - KNOWN_DLLS, exe)


if __name__ == '__main__':
    unittest.main(verbosity=2)
