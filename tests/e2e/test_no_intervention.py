"""Runs without the user: allowintervention=FALSE asks nothing, cuts Quit and
Suspend off and installs at once; a run whose components are all local shows
no window, writes no shortcut, copies no program and uses no network. A run
nobody attends (allowintervention=FALSE or "/quiet") never waits for a
click: the messages it would show go to its log, and it ends by itself with
its exit code, also when it fails or another instance runs."""
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


INCOMPLETE = 'was unable to download all the needed software'
NOT_SHOWN = 'message (not shown: nobody attends this run; taken as '


def read_log(path):
    with open(path, 'rb') as f:
        return f.read().decode('latin-1')


class NobodyThere(runs.RunTestCase):
    """Nothing here answers a window: each run must end by itself."""

    def log(self):
        return os.path.join(self.work, 'run.log')

    def assertNoMessageBox(self):
        self.assertEqual([], cvtest.windows(cls='#32770', visible=True))

    def test_a_failing_unattended_run_ends_with_3_and_logs_the_message(self):
        refusing = runs.FTP_ADDR.rsplit('.', 1)[0] + '.29'
        inf = ('[defs]\ncomponents=setup,f\nallowintervention=FALSE\n' + runs.SETUP_SECTION +
               '[f]\nname=Refused\nProtocol=ftp\nsite=%s\nfiles=x.bin\nDisplayOrder=2\n' % refusing)
        program = cvtest.start('-log', cvtest.to_win(self.log()), exe=runs.package(self.work, inf))
        self.assertEqual(3, program.wait(60))
        text = read_log(self.log())
        self.assertIn('unattended run (allowintervention=FALSE)', text)
        self.assertIn(NOT_SHOWN + 'OK): Corvane Lite Installer ' + INCOMPLETE, text)
        self.assertIn('end: exit code 3', text)
        self.assertTrue(os.path.exists(os.path.join(runs.download_folder(), 'client.inf')))

    def test_quiet_makes_an_interactive_setup_run_by_itself(self):
        site = self.site(3 * runs.PART_SIZE, seed=31)
        site.hold_back(1)
        inf = '[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        program = cvtest.start('/quiet', '-log', cvtest.to_win(self.log()), exe=runs.package(self.work, inf))
        runs.wait_requested(site, 'file001.bin')
        # No introduction; Quit and Suspend are cut off as for
        # allowintervention=FALSE, and a restart resumes quietly too.
        window, children = cvtest.texts(title=runs.DIALOG, visible=True)
        self.assertFalse([c for c in children if c['id'] == 1003][0]['enabled'])
        _, arguments = self.shortcut()
        self.assertEqual(' /NoIntervention /SaveProxySettings /quiet', arguments)
        site.restore(1)
        self.assertEqual(0, program.wait(60))
        self.assertInstalled(site)
        self.assertCleanedUp()
        text = read_log(self.log())
        self.assertIn('unattended run ("/quiet")', text)
        self.assertIn('ready to install: asked nothing', text)

    def test_another_instance_is_logged_not_shown(self):
        setup = cvtest.write_setup(self.work, '[defs]\ncomponents=\n')
        # The first waits at the resume prompt: no tray window to hand to.
        first = cvtest.start('/AskForRestart', '-inf', setup)
        cvtest.wait_window(cls='#32770', text='ready to resume downloading', timeout=30)
        quiet_log = os.path.join(self.work, 'quiet.log')
        second = cvtest.start('/quiet', '-log', cvtest.to_win(quiet_log))
        self.assertEqual(1, second.wait(30))
        # A package that says allowintervention=FALSE needs no switch.
        packaged_log = os.path.join(self.work, 'packaged.log')
        third = cvtest.start('-log', cvtest.to_win(packaged_log),
                             exe=runs.package(self.work, '[defs]\ncomponents=\nallowintervention=FALSE\n'))
        self.assertEqual(1, third.wait(30))
        self.assertIsNone(cvtest.find_window(cls='#32770', text='multiple instances'))
        for log in (quiet_log, packaged_log):
            self.assertIn(NOT_SHOWN + 'OK): You may not run multiple instances of this application.',
                          read_log(log))
        cvtest.answer('ready to resume downloading', 'cancel')
        self.assertEqual(4, first.wait(30))

    def test_the_resume_prompt_takes_its_default_answer(self):
        setup = cvtest.write_setup(self.work, '[defs]\ncomponents=\n')
        program = cvtest.start('/tray', '/AskForRestart', '/quiet', '-log', cvtest.to_win(self.log()),
                               '-inf', setup)
        self.assertEqual(0, program.wait(60))
        self.assertIn(NOT_SHOWN + 'Yes): Corvane Lite Installer is now ready to resume downloading. ',
                      read_log(self.log()))
        self.assertNoMessageBox()


if __name__ == '__main__':
    unittest.main()
