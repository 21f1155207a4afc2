"""A run whose setup description names a proxy auto-configuration script
("ProxyAutoConfig" in [defs]) served by the web server: the component's own
proxy refuses its credentials, so the order reaches the browser step, where
the script sends the fetch through the open tinyproxy. The component arrives
whole, and tinyproxy's log shows its part list and parts; the run's own log
shows the refused login, the script's entries and the one that got through."""
import os
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


if __name__ == '__main__':
    unittest.main()
