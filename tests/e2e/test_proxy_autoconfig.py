"""Proxies an administrator gives a run. "/proxy HOST:PORT" sends the fetch
through that proxy before anything else, "/proxy direct" goes without one
before the component's own proxy, and the machine-wide proxy of the
system's HTTP service (what "netsh winhttp set proxy" writes) serves the
browser step of a user who has no proxy set.

A run whose setup description names a proxy auto-configuration script
("ProxyAutoConfig" in [defs]) served by the web server: the component's own
proxy refuses its credentials, so the order reaches the browser step, where
the script sends the fetch through the open tinyproxy. The component arrives
whole, and tinyproxy's log shows its part list and parts; the run's own log
shows the refused login, the script's entries and the one that got through."""
import os
import struct
import unittest

import cvtest
import runs

PROXY_PORT = int(os.environ.get('CV_PROXY_PORT', '18088'))


def tinyproxy_log():
    path = os.path.join(runs.SRV_DIR, 'tinyproxy', 'open.log')
    if not os.path.exists(path):
        return ''
    with open(path, 'rb') as f:
        return f.read().decode('latin-1')


class ProxyAutoConfig(runs.RunTestCase):
    def test_script_of_the_setup_description_sends_the_fetch_through_its_proxy(self):
        site = self.site(3 * runs.PART_SIZE + 5, seed=19)
        script = os.path.join(site.directory, 'proxy.pac')
        with open(script, 'w') as f:
            f.write('function FindProxyForURL(url, host) {\n'
                    '  if (shExpMatch(url, "*/%s/*")) return "PROXY 127.0.0.1:%d; DIRECT";\n'
                    '  return "DIRECT";\n}\n' % (site.dir_name, PROXY_PORT))
        wrong = 'proxy=127.0.0.1\nport=%d\nproxyuser=nobody\nproxypassword=%s\n' % (
            runs.PROXY_AUTH_PORT, runs.scramble('wrong'))
        inf = ('[defs]\ncomponents=setup,data\nallowintervention=FALSE\n'
               'ProxyAutoConfig=http://127.0.0.1:%d/%s/proxy.pac\n' % (runs.HTTP_PORT, site.dir_name) +
               runs.SETUP_SECTION +
               runs.http_section('data', site, display=2, install_order=10, extra=wrong))
        exe = runs.package(self.work, inf)
        run_log = os.path.join(self.work, 'run.log')
        program = cvtest.start('-log', cvtest.to_win(run_log), exe=exe)
        self.assertEqual(0, program.wait(120))

        self.assertInstalled(site)
        self.assertEqual(1, site.requests('proxy.pac'))
        # Only the proxy of the script asked the web server for the files:
        # the refused attempt never reached it, and no direct one followed.
        log = tinyproxy_log()
        self.assertIn('/%s/pkginfo.txt' % site.dir_name, log)
        self.assertEqual(1, site.requests('pkginfo.txt'))
        for n in range(site.parts):
            self.assertIn('/%s/file%03d.bin' % (site.dir_name, n), log)
            self.assertEqual(1, site.requests('file%03d.bin' % n))

        with open(run_log, 'rb') as f:
            text = f.read().decode('latin-1')
        at = 0
        for part in ("with the component's own settings (nobody:***@127.0.0.1:%d): failed: " % runs.PROXY_AUTH_PORT,
                     'HTTP status 401',  # the test tier's proxy refuses so
                     'proxy auto-configuration (http://127.0.0.1:%d/%s/proxy.pac): ' % (runs.HTTP_PORT, site.dir_name),
                     ' to try',
                     "with the auto-configuration script's entry (127.0.0.1:%d): reached" % PROXY_PORT,
                     'end: exit code 0 (finished)'):
            found = text.find(part, at)
            self.assertNotEqual(-1, found, 'no %r after position %d in:\n%s' % (part, at, text))
            at = found + len(part)
        self.assertNotIn('wrong', text)


MACHINE_PROXY_KEY = r'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections'


def machine_proxy_setting(proxy, bypass=''):
    """The binary value "netsh winhttp set proxy" writes: a header (its
    size, a counter, the flags: direct and named proxy), then the proxy
    list and the bypass list, each with its length."""
    p, b = proxy.encode('ascii'), bypass.encode('ascii')
    return (struct.pack('<III', 0x18, 0, 3) + struct.pack('<I', len(p)) + p + struct.pack('<I', len(b)) + b).hex()


class AdministratorsProxy(runs.RunTestCase):
    def run_logged(self, inf, *switches):
        exe = runs.package(self.work, inf)
        run_log = os.path.join(self.work, 'run.log')
        program = cvtest.start('-log', cvtest.to_win(run_log), *switches, exe=exe)
        self.assertEqual(0, program.wait(120))
        with open(run_log, 'rb') as f:
            return f.read().decode('latin-1')

    def assertThroughTinyproxy(self, site):
        log = tinyproxy_log()
        self.assertIn('/%s/pkginfo.txt' % site.dir_name, log)
        for n in range(site.parts):
            self.assertIn('/%s/file%03d.bin' % (site.dir_name, n), log)

    def wrong_proxy(self):
        return 'proxy=127.0.0.1\nport=%d\nproxyuser=nobody\nproxypassword=%s\n' % (
            runs.PROXY_AUTH_PORT, runs.scramble('wrong'))

    def test_proxy_switch_comes_first_and_direct_means_none(self):
        # An interactive setup description: "/quiet" keeps it from waiting.
        site = self.site(2 * runs.PART_SIZE + 7, seed=23)
        inf = ('[defs]\ncomponents=setup,data\n' + runs.SETUP_SECTION +
               runs.http_section('data', site, display=2, install_order=10))
        text = self.run_logged(inf, '/quiet', '/proxy', '127.0.0.1:%d' % PROXY_PORT)
        self.assertInstalled(site)
        self.assertThroughTinyproxy(site)
        self.assertIn('this run\'s proxy ("/proxy"): 127.0.0.1:%d' % PROXY_PORT, text)
        self.assertIn('with the proxy of the command line (127.0.0.1:%d): reached' % PROXY_PORT, text)
        self.assertNotIn("with the component's own settings", text)

        # "direct" goes before the component's own proxy, whose wrong login
        # is never tried.
        other = self.site(runs.PART_SIZE + 3, seed=29)
        inf = ('[defs]\ncomponents=setup,data\nallowintervention=FALSE\n' + runs.SETUP_SECTION +
               runs.http_section('data', other, display=2, install_order=10, extra=self.wrong_proxy()))
        text = self.run_logged(inf, '/proxy', 'DIRECT')
        self.assertInstalled(other)
        self.assertNotIn(other.dir_name, tinyproxy_log())
        self.assertIn('with the proxy of the command line (no proxy): reached', text)
        self.assertNotIn("with the component's own settings", text)
        self.assertNotIn('wrong', text)

    def test_machine_wide_proxy_serves_a_user_without_proxy_settings(self):
        site = self.site(2 * runs.PART_SIZE + 1, seed=31)
        inf = ('[defs]\ncomponents=setup,data\nallowintervention=FALSE\n' + runs.SETUP_SECTION +
               runs.http_section('data', site, display=2, install_order=10, extra=self.wrong_proxy()))
        cvtest.reg_add(MACHINE_PROXY_KEY, 'WinHttpSettings',
                       machine_proxy_setting('127.0.0.1:%d' % PROXY_PORT), kind='REG_BINARY')
        try:
            text = self.run_logged(inf)
        finally:
            cvtest.reg_delete(MACHINE_PROXY_KEY, 'WinHttpSettings')
        self.assertInstalled(site)
        self.assertThroughTinyproxy(site)
        at = 0
        for part in ("with the component's own settings (nobody:***@127.0.0.1:%d): failed: " % runs.PROXY_AUTH_PORT,
                     'the machine-wide proxy of the system\'s HTTP service (the user has no proxy set): '
                     '127.0.0.1:%d' % PROXY_PORT,
                     "with the browser's proxy (127.0.0.1:%d): reached" % PROXY_PORT,
                     'end: exit code 0 (finished)'):
            found = text.find(part, at)
            self.assertNotEqual(-1, found, 'no %r after position %d in:\n%s' % (part, at, text))
            at = found + len(part)


if __name__ == '__main__':
    unittest.main()
