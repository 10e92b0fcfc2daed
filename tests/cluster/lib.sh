# Helpers of the cluster test cases, sourced inside the cluster's namespaces (serve/cluster/exec):
# submissions with known resumes, sent to either server, and checks of the store as a mount sees it.
# Needs WORK (a local folder for resumes and answers) and the cluster's settings in the environment.

names=()
mkdir -p "$WORK/resumes" "$WORK/answers"

# make_submissions PREFIX COUNT [SHARED_GROUPS GROUP_SIZE]: COUNT distinct names, then groups of
# submissions sharing a name; each gets a resume of random bytes (1 KiB to about 300 KiB) that
# starts with a letter (a resume that begins with NUL or a line feed counts as none).
make_submissions() {
  local prefix=$1 count=$2 groups=${3:-0} size=${4:-0} i g
  for i in $(seq 0 $((count - 1))); do names+=("$prefix $i"); done
  for g in $(seq 0 $((groups - 1))); do
    for _ in $(seq "$size"); do names+=("$prefix shared $g"); done
  done
  for i in "${!names[@]}"; do
    { printf 'R'; head -c $((1024 + (i * 4801) % 300000)) /dev/urandom; } >"$WORK/resumes/$i"
  done
}

port_of() { [ "$1" = a ] && echo "$PORT_A" || echo "$PORT_B"; }

# submit I SERVER: sends submission I to server a or b; the answer lands in answers/I once whole.
submit() {
  local i=$1 port
  port=$(port_of "$2")
  echo "$2" >"$WORK/answers/$i.server"
  curl -sS --max-time 120 -o "$WORK/answers/$i.part" \
    -F "name=${names[$i]}" -F "mail=a$i@example.org" -F "interest=Work number $i" \
    -F "resume=@$WORK/resumes/$i;filename=cv.bin;type=application/octet-stream" \
    -F "sub=Submit form" "http://127.0.0.1:$port/apply.cgi" 2>"$WORK/answers/$i.curl" || true
  mv "$WORK/answers/$i.part" "$WORK/answers/$i" 2>/dev/null || : >"$WORK/answers/$i"
}

acknowledged() { grep -q "Thank You!" "$WORK/answers/$1" 2>/dev/null; }
answered_count() { find "$WORK/answers" -maxdepth 1 -name '[0-9]*' ! -name '*.*' | wc -l; }

# send_all WORKERS SERVERS...: sends every submission, WORKERS at a time, submission I to the
# server SERVERS[I % count]; returns once all are answered (or failed), whatever else the caller
# runs in the background meanwhile.
send_all() {
  local workers=$1 w i senders=()
  shift
  local servers=("$@")
  for w in $(seq 0 $((workers - 1))); do
    (
      for ((i = w; i < ${#names[@]}; i += workers)); do
        submit "$i" "${servers[$((i % ${#servers[@]}))]}"
      done
    ) &
    senders+=($!)
  done
  wait "${senders[@]}"
}

# wait_answered N [SECONDS]: waits until N submissions are answered, or SECONDS have passed
# (default: as long as the senders' own time-outs allow).
wait_answered() {
  local end=$((SECONDS + ${2:-600}))
  while [ "$(answered_count)" -lt "$1" ] && [ $SECONDS -lt "$end" ]; do sleep 0.05; done
}

fail=0
fault() { echo "FAULT: $*"; fail=1; }

# The checks read each list once and hash the resumes in one run of sha1sum (through a FUSE mount
# a process per name and file took seconds): `listed` counts each name's lines in a list,
# `stored_hash` holds the hash of each applicant's resume in a store, `sent_hash` each submission's
# and `sent_pair` each "NAME/HASH" sent.
declare -A listed stored_hash sent_hash sent_pair
read_list() {  # LIST
  local line
  listed=()
  while IFS= read -r line; do
    [[ $line =~ ^\<br\>\<a\ href=\"[^\"]*\"\>([^\<]*)\</a\>$ ]] &&
      listed[${BASH_REMATCH[1]}]=$((${listed[${BASH_REMATCH[1]}]:-0} + 1))
  done <"$1"
}
hash_resumes() {  # ROOT
  local hash path i
  stored_hash=() sent_hash=() sent_pair=()
  while read -r hash path; do
    path=${path%/cv.bin}
    stored_hash[${path##*/}]=$hash
  done < <(find "$1" -mindepth 2 -maxdepth 2 -name cv.bin -type f -print0 | xargs -0 -r sha1sum)
  while read -r hash i; do
    sent_hash[$i]=$hash
    sent_pair[${names[$i]}/$hash]=1
  done < <(cd "$WORK/resumes" && sha1sum -- *)
}

# check_store ROOT [UNFINISHED]: the store is consistent: the list is whole link lines, one per
# listed name, each listed applicant has a page, each applicant page is listed, every resume stored
# is one that was sent for that name, whole. A name in the file UNFINISHED had a run killed part
# way, which may leave its page or its list line for the name's next run: only those two checks
# are spared for it.
check_store() {
  local root=$1 list=$1/index.html dir name
  [ -f "$list" ] || { fault "$root: no list page"; return; }
  [ ! -s "$list" ] || [ -z "$(tail -c 1 "$list")" ] || fault "$root: the list ends in a torn line"
  local bad
  bad=$(grep -v -c -E '^<br><a href="[^"]*">[^<]*</a>$' "$list" || true)
  [ "$bad" -eq 0 ] || fault "$root: $bad list lines are not whole link lines"
  declare -A unfinished=()
  while IFS= read -r name; do unfinished[$name]=1; done <"${2:-/dev/null}"
  read_list "$list"
  hash_resumes "$root"
  for name in "${!listed[@]}"; do
    [ "${listed[$name]}" -eq 1 ] || fault "$root: $name is listed ${listed[$name]} times"
    [ -n "${unfinished[$name]:-}" ] || [ -f "$root/$name/index.html" ] ||
      fault "$root: $name is listed but has no page"
  done
  for dir in "$root"/*/; do
    [ -d "$dir" ] || continue
    dir=${dir%/}
    name=${dir##*/}
    if [ -f "$dir/index.html" ] && [ -z "${unfinished[$name]:-}" ]; then
      [ -n "${listed[$name]:-}" ] || fault "$root: $name has a page but no list line"
    fi
    if [ -f "$dir/cv.bin" ]; then
      [ -n "${sent_pair[$name/${stored_hash[$name]:-}]:-}" ] ||
        fault "$root: the resume of $name is not one that was sent, whole"
    fi
  done
}

# check_acknowledged ROOT: every submission answered "Thank You!" is complete: its page, its one
# list line and its resume (for a name sent once: exactly its own bytes).
check_acknowledged() {
  local root=$1 i name path
  declare -A sent=() acked=()
  for name in "${names[@]}"; do sent[$name]=$((${sent[$name]:-0} + 1)); done
  while IFS= read -r path; do acked[${path##*/}]=1; done < <(grep -l "Thank You!" "$WORK"/answers/*)
  read_list "$root/index.html"
  hash_resumes "$root"
  for i in "${!names[@]}"; do
    [ -n "${acked[$i]:-}" ] || continue
    name=${names[$i]}
    [ -f "$root/$name/index.html" ] || fault "$root: $name was acknowledged but has no page"
    [ "${listed[$name]:-0}" -eq 1 ] ||
      fault "$root: $name was acknowledged and has ${listed[$name]:-0} list lines"
    if [ "${sent[$name]}" -eq 1 ]; then
      [ "${stored_hash[$name]:-}" = "${sent_hash[$i]}" ] || fault "$root: $name's resume is not the bytes sent"
    else
      [ -n "${sent_pair[$name/${stored_hash[$name]:-}]:-}" ] ||
        fault "$root: $name's resume is not one that was sent, whole"
    fi
  done
}

# check_both_mounts [UNFINISHED]: the store as each server's mount sees it.
check_both_mounts() {
  local root
  for root in "$SITE_A/people" "$SITE_B/people"; do
    check_store "$root" "${1:-}"
    check_acknowledged "$root"
  done
}

# The engine's own: store_daemons, kill_store_daemon, restart_store_daemon, wait_healed and
# check_replicas.
# shellcheck source=/dev/null
source "$(dirname "${BASH_SOURCE[0]}")/engine-$ENGINE.sh"
