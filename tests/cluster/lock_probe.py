# What the list lock needs from the volume, probed through the two mounts of one file: an exclusive
# fcntl lock taken through one mount is refused through the other while held, and once it is
# taken, the size and the bytes seen through the second mount are those written through the first
# (the program truncates the list back to that size when a line cannot be written whole, and reads
# the list's end and lines under the lock, so a stale size or stale bytes would cut off other
# servers' lines or refuse a submission). O_TMPFILE is reported, not required.
# Usage: python3 lock_probe.py PATH_THROUGH_MOUNT_A PATH_THROUGH_MOUNT_B
import errno
import fcntl
import os
import sys

a_path, b_path = sys.argv[1], sys.argv[2]
faults = []
a = os.open(a_path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
for round_ in range(30):
    fcntl.lockf(a, fcntl.LOCK_EX)
    os.write(a, b"<br><a href=\"x\">x</a>\n")
    b = os.open(b_path, os.O_RDWR | os.O_APPEND)
    try:
        fcntl.lockf(b, fcntl.LOCK_EX | fcntl.LOCK_NB)
        faults.append("round %d: the lock held through A was granted through B" % round_)
    except OSError as e:
        if e.errno not in (errno.EAGAIN, errno.EACCES):
            raise
    written = os.fstat(a).st_size
    fcntl.lockf(a, fcntl.LOCK_UN)
    fcntl.lockf(b, fcntl.LOCK_EX)
    seen = os.fstat(b).st_size
    if seen != written:
        faults.append("round %d: through B the size is %d under the lock, %d were written" %
                      (round_, seen, written))
    held = os.pread(b, 1 << 20, 0)
    if len(held) != written or not held.endswith(b"x</a>\n"):
        faults.append("round %d: through B %d bytes read under the lock, %d were written" %
                      (round_, len(held), written))
    fcntl.lockf(b, fcntl.LOCK_UN)
    os.close(b)
os.close(a)
try:
    os.close(os.open(os.path.dirname(a_path), os.O_TMPFILE | os.O_RDWR, 0o600))
    print("O_TMPFILE: supported on the volume")
except OSError as e:
    print("O_TMPFILE: %s on the volume (uploads are held in memory, then staged)" %
          errno.errorcode.get(e.errno, e.errno))
for fault in faults[:5]:
    print("FAULT: " + fault)
print("lock probe: %d faults in 30 rounds" % len(faults))
sys.exit(1 if faults else 0)
