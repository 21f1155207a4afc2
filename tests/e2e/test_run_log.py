"""The log every run writes and the exit code it ends with: a finished run
(through the proxy that wants a password, with a site password too: neither
shows in the log), one through a Windows login at the proxy to a site that
asks for Basic (neither password nor any Base64 of it in the log), a failed
one, one suspended by the end of the Windows
session and one the user quits. The log is read while the program still
runs, too: each line is on disk as soon as it happens. Without "-log" the
log goes into the temporary folder, where only the newest old logs stay."""
import base64
import glob
import os
import re
import unittest

import cvtest
import runs

STAMP = re.compile(r'^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ')
SITE_PASSWORD = 'site-pw-4711'
WM_QUERYENDSESSION = 0x0011


def read_log(path):
    with open(path, 'rb') as f:
        return f.read().decode('latin-1')


def base64_forms(secret):
    """The Base64 text of `secret` as it shows inside the Base64 of any
    longer text (a "user:password" pair), at each of the three alignments:
    the groups of four characters that only the secret's bytes make."""
    raw = secret.encode('latin-1')
    forms = []
    for lead in range(3):
        text = base64.b64encode(b'\0' * lead + raw).decode()
        groups = [text[4 * g:4 * g + 4] for g in range(len(text) // 4)
                  if 3 * g >= lead and 3 * g + 3 <= lead + len(raw)]
        forms.append(''.join(groups))
    return [f for f in forms if f]


class RunLog(runs.RunTestCase):
    def log_path(self, name='run.log'):
        return os.path.join(self.work, name)

    def start(self, inf, log=None):
        exe = runs.package(self.work, inf)
        args = ['-log', cvtest.to_win(log)] if log else []
        return cvtest.start(*args, exe=exe)

    def assertWellFormed(self, text):
        self.assertTrue(text.endswith('\r\n'), text[-200:])
        for line in text[:-2].split('\r\n'):
            self.assertRegex(line, STAMP)

    def assertInOrder(self, text, *parts):
        at = 0
        for part in parts:
            found = text.find(part, at)
            self.assertNotEqual(-1, found, 'no %r after position %d in:\n%s' % (part, at, text))
            at = found + len(part)

    def test_finished_run_through_a_proxy_with_passwords(self):
        site = self.site(3 * runs.PART_SIZE + 10, seed=21)
        extra = ('proxy=127.0.0.1\nport=%d\nproxyuser=%s\nproxypassword=%s\nuser=alice\npassword=%s\n'
                 % (runs.PROXY_AUTH_PORT, runs.PROXY_USER, runs.scramble(runs.PROXY_PASSWORD),
                    runs.scramble(SITE_PASSWORD)))
        # Two parts at a time, each connection logging on to the proxy.
        inf = '[defs]\ncomponents=setup,data\nallowintervention=FALSE\nMaxConnections=2\n' + \
            runs.SETUP_SECTION + runs.http_section('data', site, display=2, install_order=10, extra=extra)
        log = self.log_path()
        program = self.start(inf, log)
        self.assertEqual(0, program.wait(90))
        self.assertInstalled(site)
        text = read_log(log)
        self.assertWellFormed(text)
        self.assertInOrder(
            text, ' start: ', 'command line "-log ', 'elevated: ',
            'setup description ', 'components=setup,data',
            'component data: Need to download.',
            'component data: fetching over http',
            'connecting to 127.0.0.1:%d (user alice; proxy 127.0.0.1:%d, proxy user %s)'
            % (runs.HTTP_PORT, runs.PROXY_AUTH_PORT, runs.PROXY_USER),
            "with the component's own settings (%s:***@127.0.0.1:%d): reached"
            % (runs.PROXY_USER, runs.PROXY_AUTH_PORT),
            '%d parts, up to 2 at once' % site.parts,
            'parts: %d fetched, 0 present, 0 retries' % site.parts,
            'fetched ', '\\client.bin from 127.0.0.1:%d: %d bytes in ' % (runs.HTTP_PORT,
                                                                        len(site.content)),
            'state file ', '[download] complete=1',
            'installing component data (order 10', 'install action of data: copy,client.bin',
            'copy ', ': done',
            'install action of setup: run,cvclientsetup.exe,-success', 'started ',
            'cvclientsetup.exe -success in ', 'the program ended with exit code 0',
            'install over: every step succeeded, state file [result] success=1', 'state file ', 'removed',
            'download dialog ended: 1003 (over)',
            'removed the download folder ', 'removed the resume shortcut',
            'end: exit code 0 (finished)')
        self.assertRegex(text, r'KB/s\)|B/s\)|MB/s\)')
        for secret in (runs.PROXY_PASSWORD, SITE_PASSWORD, runs.scramble(SITE_PASSWORD),
                       runs.scramble(runs.PROXY_PASSWORD)):
            self.assertNotIn(secret, text)
        self.assertNotRegex(text, r'(?i)authorization: (?!\*\*\*)')

    def test_windows_proxy_login_and_site_login_leave_no_password_in_the_log(self):
        port = os.environ.get('CV_NTLM_PROXY_PORT', '')
        self.assertTrue(port, 'the NTLM proxy of the test tier is not configured')
        user = os.environ.get('CV_NTLM_USER', 'ntlmuser')
        proxy_user = '%s\\%s' % (os.environ.get('CV_NTLM_DOMAIN', 'CORP'), user)
        password = os.environ.get('CV_NTLM_PASSWORD', 'Ntlm-Pass1')
        site = self.site(3 * runs.PART_SIZE + 10, seed=23, protected=True)
        extra = ('proxy=127.0.0.1\nport=%s\nproxyuser=%s\nproxypassword=%s\nuser=siteuser\npassword=%s\n'
                 % (port, proxy_user, runs.scramble(password), runs.scramble('sitepass')))
        # A name only the proxy resolves: the fetch cannot get round it.
        inf = '[defs]\ncomponents=setup,data\nallowintervention=FALSE\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10, extra=extra, host='files.invalid')
        log = self.log_path()
        program = self.start(inf, log)
        self.assertEqual(0, program.wait(120))
        self.assertInstalled(site)
        text = read_log(log)
        # The proxy checked a real NTLM answer, and the site took Basic.
        self.assertInOrder(text, "with the component's own settings (", '): reached; proxy login NTLM')
        with open(os.path.join(runs.SRV_DIR, 'ntlm_proxy', 'log'), 'rb') as f:
            self.assertIn(' ok scheme=NTLM user=%s ntlmv2=1 ' % proxy_user, f.read().decode('latin-1'))
        self.assertGreater(site.requests('pkginfo.txt', 200), 0)
        self.assertEqual(0, site.requests('pkginfo.txt', 401))
        for secret in (password, 'sitepass'):
            self.assertNotIn(secret, text)
            for form in base64_forms(secret):
                self.assertNotIn(form, text, 'Base64 of a password in the log')
        for pair in (proxy_user + ':' + password, user + ':' + password, 'siteuser:sitepass'):
            self.assertNotIn(base64.b64encode(pair.encode('latin-1')).decode(), text)
        self.assertNotRegex(text, r'(?i)authorization: (?!\*\*\*)')

    def test_failed_run_keeps_files_and_says_why(self):
        site = self.site(2 * runs.PART_SIZE, seed=22)
        site.set_total_sum(12345)
        inf = '[defs]\ncomponents=setup,data\nallowintervention=FALSE\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        log = self.log_path()
        program = self.start(inf, log)
        # Nobody attends the run: the message goes to the log, not to a box.
        self.assertEqual(3, program.wait(90))
        text = read_log(log)
        self.assertWellFormed(text)
        self.assertInOrder(
            text, 'the joined parts do not match total_sum', 'failed; parts: 2 fetched',
            'fetch of client.bin failed (error 4)', 'fetch phase over after a failure',
            'completion: components missing: message 585',
            'message (not shown: nobody attends this run; taken as OK): Corvane Lite Installer was unable '
            'to download all the needed software',
            'download dialog ended: 1009 (keep files)', 'kept the download folder ',
            'end: exit code 3 (failed or files kept)')
        self.assertNotIn('removed the download folder', text)

    def test_suspended_by_the_end_of_the_session(self):
        site = self.site(3 * runs.PART_SIZE, seed=23)
        site.hold_back(1)
        inf = '[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        log = self.log_path()
        program = self.start(inf, log)
        cvtest.click('&Continue', title='Corvane Lite Installer', text='&Continue', visible=True,
                     timeout=30)
        runs.wait_requested(site, 'file001.bin')
        folder = runs.download_folder()
        self.assertEqual(1, cvtest.send(WM_QUERYENDSESSION, 0, 0, title=runs.DIALOG))
        cvtest.wait_window(title=cvtest.TRAY_CLASS, cls=cvtest.TRAY_CLASS, timeout=30)
        # Still running: what happened so far is in the file already.
        self.assertTrue(program.running())
        cvtest.wait_until(lambda: 'tray: waiting' in read_log(log), 10, 'the tray line')
        self.assertInOrder(read_log(log), 'part file001.bin: try 1 failed (', 'recv_file: HTTP status 404',
                           'Windows ends the session: the download is suspended',
                           'download dialog ended: 1004 (suspended)',
                           'resume shortcut written: ', ' /tray /AskForRestart',
                           'tray: waiting in the notification area')

        cvtest.post('WM_ENDSESSION', 1, 0, title=cvtest.TRAY_CLASS, cls=cvtest.TRAY_CLASS)
        self.assertEqual(2, program.wait(30))
        text = read_log(log)
        self.assertWellFormed(text)
        self.assertInOrder(text, 'tray: Windows ends the session',
                           'the files and the resume shortcut stay', 'end: exit code 2 (suspended)')
        # It resumes after the next log-on: nothing was removed.
        self.assertEqual(1, len(cvtest.shortcut_files()))
        self.assertTrue(os.path.exists(os.path.join(folder, 'client.inf')))

    def test_user_quits_into_a_log_in_the_temporary_folder(self):
        temp = cvtest.temp_dir()
        for old in glob.glob(os.path.join(temp, 'setup-*.log')):
            os.unlink(old)
        old = ['setup-200101%02d-120000-000.log' % day for day in range(1, 13)]
        for name in old + ['other-20010101-120000-000.log']:
            with open(os.path.join(temp, name), 'w') as f:
                f.write('old\r\n')
        self.addCleanup(lambda: [os.unlink(p) for p in glob.glob(os.path.join(temp, '*-2001*.log'))])

        site = self.site(2 * runs.PART_SIZE, seed=24)
        site.hold_back(0)
        inf = '[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION + \
            runs.http_section('data', site, display=2, install_order=10)
        program = self.start(inf)
        cvtest.click('&Continue', title='Corvane Lite Installer', text='&Continue', visible=True,
                     timeout=30)
        runs.wait_requested(site, 'file000.bin')
        cvtest.click('&Quit', title=runs.DIALOG)
        cvtest.answer('Are you sure', 'yes')
        self.assertEqual(4, program.wait(30))

        logs = sorted(os.path.basename(p) for p in glob.glob(os.path.join(temp, 'setup-*.log')))
        new = [n for n in logs if n not in old]
        self.assertEqual(1, len(new), logs)
        self.assertRegex(new[0], r'^setup-\d{8}-\d{6}-\d{3}\.log$')
        # The ten newest old logs stay; another program's log is not touched.
        self.assertEqual(old[2:], [n for n in logs if n in old])
        self.assertTrue(os.path.exists(os.path.join(temp, 'other-20010101-120000-000.log')))
        text = read_log(os.path.join(temp, new[0]))
        self.assertWellFormed(text)
        self.assertInOrder(text, 'quit: the user confirmed', 'download dialog ended: 1003 (over), by the user',
                           'removed the download folder ', 'end: exit code 4 (the user quit)')


if __name__ == '__main__':
    unittest.main()
