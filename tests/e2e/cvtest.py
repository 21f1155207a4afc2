"""Helpers of the end-to-end scenarios: the real cvget.exe under Wine,
started as a user would and checked from outside.

Environment (set by ctest, see CMakeLists.txt): CV_CVGET (the program the
scenarios run), CV_SHIPPED_CVGET (the 32-bit build), CV_CVDRIVE, CV_CVPACK,
CV_BIN_DIR, CV_SOURCE_DIR, CV_RESULTS_DIR (logs go to its e2e/), and Wine's
CV_WINE, WINEPREFIX, DISPLAY from scripts/env.sh. CV_E2E_CASE=Class.method
runs that one case of the file.

  Program(args)          start cvget.exe (or another exe=) in the background;
    .wait(timeout)       its exit code, AssertionError after the bound
    .running(), .kill(), .output()
  start(*args)           shortcut for Program(list(args))
  drive(cmd, *args)      run the driver; returns Driven(rc, text)
  wait_window(title=, cls=, text=, timeout=)  a dict (hwnd, pid, class, ...)
  window_gone(...), windows(...), texts(...), click(button, ...),
  post(msg, w, l, ...), send(...), listview(control, ...), answer(text, button)
  open_tray(), quit_tray()  the tray's Open and Quit commands
  reg_query(key, value), reg_add(key, value, data, kind), reg_delete(key, value)
  win_path('windows'|'temp'|'csidl:N'), unix_path(winpath), to_win(unixpath)
  windows_dir(), temp_dir(), startup_dirs(), shortcut_files(), read_shortcut(p)
  reg_key_exists(key), find_window(...) (None when absent)
  access_list(path)      the access list the system gives back for a path
  state_file()           Unix path of tessark.ini in the Windows directory
  reset()                clear what the program leaves in the prefix
  scratch_dir(name)      an empty Unix directory for one scenario
  write_setup(dir, text) a setup description (CRLF); returns its Windows path
  wait_until(pred, timeout)  poll an outside condition with a bound

Window options of the helpers: title= (exact), title_part=, cls=, text=
(a child's text contains it), pid= (Windows process id), hwnd=, visible=.
Every wait is for a condition and has a bound; nothing waits a fixed time
in the hope that something happened meanwhile.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# One case of the scenario file ctest starts ("Class.method"): the files
# end with unittest.main(), which reads the case from the arguments.
if os.environ.get('CV_E2E_CASE') and __name__ != '__main__':
    sys.argv[1:] = [os.environ['CV_E2E_CASE']]

WINE = os.environ.get('CV_WINE', 'wine')
PREFIX = os.environ.get('WINEPREFIX', '')
CVGET = os.environ.get('CV_CVGET', '')
CVDRIVE = os.environ.get('CV_CVDRIVE', '')
CVPACK = os.environ.get('CV_CVPACK', '')
BIN_DIR = os.environ.get('CV_BIN_DIR', '')
SOURCE_DIR = os.environ.get('CV_SOURCE_DIR', '')
WORK_DIR = os.path.join(os.environ.get('CV_RESULTS_DIR', tempfile.gettempdir()), 'e2e')

TRAY_CLASS = 'CV_TESSARK_TRAY_CLASS'
SHORTCUT_NAME = 'Corvane Lite Installer.lnk'
APP_KEYS = (r'HKEY_CURRENT_USER\Software\Corvane', r'HKEY_LOCAL_MACHINE\Software\Corvane')
CSIDL_STARTUP = 7
CSIDL_COMMON_STARTUP = 24

_started = []


def _wine_env():
    env = dict(os.environ)
    env.setdefault('WINEDEBUG', '-all')
    return env


def _run(cmd, timeout):
    """Runs a command to its end with output through a file (a pipe would
    be held open by Wine's helper processes)."""
    os.makedirs(WORK_DIR, exist_ok=True)
    with tempfile.TemporaryFile(dir=WORK_DIR) as f:
        p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT,
                             env=_wine_env())
        try:
            rc = p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            raise AssertionError('%s did not end within %ss' % (cmd, timeout))
        f.seek(0)
        return rc, f.read().decode('latin-1')


class Program:
    """A Windows program running under Wine in the background."""

    def __init__(self, args=(), exe=None, cwd=None, name='cvget'):
        os.makedirs(WORK_DIR, exist_ok=True)
        self.exe = exe or CVGET
        self.args = list(args)
        self.log = tempfile.NamedTemporaryFile(dir=WORK_DIR, prefix=name + '-', suffix='.log',
                                               delete=False)
        self.proc = subprocess.Popen([WINE, self.exe] + self.args, stdin=subprocess.DEVNULL,
                                     stdout=self.log, stderr=subprocess.STDOUT, cwd=cwd,
                                     env=_wine_env())
        _started.append(self)

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=30):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError('%s %s still running after %ss' % (self.exe, self.args, timeout))

    def kill(self):
        if self.running():
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()

    def output(self):
        self.log.flush()
        with open(self.log.name, 'rb') as f:
            return f.read().decode('latin-1')


def start(*args, **kw):
    return Program(list(args), **kw)


def kill_started():
    for p in _started:
        p.kill()
    del _started[:]


class Driven:
    def __init__(self, rc, text):
        self.rc = rc
        self.text = text

    @property
    def lines(self):
        return [l for l in self.text.splitlines() if l]

    def __repr__(self):
        return 'Driven(rc=%d, %r)' % (self.rc, self.text)


def drive(command, *args, timeout=60):
    """Runs one driver command; its output arrives through a file."""
    os.makedirs(WORK_DIR, exist_ok=True)
    fd, out = tempfile.mkstemp(dir=WORK_DIR, prefix='drive-', suffix='.txt')
    os.close(fd)
    try:
        rc, console = _run([WINE, CVDRIVE, to_win(out), command] + [str(a) for a in args], timeout)
        with open(out, 'rb') as f:
            text = f.read().decode('utf-8', errors='replace')  # the driver writes UTF-8
        return Driven(rc, text or console)
    finally:
        os.unlink(out)


def _window_options(title=None, title_part=None, cls=None, text=None, pid=None, hwnd=None,
                    visible=False, timeout=10):
    o = []
    if title is not None:
        o += ['-t', title]
    if title_part is not None:
        o += ['-ts', title_part]
    if cls is not None:
        o += ['-c', cls]
    if text is not None:
        o += ['-s', text]
    if pid is not None:
        o += ['-p', str(pid)]
    if hwnd is not None:
        o += ['-w', str(hwnd)]
    if visible:
        o += ['-v']
    o += ['-T', str(int(timeout * 1000))]
    return o


_ESCAPED = {'n': '\n', 'r': '\r', 't': '\t', '\\': '\\'}


def _unescape(s):
    # One pass from the left: in "\\t" (an escaped backslash, then "t")
    # the "t" is a letter, not half of a tab.
    return re.sub(r'\\(.)', lambda m: _ESCAPED.get(m.group(1), m.group(0)), s)


def _describe(line):
    d = {}
    for part in line.split('\t'):
        k, _, v = part.partition('=')
        d[k] = _unescape(v)
    d['pid'] = int(d.get('pid', '0'))
    d['visible'] = d.get('visible') == '1'
    return d


def wait_window(timeout=10, **kw):
    """The first window matching the options, waited for up to `timeout` s;
    AssertionError when none appears."""
    r = drive('wait', *_window_options(timeout=timeout, **kw), timeout=timeout + 30)
    if r.rc != 0:
        raise AssertionError('no window %r within %ss: %s' % (kw, timeout, r.text.strip()))
    return _describe(r.lines[0])


def find_window(**kw):
    """The first matching window now, or None."""
    found = windows(**kw)
    return found[0] if found else None


def window_gone(timeout=10, **kw):
    r = drive('gone', *_window_options(timeout=timeout, **kw), timeout=timeout + 30)
    return r.rc == 0


def windows(**kw):
    kw.setdefault('timeout', 0)
    r = drive('windows', *_window_options(**kw))
    return [_describe(l) for l in r.lines if l.startswith('hwnd=')]


def texts(timeout=10, **kw):
    """The window (dict) and its children: list of dicts id, cls, text,
    visible, enabled."""
    r = drive('texts', *_window_options(timeout=timeout, **kw), timeout=timeout + 30)
    if r.rc != 0:
        raise AssertionError('no window %r: %s' % (kw, r.text.strip()))
    lines = r.lines
    children = []
    for l in lines[1:]:
        f = l.split('\t')
        while len(f) < 5:
            f.append('')
        children.append({'id': int(f[0]), 'cls': f[1], 'text': _unescape(f[2]),
                         'visible': f[3] == '1', 'enabled': f[4] == '1'})
    return _describe(lines[0]), children


def click(button, bm=False, timeout=10, **kw):
    r = drive('clickbm' if bm else 'click', *_window_options(timeout=timeout, **kw), button,
              timeout=timeout + 30)
    if r.rc != 0:
        raise AssertionError('cannot click %r in %r: %s' % (button, kw, r.text.strip()))


def post(message, wparam=0, lparam=0, timeout=10, **kw):
    r = drive('post', *_window_options(timeout=timeout, **kw), message, wparam, lparam,
              timeout=timeout + 30)
    if r.rc != 0:
        raise AssertionError('cannot post %s to %r: %s' % (message, kw, r.text.strip()))


def send(message, wparam=0, lparam=0, timeout=10, **kw):
    r = drive('send', *_window_options(timeout=timeout, **kw), message, wparam, lparam,
              timeout=timeout + 30)
    if r.rc != 0:
        raise AssertionError('cannot send %s to %r: %s' % (message, kw, r.text.strip()))
    return int(r.lines[0].split('=', 1)[1])


def listview(control=1000, timeout=10, **kw):
    """(header cells, rows of cells) of a list view in another process."""
    r = drive('listview', *_window_options(timeout=timeout, **kw), control, timeout=timeout + 30)
    if r.rc != 0:
        raise AssertionError('cannot read list %s of %r: %s' % (control, kw, r.text.strip()))
    header, rows = [], []
    for l in r.lines:
        f = [_unescape(x) for x in l.split('\t')]
        if f[0] == 'header':
            header = f[1:]
        elif f[0] == 'row':
            rows.append(f[1:])
    return header, rows


def answer(text, button, timeout=15, **kw):
    """Waits for a message box whose text contains `text` and presses
    `button` (ok, cancel, yes, no or an id). Returns (caption, its texts)."""
    kw.setdefault('cls', '#32770')
    r = drive('answer', *_window_options(text=text, timeout=timeout, **kw), button,
              timeout=timeout + 30)
    if r.rc != 0:
        raise AssertionError('no message box with %r within %ss' % (text, timeout))
    lines = r.lines
    window = _describe(lines[0])
    return window.get('title', ''), [_unescape(l.split('\t')[2]) for l in lines[1:]
                                     if len(l.split('\t')) > 2]


def open_tray(**kw):
    """The tray's Open command, as a double-click or the menu sends it."""
    post('WM_COMMAND', 40003, 0, title=TRAY_CLASS, cls=TRAY_CLASS, **kw)


def quit_tray(**kw):
    post('WM_COMMAND', 40002, 0, title=TRAY_CLASS, cls=TRAY_CLASS, **kw)


def _run_wine_tool(cmd, timeout):
    """Runs one of Wine's own console tools (reg). On a loaded machine Wine
    now and then fails to start the tool at all ("Application could not be
    started"); that says nothing about the registry, so the start is tried
    again, a bounded number of times."""
    for _ in range(3):
        rc, text = _run(cmd, timeout)
        if rc == 0 or 'could not be started' not in text:
            break
    return rc, text


# --- registry -------------------------------------------------------------

def reg_query(key, value):
    """Text of a registry value, or None when the key or value is missing."""
    rc, text = _run_wine_tool([WINE, 'reg', 'query', key, '/v', value], 60)
    if rc != 0:
        return None
    for line in text.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[0].lower() == value.lower() and parts[1].startswith('REG_'):
            return parts[2] if len(parts) > 2 else ''
    return None


def reg_key_exists(key):
    rc, _ = _run_wine_tool([WINE, 'reg', 'query', key], 60)
    return rc == 0


def reg_add(key, value, data, kind='REG_SZ'):
    rc, text = _run_wine_tool([WINE, 'reg', 'add', key, '/v', value, '/t', kind, '/d', str(data), '/f'], 60)
    if rc != 0:
        raise AssertionError('reg add %s %s failed: %s' % (key, value, text))


def reg_delete(key, value=None):
    cmd = [WINE, 'reg', 'delete', key] + (['/v', value] if value else []) + ['/f']
    _run_wine_tool(cmd, 60)


# --- paths ----------------------------------------------------------------

def unix_path(winpath):
    """The Unix path of a path of the prefix (drive letter through
    dosdevices)."""
    if len(winpath) < 2 or winpath[1] != ':':
        raise ValueError('not a drive path: %r' % winpath)
    drive_dir = os.path.realpath(os.path.join(PREFIX, 'dosdevices', winpath[0].lower() + ':'))
    rest = winpath[2:].replace('\\', '/').lstrip('/')
    return _match_case(drive_dir, rest)


def _match_case(base, rest):
    """Windows names are case-blind; find each part as it is on disk."""
    path = base
    for part in [p for p in rest.split('/') if p]:
        candidate = os.path.join(path, part)
        if not os.path.exists(candidate) and os.path.isdir(path):
            for name in os.listdir(path):
                if name.lower() == part.lower():
                    candidate = os.path.join(path, name)
                    break
        path = candidate
    return path


def to_win(unixpath):
    """A Unix path as Windows programs see it (drive Z:)."""
    return 'Z:' + os.path.abspath(unixpath).replace('/', '\\')


_paths = None


def win_path(what):
    """A folder of the prefix as Windows names it: 'windows', 'temp',
    'system' or 'csidl:N'. Kept in a small cache beside the prefix."""
    global _paths
    cache = os.path.join(PREFIX, '.cvtest-paths.json')
    if _paths is None:
        try:
            with open(cache) as f:
                _paths = json.load(f)
        except (OSError, ValueError):
            _paths = {}
    if what not in _paths:
        r = drive('path', what)
        if r.rc != 0:
            raise AssertionError('no path %s: %s' % (what, r.text))
        _paths[what] = r.lines[0]
        with open(cache, 'w') as f:
            json.dump(_paths, f)
    return _paths[what]


def windows_dir():
    return unix_path(win_path('windows'))


def temp_dir():
    return unix_path(win_path('temp'))


def startup_dirs():
    """The user's and all users' Startup folders (Unix paths)."""
    return [unix_path(win_path('csidl:%d' % CSIDL_STARTUP)),
            unix_path(win_path('csidl:%d' % CSIDL_COMMON_STARTUP))]


def shortcut_files():
    """Resume shortcuts present now, in either Startup folder."""
    found = []
    for d in startup_dirs():
        p = os.path.join(d, SHORTCUT_NAME)
        if os.path.exists(p):
            found.append(p)
    return found


def read_shortcut(path):
    """(target, arguments) of a shell link, read through the shell."""
    r = drive('lnk', to_win(path) if path.startswith('/') else path)
    if r.rc != 0:
        raise AssertionError('cannot read shortcut %s: %s' % (path, r.text))
    d = {}
    for line in r.lines:
        k, _, v = line.partition('=')
        d[k] = v
    return d.get('path', ''), d.get('args', '')


def access_list(path):
    """The access list of a file or folder (Unix or Windows path) as the
    system gives it back: a dict with 'user' (the driver's own user SID,
    the same account the program runs as), 'owner', 'control' (int) and
    'aces', a list of (type, sid, mask, flags)."""
    r = drive('acl', to_win(path) if path.startswith('/') else path)
    if r.rc != 0:
        raise AssertionError('no access list of %s: %s' % (path, r.text))
    found = {'aces': []}
    for line in r.lines:
        k, _, v = line.partition('=')
        if k == 'ace':
            kind, sid, mask, flags = v.split(' ')
            found['aces'].append((int(kind), sid, int(mask, 16), int(flags, 16)))
        elif k == 'control':
            found[k] = int(v, 16)
        else:
            found[k] = v
    return found


def state_file():
    """Unix path of the state file in the Windows directory (may not exist)."""
    return _match_case(windows_dir(), 'tessark.ini')


# --- scenario set-up ------------------------------------------------------

def scratch_dir(name):
    d = os.path.join(WORK_DIR, name)
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    return d


def _remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path, ignore_errors=True)
    elif os.path.lexists(path):
        os.unlink(path)


def reset():
    """Clears what a run leaves behind: the programs this script started,
    the program's registry keys, the state file, the resume shortcuts and
    leftover working folders ("ins*.tmp" in the temporary directory)."""
    kill_started()
    for key in APP_KEYS:
        reg_delete(key)
    _remove(state_file())
    for p in shortcut_files():
        _remove(p)
    tmp = temp_dir()
    if os.path.isdir(tmp):
        for name in os.listdir(tmp):
            # Download folders ("inst...") and package folders ("INS...").
            if name.lower().startswith('ins') and name.lower().endswith('.tmp'):
                _remove(os.path.join(tmp, name))


def write_setup(directory, text, name='setup.inf'):
    """Writes a setup description with Windows line ends; returns its
    Windows path."""
    path = os.path.join(directory, name)
    with open(path, 'wb') as f:
        f.write(text.replace('\r\n', '\n').replace('\n', '\r\n').encode('latin-1'))
    return to_win(path)


def wait_until(predicate, timeout=10, what='condition'):
    """Polls a condition of the outside world (files, registry) until the
    bound; AssertionError when it never holds."""
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return
        if time.monotonic() >= deadline:
            raise AssertionError('%s not reached within %ss' % (what, timeout))
        time.sleep(0.1)
