"""Records one run of a program under strace and replays it as file system operations.

The replay follows what the run did to the files below its working folder: which inode each
descriptor and each name stands for, every write, rename, link, removal and flush, and every
write to standard output. Each operation becomes one Event; Record.events holds them in the
order the program made them. Nothing about the program is assumed beyond the system calls.

In a program with several threads strace splits a call that another thread's calls interrupt
into an `<unfinished ...>` line and a `<... name resumed>` line. The call counts where it
returned: a flush is on the disk only once it has returned, and a change of another thread
that returned meanwhile may have come before it.
"""
import os
import re
import shutil
import subprocess
from dataclasses import dataclass, field

STRACE = ['strace', '-f', '-qq', '-s', '4096', '-e', 'trace=%file,%desc,sync', '-o']
LINE = re.compile(r'^(\d+)\s+(\w+)\((.*)\)\s+=\s+(-?\d+|0x[0-9a-f]+|\?)(.*)$')
UNFINISHED = re.compile(r'^(\d+)\s+(.*) <unfinished \.\.\.>$')
RESUMED = re.compile(r'^(\d+)\s+<\.\.\. \w+ resumed>(.*)$')


@dataclass
class Inode:
    number: int
    is_dir: bool
    length: int = 0          # bytes the program has written so far (the volatile length)
    initial: bool = False    # there before the run
    initial_length: int = 0
    entries: dict = field(default_factory=dict)  # folders: name -> Inode, as the program sees it
    initial_entries: dict = field(default_factory=dict)  # folders: the entries before the run


@dataclass
class Event:
    """One operation. kind: 'add' (a name created or linked), 'rename', 'remove', 'write',
    'truncate', 'flush' (fsync or fdatasync; `inode` the file or folder), 'stdout', 'sync',
    'unlock' (a whole-file lock released), 'close'."""
    kind: str
    inode: Inode = None      # the file written or flushed, or the folder whose entries change
    name: str = ''           # for folder changes: the entry; for rename: the new name
    old_name: str = ''       # for rename: the name it had
    target: Inode = None     # for add: the inode the name now stands for
    length: int = 0          # for write/truncate: the file's length after it
    data: bytes = b''        # for write and stdout: the bytes (as far as strace shows them)
    syscall: str = ''


def split_args(text):
    """Splits strace's argument text at the commas that are outside strings and brackets."""
    args, depth, cur, i = [], 0, [], 0
    while i < len(text):
        c = text[i]
        if c == '"':
            j = i + 1
            while text[j] != '"':
                j += 2 if text[j] == '\\' else 1
            cur.append(text[i:j + 1])
            i = j + 1
            continue
        if c in '{[':
            depth += 1
        elif c in '}]':
            depth -= 1
        if c == ',' and depth == 0:
            args.append(''.join(cur).strip())
            cur = []
        else:
            cur.append(c)
        i += 1
    if cur:
        args.append(''.join(cur).strip())
    return args


def string_arg(arg):
    """The bytes of a quoted strace string (cut short when strace printed "..." after it)."""
    m = re.match(r'^"(.*)"(\.\.\.)?$', arg, re.S)
    if not m:
        return None
    return m.group(1).encode('latin-1', 'backslashreplace').decode('unicode_escape').encode('latin-1')


class Record:
    """The replay of one recorded run whose working folder is `workdir`."""

    def __init__(self, workdir):
        self.workdir = os.path.realpath(workdir)
        self.events = []
        self.numbers = 0
        self.fds = {}        # descriptor -> Inode
        self.root = self._scan(self.workdir)

    def _inode(self, is_dir, **kw):
        self.numbers += 1
        return Inode(self.numbers, is_dir, **kw)

    def _scan(self, path):
        """The tree as it is before the run, every file and folder taken as durable."""
        if os.path.isdir(path):
            node = self._inode(True, initial=True)
            for name in sorted(os.listdir(path)):
                node.entries[name] = self._scan(os.path.join(path, name))
            node.initial_entries = dict(node.entries)
            return node
        size = os.path.getsize(path)
        return self._inode(False, initial=True, length=size, initial_length=size)

    def _lookup(self, path):
        """(folder, name, inode or None) for a path below the working folder; None outside it."""
        full = os.path.normpath(os.path.join(self.workdir, path))
        if full != self.workdir and not full.startswith(self.workdir + '/'):
            return None
        parts = [p for p in full[len(self.workdir):].split('/') if p]
        if not parts:
            return None
        folder = self.root
        for p in parts[:-1]:
            folder = folder.entries.get(p)
            if folder is None or not folder.is_dir:
                return None
        return folder, parts[-1], folder.entries.get(parts[-1])

    def _emit(self, kind, **kw):
        self.events.append(Event(kind, **kw))

    def replay(self, lines):
        unfinished = {}  # thread -> the first half of its interrupted call
        for line in lines:
            line = line.rstrip('\n')
            m = UNFINISHED.match(line)
            if m:
                unfinished[m.group(1)] = m.group(2)
                continue
            m = RESUMED.match(line)
            if m and m.group(1) in unfinished:
                line = f'{m.group(1)} {unfinished.pop(m.group(1))}{m.group(2)}'
            m = LINE.match(line)
            if not m or m.group(4) == '?':
                continue
            name, args, ret = m.group(2), split_args(m.group(3)), int(m.group(4), 0)
            handler = getattr(self, '_on_' + name, None)
            if handler and ret >= 0:
                handler(args, ret)
            elif name in ('sync', 'syncfs') and ret >= 0:
                self._emit('sync', syscall=name)

    def _path_arg(self, args, dirfd_first):
        if dirfd_first:
            if args[0] != 'AT_FDCWD':
                raise ValueError(f'only AT_FDCWD paths are followed: {args}')
            args = args[1:]
        return string_arg(args[0]).decode('latin-1')

    def _open(self, path, flags, fd):
        found = self._lookup(path)
        if found is None:
            return
        folder, name, node = found
        if 'O_TMPFILE' in flags:
            self.fds[fd] = self._inode(False)
            return
        if node is None and 'O_CREAT' in flags:
            node = self._inode('O_DIRECTORY' in flags)
            folder.entries[name] = node
            self._emit('add', inode=folder, name=name, target=node, syscall='open')
        if node is not None:
            if 'O_TRUNC' in flags and node.length:
                node.length = 0
                self._emit('truncate', inode=node, length=0, syscall='open')
            self.fds[fd] = node

    def _on_openat(self, args, ret):
        self._open(self._path_arg(args, True), args[2], ret)

    def _on_open(self, args, ret):
        self._open(self._path_arg(args, False), args[1], ret)

    def _on_mkdir(self, args, ret):
        found = self._lookup(self._path_arg(args, False))
        if found and found[2] is None:
            node = self._inode(True)
            found[0].entries[found[1]] = node
            self._emit('add', inode=found[0], name=found[1], target=node, syscall='mkdir')

    def _on_write(self, args, ret):
        fd = int(args[0])
        data = string_arg(args[1]) or b''
        if fd == 1:
            self._emit('stdout', data=data, syscall='write')
        elif fd in self.fds:
            node = self.fds[fd]
            node.length += ret
            self._emit('write', inode=node, length=node.length, data=data, syscall='write')

    def _on_pwrite64(self, args, ret):
        node = self.fds.get(int(args[0]))
        if node:
            node.length = max(node.length, int(args[3]) + ret)
            self._emit('write', inode=node, length=node.length, data=string_arg(args[1]) or b'',
                       syscall='pwrite64')

    def _copied(self, fd, ret, syscall):
        """Bytes the kernel copied into the file on `fd` at its position (a spooled upload)."""
        node = self.fds.get(fd)
        if node and ret > 0:
            node.length += ret
            self._emit('write', inode=node, length=node.length, syscall=syscall)

    def _on_copy_file_range(self, args, ret):
        if args[3] == 'NULL':
            self._copied(int(args[2]), ret, 'copy_file_range')

    def _on_sendfile(self, args, ret):
        self._copied(int(args[0]), ret, 'sendfile')

    _on_sendfile64 = _on_sendfile

    def _on_ftruncate(self, args, ret):
        node = self.fds.get(int(args[0]))
        if node:
            node.length = int(args[1])
            self._emit('truncate', inode=node, length=node.length, syscall='ftruncate')

    def _on_fsync(self, args, ret):
        node = self.fds.get(int(args[0]))
        if node:
            self._emit('flush', inode=node, syscall='fsync')

    _on_fdatasync = _on_fsync

    def _on_rename(self, args, ret):
        old, new = self._lookup(self._path_arg(args, False)), self._lookup(self._path_arg(args[1:], False))
        if old is None or new is None:
            return
        if old[0] is not new[0]:
            raise ValueError(f'rename across folders: {args}')
        folder, node = old[0], old[2]
        del folder.entries[old[1]]
        folder.entries[new[1]] = node
        self._emit('rename', inode=folder, old_name=old[1], name=new[1], target=node, syscall='rename')

    def _on_renameat(self, args, ret):
        self._on_rename([args[1], args[3]], ret)

    _on_renameat2 = _on_renameat

    def _on_linkat(self, args, ret):
        source = string_arg(args[1]).decode('latin-1')
        m = re.match(r'^/proc/self/fd/(\d+)$', source)
        if m:
            node = self.fds.get(int(m.group(1)))
        elif 'AT_EMPTY_PATH' in args[4]:
            node = self.fds.get(int(args[0]))
        else:
            node = (self._lookup(source) or (None, None, None))[2]
        found = self._lookup(self._path_arg(args[2:], True))
        if node is None or found is None:
            return
        found[0].entries[found[1]] = node
        self._emit('add', inode=found[0], name=found[1], target=node, syscall='linkat')

    def _on_link(self, args, ret):
        self._on_linkat(['AT_FDCWD', args[0], 'AT_FDCWD', args[1], '0'], ret)

    def _on_unlink(self, args, ret):
        found = self._lookup(self._path_arg(args, False))
        if found and found[2] is not None:
            del found[0].entries[found[1]]
            self._emit('remove', inode=found[0], name=found[1], target=found[2], syscall='unlink')

    def _on_fcntl(self, args, ret):
        node = self.fds.get(int(args[0]))
        if node and 'F_UNLCK' in ''.join(args[2:]):
            self._emit('unlock', inode=node, syscall='fcntl')

    def _on_flock(self, args, ret):
        node = self.fds.get(int(args[0]))
        if node and 'LOCK_UN' in args[1]:
            self._emit('unlock', inode=node, syscall='flock')

    def _on_close(self, args, ret):
        node = self.fds.pop(int(args[0]), None)
        if node:
            self._emit('close', inode=node, syscall='close')

    def _on_dup2(self, args, ret):
        if int(args[0]) in self.fds:
            self.fds[ret] = self.fds[int(args[0])]

    def _on_dup(self, args, ret):
        self._on_dup2(args, ret)

    _on_dup3 = _on_dup2


def record_run(argv, env, workdir, stdin_bytes, record_path):
    """Runs argv in workdir under strace; returns (stdout bytes, exit status, Record)."""
    record = Record(workdir)
    done = subprocess.run(STRACE + [record_path] + argv, cwd=workdir, env=env, input=stdin_bytes,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    with open(record_path, encoding='latin-1') as f:
        record.replay(f)
    return done.stdout, done.returncode, done.stderr, record


def strace_unusable():
    """None when strace can trace a program here; else the exit status to end the test with,
    after saying why: 1 when strace is missing, 77 (skipped) when tracing is refused."""
    if shutil.which('strace') is None:
        print('strace is not installed (scripts/install-deps installs it)')
        return 1
    if subprocess.run(['strace', '-o', os.devnull, 'true'], stderr=subprocess.PIPE).returncode != 0:
        print('skipped: this machine does not let strace trace a process (ptrace refused)')
        return 77
    return None


def report(label, problems):
    """Prints one case's outcome and its problems; True when it failed."""
    print(f"{'ok  ' if not problems else 'FAIL'} {label}")
    for p in problems:
        print(f'       {p}')
    return bool(problems)
