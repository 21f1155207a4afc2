"""A confirmed Quit in the middle of a slow fetch: the program ends, and the
download folder (and the part that was coming in), its registry record and
the resume shortcut are gone. Several runs, one of them declining the first
question, since a part still held open at the wrong moment would keep the
folder only now and then."""
import os
import unittest

import cvtest
import runs

PART = 64 * 1024  # two seconds a part on the slow line
CONFIRM = 'Are you sure you would like to quit downloading?'


class QuitDuringSlowFetch(runs.RunTestCase):
    def run_and_quit(self, exe, decline_first):
        program = cvtest.start(exe=exe)
        cvtest.click('&Continue', title='Corvane Lite Installer', text='&Continue', visible=True,
                     timeout=30)
        folder = runs.download_folder()
        self.assertIsNotNone(folder)
        # Part 0 is in (a part reaches the disk only whole and checked), so
        # part 1 is coming in over the slow line.
        part = os.path.join(folder, 'file000.bin')
        cvtest.wait_until(lambda: os.path.exists(part) and os.path.getsize(part) == PART, 60,
                          'part 1 under way')
        if decline_first:
            cvtest.click('&Quit', title=runs.DIALOG)
            cvtest.answer(CONFIRM, 'no')
        cvtest.click('&Quit', title=runs.DIALOG)
        cvtest.answer(CONFIRM, 'yes')
        program.wait(30)
        self.assertFalse(os.path.exists(folder), 'left behind: %s' % (
            os.listdir(folder) if os.path.isdir(folder) else folder))
        self.assertIsNone(cvtest.reg_query(runs.FOLDER_KEY, 'Path'))
        self.assertEqual([], cvtest.shortcut_files())

    def test_quit_in_the_middle_of_a_part_removes_the_download_folder(self):
        site = self.site(6 * PART, seed=18, part_size=PART, slow=True)
        inf = '[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        exe = runs.package(self.work, inf)
        for run in range(5):
            with self.subTest(run=run):
                self.run_and_quit(exe, decline_first=run % 2 == 1)


if __name__ == '__main__':
    unittest.main()
