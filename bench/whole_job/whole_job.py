"""The whole-job benchmark's work (bench/whole_job/run starts the servers,
the display and Wine first): publishes a component of N MiB over HTTP (cut
into parts with cvpack split) and over FTP, runs the real program on each
unattended and curl on the same work, checks the program's file byte for
byte, and prints the times, the ratios and the program's peak memory at N
and at N/4 MiB.

Arguments: SIZE_MIB CVGET CVPACK WORK. Environment: BENCH_ROUNDS (3), and
the settings of scripts/env.sh."""
import filecmp
import glob
import os
import re
import shutil
import subprocess
import sys
import time

MIB = 1024 * 1024
PART_SIZE = MIB
ROUNDS = int(os.environ.get('BENCH_ROUNDS', '3'))
WINE = os.environ['CV_WINE']
PREFIX = os.environ['WINEPREFIX']
HTTP_PORT = int(os.environ['CV_HTTP_PORT'])
FTP_ADDR = os.environ['CV_FTP_ADDR']
WWW_DIR = os.environ['CV_WWW_DIR']
FTP_DIR = os.environ['CV_FTP_DIR']
# A run that has not ended by then has failed (a message box waits, or the
# fetch hangs).
RUN_LIMIT = 600
last_cpu = 0.0


def win_path(path):
    return 'Z:' + path.replace('/', '\\')


def load():
    with open('/proc/loadavg') as f:
        return ' '.join(f.read().split()[:3])


def timed(cmd, log, cwd=None):
    """Runs a command to its end; wall seconds, exit status and the peak
    resident memory of the process in MiB."""
    with open(log, 'wb') as out:
        start = time.perf_counter()
        p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                             cwd=cwd)
        deadline = start + RUN_LIMIT
        while True:
            pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            if time.perf_counter() > deadline:
                p.kill()
                pid, status, usage = os.wait4(p.pid, 0)
                raise SystemExit('whole_job: %s did not end within %d s (log %s)' % (cmd, RUN_LIMIT, log))
            time.sleep(0.005)
        seconds = time.perf_counter() - start
    p.returncode = os.waitstatus_to_exitcode(status)
    # The processor time it took, which other work on a shared machine
    # changes less than the wall time.
    global last_cpu
    last_cpu = usage.ru_utime + usage.ru_stime
    return seconds, p.returncode, usage.ru_maxrss / 1024.0


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


def reset_prefix():
    """What a finished or kept run leaves in the prefix: the state file
    (whose complete=1 would hide the next run's window) and the resume
    shortcut."""
    for path in glob.glob(os.path.join(PREFIX, 'drive_c', 'windows', 'tessark.ini')):
        os.unlink(path)
    for path in glob.glob(os.path.join(PREFIX, 'drive_c', 'users', '**', 'Corvane Lite Installer.lnk'),
                          recursive=True):
        os.unlink(path)


def write_setup(directory, section, components='data'):
    text = '[defs]\ncomponents=%s\nallowintervention=FALSE\n' % components + section
    path = os.path.join(directory, 'setup.inf')
    with open(path, 'wb') as f:
        f.write(text.replace('\n', '\r\n').encode('latin-1'))
    return path


def drop_strong_sums(directory):
    """Takes the [sha256] section out of a part list, which leaves it as
    lists without strong sums are: checked by the 32-bit sums only."""
    path = os.path.join(directory, 'pkginfo.txt')
    with open(path, 'rb') as f:
        lines = f.read().decode('latin-1').splitlines()
    kept, inside = [], False
    for line in lines:
        if line.startswith('['):
            inside = line.strip().lower() == '[sha256]'
        if not inside:
            kept.append(line)
    with open(path, 'wb') as f:
        f.write('\r\n'.join(kept).encode('latin-1') + b'\r\n')


class Job:
    def __init__(self, kind, size_mib, cvget, cvpack, work, strong=True):
        self.kind = kind
        self.size = size_mib * MIB
        self.cvget = cvget
        self.work = os.path.join(work, '%s-%d%s' % (kind, size_mib, '' if strong else '-weak'))
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.name = 'wj%d.bin' % size_mib
        self.transfers = []
        self.source = os.path.join(work, 'source-%d.bin' % size_mib)
        if not os.path.exists(self.source) or os.path.getsize(self.source) != self.size:
            with open(self.source, 'wb') as f:
                left = self.size
                while left:
                    block = os.urandom(min(left, 16 * MIB))
                    f.write(block)
                    left -= len(block)
        if kind == 'http':
            self.remote = 'wholejob-%d%s' % (size_mib, '' if strong else '-weak')
            self.published = os.path.join(WWW_DIR, self.remote)
            shutil.rmtree(self.published, ignore_errors=True)
            subprocess.run([cvpack, 'split', self.source, self.published, '--part-size', str(PART_SIZE)],
                           check=True, stdout=subprocess.DEVNULL)
            if not strong:
                drop_strong_sums(self.published)
            site, source_dir = '127.0.0.1:%d' % HTTP_PORT, self.remote
        else:
            self.published = os.path.join(FTP_DIR, self.name)
            shutil.copyfile(self.source, self.published)
            os.chmod(self.published, 0o644)
            site, source_dir = FTP_ADDR, ''
        self.section = ('[data]\nname=Data\nsize=%d\nProtocol=%s\nsite=%s\nsourceDir=%s\nfiles=%s\n'
                        'DisplayOrder=1\nInstallOrder=10\n' % (size_mib * 1024, kind, site, source_dir, self.name))

    def run_program(self, round_number):
        folder = os.path.join(self.work, 'run')
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        setup = write_setup(folder, self.section)
        reset_prefix()
        run_log = os.path.join(self.work, 'run-%d.log' % round_number)
        if os.path.exists(run_log):
            os.unlink(run_log)
        seconds, rc, peak = timed([WINE, self.cvget, '-log', win_path(run_log), '-inf', win_path(setup)],
                                  os.path.join(self.work, 'cvget-%d.log' % round_number), cwd=folder)
        self.transfers.append(transfer_seconds(run_log))
        fetched = os.path.join(folder, self.name)
        if not os.path.exists(fetched) or not filecmp.cmp(fetched, self.source, shallow=False):
            raise SystemExit('whole_job: the program\'s %s file differs from the source (exit %d)' %
                             (self.kind, rc))
        shutil.rmtree(folder, ignore_errors=True)
        reset_prefix()
        return seconds, peak

    def run_curl(self, round_number):
        folder = os.path.join(self.work, 'curl')
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        log = os.path.join(self.work, 'curl-%d.log' % round_number)
        if self.kind == 'http':
            # The part list, every part (one connection reused), the join and
            # the sum of the whole.
            base = 'http://127.0.0.1:%d/%s/' % (HTTP_PORT, self.remote)
            parts = sorted(n for n in os.listdir(self.published) if n.startswith('file'))
            config = os.path.join(self.work, 'curl.cfg')
            with open(config, 'w') as f:
                for n in ['pkginfo.txt'] + parts:
                    f.write('url = "%s%s"\noutput = "%s"\n' % (base, n, os.path.join(folder, n)))
            script = ('curl -s -f -K %s && cd %s && cat %s > joined && md5sum joined' %
                      (config, folder, ' '.join(parts)))
            seconds, rc, _ = timed(['bash', '-c', script], log)
            result = os.path.join(folder, 'joined')
        else:
            result = os.path.join(folder, self.name)
            seconds, rc, _ = timed(['curl', '-s', '-f', '--disable-epsv', '-o', result,
                                    'ftp://%s/%s' % (FTP_ADDR, self.name)], log)
        if rc != 0 or not filecmp.cmp(result, self.source, shallow=False):
            raise SystemExit('whole_job: curl\'s %s job failed or differs (log %s)' % (self.kind, log))
        shutil.rmtree(folder, ignore_errors=True)
        return seconds

    def remove(self):
        if self.kind == 'http':
            shutil.rmtree(self.published, ignore_errors=True)
        elif os.path.exists(self.published):
            os.unlink(self.published)
        shutil.rmtree(self.work, ignore_errors=True)


def transfer_seconds(run_log):
    """The program's own figure for the transfer (from the start of the
    fetch to the file in place), read from its run log; None where the
    program writes no log (an earlier build)."""
    try:
        with open(run_log, encoding='latin-1') as f:
            for line in f:
                m = re.search(r' fetched .* bytes in ([0-9.]+) s ', line)
                if m:
                    return float(m.group(1))
    except OSError:
        pass
    return None


def empty_run(cvget, work):
    """Start and end of the program with nothing to fetch: what Wine and
    the program's own start cost in every job."""
    folder = os.path.join(work, 'empty')
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    setup = write_setup(folder, '', components='')
    reset_prefix()
    best = min(timed([WINE, cvget, '-inf', win_path(setup)], os.path.join(folder, 'cvget.log'), cwd=folder)[0]
               for _ in range(ROUNDS))
    shutil.rmtree(folder, ignore_errors=True)
    return best


def main():
    size_mib, cvget, cvpack, work = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    quarter = max(1, size_mib // 4)
    print('whole_job: %d MiB, %s, best of %d rounds; load before: %s' % (size_mib, cvget, ROUNDS, load()))
    start_seconds = empty_run(cvget, work)
    print('  program start and end with nothing to fetch: %.3f s' % start_seconds)
    results = {}
    # What the strong sums cost: the same program on the same parts, with
    # and without the part list's [sha256] section, rounds taken in turn so
    # that both see the same load.
    strong, weak = Job('http', size_mib, cvget, cvpack, work), Job('http', size_mib, cvget, cvpack, work, False)
    with_sums, without_sums, cpu_with, cpu_without = [], [], [], []
    try:
        for r in range(ROUNDS):
            without_sums.append(weak.run_program(r)[0])
            cpu_without.append(last_cpu)
            with_sums.append(strong.run_program(r)[0])
            cpu_with.append(last_cpu)
    finally:
        strong.remove()
        weak.remove()
    for kind in ('http', 'ftp'):
        job = Job(kind, size_mib, cvget, cvpack, work)
        program, curl, peaks = [], [], []
        try:
            for r in range(ROUNDS):
                curl.append(job.run_curl(r))
                seconds, peak = job.run_program(r)
                program.append(seconds)
                peaks.append(peak)
        finally:
            job.remove()
        small = Job(kind, quarter, cvget, cvpack, work)
        try:
            small_peak = small.run_program(0)[1]
        finally:
            small.remove()
        results[kind] = (program, curl, max(peaks), small_peak, [t for t in job.transfers if t is not None])
    for path in glob.glob(os.path.join(work, 'source-*.bin')):
        os.unlink(path)

    goals = {'http': 1.0, 'ftp': 0.8}
    reference = {'http': 'curl + join + md5sum', 'ftp': 'curl'}
    for kind in ('http', 'ftp'):
        program, curl, peak, small_peak, transfers = results[kind]
        ratio = min(curl) / min(program)
        print('  %-4s cvget.exe %7.3f s  %-20s %7.3f s  ratio %.2f (goal %.1f: %s)   rounds: %s | %s' % (
            kind, min(program), reference[kind], min(curl), ratio, goals[kind],
            'met' if ratio >= goals[kind] else 'NOT met', ' '.join('%.3f' % t for t in program),
            ' '.join('%.3f' % t for t in curl)))
        if transfers:
            # What the program's own work costs, without the start and end
            # of the process and the dialog around it.
            print('       transfer alone (from the run log) %.3f s: %.2f of curl\'s whole job' %
                  (min(transfers), min(curl) / min(transfers)))
        growth = peak - small_peak
        print('       peak memory %.1f MiB at %d MiB, %.1f MiB at %d MiB: %+.1f MiB (goal < 16: %s)' % (
            peak, size_mib, small_peak, quarter, growth, 'met' if growth < 16 else 'NOT met'))
    print('  strong sums: http job %.3f s with the [sha256] section, %.3f s without: %+.1f%% (goal < 10%%: %s)'
          % (min(with_sums), min(without_sums), 100.0 * (min(with_sums) / min(without_sums) - 1),
             'met' if min(with_sums) < 1.1 * min(without_sums) else 'NOT met'))
    print('       rounds with: %s | without: %s' % (' '.join('%.3f' % t for t in with_sums),
                                                   ' '.join('%.3f' % t for t in without_sums)))
    print('       median %.3f s with, %.3f s without: %+.1f%%; processor time (median) %.3f s with, %.3f s '
          'without: %+.1f%%' % (median(with_sums), median(without_sums),
                               100.0 * (median(with_sums) / median(without_sums) - 1), median(cpu_with),
                               median(cpu_without), 100.0 * (median(cpu_with) / median(cpu_without) - 1)))
    a, b = [t for t in strong.transfers if t], [t for t in weak.transfers if t]
    if a and b:
        print('       transfer alone (from the run log) %.3f s with, %.3f s without: %+.1f%%'
              % (min(a), min(b), 100.0 * (min(a) / min(b) - 1)))
    print('  load after: %s' % load())


if __name__ == '__main__':
    main()
