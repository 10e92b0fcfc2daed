#!/usr/bin/env bash
# The staff console through lighttpd, driven by curl: the staff login, the table's order, pages
# and search, escaping, the headers, an applicant's submissions, possible duplicates, export,
# erasure and bulk erasure with their audit lines, decisions, notes and keeps, and the changes a
# request from another site or without the form's token may not make.
# Usage: tests/console/console-curl.sh BUILDDIR
set -euo pipefail
build=$(cd "$1" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d /tmp/console-19-XXXXXX)
export LOG_DIR=$tmp/log SERVER_MAX_SECONDS=600
pid=""
trap '[ -z "$pid" ] || "$repo/serve/stop-server" "$pid"; [ -n "${KEEP_TMP:-}" ] || rm -rf "$tmp"' EXIT

failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi; }

"$repo/serve/make-site" "$build" "$tmp/site"
evil='<img src=x onerror=alert(1)> O'"'"'Brien'
python3 "$repo/tests/console/make_store.py" "$tmp/site/people" 60 --name "$evil" --name "Zoë Ærø"
read -r pid port < <("$repo/serve/start-test-server" "$tmp/site")
console=http://127.0.0.1:$port/staff.cgi
staff=(-u "$(cat "$LOG_DIR/staff-credentials")")
# get NAME QUERY [curl options]: the page to $tmp/NAME, the header to $tmp/NAME.h; prints the status.
get() { local name=$1 query=$2; shift 2; curl -sS -o "$tmp/$name" -D "$tmp/$name.h" -w '%{http_code}' "$@" "$console?$query"; }
# post NAME BODY [curl options]
post() { local name=$1 body=$2; shift 2; curl -sS -o "$tmp/$name" -w '%{http_code}' "${staff[@]}" -d "$body" "$@" "$console"; }
first_name() { grep -o 'view=applicant[^>]*>[^<]*' "$tmp/$1" | head -n 1 | sed 's/.*>//'; }
token() { grep -o 'name="token" value="[0-9a-f.]*' "$tmp/$1" | head -n 1 | cut -d'"' -f4; }

check "no login, no console" '[ "$(get anon "")" = 401 ] && [ "$(curl -s -o /dev/null -w "%{http_code}" "$console/x")" = 401 ]'
check "the table, newest first" '[ "$(get table "" "${staff[@]}")" = 200 ] && [ "$(first_name table)" = "Zoë Ærø" ]'
check "sorted by name" '[ "$(get byname "sort=name" "${staff[@]}")" = 200 ] && [ "$(first_name byname)" = "&lt;img src=x onerror=alert(1)&gt; O&#39;Brien" ]'
check "sorted oldest first, and paged" 'get old "sort=oldest&page=2" "${staff[@]}" >/dev/null && [ "$(first_name old)" = "Applicant 000050" ] && grep -q "Page 2 of 2" "$tmp/old"'
check "applicant text escaped everywhere" '! grep -q "<img src=x" "$tmp/byname"'
check "the headers: UTF-8, no script, no frames" 'grep -qi "^Content-Type: text/html; charset=utf-8" "$tmp/table.h" && grep -i "^Content-Security-Policy:" "$tmp/table.h" | grep -q "default-src '"'"'none'"'"'.*frame-ancestors '"'"'none'"'"'"'
check "search by mail and by interest, any case" 'get s1 "q=A17%40EXAMPLE" "${staff[@]}" >/dev/null && [ "$(first_name s1)" = "Applicant 000017" ] && get s2 "q=number+23%2C" "${staff[@]}" >/dev/null && grep -q "1 applicant found" "$tmp/s2"'
check "search for a name with an apostrophe" 'get s3 "q=O%27Brien" "${staff[@]}" >/dev/null && grep -q "1 applicant found" "$tmp/s3"'
check "page numbers clamped to what exists" 'for p in 10000000:2 -7:1 abc:1 99999999999999999999999:2; do get pg "page=${p%:*}" "${staff[@]}" >/dev/null && grep -q "Page ${p#*:} of 2<" "$tmp/pg" || exit 1; done'
check "search ignores case and accents" 'get s4 "q=ZOE" "${staff[@]}" >/dev/null && [ "$(first_name s4)" = "Zoë Ærø" ] && grep -q "1 applicant found" "$tmp/s4"'
# Possible duplicates: her folded name with another address, an address under another name.
apply() { curl -s -o /dev/null -F "name=$1" -F "mail=$2" -F interest=Again -F "resume=@$repo/README.md" "http://127.0.0.1:$port/apply.cgi"; }
apply "ZOË ÆRØ" zoe@elsewhere.example && apply "Someone Else" A17@example.org
check "possible duplicates marked in the table" 'get d1 "q=zoe" "${staff[@]}" >/dev/null && [ "$(grep -c ">possible duplicate<" "$tmp/d1")" = 2 ] && get d2 "q=number+18%2C" "${staff[@]}" >/dev/null && ! grep -q ">possible duplicate<" "$tmp/d2"'
check "possible duplicates on her page, nothing merged" 'get d3 "view=applicant&a=Applicant%20000017" "${staff[@]}" >/dev/null && grep -q ">Someone Else</a> (A17@example.org): the same e-mail address under another name" "$tmp/d3" && [ -d "$tmp/site/people/Someone Else" ]'
check "one applicant: every submission, newest first" 'get one "view=applicant&a=Applicant%20000030" "${staff[@]}" >/dev/null && grep -o "Submission [0-9] of 2" "$tmp/one" | tr "\n" " " | grep -q "^Submission 2 of 2 Submission 1 of 2"'

# Export and erasure with the tokens of the console's own pages.
t=$(token one)
check "export: a zip of both submissions, audited with its request reference" '[ "$(post zip "root=people&a=Applicant+000030&action=export&token=$t&reference=+DSR-2026-0142+")" = 200 ] && python3 -c "import zipfile,sys; n=zipfile.ZipFile(sys.argv[1]).namelist(); sys.exit(len(n) != 6)" "$tmp/zip" && grep -q "	staff	export	people	Applicant 000030	handed out: 2 submissions	person [0-9a-f]\{32\}	request DSR-2026-0142$" "$LOG_DIR/audit.log"'
get confirm "view=erase&a=Applicant%20000030" "${staff[@]}" >/dev/null
t=$(token confirm)
body="root=people&a=Applicant+000030&action=erase&token=$t"
check "a GET never erases" '[ "$(get g "$body" "${staff[@]}")" = 403 ] && [ -d "$tmp/site/people/Applicant 000030" ]'
check "a post from another site is refused" '[ "$(post x1 "$body" -H "Origin: http://elsewhere.example" -H "Sec-Fetch-Site: cross-site")" = 403 ] && [ "$(post x2 "$body" -H "Origin: http://127.0.0.1:1")" = 403 ] && [ -d "$tmp/site/people/Applicant 000030" ]'
check "a post from the console's host over another scheme or port is refused" '[ "$(post x4 "$body" -H "Origin: https://127.0.0.1:$port")" = 403 ] && [ "$(post x5 "$body" -H "Origin: http://127.0.0.1:$((port + 1))")" = 403 ] && [ -d "$tmp/site/people/Applicant 000030" ]'
check "a form given before her newest submission is refused" 'curl -s -o /dev/null -F "name=Applicant 000030" -F mail=a30@example.org -F interest=Again -F "resume=@$repo/README.md" "http://127.0.0.1:$port/apply.cgi" && [ "$(post x6 "$body")" = 403 ] && grep -q "filed again since" "$tmp/x6" && [ -d "$tmp/site/people/Applicant 000030" ]'
get confirm "view=erase&a=Applicant%20000030" "${staff[@]}" >/dev/null
t=$(token confirm)
body="root=people&a=Applicant+000030&action=erase&token=$t"
check "a post without the token of the form is refused" '[ "$(post x3 "${body%token=*}token=${t%?}$([ "${t: -1}" = 0 ] && echo 1 || echo 0)")" = 403 ] && [ "$(post x7 "${body%token=*}token=9999999999999999999.${t#*.}")" = 403 ] && [ -d "$tmp/site/people/Applicant 000030" ]'
logged=$(wc -l < "$LOG_DIR/audit.log")
check "a request reference with a tab, a line break or 81 bytes is refused, nothing done" 'for r in "a%09b" "a%0Ab" "$(printf "x%.0s" $(seq 81))"; do [ "$(post r "$body&reference=$r")" = 400 ] || exit 1; done && grep -q "at most 80" "$tmp/r" && [ -d "$tmp/site/people/Applicant 000030" ] && [ "$(wc -l < "$LOG_DIR/audit.log")" = "$logged" ]'
body="$body&reference=%3Cb%3E%22DSR-7"
check "erase: folder and line gone, audited" '[ "$(post erased "$body" -H "Origin: http://127.0.0.1:$port" -H "Sec-Fetch-Site: same-origin")" = 200 ] && [ ! -e "$tmp/site/people/Applicant 000030" ] && ! grep -q "Applicant%20000030" "$tmp/site/people/index.html" && grep -q "	staff	erase	people	Applicant 000030	erased" "$LOG_DIR/audit.log"'
# The audit view, over lines of the format before request references too (a hostile name in them),
# read in blocks: 1000 lines, one of them 100 kB long, across many.
long=$(printf 'x%.0s' $(seq 100000))
for i in $(seq 1000); do printf '2025-01-%02dT10:00:00Z\tolder\texport\tpeople\t%s\t%s\n' $((i % 28 + 1)) "$evil" "$([ "$i" = 500 ] && echo "$long" || echo "handed out: 1 submissions")"; done >> "$LOG_DIR/audit.log"
actions() { get "$1" "view=audit&$2" "${staff[@]}" >/dev/null; grep -o 'data-label="Action">[^<]*' "$tmp/$1" | cut -d'>' -f2 | tr '\n' ' '; }
check "audit view: an applicant's lines newest first, with their references" '[ "$(actions v1 "a=Applicant%20000030")" = "erase erase export " ] && [ "$(grep -c "DSR-2026-0142</a>" "$tmp/v1")" = 1 ] && grep -q "&lt;b&gt;&quot;DSR-7</a>" "$tmp/v1" && ! grep -q "<b>\"DSR" "$tmp/v1"'
person=$(grep -m1 -o "Applicant 000030	handed out[^	]*	person [0-9a-f]*" "$LOG_DIR/audit.log" | sed "s/.* //")
# A note's line as the first version wrote it, her person id at the end of the outcome.
printf '2025-02-01T10:00:00Z\tearlier\tnote\tpeople\tApplicant 000030\tnote added: 3 bytes [person %s]\n' "$person" >> "$LOG_DIR/audit.log"
check "audit view: filtered by person id (an earlier note's line too), action, staff member, reference and days" '[ "$(actions v8 "a=Applicant%20000030&p=$person")" = "note erase erase export " ] && [ "$(actions v9 "p=${person%?}")" = "" ] && [ "$(actions v2 "a=Applicant%20000030&what=export")" = "export " ] && [ "$(actions v3 "by=%22%3E%3Cimg%20src=x%3E")" = "" ] && grep -q "value=\"&quot;&gt;&lt;img src=x&gt;\"" "$tmp/v3" && [ "$(actions v4 "ref=DSR-2026-0142")" = "export " ] && get v5 "view=audit&by=older&from=2025-01-02&to=2025-01-03" "${staff[@]}" >/dev/null && grep -q ">72 lines<" "$tmp/v5"'
check "audit view: old lines paged, a page past the last shows the last, a hostile name escaped" 'get v6 "view=audit&by=older&page=99999999999999999999" "${staff[@]}" >/dev/null && grep -q ">1000 lines<" "$tmp/v6" && grep -q "Page 10 of 10" "$tmp/v6" && [ "$(grep -c "data-label=\"Action\">export" "$tmp/v6")" = 100 ] && get v7 "view=audit&by=older&page=6" "${staff[@]}" >/dev/null && [ "$(grep -c "\">$long</td>" "$tmp/v7")" = 1 ] && grep -q "&lt;img src=x onerror=alert(1)&gt; O&#39;Brien</a>" "$tmp/v6" && ! grep -q "<img src=x" "$tmp/v6"'
# Bulk erasure: three rows selected, one confirmation listing them, its token bound to the three.
get sel "q=Applicant+00000" "${staff[@]}" >/dev/null
sels=$(grep -o 'name="sel" form="selection" value="[0-9a-f]*/Applicant 00000[123]"' "$tmp/sel" | cut -d'"' -f6 | sort -t/ -k2 | sed 's/ /+/; s|/|%2F|; s/^/\&sel=/' | tr -d '\n')
post bulk "root=people&view=bulk&bulk=erase$sels" >/dev/null
t=$(token bulk)
body="root=people&action=bulk-erase$sels&token=$t"
check "bulk: one confirmation lists the three selected" '[ "$(grep -o "<tr><td>Applicant 00000[123]</td>" "$tmp/bulk" | wc -l)" = 3 ] && [ -n "$t" ]'
check "bulk: a changed selection, another site or a GET is refused" '[ "$(post b1 "${body/&sel=*%2FApplicant+000001/}")" = 403 ] && [ "$(post b2 "$body" -H "Origin: http://elsewhere.example")" = 403 ] && [ "$(get b3 "$body" "${staff[@]}")" = 403 ] && [ -d "$tmp/site/people/Applicant 000001" ]'
check "bulk: the three erased under one lock, each audited" '[ "$(post b4 "$body" -H "Origin: http://127.0.0.1:$port" -H "Sec-Fetch-Site: same-origin")" = 200 ] && for i in 1 2 3; do [ ! -e "$tmp/site/people/Applicant 00000$i" ] && grep -q "	staff	erase	people	Applicant 00000$i	begun: .*one of 3 applicants selected" "$LOG_DIR/audit.log" && grep -q "	staff	erase	people	Applicant 00000$i	erased" "$LOG_DIR/audit.log" || exit 1; done && [ -d "$tmp/site/people/Applicant 000004" ]'
# A bulk decision: three rows and one erased meanwhile, the bar's token, back to the same table.
get sel2 "q=Applicant+00000&sort=name" "${staff[@]}" >/dev/null
sels2=$(grep -o 'name="sel" form="selection" value="[0-9a-f]*/Applicant 00000[456]"' "$tmp/sel2" | cut -d'"' -f6 | sed 's/ /+/; s|/|%2F|; s/^/\&sel=/' | tr -d '\n')
dbody="root=people&view=bulk&bulk=decision%3Ainterview&q=Applicant+00000&sort=name$sels2$(echo "$sels" | cut -d'&' -f2 | sed 's/^/\&/')"
check "bulk decision: from another site or without the bar's token, refused" '[ "$(post bd1 "$dbody&token=$(token sel2)" -H "Origin: http://elsewhere.example")" = 403 ] && [ "$(post bd2 "$dbody")" = 403 ] && [ "$(post bd3 "$dbody&token=$(token one)")" = 403 ] && [ -z "$(ls "$tmp/site/people/Applicant 000004"/index.history-* 2>/dev/null)" ]'
check "bulk decision: set for three, the erased one skipped, audited with each person id" '[ "$(post bd4 "$dbody&token=$(token sel2)" -H "Origin: http://127.0.0.1:$port" -D "$tmp/bd4.h")" = 303 ] && grep -q "^Location: staff.cgi?root=people&q=Applicant%2000000&sort=name&set=3&skipped=1&to=interview" "$tmp/bd4.h" && for i in 4 5 6; do grep -qP "\tstaff\tdecision\tpeople\tApplicant 00000$i\tset: interview\tperson [0-9a-f]{32}$" "$LOG_DIR/audit.log" || exit 1; done && get bd5 "$(grep "^Location:" "$tmp/bd4.h" | cut -d? -f2 | tr -d "\r")" "${staff[@]}" >/dev/null && grep -q "set for 3 applicants. 1 applicant of the selection was no longer filed and skipped." "$tmp/bd5" && get bd6 "decision=interview" "${staff[@]}" >/dev/null && grep -q ">3 applicants found<" "$tmp/bd6"'
# Decisions, notes and keeps from her view, each with the token of its own form.
token_for() { grep -o "name=\"action\" value=\"$2\"><input type=\"hidden\" name=\"token\" value=\"[0-9a-f.]*" "$tmp/$1" | cut -d'"' -f10; }
get v31 "view=applicant&a=Applicant%20000031" "${staff[@]}" >/dev/null
her="root=people&a=Applicant+000031&p=$(grep -o 'name="p" value="[0-9a-f]*' "$tmp/v31" | head -n 1 | cut -d'"' -f4)"
history=$(ls "$tmp/site/people/Applicant 000031"/index.history-*.jsonl 2>/dev/null || true)
check "a decision or note from another site, or with another form's token, is refused" '[ "$(post h1 "$her&action=decision&decision=rejected&token=$(token_for v31 decision)" -H "Origin: http://elsewhere.example")" = 403 ] && [ "$(post h2 "$her&action=note&note=x&token=$(token_for v31 decision)")" = 403 ] && [ -z "$(ls "$tmp/site/people/Applicant 000031"/index.history-* 2>/dev/null)" ]'
check "a decision: recorded, audited, shown and filterable in the table" '[ "$(post h3 "$her&action=decision&decision=rejected&token=$(token_for v31 decision)" -H "Origin: http://127.0.0.1:$port" -D "$tmp/h3.h")" = 303 ] && grep -q "^Location: staff.cgi?root=people&view=applicant&a=Applicant%20000031&p=" "$tmp/h3.h" && grep -q "	staff	decision	people	Applicant 000031	set: rejected	person ${her##*p=}$" "$LOG_DIR/audit.log" && get f1 "decision=rejected" "${staff[@]}" >/dev/null && grep -q "1 applicant found" "$tmp/f1" && [ "$(first_name f1)" = "Applicant 000031" ] && get f2 "decision=open" "${staff[@]}" >/dev/null && ! grep -q "Applicant 000031<" "$tmp/f2"'
check "a note: escaped, newest first; a control character refused" '[ "$(post h4 "$her&action=note&note=%3Cb%3Eold%3C%2Fb%3E&token=$(token_for v31 note)")" = 303 ] && [ "$(post h5 "$her&action=note&note=newer%0D%0Aline&token=$(token_for v31 note)")" = 303 ] && [ "$(post h6 "$her&action=note&note=bad%07&token=$(token_for v31 note)")" = 400 ] && get v31b "view=applicant&a=Applicant%20000031" "${staff[@]}" >/dev/null && grep -q "&lt;b&gt;old" "$tmp/v31b" && ! grep -q "<b>old" "$tmp/v31b" && [ "$(grep -o "newer\|&lt;b&gt;old" "$tmp/v31b" | tr "\n" " ")" = "newer &lt;b&gt;old " ]'
check "a keep: a past date refused, a future one recorded" '[ "$(post h7 "$her&action=keep&until=2020-01-01&reason=pool&token=$(token_for v31 keep)")" = 400 ] && [ "$(post h8 "$her&action=keep&until=2030-01-01&reason=talent+pool&token=$(token_for v31 keep)")" = 303 ] && get v31c "view=applicant&a=Applicant%20000031" "${staff[@]}" >/dev/null && grep -q "through 2030-01-01: talent pool" "$tmp/v31c" && [ "$(actions v10 "p=${her##*p=}")" = "keep note note decision " ]'
check "figures: no retention run set up is said" 'get fig "view=figures" "${staff[@]}" >/dev/null && grep -q "No retention run is set up" "$tmp/fig"'
# Staff who drop the connection 10-70 ms into an erasure: the server ends the console then, and
# whatever it had begun is named in the audit log and finished by the next operation.
for i in $(seq 40 59); do
    get c$i "view=erase&a=Applicant%200000$i" "${staff[@]}" >/dev/null
    post d$i "root=people&a=Applicant+0000$i&action=erase&token=$(token c$i)" --max-time "0.0$((i % 7 + 1))" >/dev/null 2>&1 || true
done
sleep 1
check "dropped connections: every change named in the audit log first" 'for i in $(seq 40 59); do [ -d "$tmp/site/people/Applicant 0000$i" ] && continue; grep -q "	erase	people	Applicant 0000$i	begun: " "$LOG_DIR/audit.log" || exit 1; done'
"$build/app/admin/apply-admin" --site "$tmp/site" --audit "$LOG_DIR/audit.log" fsck --repair >/dev/null || true
check "dropped connections: each erasure begun is finished and logged" 'for i in $(seq 40 59); do n=$(grep -c "	erase	people	Applicant 0000$i	erased" "$LOG_DIR/audit.log"); if [ -d "$tmp/site/people/Applicant 0000$i" ]; then [ "$n" = 0 ] || exit 1; else [ "$n" = 1 ] || exit 1; fi; done'
check "the audit log is not served" '[ "$(curl -s -o /dev/null -w "%{http_code}" "${staff[@]}" "http://127.0.0.1:$port/../log/audit.log")" != 200 ]'
check "the store is consistent" '"$build/app/admin/apply-admin" --site "$tmp/site" fsck >/dev/null'

[ "$failures" -eq 0 ] && echo "all passed" || { echo "$failures failed"; exit 1; }
