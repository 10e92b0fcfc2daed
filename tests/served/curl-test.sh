#!/usr/bin/env bash
# End-to-end test with curl, the same for each web server: the built programs served over HTTPS
# from a fresh site folder, used the way a browser would, following the links the pages carry:
# anonymously for the form, logged in as staff for the stored pages. Then what the server must keep
# from a visitor, and the headers every answer carries.
# The drop-ins (nginx-dropin, apache-dropin) run in copies of Debian's own trees beside the default
# site: that site still answers every other host, and no access log names an applicant.
# Usage: tests/served/curl-test.sh BUILDDIR [lighttpd|nginx|apache|nginx-dropin|apache-dropin]
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 BUILDDIR [lighttpd|nginx|apache|nginx-dropin|apache-dropin]" >&2; exit 2; }
build=$(cd "$1" && pwd)
export WEB_SERVER=${2:-lighttpd} HTTPS=1
repo=$(cd "$(dirname "$0")/../.." && pwd)

# $tmp holds the site, the server's logs and this test's own files (work/).
tmp=$(mktemp -d)
site=$tmp/site work=$tmp/work
mkdir "$work"
export LOG_DIR=$tmp/log SERVER_MAX_SECONDS=600
# Where the programs' stderr lands: Apache's error log; lighttpd's and fcgiwrap's log of their own.
# The server's kind (a drop-in is its server) and whether it is a drop-in.
kind=${WEB_SERVER%-dropin} dropin=""
[ "$kind" = "$WEB_SERVER" ] || dropin=yes
# (mod_cgid writes them to the server's main error log, which for the drop-in is Debian's.)
program_log=$LOG_DIR/cgi-error.log
[ "$kind" != apache ] || program_log=$LOG_DIR/error.log
[ "$WEB_SERVER" != apache-dropin ] || program_log=$LOG_DIR/debian/error.log
pid=""
cleanup() {
  [ -z "$pid" ] || "$repo/serve/stop-server" "$pid"
  [ -n "${KEEP_TMP:-}" ] || rm -rf "$tmp"
}
trap cleanup EXIT

passes=0 failures=0
pass() { echo "ok: $*"; passes=$((passes + 1)); }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# check DESCRIPTION CODE: runs the shell code (in single quotes, so that it sees the values of the
# moment) and counts the check as passed or failed.
check() {
  if eval "$2"; then pass "$1"; else fail "$1"; fi
}
contains() { grep -qF -- "$2" "$1"; }

"$repo/serve/make-site" "$build" "$site"
server=$("$repo/serve/start-test-server" "$site")
read -r pid plain_port port <<<"$server"
base=https://127.0.0.1:$port
# The site's own certificate authority, as a browser that was told to trust it.
export CURL_CA_BUNDLE=$LOG_DIR/tls/ca.pem
# The test account that start-test-server made, as curl -u takes it.
staff=$(cat "$LOG_DIR/staff-credentials")
STAFF_PASSWORDS_FILE=$LOG_DIR/staff.htpasswd

# fetch URL NAME [curl options...]: the body to $work/NAME, the header to $work/NAME.h;
# prints the status code (000 when there was no answer).
fetch() {
  local url=$1 name=$2; shift 2
  curl -sS --max-time 60 -o "$work/$name" -D "$work/$name.h" -w '%{http_code}' "$@" "$url" || true
}
# header NAME FIELD: the value of a header field of response NAME, without its line end.
header() { grep -i "^$2:" "$work/$1.h" | tail -n 1 | cut -d: -f2- | sed 's/^ *//; s/\r$//'; }
# resolve BASE_URL HREF: a link target made absolute, as a browser does for plain relative paths.
resolve() {
  case $2 in
    https://*) echo "$2" ;;
    /*) echo "$base$2" ;;
    *) echo "${1%/*}/$2" ;;
  esac
}
# href FILE LINK_TEXT: the target of the first link whose text begins with LINK_TEXT.
href() { grep -o "<a href=\"[^\"]*\">$2" "$1" | head -n 1 | sed 's/^<a href="//; s/">.*$//'; }
# Every folder in and beside the site, and every file with its size and time of last change, less
# what every request adds on purpose (the trace files of running programs, the server's logs).
snapshot() {
  find "$tmp" \( -path "$work" -o -path "$LOG_DIR" -o -path "$site/debug_Quenby_*.txt" \) -prune \
    -o -type d -printf '%p/\n' -o -printf '%p %s %T@\n' | sort
}

echo "== $WEB_SERVER: HTTPS only"
code=$(fetch "http://127.0.0.1:$plain_port/people/index.html?x=1" plain)
check "plain HTTP answers only with a redirect to the same path over HTTPS" \
  '[ "$code" = 301 ] && [ "$(header plain Location)" = "$base/people/index.html?x=1" ]'
check "TLS before 1.2 is refused" '[ "$(fetch "$base/" old --tls-max 1.1)" = 000 ]'
check "the certificate is the site's own, for 127.0.0.1" \
  '[ "$(CURL_CA_BUNDLE=/dev/null fetch "$base/" untrusted)" = 000 ] && [ "$(fetch "$base/" trusted)" = 302 ]'

check "a fresh site shows staff an empty list, not a refusal" \
  '[ "$(fetch "$base/people/" emptylist -u "$staff")" = 200 ] && [ ! -s "$work/emptylist" ]'

echo "== the address leads to the form"
code=$(fetch "$base/" root)
check "GET / redirects (302) to apply.cgi" '[ "$code" = 302 ] && [[ $(header root Location) =~ ^($base)?/apply\.cgi$ ]]'
form_url=$(resolve "$base/" "$(header root Location)")
code=$(fetch "$form_url" form)
check "GET apply.cgi answers 200 with HTML in UTF-8" \
  '[ "$code" = 200 ] && [ "$(header form Content-Type)" = "text/html; charset=utf-8" ]'
check "the form page has the title heading and no message" \
  'contains "$work/form" "<h2>Vocanta at Brenmoor</h2>" && [ "$(grep -c "^<h2>" "$work/form")" = 1 ]'
check "the form posts back to apply.cgi" \
  'contains "$work/form" "<form name=\"frm\" method=\"post\" enctype=\"multipart/form-data\" action=\"apply.cgi?\">"'
check "the empty form is 141 lines and </html>" \
  '[ "$(wc -l <"$work/form")" = 142 ] && [ "$(tail -n 1 "$work/form")" = "</html>" ]'
logo=$(grep -o '<img src="[^"]*"' "$work/form" | sed 's/^<img src="//; s/"$//')
code=$(fetch "$(resolve "$form_url" "$logo")" logo)
check "the form's image ($logo) is served as a JPEG, the site's logo" \
  '[ "$code" = 200 ] && [ "$(header logo Content-Type)" = image/jpeg ] && cmp -s "$work/logo" "$repo/serve/logo.jpg"'
style=$(grep -o '<link rel="stylesheet" href="[^"]*"' "$work/form" | sed 's/^.*href="//; s/"$//')
code=$(fetch "$(resolve "$form_url" "$style")" style)
check "the form's stylesheet ($style) is served as CSS, and the form's policy allows it" \
  '[ "$code" = 200 ] && [[ "$(header style Content-Type)" = text/css* ]] && cmp -s "$work/style" "$repo/serve/apply.css" &&
   [[ "$(header form Content-Security-Policy)" = *"style-src '"'"'self'"'"'"* ]]'

# Where every submission goes: the form's action, resolved against the form page.
action=$(resolve "$form_url" "$(grep -o 'action="[^"]*"' "$work/form" | sed 's/^action="//; s/"$//')")

# A resume with every byte value, NUL and line ends among them, and text that looks like the
# inside of a multipart body.
{
  printf '\xd0\xcf\x11\xe0 resume\r\n--\r\n\r\nContent-Disposition: form-data; name="x"\r\n\r\n'
  for i in $(seq 0 255); do printf "\\x$(printf %02x "$i")"; done
  head -c 20000 /dev/urandom
  printf '\r\n'
} >"$work/cv.doc"

name="Rowan Tilley"
mail=rowan.tilley@example.com
line1="Building things that last,"
line2="and teaching others to."
interest="$line1"$'\n'"$line2"
# submit NAME FIELD=VALUE...: posts the form as a browser fills it, the response to $work/NAME;
# resume=@FILE attaches FILE as the resume. Prints the status code.
submit() {
  local out=$1 f; shift
  local args=()
  for f in "$@"; do
    case $f in
      resume=@*\;type=*) args+=(-F "$f") ;;
      resume=@*) args+=(-F "resume=@${f#resume=@};type=application/msword") ;;
      *) args+=(--form-string "$f") ;;
    esac
  done
  fetch "$action" "$out" "${submit_options[@]}" "${args[@]}"
}
submit_options=()

echo "== a complete submission is filed; its pages, for staff, link to each other"
code=$(submit ok "name=$name" "mail=$mail" "interest=$interest" "resume=@$work/cv.doc" \
  directory=people "sub=Submit form")
check "the submission answers 200 with Thank You! and the name" \
  '[ "$code" = 200 ] && contains "$work/ok" "<h1>Thank You!</h1>" && contains "$work/ok" "Name: $name"'
# The applicant's addresses, which Thank You! does not link (they ask for a staff login).
page_href="people/${name// /%20}/index.html"
list_href=people/index.html
check "the Thank You! page says what happens next and links no page of the store" \
  'contains "$work/ok" "What happens next: " && ! contains "$work/ok" "<a href"'

page_url=$(resolve "$action" "$page_href")
code=$(fetch "$page_url" page -u "$staff")
check "the applicant page is served ($page_url) as HTML in UTF-8" \
  '[ "$code" = 200 ] && [ "$(header page Content-Type)" = "text/html; charset=utf-8" ]'
check "... with the name, the mail link and both lines of the interest" \
  'contains "$work/page" "<h1>$name</h1>" &&
   contains "$work/page" "<a href=\"mailto:$mail\">$mail</a>" &&
   contains "$work/page" "$line1" && contains "$work/page" "$line2"'
resume_href=$(href "$work/page" "My resume is here")
resume_url=$(resolve "$page_url" "$resume_href")
code=$(fetch "$resume_url" resume -u "$staff")
check "the resume link ($resume_href) is served, sandboxed as applicant data" \
  '[ "$code" = 200 ] && [ "$(header resume Content-Security-Policy)" = sandbox ] &&
   [ "$(header resume X-Content-Type-Options)" = nosniff ]'
check "... byte for byte the file sent" 'cmp "$work/resume" "$work/cv.doc"'

list_url=$(resolve "$action" "$list_href")
code=$(fetch "$list_url" list -u "$staff")
check "the list page is served ($list_url) with one line, for the applicant" \
  '[ "$code" = 200 ] && [ "$(wc -l <"$work/list")" = 1 ] && contains "$work/list" ">$name</a>"'
code=$(fetch "$(resolve "$list_url" "$(href "$work/list" "$name")")" listed -L -u "$staff")
check "the list's link leads to the applicant page" '[ "$code" = 200 ] && cmp -s "$work/listed" "$work/page"'

echo "== two people with one name: the earlier submission is kept whole and linked"
printf 'first CV\n' >"$work/maria1.pdf"
printf 'second CV\n' >"$work/maria2.pdf"
submit maria1 "name=Maria Garcia" mail=maria.garcia@example.org "interest=$interest" \
  "resume=@$work/maria1.pdf;filename=Maria_Garcia_CV.pdf;type=application/pdf" directory=people >/dev/null
code=$(submit maria2 "name=Maria Garcia" mail=mgarcia.dev@example.com "interest=$interest" \
  "resume=@$work/maria2.pdf;filename=CV-MariaGarcia-Engineer.pdf;type=application/pdf" directory=people)
check "the second Maria Garcia gets Thank You! (200)" '[ "$code" = 200 ] && contains "$work/maria2" "Thank You!"'
maria_url=$(resolve "$action" "people/Maria%20Garcia/index.html")
fetch "$maria_url" maria_page -u "$staff" >/dev/null
earlier_url=$(resolve "$maria_url" "$(grep -A1 "^Earlier submissions:" "$work/maria_page" | tail -n 1 | sed 's/^<br><a href="//; s/".*$//')")
check "her page shows the second mail and links the earlier submission" \
  'contains "$work/maria_page" "mgarcia.dev@example.com" && [ "$earlier_url" != "$maria_url" ] &&
   [ "$(fetch "$earlier_url" maria_earlier -u "$staff")" = 200 ] && contains "$work/maria_earlier" "maria.garcia@example.org"'
check "... whose resume link still serves the first CV" \
  '[ "$(fetch "$(resolve "$earlier_url" "$(href "$work/maria_earlier" "My resume is here")")" maria_cv -u "$staff")" = 200 ] &&
   cmp -s "$work/maria_cv" "$work/maria1.pdf"'
check "... and the list names Maria Garcia once" '[ "$(grep -c ">Maria Garcia</a>" "$site/people/index.html")" = 1 ]'

echo "== a missing field shows its message and files nothing"
snapshot >"$work/before"
for field in name mail interest resume; do
  case $field in
    name) fields=(name= "mail=$mail" "interest=$interest" "resume=@$work/cv.doc") label=name ;;
    mail) fields=("name=$name" "interest=$interest" "resume=@$work/cv.doc") label=email ;;
    interest) fields=("name=$name" "mail=$mail" "resume=@$work/cv.doc") label=interest ;;
    resume) fields=("name=$name" "mail=$mail" "interest=$interest") label=resume ;;
  esac
  code=$(submit "no_$field" "${fields[@]}" directory=people "sub=Submit form")
  check "without $field: 200 and \"Please fill out the $label field\"" \
    '[ "$code" = 200 ] && contains "$work/no_$field" "<h2>Please fill out the $label field</h2>"'
done
check "... the other values are shown again" \
  'contains "$work/no_mail" "autocomplete=\"name\" required value=\"$name\"" &&
   contains "$work/no_name" "autocomplete=\"email\" required value=\"$mail\"" &&
   contains "$work/no_resume" "$line2"'
snapshot >"$work/after"
check "... and nothing was written" 'diff "$work/before" "$work/after"'

echo "== hostile names and store roots write nothing anywhere"
# Names unique to this run, so that a path that escaped the site can be looked for outside it.
tag=$(basename "$tmp")
outside=$(dirname "$tmp")
for hostile in "../x-$tag" "../../x-$tag" ".." "." "a/b" 'a\b' $'x\ty-'"$tag"; do
  code=$(submit hostile "name=$hostile" "mail=$mail" "interest=$interest" "resume=@$work/cv.doc" \
    directory=people "sub=Submit form")
  check "name '$hostile' is refused with a message naming the name field" \
    '[ "$code" = 200 ] && grep -q "^<h2>Please[^<]*name" "$work/hostile" && ! contains "$work/hostile" "Thank You!"'
done
for root in ".." "../.." "$outside" "people/../.." ""; do
  code=$(submit hostile "name=Quill $tag" "mail=$mail" "interest=$interest" "resume=@$work/cv.doc" \
    "directory=$root" "sub=Submit form")
  check "store root '$root' is refused with \"Can't create\" and status 500" \
    '[ "$code" = 500 ] && contains "$work/hostile" "<h1>Can'"'"'t create" && ! contains "$work/hostile" "Thank You!"'
done
check "... each refusal is one line in the server's log of its programs' errors" \
  '[ "$(grep -c "apply.cgi: Can.t create .*/Quill $tag/index.html.: store root .* refused" "$program_log")" = 5 ]'
snapshot >"$work/after"
check "... nothing in or beside the site changed" 'diff "$work/before" "$work/after"'
check "... nothing appeared further out" \
  '[ ! -e "$outside/x-$tag" ] && [ ! -e "$outside/Quill $tag" ] && [ ! -e "/Quill $tag" ]'

# A run removes its trace file as it exits, which may be just after its answer reached us. Checked
# before the uploads that the servers refuse: Apache starts the program for such a body and may
# then kill it, which leaves its (never served) trace file behind.
for _ in $(seq 50); do
  left=$(cd "$site" && ls debug_Quenby_*.txt 2>/dev/null | head -n 1) || true
  [ -n "$left" ] || break
  sleep 0.2
done
check "the finished runs left no empty trace file in the site" '[ -z "$left" ]'

echo "== uploads past the limits"
# Sparse files: large on the wire, nothing on disk.
truncate -s 135M "$work/big.doc"
# Over HTTP/1.1 where the server refuses it mid-upload: an HTTP/2 stream refused so leaves curl no
# answer to report.
[ "$WEB_SERVER" = lighttpd ] || submit_options=(--http1.1)
code=$(submit big "name=Big $tag" "mail=$mail" "interest=$interest" "resume=@$work/big.doc" \
  directory=people "sub=Submit form")
# nginx and Apache refuse it themselves (413) at the program's own limit: fcgiwrap fails, and
# Apache may reset, a request whose program answers before reading the whole body.
check "a 135 MiB upload gets the program's \"too large\" page, status 413 (nginx, Apache: 413 from the server)" \
  '[ "$code" = 413 ] && ! contains "$work/big" "Thank You!" &&
   { [ "$WEB_SERVER" != lighttpd ] ||
     { grep -qi "too large" "$work/big" && grep -q "apply.cgi: Submission too large" "$program_log"; }; }'
truncate -s 300M "$work/huge.doc"
submit_options=(--http1.1)
code=$(submit huge "name=Big $tag" "mail=$mail" "interest=$interest" "resume=@$work/huge.doc" \
  directory=people "sub=Submit form")
check "a 300 MiB upload is refused by the server (413)" '[ "$code" = 413 ]'
submit_options=()
rm -f "$work/big.doc" "$work/huge.doc"
check "... and neither stored anything" '[ ! -e "$site/people/Big $tag" ]'

if [ -n "$dropin" ]; then
  echo "== beside Debian's default site"
  code=$(fetch "http://127.0.0.1:$plain_port/" other -H "Host: other.example")
  check "the default site still answers every other host name, unchanged" \
    '[ "$code" = 200 ] && grep -qi "debian" "$work/other" && [ -z "$(header other Strict-Transport-Security)" ]'
fi
if [ -z "$dropin" ]; then
echo "== the example programs"
code=$(fetch "$base/text_gif.cgi?text=Hello&color=3" gif)
# The GIF header: signature, then the logical screen's width and height, 16-bit little-endian.
w0=0 w1=0 h0=0 h1=0
read -r w0 w1 h0 h1 < <(od -An -tu1 -j6 -N4 "$work/gif") || true
check "text_gif.cgi answers a GIF of 47 x 17 pixels for 5 characters" \
  '[ "$code" = 200 ] && [ "$(header gif Content-Type)" = image/gif ] && [ "$(head -c 3 "$work/gif")" = GIF ] &&
   [ $((w0 + 256 * w1)) = 47 ] && [ $((h0 + 256 * h1)) = 17 ]'
code=$(fetch "$base/visits.cgi" visit1 -c "$work/cookies")
check "visits.cgi counts a first visit and sets its cookie" \
  '[ "$code" = 200 ] && contains "$work/visit1" "visit number 1 " && grep -qi "^Set-Cookie: visits=1;" "$work/visit1.h"'
code=$(fetch "$base/visits.cgi" visit2 -b "$work/cookies" -c "$work/cookies")
check "... and the second visit by that cookie" '[ "$code" = 200 ] && contains "$work/visit2" "visit number 2 "'
fi

echo "== what the server must not give away"
# A visitor without a login gets 401 and not one byte of what was filed: neither the list, nor an
# applicant page, nor a resume, nor a file under another store root (made below).
jobs_root=jobs/2026
mkdir -p "$site/$jobs_root"
# Staff make it a store root, as the admin command does (its descriptor); the program runs as the
# server's user (when the test runs as root): it must own the new root.
printf '{"store_root": 1}\n' >"$site/$jobs_root/index.json"
chown -R --reference="$site/people" "$site/jobs"
html='<html><body><script>fetch("/people/index.html")</script>p</body></html>'
printf '%s' "$html" >"$work/p.html"
other="Sol Varga"
code=$(submit jobs "name=$other" "mail=$mail" "interest=$interest" "resume=@$work/p.html;type=text/html" \
  "directory=$jobs_root" "sub=Submit form")
check "an HTML resume is filed under the store root $jobs_root" \
  '[ "$code" = 200 ] && contains "$work/jobs" "Thank You!" && [ -f "$site/$jobs_root/$other/p.html" ]'
enc() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$1"; }
other_dir=$base/$jobs_root/$(enc "$other")
i=0
for url in "$list_url" "$page_url" "$resume_url" "$other_dir/p.html" "$other_dir/" "$base/$jobs_root/index.html"; do
  i=$((i + 1))
  code=$(fetch "$url" "anon$i")
  check "anonymous $url: 401, none of the applicants' data" \
    '[ "$code" = 401 ] && ! contains "$work/anon$i" "$name" && ! contains "$work/anon$i" "$other" &&
     ! contains "$work/anon$i" "$mail" && ! contains "$work/anon$i" "$line1" && [ "$(wc -c <"$work/anon$i")" -lt 1000 ]'
  code=$(fetch "$url" "staff$i" -u "$staff")
  check "... staff gets it (200)" '[ "$code" = 200 ] && [ "$(wc -c <"$work/staff$i")" -gt 0 ]'
done
check "... a wrong password gets 401" '[ "$(fetch "$list_url" wrong -u "${staff%%:*}:x$RANDOM")" = 401 ]'
check "... the HTML resume as staff: the file sent" 'cmp -s "$work/staff4" "$work/p.html"'

# Every file of a store that is not one of its generated pages is sandboxed, at any depth under any
# store root (files put there by hand too), and nothing there runs as a program.
printf '%s' "$html" >"$site/people/stray.html"
mkdir -p "$site/people/$name/sub"
printf '%s' "$html" >"$site/people/$name/sub/deep.html"
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\n\\nran\\n"\n' >"$site/people/$name/run.cgi"
chmod 755 "$site/people/$name/run.cgi"
name_dir=$base/people/$(enc "$name")
for url in "$base/people/stray.html" "$resume_url" "$name_dir/sub/deep.html" "$name_dir/run.cgi" \
  "$other_dir/p.html" "$base/jobs/stray.html"; do
  [ "$url" != "$base/jobs/stray.html" ] || printf '%s' "$html" >"$site/jobs/stray.html"
  code=$(fetch "$url" sandboxed -u "$staff")
  check "$url: 200, sandboxed and nosniff" \
    '[ "$code" = 200 ] && [ "$(header sandboxed Content-Security-Policy)" = sandbox ] &&
     [ "$(header sandboxed X-Content-Type-Options)" = nosniff ]'
done
check "... the program stored there is sent as bytes, not run" 'cmp -s "$work/sandboxed" "$site/jobs/stray.html" &&
  [ "$(fetch "$name_dir/run.cgi" ran -u "$staff")" = 200 ] && cmp -s "$work/ran" "$site/people/$name/run.cgi"'

# Path-info after a stored file, a trace file or a temporary file serves none of them.
trace=debug_Quenby_99999.txt
printf 'trace' >"$site/$trace"
stale=.tmp-7fffffff-0
printf 'partial' >"$site/people/$name/$stale"
p_url=$other_dir/p.html
for url in "$p_url/" "$p_url/x" "$other_dir/p.html%2fx" "$base/$trace" "$base/$trace/" \
  "$name_dir/$stale" "$name_dir/$stale/"; do
  for who in anonymous staff; do
    opts=()
    [ $who = anonymous ] || opts=(-u "$staff")
    code=$(fetch "$url" refused "${opts[@]}")
    check "$who $url: refused ($code), no byte of the file" \
      '[[ $code =~ ^40[134]$ ]] && ! contains "$work/refused" "fetch(" && ! contains "$work/refused" trace &&
       ! contains "$work/refused" partial'
  done
done
rm -f "$site/$trace" "$site/people/$name/$stale"

# What the server's user can do to the site: add a file at the top (its trace files go there), but
# nothing it adds there is served or run; replace none of the site's own files; change no password.
if [ "$(id -u)" = 0 ]; then
  user=$(stat -c %U "$site/people")
  as_user() { runuser -u "$user" -- "$@" 2>/dev/null; }
  as_user sh -c "printf '#!/bin/sh\nprintf \"Content-Type: text/plain\\n\\nran\\n\"\n' >'$site/planted.cgi'; chmod 755 '$site/planted.cgi'"
  as_user sh -c "printf 'planted' >'$site/planted.html'"
  for url in "$base/planted.cgi" "$base/planted.cgi/x" "$base/planted.html"; do
    code=$(fetch "$url" planted -u "$staff")
    check "a file the server user put at the top ($url) is not served: $code" \
      '[[ $code =~ ^40[34]$ ]] && ! grep -qx -e ran -e planted "$work/planted"'
  done
  check "... it cannot replace the site's own files nor write the staff passwords" \
    '! as_user sh -c "printf x >\"$site/apply.cgi\"" && ! as_user mv "$site/logo.jpg" "$site/x.jpg" &&
     ! as_user sh -c "printf x >>\"$STAFF_PASSWORDS_FILE\"" && as_user test -r "$STAFF_PASSWORDS_FILE"'
  rm -f "$site/planted.cgi" "$site/planted.html"
fi

code=$(fetch "$base/apply.cgi/x" pathinfo)
check "apply.cgi with path-info answers in UTF-8 too" \
  '[ "$code" = 200 ] && [ "$(header pathinfo Content-Type)" = "text/html; charset=utf-8" ]'
# Started as root, the server and so the program run as an unprivileged user: the files the
# program wrote are that user's.
check "the program does not run as root (the applicant page belongs to $(stat -c %U "$site/people/$name/index.html"))" \
  '[ "$(stat -c %u "$site/people/$name/index.html")" != 0 ] &&
   [ "$(stat -c %u "$site/$jobs_root/$other/p.html")" != 0 ]'
code=$(fetch "$base/staff.cgi" console)
check "the staff console asks for the staff login" '[ "$code" = 401 ]'

# Every answer of the site (each response header kept in $work) carries the site's headers and no
# server version; stored data is not kept by the browser, the store's generated pages have a policy.
for h in "$work"/*.h; do
  name=$(basename "$h" .h)
  # (lighttpd refuses an oversized body in its core, before any module adds a header.)
  case $WEB_SERVER:$name in *:old|*:untrusted|*:plain|*:other|lighttpd:huge) continue ;; esac
  check "answer '$name': nosniff, no referrer, no frames, HSTS, no version" \
    '[ "$(header "$name" X-Content-Type-Options)" = nosniff ] && [ "$(header "$name" Referrer-Policy)" = no-referrer ] &&
     [ "$(header "$name" X-Frame-Options)" = DENY ] && header "$name" Strict-Transport-Security | grep -q "^max-age=" &&
     { [ "$WEB_SERVER" = apache-dropin ] || ! header "$name" Server | grep -q "[0-9]"; }'
done
for name in list page resume staff1 staff4 anon2; do
  check "stored answer '$name': Cache-Control no-store and a content policy" \
    '[ "$(header "$name" Cache-Control)" = no-store ] && [ -n "$(header "$name" Content-Security-Policy)" ]'
done
check "the stored pages' policy allows no script" \
  'header page Content-Security-Policy | grep -q "default-src .none." && header list Content-Security-Policy | grep -q "default-src .none."'

# The error log: each server's start and stop, the refused upload and wrong passwords, and the
# program's one line for each refusal it answered with 500 or 413; nothing else.
program_lines=(-e "apply.cgi: Submission too large" -e "apply.cgi: Can.t create .*: store root .* refused")
case $kind in
  lighttpd) expected=(-e "server started" -e "request-size too long" -e "password doesn.t match"
                     -e "unsupported protocol" "${program_lines[@]}") ;;
  nginx) expected=(-e "password mismatch" -e "intended to send too large body" -e "(20: Not a directory)" "${program_lines[@]}") ;;
  apache) expected=(-e ":notice\]" -e "AH01617" -e "AH01630" -e "AH02651" -e "AH01270" "${program_lines[@]}") ;;
esac
program_expected=("${program_lines[@]}")
[ "$kind" != apache ] || program_expected=("${expected[@]}" -e "AH00558" -e "^Syntax OK")
check "the server's error log holds nothing but its start, the refused uploads and store roots" \
  '! grep -v "${expected[@]}" "$LOG_DIR/error.log" && ! grep -v "${program_expected[@]}" "$program_log"'
# The server writes its access log out when it stops.
"$repo/serve/stop-server" "$pid"
pid=""
check "the access log shows the refusals' status 500 and the 413s" \
  '[ "$(grep -c "\"POST /apply.cgi[^\"]*\" 500 " "$LOG_DIR/access.log")" = 5 ] &&
   [ "$(grep -c "\"POST /apply.cgi[^\"]*\" 413 " "$LOG_DIR/access.log")" = 2 ]'
# Names in any form a log could hold them: as typed, %-escaped, with '+'.
logs=$(find "$LOG_DIR" -path "$LOG_DIR/*-dropin" -prune -o -name '*access*' -type f -print)
check "no access log names an applicant ($(echo $logs | wc -w) logs)" \
  '[ -n "$logs" ] && ! grep -l -e "Rowan" -e "Maria" -e "Sol.Varga" -e "Sol%20Varga" -e "Quill" $logs'
if [ -n "$dropin" ]; then
  check "Debian's own access log holds only the other site's request" \
    '[ "$(cat "$LOG_DIR"/debian/*access* 2>/dev/null | wc -l)" = 1 ]'
fi

echo "$passes passed, $failures failed"
if ((failures)); then
  echo "== server error log:"
  cat "$LOG_DIR/error.log" || true
  exit 1
fi
