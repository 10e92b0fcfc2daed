# One web server killed (SIGKILL, and with it every program it was running, as when its machine
# stops) in the middle of a run of submissions through both: the other keeps answering every
# submission sent to it with "Thank You!", and the store stays consistent through both mounts and
# in its replicas; the lock on the list held by a killed run does not hold up the other server.
# Runs inside the cluster (tests/cluster/run-case server_kill ENGINE BUILDDIR).
set -uo pipefail
source "$(dirname "$0")/lib.sh"

make_submissions Server 100 4 5
send_all 6 a b &
sender=$!

wait_answered 40
victim=$(cat "$CLUSTER_STATE/server-a.pid")
kill -KILL "$victim"
echo "server A (pid $victim) killed after 40 answers"
wait "$sender"
# A run cut off by the kill may have left its page without its list line or the line without the
# page, for the name's next run to complete; every other name must be whole.
cut=0 refused=0 thanked=0
: >"$WORK/unfinished"
for i in "${!names[@]}"; do
  [ "$(cat "$WORK/answers/$i.server")" = a ] || continue
  if acknowledged "$i"; then thanked=$((thanked + 1))
  elif grep -q -E "Failed to connect|Couldn't connect" "$WORK/answers/$i.curl"; then refused=$((refused + 1))
  else cut=$((cut + 1)); echo "${names[$i]}" >>"$WORK/unfinished"; fi
done
echo "server A: $thanked acknowledged, $cut cut off by the kill, $refused found no server"

for i in "${!names[@]}"; do
  if [ "$(cat "$WORK/answers/$i.server")" = b ]; then
    acknowledged "$i" || fault "request $i (${names[$i]}) to server B: no Thank You page: $(grep -o "<h1>.*</h1>" "$WORK/answers/$i") $(cat "$WORK/answers/$i.curl")"
  fi
done
# B still answers afterwards.
after=${#names[@]}
names+=("Server after")
printf 'Rafter' >"$WORK/resumes/$after"
submit "$after" b
acknowledged "$after" || fault "server B did not take a submission after A was killed"
# Submissions to A after the kill found no server; none of them may be half there.
check_both_mounts "$WORK/unfinished"
check_replicas "$WORK/unfinished"
[ $fail -eq 0 ] && echo "server B answered throughout, the store is consistent"
exit $fail
