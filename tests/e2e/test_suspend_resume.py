"""Suspending and resuming: the user suspends during an HTTP fetch, the
program waits in the tray, a second start hands over to it, and the parts
already on disk are not fetched again. Also the program killed in the
middle of a fetch and started again through its resume shortcut."""
import os
import unittest

import cvtest
import runs


class SuspendResume(runs.RunTestCase):
    def start_stuck_fetch(self, held_part):
        """A packaged run whose fetch waits on a held-back part."""
        site = self.site(6 * runs.PART_SIZE, seed=2)
        site.hold_back(held_part)
        inf = '[defs]\ncomponents=setup,data\nSaveProxySettings=FALSE\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        exe = runs.package(self.work, inf)
        program = cvtest.start(exe=exe)
        cvtest.click('&Continue', title='Corvane Lite Installer', text='&Continue', visible=True,
                     timeout=30)
        runs.wait_requested(site, 'file%03d.bin' % held_part)
        # The parts in flight beside it came in: all but the held-back one.
        runs.wait_status('(20K of 24K)')
        return site, exe, program

    def assertFetchedOnce(self, site):
        """Each part arrived once; every part but the held-back one was
        asked for only once (the held-back one was asked for until it came)."""
        for n in range(site.parts):
            self.assertEqual(1, site.requests('file%03d.bin' % n, status=200), 'part %d' % n)
            if n not in site.held_parts:
                self.assertEqual(1, site.requests('file%03d.bin' % n), 'part %d' % n)

    def test_suspend_tray_and_resume_by_a_second_start(self):
        site, exe, program = self.start_stuck_fetch(held_part=3)
        cvtest.click('&Suspend', title=runs.DIALOG)
        cvtest.answer('Downloading has been suspended', 'ok')
        cvtest.wait_window(title=cvtest.TRAY_CLASS, cls=cvtest.TRAY_CLASS)
        self.assertTrue(program.running())
        target, args = self.shortcut()
        self.assertEqual(' /tray', args)

        site.restore(3)
        second = cvtest.start(exe=exe)
        self.assertEqual(1, second.wait(30))  # handed over to the first
        cvtest.wait_window(title=runs.RESUMING, timeout=30)
        cvtest.click('&Install', title='Ready to Install', visible=True, timeout=60)
        self.assertEqual(0, program.wait(60))
        self.assertFetchedOnce(site)
        self.assertEqual(2, site.requests('pkginfo.txt'))
        self.assertInstalled(site)
        self.assertCleanedUp()

    def test_killed_mid_fetch_resumes_through_the_shortcut(self):
        site, exe, program = self.start_stuck_fetch(held_part=4)
        program.kill()
        target, args = self.shortcut()
        self.assertEqual(' /NoIntervention', args)
        copy = cvtest.unix_path(target)
        self.assertTrue(os.path.exists(copy), copy)

        site.restore(4)
        resumed = cvtest.start(*args.split(), exe=copy)
        # A resumed run shows no introduction; it asks before installing.
        cvtest.wait_window(title=runs.RESUMING, timeout=30)
        cvtest.click('&Install', title='Ready to Install', visible=True, timeout=60)
        self.assertEqual(0, resumed.wait(60))
        self.assertFetchedOnce(site)
        self.assertInstalled(site)
        # The copy that ran cannot delete itself: the folder keeps only it,
        # and its record stays, marked, for the next start to remove.
        folder = os.path.dirname(copy)
        self.assertEqual([os.path.basename(copy)], os.listdir(folder))
        self.assertEqual('0x1', cvtest.reg_query(runs.FOLDER_KEY, 'RemovePending'))
        self.assertEqual([], cvtest.shortcut_files())
        self.assertFalse(os.path.exists(cvtest.state_file()))
        again = cvtest.start(exe=exe)
        intro = cvtest.wait_window(title='Corvane Lite Installer', text='&Exit', visible=True,
                                   timeout=30)
        self.assertFalse(os.path.exists(folder))
        cvtest.click('&Exit', hwnd=intro['hwnd'])
        again.wait(30)
        self.assertCleanedUp()


if __name__ == '__main__':
    unittest.main()
