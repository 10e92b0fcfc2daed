# A brick's server killed (SIGKILL) in the middle of a run of submissions through both servers, and
# restarted while they go on: every submission answered "Thank You!" is complete through both
# mounts once the volume has healed, none is half there, and both bricks hold the same store.
# Runs inside the cluster (tests/cluster/run-case brick_kill BUILDDIR).
set -uo pipefail
source "$(dirname "$0")/lib.sh"

make_submissions Brick 180 4 5
send_all 3 a b &
sender=$!

wait_answered 40
pid=$(brick_pid "$ADDR_2" "$BRICK_2")
[ -n "$pid" ] || { echo "no process for brick $ADDR_2:$BRICK_2"; exit 1; }
kill -KILL "$pid"
echo "brick $ADDR_2:$BRICK_2 (pid $pid) killed after 40 answers"
wait_answered 110
[ -z "$(brick_pid "$ADDR_2" "$BRICK_2")" ] || fault "the killed brick came back by itself"
gluster_cli volume start "$VOLUME" force >/dev/null || fault "the brick could not be restarted"
echo "brick restarted after $(answered_count) answers"
wait "$sender"

acked=0
for i in "${!names[@]}"; do acknowledged "$i" && acked=$((acked + 1)); done
echo "$acked of ${#names[@]} submissions answered \"Thank You!\""
[ "$acked" -ge 110 ] || fault "only $acked submissions acknowledged with one brick of two running"

wait_healed 120 || fault "the volume did not heal within 120 s"
check_both_mounts
check_bricks
[ $fail -eq 0 ] && echo "every acknowledged submission complete on both mounts and both bricks"
exit $fail
