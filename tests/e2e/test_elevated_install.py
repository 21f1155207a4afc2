"""The elevated copy's side of the install hand-over, with the real
program: started with "/InstallKept" and the download folder while the run
that starts it is still ending, it waits for that run to let go of the
instance, then installs the kept files without fetching or asking again.
It trusts nothing the user's unelevated processes can still change: the
list of kept files must match the SHA-256 on its command line, each file
must match the list, and it installs from its own checked copy; links and
files with more than one name are refused; it removes no folder a registry
record marks. (Wine runs every program elevated, so the run that hands over
is tested in the Windows tier with the elevation query behind a seam; here
the scenarios write the list as that run does.)"""
import hashlib
import os
import shutil
import unittest

import cvtest
import runs

CHANGED = 'were changed after they had been checked'


def kept_list(folder, names):
    """Writes the list of kept files as the handing run does; returns its
    SHA-256 in hexadecimal."""
    text = b''
    for name in names:
        with open(os.path.join(folder, *name.split('\\')), 'rb') as f:
            data = f.read()
        text += ('%s %d %s\n' % (hashlib.sha256(data).hexdigest(), len(data), name)).encode('latin-1')
    with open(os.path.join(folder, 'cvkept.lst'), 'wb') as f:
        f.write(text)
    return hashlib.sha256(text).hexdigest()


def download_folders():
    return sorted(n for n in os.listdir(cvtest.temp_dir())
                  if n.lower().startswith('inst') and n.lower().endswith('.tmp'))


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
        listed = kept_list(folder, ['client.inf', 'cvclientsetup.exe', site.name])
        copy = cvtest.start('/KeptSum:' + listed, '/InstallKept',
                            cvtest.reg_query(runs.FOLDER_KEY, 'Path'),
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
        # removes what is left instead of orphaning it. Its own checked copy
        # of the files is gone as well.
        self.assertEqual(['setup.exe'], [n.lower() for n in os.listdir(folder)])
        self.assertEqual('0x1', cvtest.reg_query(runs.FOLDER_KEY, 'RemovePending'))
        self.assertEqual([], cvtest.shortcut_files())
        self.assertFalse(os.path.exists(cvtest.state_file()))
        self.assertEqual([os.path.basename(folder)], download_folders())


class KeptFilesChecked(runs.RunTestCase):
    """A "-inf" run's files kept beside its setup description, handed to the
    elevated copy as the run that hands over would."""

    INF = ('[defs]\ncomponents=core\n'
           '[core]\nname=Core\nfiles=cvclientsetup.exe,sub\\data.bin\ncount=2\n'
           'install1=copy,sub\\data.bin\ninstall2=run,cvclientsetup.exe,-success\n')
    NAMES = ['setup.inf', 'cvclientsetup.exe', 'sub\\data.bin']

    def setUp(self):
        super().setUp()
        self.kept = os.path.join(self.work, 'kept')
        os.makedirs(os.path.join(self.kept, 'sub'))
        self.setup = cvtest.write_setup(self.kept, self.INF)
        shutil.copy(runs.CLIENT_SETUP, os.path.join(self.kept, 'cvclientsetup.exe'))
        self.data = os.path.join(self.kept, 'sub', 'data.bin')
        with open(self.data, 'wb') as f:
            f.write(runs.data(5000, seed=23))

    def run_copy(self, listed):
        return cvtest.start('/KeptSum:' + listed, '/InstallKept', '-inf', self.setup)

    def assertRefused(self, program):
        caption, texts = cvtest.answer(CHANGED, 'ok', timeout=30)
        self.assertEqual('Corvane Lite Installer', caption)
        self.assertTrue(any(cvtest.to_win(self.kept) in t for t in texts), texts)
        self.assertEqual(3, program.wait(30))
        # Nothing of it ran, nothing was copied, and the copy's own folder
        # is gone again.
        self.assertFalse(os.path.exists(os.path.join(self.client, 'sub', 'data.bin')))
        self.assertNotEqual('1', (runs.state_values() or {}).get('result.success'))
        self.assertEqual([], download_folders())
        # The kept files stay as they are.
        self.assertTrue(os.path.exists(self.data))

    def test_matching_files_install_from_the_copys_own_folder(self):
        self.assertEqual(0, self.run_copy(kept_list(self.kept, self.NAMES)).wait(60))
        with open(os.path.join(self.client, 'sub', 'data.bin'), 'rb') as f:
            self.assertEqual(runs.data(5000, seed=23), f.read())
        self.assertEqual('1', runs.state_values().get('result.success'))
        self.assertEqual([], download_folders())
        self.assertTrue(os.path.exists(self.data))  # the setup file's folder stays

    def test_a_file_changed_after_the_list_is_refused_and_nothing_runs(self):
        listed = kept_list(self.kept, self.NAMES)
        # The program that would run, one byte longer: it would still run.
        with open(os.path.join(self.kept, 'cvclientsetup.exe'), 'ab') as f:
            f.write(b'\0')
        self.assertRefused(self.run_copy(listed))

        # A list changed after its sum was taken.
        listed = kept_list(self.kept, self.NAMES)
        with open(os.path.join(self.kept, 'cvkept.lst'), 'ab') as f:
            f.write(b'0' * 64 + b' 1 extra.bin\n')
        self.assertRefused(self.run_copy(listed))

        # No list, or no sum of it.
        os.unlink(os.path.join(self.kept, 'cvkept.lst'))
        self.assertRefused(self.run_copy(listed))
        kept_list(self.kept, self.NAMES)
        self.assertRefused(cvtest.start('/InstallKept', '-inf', self.setup))

    def test_links_and_files_with_two_names_are_refused(self):
        # The same bytes under a second name outside the folder.
        elsewhere = os.path.join(self.work, 'elsewhere.bin')
        shutil.copy(self.data, elsewhere)
        os.unlink(self.data)
        os.link(elsewhere, self.data)
        self.assertRefused(self.run_copy(kept_list(self.kept, self.NAMES)))

        # A folder on the way that is a link (Wine shows a Unix link to a
        # folder as a reparse point; a link to a file it shows as the file).
        os.unlink(self.data)
        outside = os.path.join(self.work, 'outside')
        os.makedirs(outside)
        shutil.copy(elsewhere, os.path.join(outside, 'data.bin'))
        os.rmdir(os.path.join(self.kept, 'sub'))
        os.symlink(outside, os.path.join(self.kept, 'sub'))
        self.assertRefused(self.run_copy(kept_list(self.kept, self.NAMES)))

    def test_the_copy_removes_no_folder_a_record_marks(self):
        marked = os.path.join(cvtest.temp_dir(), 'instE2E7.tmp')
        os.makedirs(marked)
        with open(os.path.join(marked, 'part.bin'), 'wb') as f:
            f.write(b'x')
        cvtest.reg_add(runs.FOLDER_KEY, 'Path', cvtest.win_path('temp') + '\\instE2E7.tmp')
        cvtest.reg_add(runs.FOLDER_KEY, 'RemovePending', 1, 'REG_DWORD')
        self.assertEqual(0, self.run_copy(kept_list(self.kept, self.NAMES)).wait(60))
        self.assertTrue(os.path.exists(os.path.join(marked, 'part.bin')))
        self.assertEqual('0x1', cvtest.reg_query(runs.FOLDER_KEY, 'RemovePending'))


if __name__ == '__main__':
    unittest.main()
