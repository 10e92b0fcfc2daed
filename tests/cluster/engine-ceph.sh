# The CephFS side of the cluster test cases (sourced by lib.sh): the daemons the store-kill case
# kills and restarts, recovery, and the checks of the store beyond what the mounts show.
# shellcheck source=/dev/null
source "$REPO/serve/cluster/engine-ceph"

# An OSD (the other one holds every placement group on its own meanwhile), then the only
# metadata server (the file system stalls until it is back).
store_daemons="osd.1 mds.a"

kill_store_daemon() {  # NAME: SIGKILL, as when its machine stops
  local pid
  pid=$(daemon_pid "$1")
  [ -n "$pid" ] && kill -KILL "$pid" || { echo "no process for $1"; return 1; }
  echo "$1 (pid $pid) killed after $(answered_count) answers"
}

restart_store_daemon() {  # NAME
  case $1 in
    osd.*) restart_osd "${1#osd.}" ;;
    mds.a) restart_mds && wait_mds_active 90 ;;
  esac
}

# wait_healed SECONDS: until every placement group is active and clean again.
wait_healed() {
  local end=$((SECONDS + $1)) stat
  while [ $SECONDS -lt "$end" ]; do
    stat=$(ceph_cli pg stat 2>/dev/null)
    [[ $stat =~ ^([0-9]+)\ pgs:\ ([0-9]+)\ active\+clean\; ]] &&
      [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ] && return 0
    sleep 1
  done
  echo "$stat"
  return 1
}

# check_replicas: the cluster reports no damage, no unfound object and no scrub error.
check_replicas() {
  ceph_cli health detail >"$WORK/health" 2>&1 || fault "the cluster does not report its health"
  ! grep -q -E 'MDS_DAMAGE|PG_DAMAGED|OBJECT_UNFOUND|OSD_SCRUB_ERRORS' "$WORK/health" ||
    fault "the cluster reports damage: $(head -c 500 "$WORK/health")"
}

# kill_client SERVER: the machine of server a or b stops: its ceph-fuse first, so that nothing it
# holds is given back, then the web server and every program it runs.
kill_client() {
  kill -KILL "$(daemon_pid "client.$1")" && kill -KILL "$(cat "$CLUSTER_STATE/server-$1.pid")"
}
# A dead client's session goes stale after SESSION_TIMEOUT and is evicted, its locks with it, at
# SESSION_AUTOCLOSE; the metadata server looks every 5 s, and a loaded machine adds its own delay.
lock_release_seconds=$((SESSION_AUTOCLOSE + 25))
