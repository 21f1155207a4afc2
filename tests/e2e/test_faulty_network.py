"""Downloads over a bad network: twenty unattended runs, each fetching a
component of several parts through a proxy that damages one answer in five
(cut short, stalled for a moment, a byte changed, or refused with 503), with
the program's default tries. None may install a damaged file, none may hang,
and at least nineteen of the twenty must install the file intact."""
import os
import sys
import time
import unittest

import cvtest
import runs

sys.path.insert(0, os.path.join(os.environ.get('CV_SOURCE_DIR', ''), 'tests', 'servers'))
import fault_proxy  # noqa: E402

RUNS = 20
SEED = 2025


class FaultyNetwork(runs.RunTestCase):
    def test_twenty_downloads_through_a_damaging_proxy(self):
        proxy = fault_proxy.FaultProxy(SEED, rate=0.2, stall=0.5)
        port = proxy.start()
        self.addCleanup(proxy.stop)
        intact, failed, outcomes = 0, 0, []
        started = time.monotonic()
        for i in range(RUNS):
            site = self.site(2 * runs.PART_SIZE + 500, seed=300 + i)
            inf = ('[defs]\ncomponents=setup,data\nallowintervention=FALSE\n' + runs.SETUP_SECTION +
                   runs.http_section('data', site, display=2, install_order=10,
                                     extra='proxy=127.0.0.1\nport=%d\n' % port))
            work = os.path.join(self.work, 'run%02d' % i)
            os.makedirs(work)
            installed = os.path.join(self.client, site.name)
            if os.path.exists(installed):
                os.unlink(installed)
            program = cvtest.start(exe=runs.package(work, inf))
            # A hung run fails here: every fault ends within the client's
            # waits, and the tries are bounded.
            code = program.wait(120)
            if os.path.exists(installed):
                with open(installed, 'rb') as f:
                    self.assertEqual(site.content, f.read(), 'run %d installed a damaged file' % i)
            if code == 0 and os.path.exists(installed):
                intact += 1
            else:
                failed += 1
                self.assertEqual(3, code, 'run %d' % i)
                cvtest.reset()
            outcomes.append(code)
            site.remove()
        spent = time.monotonic() - started
        sys.stderr.write('fault proxy: %d runs, %d intact, %d failed, %.1f s; answers %s\n'
                         % (RUNS, intact, failed, spent, proxy.counts()))
        self.assertGreaterEqual(intact, RUNS - 1, outcomes)


if __name__ == '__main__':
    unittest.main()
