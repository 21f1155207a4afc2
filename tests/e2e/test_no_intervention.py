"""Runs without the user: allowintervention=FALSE asks nothing, cuts Quit and
Suspend off and installs at once; a run whose components are all local shows
no window, writes no shortcut, copies no program and uses no network."""
import os
import unittest

import cvtest
import runs


class NoIntervention(runs.RunTestCase):
    def test_no_questions_and_no_way_out(self):
        site = self.site(4 * runs.PART_SIZE, seed=3)
        site.hold_back(2)
        inf = '[defs]\ncomponents=setup,data\nallowintervention=FALSE\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        program = cvtest.start(exe=runs.package(self.work, inf))
        runs.wait_requested(site, 'file002.bin')
        window, children = cvtest.texts(title=runs.DIALOG, visible=True)
        buttons = {c['id']: c for c in children if c['id'] in (1003, 1004)}
        self.assertFalse(buttons[1003]['enabled'])
        self.assertFalse(buttons[1004]['enabled'])
        # Neither the buttons' commands nor Escape end or question the run.
        for command in (1003, 1004, 2):
            cvtest.post('WM_COMMAND', command, 0, hwnd=window['hwnd'])
        site.restore(2)
        self.assertEqual(0, program.wait(60))
        self.assertEqual([], cvtest.windows(text='Are you sure'))
        self.assertInstalled(site)
        self.assertCleanedUp()

    def test_all_local_run_shows_nothing(self):
        local = os.path.join(self.work, 'local')
        os.makedirs(local)
        with open(os.path.join(local, 'copied.bin'), 'wb') as f:
            f.write(runs.data(3000, 4))
        flag = os.path.join(self.work, 'go')
        inf = ('[defs]\ncomponents=setup,copied\n'
               '[setup]\nname=Client setup\nfiles=cvclientsetup.exe\nInstallOrder=50\n'
               'install1=run,cvclientsetup.exe,-wait %s\n'
               '[copied]\nname=Copied\nProtocol=copy\nSourceDir=%s\nfiles=copied.bin\n'
               'install1=copy,copied.bin\n' % (cvtest.to_win(flag), cvtest.to_win(local)))
        before = runs.access_count('')
        program = cvtest.start(exe=runs.package(self.work, inf))
        cvtest.wait_until(lambda: os.path.exists(flag + '.waiting'), 30, 'the client setup running')
        self.assertEqual([], cvtest.windows(title=runs.DIALOG, visible=True))
        self.assertEqual([], cvtest.windows(title='Corvane Lite Installer', visible=True))
        self.assertEqual([], cvtest.shortcut_files())
        self.assertFalse(os.path.exists(os.path.join(runs.download_folder(), 'setup.exe')))
        open(flag, 'w').close()
        self.assertEqual(0, program.wait(30))
        with open(os.path.join(self.client, 'copied.bin'), 'rb') as f:
            self.assertEqual(runs.data(3000, 4), f.read())
        self.assertEqual(before, runs.access_count(''))
        # A finished local run removes its download folder.
        self.assertIsNone(cvtest.reg_query(runs.FOLDER_KEY, 'Path'))


if __name__ == '__main__':
    unittest.main()
