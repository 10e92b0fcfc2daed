#!/usr/bin/env python3
"""Lays out a store root in the store's on-disk format, quickly: COUNT applicants (one in ten with
an earlier submission kept in a history folder), their list lines and the catalogue. For the
console's tests and its benchmark, where filing 100,000 applicants through the program would take
too long. --decided N: every Nth applicant also has a decision and a note in her history, and a
line in the decision index. Usage: make_store.py ROOT COUNT [--start 2026-01-01T00:00:00Z]
[--decided N] [--name NAME]... (the newest, in order)"""
import argparse, datetime, hashlib, html, json, os, urllib.parse

DECISIONS = ["in-review", "interview", "offer", "hired", "rejected", "withdrawn"]

def page(name, mail, interest, resume):
    return ("<html>\n<head>\n<title>\n%s\n</title>\n</head>\n<body bgcolor=\"#FFEEDD\">\n"
            "<h1>%s</h1>\nEmail: <a href=\"mailto:%s\">%s</a>\n<p>\n%s\n"
            "<a href=\"%s\">My resume is here</a>\n</body>\n</html>\n") % tuple(
                html.escape(x) for x in (name, name, mail, mail, interest, resume))

def write(path, data):
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())

def main():
    p = argparse.ArgumentParser()
    p.add_argument("root"); p.add_argument("count", type=int)
    p.add_argument("--start", default="2026-01-01T00:00:00Z")
    p.add_argument("--name", action="append", default=[])
    p.add_argument("--decided", type=int, default=0)
    a = p.parse_args()
    start = datetime.datetime.strptime(a.start, "%Y-%m-%dT%H:%M:%SZ")
    os.makedirs(a.root, exist_ok=True)
    with open(os.path.join(a.root, "index.html"), "a") as lst, \
         open(os.path.join(a.root, "index.jsonl"), "a") as cat, \
         open(os.path.join(a.root, "index.decisions.jsonl"), "a") as decided:
        for i in range(a.count + len(a.name)):
            name = "Applicant %06d" % i if i < a.count else a.name[i - a.count]
            folder = os.path.join(a.root, name)
            os.mkdir(folder)
            kept = [1] if i % 10 == 0 else []
            for n, k in enumerate(kept + [0]):
                filed = start + datetime.timedelta(minutes=10 * i + n)
                stamp = filed.strftime("%Y%m%dT%H%M%SZ")
                rec = {"name": name, "mail": "a%d@example.org" % i,
                       "interest": "Work number %d, %s" % (i, "earlier" if k else "latest"),
                       "resume": "cv-%d.pdf" % i, "resume_size": 12,
                       "filed": filed.strftime("%Y-%m-%dT%H:%M:%SZ")}
                where = os.path.join(folder, stamp) if k else folder
                if k: os.mkdir(where)
                write(os.path.join(where, "index.json"), json.dumps(rec))
                write(os.path.join(where, "index.html"), page(name, rec["mail"], rec["interest"], rec["resume"]))
                write(os.path.join(where, rec["resume"]), b"%%PDF-1.4 %d\n" % (i % 10))
                cat.write(json.dumps(dict(rec, folder=name, stamp=stamp)) + "\n")
            lst.write('<br><a href="%s">%s</a>\n' % (urllib.parse.quote(name, safe=""), html.escape(name)))
            if a.decided and i % a.decided == 0:
                person = hashlib.sha256(rec["mail"].encode()).hexdigest()[:32]
                at = (filed + datetime.timedelta(days=7)).strftime("%Y-%m-%dT%H:%M:%SZ")
                event = {"at": at, "by": "staff", "kind": "decision", "decision": DECISIONS[i % len(DECISIONS)]}
                note = {"at": at, "by": "staff", "kind": "note", "text": "Spoke with her about work %d." % i}
                write(os.path.join(folder, "index.history-%s.jsonl" % person),
                      json.dumps(event) + "\n" + json.dumps(note) + "\n")
                decided.write(json.dumps(dict(event, folder=name, person=person)) + "\n")

main()
