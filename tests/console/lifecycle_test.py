#!/usr/bin/env python3
"""The applicant data lifecycle through apply-admin, on stores laid out by make_store.py.

--check admin       list, show, export (byte for byte), erase, retain with a faked clock (APPLY_NOW),
                    the audit log, fsck on a damaged store and its repair, backup and restore;
                    decisions, notes and keeps, retention from a closing decision, the decision index
--check crash       an erasure killed at each of its changing system calls (strace): before
                    anything else runs the applicant is whole and listed, or the erasure is marked
                    begun; after the next command under the lock, whole and listed or gone from both
--check concurrent  erasures while 64 submissions of apply.cgi run: the store stays consistent
--check monitor     the health check passing without adding an applicant, then critical with the
                    store unwritable; the filing counters and exit statuses of apply.cgi; the
                    metrics read by node_exporter's textfile collector (when installed)
Exit 77 when strace cannot trace here (--check crash only)."""
import argparse, io, json, os, re, shutil, subprocess, sys, tempfile, urllib.parse, zipfile
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
failures = []


def check(ok, what):
    print(("ok: " if ok else "FAIL: ") + what)
    if not ok:
        failures.append(what)


def make_store(site, count, start="2026-01-01T00:00:00Z"):
    subprocess.run([sys.executable, os.path.join(HERE, "make_store.py"), os.path.join(site, "people"),
                    str(count), "--start", start], check=True)


def admin(args, site, *words, env=None, **kw):
    e = dict(os.environ, APPLY_AUDIT_LOG=os.path.join(site, "..", "audit.log"))
    e.update(env or {})
    return subprocess.run([args.admin, "--site", site, "--user", "tester"] + list(words),
                          env=e, capture_output=True, text=True, **kw)


def listed(site):
    """The applicant folders the list names, in its order."""
    with open(os.path.join(site, "people", "index.html"), encoding="utf-8") as f:
        return [urllib.parse.unquote(m) for m in re.findall(r'<br><a href="([^"]*)">', f.read())]


def catalogued(site):
    with open(os.path.join(site, "people", "index.jsonl"), encoding="utf-8") as f:
        return {json.loads(line)["folder"] for line in f if line.strip()}


def folders(site):
    return {n for n in os.listdir(os.path.join(site, "people")) if not n.startswith(("index.", ".tmp-"))}


def whole(site, name, files):
    """True when the applicant folder holds exactly the files it was made with, unchanged."""
    root = os.path.join(site, "people", name)
    now = {}
    for d, _, fs in os.walk(root):
        for f in fs:
            p = os.path.join(d, f)
            with open(p, "rb") as fh:
                now[os.path.relpath(p, root)] = fh.read()
    return now == files


def snapshot(site, name):
    return {os.path.relpath(os.path.join(d, f), os.path.join(site, "people", name)):
            open(os.path.join(d, f), "rb").read()
            for d, _, fs in os.walk(os.path.join(site, "people", name)) for f in fs}


def audit_lines(site):
    path = os.path.join(site, "..", "audit.log")
    return open(path).read().splitlines() if os.path.exists(path) else []


def check_admin(args, tmp):
    site = os.path.join(tmp, "site")
    make_store(site, 12)
    out = admin(args, site, "list").stdout.splitlines()
    check(len(out) == 12 and out[0].startswith("Applicant 000011\t"), "list: every applicant, newest first")
    check(admin(args, site, "list", "WORK NUMBER 7,").stdout.startswith("Applicant 000007\t"),
          "list: search ignores case and covers the interest text")
    show = admin(args, site, "show", "Applicant 000010").stdout
    check(show.index("latest") < show.index("earlier"), "show: both submissions, newest first")

    # Export: every file of every submission, byte for byte, and an audit line.
    zpath = os.path.join(tmp, "a10.zip")
    r = admin(args, site, "export", "Applicant 000010", zpath)
    files = snapshot(site, "Applicant 000010")
    with zipfile.ZipFile(zpath) as z:
        got = {n.split("/", 1)[1].replace("latest/", "", 1): z.read(n) for n in z.namelist()}
    check(r.returncode == 0 and got == files, "export: the archive holds every file byte for byte")
    check(admin(args, site, "export", "Applicant 000010", zpath).returncode != 0,
          "export: an existing file is never overwritten")
    check(re.search(r"\ttester\texport\tpeople\tApplicant 000010\t", audit_lines(site)[-1]) is not None,
          "audit: the export is logged with user, store and applicant")
    logged = len(audit_lines(site))
    refused = [admin(args, site, "erase", "Applicant 000003", "--reference", ref) for ref in ("DSR\t1", "DSR\n1", "D" * 81, "DSR-ü")]
    check(all(r.returncode != 0 for r in refused) and "tab or a line break" in refused[1].stderr and "81 bytes" in refused[2].stderr
          and "Applicant 000003" in folders(site) and len(audit_lines(site)) == logged,
          "erase --reference: a tab, a line break, 81 bytes or a letter outside ASCII refused, nothing done")
    r = admin(args, site, "export", "Applicant 000009", os.path.join(tmp, "a9.zip"), "--reference", " DSR-2026-0142 ")
    z9 = os.path.join(tmp, "a9.zip")
    check(r.returncode == 0 and all(re.fullmatch(r"[^\t]+\ttester\texport\tpeople\tApplicant 000009\t%s\tperson [0-9a-f]{32}\trequest DSR-2026-0142"
                                                 % re.escape(o), l) for o, l in zip(("begun: to " + z9, "written to " + z9), audit_lines(site)[-2:])),
          "export --reference: both lines name the person and end with the request reference")
    check(admin(args, site, "erase", "Applicant 000003", env={"APPLY_AUDIT_LOG": ""}).returncode != 0
          and "Applicant 000003" in folders(site), "erase: refused without an audit log")

    # Erase: folder, list line and catalogue lines go; the others stay; the name is free again.
    r = admin(args, site, "erase", "Applicant 000010")
    check(r.returncode == 0 and "Applicant 000010" not in folders(site) | set(listed(site)) | catalogued(site)
          and len(listed(site)) == 11, "erase: files, list line and catalogue lines gone, others kept")
    begun = re.search(r"\terase\tpeople\tApplicant 000010\tbegun: .*(\[erasure [^]]+\])(\tperson [0-9a-f]{32})$", audit_lines(site)[-2])
    check(begun and audit_lines(site)[-1].endswith("\terase\tpeople\tApplicant 000010\terased " + begun.group(1) + begun.group(2)),
          "audit: the erasure is logged before and after")
    check(admin(args, site, "erase", "Applicant 000010").returncode != 0, "erase: an unknown applicant is an error")

    # Retention with a faked clock: applicant i was filed at 10*i minutes past 2026-01-01.
    now = {"APPLY_NOW": "2026-01-02T00:35:00Z"}  # one day after 00:35: applicants 0..3 are due
    dry = admin(args, site, "retain", "--days", "1", "--dry-run", env=now).stdout
    check(dry.count("due\t") == 4 and folders(site) >= {"Applicant 000000"}, "retain --dry-run: names the due, erases none")
    r = admin(args, site, "retain", "--days", "1", env=now)
    left = folders(site)
    check(r.returncode == 0 and not left & {"Applicant 00000%d" % i for i in range(4)} and len(left) == 7
          and set(listed(site)) == left, "retain: exactly the applicants filed before the cut-off erased")
    lines = audit_lines(site)
    check(sum("\tretention-erase\t" in l and "\tbegun: " in l for l in lines) == 4
          and sum("\tretention-erase\t" in l and "\terased [erasure " in l for l in lines) == 4
          and "\tretention-run\t" in lines[-1] and "\tdone: 4 erased" in lines[-1],
          "audit: each retention erasure named before and after, and the run")

    # A damaged store: a dead link, a repeated line, an unlisted folder, a stray catalogue line.
    people = os.path.join(site, "people")
    shutil.rmtree(os.path.join(people, "Applicant 000005"))
    with open(os.path.join(people, "index.html"), "r+") as f:
        lines = f.readlines()
        lines = [l for l in lines if "000006" not in l] + [lines[0]]
        f.seek(0); f.truncate(); f.writelines(lines)
    os.makedirs(os.path.join(people, "Applicant 000099"))  # a filing in progress: nothing to report
    open(os.path.join(people, "Applicant 000099", ".tmp-1-page"), "w").close()
    r = admin(args, site, "fsck")
    check(r.returncode == 3 and all(w in r.stdout for w in ("line without applicant folder (kept",
          "repeated list line", "folder without list line: Applicant 000006", "catalogue names a missing"))
          and "000099" not in r.stdout, "fsck: reports every kind of damage, not a filing in progress")
    r = admin(args, site, "fsck", "--repair")
    check(r.returncode == 3 and "Applicant 000005" in listed(site) and len(listed(site)) == len(set(listed(site)))
          and set(listed(site)) == folders(site) - {"Applicant 000099"} | {"Applicant 000005"}
          and catalogued(site) == folders(site) - {"Applicant 000099"},
          "fsck --repair: put right, but a missing folder's line is kept and reported")
    shutil.rmtree(os.path.join(people, "Applicant 000099"))
    with open(os.path.join(people, "index.html"), "r+") as f:
        lines = [l for l in f.readlines() if "000005" not in l]
        f.seek(0); f.truncate(); f.writelines(lines)
    check(admin(args, site, "fsck").returncode == 0, "fsck: consistent once the admin took the line out")

    backup = os.path.join(tmp, "backup")
    check(admin(args, site, "backup", backup).returncode == 0
          and set(os.listdir(backup)) == set(os.listdir(people)) - {".tmp-runs"} | {"index.sha256"}
          and admin(args, site, "verify", backup).returncode == 0, "backup: a verified copy of the store root")
    other = os.path.join(tmp, "restored")
    os.makedirs(other)
    check(admin(args, other, "restore", backup).returncode == 0 and admin(args, other, "fsck").returncode == 0
          and audit_lines(site)[-2:][0].endswith("\tbegun: from " + backup), "restore: into an empty site, consistent, audited")
    check(admin(args, site, "restore", backup).returncode != 0, "restore: never over a store in use")
    check_two_of_one_name(args, tmp)
    check_decisions(args, tmp)


def history_of(site, name):
    """The events of the applicant's history files in her folder, oldest first."""
    folder = os.path.join(site, "people", name)
    files = [f for f in os.listdir(folder) if f.startswith("index.history-")] if os.path.isdir(folder) else []
    return [json.loads(l) for f in files for l in open(os.path.join(folder, f), encoding="utf-8")]


def indexed(site):
    path = os.path.join(site, "people", "index.decisions.jsonl")
    return [json.loads(l) for l in open(path, encoding="utf-8")] if os.path.exists(path) else []


def check_decisions(args, tmp):
    """Decisions, notes and keeps; retention counted from a closing decision; erased and exported."""
    site = os.path.join(tmp, "decided")
    make_store(site, 6)  # applicant i filed 2026-01-01, 10*i minutes past midnight
    a = lambda i: "Applicant %06d" % i
    at = lambda when: {"APPLY_NOW": when}
    steps = [admin(args, site, "decide", a(1), "rejected", env=at("2026-03-01T09:00:00Z")),
             admin(args, site, "note", a(1), "Called her; <b>no</b>\nthanks.", env=at("2026-03-01T09:05:00Z")),
             admin(args, site, "decide", a(2), "rejected", env=at("2026-06-01T09:00:00Z")),
             admin(args, site, "decide", a(3), "interview"),
             admin(args, site, "keep", a(4), "2027-12-31", "consent to the talent pool", env=at("2026-06-01T09:00:00Z")),
             admin(args, site, "decide", a(5), "withdrawn", env=at("2026-01-05T09:00:00Z"))]
    submit(args, site, a(5), 55, mail="a5@example.org")  # filed again: she is open again
    refused = [admin(args, site, "decide", a(1), "maybe"), admin(args, site, "note", a(1), "bell\x07"),
               admin(args, site, "keep", a(1), "2026-02-30", "pool")]
    check(all(r.returncode == 0 for r in steps) and all(r.returncode != 0 for r in refused)
          and [(e["kind"], e["by"]) for e in history_of(site, a(1))] == [("decision", "tester"), ("note", "tester")]
          and history_of(site, a(1))[1]["text"] == "Called her; <b>no</b>\nthanks.",
          "decide, note, keep: in her history with who and when; an unknown decision, a control character, a day that is none refused")
    dry = admin(args, site, "retain", "--days", "200", "--closed-days", "180", "--dry-run",
                env=at("2026-09-15T00:00:00Z")).stdout.splitlines()
    due = {l.split("\t")[1]: l.split("\t")[3] for l in dry}
    check(due == {a(0): "last submission 2026-01-01, 200 days", a(1): "rejected 2026-03-01, 180 days",
                  a(3): "last submission 2026-01-01, 200 days"},
          "retain --dry-run: the rejected past their period, the undecided past theirs, not the kept or the reopened: %r" % due)
    r = admin(args, site, "show", a(1))
    check("rejected" in r.stdout and "Called her" in r.stdout, "show: her history after her submissions")
    zpath = os.path.join(tmp, "decided1.zip")
    admin(args, site, "export", a(1), zpath)
    with zipfile.ZipFile(zpath) as z:
        hist = [n for n in z.namelist() if "/index.history-" in n]
        check(len(hist) == 1 and b"Called her" in z.read(hist[0]), "export: her history is in the archive")

    # The index damaged: her line lost, a stray one added; fsck finds it, --repair rebuilds it.
    path = os.path.join(site, "people", "index.decisions.jsonl")
    lines = [l for l in open(path) if a(1) not in l] + ['{"folder":"%s","person":"0","kind":"decision","at":"x","decision":"hired"}\n' % a(0)]
    open(path, "w").writelines(lines)
    r = admin(args, site, "fsck")
    check(r.returncode == 3 and "decision index out of step: " + a(1) in r.stdout
          and "decision index out of step: " + a(0) in r.stdout, "fsck: a damaged decision index found")
    admin(args, site, "fsck", "--repair")
    check(admin(args, site, "fsck").returncode == 0
          and sorted((e["folder"], e["kind"]) for e in indexed(site)) == [(a(i), k) for i, k in
              [(1, "decision"), (2, "decision"), (3, "decision"), (4, "keep"), (5, "decision")]],
          "fsck --repair: the index rebuilt from the histories")
    r = admin(args, site, "retain", "--days", "200", "--closed-days", "180", env=at("2026-09-15T00:00:00Z"))
    check(r.returncode == 0 and folders(site) == {a(2), a(4), a(5)} and not any(e["folder"] == a(1) for e in indexed(site))
          and admin(args, site, "fsck").returncode == 0, "retain: the due erased with their histories and index lines")
    r = admin(args, site, "retain", "--closed-days", "90", "--days", "0", env=at("2026-09-15T00:00:00Z"))
    check(r.returncode == 0 and folders(site) == {a(4), a(5)}, "retain --closed-days alone: the rejected past it only")


def check_two_of_one_name(args, tmp):
    """Two applicants of one name with different addresses are never mixed."""
    site = os.path.join(tmp, "annas")
    make_store(site, 1)
    for i, mail in enumerate(["anna@one.example", "ANNA@two.example", "anna@ONE.example"]):
        submit(args, site, "Anna Schmidt", 100 + i, mail=mail)
    rows = [l.split("\t") for l in admin(args, site, "list").stdout.splitlines() if l.startswith("Anna Schmidt\t")]
    check(sorted((r[2].lower(), r[4]) for r in rows) == [("anna@one.example", "2"), ("anna@two.example", "1")],
          "two applicants of one name: listed apart, the address compared without case")
    check(admin(args, site, "erase", "Anna Schmidt").returncode != 0, "erase: a name of two applicants needs --mail")
    found = admin(args, site, "list", "Submission 100").stdout.splitlines()
    check(len(found) == 1 and found[0].split("\t")[2] == "anna@ONE.example",
          "search covers every submission, not only the newest")
    zpath = os.path.join(tmp, "anna2.zip")
    admin(args, site, "export", "Anna Schmidt", zpath, "--mail", "anna@two.example")
    with zipfile.ZipFile(zpath) as z:
        texts = b"".join(z.read(n) for n in z.namelist())
    check(b"Resume 101" in texts and b"Resume 100" not in texts and b"Resume 102" not in texts
          and b"one.example" not in texts, "export: holds only her own data")
    # Erasing the one whose submission is the folder's latest: the other's is on the page again,
    # her history goes, the other's stays.
    admin(args, site, "note", "Anna Schmidt", "one's note", "--mail", "anna@one.example")
    admin(args, site, "decide", "Anna Schmidt", "offer", "--mail", "anna@two.example")
    r = admin(args, site, "erase", "Anna Schmidt", "--mail", "Anna@one.example", "--reference", "DSR-2026-0150")
    # The export's two lines, the erasure's.
    changes = [l for l in audit_lines(site) if l.split("\t")[2] in ("export", "erase")][-4:]
    people = [l.split("\t")[6] for l in changes]
    check([l.rsplit("\t", 1)[1] for l in changes[-2:]] == ["request DSR-2026-0150"] * 2
          and people[0] == people[1] != people[2] == people[3],
          "erase --reference: begun and done lines carry the request reference, and which of the name's applicants")
    page = open(os.path.join(site, "people", "Anna Schmidt", "index.html"), encoding="utf-8").read()
    kept = snapshot(site, "Anna Schmidt")
    check(r.returncode == 0 and "ANNA@two.example" in page and "one.example" not in page
          and not any(b"one.example" in v or b"Resume 100" in v or b"Resume 102" in v for v in kept.values())
          and b"Resume 101" in kept["cv.txt"] and "Anna Schmidt" in listed(site)
          and [e["kind"] for e in history_of(site, "Anna Schmidt")] == ["decision"]
          and [e["decision"] for e in indexed(site)] == ["offer"]
          and admin(args, site, "fsck").returncode == 0, "erase: one of the two goes, the other is whole and listed")


CHANGES = "rename,renameat,renameat2,unlink,unlinkat,rmdir,mkdir,mkdirat,link,linkat,pwrite64,write,ftruncate,fsync,fdatasync"


def stored(root):
    """Every file below a store root but the temporary ones, with its bytes."""
    out = {}
    for d, ds, fs in os.walk(root):
        ds[:] = [x for x in ds if not x.startswith(".tmp-")]
        for f in fs:
            if not f.startswith(".tmp-"):
                out[os.path.relpath(os.path.join(d, f), root)] = open(os.path.join(d, f), "rb").read()
    return out


def two_annas(args, site):
    make_store(site, 3)
    for i, mail in enumerate(["anna@one.example", "anna@two.example", "anna@one.example"]):
        submit(args, site, "Anna Schmidt", 100 + i, mail=mail)


# (what, make the site, the command, the applicant it must leave whole or gone, and who must stay)
def crash_cases(args):
    return [
        ("erase", lambda site: make_store(site, 4), ["erase", "Applicant 000002"], "Applicant 000002"),
        ("erase one of two", lambda site: two_annas(args, site),
         ["erase", "Anna Schmidt", "--mail", "anna@one.example", "--reference", "DSR-7"], None),
        ("erase with history", lambda site: (make_store(site, 4), admin(args, site, "note", "Applicant 000002", "n"),
                                             admin(args, site, "decide", "Applicant 000002", "offer")),
         ["erase", "Applicant 000002"], "Applicant 000002"),
        ("erase one of two with history", lambda site: (two_annas(args, site), admin(
            args, site, "decide", "Anna Schmidt", "rejected", "--mail", "anna@one.example")),
         ["erase", "Anna Schmidt", "--mail", "anna@one.example"], None),
        ("retain", lambda site: make_store(site, 4), ["retain", "--days", "1"], None),
        ("restore", None, ["restore", "BACKUP"], None),
    ]


def check_crash(args, tmp):
    if shutil.which("strace") is None or subprocess.run(["strace", "-o", "/dev/null", "true"]).returncode:
        print("strace cannot trace here"); sys.exit(77)
    # The leak checker of a sanitizer build cannot run under ptrace.
    env = dict(os.environ, APPLY_AUDIT_LOG=os.path.join(tmp, "audit.log"), APPLY_NOW="2026-01-02T00:15:00Z",
               ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
    backup = os.path.join(tmp, "backup")
    make_store(os.path.join(tmp, "source"), 3)
    admin(args, os.path.join(tmp, "source"), "backup", backup, check=True)
    for what, make, words, victim in crash_cases(args):
        words = [backup if w == "BACKUP" else w for w in words]
        setup = make or (lambda site: os.makedirs(site))
        # One recorded run gives the calls that change something, in order.
        recorded = os.path.join(tmp, "recorded-" + what)
        setup(recorded)
        trace = os.path.join(tmp, "trace")
        subprocess.run(["strace", "-f", "-qq", "-o", trace, "-e", "trace=" + CHANGES, args.admin, "--site", recorded]
                       + words, env=env, check=True, capture_output=True)
        calls = [line.split(None, 1)[1].split("(")[0] for line in open(trace) if "(" in line and " " in line]
        seen = {}
        for n, call in enumerate(calls, 1):
            seen[call] = seen.get(call, 0) + 1
            site = os.path.join(tmp, "%s-%d" % (what.replace(" ", "-"), n))
            setup(site)
            root = os.path.join(site, "people")
            before = stored(root) if os.path.isdir(root) else {}
            log = os.path.join(tmp, "audit-%s-%d.log" % (what.replace(" ", "-"), n))
            e = dict(env, APPLY_AUDIT_LOG=log)
            # The process is killed at that call, as a crash there would stop it.
            subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                            "inject=%s:signal=KILL:when=%d" % (call, seen[call]), args.admin, "--site", site]
                           + words, env=e, capture_output=True)
            lines = open(log).read().splitlines() if os.path.exists(log) else []
            changed = (stored(root) if os.path.isdir(root) else {}) != before
            check(not changed or any("\tbegun: " in l for l in lines),
                  "%s killed at %s #%d: nothing changed, or the audit log names it first" % (what, call, n))
            if what == "restore":
                check(not os.path.exists(root) or not os.listdir(root)
                      or set(stored(root)) == set(stored(backup)) - {"index.sha256"},
                      "restore killed at %s #%d: the root empty or whole" % (call, n))
                # The next restore clears what the killed one left beside the root.
                if not os.path.exists(root) or not os.listdir(root):
                    admin(args, site, "restore", backup, env={"APPLY_AUDIT_LOG": log})
                check(set(stored(root)) == set(stored(backup)) - {"index.sha256"}
                      and not [x for x in os.listdir(site) if x.startswith(".tmp-")],
                      "restore killed at %s #%d: restored again, nothing left beside it" % (call, n))
                continue
            # The next command under the lock finishes what the killed one began, and says so.
            admin(args, site, "fsck", "--repair", env={"APPLY_AUDIT_LOG": log})
            after = open(log).read().splitlines() if os.path.exists(log) else []
            tags = [re.search(r"\[erasure [^]]+\](?=\t|$)", l) for l in after]
            begun = [t.group(0) for t, l in zip(tags, after) if t and "\tbegun: " in l]
            done = [t.group(0) for t, l in zip(tags, after) if t and "\terased" in l]
            # An erasure named but killed before its plan was on disk changed nothing (checked
            # below: the applicant whole); every one that went on is finished, and logged once.
            check(len(done) == len(set(done)) and set(done) <= set(begun)
                  and (changed <= bool(done) or what == "retain" and not done and not changed),
                  "%s killed at %s #%d: every erasure that began is done, logged once" % (what, call, n))
            check("--reference" not in words or all(l.endswith("\trequest DSR-7") for l in after if "\terase\t" in l),
                  "%s killed at %s #%d: its reference in every line, also the finisher's" % (what, call, n))
            check(admin(args, site, "fsck").returncode == 0 and set(listed(site)) == folders(site),
                  "%s killed at %s #%d: consistent, every folder listed once" % (what, call, n))
            if victim:
                gone = victim not in folders(site) | set(listed(site)) | catalogued(site)
                check(gone or snapshot(site, victim) == {k.split("/", 1)[1]: v for k, v in before.items()
                                                         if k.startswith(victim + "/")},
                      "%s killed at %s #%d: the applicant whole or gone" % (what, call, n))
            if "history" in what and done:
                index = os.path.join(root, "index.decisions.jsonl")
                check(not [k for k in stored(root) if "index.history-" in k and k in before]
                      and (not os.path.exists(index) or not open(index).read()),
                      "%s killed at %s #%d: once finished, no history or index line of hers left" % (what, call, n))
            if what.startswith("erase one of two"):
                page = open(os.path.join(root, "Anna Schmidt", "index.html"), encoding="utf-8").read()
                kept = stored(os.path.join(root, "Anna Schmidt"))
                one_left = any(b"one.example" in v for v in kept.values())
                check(b"two.example" in b"".join(kept.values()) and (one_left or "two.example" in page),
                      "erase one of two killed at %s #%d: the other whole, on the page once the first is gone"
                      % (call, n))
        check(len(calls) > 4, "%s makes its changes in %d calls" % (what, len(calls)))


def submit(args, site, name, i, extra_env=None, mail=None, directory=None):
    """stdout; with extra_env (added to the environment) the whole CompletedProcess."""
    boundary = "----lifecycle%d" % i
    parts = [("name", name), ("mail", "n%d@example.org" % i if mail is None else mail),
             ("interest", "Submission %d" % i)] + ([("directory", directory)] if directory else [])
    body = b"".join(b'--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n'
                    % (boundary.encode(), k.encode(), v.encode()) for k, v in parts)
    body += (b'--%s\r\nContent-Disposition: form-data; name="resume"; filename="cv.txt"\r\n'
             b'Content-Type: text/plain\r\n\r\nResume %d\r\n--%s--\r\n' % (boundary.encode(), i, boundary.encode()))
    env = dict(os.environ, REQUEST_METHOD="POST", CONTENT_LENGTH=str(len(body)),
               CONTENT_TYPE="multipart/form-data; boundary=" + boundary, **(extra_env or {}))
    r = subprocess.run([args.apply], input=body, env=env, cwd=site, capture_output=True)
    return r if extra_env is not None else r.stdout


def metric(text, name):
    m = re.search(r"^%s (\S+)$" % re.escape(name), text, re.M)
    return float(m.group(1)) if m else None


def node_exporter_reads(textfile_dir):
    """The metrics node_exporter's textfile collector serves from the folder; None without it."""
    exe = shutil.which("prometheus-node-exporter")
    if not exe:
        return None
    import socket, time, urllib.request
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    proc = subprocess.Popen([exe, "--collector.disable-defaults", "--collector.textfile",
                             "--collector.textfile.directory=" + textfile_dir,
                             "--web.listen-address=127.0.0.1:%d" % port],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(50):
            try:
                return urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=5).read().decode()
            except OSError:
                time.sleep(0.2)
        return ""
    finally:
        proc.terminate()
        proc.wait()


def check_monitor(args, tmp):
    site = os.path.join(tmp, "site")
    make_store(site, 3, start="2020-01-01T00:00:00Z")
    before = (sorted(os.listdir(os.path.join(site, "people"))), open(os.path.join(site, "people", "index.html")).read())
    r = admin(args, site, "check")
    after = (sorted(os.listdir(os.path.join(site, "people"))), open(os.path.join(site, "people", "index.html")).read())
    check(r.returncode == 0 and r.stdout.startswith("FILING OK - ") and before == after,
          "check: OK on a writable store, which it leaves as it was" + ("" if r.returncode == 0 else "\n" + r.stdout))

    counters = os.path.join(tmp, "counters")
    os.mkdir(counters)
    env = {"APPLY_METRICS_DIR": counters}
    answers = [submit(args, site, "Monitored", 1, env), submit(args, site, "Monitored", 2, env, mail=""),
               submit(args, site, "Monitored", 3, env, directory="nowhere")]
    check([a.returncode for a in answers] == [0, 0, 1],
          "apply.cgi's exit status: 0 filed, 0 refused (a field), 1 failed (the store root)")
    check(re.match(rb"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ apply\.cgi: Can't create", answers[2].stderr) is not None,
          "a failure's error line begins with its ISO time")
    text = admin(args, site, "metrics", env=dict(env, APPLY_RETENTION_DAYS="180", APPLY_NOW="2026-12-01T00:00:00Z")).stdout
    check(metric(text, "vocanta_apply_submissions_filed_total") == 1
          and metric(text, 'vocanta_apply_submissions_refused_total{cause="mail"}') == 1
          and metric(text, 'vocanta_apply_submission_failures_total{cause="store_root"}') == 1
          and metric(text, 'vocanta_apply_submission_failures_total{cause="paused"}') == 0,
          "metrics: filed, refused and failed by cause")
    check((metric(text, "vocanta_apply_last_filed_timestamp_seconds") or 0) > 1.7e9
          and metric(text, 'vocanta_apply_applicants{root="people"}') == 4
          and metric(text, 'vocanta_apply_applicants_due_retention{root="people"}') == 3
          and (metric(text, 'vocanta_apply_store_free_bytes{root="people"}') or 0)
              > (metric(text, 'vocanta_apply_store_reserve_bytes{root="people"}') or 0) > 0,
          "metrics: the last filing, applicants, those due under retention, space against the reserve")

    textfiles = os.path.join(tmp, "textfiles")
    os.mkdir(textfiles)
    os.chmod(tmp, 0o755)
    admin(args, site, "metrics", "--check", "--output", os.path.join(textfiles, "vocanta-apply.prom"), env=env)
    served = node_exporter_reads(textfiles)
    if served is None:
        print("skip: node_exporter's textfile collector (prometheus-node-exporter not installed)")
    else:
        check(metric(served, "vocanta_apply_submissions_filed_total") == 1
              and metric(served, 'vocanta_apply_health_status{root="people"}') == 0
              and "node_textfile_scrape_error 0" in served,
              "node_exporter's textfile collector serves the metrics without an error")

    # Unwritable for the user the check runs as: critical, with the conventional exit code.
    if os.geteuid() == 0:
        for d, _, _ in os.walk(tmp):
            os.chmod(d, 0o755)
        r = subprocess.run(["runuser", "-u", "nobody", "--", args.admin, "--site", site, "check"],
                           capture_output=True, text=True)
    else:
        os.chmod(os.path.join(site, "people"), 0o555)
        r = admin(args, site, "check")
        os.chmod(os.path.join(site, "people"), 0o755)
    check(r.returncode == 2 and r.stdout.startswith("FILING CRITICAL - "),
          "check: CRITICAL (exit 2) when the store is unwritable: " + r.stdout.strip())
    shutil.rmtree(os.path.join(site, "people"))
    r = admin(args, site, "check")
    check(r.returncode == 2 and "missing" in r.stdout, "check: CRITICAL when the store root is missing")


def check_concurrent(args, tmp):
    site = os.path.join(tmp, "site")
    make_store(site, 40)
    erased = ["Applicant %06d" % i for i in range(0, 40, 2)]
    with ThreadPoolExecutor(max_workers=84) as pool:
        answers = [pool.submit(submit, args, site, "Newcomer %d" % i, i) for i in range(64)]
        erasures = [pool.submit(admin, args, site, "erase", a) for a in erased]
        thanked = sum(b"Thank You!" in a.result() for a in answers)
        ok = all(e.result().returncode == 0 for e in erasures)
    check(ok and thanked == 64, "64 submissions thanked and 20 erasures done at the same time")
    names = listed(site)
    check(len(names) == len(set(names)) == 84 and set(names) == folders(site)
          and not set(erased) & set(names), "every newcomer listed once, every erased applicant gone")
    # A later submission of an erased name is a new applicant: one line, one submission.
    submit(args, site, erased[0], 99)
    rows = [l for l in admin(args, site, "list").stdout.splitlines() if l.startswith(erased[0] + "\t")]
    check(listed(site).count(erased[0]) == 1 and len(rows) == 1 and rows[0].endswith("\t1"),
          "an erased name submitted again is a new applicant")
    r = admin(args, site, "fsck")
    check(r.returncode == 0, "fsck: consistent after the concurrent run" + ("" if r.returncode == 0 else "\n" + r.stdout))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--admin", required=True)
    p.add_argument("--apply")
    p.add_argument("--check", choices=["admin", "crash", "concurrent", "monitor"], required=True)
    args = p.parse_args()
    with tempfile.TemporaryDirectory(prefix="lifecycle-19-") as tmp:
        {"admin": check_admin, "crash": check_crash, "concurrent": check_concurrent,
         "monitor": check_monitor}[args.check](args, tmp)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


sys.exit(main())
