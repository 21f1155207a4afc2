"""The elevated copy's side of the install hand-over, with the real
program: started with "/InstallKept" and the download folder while the run
that starts it is still ending, it waits for that run to let go of the
instance, then installs the kept files without fetching or asking again.
(Wine runs every program elevated, so the run that hands over is tested
in the Windows tier with the elevation query behind a seam.)"""
import os
import unittest

import cvtest
import runs


class ElevatedCopy(runs.RunTestCase):
    def test_copy_waits_for_the_handing_run_then_installs_the_kept_files(self):
        site = self.site(3 * runs.PART_SIZE + 17, seed=16)
        inf = '[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        exe = runs.package(self.work, inf)
        first = cvtest.start(exe=exe)
        intro = cvtest.wait_window(title='Corvane Lite Installer', text='&Continue', visible=True,
                                   timeout=30)
        cvtest.click('&Continue', hwnd=intro['hwnd'])
        cvtest.wait_window(title='Ready to Install', visible=True, timeout=60)
        folder = runs.download_folder()
        requests = site.requests('file000.bin')

        # The copy starts while the first run still holds the instance.
        copy = cvtest.start('/InstallKept', cvtest.reg_query(runs.FOLDER_KEY, 'Path'),
                            exe=os.path.join(folder, 'setup.exe'))
        cvtest.click('&Cancel', title='Ready to Install')
        cvtest.click('&Keep files', title='Cancel Installation', timeout=30)
        self.assertEqual(3, first.wait(30))  # files kept

        self.assertEqual(0, copy.wait(60))
        self.assertInstalled(site)
        self.assertEqual(requests, site.requests('file000.bin'))  # nothing fetched again
        # The copy ran from the folder: its own image cannot be deleted while
        # it runs. Everything else is gone, the shortcut and the state file
        # too, and the folder's record stays, marked, so that the next start
        # removes what is left instead of orphaning it.
        self.assertEqual(['setup.exe'], [n.lower() for n in os.listdir(folder)])
        self.assertEqual('0x1', cvtest.reg_query(runs.FOLDER_KEY, 'RemovePending'))
        self.assertEqual([], cvtest.shortcut_files())
        self.assertFalse(os.path.exists(cvtest.state_file()))


if __name__ == '__main__':
    unittest.main()
