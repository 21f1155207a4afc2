"""Fingerprints and further sites in whole runs: a component whose part list
is pinned in the setup description is fetched intact; a part list changed on
the server under that pin is refused whole, before any part is asked for; a
part forged together with its 32-bit sum line (the SHA-256 line left as it
was) is refused at that part and fetched from the next site; a site serving
another part list than the pinned one is passed over; and a download that
cannot finish on its first site finishes on the second, with the parts it
already had kept. Files a component takes where they lie (here from the
package) are held to their pins too: installed when they match, and nothing
installed when one does not. The runs are unattended with two tries a site, so that
every refusal ends within seconds; the web server's access log counts what
was asked of which site."""
import hashlib
import os
import re
import shutil
import subprocess
import unittest

import cvtest
import runs

PIN_REFUSED = 'does not match the fingerprint in the setup'


def read_log(path):
    with open(path, 'rb') as f:
        return f.read().decode('latin-1')


def gets(path):
    """GET requests the web server logged for exactly this path."""
    return runs.access_count('"GET %s ' % path)


class Mirror:
    """A copy of a site's published folder under another prefix of the web
    root, named in a setup description as "127.0.0.1:PORT/<prefix>"."""

    def __init__(self, site):
        self.prefix = runs.unique('mirror-')
        self.root = os.path.join(runs.WWW_DIR, self.prefix)
        self.directory = os.path.join(self.root, site.dir_name)
        shutil.copytree(site.directory, self.directory)
        self.site_text = '127.0.0.1:%d/%s' % (runs.HTTP_PORT, self.prefix)
        self.site = site

    def gets(self, name):
        return gets('/%s/%s/%s' % (self.prefix, self.site.dir_name, name))

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


def list_pin(directory):
    with open(os.path.join(directory, 'pkginfo.txt'), 'rb') as f:
        return hashlib.sha256(f.read()).hexdigest()


def forge_part(site, n, seed):
    """Puts other bytes in place of part n on the site and its 32-bit sum
    (and total_sum) into the part list, as cvpack would write them for the
    forged file; the [sha256] section is left as it was."""
    content = bytearray(site.content)
    start = n * site.part_size
    content[start:start + site.part_size] = runs.data(site.part_size, seed)
    work = cvtest.scratch_dir(runs.unique('forge-'))
    source = os.path.join(work, site.name)
    with open(source, 'wb') as f:
        f.write(bytes(content))
    out = os.path.join(work, 'out')
    subprocess.run([cvtest.CVPACK, 'split', source, out, '--part-size', str(site.part_size)],
                   check=True, stdout=subprocess.DEVNULL)
    name = 'file%03d.bin' % n
    shutil.copyfile(os.path.join(out, name), site.part_path(n))
    with open(os.path.join(out, 'pkginfo.txt'), 'rb') as f:
        forged = f.read().decode('latin-1').splitlines()
    section, sums = '', {}
    for line in forged:
        if line.startswith('['):
            section = line
        elif section == '[sums]' and '=' in line:
            sums[line.split('=')[0]] = line
    path = os.path.join(site.directory, 'pkginfo.txt')
    with open(path, 'rb') as f:
        lines = f.read().decode('latin-1').splitlines()
    section, out_lines = '', []
    for line in lines:
        if line.startswith('['):
            section = line
        key = line.split('=')[0]
        out_lines.append(sums[key] if section == '[sums]' and key in (name, 'total_sum') else line)
    with open(path, 'wb') as f:
        f.write('\r\n'.join(out_lines).encode('latin-1') + b'\r\n')


class PinsAndMirrors(runs.RunTestCase):
    def setUp(self):
        super().setUp()
        self.mirrors = []
        self.log = os.path.join(self.work, 'run.log')

    def tearDown(self):
        for m in self.mirrors:
            m.remove()
        super().tearDown()

    def mirror(self, site):
        m = Mirror(site)
        self.mirrors.append(m)
        return m

    def run_unattended(self, site, extra):
        inf = ('[defs]\ncomponents=setup,data\nallowintervention=FALSE\n' + runs.SETUP_SECTION +
               runs.http_section('data', site, display=2, install_order=10, extra='tries=2\n' + extra))
        program = cvtest.start('-log', cvtest.to_win(self.log), exe=runs.package(self.work, inf))
        code = program.wait(120)
        return code, read_log(self.log)

    def gets(self, site, name):
        return gets('/%s/%s' % (site.dir_name, name))

    def test_pinned_component_is_fetched_intact(self):
        site = self.site(3 * runs.PART_SIZE + 100, seed=41)
        code, text = self.run_unattended(site, 'sha256=%s\n' % list_pin(site.directory))
        self.assertEqual(0, code, text)
        self.assertInstalled(site)
        self.assertIn('(%s/), pinned' % site.dir_name, text)
        self.assertNotIn(PIN_REFUSED, text)
        self.assertEqual(1, self.gets(site, 'pkginfo.txt'))

    def test_part_list_changed_under_a_pin_is_refused_before_any_part(self):
        site = self.site(3 * runs.PART_SIZE, seed=42)
        pin = list_pin(site.directory)
        forge_part(site, 1, seed=99)
        code, text = self.run_unattended(site, 'sha256=%s\n' % pin)
        self.assertEqual(3, code, text)
        self.assertIn('part list %s/pkginfo.txt: given up after 2 tries: it %s' % (site.dir_name, PIN_REFUSED),
                      text)
        self.assertIn('fetch of client.bin failed: it %s; nothing of it is installed' % PIN_REFUSED, text)
        self.assertEqual(2, self.gets(site, 'pkginfo.txt'))
        for n in range(site.parts):
            self.assertEqual(0, self.gets(site, 'file%03d.bin' % n))
        self.assertFalse(os.path.exists(os.path.join(self.client, site.name)))

    def test_part_forged_with_its_weak_sum_is_refused_and_fetched_from_the_mirror(self):
        site = self.site(3 * runs.PART_SIZE, seed=43)
        mirror = self.mirror(site)
        forge_part(site, 1, seed=98)
        code, text = self.run_unattended(site, 'site2=%s\n' % mirror.site_text)
        self.assertEqual(0, code, text)
        self.assertInstalled(site)
        self.assertEqual(2, text.count('part file001.bin: try 1 failed (the SHA-256 does not match the part list)')
                         + text.count('part file001.bin: try 2 failed (the SHA-256 does not match the part list)'),
                         text)
        self.assertIn('the next site is tried: %s (site2)' % mirror.site_text, text)
        self.assertRegex(text, r'part file000\.bin: fetched from http://127\.0\.0\.1:\d+/%s/file000\.bin'
                         % re.escape(site.dir_name))
        self.assertRegex(text, r'part file001\.bin: fetched from http://127\.0\.0\.1:\d+/%s/%s/file001\.bin'
                         % (mirror.prefix, re.escape(site.dir_name)))
        # The parts checked on the first site stay (part 2 was in flight
        # beside the forged one); only the forged part comes from the mirror.
        self.assertEqual(0, mirror.gets('file000.bin'))
        self.assertEqual(1, mirror.gets('file001.bin'))
        self.assertEqual(0, mirror.gets('file002.bin'))
        self.assertEqual(2, self.gets(site, 'file001.bin'))
        self.assertEqual(1, self.gets(site, 'file002.bin'))

    def test_site_with_another_part_list_is_passed_over_under_a_pin(self):
        site = self.site(2 * runs.PART_SIZE + 7, seed=44)
        mirror = self.mirror(site)
        pin = list_pin(site.directory)
        # The first site publishes other bytes under the same name.
        shutil.rmtree(site.directory)
        other = runs.data(len(site.content), 45)
        source = os.path.join(cvtest.scratch_dir(runs.unique('other-')), site.name)
        with open(source, 'wb') as f:
            f.write(other)
        subprocess.run([cvtest.CVPACK, 'split', source, site.directory, '--part-size', str(site.part_size)],
                       check=True, stdout=subprocess.DEVNULL)
        code, text = self.run_unattended(site, 'sha256=%s\nsite2=%s\n' % (pin, mirror.site_text))
        self.assertEqual(0, code, text)
        self.assertInstalled(site)
        self.assertIn('given up after 2 tries: it %s' % PIN_REFUSED, text)
        self.assertIn('the next site is tried: %s (site2)' % mirror.site_text, text)
        self.assertEqual(0, self.gets(site, 'file000.bin'))
        self.assertEqual(1, mirror.gets('pkginfo.txt'))
        self.assertEqual(1, mirror.gets('file000.bin'))

    def test_download_cut_short_on_the_first_site_finishes_on_the_second(self):
        site = self.site(4 * runs.PART_SIZE, seed=46)
        mirror = self.mirror(site)
        site.hold_back(2)
        code, text = self.run_unattended(site, 'site2=%s\n' % mirror.site_text)
        self.assertEqual(0, code, text)
        self.assertInstalled(site)
        self.assertIn('part file002.bin: given up after 2 tries', text)
        # Parts 0, 1 and 3 came from the first site, beside the failing
        # part, and were kept; the mirror was asked for its list and the
        # missing part only.
        for n, first, second in ((0, 1, 0), (1, 1, 0), (2, 2, 1), (3, 1, 0)):
            name = 'file%03d.bin' % n
            self.assertEqual(first, self.gets(site, name), name)
            self.assertEqual(second, mirror.gets(name), name)
        self.assertEqual(1, mirror.gets('pkginfo.txt'))
        self.assertIn('parts: 1 fetched, 3 present', text)


class LocalPins(runs.RunTestCase):
    """A package component of two files, each pinned by its number."""
    FIRST = runs.data(3000, 51)
    SECOND = runs.data(5000, 52)

    def run_package(self, second_pin):
        log = os.path.join(self.work, 'run.log')
        paths = {}
        for name, content in (('first.bin', self.FIRST), ('second.bin', self.SECOND)):
            paths[name] = os.path.join(self.work, name)
            with open(paths[name], 'wb') as f:
                f.write(content)
        inf = ('[defs]\ncomponents=setup,data\nallowintervention=FALSE\n' + runs.SETUP_SECTION +
               '[data]\nname=Local data\nProtocol=selfext\nfiles=first.bin, second.bin\nDisplayOrder=2\n'
               'InstallOrder=10\ncount=2\ninstall1=copy,first.bin\ninstall2=copy,second.bin\n'
               'sha256_1=%s\nsha256_2=%s\n' % (hashlib.sha256(self.FIRST).hexdigest(), second_pin))
        program = cvtest.start('-log', cvtest.to_win(log), exe=runs.package(self.work, inf, paths))
        return program.wait(120), read_log(log)

    def installed(self, name):
        path = os.path.join(self.client, name)
        if not os.path.exists(path):
            return None
        with open(path, 'rb') as f:
            return f.read()

    def test_local_files_matching_their_pins_are_installed(self):
        code, text = self.run_package(hashlib.sha256(self.SECOND).hexdigest().upper())
        self.assertEqual(0, code, text)
        self.assertEqual(self.FIRST, self.installed('first.bin'))
        self.assertEqual(self.SECOND, self.installed('second.bin'))
        self.assertEqual(2, text.count('matches its pinned fingerprint'), text)
        self.assertNotIn(PIN_REFUSED, text)

    def test_local_file_differing_from_its_pin_is_refused_with_nothing_installed(self):
        # The first file matches; the second is pinned to other bytes.
        code, text = self.run_package(hashlib.sha256(self.SECOND + b'x').hexdigest())
        self.assertEqual(3, code, text)
        self.assertRegex(text, r'file \S*second\.bin of component data: it %s; nothing of it is installed'
                         % PIN_REFUSED)
        self.assertIn("Error: 'second.bin' from '", text)
        self.assertIsNone(self.installed('first.bin'))
        self.assertIsNone(self.installed('second.bin'))
        self.assertNotIn('installing component', text)


if __name__ == '__main__':
    unittest.main()
