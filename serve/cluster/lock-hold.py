# Reads the fcntl and close calls that `strace -f -ttt -T -e trace=fcntl,close` wrote for one or
# more servers and prints, per file, how long each run held a whole-file write lock: from the
# moment the lock was granted to its release (F_UNLCK, or the close of the locked descriptor).
# Usage: python3 lock-hold.py STRACE_OUTPUT...   prints "count p50_ms p99_ms mean_ms"
import re
import sys

call = re.compile(r"^(\d+) +(\d+\.\d+) (fcntl|close)\((\d+)(.*)$")
resumed = re.compile(r"^(\d+) +(\d+\.\d+) <\.\.\. (fcntl|close) resumed>(.*)$")


def holds(path):
    pending = {}  # pid -> (fd, call text) of a call not finished yet
    locked = {}  # pid -> (fd, time granted)
    found = []
    with open(path, errors="replace") as lines:
        for line in lines:
            m = call.match(line)
            if m:
                pid, when, name, fd, rest = m.groups()
                when = float(when)
                if "<unfinished ...>" in rest:
                    pending[pid] = (fd, name, rest)
                    # A release starts the moment it is called.
                    if name == "close" or "F_UNLCK" in rest:
                        release(pid, fd, when, locked, found)
                    continue
                if name == "fcntl" and "F_WRLCK" in rest and "F_SETLK" in rest and " = 0 " in rest:
                    took = re.search(r"<(\d+\.\d+)>\s*$", rest)
                    locked[pid] = (fd, when + (float(took.group(1)) if took else 0.0))
                elif name == "close" or "F_UNLCK" in rest:
                    release(pid, fd, when, locked, found)
                continue
            m = resumed.match(line)
            if m and m.group(1) in pending:
                pid, when, name, rest = m.groups()
                fd, _, start = pending.pop(pid)
                if name == "fcntl" and "F_WRLCK" in start and " = 0 " in rest:
                    locked[pid] = (fd, float(when))
    return found


def release(pid, fd, when, locked, found):
    if pid in locked and locked[pid][0] == fd:
        found.append(when - locked.pop(pid)[1])


def main():
    found = sorted(h for path in sys.argv[1:] for h in holds(path))
    if not found:
        print("0 - - -")
        return
    pick = lambda q: found[min(len(found) - 1, int(q * len(found)))] * 1000
    print("%d %.1f %.1f %.1f" % (len(found), pick(0.50), pick(0.99), sum(found) / len(found) * 1000))


main()
