# 64 concurrent complete submissions spread over both servers: 32 distinct names and 4 groups of 8
# sharing a name, every other one through the other server. Every answer is "Thank You!", every
# resume is stored byte for byte as both mounts see it (for a shared name: one of its submissions'
# whole), the list holds exactly one whole line per distinct name, and no temporary file is left
# but one planted as another machine's run in progress. Each server runs in a PID namespace of its
# own, as on two machines: a run must not take the other server's files in progress for stale.
# Staff read the list through either server with one account. Meanwhile an admin erases four
# earlier applicants through the other server's mount: none of their files or lines is left.
# Runs inside the cluster (tests/cluster/run-case concurrent ENGINE BUILDDIR).
set -uo pipefail
source "$(dirname "$0")/lib.sh"

# The list lock across the two mounts, on a file of its own.
python3 "$(dirname "$0")/lock_probe.py" "$SITE_A/people/.probe" "$SITE_B/people/.probe" ||
  fault "the store does not give the list lock what it needs"
rm -f "$SITE_A/people/.probe"

make_submissions Applicant 32 4 8
# Temporary files of runs whose process ids are not running here: one written long ago (a run
# killed then, cleared by the next run in its folder), one just now (maybe another machine's run
# in progress, kept).
planted="$SITE_A/people/Applicant shared 1"
mkdir -p "$planted"
printf 'partial' >"$planted/.tmp-7ffffffe-0"
touch -d '1 hour ago' "$planted/.tmp-7ffffffe-0"
printf 'partial' >"$planted/.tmp-7ffffffd-0"
chown -R "$SERVER_USER:" "$planted"
erased=("Erased 0" "Erased 1" "Erased 2" "Erased 3")
for name in "${erased[@]}"; do
  curl -sS --max-time 60 -o /dev/null -F "name=$name" -F "mail=gone@example.org" -F "interest=x" \
    -F "resume=@$WORK/resumes/0;filename=cv.bin" -F "sub=Submit form" "http://127.0.0.1:$PORT_A/apply.cgi"
done
( for name in "${erased[@]}"; do
    "$ADMIN" --site "$SITE_B" --audit "$WORK/audit.log" --user admin erase "$name" >/dev/null ||
      echo "$name" >>"$WORK/erase-failed"
  done ) &
eraser=$!
start=$(date +%s.%N)
send_all 64 a b
end=$(date +%s.%N)
wait "$eraser"
[ ! -e "$WORK/erase-failed" ] || fault "not erased: $(cat "$WORK/erase-failed")"
for name in "${erased[@]}"; do
  for root in "$SITE_A/people" "$SITE_B/people"; do
    [ ! -e "$root/$name" ] && ! grep -qF ">$name<" "$root/index.html" && ! grep -qF "\"$name\"" "$root/index.jsonl" ||
      fault "$root: something of the erased $name is left"
  done
done

for i in "${!names[@]}"; do
  acknowledged "$i" || fault "request $i (${names[$i]}, server $(cat "$WORK/answers/$i.server")): no Thank You page: $(head -c 300 "$WORK/answers/$i") $(cat "$WORK/answers/$i.curl")"
done
check_both_mounts
distinct=$(printf '%s\n' "${names[@]}" | sort -u | wc -l)
for root in "$SITE_A/people" "$SITE_B/people"; do
  lines=$(wc -l <"$root/index.html")
  [ "$lines" -eq "$distinct" ] || fault "$root: the list holds $lines lines for $distinct names"
  # The register of runs (.tmp-runs) is kept from run to run; an entry left in it still counts.
  left=$(find "$root" -name '.tmp-*' ! -name '.tmp-7ffffffd-0' ! -path "$root/.tmp-runs" | wc -l)
  [ "$left" -eq 0 ] || fault "$root: $left temporary files left behind"
  [ -f "$root/Applicant shared 1/.tmp-7ffffffd-0" ] || fault "$root: a recent temporary file was removed"
done

# One staff account (one password file for both servers) reads the list through either server,
# as the volume holds it.
credentials=$(cat "$CLUSTER_STATE/staff-credentials")
for port in "$PORT_A" "$PORT_B"; do
  curl -sS -u "$credentials" -o "$WORK/list.$port" "http://127.0.0.1:$port/people/index.html"
  cmp -s "$WORK/list.$port" "$SITE_A/people/index.html" ||
    fault "the staff account does not get the list through port $port"
done

printf '%d submissions (%d distinct names) over two servers in %.1f s\n' \
  "${#names[@]}" "$distinct" "$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')"
[ $fail -eq 0 ] && echo "all stored, one list line per name, the same through both mounts"
exit $fail
