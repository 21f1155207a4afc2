"""One run with "ftp" components from vsftpd and from the scripted FTP server
(which logs every command it gets) and two "http" components fetched
through the proxy that wants credentials: every file arrives
byte-identical, the second component on one FTP site reuses the connection
(one login for both), and the HTTP requests went through the proxy."""
import glob
import os
import shutil
import unittest

import cvtest
import runs


SCRIPTED_FTP_ADDR = os.environ.get('CV_FTP_SCRIPTED_ADDR', '127.0.0.23')


def commands(user):
    """Commands the scripted FTP server received from sessions of `user`."""
    path = os.path.join(runs.SRV_DIR, 'scripted_ftp', user + '.log')
    if not os.path.exists(path):
        return []
    with open(path, 'rb') as f:
        return [l.split(' ')[0].upper() for l in f.read().decode('latin-1').splitlines() if l]


def proxy_log():
    text = ''
    for log in glob.glob(os.path.join(runs.SRV_DIR, '**', '*.log'), recursive=True):
        if 'tinyproxy' in log or 'proxy' in os.path.basename(log):
            with open(log, 'rb') as f:
                text += f.read().decode('latin-1')
    return text


class FtpAndProxy(runs.RunTestCase):
    def test_ftp_and_authenticated_proxy_in_one_run(self):
        ftp_dir = runs.unique('e2e-')
        root = os.path.join(runs.FTP_DIR, ftp_dir)
        os.makedirs(root)
        self.addCleanup(shutil.rmtree, root, True)
        files = {'f1.bin': runs.data(9000, 11), 'f2.bin': runs.data(30000, 12),
                 'f3.bin': runs.data(5, 13), 'f4.bin': runs.data(7000, 16)}
        user = runs.unique('plain.')
        for name, content in files.items():
            with open(os.path.join(root, name), 'wb') as f:
                f.write(content)
        h1 = self.site(3 * runs.PART_SIZE + 7, seed=14, name='h1.bin')
        h2 = self.site(2 * runs.PART_SIZE, seed=15, name='h2.bin')
        proxy = 'proxy=127.0.0.1\nport=%d\nproxyuser=%s\nproxypassword=%s\n' % (
            runs.PROXY_AUTH_PORT, runs.PROXY_USER, runs.scramble(runs.PROXY_PASSWORD))
        inf = ('[defs]\ncomponents=setup,ftp1,ftp2,ftp3,h1,h2\nallowintervention=FALSE\n' +
               runs.SETUP_SECTION +
               '[ftp1]\nname=FTP one\nProtocol=ftp\nsite=%s\nsourceDir=%s\nfiles=f1.bin f2.bin\n'
               'DisplayOrder=2\ninstall1=copy,f1.bin\ninstall2=copy,f2.bin\ncount=2\n' % (runs.FTP_ADDR, ftp_dir) +
               '[ftp2]\nname=FTP two\nProtocol=FTP\nsite=%s\nsourceDir=%s\nfiles=f3.bin\n'
               'user=%s\npassword=secret\nDisplayOrder=3\ninstall1=copy,f3.bin\n'
               % (SCRIPTED_FTP_ADDR, ftp_dir, user) +
               '[ftp3]\nname=FTP three\nProtocol=ftp\nsite=%s\nsourceDir=%s\nfiles=f4.bin\n'
               'user=%s\npassword=secret\nDisplayOrder=4\ninstall1=copy,f4.bin\n'
               % (SCRIPTED_FTP_ADDR, ftp_dir, user) +
               runs.http_section('h1', h1, display=5, install_order=10, extra=proxy) +
               runs.http_section('h2', h2, display=6, install_order=10, extra=proxy))
        exe = runs.package(self.work, inf)
        program = cvtest.start(exe=exe)
        self.assertEqual(0, program.wait(90))

        for name, content in files.items():
            with open(os.path.join(self.client, name), 'rb') as f:
                self.assertEqual(content, f.read(), name)
        self.assertInstalled(h1)
        self.assertInstalled(h2)
        # ftp3 follows ftp2 on the same site: one login, two transfers.
        got = commands(user)
        self.assertEqual(1, got.count('USER'), got)
        self.assertEqual(2, got.count('RETR'), got)
        self.assertEqual(1, h1.requests('pkginfo.txt'))
        self.assertEqual(1, h2.requests('pkginfo.txt'))
        self.assertIn(h1.dir_name, proxy_log())
        self.assertIn(h2.dir_name, proxy_log())
        self.assertCleanedUp()


if __name__ == '__main__':
    unittest.main()
