"""The scenario helpers themselves: registry round trip, path mapping,
the reset of the prefix, and a missing window reported in time."""
import os
import unittest

import cvtest

KEY = r'HKEY_CURRENT_USER\Software\Corvane\CvGet'


class Infrastructure(unittest.TestCase):
    def test_registry_round_trip_and_reset(self):
        cvtest.reg_add(KEY, 'Path', r'C:\some where\inst1.tmp')
        self.assertEqual(r'C:\some where\inst1.tmp', cvtest.reg_query(KEY, 'Path'))
        tmp = cvtest.temp_dir()
        leftover = os.path.join(tmp, 'instAB12.tmp')
        os.makedirs(os.path.join(leftover, 'sub'), exist_ok=True)
        ini = os.path.join(cvtest.windows_dir(), 'tessark.ini')
        with open(ini, 'w') as f:
            f.write('[download]\r\ncomplete=1\r\n')
        shortcut = os.path.join(cvtest.startup_dirs()[1], cvtest.SHORTCUT_NAME)
        os.makedirs(os.path.dirname(shortcut), exist_ok=True)
        open(shortcut, 'wb').close()

        cvtest.reset()
        self.assertIsNone(cvtest.reg_query(KEY, 'Path'))
        self.assertFalse(os.path.exists(leftover))
        self.assertFalse(os.path.exists(ini))
        self.assertEqual([], cvtest.shortcut_files())

    def test_paths_of_the_prefix_exist_on_disk(self):
        for d in [cvtest.windows_dir(), cvtest.temp_dir()]:
            self.assertTrue(os.path.isdir(d), d)
        self.assertTrue(cvtest.win_path('csidl:24').lower().endswith('startup'))
        self.assertEqual('Z:\\tmp\\x y', cvtest.to_win('/tmp/x y'))
        self.assertEqual(os.path.realpath('/tmp'), cvtest.unix_path('Z:\\tmp'))

    def test_list_view_rows_of_another_process(self):
        # The system's registry editor lists the values of a key; the key's
        # default value row is always there.
        editor = cvtest.Program([], exe='regedit', name='regedit')
        try:
            w = cvtest.wait_window(title='Registry Editor', timeout=30)
            header, rows = cvtest.listview('class=SysListView32', hwnd=w['hwnd'])
            self.assertGreaterEqual(len(header), 3)
            self.assertTrue(all(len(r) == len(header) for r in rows))
        finally:
            editor.kill()

    def test_missing_window_ends_in_time(self):
        with self.assertRaises(AssertionError):
            cvtest.wait_window(title='no such window here', timeout=0.5)
        self.assertEqual([], cvtest.windows(cls='NoSuchClassAnywhere'))


if __name__ == '__main__':
    unittest.main()
