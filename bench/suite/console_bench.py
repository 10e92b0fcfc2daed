#!/usr/bin/env python3
"""The staff console and retention at 100 and at 100,000 applicants, side by side in one run.

Lays out two stores with tests/console/make_store.py (one in ten applicants with an earlier
submission, one in three with a decision and a note), then times staff.cgi run as the web server
runs it: the table's first page (newest first, then by name in the collation's order) and a search
that has to look at every applicant; the audit log view over a 100 MiB log (its first page, and one
applicant's lines); then apply-admin's retention runs with a faked clock: a day's share of the
applicants due, then a tenth of them.
Usage: bench/suite/console_bench.py BUILDDIR [--runs N] [--work DIR] [--sizes 100,100000] [--console-only]
Prints a Markdown table: medians of wall time, and of CPU time (user + system) in brackets, in ms.
On a machine shared with other work the CPU time is the steadier figure."""
import argparse, os, resource, shutil, statistics, subprocess, sys, time

here = os.path.dirname(os.path.abspath(__file__))
repo = os.path.dirname(os.path.dirname(here))


def cpu():
    u = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (u.ru_utime + u.ru_stime) * 1000


def timed(argv, env, cwd):
    """Wall and CPU milliseconds of one run, and its output."""
    start, start_cpu = time.perf_counter(), cpu()
    r = subprocess.run(argv, env=env, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = ((time.perf_counter() - start) * 1000, cpu() - start_cpu)
    if r.returncode != 0:
        sys.exit("%s failed: %s" % (argv, r.stderr.decode()))
    return elapsed, r.stdout


def main():
    p = argparse.ArgumentParser()
    p.add_argument("build")
    p.add_argument("--runs", type=int, default=7)
    p.add_argument("--work", default=os.path.join(repo, "build/perf/console-work"))
    p.add_argument("--sizes", default="100,100000")
    p.add_argument("--console-only", action="store_true", help="no retention runs")
    a = p.parse_args()
    staff = os.path.join(os.path.abspath(a.build), "app/console/staff.cgi")
    admin = os.path.join(os.path.abspath(a.build), "app/admin/apply-admin")
    rows = []
    # 100 MiB of audit lines, made once: erasures of 100,000 applicants with request references.
    os.makedirs(a.work, exist_ok=True)
    big_log = os.path.join(a.work, "audit-100MiB.log")
    if not os.path.exists(big_log) or os.path.getsize(big_log) < 100 << 20:
        with open(big_log + ".tmp", "w") as f:
            i = written = 0
            while written < 100 << 20:
                line = ("2026-%02d-%02dT10:%02d:00Z\tstaff%d\terase\tpeople\tApplicant %06d\tbegun: all 2 "
                        "submissions and the list line [erasure 1234-0-20261209T115816Z]\trequest DSR-2026-%04d\n"
                        % (1 + i * 12 // 700000 % 12, 1 + i % 28, i % 60, i % 5, i % 100000, i % 10000))
                f.write(line)
                written += len(line)
                i += 1
        os.replace(big_log + ".tmp", big_log)
    for n in (int(x) for x in a.sizes.split(",")):
        site = os.path.join(a.work, "site-%d" % n)
        shutil.rmtree(site, ignore_errors=True)
        os.makedirs(site)
        subprocess.run([sys.executable, os.path.join(repo, "tests/console/make_store.py"),
                        os.path.join(site, "people"), str(n), "--decided", "3"], check=True)
        cgi = dict(os.environ, REQUEST_METHOD="GET", REMOTE_USER="bench")
        for label, query, expect in (("table, first page, newest first", "", b"Page 1 of"),
                                     ("table, first page sorted by name", "sort=name", b"Page 1 of"),
                                     ("search over name, e-mail and interest", "q=number+%d%%2C" % (n // 2), b"1 applicant found")):
            times = []
            for _ in range(a.runs + 1):
                ms, out = timed([staff], dict(cgi, QUERY_STRING=query), site)
                if expect not in out:
                    sys.exit("unexpected page for %r at %d applicants" % (query, n))
                times.append(ms)
            rows.append((n, label, (statistics.median(t[0] for t in times[1:]),
                                    statistics.median(t[1] for t in times[1:]))))
        audit_cgi = dict(cgi, APPLY_AUDIT_LOG=big_log)
        for label, query, expect in (("audit view of a 100 MiB log, first page", "view=audit", b"Page 1 of"),
                                     ("audit view of a 100 MiB log, one applicant", "view=audit&a=Applicant+000042", b"Page 1 of 1")):
            times = []
            for _ in range(a.runs + 1):
                ms, out = timed([staff], dict(audit_cgi, QUERY_STRING=query), site)
                if expect not in out:
                    sys.exit("unexpected page for %r" % query)
                times.append(ms)
            rows.append((n, label, (statistics.median(t[0] for t in times[1:]),
                                    statistics.median(t[1] for t in times[1:]))))
        # Applicant i was filed 10*i minutes after 2026-01-01T00:00Z; with 180 days of retention,
        # "now" is put where the first day's applicants, and then the first tenth, are due.
        audit = os.path.join(a.work, "audit-%d.log" % n)
        for label, due in () if a.console_only else (
                ("retention run, a day's applicants due", min(n, 144)),
                ("retention run, a tenth of the applicants due", n // 10)):
            now = 1767225600 + 180 * 86400 + due * 600 - 300
            ms, out = timed([admin, "--site", site, "--audit", audit, "retain", "--days", "180"],
                            dict(os.environ, APPLY_NOW=str(now)), site)
            rows.append((n, label + " (%s)" % out.decode().strip().split(": ")[1].split(",")[0], ms))
    sizes = sorted({r[0] for r in rows})
    print("| What | " + " | ".join("%d applicants: wall [CPU] ms" % s for s in sizes) + " |")
    print("|---|" + "---:|" * len(sizes))
    labels = []
    for r in rows:
        key = r[1].split(" (")[0]
        if key not in labels:
            labels.append(key)
    for key in labels:
        cells = []
        for s in sizes:
            match = [r for r in rows if r[0] == s and r[1].split(" (")[0] == key]
            wall, cpu_ms = match[0][2]
            cells.append("%.1f [%.1f]%s" % (wall, cpu_ms, (" (" + match[0][1].split(" (")[1]) if " (" in match[0][1] else ""))
        print("| %s | %s |" % (key, " | ".join(cells)))


main()
