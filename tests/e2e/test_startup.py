"""Start-up of the real program: one instance at a time with the hand-over
to the running one, "-run2", the resume prompt of "/AskForRestart",
switches found inside longer words, and the removal of a folder left for
the next start, which touches only a download folder of the program."""
import os
import unittest

import cvtest
from cvtest import TRAY_CLASS

FOLDER_KEY = r'HKEY_CURRENT_USER\Software\Corvane\CvGet'
NO_COMPONENTS = '[defs]\ncomponents=\n'


def wait_tray(count=1, timeout=30):
    """Waits until `count` tray windows exist; returns them."""
    cvtest.wait_window(title=TRAY_CLASS, cls=TRAY_CLASS, timeout=timeout)
    found = []

    def enough():
        found[:] = cvtest.windows(title=TRAY_CLASS, cls=TRAY_CLASS)
        return len(found) >= count
    cvtest.wait_until(enough, timeout, '%d tray windows' % count)
    return found


def recorded_folder(name):
    """A download folder with a file in it, recorded in the registry as a
    suspended download would have left it."""
    folder = os.path.join(cvtest.temp_dir(), name)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'part.bin'), 'wb') as f:
        f.write(b'x' * 100)
    cvtest.reg_add(FOLDER_KEY, 'Path', cvtest.win_path('temp') + '\\' + name)
    return folder


def place_shortcut():
    """A resume shortcut as a suspension leaves it (contents do not matter
    for its removal): in the user's own Startup folder, as on every system
    with elevation (Wine reports one)."""
    d = cvtest.unix_path(cvtest.win_path('csidl:%d' % cvtest.CSIDL_STARTUP))
    os.makedirs(d, exist_ok=True)
    path = os.path.join(d, cvtest.SHORTCUT_NAME)
    open(path, 'wb').close()
    return path


class SingleInstance(unittest.TestCase):
    def setUp(self):
        cvtest.reset()
        self.work = cvtest.scratch_dir(self.id().split('.')[-1])
        self.setup = cvtest.write_setup(self.work, NO_COMPONENTS)

    def tearDown(self):
        cvtest.kill_started()

    def test_second_start_brings_the_first_back_and_ends_with_1(self):
        first = cvtest.start('/tray', '-inf', self.setup)
        wait_tray()
        self.assertTrue(first.running())
        second = cvtest.start()
        self.assertEqual(1, second.wait(30))
        # The first left the tray for a session, which ends on its own with
        # no components to fetch.
        self.assertEqual(0, first.wait(60))
        self.assertIsNone(cvtest.find_window(cls='#32770', text='multiple instances'))

    def test_second_start_without_a_tray_window_is_refused(self):
        first = cvtest.start('/AskForRestart', '-inf', self.setup)
        cvtest.wait_window(cls='#32770', text='ready to resume downloading', timeout=30)
        second = cvtest.start()
        caption, lines = cvtest.answer('multiple instances', 'ok')
        self.assertEqual('Corvane Lite Installer', caption)
        self.assertIn('You may not run multiple instances of this application.', lines)
        self.assertEqual(1, second.wait(30))
        cvtest.answer('ready to resume downloading', 'cancel')
        self.assertEqual(4, first.wait(30))  # the user quit

    def test_run2_runs_a_second_copy_that_keeps_the_download_folder(self):
        folder = recorded_folder('instE2E1.tmp')
        first = cvtest.start('/tray')
        first_tray = wait_tray(1)[0]['hwnd']
        second = cvtest.start('-run2', '/tray')
        trays = wait_tray(2)
        self.assertEqual(2, len({t['pid'] for t in trays}))
        second_tray = [t['hwnd'] for t in trays if t['hwnd'] != first_tray][0]
        # Quitting the second copy never deletes the download folder.
        cvtest.post('WM_COMMAND', 40002, 0, hwnd=second_tray)
        self.assertEqual(4, second.wait(30))
        self.assertTrue(first.running())
        self.assertTrue(os.path.isdir(folder))
        self.assertIsNotNone(cvtest.reg_query(FOLDER_KEY, 'Path'))
        # The first one does.
        cvtest.post('WM_COMMAND', 40002, 0, hwnd=first_tray)
        self.assertEqual(4, first.wait(30))
        self.assertFalse(os.path.exists(folder))
        self.assertIsNone(cvtest.reg_query(FOLDER_KEY, 'Path'))


    def test_run2_copy_leaves_no_folder_behind_when_none_was_recorded(self):
        first = cvtest.start('/tray')
        first_tray = wait_tray(1)[0]['hwnd']
        second = cvtest.start('-run2', '/tray')
        second_tray = [t['hwnd'] for t in wait_tray(2) if t['hwnd'] != first_tray][0]
        cvtest.post('WM_COMMAND', 40002, 0, hwnd=second_tray)
        self.assertEqual(4, second.wait(30))
        self.assertFalse(cvtest.reg_key_exists(FOLDER_KEY))
        self.assertEqual([], [n for n in os.listdir(cvtest.temp_dir())
                              if n.lower().startswith('inst') and n.lower().endswith('.tmp')])
        cvtest.post('WM_COMMAND', 40002, 0, hwnd=first_tray)
        self.assertEqual(4, first.wait(30))


class ResumePrompt(unittest.TestCase):
    def setUp(self):
        cvtest.reset()

    def tearDown(self):
        cvtest.kill_started()

    def test_no_waits_in_the_tray(self):
        p = cvtest.start('/tray', '/AskForRestart')
        caption, lines = cvtest.answer('ready to resume downloading', 'no', timeout=30)
        self.assertEqual('Corvane Lite Installer', caption)
        self.assertIn('Corvane Lite Installer is now ready to resume downloading.\nClick Yes to '
                      'resume downloading now, No to postpone downloading, or Cancel to '
                      'terminate the downloading process.', lines)
        wait_tray()
        self.assertTrue(p.running())
        cvtest.quit_tray()
        self.assertEqual(4, p.wait(30))

    def test_cancel_removes_shortcut_and_download_folder(self):
        folder = recorded_folder('instE2E2.tmp')
        shortcut = place_shortcut()
        p = cvtest.start('/tray', '/AskForRestart')
        cvtest.answer('ready to resume downloading', 'cancel', timeout=30)
        self.assertEqual(4, p.wait(30))
        self.assertFalse(os.path.exists(shortcut))
        self.assertFalse(os.path.exists(folder))
        self.assertIsNone(cvtest.reg_query(FOLDER_KEY, 'Path'))

    def test_cancel_with_a_setup_file_keeps_its_folder(self):
        work = cvtest.scratch_dir('prompt-inf')
        setup = cvtest.write_setup(work, NO_COMPONENTS)
        shortcut = place_shortcut()
        p = cvtest.start('/tray', '/AskForRestart', '-inf', setup)
        cvtest.answer('ready to resume downloading', 'cancel', timeout=30)
        self.assertEqual(4, p.wait(30))
        self.assertFalse(os.path.exists(shortcut))
        self.assertTrue(os.path.exists(os.path.join(work, 'setup.inf')))
        # Nothing was made in the temporary directory for it either.
        self.assertFalse(cvtest.reg_key_exists(FOLDER_KEY))

    def test_yes_runs_the_session(self):
        work = cvtest.scratch_dir('prompt-yes')
        setup = cvtest.write_setup(work, NO_COMPONENTS)
        p = cvtest.start('/tray', '/AskForRestart', '-inf', setup)
        cvtest.answer('ready to resume downloading', 'yes', timeout=30)
        self.assertEqual(0, p.wait(60))
        self.assertEqual([], cvtest.windows(title=TRAY_CLASS, cls=TRAY_CLASS))


class TrayStarts(unittest.TestCase):
    def setUp(self):
        cvtest.reset()

    def tearDown(self):
        cvtest.kill_started()

    def test_traylater_waits_in_the_tray_and_quit_cleans_up(self):
        folder = recorded_folder('instE2E3.tmp')
        shortcut = place_shortcut()
        p = cvtest.start('-traylater')
        wait_tray()
        self.assertTrue(os.path.isdir(folder))
        cvtest.quit_tray()
        self.assertEqual(4, p.wait(30))
        self.assertFalse(os.path.exists(shortcut))
        self.assertFalse(os.path.exists(folder))
        self.assertFalse(cvtest.reg_key_exists(FOLDER_KEY))

    def test_double_click_on_the_icon_resumes(self):
        work = cvtest.scratch_dir('double-click')
        setup = cvtest.write_setup(work, NO_COMPONENTS)
        p = cvtest.start('/tray', '-inf', setup)
        tray = wait_tray()[0]
        # What the shell sends for a double-click on the icon.
        cvtest.post(0x411, 1, 'WM_LBUTTONDBLCLK', hwnd=tray['hwnd'])
        self.assertEqual(0, p.wait(60))

    def test_closing_the_tray_window_is_a_quit(self):
        p = cvtest.start('/tray')
        wait_tray()
        cvtest.post('WM_CLOSE', title=TRAY_CLASS, cls=TRAY_CLASS)
        self.assertEqual(4, p.wait(30))


class LeftoverRemoval(unittest.TestCase):
    """A record marked "RemovePending" makes a start remove the folder it
    names; the record is a registry value any program of the user can
    write."""

    def setUp(self):
        cvtest.reset()
        self.work = cvtest.scratch_dir(self.id().split('.')[-1])

    def tearDown(self):
        cvtest.kill_started()
        cvtest.reset()

    def mark(self, winpath):
        cvtest.reg_add(FOLDER_KEY, 'Path', winpath)
        cvtest.reg_add(FOLDER_KEY, 'RemovePending', 1, 'REG_DWORD')

    def start_and_quit(self):
        p = cvtest.start('/tray')
        wait_tray()
        cvtest.quit_tray()
        self.assertEqual(4, p.wait(30))

    def test_a_record_naming_another_folder_removes_nothing(self):
        other = os.path.join(self.work, 'documents')
        os.makedirs(os.path.join(other, 'inner'))
        with open(os.path.join(other, 'inner', 'letter.txt'), 'wb') as f:
            f.write(b'mine')
        # Neither the folder itself, nor a folder of the program's name
        # inside it, nor the temporary folder.
        nested = os.path.join(other, 'instE2E5.tmp')
        os.makedirs(nested)
        for named in [cvtest.to_win(other), cvtest.to_win(nested), cvtest.win_path('temp')]:
            self.mark(named)
            self.start_and_quit()
            self.assertTrue(os.path.exists(os.path.join(other, 'inner', 'letter.txt')), named)
            self.assertTrue(os.path.isdir(nested), named)
            self.assertTrue(os.path.isdir(cvtest.temp_dir()))

    def test_a_link_inside_a_download_folder_is_not_followed(self):
        outside = os.path.join(self.work, 'outside')
        os.makedirs(outside)
        with open(os.path.join(outside, 'letter.txt'), 'wb') as f:
            f.write(b'mine')
        folder = recorded_folder('instE2E4.tmp')
        os.makedirs(os.path.join(folder, 'sub'))
        # A folder link (Wine shows a Unix link to a folder as a reparse
        # point; it shows a link to a file as a plain file, and deletes the
        # file it points to when asked to delete the link, so that case
        # cannot be played here).
        os.symlink(outside, os.path.join(folder, 'sub', 'link'))
        self.mark(cvtest.win_path('temp') + '\\instE2E4.tmp')
        self.start_and_quit()
        self.assertFalse(os.path.exists(os.path.join(folder, 'part.bin')))
        self.assertEqual(['letter.txt'], os.listdir(outside))
        with open(os.path.join(outside, 'letter.txt'), 'rb') as f:
            self.assertEqual(b'mine', f.read())

if __name__ == '__main__':
    unittest.main(verbosity=2)
