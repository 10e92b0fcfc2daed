#!/usr/bin/env python3
"""Checks on recorded submissions that "Thank You!" means stored for good.

Runs real submissions of apply.cgi under strace (a new applicant with and without a list yet, a
known applicant, a resume spooled and linked into place, one written from memory, a store on
another file system than the spool), replays each record as file system operations, and checks:

  --check order   the order of writes, renames and flushes on the recorded sequence;
  --check crash   every state a crash could leave: after each prefix of the run, what was flushed
                  is on the disk and what was not may be there in part, in whole or not at all;
                  each state must hold every file old or new, never torn, and a list that names
                  no missing page; after "Thank You!" only the new state is possible.

Usage: filing_order_test.py --program APPLY_CGI --check order|crash [--keep DIR]
"""
import argparse
import itertools
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

from fs_record import record_run, report, strace_unusable

BOUNDARY = '----DurabilityTestBoundary7Qx'
# The store roots the scenarios file into, declared as the server would.
STORE_ROOTS = {'APPLY_STORE_ROOTS': 'people:applicants:elsewhere'}
MARKER = '.tmp-unlisted'


def body(name, mail, resume, file_name='cv.bin', directory=None):
    parts = []

    def field(n, v):
        parts.append(f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="{n}"\r\n\r\n'.encode() + v + b'\r\n')
    field('name', name.encode())
    field('mail', mail.encode())
    field('interest', b'Systems programming')
    parts.append(f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="resume"; filename="{file_name}"\r\n'
                 'Content-Type: application/octet-stream\r\n\r\n'.encode() + resume + b'\r\n')
    if directory is not None:
        field('directory', directory.encode())
    parts.append(f'--{BOUNDARY}--\r\n'.encode())
    return b''.join(parts)


def resume_bytes(size, seed):
    state = seed * 2654435761 + 1
    out = bytearray()
    while len(out) < size:
        state = (state * 6364136223846793005 + 1442695040888963407) % 2 ** 64
        out += state.to_bytes(8, 'little')
    out = out[:size]
    out[0:1] = b'R'  # a resume never starts with NUL or LF
    return bytes(out)


class Submission:
    """One recorded submission: the record, its store root and the scenario's name."""

    def __init__(self, program, scenario, workdir, store, request, keep):
        self.scenario, self.store = scenario, store
        env = {'PATH': '/usr/bin:/bin', 'GATEWAY_INTERFACE': 'CGI/1.1', 'REQUEST_METHOD': 'POST',
               'CONTENT_TYPE': f'multipart/form-data; boundary={BOUNDARY}',
               'CONTENT_LENGTH': str(len(request)), **STORE_ROOTS}
        # LeakSanitizer cannot stop the world under a tracer; the other checks still run.
        for var in ('ASAN_OPTIONS', 'UBSAN_OPTIONS'):
            if var in os.environ:
                env[var] = os.environ[var]
        env['ASAN_OPTIONS'] = env.get('ASAN_OPTIONS', '') + ':detect_leaks=0'
        record_path = os.path.join(keep or workdir, f'{scenario}.strace')
        self.out, self.status, err, self.record = record_run([program], env, workdir, request, record_path)
        if self.status != 0 or b'<h1>Thank You!</h1>' not in self.out:
            raise AssertionError(f'{scenario}: not thanked (exit {self.status}): {self.out[-300:]!r} {err[-500:]!r}')
        self.events = self.record.events
        self.store_node = self.record.root
        for part in store.split('/'):
            self.store_node = self.store_node.entries[part]


def submit_plain(program, workdir, request):
    """A submission without a recorder, to prepare a store."""
    env = {'PATH': '/usr/bin:/bin', 'REQUEST_METHOD': 'POST',
           'CONTENT_TYPE': f'multipart/form-data; boundary={BOUNDARY}', 'CONTENT_LENGTH': str(len(request)),
           **STORE_ROOTS}
    for var in ('ASAN_OPTIONS', 'UBSAN_OPTIONS'):
        if var in os.environ:
            env[var] = os.environ[var]
    done = subprocess.run([program], cwd=workdir, env=env, input=request, stdout=subprocess.PIPE, timeout=120)
    assert b'Thank You!' in done.stdout, done.stdout[-300:]


def scenarios(program, base, keep):
    """Every recorded submission; a store on another file system only where one is at hand."""
    big = resume_bytes(600_000, 1)  # several reads and writes of the window
    subs = []

    def workdir(name, store='people'):
        d = os.path.join(base, name)
        os.makedirs(os.path.join(d, store) if store else d)
        return d

    d = workdir('first')
    subs.append(Submission(program, 'first applicant, no list yet, spooled resume', d, 'people',
                           body('Jane Doe', 'jane@example.org', big), keep))
    d = workdir('another')
    submit_plain(program, d, body('John Roe', 'john@example.org', b'old resume\n'))
    subs.append(Submission(program, 'another applicant beside a listed one, spooled resume', d, 'people',
                           body('Jane Doe', 'jane@example.org', big), keep))
    d = workdir('known')
    submit_plain(program, d, body('Jane Doe', 'old@example.org', b'old resume\n'))
    subs.append(Submission(program, 'known applicant, spooled resume replaces the old one', d, 'people',
                           body('Jane Doe', 'jane@example.org', big), keep))
    d = workdir('renamed')
    submit_plain(program, d, body('Jane Doe', 'old@example.org', b'old resume\n', file_name='old-cv.txt'))
    submit_plain(program, d, body('Jane Doe', 'older@example.org', b'older resume\n'))
    subs.append(Submission(program, 'known applicant with an earlier submission, resume of another name', d,
                           'people', body('Jane Doe', 'jane@example.org', big, file_name='new-cv.bin'), keep))
    d = workdir('cut')
    submit_plain(program, d, body('John Roe', 'john@example.org', b'old resume\n'))
    list_path = os.path.join(d, 'people', 'index.html')
    whole = open(list_path, 'rb').read()
    with open(list_path, 'ab') as f:
        f.write(b'<br><a href="Cut%20Sh')  # what a crash in the middle of a line leaves
    sub = Submission(program, 'a list cut by a crash in a line gets the next line after its whole lines', d,
                     'people', body('Jane Doe', 'jane@example.org', b'resume\n'), keep)
    after = open(list_path, 'rb').read()
    expected = whole + b'<br><a href="Jane%20Doe">Jane Doe</a>\n'
    if after != expected:
        raise AssertionError(f'the list after a cut line: {after!r}, expected {expected!r}')
    subs.append(sub)
    d = workdir('memory', store=None)
    os.makedirs(os.path.join(d, 'applicants'))
    subs.append(Submission(program, 'no spool folder: resume written from memory', d, 'applicants',
                           body('Jane Doe', 'jane@example.org', big, directory='applicants'), keep))
    shm = '/dev/shm'
    if os.path.isdir(shm) and os.access(shm, os.W_OK) and os.stat(shm).st_dev != os.stat(base).st_dev:
        d = workdir('elsewhere')
        other = tempfile.mkdtemp(prefix='durability-', dir=shm)
        os.symlink(other, os.path.join(d, 'elsewhere'))
        try:
            subs.append(Submission(program, 'store on another file system than the spool', d, 'elsewhere',
                                   body('Jane Doe', 'jane@example.org', big, directory='elsewhere'), keep))
        finally:
            shutil.rmtree(other)
    else:
        print('note: no /dev/shm on another file system; that case is left out')
    return subs


# --- Helpers over a record ----------------------------------------------------------------------

def hidden(name):
    return name.startswith('.')


def store_folders(sub):
    """The store root and every applicant folder the run saw, as inodes."""
    folders = [sub.store_node]
    for e in sub.events:
        if e.kind == 'add' and e.inode is sub.store_node and e.target.is_dir:
            folders.append(e.target)
    folders += [n for n in sub.store_node.entries.values() if n.is_dir and n not in folders]
    return folders


def ack_index(sub):
    idx = [i for i, e in enumerate(sub.events) if e.kind == 'stdout' and b'Thank You!' in e.data]
    assert idx, f'{sub.scenario}: "Thank You!" was never written to standard output'
    return idx[0]


def list_lines(sub):
    """(event index, applicant name, end offset) of every line the run wrote to the list."""
    lst = sub.store_node.entries.get('index.html')
    out = []
    for i, e in enumerate(sub.events):
        if e.kind == 'write' and e.inode is lst:
            href = e.data.split(b'href="', 1)[1].split(b'"', 1)[0].decode()
            out.append((i, urllib.parse.unquote(href), e.length))
    return lst, out


# --- The order ----------------------------------------------------------------------------------

def check_order(sub):
    """The rules on the recorded sequence; returns the list of broken ones."""
    ev, broken = sub.events, []
    ack = ack_index(sub)
    folders = store_folders(sub)
    folder_ids = {id(f) for f in folders}

    def flushed_between(node, start, end):
        return any(e.kind == 'flush' and e.inode is node for e in ev[start + 1:end])

    flushes = [i for i, e in enumerate(ev) if e.kind == 'flush']
    if flushes and max(flushes) > ack:
        broken.append('a flush comes after "Thank You!"')
    if any(e.kind == 'sync' for e in ev):
        broken.append('the whole file system was flushed (sync/syncfs)')
    counts = {}
    for e in ev:
        if e.kind == 'flush' and not e.inode.is_dir:
            counts[id(e.inode)] = counts.get(id(e.inode), 0) + 1
    if any(c > 1 for c in counts.values()):
        broken.append('a file was flushed more than once')
    for i, e in enumerate(ev):
        if id(e.inode) in folder_ids and e.kind in ('add', 'rename', 'remove', 'write') and i > ack:
            broken.append(f'the store changes after "Thank You!" ({e.syscall} {e.name})')
        # A file gets a final name only with its data flushed after its last write.
        if e.kind in ('add', 'rename') and id(e.inode) in folder_ids and not hidden(e.name) \
                and not e.target.is_dir and e.syscall != 'open':
            writes = [j for j in range(i) if ev[j].kind in ('write', 'truncate') and ev[j].inode is e.target]
            if writes and not flushed_between(e.target, writes[-1], i):
                broken.append(f'{e.name} renamed or linked into place before its data was flushed')
    # Every changed folder is flushed after its last change, before "Thank You!".
    for f in folders:
        # Hidden names (temporary files, marks, the register of runs) need not survive a crash.
        changes = [i for i, e in enumerate(ev) if e.inode is f and e.kind in ('add', 'rename', 'remove')
                   and not hidden(e.name)]
        if changes and not flushed_between(f, changes[-1], ack):
            name = next((e.name for e in reversed(ev[:changes[-1] + 1]) if e.inode is f), '?')
            broken.append(f'a folder is not flushed after its last change ({name})')
    # The list line: the page it names durable in place before it, flushed before the lock goes.
    lst, lines = list_lines(sub)
    for i, applicant, _ in lines:
        ends = [j for j in range(i + 1, len(ev)) if ev[j].inode is lst and ev[j].kind in ('unlock', 'close')]
        if not ends or not flushed_between(lst, i, ends[0]):
            broken.append('the list line is not flushed before the lock is released')
        made = next((j for j, e in enumerate(ev[:i]) if e.kind == 'add' and e.inode is sub.store_node
                     and e.name == applicant), None)
        if made is not None and not flushed_between(sub.store_node, made, i):
            broken.append("the new applicant folder's entry is not flushed before the list line")
        folder = ev[made].target if made is not None else sub.store_node.entries.get(applicant)
        placed = [j for j, e in enumerate(ev[:i]) if e.kind in ('rename', 'add') and e.inode is folder
                  and e.name == 'index.html']
        if not placed:
            broken.append('the list line is written before the page is in place')
        elif not flushed_between(folder, placed[-1], i):
            broken.append("the page's folder is not flushed between the page's rename and the list line")
    return broken


# --- Crash states -------------------------------------------------------------------------------

def torn_points(values):
    """The lengths a file may have on the disk: every length it had, and one cut in each write."""
    points = set(values)
    for a, b in zip(values, values[1:]):
        if b != a:
            points.add((a + b) // 2)
    if len(points) > 6:  # a long series of writes: its ends, its middle and cuts around them
        s = sorted(points)
        points = {s[0], s[1], s[len(s) // 2], s[-2], s[-1]}
    return sorted(points)


def apply_folder(entries, ops):
    entries = dict(entries)
    for e in ops:
        if e.kind == 'add':
            entries[e.name] = e.target
        elif e.kind == 'rename':
            entries.pop(e.old_name, None)
            entries[e.name] = e.target
        elif e.kind == 'remove':
            entries.pop(e.name, None)
    return entries


def crash_states(sub):
    """Yields (cut, state) for every cut of the run and every state a crash there may leave.
    A state maps each file inode to its length on the disk and each folder to its entries."""
    ev = sub.events
    # Before the run every file and folder is on the disk as it was; folders made by the run
    # start empty.
    durable_len, durable_dir, pending = {}, {}, {}

    def initial(node):
        if node.is_dir:
            durable_dir.setdefault(id(node), dict(node.initial_entries))
        else:
            durable_len.setdefault(id(node), node.initial_length if node.initial else 0)

    for cut in range(len(ev) + 1):
        if cut > 0:
            e = ev[cut - 1]
            if e.kind in ('write', 'truncate', 'add', 'rename', 'remove'):
                initial(e.inode)
                pending.setdefault(id(e.inode), (e.inode, []))[1].append(e)
            elif e.kind == 'flush':
                initial(e.inode)
                node, ops = pending.pop(id(e.inode), (e.inode, []))
                if node.is_dir:
                    durable_dir[id(node)] = apply_folder(durable_dir[id(node)], ops)
                elif ops:
                    durable_len[id(node)] = ops[-1].length
        choices = []
        for key, (node, ops) in pending.items():
            if node.is_dir:
                choices.append([(key, 'dir', apply_folder(durable_dir[key], ops[:k])) for k in range(len(ops) + 1)])
            else:
                lengths = torn_points([durable_len[key]] + [o.length for o in ops])
                choices.append([(key, 'file', n) for n in lengths])
        for combo in itertools.product(*choices):
            state_len = dict(durable_len)
            state_dir = dict(durable_dir)
            for key, kind, value in combo:
                (state_dir if kind == 'dir' else state_len)[key] = value
            yield cut, Crash(state_len, state_dir)


class Crash:
    """The disk after one crash: lengths of files, entries of folders (untouched ones as before)."""

    def __init__(self, lengths, folders):
        self.lengths, self.folders = lengths, folders

    def entries(self, folder):
        return self.folders.get(id(folder), folder.initial_entries)

    def length(self, node):
        return self.lengths.get(id(node), node.initial_length if node.initial else 0)


# The catalogue is derived from the records and grows unflushed: a crash may cut its last lines.
CATALOGUE = 'index.jsonl'


def visible(crash, store):
    """path -> (inode, length) of every file under a name that is served (not hidden), the
    catalogue aside."""
    out = {}
    for name, node in crash.entries(store).items():
        if hidden(name) or name == CATALOGUE:
            continue
        if node.is_dir:
            for sub_name, f in crash.entries(node).items():
                if not hidden(sub_name) and not f.is_dir:
                    out[f'{name}/{sub_name}'] = (f, crash.length(f))
        else:
            out[name] = (node, crash.length(node))
    return out


def check_crashes(sub):
    ev = sub.events
    ack = ack_index(sub)
    lst, lines = list_lines(sub)
    store = sub.store_node
    # The list grows in place: empty is its old state when the run creates it, and a line may be
    # cut at its end, which no run acknowledged and the next run cuts off before it appends (the
    # scenario "a list cut by a crash" shows that); only whole lines count as listed.
    grown_in_place = {id(e.target) for e in ev if e.kind == 'add' and e.syscall == 'open'}
    list_lengths = [lst.initial_length if lst is not None and lst.initial else 0] + \
        [e.length for e in ev if e.inode is lst and e.kind in ('write', 'truncate')]
    listed_before = {n for n, f in store.entries.items() if f.is_dir} - {l[1] for l in lines}
    final = {p: (n, n.length) for p, n in final_visible(sub).items()}
    # Every file of an earlier submission stays whole, in its applicant folder or in a folder
    # of that submission inside it.
    earlier = [(f'{name}/{sub_name}', f) for name, d in store.initial_entries.items() if d.is_dir
               for sub_name, f in d.initial_entries.items() if not hidden(sub_name) and not f.is_dir]

    def survives(crash, node, applicant):
        folder = crash.entries(store).get(applicant)
        if folder is None:
            return False
        places = [folder] + [d for d in crash.entries(folder).values() if d.is_dir]
        return any(node in crash.entries(p).values() for p in places) and \
            crash.length(node) == node.initial_length
    broken, states = set(), 0
    for cut, crash in crash_states(sub):
        states += 1
        seen = visible(crash, store)
        for path, (node, length) in seen.items():
            allowed = {node.length}
            if node.initial:
                allowed.add(node.initial_length)
            if id(node) in grown_in_place:
                allowed.add(0)
            if node is lst and min(list_lengths) <= length <= max(list_lengths):
                continue
            if length not in allowed:
                broken.add(f'{path} torn or empty ({length} of {node.length} bytes) after a crash at step {cut}')
        list_len = crash.length(lst) if lst is not None and 'index.html' in crash.entries(store) else 0
        listed = set(listed_before)
        for _, applicant, end in lines:
            if end <= list_len:
                listed.add(applicant)
                if f'{applicant}/index.html' not in seen:
                    broken.add(f'the list names {applicant}, whose page is missing, after a crash at step {cut}')
        for name, node in crash.entries(store).items():
            if node.is_dir and 'index.html' in crash.entries(node) and name not in listed \
                    and MARKER not in crash.entries(node):
                broken.add(f'{name} has a page, no list line and no mark to add one, after a crash at step {cut}')
        for path, node in earlier:
            if not survives(crash, node, path.split('/')[0]):
                broken.add(f'the earlier {path} is lost or torn after a crash at step {cut}')
        if cut > ack and {p: (n, l) for p, (n, l) in seen.items()} != final:
            broken.add(f'after "Thank You!" a crash at step {cut} loses part of the submission')
    return sorted(broken), states


def final_visible(sub):
    out = {}
    for name, node in sub.store_node.entries.items():
        if hidden(name) or name == CATALOGUE:
            continue
        if node.is_dir:
            for n, f in node.entries.items():
                if not hidden(n) and not f.is_dir:
                    out[f'{name}/{n}'] = f
        else:
            out[name] = node
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--program', required=True)
    ap.add_argument('--check', choices=('order', 'crash'), required=True)
    ap.add_argument('--keep', help='keep the strace records in this folder')
    args = ap.parse_args()
    unusable = strace_unusable()
    if unusable is not None:
        return unusable
    base = tempfile.mkdtemp(prefix='filing-order-')
    failed = False
    try:
        for sub in scenarios(os.path.abspath(args.program), base, args.keep):
            if args.check == 'order':
                broken = check_order(sub)
                detail = f'{len(sub.events)} file operations'
            else:
                broken, states = check_crashes(sub)
                detail = f'{states} crash states'
            failed |= report(f'{sub.scenario}: {detail}', broken)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
