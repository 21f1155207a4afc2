"""The typical run from a package: the package is written into a fresh
download folder of the program's own and its setup description read, the introduction is
answered, an "http" component is fetched from the web server part by part,
"Ready to Install" is answered, the client's setup reports success, and the
run cleans up after itself."""
import os
import unittest

import cvtest
import runs


class TypicalRun(runs.RunTestCase):
    def test_package_fetch_install_and_clean_up(self):
        site = self.site(5 * runs.PART_SIZE + 123, seed=1)
        inf = '[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        exe = runs.package(self.work, inf)
        program = cvtest.start(exe=exe)

        intro = cvtest.wait_window(title='Corvane Lite Installer', text='&Continue', visible=True,
                                   timeout=30)
        # The package is already written into the download folder, with the
        # program's copy beside it and the shortcut pointing at that copy.
        folder = runs.download_folder()
        self.assertIsNotNone(folder)
        for name in ['client.inf', 'cvclientsetup.exe', 'setup.exe']:
            self.assertTrue(os.path.exists(os.path.join(folder, name)), name)
        self.assertOwnFolder(folder)
        target, args = self.shortcut()
        # Wine reports a system with elevation: the user's own Startup folder.
        self.assertEqual([os.path.join(cvtest.startup_dirs()[0], cvtest.SHORTCUT_NAME)],
                         cvtest.shortcut_files())
        self.assertTrue(target.lower().endswith('\\setup.exe'), target)
        self.assertEqual(os.path.join(folder, 'setup.exe'), cvtest.unix_path(target))
        self.assertEqual(' /NoIntervention /SaveProxySettings', args)

        # The setup description comes first in the package; its component
        # whose files follow it is still seen as present.
        _, rows = cvtest.listview(title=runs.DIALOG)
        self.assertEqual(['Has been downloaded.', 'Need to download.'], [r[2] for r in rows])

        cvtest.click('&Continue', hwnd=intro['hwnd'])
        cvtest.wait_window(title='Ready to Install', visible=True, timeout=60)
        header, rows = cvtest.listview(title=runs.DIALOG)
        self.assertEqual(['Component', 'Size', 'Status'], header)
        self.assertEqual([['Client setup', '', 'Has been downloaded.'],
                          ['data data', '21KB', 'Has been downloaded.']], rows)
        self.assertEqual(1, site.requests('pkginfo.txt'))
        for n in range(site.parts):
            self.assertEqual(1, site.requests('file%03d.bin' % n))

        cvtest.click('&Install', title='Ready to Install')
        self.assertEqual(0, program.wait(60))
        self.assertInstalled(site)
        self.assertFalse(os.path.exists(folder))
        self.assertCleanedUp()


if __name__ == '__main__':
    unittest.main()
