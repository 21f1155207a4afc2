"""Folders and names beyond the system's code page. A packaged run whose
temporary folder, and so its download folder, is named in Cyrillic, Han
and accented Latin letters fetches over HTTP and FTP, is killed, resumes
from its shortcut and installs, and the stand-in client reads the state
file it wrote; its setup description is in the prefix's legacy code page
and the component names show right. A run of a UTF-8 setup description in
such a folder ("-inf") installs too and shows its names."""
import glob
import os
import shutil
import unittest

import cvtest
import runs

FOLDER = 'Загрузки-下载-é'


def start_with_temp(temp, exe, *args):
    """Starts `exe` (a Windows path) with TEMP and TMP set to `temp`. Wine
    takes both from the prefix's registry, not from the Unix environment:
    a command shell sets them for the program it starts, and the shared
    prefix stays as it is."""
    return cvtest.start('/c', 'set', 'TEMP=%s&&' % temp, 'set', 'TMP=%s&&' % temp, exe, *args,
                        exe='cmd')


def kill_windows_process(pid):
    """Ends a program that a command shell started (killing the shell's
    Unix process leaves its child running)."""
    cvtest._run_wine_tool([cvtest.WINE, 'taskkill', '/F', '/PID', str(pid)], 60)


class UnicodePaths(runs.RunTestCase):
    def ftp_component(self, name, display):
        """An "ftp" component from vsftpd; returns (section text, file name, content)."""
        ftp_dir = runs.unique('e2e-')
        root = os.path.join(runs.FTP_DIR, ftp_dir)
        os.makedirs(root)
        self.addCleanup(shutil.rmtree, root, True)
        content = runs.data(9000, display)
        with open(os.path.join(root, 'f%d.bin' % display), 'wb') as f:
            f.write(content)
        section = ('[ftp%d]\nname=%s\nProtocol=ftp\nsite=%s\nsourceDir=%s\nfiles=f%d.bin\n'
                   'DisplayOrder=%d\ninstall1=copy,f%d.bin\n'
                   % (display, name, runs.FTP_ADDR, ftp_dir, display, display, display))
        return section, 'f%d.bin' % display, content

    def assertClientHas(self, name, content):
        with open(os.path.join(self.client, name), 'rb') as f:
            self.assertEqual(content, f.read(), name)

    def test_temporary_folder_beyond_the_code_page_resumes_and_installs(self):
        temp = cvtest.win_path('temp') + '\\' + FOLDER
        temp_unix = os.path.join(cvtest.temp_dir(), FOLDER)
        shutil.rmtree(temp_unix, ignore_errors=True)
        os.makedirs(temp_unix)
        self.addCleanup(shutil.rmtree, temp_unix, True)
        report = os.path.join(self.work, 'client-reads.txt')
        site = self.site(4 * runs.PART_SIZE, seed=21)
        site.hold_back(2)
        ftp, ftp_file, ftp_content = self.ftp_component('Ñandú files', 3)
        # The client's setup reads the state file as the installed client
        # does, then reports success in it.
        reads = ' '.join('-readstate %s %s "%s"' % (s, k, cvtest.to_win(report))
                         for s, k in [('download', 'complete'), ('result', 'success'),
                                      ('ProxySettings', 'Valid')])
        inf = ('[defs]\ncomponents=setup,data,ftp3\n'
               '[setup]\nname=Café client\nProtocol=selfext\nfiles=cvclientsetup.exe\n'
               'DisplayOrder=1\nInstallOrder=50\ncount=2\ninstall1=run,cvclientsetup.exe,%s\n'
               'install2=run,cvclientsetup.exe,-success\n' % reads +
               runs.http_section('data', site, display=2, install_order=10).replace(
                   'name=data data', 'name=Über data') + ftp)
        # runs.package writes the setup description in the prefix's legacy
        # (Western) code page.
        exe = runs.package(self.work, inf)
        program = start_with_temp(temp, cvtest.to_win(exe))
        intro = cvtest.wait_window(title='Corvane Lite Installer', text='&Continue', visible=True,
                                   timeout=30)
        cvtest.click('&Continue', hwnd=intro['hwnd'])
        runs.wait_requested(site, 'file002.bin')
        # Every part but the held-back one came in beside it.
        runs.wait_status('(12K of 16K)')
        names = ['Café client', 'Über data', 'Ñandú files']
        _, rows = cvtest.listview(title=runs.DIALOG)
        self.assertEqual(names, [r[0] for r in rows])

        # Killed mid-fetch: the shortcut starts the copy in the download
        # folder, which lies in the temporary folder.
        kill_windows_process(intro['pid'])
        self.assertTrue(cvtest.window_gone(title=runs.DIALOG, timeout=30))
        program.wait(30)
        target, args = self.shortcut()
        self.assertEqual(' /NoIntervention /SaveProxySettings', args)
        self.assertTrue(target.startswith(temp + '\\ins'), target)
        copy = cvtest.unix_path(target)
        self.assertTrue(os.path.exists(copy), copy)
        # The run's log is in that temporary folder too.
        logs = glob.glob(os.path.join(temp_unix, 'setup-*.log'))
        self.assertEqual(1, len(logs), os.listdir(temp_unix))
        with open(logs[0], 'rb') as f:
            log = f.read().decode('utf-8')
        self.assertIn('texts in UTF-8', log)
        self.assertIn('client.inf is in the legacy code page: read through a UTF-16 copy', log)

        # The next log-on starts it, in the same user's temporary folder.
        site.restore(2)
        resumed = start_with_temp(temp, target, *args.split())
        cvtest.wait_window(title=runs.RESUMING, timeout=30)
        _, rows = cvtest.listview(title=runs.RESUMING)
        self.assertEqual(names, [r[0] for r in rows])
        cvtest.click('&Install', title='Ready to Install', visible=True, timeout=60)
        self.assertEqual(0, resumed.wait(60))
        self.assertInstalled(site)
        self.assertClientHas(ftp_file, ftp_content)
        with open(report, 'rb') as f:
            self.assertEqual(b'1\n0\nFALSE\n', f.read())
        for n in range(site.parts):
            self.assertEqual(1, site.requests('file%03d.bin' % n, status=200), 'part %d' % n)
        # The copy that ran cannot delete itself; everything else is gone.
        self.assertEqual([os.path.basename(copy)], os.listdir(os.path.dirname(copy)))
        self.assertEqual([], cvtest.shortcut_files())
        self.assertFalse(os.path.exists(cvtest.state_file()))

    def test_utf8_setup_description_in_such_a_folder(self):
        directory = os.path.join(self.work, FOLDER)
        os.makedirs(directory)
        site = self.site(2 * runs.PART_SIZE + 5, seed=22)
        ftp, ftp_file, ftp_content = self.ftp_component('Файлы 文件', 4)
        shutil.copy(runs.CLIENT_SETUP, directory)
        text = ('[defs]\ncomponents=setup,data,ftp4\n' + runs.SETUP_SECTION +
                runs.http_section('data', site, display=2, install_order=10).replace(
                    'name=data data', 'name=Данные 数据 ü') + ftp)
        with open(os.path.join(directory, 'setup.inf'), 'wb') as f:
            f.write(b'\xef\xbb\xbf' + text.replace('\n', '\r\n').encode('utf-8'))
        program = cvtest.start('-inf', cvtest.to_win(os.path.join(directory, 'setup.inf')))
        intro = cvtest.wait_window(title='Corvane Lite Installer', text='&Continue', visible=True,
                                   timeout=30)
        # The shortcut names the setup description in its folder.
        _, args = self.shortcut()
        self.assertIn(FOLDER + '\\setup.inf"', args)
        cvtest.click('&Continue', hwnd=intro['hwnd'])
        cvtest.wait_window(title='Ready to Install', visible=True, timeout=60)
        _, rows = cvtest.listview(title=runs.DIALOG)
        self.assertEqual(['Client setup', 'Данные 数据 ü', 'Файлы 文件'], [r[0] for r in rows])
        cvtest.click('&Install', title='Ready to Install')
        self.assertEqual(0, program.wait(60))
        self.assertInstalled(site)
        self.assertClientHas(ftp_file, ftp_content)
        # The files were fetched into the setup description's folder, which
        # is the user's: it stays.
        self.assertTrue(os.path.exists(os.path.join(directory, site.name)))
        self.assertEqual([], cvtest.shortcut_files())


if __name__ == '__main__':
    unittest.main()
