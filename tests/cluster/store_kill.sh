# The store's own servers killed (SIGKILL) one after another in the middle of a run of submissions
# through both web servers, each restarted while they go on (the engine names them: a GlusterFS
# brick; a Ceph OSD, then the metadata server): every submission answered "Thank You!" is complete
# through both mounts once the store has recovered, none is half there, and the replicas agree.
# Runs inside the cluster (tests/cluster/run-case store_kill ENGINE BUILDDIR).
set -uo pipefail
source "$(dirname "$0")/lib.sh"

make_submissions Store 100 4 5
send_all 3 a b &
sender=$!

# Each daemon is killed 25 answers after the last restart and restarted 25 answers later, or
# after 5 s when the store stalls without it (as it does without the only metadata server).
next=30
for daemon in $store_daemons; do
  wait_answered "$next"
  kill_store_daemon "$daemon" || exit 1
  wait_answered $((next + 25)) 5
  restart_store_daemon "$daemon" || fault "$daemon could not be restarted"
  echo "$daemon restarted after $(answered_count) answers"
  next=$(($(answered_count) + 25))
done
wait "$sender"

acked=0
for i in "${!names[@]}"; do acknowledged "$i" && acked=$((acked + 1)); done
echo "$acked of ${#names[@]} submissions answered \"Thank You!\""
[ "$acked" -ge 70 ] || fault "only $acked submissions acknowledged while the store's servers were killed"

wait_healed 120 || fault "the store did not recover within 120 s"
check_both_mounts
check_replicas
[ $fail -eq 0 ] && echo "every acknowledged submission complete on both mounts and the replicas"
exit $fail
