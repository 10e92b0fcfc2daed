#!/usr/bin/env python3
"""A flush that fails is a failed store: never "Thank You!", and the store stays consistent.

Submits a new applicant (with no list yet, and beside a listed one) once per flush the program
makes, each time with strace making that one flush fail with EIO (`-e inject=`). strace counts
each thread's calls apart: the program's own thread has its flushes failed one at a time, and
the flushes it hands to helper threads (one each) fail together with its first one. Each run must
answer "Can't create", leave a list of whole lines that names only applicants whose page is
there, leave no page without its line for the new applicant and no temporary file; a later
submission of the same applicant, without faults, must be thanked and listed exactly once.
Then a new applicant's run waits for the list lock while its unlisted marker is taken out (as a
run of the same name whose line failed does), and is killed at its list line: its page must
stand beside the marker, so that the next run adds the line.

Usage: flush_failure_test.py --program APPLY_CGI
"""
import argparse
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

from filing_order_test import BOUNDARY, MARKER, body, resume_bytes
from fs_record import report, strace_unusable

FLUSHES = ('fdatasync', 'fsync')


def run(program, workdir, request, inject=None):
    env = {'PATH': '/usr/bin:/bin', 'REQUEST_METHOD': 'POST',
           'CONTENT_TYPE': f'multipart/form-data; boundary={BOUNDARY}', 'CONTENT_LENGTH': str(len(request))}
    for var in ('ASAN_OPTIONS', 'UBSAN_OPTIONS'):
        if var in os.environ:
            env[var] = os.environ[var]
    argv = [program]
    if inject:
        env['ASAN_OPTIONS'] = env.get('ASAN_OPTIONS', '') + ':detect_leaks=0'
        argv = ['strace', '-f', '-qq', '-o', os.devnull, '-e', 'trace=' + ','.join(FLUSHES),
                '-e', f'inject={inject[0]}:error=EIO:when={inject[1]}'] + argv
    done = subprocess.run(argv, cwd=workdir, env=env, input=request, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    return done.returncode, done.stdout, done.stderr


def flush_counts(program, base, prepare):
    """How many of each flush the program's own thread makes in a faultless submission, counted
    under strace."""
    d = tempfile.mkdtemp(dir=base)
    prepare(d)
    record = os.path.join(d, 'count.strace')
    request = body('Jane Doe', 'jane@example.org', resume_bytes(200_000, 2))
    env = {'PATH': '/usr/bin:/bin', 'REQUEST_METHOD': 'POST',
           'CONTENT_TYPE': f'multipart/form-data; boundary={BOUNDARY}', 'CONTENT_LENGTH': str(len(request)),
           'ASAN_OPTIONS': os.environ.get('ASAN_OPTIONS', '') + ':detect_leaks=0'}
    subprocess.run(['strace', '-f', '-qq', '-o', record, '-e', 'trace=execve,' + ','.join(FLUSHES), program],
                   cwd=d, env=env, input=request, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    text = open(record).read()
    own = re.match(r'(\d+)\s+execve\(', text).group(1)
    return {f: len(re.findall(rf'^{own}\s+{f}\(', text, re.M)) for f in FLUSHES}


def store_problems(store, applicant):
    """What is wrong with the store after a failed submission of `applicant`."""
    problems = []
    list_path = os.path.join(store, 'index.html')
    data = open(list_path, 'rb').read() if os.path.exists(list_path) else b''
    if data and not data.endswith(b'\n'):
        problems.append('the list ends in a cut line')
    listed = [urllib.parse.unquote(m.decode()) for m in re.findall(rb'href="([^"]*)"', data)]
    for name in listed:
        if not os.path.exists(os.path.join(store, name, 'index.html')):
            problems.append(f'the list names {name}, whose page is missing')
    if len(listed) != len(set(listed)):
        problems.append('a name is listed twice')
    page = os.path.join(store, applicant, 'index.html')
    if applicant not in listed and os.path.exists(page):
        problems.append('the new applicant has a page but no line')
    for folder, _, files in os.walk(store):
        for f in files:
            if f.startswith('.tmp-'):
                problems.append(f'left behind: {os.path.relpath(os.path.join(folder, f), store)}')
    return problems


def marker_taken_while_waiting(program, d):
    """The problems after a run whose marker went while it waited for the lock, killed as it
    writes its list line (the list's only pwrite), and after the name's next run."""
    store, request = os.path.join(d, 'people'), body('Jane Doe', 'jane@example.org', b'cv\n')
    marker, page = (os.path.join(store, 'Jane Doe', f) for f in (MARKER, 'index.html'))
    env = {'PATH': '/usr/bin:/bin', 'REQUEST_METHOD': 'POST', 'CONTENT_LENGTH': str(len(request)),
           'CONTENT_TYPE': f'multipart/form-data; boundary={BOUNDARY}',
           'ASAN_OPTIONS': os.environ.get('ASAN_OPTIONS', '') + ':detect_leaks=0'}
    lock = os.open(os.path.join(store, 'index.html'), os.O_RDWR)
    fcntl.lockf(lock, fcntl.LOCK_EX)
    argv = ['strace', '-f', '-qq', '-o', os.devnull, '-e', 'inject=pwrite64:signal=KILL', program]
    with subprocess.Popen(argv, cwd=d, env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL) as proc:
        proc.stdin.write(request)
        proc.stdin.close()
        for _ in range(600):
            if os.path.exists(marker) or proc.poll() is not None:
                break
            time.sleep(0.05)
        problems = [] if os.path.exists(marker) else ['no marker before the lock']
        if not problems:
            os.unlink(marker)
        os.close(lock)
        proc.wait(timeout=120)
    if not os.path.exists(page) or not os.path.exists(marker):
        problems.append('the killed run left no page, or its page without line and marker')
    if b'Thank You!' not in run(program, d, request)[1]:
        problems.append('the next submission is not thanked')
    return problems + store_problems(store, 'Jane Doe')


def line_asked_for(program, d, already_listed):
    """The problems after a run that waited for the lock at its line while another new
    applicant's run had asked for its own there (its page durable and marked): the waiting run
    adds that line too, once (not again when a holder stopped before taking the marker out had
    added it), and takes that marker out."""
    store, list_path = os.path.join(d, 'people'), os.path.join(d, 'people', 'index.html')
    code, out, _ = run(program, d, body('Ann Example', 'ann@example.org', b'cv\n'))
    ann_line = b'<br><a href="Ann%20Example">Ann Example</a>\n'
    before = open(list_path, 'rb').read().replace(ann_line, b'')
    if not already_listed:
        open(list_path, 'wb').write(before)
    open(os.path.join(store, 'Ann Example', MARKER), 'w').close()
    asked = os.path.join(store, '.tmp-runs', f'.tmp-{os.getpid():x}-line{len(before):x}')
    os.symlink('Ann Example', asked)
    request = body('Jane Doe', 'jane@example.org', b'cv\n')
    env = {'PATH': '/usr/bin:/bin', 'REQUEST_METHOD': 'POST', 'CONTENT_LENGTH': str(len(request)),
           'CONTENT_TYPE': f'multipart/form-data; boundary={BOUNDARY}',
           'ASAN_OPTIONS': os.environ.get('ASAN_OPTIONS', '') + ':detect_leaks=0'}
    # Its folder's flush, the main thread's first fsync, slowed down: the lock is taken here
    # meanwhile, so that the run finds it taken when it comes to its line.
    argv = ['strace', '-f', '-qq', '-o', os.devnull, '-e', 'trace=fsync',
            '-e', 'inject=fsync:delay_enter=300000:when=1', program]
    page, problems = os.path.join(store, 'Jane Doe', 'index.html'), []
    with subprocess.Popen(argv, cwd=d, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE) as proc:
        proc.stdin.write(request)
        proc.stdin.close()
        for _ in range(600):
            if os.path.exists(page) or proc.poll() is not None:
                break
            time.sleep(0.005)
        lock = os.open(list_path, os.O_RDWR)
        fcntl.lockf(lock, fcntl.LOCK_EX)
        for _ in range(600):
            if any('-line' in n and n != os.path.basename(asked)
                   for n in os.listdir(os.path.join(store, '.tmp-runs'))) or proc.poll() is not None:
                break
            time.sleep(0.005)
        os.close(lock)
        if b'Thank You!' not in proc.stdout.read():
            problems.append('the waiting run is not thanked')
    os.unlink(asked)  # the asking run's part, which this test plays
    lines = open(list_path, 'rb').read()
    for name, line in (('Ann Example', ann_line), ('Jane Doe', b'<br><a href="Jane%20Doe">Jane Doe</a>\n')):
        if lines.count(line) != 1:
            problems.append(f'{name} listed {lines.count(line)} times')
    if os.path.exists(os.path.join(store, 'Ann Example', MARKER)):
        problems.append("the marker of the line asked for stays")
    return problems + store_problems(store, 'Jane Doe')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--program', required=True)
    args = ap.parse_args()
    program = os.path.abspath(args.program)
    unusable = strace_unusable()
    if unusable is not None:
        return unusable

    def first(d):
        os.makedirs(os.path.join(d, 'people'))

    def beside(d):
        first(d)
        code, out, _ = run(program, d, body('John Roe', 'john@example.org', b'old resume\n'))
        assert b'Thank You!' in out, out[-300:]

    base = tempfile.mkdtemp(prefix='flush-failure-')
    failed = False
    try:
        for label, prepare in (('first applicant', first), ('beside a listed one', beside)):
            counts = flush_counts(program, base, prepare)
            if sum(counts.values()) == 0:
                print(f'FAIL {label}: no flush at all')
                failed = True
            for flush in FLUSHES:
                for n in range(1, counts[flush] + 1):
                    d = tempfile.mkdtemp(dir=base)
                    prepare(d)
                    resume = resume_bytes(200_000, n)
                    code, out, err = run(program, d, body('Jane Doe', 'jane@example.org', resume), (flush, n))
                    problems = []
                    if code != 1:  # a failure of the site, for the server's log
                        problems.append(f'exit status {code}, not 1')
                    if b'Thank You!' in out:
                        problems.append('"Thank You!" although a flush failed')
                    elif b"Can't create" not in out:
                        problems.append(f'no "Can\'t create" page: {out[-200:]!r}')
                    if b'Input/output error' not in err:  # the error the flush got, wherever it ran
                        problems.append(f'the error line does not name the flush\'s error: {err[-200:]!r}')
                    store = os.path.join(d, 'people')
                    problems += store_problems(store, 'Jane Doe')
                    # Afterwards the same applicant goes through and is listed once.
                    code, out, _ = run(program, d, body('Jane Doe', 'jane@example.org', resume))
                    if b'Thank You!' not in out:
                        problems.append('the next submission is not thanked')
                    listed = open(os.path.join(store, 'index.html'), 'rb').read().count(b'href="Jane%20Doe"')
                    if listed != 1:
                        problems.append(f'afterwards listed {listed} times')
                    if open(os.path.join(store, 'Jane Doe', 'cv.bin'), 'rb').read() != resume:
                        problems.append('afterwards the resume differs')
                    problems += store_problems(store, 'Jane Doe')
                    failed |= report(f'{label}, {flush} number {n} fails', problems)
        d = tempfile.mkdtemp(dir=base)
        beside(d)
        failed |= report('a marker taken out while the run waits for the lock',
                         marker_taken_while_waiting(program, d))
        for listed in (False, True):
            d = tempfile.mkdtemp(dir=base)
            beside(d)
            failed |= report(f'a line asked for while waiting for the lock{", already added" if listed else ""}',
                             line_asked_for(program, d, listed))
    finally:
        shutil.rmtree(base, ignore_errors=True)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
