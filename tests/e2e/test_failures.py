"""Runs that cannot fetch everything: a server that refuses, a part list
whose total sum is wrong, a component without a site. Each says why on the
status line, ends with message 585 (or 590 without network) and keeps the
download folder and its files. And "&Cancel" then "&Keep files", after
which a second start installs without fetching anything."""
import os
import unittest

import cvtest
import runs

INCOMPLETE = 'was unable to download all the needed software'


class Failures(runs.RunTestCase):
    def run_failing(self, inf, status, rows=None):
        program = cvtest.start(exe=runs.package(self.work, inf))
        cvtest.click('&Continue', title='Corvane Lite Installer', text='&Continue', visible=True,
                     timeout=30)
        cvtest.wait_window(cls='#32770', text=INCOMPLETE, timeout=60)
        self.assertEqual(status, runs.dialog_status())
        if rows is not None:
            self.assertEqual(rows, [r[2] for r in cvtest.listview(title=runs.DIALOG)[1]])
        caption, _ = cvtest.answer(INCOMPLETE, 'ok')
        self.assertEqual('Corvane Lite Installer', caption)
        self.assertEqual(3, program.wait(30))  # failed, files kept
        folder = runs.download_folder()
        self.assertTrue(folder and os.path.exists(os.path.join(folder, 'client.inf')), folder)
        self.assertEqual(1, len(cvtest.shortcut_files()))
        return folder

    def test_refusing_server(self):
        # An address of the loopback network on which nothing listens.
        refusing = runs.FTP_ADDR.rsplit('.', 1)[0] + '.29'
        inf = ('[defs]\ncomponents=setup,f\n' + runs.SETUP_SECTION +
               '[f]\nname=Refused\nProtocol=ftp\nsite=%s\nfiles=x.bin\nDisplayOrder=2\n' % refusing)
        self.run_failing(inf, "Error: Unable to connect to '%s'." % refusing,
                         ['Has been downloaded.', 'Download error'])

    def test_wrong_total_sum_keeps_the_parts(self):
        site = self.site(3 * runs.PART_SIZE, seed=5)
        site.set_total_sum(12345)
        inf = '[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        folder = self.run_failing(inf, "Error in receiving file 'client.bin' from '127.0.0.1:%d'."
                                  % runs.HTTP_PORT)
        self.assertFalse(os.path.exists(os.path.join(folder, 'client.bin')))
        for n in range(site.parts):
            self.assertTrue(os.path.exists(os.path.join(folder, 'file%03d.bin' % n)))

    def test_missing_site(self):
        site = self.site(runs.PART_SIZE, seed=6)
        section = runs.http_section('data', site, display=3, install_order=10)
        section = '\n'.join(l for l in section.splitlines() if not l.startswith('site='))
        good = self.site(runs.PART_SIZE, seed=7, name='good.bin')
        inf = '[defs]\ncomponents=setup,data,good\n' + runs.SETUP_SECTION + section + '\n' + \
            runs.http_section('good', good, display=2, install_order=10)
        self.run_failing(inf, "Downloading file 'good.bin' (4K of 4K)...",
                         ['Has been downloaded.', 'Has been downloaded.', 'Download error'])

    def test_failed_extraction_says_so_and_keeps_the_files(self):
        # A record whose name cannot fit a path in the download folder.
        filler = os.path.join(self.work, 'filler.bin')
        with open(filler, 'wb') as f:
            f.write(b'x')
        exe = runs.package(self.work, '[defs]\ncomponents=setup\n' + runs.SETUP_SECTION,
                           extra_files={'n' * 250: filler})
        program = cvtest.start(exe=exe)
        text = 'Error while extracting temporary files'
        box = cvtest.wait_window(cls='#32770', text=text, timeout=60)
        # The download dialog is hidden at that point: the box has no owner.
        self.assertEqual('0x0', box['owner'])
        caption, _ = cvtest.answer(text, 'ok')
        self.assertEqual('Corvane', caption)
        self.assertEqual(3, program.wait(30))
        folder = runs.download_folder()
        self.assertTrue(folder and os.path.exists(os.path.join(folder, 'client.inf')), folder)
        self.assertEqual([], cvtest.shortcut_files())

    def test_cancel_keep_files_then_install_without_fetching(self):
        site = self.site(2 * runs.PART_SIZE, seed=8)
        inf = '[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        exe = runs.package(self.work, inf)
        program = cvtest.start(exe=exe)
        cvtest.click('&Continue', title='Corvane Lite Installer', text='&Continue', visible=True,
                     timeout=30)
        cvtest.click('&Cancel', title='Ready to Install', visible=True, timeout=60)
        cvtest.click('&Keep files', title='Cancel Installation', visible=True, timeout=30)
        self.assertEqual(3, program.wait(30))
        self.assertEqual('1', runs.state_values().get('download.complete'))
        folder = runs.download_folder()
        self.assertTrue(os.path.exists(os.path.join(folder, 'client.bin')))
        fetched = site.requests('')

        again = cvtest.start(exe=exe)
        cvtest.click('&Install', title='Ready to Install', visible=True, timeout=60)
        self.assertEqual(0, again.wait(60))
        self.assertEqual(fetched, site.requests(''))
        self.assertInstalled(site)
        self.assertCleanedUp()


if __name__ == '__main__':
    unittest.main()
