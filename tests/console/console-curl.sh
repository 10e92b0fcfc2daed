#!/usr/bin/env bash
# The staff console through lighttpd, driven by curl: the staff login, the table's order and
# search, escaping, the headers, an applicant's submissions, export and erasure with their audit
# lines, and the changes a request from another site or without the form's token may not make.
# Usage: tests/console/console-curl.sh BUILDDIR
set -euo pipefail
build=$(cd "$1" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d /tmp/console-19-XXXXXX)
export LOG_DIR=$tmp/log SERVER_MAX_SECONDS=600
pid=""
trap '[ -z "$pid" ] || "$repo/serve/stop-server" "$pid"; rm -rf "$tmp"' EXIT

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
token() { grep -o 'name="token" value="[0-9a-f]*' "$tmp/$1" | head -n 1 | cut -d'"' -f4; }

check "no login, no console" '[ "$(get anon "")" = 401 ] && [ "$(curl -s -o /dev/null -w "%{http_code}" "$console/x")" = 401 ]'
check "the table, newest first" '[ "$(get table "" "${staff[@]}")" = 200 ] && [ "$(first_name table)" = "Zoë Ærø" ]'
check "sorted by name" '[ "$(get byname "sort=name" "${staff[@]}")" = 200 ] && [ "$(first_name byname)" = "&lt;img src=x onerror=alert(1)&gt; O&#39;Brien" ]'
check "sorted oldest first, and paged" 'get old "sort=oldest&page=2" "${staff[@]}" >/dev/null && [ "$(first_name old)" = "Applicant 000050" ] && grep -q "Page 2 of 2" "$tmp/old"'
check "applicant text escaped everywhere" '! grep -q "<img src=x" "$tmp/byname"'
check "the headers: UTF-8, no script, no frames" 'grep -qi "^Content-Type: text/html; charset=utf-8" "$tmp/table.h" && grep -i "^Content-Security-Policy:" "$tmp/table.h" | grep -q "default-src '"'"'none'"'"'.*frame-ancestors '"'"'none'"'"'"'
check "search by mail and by interest, any case" 'get s1 "q=A17%40EXAMPLE" "${staff[@]}" >/dev/null && [ "$(first_name s1)" = "Applicant 000017" ] && get s2 "q=number+23%2C" "${staff[@]}" >/dev/null && grep -q "1 applicant found" "$tmp/s2"'
check "search for a name with an apostrophe" 'get s3 "q=O%27Brien" "${staff[@]}" >/dev/null && grep -q "1 applicant found" "$tmp/s3"'
check "one applicant: every submission, newest first" 'get one "view=applicant&a=Applicant%20000030" "${staff[@]}" >/dev/null && grep -o "Submission [0-9] of 2" "$tmp/one" | tr "\n" " " | grep -q "^Submission 2 of 2 Submission 1 of 2"'

# Export and erasure with the tokens of the console's own pages.
t=$(token one)
check "export: a zip of both submissions, audited" '[ "$(post zip "root=people&a=Applicant+000030&action=export&token=$t")" = 200 ] && python3 -c "import zipfile,sys; n=zipfile.ZipFile(sys.argv[1]).namelist(); sys.exit(len(n) != 6)" "$tmp/zip" && grep -q "	staff	export	people	Applicant 000030	" "$LOG_DIR/audit.log"'
get confirm "view=erase&a=Applicant%20000030" "${staff[@]}" >/dev/null
t=$(token confirm)
body="root=people&a=Applicant+000030&action=erase&token=$t"
check "a GET never erases" '[ "$(get g "$body" "${staff[@]}")" = 403 ] && [ -d "$tmp/site/people/Applicant 000030" ]'
check "a post from another site is refused" '[ "$(post x1 "$body" -H "Origin: http://elsewhere.example" -H "Sec-Fetch-Site: cross-site")" = 403 ] && [ "$(post x2 "$body" -H "Origin: http://127.0.0.1:1")" = 403 ] && [ -d "$tmp/site/people/Applicant 000030" ]'
check "a post without the token of the form is refused" '[ "$(post x3 "${body%token=*}token=${t/a/b}")" = 403 ] && [ -d "$tmp/site/people/Applicant 000030" ]'
check "erase: folder and line gone, audited" '[ "$(post erased "$body" -H "Origin: http://127.0.0.1:$port" -H "Sec-Fetch-Site: same-origin")" = 200 ] && [ ! -e "$tmp/site/people/Applicant 000030" ] && ! grep -q "Applicant%20000030" "$tmp/site/people/index.html" && grep -q "	staff	erase	people	Applicant 000030	erased" "$LOG_DIR/audit.log"'
check "the audit log is not served" '[ "$(curl -s -o /dev/null -w "%{http_code}" "${staff[@]}" "http://127.0.0.1:$port/../log/audit.log")" != 200 ]'
check "the store is consistent" '"$build/app/admin/apply-admin" --site "$tmp/site" fsck >/dev/null'

[ "$failures" -eq 0 ] && echo "all passed" || { echo "$failures failed"; exit 1; }
