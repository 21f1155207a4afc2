"""Windows ending the user's session during a fetch: the run is suspended
without a message, the resume shortcut asks for a restart, and quitting the
tray afterwards removes the shortcut and the download folder."""
import os
import unittest

import cvtest
import runs

WM_QUERYENDSESSION = 0x0011


class EndSession(runs.RunTestCase):
    def test_end_of_session_suspends_quietly(self):
        site = self.site(3 * runs.PART_SIZE, seed=9)
        site.hold_back(1)
        inf = '[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        program = cvtest.start(exe=runs.package(self.work, inf))
        cvtest.click('&Continue', title='Corvane Lite Installer', text='&Continue', visible=True,
                     timeout=30)
        runs.wait_requested(site, 'file001.bin')
        folder = runs.download_folder()
        self.assertEqual(1, cvtest.send(WM_QUERYENDSESSION, 0, 0, title=runs.DIALOG))
        # The tray window appears only after the session has ended, so no
        # "suspended" message box stood in the way.
        cvtest.wait_window(title=cvtest.TRAY_CLASS, cls=cvtest.TRAY_CLASS, timeout=30)
        self.assertEqual([], cvtest.windows(text='Downloading has been suspended'))
        target, args = self.shortcut()
        self.assertEqual(' /tray /AskForRestart /SaveProxySettings', args)
        self.assertTrue(program.running())

        cvtest.quit_tray()
        self.assertEqual(4, program.wait(30))
        self.assertEqual([], cvtest.shortcut_files())
        self.assertFalse(os.path.exists(folder))
        self.assertIsNone(cvtest.reg_query(runs.FOLDER_KEY, 'Path'))


if __name__ == '__main__':
    unittest.main()
