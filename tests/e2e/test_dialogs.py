"""Every dialog of the program, drawn with its manifest (visual styles,
DPI awareness) at 96 and at 144 DPI: each control inside its dialog, none
on top of another, every text within its control, and the dialog scaled
by the DPI. Screenshots of each land in the results folder (e2e/dialogs/)."""
import os
import subprocess
import unittest

import cvtest

CVDIALOGS = os.environ.get('CV_CVDIALOGS', '')
DIALOGS = {101: 'download', 104: 'ready', 105: 'intro', 106: 'cancel', 108: 'http-settings'}
DPI_KEYS = (r'HKEY_CURRENT_USER\Control Panel\Desktop',
            r'HKEY_CURRENT_CONFIG\Software\Fonts')


def set_dpi(dpi):
    for key in DPI_KEYS:
        if dpi is None:
            cvtest.reg_delete(key, 'LogPixels')
        else:
            cvtest.reg_add(key, 'LogPixels', str(dpi), 'REG_DWORD')


def show(dialog, shot):
    """Shows one dialog; returns its findings ({'dpi', 'size', 'problems'})
    once it is drawn, with a screenshot taken, and closes it."""
    out = os.path.join(cvtest.WORK_DIR, 'dialog-%d.txt' % dialog)
    if os.path.exists(out):
        os.unlink(out)
    program = cvtest.Program([cvtest.to_win(out), str(dialog)], exe=CVDIALOGS, name='cvdialogs')
    try:
        def done():
            if not os.path.exists(out):
                return False
            with open(out) as f:
                return f.read().endswith('done\n')
        cvtest.wait_until(done, 60, 'layout of dialog %d' % dialog)
        with open(out) as f:
            lines = f.read().splitlines()
        found = {'problems': [l for l in lines if l.startswith('problem')]}
        for l in lines:
            if l.startswith('dpi='):
                found['dpi'] = int(l[4:])
            elif l.startswith('size='):
                found['size'] = tuple(int(x) for x in l[5:].split())
        w, h = found['size']
        window = cvtest.wait_window(cls='#32770', visible=True, timeout=30)
        # The dialog sits in the middle of the screen; the shot takes a
        # margin around it.
        subprocess.run(['import', '-display', os.environ.get('DISPLAY', ''), '-window', 'root',
                        '-gravity', 'center', '-crop', '%dx%d+0+0' % (w + 40, h + 40),
                        '+repage', shot], check=False, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        cvtest.post('WM_CLOSE', 0, 0, hwnd=window['hwnd'])
        program.wait(30)
        return found
    finally:
        program.kill()


class DialogsAtTwoDpis(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(CVDIALOGS):
            self.fail('cvdialogs missing: %r' % CVDIALOGS)
        cvtest.kill_started()
        self.shots = os.path.join(cvtest.WORK_DIR, 'dialogs')
        os.makedirs(self.shots, exist_ok=True)

    def tearDown(self):
        cvtest.kill_started()
        set_dpi(None)

    def test_every_dialog_lays_out_at_96_and_144_dpi(self):
        sizes = {}
        for dpi in (96, 144):
            set_dpi(dpi)
            for dialog, name in sorted(DIALOGS.items()):
                found = show(dialog, os.path.join(self.shots, '%s-%d.png' % (name, dpi)))
                self.assertEqual(dpi, found['dpi'], name)
                self.assertEqual([], found['problems'], '%s at %d DPI' % (name, dpi))
                sizes[dialog, dpi] = found['size']
        # Drawn larger at 144 DPI, not stretched: the dialog's pixel size
        # follows its font, about one and a half times as large.
        for dialog, name in DIALOGS.items():
            (w96, h96), (w144, h144) = sizes[dialog, 96], sizes[dialog, 144]
            self.assertGreater(w144, w96 * 1.3, name)
            self.assertGreater(h144, h96 * 1.3, name)


if __name__ == '__main__':
    unittest.main()
