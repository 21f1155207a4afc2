"""The README's worked examples, run as written. A block marked
"<!-- run: NAME -->" is a shell session: lines after "$ " are commands
("> " lines continue one), the lines below a command are what it prints,
"..." standing for any text within a line. "<!-- run: NAME, after
EARLIER -->" goes on where EARLIER ended, in its folder and its shell.
Each chain of sessions runs in a fresh folder with cvpack and the program
of the build under test (CV_BIN) and Wine as "wine"; every command must
print what the README shows."""
import os
import re
import signal
import subprocess
import tempfile
import unittest

import cvtest
import runs

README = os.path.join(cvtest.SOURCE_DIR, 'README.md')


def sessions():
    """[(name, earlier or None, [(command, [expected line, ...]), ...]), ...]
    of the marked blocks, in the README's order."""
    with open(README, encoding='utf-8') as f:
        lines = f.read().splitlines()
    found = []
    i = 0
    while i < len(lines):
        m = re.match(r'<!-- run: ([^\s,]+)(?:, after (\S+))? -->$', lines[i])
        i += 1
        if not m:
            continue
        if i >= len(lines) or not lines[i].startswith('```'):
            raise AssertionError('README: no code block after the marker of %s' % m.group(1))
        steps = []
        i += 1
        while i < len(lines) and not lines[i].startswith('```'):
            line = lines[i]
            if line.startswith('$ '):
                steps.append([line[2:], []])
            elif steps and (line == '>' or line.startswith('> ')) and not steps[-1][1]:
                steps[-1][0] += '\n' + line[2:]
            elif steps:
                steps[-1][1].append(line)
            else:
                raise AssertionError('README: %s begins with output, not a command' % m.group(1))
            i += 1
        found.append((m.group(1), m.group(2), [(c, out) for c, out in steps]))
    return found


def chain(first):
    """The steps of the session "first" and of every session after it,
    each step with the name of its session."""
    known = sessions()
    names = [name for name, _, _ in known]
    if len(set(names)) != len(names):
        raise AssertionError('README: two sessions of one name in %s' % names)
    order = [first]
    for name, earlier, _ in known:
        if earlier is not None and earlier not in names[:names.index(name)]:
            raise AssertionError('README: %s comes after "%s", which is not an earlier session' % (name, earlier))
        if earlier in order:
            order.append(name)
    steps = dict((name, s) for name, _, s in known)
    if first not in steps or not steps[first]:
        raise AssertionError('README: no session "%s"' % first)
    return [(name, command, out) for name in order for command, out in steps[name]]


def matches(expected, actual):
    pattern = '.*'.join(re.escape(part) for part in expected.split('...'))
    return re.fullmatch(pattern, actual) is not None


class ReadmeSessions(runs.RunTestCase):
    # The chains the tests below run, by their first session.
    CHAINS = ('publishing', 'http-component')

    def run_chain(self, first):
        steps = chain(first)
        shim = cvtest.scratch_dir('readme-wine')
        wine = os.path.join(shim, 'wine')
        with open(wine, 'w') as f:
            f.write('#!/bin/sh\nexec "%s" "$@"\n' % cvtest.WINE)
        os.chmod(wine, 0o755)
        marker = '@@readme-step@@'
        script = ''.join("printf '\\n%s\\n'\n%s\n" % (marker, command) for _, command, _ in steps)
        env = dict(cvtest._wine_env())
        env['PATH'] = os.pathsep.join([shim, os.path.dirname(cvtest.CVPACK), env.get('PATH', '')])
        env['CV_BIN'] = cvtest.BIN_DIR
        with tempfile.TemporaryFile(dir=self.work) as out:
            # Its own process group: what a session that hangs started (a
            # web server it would stop at its end) ends with it. A session
            # that ends has stopped what it started; the group then also
            # holds the Wine services its first program brought up, which
            # stay.
            p = subprocess.Popen(['bash', '-c', script], cwd=self.work, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=subprocess.STDOUT, env=env, start_new_session=True)
            try:
                p.wait(timeout=240)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
                self.fail('the README sessions from "%s" did not end within 240 s' % first)
            out.seek(0)
            # Lines of the program's own files end in CR LF; a terminal
            # shows them as the README does.
            text = out.read().decode('utf-8', 'replace').replace('\r\n', '\n')
        printed = text.split('\n%s\n' % marker)[1:]
        self.assertEqual(len(steps), len(printed), text)
        for (name, command, expected), actual in zip(steps, printed):
            # Wine's remarks about the host ("wine: Read access denied for
            # device ...") come when they will, not from the program.
            got = [line for line in actual.rstrip('\n').split('\n') if not line.startswith('wine: ')]
            got = got if got != [''] else []
            self.assertEqual(len(expected), len(got),
                             '%s: $ %s\nREADME shows:\n%s\nit printed:\n%s' % (name, command, '\n'.join(expected),
                                                                               '\n'.join(got)))
            for want, line in zip(expected, got):
                self.assertTrue(matches(want, line), '%s: $ %s\nREADME shows: %s\nit printed:   %s'
                                % (name, command, want, line))

    def test_every_session_is_run(self):
        # A marked block outside every chain the tests run would be
        # shown as run and never be.
        run = set()
        for first in self.CHAINS:
            run |= set(name for name, _, _ in chain(first))
        self.assertEqual(set(name for name, _, _ in sessions()), run)

    def test_publishing_walkthrough(self):
        self.run_chain('publishing')

    def test_http_component_published_checked_and_fetched(self):
        self.run_chain('http-component')


if __name__ == '__main__':
    unittest.main()
