"""The README's worked examples, run as written. A block marked
"<!-- run: NAME -->" is a shell session: lines after "$ " are commands
("> " lines continue one), the lines below a command are what it prints,
"..." standing for any text within a line. Each session runs in a fresh
folder with cvpack and the program of the build under test (CV_BIN) and
Wine as "wine"; every command must print what the README shows."""
import os
import re
import subprocess
import tempfile
import unittest

import cvtest
import runs

README = os.path.join(cvtest.SOURCE_DIR, 'README.md')


def sessions():
    """{name: [(command, [expected line, ...]), ...]} of the marked blocks."""
    with open(README, encoding='utf-8') as f:
        lines = f.read().splitlines()
    found = {}
    i = 0
    while i < len(lines):
        m = re.match(r'<!-- run: (\S+) -->$', lines[i])
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
        found[m.group(1)] = [(c, out) for c, out in steps]
    return found


def matches(expected, actual):
    pattern = '.*'.join(re.escape(part) for part in expected.split('...'))
    return re.fullmatch(pattern, actual) is not None


class ReadmeSessions(runs.RunTestCase):
    def run_session(self, name):
        steps = sessions().get(name)
        self.assertTrue(steps, 'README: no session "%s"' % name)
        shim = cvtest.scratch_dir('readme-wine')
        wine = os.path.join(shim, 'wine')
        with open(wine, 'w') as f:
            f.write('#!/bin/sh\nexec "%s" "$@"\n' % cvtest.WINE)
        os.chmod(wine, 0o755)
        marker = '@@readme-step@@'
        script = ''.join("printf '\\n%s\\n'\n%s\n" % (marker, command) for command, _ in steps)
        env = dict(cvtest._wine_env())
        env['PATH'] = os.pathsep.join([shim, os.path.dirname(cvtest.CVPACK), env.get('PATH', '')])
        env['CV_BIN'] = cvtest.BIN_DIR
        with tempfile.TemporaryFile(dir=self.work) as out:
            p = subprocess.Popen(['bash', '-c', script], cwd=self.work, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=subprocess.STDOUT, env=env)
            try:
                p.wait(timeout=240)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                self.fail('the README session "%s" did not end within 240 s' % name)
            out.seek(0)
            # Lines of the program's own files end in CR LF; a terminal
            # shows them as the README does.
            text = out.read().decode('utf-8', 'replace').replace('\r\n', '\n')
        printed = text.split('\n%s\n' % marker)[1:]
        self.assertEqual(len(steps), len(printed), text)
        for (command, expected), actual in zip(steps, printed):
            got = actual.rstrip('\n').split('\n') if actual.rstrip('\n') else []
            self.assertEqual(len(expected), len(got),
                             '$ %s\nREADME shows:\n%s\nit printed:\n%s' % (command, '\n'.join(expected),
                                                                           '\n'.join(got)))
            for want, line in zip(expected, got):
                self.assertTrue(matches(want, line), '$ %s\nREADME shows: %s\nit printed:   %s' % (command, want,
                                                                                                    line))

    def test_publishing_walkthrough(self):
        self.run_session('publishing')


if __name__ == '__main__':
    unittest.main()
