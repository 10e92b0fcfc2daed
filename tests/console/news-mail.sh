#!/usr/bin/env bash
# News of new applications through a real mail system: a postfix of the test's own in namespaces
# of its own (tests/console/with-postfix), delivering to mailboxes in a temporary folder. Staff
# subscribe through the console (staff.cgi run as the server runs it), applications are filed
# by apply.cgi, `apply-admin news` drains, and the mail that arrives is read: the count, the
# console's link, no applicant's data; a failing or missing sendmail leaves the news for the next
# run; a digest once a day; two drains at once send once.
# Usage: news-mail.sh APPLY_ADMIN STAFF_CGI APPLY_CGI
#   (exit 77, skipped: no mail system of its own, as with-postfix says: not root, no postfix, no
#   namespaces)
set -euo pipefail

if [ -z "${WITH_POSTFIX:-}" ]; then
  [ $# = 3 ] || { echo "usage: $0 APPLY_ADMIN STAFF_CGI APPLY_CGI" >&2; exit 2; }
  POSTFIX_MAILBOXES="alice bob" exec "$(dirname "$0")/with-postfix" bash "$0" "$(realpath "$1")" \
    "$(realpath "$2")" "$(realpath "$3")"
fi
[ -n "${POSTFIX_MAILDIR:-}" ] || { echo "skipped: no mail system of the test's own (see above)"; exit 77; }

admin=$1 console=$2 apply=$3
tmp=$(mktemp -d /tmp/news-mail.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
mail=$POSTFIX_MAILDIR

failures=0
check() {
  if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

site=$tmp/site
mkdir -p "$site/log"
"$admin" --site "$site" init-root people
export APPLY_AUDIT_LOG=$site/log/audit.log APPLY_CONSOLE_SECRET=$tmp/console.secret \
  APPLY_CONSOLE_URL=https://staff.news.test/staff.cgi
url=$APPLY_CONSOLE_URL

# staff.cgi as the server runs it, for the staff member $1; GET with the query $2, or POST $3.
staff() {
  local method=GET body=${3:-}
  [ -n "$body" ] && method=POST
  printf %s "$body" | (cd "$site" && REMOTE_USER=$1 REQUEST_METHOD=$method QUERY_STRING=$2 \
    CONTENT_TYPE=application/x-www-form-urlencoded CONTENT_LENGTH=${#body} HTTP_HOST=127.0.0.1:8443 \
    SERVER_PORT=8443 HTTPS=on HTTP_ORIGIN=${origin:-https://127.0.0.1:8443} HTTP_SEC_FETCH_SITE=same-origin "$console")
}
subscribe() {  # user, address, cadence
  local token
  token=$(staff "$1" "view=news" | grep -o 'name="token" value="[0-9a-f.]*' | cut -d'"' -f4)
  staff "$1" "" "root=people&action=news&token=$token&address=$2&cadence=$3"
}
n=0
file_one() {  # an applicant whose name, address and text must never reach a mail
  n=$((n + 1))
  local b=----news$n body
  body=$(printf -- '--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n' \
    "$b" name "Zofia Quist$n" "$b" mail "zofia$n@applicant.example" "$b" interest "Secret plan $n")
  body+=$(printf -- '\r\n--%s\r\nContent-Disposition: form-data; name="resume"; filename="cv.txt"\r\nContent-Type: text/plain\r\n\r\nResume\r\n--%s--\r\n' "$b" "$b")
  printf %s "$body" | (cd "$site" && REQUEST_METHOD=POST CONTENT_LENGTH=${#body} \
    CONTENT_TYPE="multipart/form-data; boundary=$b" "$apply") >/dev/null
}
mails() { [ -f "$mail/$1" ] && grep -c '^From ' "$mail/$1" || echo 0; }
# Waits until mailbox $1 holds $2 mails (postfix delivers within a second or so here).
arrived() {
  for _ in $(seq 100); do [ "$(mails "$1")" -ge "$2" ] && break; sleep 0.2; done
  [ "$(mails "$1")" = "$2" ]
}
last_mail() { awk '/^From /{m=""} {m=m $0 "\n"} END{printf "%s", m}' "$mail/$1"; }
drain() { (cd "$site" && "$admin" news "$@") >"$tmp/drain.out" 2>&1; }

check "subscribing needs the form's token, and a page of this site" \
  'staff alice "" "root=people&action=news&token=1.2&address=alice@news.test&cadence=each" | grep -q "^Status: 403" &&
   origin=https://elsewhere.example subscribe alice alice@news.test each | grep -q "sent from another site"'
check "a subscription with an address unfit for sendmail is refused" \
  'subscribe alice "-oQ/tmp@news.test" each | grep -q "^Status: 400"'
check "alice subscribes for each application, bob to a daily digest" \
  'subscribe alice alice@news.test each | grep -q "News mail goes to alice@news.test" &&
   subscribe bob bob@news.test daily | grep -q "News mail goes to bob@news.test" &&
   staff bob "view=news" | grep -q "You get a daily digest at bob@news.test"'
check "the figures say news mail is not set up before a run" \
  'staff alice "view=figures" | grep -q "News mail</dt><dd>not set up"'
drain
file_one; file_one
check "a drain mails alice the count of two" \
  'drain && arrived alice 1 && last_mail alice | grep -q "^Subject: 2 new applications$"'
check "the mail links the console and names no applicant" \
  'last_mail alice | grep -qxF "$url" && ! grep -qiE "zofia|quist|secret plan|applicant\.example" "$mail/alice"'
check "the digest is not due within its day" 'drain && sleep 1 && [ "$(mails bob)" = 0 ]'
check "a run without news sends nothing" 'drain && sleep 1 && [ "$(mails alice)" = 1 ]'

file_one
printf '#!/bin/sh\necho "queue full" >&2\nexit 75\n' > "$tmp/failing-sendmail"
chmod +x "$tmp/failing-sendmail"
check "a failing sendmail fails the run, which says why" \
  '! APPLY_SENDMAIL=$tmp/failing-sendmail drain && grep -q "status 75: queue full" "$tmp/drain.out"'
check "... shown in the figures and warned of by the health check" \
  'staff alice "view=figures" | grep -q "last failure .*status 75: queue full" &&
   { (cd "$site" && "$admin" health) >"$tmp/health.out"; [ $? = 1 ]; } && grep -q "^FILING WARNING .*news mail failing" "$tmp/health.out"'
check "a missing sendmail fails the run too" \
  '! APPLY_SENDMAIL=$tmp/no-such-sendmail drain && grep -q "cannot run" "$tmp/drain.out"'
check "the next run sends what the failed ones did not, and the warning goes" \
  'drain && arrived alice 2 && last_mail alice | grep -q "^Subject: 1 new application$" &&
   (cd "$site" && "$admin" health) | grep -q "^FILING OK"'

check "a day later bob's digest counts all three" \
  'APPLY_NOW=$(($(date +%s) + 90000)) drain && arrived bob 1 &&
   last_mail bob | grep -q "^Subject: Daily digest: 3 new applications$" && [ "$(mails alice)" = 2 ]'

file_one
# A sendmail slow enough that the two runs overlap: the second waits for the first's lock.
printf '#!/bin/sh\nsleep 1\nexec /usr/sbin/sendmail "$@"\n' > "$tmp/slow-sendmail"
chmod +x "$tmp/slow-sendmail"
check "two drains at once send the news once" \
  '(cd "$site" && export APPLY_SENDMAIL=$tmp/slow-sendmail &&
    { "$admin" news >/dev/null & p=$!; "$admin" news >/dev/null; wait $p; }) &&
   sleep 2 && arrived alice 3 && last_mail alice | grep -q "^Subject: 1 new application$"'
check "alice stops her news: nothing more comes" \
  'subscribe alice "" off | grep -q "You get no news mail" && file_one && drain && sleep 1 && [ "$(mails alice)" = 3 ]'

[ "$failures" = 0 ] || { echo "--- maillog"; tail -n 20 "$POSTFIX_LOG" || true; cat "$mail/alice"; cat "$site/log/news-state.json"; }
exit $((failures > 0))
