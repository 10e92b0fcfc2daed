#!/usr/bin/env bash
# 64 concurrent complete submissions through the real web server: 32 distinct names and 4 groups
# of 8 sharing a name. Afterwards every response is a "Thank You!" page, every resume is stored
# byte for byte (for a shared name: one of its submissions' whole), and the list page holds
# exactly one whole line per distinct name and nothing else.
# Usage: concurrent_submissions.sh PATH/TO/app/apply.cgi
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 APPLY_CGI" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$(dirname "$1")/.." && pwd)

tmp=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && "$repo/serve/stop-server" "$server_pid"
  rm -rf "$tmp"
}
trap cleanup EXIT

"$repo/serve/make-site" "$build" "$tmp/site"
read -r server_pid port < <(LOG_DIR="$tmp/log" "$repo/serve/start-test-server" "$tmp/site")
url="http://127.0.0.1:$port/apply.cgi"

names=()
for i in $(seq 0 31); do names+=("Applicant $i"); done
for g in 0 1 2 3; do for _ in $(seq 8); do names+=("Shared $g"); done; done

mkdir -p "$tmp/resumes" "$tmp/answers"
for i in "${!names[@]}"; do
  # Sizes from 1 KiB to about 300 KiB, random bytes of every value after the first: a resume
  # that begins with NUL or a line feed counts as no resume at all.
  { printf 'R'; head -c $((1024 + i * 4801)) /dev/urandom; } >"$tmp/resumes/$i"
done

fail=0
pids=()
start=$(date +%s.%N)
for i in "${!names[@]}"; do
  curl -sS --max-time 300 -o "$tmp/answers/$i" \
    -F "name=${names[$i]}" -F "mail=a$i@example.org" -F "interest=Work number $i" \
    -F "resume=@$tmp/resumes/$i;filename=cv.bin;type=application/octet-stream" \
    -F "directory=people" -F "sub=Submit form" "$url" &
  pids+=($!)
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || { echo "request $i (${names[$i]}): curl failed"; fail=1; }
done
end=$(date +%s.%N)

for i in "${!names[@]}"; do
  grep -q "Thank You!" "$tmp/answers/$i" || { echo "request $i (${names[$i]}): no Thank You page"; fail=1; }
done

store="$tmp/site/people"
declare -A seen=()
for i in "${!names[@]}"; do
  name=${names[$i]}
  [ -n "${seen[$name]:-}" ] && continue
  seen[$name]=1
  stored="$store/$name/cv.bin"
  [ -f "$stored" ] || { echo "$name: no resume stored"; fail=1; continue; }
  match=0
  for j in "${!names[@]}"; do
    [ "${names[$j]}" = "$name" ] && cmp -s "$stored" "$tmp/resumes/$j" && match=1
  done
  [ $match -eq 1 ] || { echo "$name: the stored resume is not one that was sent, byte for byte"; fail=1; }
  count=$(grep -c -F ">$name</a>" "$store/index.html" || true)
  [ "$count" -eq 1 ] || { echo "$name: $count list lines"; fail=1; }
done

lines=$(wc -l <"$store/index.html")
[ "$lines" -eq "${#seen[@]}" ] || { echo "list holds $lines lines for ${#seen[@]} names"; fail=1; }
[ -z "$(tail -c 1 "$store/index.html")" ] || { echo "the list ends in a torn line"; fail=1; }
bad=$(grep -v -c -E '^<br><a href="[^"]*">[^<]*</a>$' "$store/index.html" || true)
[ "$bad" -eq 0 ] || { echo "$bad list lines are not whole link lines"; fail=1; }

printf '%d submissions (%d distinct names) in %.1f s through lighttpd\n' \
  "${#names[@]}" "${#seen[@]}" "$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')"
[ $fail -eq 0 ] && echo "all stored, one list line per name"
exit $fail
