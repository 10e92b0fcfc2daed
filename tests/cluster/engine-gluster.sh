# The GlusterFS side of the cluster test cases (sourced by lib.sh): the daemon the store-kill case
# kills and restarts, healing, and the checks of each brick on its own.
gluster_cli() { gluster --mode=script "$@"; }

# The second brick's server (with client quorum the first one is needed).
store_daemons=brick-2

# brick_pid ADDRESS PATH: the process id of a brick's server, empty when it is not running.
brick_pid() {
  gluster_cli volume status "$VOLUME" "$1:$2" --xml 2>/dev/null |
    sed -n 's:.*<pid>\([0-9]*\)</pid>.*:\1:p' | grep -v '^-1$' | grep -v '^0$' | head -n 1
}

kill_store_daemon() {  # brick-2: SIGKILL, as when its machine stops
  local pid
  pid=$(brick_pid "$ADDR_2" "$BRICK_2")
  [ -n "$pid" ] && kill -KILL "$pid" || { echo "no process for brick $ADDR_2:$BRICK_2"; return 1; }
  echo "brick $ADDR_2:$BRICK_2 (pid $pid) killed after $(answered_count) answers"
}

restart_store_daemon() {  # brick-2
  [ -z "$(brick_pid "$ADDR_2" "$BRICK_2")" ] || fault "the killed brick came back by itself"
  gluster_cli volume start "$VOLUME" force >/dev/null
}

# bricks_agree: both bricks hold the same files, byte for byte, but for the runs' temporary names.
bricks_agree() {
  diff -r --no-dereference -x .glusterfs -x '.tmp-*' "$BRICK_1" "$BRICK_2" >"$WORK/bricks.diff"
}

# wait_healed SECONDS: asks the volume to heal and waits until no brick has entries left to heal.
# Temporary names that runs made or removed while a brick was down or just back (the register of
# runs, staged files) may stay pending for good: the self-heal fails on them ("Stale file handle")
# and never settles them. Such a heal counts as done once the bricks agree on everything else and
# the pending list has not changed for 10 s; what is left is printed.
wait_healed() {
  local end=$((SECONDS + $1)) info pending last="" since=$SECONDS
  while [ $SECONDS -lt "$end" ]; do
    gluster_cli volume heal "$VOLUME" >/dev/null 2>&1
    info=$(gluster_cli volume heal "$VOLUME" info 2>/dev/null)
    if [ "$(grep -c '^Status: Connected' <<<"$info")" -eq 2 ]; then
      [ "$(grep '^Number of entries:' <<<"$info" | grep -v -c ': 0$')" -eq 0 ] && return 0
      pending=$(grep '^/' <<<"$info" | sort)
      if [ "$pending" != "$last" ]; then
        last=$pending since=$SECONDS
      elif [ $((SECONDS - since)) -ge 10 ] && bricks_agree; then
        echo "left pending by the self-heal, the bricks agreeing on all else:" \
          "$(uniq <<<"$pending" | tr '\n' ' ' | head -c 300)"
        return 0
      fi
    fi
    sleep 1
  done
  echo "$info"
  return 1
}

# check_replicas [UNFINISHED]: each brick on its own holds the same, consistent store.
check_replicas() {
  check_store "$BRICK_1" "${1:-}"
  check_store "$BRICK_2" "${1:-}"
  bricks_agree || fault "the bricks differ: $(head -c 500 "$WORK/bricks.diff")"
}
