"""Building blocks of the whole-run scenarios: components published on the
test tier's web and FTP servers, packages made with cvpack around the real
cvget.exe, the stand-in client setup, and the checks a run leaves to make
from outside (installed files, download folder, state file, shortcut)."""
import glob
import os
import shutil
import subprocess
import unittest
import uuid

import cvtest

HTTP_PORT = int(os.environ.get('CV_HTTP_PORT', '18080'))
PROXY_AUTH_PORT = int(os.environ.get('CV_PROXY_AUTH_PORT', '18089'))
PROXY_USER = os.environ.get('CV_PROXY_USER', 'proxyuser')
PROXY_PASSWORD = os.environ.get('CV_PROXY_PASSWORD', 'proxypass')
FTP_ADDR = os.environ.get('CV_FTP_ADDR', '127.0.0.21')
SRV_DIR = os.environ.get('CV_SRV_DIR', '')
WWW_DIR = os.environ.get('CV_WWW_DIR', '')
FTP_DIR = os.environ.get('CV_FTP_DIR', '')
CLIENT_SETUP = os.path.join(cvtest.BIN_DIR, 'cvclientsetup.exe')
FOLDER_KEY = r'HKEY_CURRENT_USER\Software\Corvane\CvGet'
APP_PATHS = r'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\corvane.exe'
PART_SIZE = 4096
ADMINISTRATORS = 'S-1-5-32-544'
SYSTEM = 'S-1-5-18'
DIALOG = 'Downloading Software...'
RESUMING = 'Resuming Download of Software...'


def data(size, seed):
    """Reproducible bytes that do not repeat within a part."""
    out = bytearray()
    n = seed
    while len(out) < size:
        n = (n * 1103515245 + 12345) & 0x7fffffff
        out += n.to_bytes(4, 'little')
    return bytes(out[:size])


def unique(prefix):
    return '%s%s' % (prefix, uuid.uuid4().hex[:8])


class Site:
    """A file published over HTTP in the part layout, under a fresh
    directory of the web root; parts can be held back and restored. A slow
    site is served at 32 KB/s per request (the web server's "slow/"); a
    protected one asks for Basic credentials, siteuser and sitepass (the web
    server's "auth/")."""

    def __init__(self, content, name='client.bin', part_size=PART_SIZE, slow=False, protected=False):
        self.dir_name = unique('e2e-')
        self.source_dir = ('slow/' if slow else 'auth/' if protected else '') + self.dir_name
        self.part_size = part_size
        self.directory = os.path.join(WWW_DIR, 'auth' if protected else '', self.dir_name)
        self.content = content
        self.name = name
        source = os.path.join(cvtest.scratch_dir(self.dir_name), name)
        with open(source, 'wb') as f:
            f.write(content)
        r = subprocess.run([cvtest.CVPACK, 'split', source, self.directory, '--part-size',
                            str(part_size)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if r.returncode != 0:
            raise AssertionError('cvpack split failed: %s' % r.stdout)
        self.held = {}
        self.held_parts = set()

    @property
    def parts(self):
        return (len(self.content) + self.part_size - 1) // self.part_size

    def part_path(self, n):
        return os.path.join(self.directory, 'file%03d.bin' % n)

    def hold_back(self, n):
        """Removes part n, so that a fetch stays on it (retrying) until the
        part is restored."""
        with open(self.part_path(n), 'rb') as f:
            self.held[n] = f.read()
        self.held_parts.add(n)
        os.unlink(self.part_path(n))

    def restore(self, n):
        with open(self.part_path(n), 'wb') as f:
            f.write(self.held.pop(n))

    def set_total_sum(self, value):
        path = os.path.join(self.directory, 'pkginfo.txt')
        with open(path, 'rb') as f:
            lines = f.read().decode('latin-1').splitlines()
        lines = ['total_sum=%s' % value if l.strip().startswith('total_sum') else l for l in lines]
        with open(path, 'wb') as f:
            f.write('\r\n'.join(lines).encode('latin-1') + b'\r\n')

    def requests(self, what, status=None):
        """Requests the web server has logged for a file of this site (with
        that answer status, when one is given)."""
        return access_count('/%s/%s' % (self.dir_name, what), status)

    def remove(self):
        shutil.rmtree(self.directory, ignore_errors=True)


def access_logs():
    return [p for p in glob.glob(os.path.join(SRV_DIR, '**', '*access*.log'), recursive=True)
            if 'nginx' in p.lower() or 'http' in p.lower()]


def access_count(path_part, status=None):
    count = 0
    for log in access_logs():
        with open(log, 'rb') as f:
            for line in f.read().decode('latin-1').splitlines():
                # ... "GET /dir/file000.bin HTTP/1.0" 200 4096 ...
                if path_part not in line:
                    continue
                if status is not None:
                    after = line.split('" ', 1)[1].split(' ') if '" ' in line else ['']
                    if after[0] != str(status):
                        continue
                count += 1
    return count


def scramble(text):
    r = subprocess.run([cvtest.CVPACK, 'scramble', text], stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT)
    if r.returncode != 0:
        raise AssertionError('cvpack scramble failed: %s' % r.stdout)
    return r.stdout.decode('latin-1').strip()


def http_section(name, site, display, install_order, extra='', host='127.0.0.1'):
    return ('[%s]\nname=%s data\nsize=%d\nProtocol=http\nsite=%s:%d\nsourceDir=%s\n'
            'files=%s\nDisplayOrder=%d\nInstallOrder=%d\ninstall1=copy,%s\n%s\n'
            % (name, name, (len(site.content) + 1023) // 1024, host, HTTP_PORT, site.source_dir,
               site.name, display, install_order, site.name, extra))


SETUP_SECTION = ('[setup]\nname=Client setup\nProtocol=selfext\nfiles=cvclientsetup.exe\n'
                 'DisplayOrder=1\nInstallOrder=50\ninstall1=run,cvclientsetup.exe,-success\n')


def package(directory, inf_text, extra_files=None, name='setup.exe'):
    """The real program with a package appended: the setup description
    "client.inf", the stand-in client setup and any extra files."""
    inf = os.path.join(directory, 'client.inf')
    with open(inf, 'wb') as f:
        f.write(inf_text.replace('\r\n', '\n').replace('\n', '\r\n').encode('latin-1'))
    out = os.path.join(directory, name)
    args = [cvtest.CVPACK, 'pack', out, cvtest.CVGET, 'client.inf=' + inf,
            'cvclientsetup.exe=' + CLIENT_SETUP]
    for n, p in (extra_files or {}).items():
        args.append('%s=%s' % (n, p))
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0:
        raise AssertionError('cvpack pack failed: %s' % r.stdout)
    return out


def client_folder():
    """An installed client (App Paths entry) whose Program folder receives
    the copies of the install actions; returns that folder's Unix path."""
    name = 'e2eclient'
    root = os.path.join(cvtest.PREFIX, 'drive_c', name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, 'Program'))
    cvtest.reg_add(APP_PATHS, 'Path', 'C:\\%s\\Program' % name)
    return os.path.join(root, 'Program')


def download_folder():
    """Unix path of the download folder recorded in the registry, or None."""
    value = cvtest.reg_query(FOLDER_KEY, 'Path')
    return cvtest.unix_path(value) if value else None


def state_values():
    """The state file as {section.key: value}, or None when it is absent."""
    path = cvtest.state_file()
    if not os.path.exists(path):
        return None
    values = {}
    section = ''
    for line in read_state_text(path).splitlines():
        line = line.strip()
        if line.startswith('[') and line.endswith(']'):
            section = line[1:-1].lower()
        elif '=' in line:
            k, _, v = line.partition('=')
            values['%s.%s' % (section, k.strip().lower())] = v.strip()
    return values


def read_state_text(path):
    """The state file's text: UTF-16 after its mark (as the program makes
    it where it runs in UTF-8), else the legacy code page of the prefix."""
    with open(path, 'rb') as f:
        raw = f.read()
    if raw.startswith(b'\xff\xfe'):
        return raw[2:].decode('utf-16-le')
    return raw.decode('cp1252', errors='replace')


def dialog_status(title=DIALOG):
    _, children = cvtest.texts(title=title)
    for c in children:
        if c['id'] == 1002:
            return c['text']
    return ''


def wait_status(part, title=DIALOG, timeout=30):
    cvtest.wait_until(lambda: part in dialog_status(title), timeout,
                      'status containing %r' % part)


def wait_requested(site, what, count=1, timeout=30):
    cvtest.wait_until(lambda: site.requests(what) >= count, timeout,
                      'request of %s' % what)


class RunTestCase(unittest.TestCase):
    """Resets the prefix around each scenario and stops what it started."""

    def setUp(self):
        cvtest.reset()
        self.client = client_folder()
        self.work = cvtest.scratch_dir(self.id().split('.')[-1])
        self.sites = []

    def tearDown(self):
        cvtest.kill_started()
        for s in self.sites:
            s.remove()
        cvtest.reset()

    def site(self, size, seed, name='client.bin', **kw):
        s = Site(data(size, seed), name, **kw)
        self.sites.append(s)
        return s

    def assertInstalled(self, site):
        path = os.path.join(self.client, site.name)
        self.assertTrue(os.path.exists(path), path)
        with open(path, 'rb') as f:
            self.assertEqual(site.content, f.read(), 'installed %s differs' % site.name)

    def assertOwnFolder(self, path):
        """The folder's access list, as the system gives it back, grants
        nobody but the account the program runs as, the Administrators and
        SYSTEM. (Wine keeps no access list: it reads one back from the
        folder's Unix mode, which tells the owner's and everyone's access;
        a folder made plainly there lets everyone read.)"""
        found = cvtest.access_list(path)
        allowed = {found['user'], ADMINISTRATORS, SYSTEM}
        self.assertTrue(found['aces'], found)
        for kind, sid, mask, flags in found['aces']:
            self.assertIn(sid, allowed, '%s grants %x to %s' % (path, mask, sid))
        self.assertIn(found['owner'], allowed)

    def assertCleanedUp(self):
        self.assertIsNone(cvtest.reg_query(FOLDER_KEY, 'Path'))
        self.assertEqual([], cvtest.shortcut_files())
        self.assertFalse(os.path.exists(cvtest.state_file()))

    def shortcut(self):
        files = cvtest.shortcut_files()
        self.assertEqual(1, len(files), files)
        return cvtest.read_shortcut(files[0])
