#!/usr/bin/env python3
"""Submissions per second against a small and a large store, measured side by side.

Makes two store roots, one with SMALL applicants and one with LARGE (folders with a page, a record
and a list line each, written directly, not through the program), then files new applicants into
both in alternating rounds through apply.cgi as a web server runs it, and reports the median rate
of each and their ratio (large / small; the target is at least 0.9).

Usage: store_size.py --program APPLY_CGI [--small 100] [--large 100000] [--rounds 7] [--per-round 40]
                     [--work DIR]
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BOUNDARY = '----StoreSizeBench'


def body(name, root):
    parts = []
    for field, value in (('name', name), ('mail', 'bench@example.org'), ('interest', 'Benchmarks'),
                         ('directory', root)):
        parts.append(f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="{field}"\r\n\r\n{value}\r\n')
    parts.append(f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="resume"; filename="cv.txt"\r\n'
                 f'Content-Type: text/plain\r\n\r\nresume of {name}\r\n--{BOUNDARY}--\r\n')
    return ''.join(parts).encode()


def make_store(root, count):
    """A store root with `count` applicants, as filing leaves them."""
    os.makedirs(root)
    lines, catalogue = [], []
    for i in range(count):
        name = f'Applicant {i:06d}'
        folder = os.path.join(root, name)
        os.mkdir(folder)
        record = {'name': name, 'mail': 'a@example.org', 'interest': 'x', 'resume': 'cv.txt',
                  'resume_size': 2, 'filed': '2026-01-01T00:00:00Z'}
        with open(os.path.join(folder, 'index.html'), 'w') as f:
            f.write(f'<html>\n<head>\n<title>\n{name}\n</title>\n</head>\n</html>\n')
        with open(os.path.join(folder, 'index.json'), 'w') as f:
            json.dump(record, f)
        with open(os.path.join(folder, 'cv.txt'), 'w') as f:
            f.write('cv')
        lines.append(f'<br><a href="{name.replace(" ", "%20")}">{name}</a>\n')
        catalogue.append(json.dumps({**record, 'folder': name, 'stamp': '20260101T000000Z'}) + '\n')
    with open(os.path.join(root, 'index.html'), 'w') as f:
        f.writelines(lines)
    with open(os.path.join(root, 'index.jsonl'), 'w') as f:
        f.writelines(catalogue)


def run_round(program, workdir, store, names):
    """Files one new applicant per name into `store`; the seconds it took."""
    env = {'PATH': '/usr/bin:/bin', 'REQUEST_METHOD': 'POST', 'APPLY_STORE_ROOTS': store,
           'CONTENT_TYPE': f'multipart/form-data; boundary={BOUNDARY}', 'APPLY_FREE_SPACE_RESERVE': '0'}
    bodies = [body(n, store) for n in names]
    start = time.perf_counter()
    for b in bodies:
        env['CONTENT_LENGTH'] = str(len(b))
        done = subprocess.run([program], cwd=workdir, env=env, input=b, stdout=subprocess.PIPE)
        if b'Thank You!' not in done.stdout:
            raise SystemExit(f'not filed in {store}: {done.stdout[-300:]!r}')
    return time.perf_counter() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--program', required=True)
    ap.add_argument('--small', type=int, default=100)
    ap.add_argument('--large', type=int, default=100_000)
    ap.add_argument('--rounds', type=int, default=7)
    ap.add_argument('--per-round', type=int, default=40)
    ap.add_argument('--work')
    args = ap.parse_args()
    program = os.path.abspath(args.program)
    work = tempfile.mkdtemp(prefix='store-size-', dir=args.work)
    try:
        stores = {'small': args.small, 'large': args.large}
        for label, count in stores.items():
            started = time.perf_counter()
            make_store(os.path.join(work, label), count)
            print(f'{label}: {count} applicants made in {time.perf_counter() - started:.1f} s', file=sys.stderr)
        rates = {label: [] for label in stores}
        for r in range(args.rounds):
            # Side by side: each round files into both, which one first alternating.
            for label in (list(stores) if r % 2 == 0 else list(stores)[::-1]):
                names = [f'New {label} {r} {i}' for i in range(args.per_round)]
                rates[label].append(args.per_round / run_round(program, work, label, names))
        small, large = (statistics.median(rates[label]) for label in stores)
        print(f'submissions/s, median of {args.rounds} rounds of {args.per_round}: '
              f'{args.small} applicants {small:.1f}, {args.large} applicants {large:.1f}, '
              f'ratio {large / small:.2f}')
        return 0 if large / small >= 0.9 else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
