"""A setup as a publisher ships it: packed with cvpack, then signed with
osslsigncode and a certificate made here. The signature verifies, and the
signed program still finds its package (which now ends where the
certificate table begins), extracts it and installs."""
import os
import subprocess
import unittest

import cvtest
import runs


def run(*cmd):
    r = subprocess.run(list(cmd), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0:
        raise AssertionError('%s failed: %s' % (cmd[0], r.stdout.decode('latin-1')))
    return r.stdout.decode('latin-1')


def security_directory(path):
    """(file offset, size) of a PE image's certificate table."""
    with open(path, 'rb') as f:
        data = f.read(4096)
    pe = int.from_bytes(data[0x3c:0x40], 'little')
    optional = pe + 24
    wide = int.from_bytes(data[optional:optional + 2], 'little') == 0x20b
    at = optional + (112 if wide else 96) + 4 * 8
    return (int.from_bytes(data[at:at + 4], 'little'),
            int.from_bytes(data[at + 4:at + 8], 'little'))


class SignedSetup(runs.RunTestCase):
    def setUp(self):
        super().setUp()
        # A publisher's certificate of its own, made for this run only.
        self.key = os.path.join(self.work, 'publisher.key')
        self.cert = os.path.join(self.work, 'publisher.pem')
        run('openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', self.key,
            '-out', self.cert, '-days', '2', '-subj', '/CN=Corvane test publisher')

    def sign(self, packed):
        signed = packed[:-4] + '-signed.exe'
        run('osslsigncode', 'sign', '-certs', self.cert, '-key', self.key,
            '-n', 'Corvane Lite Installer', '-in', packed, '-out', signed)
        out = run('osslsigncode', 'verify', '-CAfile', self.cert, '-in', signed)
        self.assertIn('Signature verification: ok', out)
        return signed

    def test_signed_setup_finds_its_package_and_installs(self):
        readme = os.path.join(self.work, 'readme.txt')
        with open(readme, 'wb') as f:
            f.write(b'Signed and installed.\r\n')
        inf = ('[defs]\ncomponents=setup\n' + runs.SETUP_SECTION.replace(
            'files=cvclientsetup.exe', 'files=cvclientsetup.exe,readme.txt') +
            'count=2\ninstall2=copy,readme.txt\n')
        packed = runs.package(self.work, inf, {'readme.txt': readme})
        size = os.path.getsize(packed)
        self.assertEqual(0, size % 8, 'cvpack pads the package to a multiple of 8')

        signed = self.sign(packed)
        # The signing tool appended its table right after the package,
        # without padding of its own.
        table, table_size = security_directory(signed)
        self.assertEqual(size, table)
        self.assertEqual(os.path.getsize(signed), table + table_size)
        listed = run(cvtest.CVPACK, 'list', signed)
        self.assertEqual(['client.inf', 'cvclientsetup.exe', 'readme.txt'],
                         [l.split('\t')[0] for l in listed.splitlines()])

        # All components are local: the run installs without a question.
        program = cvtest.start(exe=signed)
        self.assertEqual(0, program.wait(60))
        with open(os.path.join(self.client, 'readme.txt'), 'rb') as f:
            self.assertEqual(b'Signed and installed.\r\n', f.read())
        # The run finished: its download folder and record are gone (a run
        # without network components keeps the state file).
        self.assertIsNone(runs.download_folder())
        self.assertEqual([], cvtest.shortcut_files())

    def test_signed_shipped_program_keeps_its_package(self):
        # The 32-bit build as shipped (PE32 headers), read back natively.
        shipped = os.environ.get('CV_SHIPPED_CVGET', '')
        if not os.path.exists(shipped):
            self.fail('shipped program missing: %r' % shipped)
        inf = os.path.join(self.work, 'a.inf')
        with open(inf, 'wb') as f:
            f.write(b'[defs]\r\n')
        packed = os.path.join(self.work, 'setup32.exe')
        run(cvtest.CVPACK, 'pack', packed, shipped, 'a.inf=' + inf)
        signed = self.sign(packed)
        self.assertEqual(os.path.getsize(packed), security_directory(signed)[0])
        self.assertEqual('a.inf\t8', run(cvtest.CVPACK, 'list', signed).strip())


if __name__ == '__main__':
    unittest.main()
