"""One run with two "ftp" components on one FTP server and two "http"
components fetched through the proxy that wants credentials: every file
arrives byte-identical, the second component of each site reuses the
connection (one FTP login), and the HTTP requests went through the proxy."""
import glob
import os
import shutil
import unittest

import cvtest
import runs


def ftp_logins():
    count = 0
    for log in glob.glob(os.path.join(runs.SRV_DIR, '**', '*ftp*.log'), recursive=True):
        with open(log, 'rb') as f:
            text = f.read().decode('latin-1')
        count += sum(1 for l in text.splitlines() if 'OK LOGIN' in l)
    return count


class FtpAndProxy(runs.RunTestCase):
    def test_ftp_and_authenticated_proxy_in_one_run(self):
        ftp_dir = runs.unique('e2e-')
        root = os.path.join(runs.FTP_DIR, ftp_dir)
        os.makedirs(root)
        self.addCleanup(shutil.rmtree, root, True)
        files = {'f1.bin': runs.data(9000, 11), 'f2.bin': runs.data(30000, 12),
                 'f3.bin': runs.data(5, 13)}
        for name, content in files.items():
            with open(os.path.join(root, name), 'wb') as f:
                f.write(content)
        h1 = self.site(3 * runs.PART_SIZE + 7, seed=14, name='h1.bin')
        h2 = self.site(2 * runs.PART_SIZE, seed=15, name='h2.bin')
        proxy = 'proxy=127.0.0.1\nport=%d\nproxyuser=%s\nproxypassword=%s\n' % (
            runs.PROXY_AUTH_PORT, runs.PROXY_USER, runs.scramble(runs.PROXY_PASSWORD))
        inf = ('[defs]\ncomponents=setup,ftp1,ftp2,h1,h2\nallowintervention=FALSE\n' +
               runs.SETUP_SECTION +
               '[ftp1]\nname=FTP one\nProtocol=ftp\nsite=%s\nsourceDir=%s\nfiles=f1.bin f2.bin\n'
               'DisplayOrder=2\ninstall1=copy,f1.bin\ninstall2=copy,f2.bin\ncount=2\n' % (runs.FTP_ADDR, ftp_dir) +
               '[ftp2]\nname=FTP two\nProtocol=FTP\nsite=%s\nsourceDir=%s\nfiles=f3.bin\n'
               'DisplayOrder=3\ninstall1=copy,f3.bin\n' % (runs.FTP_ADDR.upper(), ftp_dir) +
               runs.http_section('h1', h1, display=4, install_order=10, extra=proxy) +
               runs.http_section('h2', h2, display=5, install_order=10, extra=proxy))
        exe = runs.package(self.work, inf)
        logins = ftp_logins()
        program = cvtest.start(exe=exe)
        self.assertEqual(0, program.wait(90))

        for name, content in files.items():
            with open(os.path.join(self.client, name), 'rb') as f:
                self.assertEqual(content, f.read(), name)
        self.assertInstalled(h1)
        self.assertInstalled(h2)
        self.assertEqual(1, ftp_logins() - logins)
        self.assertGreaterEqual(h1.requests('pkginfo.txt'), 1)
        self.assertGreaterEqual(h2.requests('pkginfo.txt'), 1)
        self.assertCleanedUp()


if __name__ == '__main__':
    unittest.main()
