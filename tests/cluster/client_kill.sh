# A whole client machine stops while it holds the list lock: server A's file system client is
# killed (SIGKILL), then server A with its programs, while a process of A's holds the lock on the
# list through A's mount. The store releases the dead client's lock within the engine's bound
# (for CephFS: the client's eviction): then server B files every new applicant sent to it
# meanwhile, and the store stays consistent through B's mount.
# Runs inside the cluster (tests/cluster/run-case client_kill ENGINE BUILDDIR).
set -uo pipefail
source "$(dirname "$0")/lib.sh"

make_submissions Client 7
submit 0 a
acknowledged 0 || fault "server A did not file the first applicant"
list_a=$SITE_A/people/index.html list_b=$SITE_B/people/index.html
python3 -c 'import fcntl, os, sys, time
fd = os.open(sys.argv[1], os.O_WRONLY)
fcntl.lockf(fd, fcntl.LOCK_EX)
open(sys.argv[2], "w").close()
time.sleep(600)' "$list_a" "$WORK/held" &
holder=$!
wait_file() { for _ in $(seq 300); do [ -e "$1" ] && return 0; sleep 0.1; done; return 1; }
wait_file "$WORK/held" || { echo "the lock was not taken through A"; exit 1; }
python3 -c 'import fcntl, os, sys
fcntl.lockf(os.open(sys.argv[1], os.O_WRONLY), fcntl.LOCK_EX | fcntl.LOCK_NB)' "$list_b" 2>/dev/null &&
  fault "the lock held through A was granted through B"

kill_client a || { echo "cannot kill client A"; exit 1; }
kill -KILL "$holder"
start=$SECONDS
for i in 1 2 3 4 5 6; do submit "$i" b & done
wait_answered 7 $((lock_release_seconds + 30))
waited=$((SECONDS - start))
echo "server B filed after ${waited} s (bound ${lock_release_seconds} s)"
[ "$waited" -le "$lock_release_seconds" ] || fault "the dead client's lock held B up for $waited s"
wait
for i in 1 2 3 4 5 6; do
  acknowledged "$i" || fault "request $i to server B: no Thank You page: $(cat "$WORK/answers/$i.curl")"
done
check_store "$SITE_B/people"
check_acknowledged "$SITE_B/people"
[ $fail -eq 0 ] && echo "the dead client's lock was released, B filed every applicant"
exit $fail
