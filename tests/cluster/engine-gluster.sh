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

# wait_healed SECONDS: asks the volume to heal and waits until no brick has entries left to heal.
wait_healed() {
  local end=$((SECONDS + $1)) info
  while [ $SECONDS -lt "$end" ]; do
    gluster_cli volume heal "$VOLUME" >/dev/null 2>&1
    info=$(gluster_cli volume heal "$VOLUME" info 2>/dev/null)
    if [ "$(grep -c '^Status: Connected' <<<"$info")" -eq 2 ] &&
      [ "$(grep '^Number of entries:' <<<"$info" | grep -v -c ': 0$')" -eq 0 ]; then
      return 0
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
  diff -r --no-dereference -x .glusterfs "$BRICK_1" "$BRICK_2" >"$WORK/bricks.diff" ||
    fault "the bricks differ: $(head -c 500 "$WORK/bricks.diff")"
}
