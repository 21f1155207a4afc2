"""The whole job on an emulated wide-area link (bench/wan/run starts the
servers, the display and Wine first): an "http" component of N MiB in parts
of 1 MiB, published on the tier's nginx (plain and TLS), fetched by the real
program unattended and by curl (one process, every URL, the connection kept
alive, then the join and the sum), each through a fresh link of the same
profile (bench/wan/link.py). Checks the program's file byte for byte and
prints both times, the ratio, the link's own limit (bytes / bandwidth), the
share of it the program reached, and the connections each opened.

Arguments: CVGET CVPACK WORK [PROFILE ...], a profile being
RTT_MS/MBIT/SIZE_MIB (default: 40/100/48 150/20/24). Environment:
BENCH_ROUNDS (2), BENCH_SCHEMES (http,https), the settings of scripts/env.sh."""
import filecmp
import json
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'whole_job'))
import whole_job  # noqa: E402  (its run helpers: timed, reset_prefix, write_setup, ...)

MIB = 1024 * 1024
ROUNDS = int(os.environ.get('BENCH_ROUNDS', '2'))
SCHEMES = os.environ.get('BENCH_SCHEMES', 'http,https').split(',')
WWW_DIR = os.environ['CV_WWW_DIR']
TLS_DIR = os.environ['CV_TLS_DIR']
UPSTREAM = {'http': int(os.environ['CV_HTTP_PORT']), 'https': int(os.environ['CV_HTTPS_PORT'])}
LINK_PORT = int(os.environ['CV_PORT_BASE']) + 700
LINK = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'link.py')


class Link:
    """A fresh emulated link in front of one upstream port."""

    def __init__(self, scheme, rtt_ms, mbit, work):
        self.stats = os.path.join(work, 'link-stats.json')
        if os.path.exists(self.stats):
            os.unlink(self.stats)
        self.process = subprocess.Popen(
            [sys.executable, LINK, '--listen', str(LINK_PORT), '--target', '127.0.0.1:%d' % UPSTREAM[scheme],
             '--rtt-ms', str(rtt_ms), '--mbit', str(mbit), '--stats', self.stats],
            stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(self.stats):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise SystemExit('wan: the emulated link did not start')
            time.sleep(0.02)
        # Listening once the port answers.
        while subprocess.run(['bash', '-c', 'exec 3<>/dev/tcp/127.0.0.1/%d' % LINK_PORT],
                             stderr=subprocess.DEVNULL).returncode != 0:
            if time.monotonic() > deadline:
                raise SystemExit('wan: the emulated link does not listen')
            time.sleep(0.02)
        # That probe was a connection too: counted from here on.
        self.base = 0
        while self.base < 1:
            if time.monotonic() > deadline:
                raise SystemExit('wan: the emulated link does not count connections')
            time.sleep(0.02)
            with open(self.stats) as f:
                self.base = json.load(f)['connections']

    def close(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(10)
        with open(self.stats) as f:
            return json.load(f)['connections'] - self.base


def site(scheme):
    return ('127.0.0.1:%d' % LINK_PORT) if scheme == 'http' else ('https://localhost:%d' % LINK_PORT)


def run_program(cvget, scheme, remote, name, size_mib, source, work, round_number):
    folder = os.path.join(work, 'run')
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    section = ('[data]\nname=Data\nsize=%d\nProtocol=http\nsite=%s\nsourceDir=%s\nfiles=%s\n'
               'DisplayOrder=1\nInstallOrder=10\n' % (size_mib * 1024, site(scheme), remote, name))
    setup = whole_job.write_setup(folder, section)
    whole_job.reset_prefix()
    run_log = os.path.join(work, 'run-%s-%d.log' % (scheme, round_number))
    if os.path.exists(run_log):
        os.unlink(run_log)
    seconds, rc, _ = whole_job.timed(
        [whole_job.WINE, cvget, '-log', whole_job.win_path(run_log), '-inf', whole_job.win_path(setup)],
        os.path.join(work, 'cvget-%s-%d.log' % (scheme, round_number)), cwd=folder)
    fetched = os.path.join(folder, name)
    if not os.path.exists(fetched) or not filecmp.cmp(fetched, source, shallow=False):
        raise SystemExit('wan: the program\'s file over %s differs from the source (exit %d, log %s)' %
                         (scheme, rc, run_log))
    shutil.rmtree(folder, ignore_errors=True)
    whole_job.reset_prefix()
    return seconds, whole_job.transfer_seconds(run_log)


def run_curl(scheme, remote, published, source, work, round_number):
    folder = os.path.join(work, 'curl')
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    base = ('http://127.0.0.1:%d/%s/' if scheme == 'http' else 'https://localhost:%d/%s/') % (LINK_PORT, remote)
    parts = sorted(n for n in os.listdir(published) if n.startswith('file'))
    config = os.path.join(work, 'curl.cfg')
    with open(config, 'w') as f:
        for n in ['pkginfo.txt'] + parts:
            f.write('url = "%s%s"\noutput = "%s"\n' % (base, n, os.path.join(folder, n)))
    script = ('curl -s -f --cacert %s -K %s && cd %s && cat %s > joined && md5sum joined' %
              (os.path.join(TLS_DIR, 'ca.pem'), config, folder, ' '.join(parts)))
    log = os.path.join(work, 'curl-%s-%d.log' % (scheme, round_number))
    seconds, rc, _ = whole_job.timed(['bash', '-c', script], log)
    if rc != 0 or not filecmp.cmp(os.path.join(folder, 'joined'), source, shallow=False):
        raise SystemExit('wan: curl over %s failed or differs (log %s)' % (scheme, log))
    shutil.rmtree(folder, ignore_errors=True)
    return seconds


def profile(cvget, cvpack, work, rtt_ms, mbit, size_mib):
    size = size_mib * MIB
    work = os.path.join(work, '%g-%g-%d' % (rtt_ms, mbit, size_mib))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    source = os.path.join(work, 'source.bin')
    with open(source, 'wb') as f:
        f.write(os.urandom(size))
    remote = 'wan-%d' % size_mib
    published = os.path.join(WWW_DIR, remote)
    shutil.rmtree(published, ignore_errors=True)
    subprocess.run([cvpack, 'split', source, published, '--part-size', str(MIB)], check=True,
                   stdout=subprocess.DEVNULL)
    limit = size * 8 / (mbit * 1e6)
    print('  %g ms / %g Mbit/s, %d MiB: the link\'s limit %.2f s' % (rtt_ms, mbit, size_mib, limit))
    try:
        for scheme in SCHEMES:
            program, transfer, curl, opened, curl_opened = [], [], [], 0, 0
            for r in range(ROUNDS):
                link = Link(scheme, rtt_ms, mbit, work)
                try:
                    curl.append(run_curl(scheme, remote, published, source, work, r))
                finally:
                    curl_opened = link.close()
                link = Link(scheme, rtt_ms, mbit, work)
                try:
                    seconds, alone = run_program(cvget, scheme, remote, 'wan.bin', size_mib, source, work, r)
                finally:
                    opened = link.close()
                program.append(seconds)
                if alone is not None:
                    transfer.append(alone)
            best, best_curl = min(program), min(curl)
            print('    %-5s cvget.exe %6.2f s  curl %6.2f s  ratio %.2f of curl  %.2f of the link   '
                  'connections: %d (curl %d)   rounds: %s | %s' % (
                      scheme, best, best_curl, best_curl / best, limit / best, opened, curl_opened,
                      ' '.join('%.2f' % t for t in program), ' '.join('%.2f' % t for t in curl)))
            if transfer:
                print('          transfer alone (run log) %.2f s: %.2f of curl, %.2f of the link' % (
                    min(transfer), best_curl / min(transfer), limit / min(transfer)))
    finally:
        shutil.rmtree(published, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)


def main():
    cvget, cvpack, work = sys.argv[1], sys.argv[2], sys.argv[3]
    profiles = sys.argv[4:] or ['40/100/48', '150/20/24']
    print('wan: %s, best of %d rounds; load before: %s' % (cvget, ROUNDS, whole_job.load()))
    for p in profiles:
        rtt_ms, mbit, size_mib = p.split('/')
        profile(cvget, cvpack, work, float(rtt_ms), float(mbit), int(size_mib))
    print('  load after: %s' % whole_job.load())


if __name__ == '__main__':
    main()
