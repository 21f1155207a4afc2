"""Runs of a setup description named with "-inf ": a relative path is
taken from the current directory, quotes around it (the user's or a
launcher's) are removed, a path that looks like it holds switches sets
none, and a suspended run resumes from its shortcut with the same setup
description."""
import os
import unittest

import cvtest
import runs


class InfRuns(runs.RunTestCase):
    def local_setup(self, directory):
        """A setup description with one local component in `directory`."""
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, 'readme.txt'), 'wb') as f:
            f.write(b'read me\r\n')
        cvtest.write_setup(directory, '[defs]\ncomponents=docs\n'
                           '[docs]\nname=Documents\nfiles=readme.txt\ninstall1=copy,readme.txt\n')

    def assertReadmeInstalled(self):
        path = os.path.join(self.client, 'readme.txt')
        self.assertTrue(os.path.exists(path), path)
        os.unlink(path)

    def test_relative_quoted_paths_from_the_current_directory(self):
        # The folder's name holds a blank and what looks like "-tray".
        self.local_setup(os.path.join(self.work, 'my-tray dir'))
        # The user's quotes: -inf "my-tray dir\setup.inf".
        program = cvtest.start('-inf', 'my-tray dir\\setup.inf', cwd=self.work)
        program.wait(60)
        self.assertReadmeInstalled()
        # A launcher's quotes around the whole argument: "-inf my-tray dir\setup.inf".
        program = cvtest.start('-inf my-tray dir\\setup.inf', cwd=self.work)
        program.wait(60)
        self.assertReadmeInstalled()
        # The setup description's folder is the user's: it stays.
        self.assertTrue(os.path.exists(os.path.join(self.work, 'my-tray dir', 'setup.inf')))
        self.assertEqual([], cvtest.windows(title=cvtest.TRAY_CLASS, cls=cvtest.TRAY_CLASS))

    def test_suspended_run_resumes_from_its_shortcut(self):
        site = self.site(3 * runs.PART_SIZE, seed=11)
        site.hold_back(1)
        directory = os.path.join(self.work, 'inf dir')
        os.makedirs(directory)
        cvtest.write_setup(directory, '[defs]\ncomponents=data\n' +
                                   runs.http_section('data', site, display=1, install_order=10))
        program = cvtest.start('-inf', 'inf dir\\setup.inf', cwd=self.work)
        cvtest.click('&Continue', title='Corvane Lite Installer', text='&Continue', visible=True,
                     timeout=30)
        runs.wait_requested(site, 'file001.bin')
        cvtest.click('&Suspend', title=runs.DIALOG)
        cvtest.answer('Downloading has been suspended', 'ok')
        cvtest.wait_window(title=cvtest.TRAY_CLASS, cls=cvtest.TRAY_CLASS)

        target, args = self.shortcut()
        # The whole path, made absolute against the current directory, last.
        switches, _, path = args.partition(' -inf ')
        self.assertEqual(' /tray /SaveProxySettings', switches)
        self.assertTrue(path.startswith('"') and path.endswith('"'), args)
        self.assertEqual(os.path.realpath(os.path.join(directory, 'setup.inf')),
                         os.path.realpath(cvtest.unix_path(path.strip('"'))))
        self.assertEqual(os.path.realpath(os.path.join(directory, os.path.basename(cvtest.CVGET))),
                         os.path.realpath(cvtest.unix_path(target)))

        # The next log-on starts the shortcut.
        program.kill()
        site.restore(1)
        resumed = cvtest.start(*switches.split(), '-inf', path.strip('"'),
                               exe=cvtest.unix_path(target))
        cvtest.wait_window(title=cvtest.TRAY_CLASS, cls=cvtest.TRAY_CLASS, timeout=30)
        cvtest.open_tray()
        cvtest.wait_window(title=runs.RESUMING, timeout=30)
        _, rows = cvtest.listview(title=runs.RESUMING)
        self.assertEqual(['data data'], [r[0] for r in rows])
        cvtest.click('&Install', title='Ready to Install', visible=True, timeout=60)
        resumed.wait(60)
        self.assertInstalled(site)
        self.assertTrue(os.path.exists(os.path.join(directory, 'setup.inf')))


if __name__ == '__main__':
    unittest.main()
