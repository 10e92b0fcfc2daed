#!/usr/bin/env python3
"""Turns the benchmark suite's raw results into tables, target verdicts and a plot.

Reads WORK/results.tsv, limits.tsv, wrk.tsv, web.tsv, slow.tsv, load.tsv, gnu-time.tsv and
machine.tsv (written by
bench/suite/run); writes WORK/results.md and WORK/upload.png, and with --docs DIR also puts the
plot in DIR/performance-upload.png and the tables between the results markers of
DIR/performance.md. Prints the headline and each target's verdict.
"""
import argparse
import csv
import json
import os
import shutil
import statistics
import subprocess
import sys

LABELS = {
    'floor_exit': 'C, exit only (floor)',
    'floor_exit_static': 'C, exit only, linked static',
    'floor_copy': 'C, stdin to file (floor)',
    'floor_durable': 'C, stdin to file, flushed (durable floor)',
    'copy_cgi': 'C copy CGI',
    'copy_cgi_durable': 'C copy CGI, flushed',
    'whole': 'C, whole body in one buffer',
    'whole_huge': 'C, whole body in one buffer, huge pages',
    'page': 'C, prints the form page',
    'apply': '**apply.cgi**',
    'cgicc': 'GNU cgicc (C++)',
    'cgipm': 'CGI.pm (Perl)',
    'multipart': 'python-multipart',
    'busboy': 'busboy (node)',
}
PLOT_LABELS = {
    'floor_copy': 'floor: C, stdin to file',
    'floor_durable': 'durable floor: C, stdin to file, flushed',
    'apply': 'apply.cgi',
    'cgicc': 'GNU cgicc (C++)',
    'cgipm': 'CGI.pm (Perl)',
    'multipart': 'python-multipart (Python)',
    'busboy': 'busboy (node)',
}
PEERS = ['cgicc', 'cgipm', 'multipart', 'busboy']
BEGIN, END = '<!-- results:begin (written by bench/suite/run) -->', '<!-- results:end -->'


def size_mib(s):
    """A size token of the suite in MiB: "16" is 16 MiB, "200k" 200 KiB."""
    return int(s[:-1]) / 1024 if s.endswith('k') else float(s)


def size_label(s):
    return f'{s[:-1]} KiB' if s.endswith('k') else f'{s} MiB'


def read_tsv(path):
    if not os.path.exists(path):
        return []
    with open(path, newline='') as f:
        return list(csv.DictReader(f, delimiter='\t'))


def ms(seconds):
    return f'{seconds * 1000:.1f}' if seconds >= 0.0995 else f'{seconds * 1000:.2f}'


def mib(kib):
    return f'{kib / 1024:.1f}'


def ratio(x, floor):
    return f'{x / floor:.2f}×' if floor else '–'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--work', required=True)
    ap.add_argument('--docs')
    args = ap.parse_args()
    work = args.work

    rows = read_tsv(os.path.join(work, 'results.tsv'))
    machine = {r[0]: r[1] for r in (line.rstrip('\n').split('\t', 1) for line in open(os.path.join(work, 'machine.tsv')))}
    limits = read_tsv(os.path.join(work, 'limits.tsv'))
    wrk = read_tsv(os.path.join(work, 'wrk.tsv'))
    gnu_time = {r['program']: r['gnu_time_maxrss_kib'] for r in read_tsv(os.path.join(work, 'gnu-time.tsv'))}

    # Medians per workload and program; every run's check result counts.
    runs = {}
    for r in rows:
        runs.setdefault((r['workload'], r['program']), []).append(r)
    med = {}
    checks = {}
    for key, rs in runs.items():
        med[key] = {f: statistics.median(float(r[f]) for r in rs) for f in ('wall_s', 'user_s', 'sys_s', 'maxrss_kib')}
        med[key]['cpu_s'] = statistics.median(float(r['user_s']) + float(r['sys_s']) for r in rs)
        med[key]['n'] = len(rs)
        med[key]['min'] = min(float(r['wall_s']) for r in rs)
        med[key]['max'] = max(float(r['wall_s']) for r in rs)
        checks[key] = [(r['run'], r['status'], r['check']) for r in rs if r['check'] != 'ok' or r['status'] != '0']
    sizes = sorted({r['workload'] for r in rows if r['workload'] != 'get'}, key=size_mib)
    upload_progs = [p for p in ['floor_copy', 'floor_durable', 'whole', 'whole_huge', 'apply'] + PEERS if any((s, p) in med for s in sizes)]
    get_progs = [p for p in ['floor_exit', 'floor_exit_static', 'page', 'apply'] + PEERS if ('get', p) in med]

    out = []
    out.append(f"Measured {machine.get('date', '?')} on {machine.get('cpu', '?')}, {machine.get('memory', '?')} memory, "
               f"Linux {machine.get('kernel', '?')} ({machine.get('os', '?')}), store on {machine.get('filesystem', '?')}, "
               f"transparent huge pages `{machine.get('thp', '?')}`; the request body on standard input as a {machine.get('stdin', 'file')}; "
               f"program built from {machine.get('commit', '?')}. "
               f"Load average {machine.get('load_start', '?')} at the start, {machine.get('load_end', '?')} at the end.")
    out.append('')
    out.append(f"Command: `{machine.get('command', 'bench/suite/run')}`")
    out.append('')

    # Targets first.
    verdicts = []
    verdicts_web = []

    def wall(wl, p):
        return med.get((wl, p), {}).get('wall_s')

    big = '64' if '64' in sizes else (sizes[-1] if sizes else None)
    headline = []
    if big and wall(big, 'apply') and wall(big, 'floor_copy'):
        a, f = wall(big, 'apply'), wall(big, 'floor_copy')
        d = wall(big, 'floor_durable')
        if not d:  # without the durable floor, the copy floor's target of a store that flushes nothing
            verdicts.append((f'stored {big} MiB upload ≤ 1.5 × floor', f'{ms(a)} ms = {a / f:.2f} × {ms(f)} ms', a <= 1.5 * f))
        if d:
            # The kernel takes a body on a file from file to file, which the floor copies through
            # user space: at large sizes the program may beat the floor.
            bounds = {'64': 1.0, '16': 1.15, '1': 1.4, '200k': 1.4}
            for size in sorted((s for s in sizes if s in bounds), key=size_mib, reverse=True):
                sa, sd, sf = wall(size, 'apply'), wall(size, 'floor_durable'), wall(size, 'floor_copy')
                if sa and sd:
                    verdicts.append((f'durable stored {size_label(size)} upload ≤ {bounds[size]} × durable floor',
                                     f'{ms(sa)} ms = {sa / sd:.2f} × {ms(sd)} ms (the copy floor without flush: {ms(sf)} ms, {sa / sf:.2f} ×)',
                                     sa <= bounds[size] * sd))
            for size in (s for s in ('1', '200k') if s in sizes):
                ca, cd = med.get((size, 'apply'), {}).get('cpu_s'), med.get((size, 'floor_durable'), {}).get('cpu_s')
                if ca and cd:
                    verdicts.append((f'durable stored {size_label(size)} upload: CPU ≤ 2 × the durable floor\'s',
                                     f'{ms(ca)} ms = {ca / cd:.2f} × {ms(cd)} ms', ca <= 2 * cd))
            headline.append(f'a stored {big} MiB upload, on the disk before "Thank You!", takes {a / d:.2f} × the wall time of a C program '
                            f'that copies standard input to a file and flushes it and its folder ({a / f:.2f} × the copy without the flush)')
        else:
            headline.append(f'a stored {big} MiB upload takes {a / f:.2f} × the wall time of a C program that only copies standard input to a file')
        peer_walls = [(p, wall(big, p)) for p in PEERS if wall(big, p)]
        if peer_walls:
            best_p, best = min(peer_walls, key=lambda x: x[1])
            verdicts.append((f'{big} MiB faster than every peer',
                             f'fastest peer {PLOT_LABELS[best_p]} {ms(best)} ms = {best / a:.2f} × apply.cgi', a < best))
            headline.append(f'it is {best / a:.1f} × faster than the fastest peer, {PLOT_LABELS[best_p]}')
        rss_by_size = {s: med[(s, 'apply')]['maxrss_kib'] for s in sizes if (s, 'apply') in med}
        rss = max(rss_by_size.values())
        verdicts.append(('peak memory ≤ 4 MiB at every upload size',
                         ', '.join(f'{mib(v)} MiB at {size_label(s)}' for s, v in rss_by_size.items()), rss <= 4 * 1024))
        headline.append(f'peak memory at most {mib(rss)} MiB at any upload size')
    if wall('get', 'apply') and wall('get', 'floor_exit'):
        a, f = wall('get', 'apply'), wall('get', 'floor_exit')
        verdicts.append(('GET of the form ≤ 1.05 × exit-only floor', f'{ms(a)} ms = {a / f:.2f} × {ms(f)} ms', a <= 1.05 * f))
        headline.append(f'a GET of the form takes {a / f:.2f} × the wall time of a C program that only exits')
    wrk_med = {}
    for p in ('apply', 'page'):
        v = [float(r['req_per_s']) for r in wrk if r['program'] == p]
        if v:
            wrk_med[p] = statistics.median(v)
    if 'apply' in wrk_med and 'page' in wrk_med:
        verdicts.append(('through lighttpd ≥ 0.8 × the C page printer',
                         f"{wrk_med['apply']:.0f} req/s = {wrk_med['apply'] / wrk_med['page']:.2f} × {wrk_med['page']:.0f} req/s",
                         wrk_med['apply'] >= 0.8 * wrk_med['page']))
        headline.append(f"through lighttpd it serves {wrk_med['apply'] / wrk_med['page']:.2f} × the requests per second of a C program printing the same page")
    for lim in limits:
        want = 'accepted and stored' if lim['expected'] == 'stored' else 'answered "too large"'
        verdicts.append((f"body of {lim['body_bytes']} bytes {want}", f"{lim['result']} (exit status {lim['status']})",
                         lim['result'] == 'ok' and lim['status'] == '0'))

    out.append('### Targets')
    out.append('')
    out.append('| Target | Measured | Met |')
    out.append('|---|---|---|')
    for name, measured, ok in verdicts:
        out.append(f"| {name} | {measured} | {'yes' if ok else '**no**'} |")
    out.append('')

    # Uploads: wall time.
    if sizes:
        out.append('### Complete submission: wall time (median ms, × the copy floor, × the durable floor)')
        out.append('')
        out.append('| Program | ' + ' | '.join(size_label(s) for s in sizes) + ' |')
        out.append('|---|' + '---:|' * len(sizes))
        for p in upload_progs:
            cells = []
            for s in sizes:
                m = med.get((s, p))
                cells.append(f"{ms(m['wall_s'])} ({ratio(m['wall_s'], wall(s, 'floor_copy'))}, "
                             f"{ratio(m['wall_s'], wall(s, 'floor_durable'))})" if m else '–')
            out.append(f'| {LABELS[p]} | ' + ' | '.join(cells) + ' |')
        out.append('')
        out.append('### Complete submission: peak memory (median max RSS in MiB, × the copy floor)')
        out.append('')
        out.append('| Program | ' + ' | '.join(size_label(s) for s in sizes) + f' | GNU time, {size_label(sizes[-1])} |')
        out.append('|---|' + '---:|' * (len(sizes) + 1))
        for p in upload_progs:
            cells = []
            for s in sizes:
                m = med.get((s, p))
                f = med.get((s, 'floor_copy'), {}).get('maxrss_kib')
                cells.append(f"{mib(m['maxrss_kib'])} ({ratio(m['maxrss_kib'], f)})" if m else '–')
            g = gnu_time.get(p)
            cells.append(mib(float(g)) if g and g.isdigit() else '–')
            out.append(f'| {LABELS[p]} | ' + ' | '.join(cells) + ' |')
        out.append('')
        out.append('### Complete submission: CPU time, user + system (median ms, × the copy floor)')
        out.append('')
        out.append('Less disturbed by other load on the machine than wall time; the last column shows how far '
                   'the wall times of single runs spread.')
        out.append('')
        out.append('| Program | ' + ' | '.join(size_label(s) for s in sizes) + f' | {size_label(sizes[-1])}: user, system | '
                   f'{size_label(sizes[-1])}: wall, fastest–slowest run |')
        out.append('|---|' + '---:|' * (len(sizes) + 2))
        for p in upload_progs:
            cells = []
            for s in sizes:
                m = med.get((s, p))
                f = med.get((s, 'floor_copy'), {}).get('cpu_s')
                cells.append(f"{ms(m['cpu_s'])} ({ratio(m['cpu_s'], f)})" if m else '–')
            m = med.get((sizes[-1], p))
            cells.append(f"{ms(m['user_s'])}, {ms(m['sys_s'])}" if m else '–')
            cells.append(f"{ms(m['min'])}–{ms(m['max'])}" if m else '–')
            out.append(f'| {LABELS[p]} | ' + ' | '.join(cells) + ' |')
        out.append('')

    if get_progs:
        out.append('### GET of the form (median ms, × the exit-only floor)')
        out.append('')
        out.append('| Program | wall | × floor | CPU, user + system | × floor | peak memory (MiB) | wall, fastest–slowest run |')
        out.append('|---|---:|---:|---:|---:|---:|---:|')
        fcpu = med.get(('get', 'floor_exit'), {}).get('cpu_s')
        for p in get_progs:
            m = med[('get', p)]
            out.append(f"| {LABELS[p]} | {ms(m['wall_s'])} | {ratio(m['wall_s'], wall('get', 'floor_exit'))} | "
                       f"{ms(m['cpu_s'])} | {ratio(m['cpu_s'], fcpu)} | {mib(m['maxrss_kib'])} | {ms(m['min'])}–{ms(m['max'])} |")
        out.append('')

    hf_path = os.path.join(work, 'hyperfine-get.json')
    if os.path.exists(hf_path):
        hf = {os.path.basename(r['command']): r for r in json.load(open(hf_path))['results']}
        a, f = hf.get('apply.cgi'), hf.get('exit_only')
        if a and f:
            out.append(f"Cross-check with hyperfine (`-N`, {len(a['times'])} runs each, one program after the other): "
                       f"apply.cgi {ms(a['median'])} ms, exit-only floor {ms(f['median'])} ms (medians), "
                       f"ratio {a['median'] / f['median']:.2f}.")
            out.append('')

    if wrk_med:
        out.append('### GET of the form through lighttpd (wrk, median requests per second)')
        out.append('')
        out.append('| Program | requests/s | × C page printer | runs |')
        out.append('|---|---:|---:|---|')
        for p in ('page', 'apply'):
            if p in wrk_med:
                each = ', '.join(f"{float(r['req_per_s']):.0f}" for r in wrk if r['program'] == p)
                out.append(f"| {LABELS[p]} | {wrk_med[p]:.0f} | {ratio(wrk_med[p], wrk_med.get('page'))} | {each} |")
        out.append('')


    # Through lighttpd: complete submissions per body mode, the slow client, load.
    web = read_tsv(os.path.join(work, 'web.tsv'))
    web_med, web_bad = {}, []
    for r in web:
        web_med.setdefault((r['mode'], r['program'], r['size']), []).append(float(r['wall_s']))
        if r['check'] != 'ok':
            web_bad.append(f"mode {r['mode']} {r['program']} {r['size']} MiB run {r['run']}: {r['check']}")
    web_med = {k: statistics.median(v) for k, v in web_med.items()}
    web_sizes = sorted({k[2] for k in web_med}, key=int)
    if web_med:
        out.append('### Complete submission through lighttpd (curl, median wall ms per request; apply.cgi × the copy CGI, flushed)')
        out.append('')
        out.append('Each body mode is one lighttpd (`server.stream-request-body` = 0: the whole body buffered in a temporary file '
                   'before the program starts; 1: streamed, buffered as needed; 2: streamed at the program\'s pace); all three '
                   'serve the same site at once and the posts go round robin in a random order.')
        out.append('')
        out.append('| Body mode | Program | ' + ' | '.join(f'{s} MiB' for s in web_sizes) + ' |')
        out.append('|---|---|' + '---:|' * len(web_sizes))
        for mode in ('0', '1', '2'):
            for p in ('copy_cgi', 'copy_cgi_durable', 'apply'):
                cells = []
                for s in web_sizes:
                    v = web_med.get((mode, p, s))
                    ref = web_med.get((mode, 'copy_cgi_durable', s))
                    cells.append(f'{ms(v)}' + (f' ({v / ref:.2f}×)' if p == 'apply' and ref else '') if v else '–')
                out.append(f'| {mode} | {LABELS[p]} | ' + ' | '.join(cells) + ' |')
        out.append('')
        big_web = '64' if '64' in web_sizes else web_sizes[-1]
        # Body mode 0 is the site's setting: the program gets the buffered body as a file.
        a, c = web_med.get(('0', 'apply', big_web)), web_med.get(('0', 'copy_cgi_durable', big_web))
        if a and c:
            verdicts_web.append((f'through lighttpd (body mode 0), {big_web} MiB submission ≤ 0.9 × the flushed copy CGI',
                                 f'{ms(a)} ms = {a / c:.2f} × {ms(c)} ms', a <= 0.9 * c))
        if web_bad:
            verdicts_web.append(('every post through lighttpd answered', '; '.join(web_bad[:4]), False))
    slow = read_tsv(os.path.join(work, 'slow.tsv'))
    if slow:
        out.append('### A slow client through lighttpd (curl `--limit-rate 512k`, one post each)')
        out.append('')
        out.append('| Body mode | Body | Request wall time (s) | Program process lived (s) |')
        out.append('|---|---:|---:|---:|')
        for r in slow:
            out.append(f"| {r['mode']} | {int(r['body_bytes']) / 1048576:.1f} MiB to the flushed copy CGI | "
                       f"{float(r['wall_s']):.2f} | {float(r['program_lifetime_s'] or 'nan'):.3f} |")
        out.append('')
    load = read_tsv(os.path.join(work, 'load.tsv'))
    if load:
        out.append('### Load through lighttpd (wrk, body mode 0)')
        out.append('')
        out.append('| Workload | Program | clients | seconds | requests | requests/s | p50 (ms) | p99 (ms) | failed |')
        out.append('|---|---|---:|---:|---:|---:|---:|---:|---:|')
        for r in load:
            wl = {'get': 'GET of the form', 'post': '1 MiB submission (POST), each a new applicant'}.get(
                r['workload'], '1 MiB submission (POST), all one applicant')
            out.append(f"| {wl} | {LABELS.get(r['program'], r['program'])} | {r['connections']} | {r['seconds']} | {r['requests']} | "
                       f"{float(r['req_per_s']):.1f} | {r['p50_ms']} | {r['p99_ms']} | {r['failed']} |")
        out.append('')
        def load_med(wl, p):
            v = [float(r['req_per_s']) for r in load if r['workload'] == wl and r['program'] == p]
            return statistics.median(v) if v else None
        a, pg = load_med('get', 'apply'), load_med('get', 'page')
        if a and pg:
            verdicts_web.append(('GET under load (64 clients) ≥ 0.9 × the C page printer',
                                 f'{a:.0f} req/s = {a / pg:.2f} × {pg:.0f} req/s', a >= 0.9 * pg))
            headline.append(f'with 64 clients at once through lighttpd it serves {a / pg:.2f} × the requests per second of a C program printing the same page')
        a, c = load_med('post', 'apply'), load_med('post', 'copy_cgi_durable')
        if a and c:
            verdicts_web.append(('16 clients posting 1 MiB submissions ≥ 1.0 × the flushed copy CGI',
                                 f'{a:.1f} req/s = {a / c:.2f} × {c:.1f} req/s', a >= c))
        failed = sum(int(r['failed'] or 0) for r in load)
        verdicts_web.append(('no failed request under load', f'{failed} failed of {sum(int(r["requests"] or 0) for r in load)}', failed == 0))
    if verdicts_web:
        out.append('### Targets through the web server')
        out.append('')
        out.append('| Target | Measured | Met |')
        out.append('|---|---|---|')
        for name, measured, ok in verdicts_web:
            out.append(f"| {name} | {measured} | {'yes' if ok else '**no**'} |")
        out.append('')
    verdicts += verdicts_web

    # Byte-for-byte checks of every run.
    out.append('### Stored byte for byte?')
    out.append('')
    out.append('Every timed run is checked: the response (for a submission, "Thank You!") and the stored file against the '
               'payload (size and every byte; for the C floors, the whole body).')
    out.append('')
    out.append('| Program | runs checked | failures |')
    out.append('|---|---:|---|')
    for p in dict.fromkeys(upload_progs + get_progs):
        total = sum(len(runs[k]) for k in runs if k[1] == p)
        bad = [f'{k[0]} run {r}: {c} (exit {st})' for k in runs if k[1] == p for (r, st, c) in checks[k]]
        out.append(f"| {LABELS[p]} | {total} | {'none' if not bad else '; '.join(bad[:6]) + (' …' if len(bad) > 6 else '')} |")
    out.append('')
    out.append('Versions: ' + ', '.join(f'{k} {machine[k]}' for k in (
        'gcc', 'cgicc', 'perl', 'cgi_pm', 'python', 'python_multipart', 'node', 'busboy', 'lighttpd', 'wrk') if k in machine) + '.')
    out.append('')

    # The plot.
    png = os.path.join(work, 'upload.png')
    if sizes:
        dat = os.path.join(work, 'upload.dat')
        plot_progs = [p for p in upload_progs if p in PLOT_LABELS]
        with open(dat, 'w') as f:
            for p in plot_progs:
                f.write(f'# {p}\n')
                for s in sizes:
                    if (s, p) in med:
                        f.write(f"{size_mib(s)} {med[(s, p)]['wall_s'] * 1000:.3f}\n")
                f.write('\n\n')
        styles = {'floor_copy': 'lc rgb "#000000" dt 2 pt 1', 'floor_durable': 'lc rgb "#555555" dt 4 pt 2',
                  'apply': 'lc rgb "#d62728" pt 7 lw 3',
                  'cgicc': 'lc rgb "#1f77b4" pt 5', 'cgipm': 'lc rgb "#9467bd" pt 9',
                  'multipart': 'lc rgb "#2ca02c" pt 11', 'busboy': 'lc rgb "#ff7f0e" pt 13'}
        plots = ', '.join(f'"{dat}" index {i} using 1:2 with linespoints {styles[p]}{"" if "lw" in styles[p] else " lw 2"} title "{PLOT_LABELS[p]}"'
                          for i, p in enumerate(plot_progs))
        script = f'''
set terminal pngcairo size 900,560 font "sans,11"
set output "{png}"
set title "Complete submission: wall time against upload size (median of {machine.get('runs', '?')} runs)"
set xlabel "resume size (MiB)"
set ylabel "wall time (ms)"
set logscale xy
set xrange [{size_mib(sizes[0]) * 0.8}:{size_mib(sizes[-1]) * 1.25}]
set xtics ({', '.join(f'"{s}" {size_mib(s)}' for s in sizes)})
set grid
set key top left
plot {plots}
'''
        subprocess.run(['gnuplot'], input=script, text=True, check=True)

    text = '\n'.join(out)
    with open(os.path.join(work, 'results.md'), 'w') as f:
        f.write(text)
    if args.docs:
        os.makedirs(args.docs, exist_ok=True)
        if os.path.exists(png):
            shutil.copyfile(png, os.path.join(args.docs, 'performance-upload.png'))
        doc = os.path.join(args.docs, 'performance.md')
        block = f'{BEGIN}\n{text}\n{END}'
        if os.path.exists(doc):
            old = open(doc).read()
            if BEGIN in old and END in old:
                new = old[:old.index(BEGIN)] + block + old[old.index(END) + len(END):]
            else:
                new = old.rstrip('\n') + '\n\n## Results\n\n' + block + '\n'
        else:
            new = '# Performance\n\n![wall time against upload size](performance-upload.png)\n\n## Results\n\n' + block + '\n'
        with open(doc, 'w') as f:
            f.write(new)

    # The README's performance section: the plot and the headline ratios.
    readme = ['## Performance', '', '![Wall time of a complete submission against upload size](docs/performance-upload.png)', '']
    if headline:
        readme.append('Headline figures (' + machine.get('cpu', '?') + f", medians, `bench/suite/run`): " + '; '.join(headline) + '.')
        readme.append('')
    missed = [name for name, _, ok in verdicts if not ok]
    readme.append(f'Targets met: {len(verdicts) - len(missed)} of {len(verdicts)}' +
                  (f"; missed: {'; '.join(missed)} (why, and the fix: docs/performance.md)." if missed else '.'))
    readme.append('')
    readme.append('Method, every figure and the peers: [docs/performance.md](docs/performance.md).')
    with open(os.path.join(work, 'readme.md'), 'w') as f:
        f.write('\n'.join(readme) + '\n')

    print('Headline: ' + '; '.join(headline))
    for name, measured, ok in verdicts:
        print(f"  {'met ' if ok else 'MISS'}  {name}: {measured}")
    print(f'Report: {os.path.join(work, "results.md")}' + (f' and {args.docs}/performance.md' if args.docs else ''))
    return 0


if __name__ == '__main__':
    sys.exit(main())
