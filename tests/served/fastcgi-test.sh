#!/usr/bin/env bash
# The library's programs as FastCGI applications, the same for each web server: the examples and
# the side-by-side programs answer through FastCGI byte for byte as they do as CGI programs through
# the same server; then one process of the probe (fastcgi_probe.cpp) takes a mixed sequence of
# good and hostile requests, keeping nothing of one request for the next, and its memory stays flat
# over 10,000 requests.
# Usage: tests/served/fastcgi-test.sh BUILDDIR lighttpd|nginx
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 BUILDDIR lighttpd|nginx" >&2; exit 2; }
build=$(cd "$1" && pwd) server=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d /tmp/fastcgi-test.XXXXXX)
site=$tmp/site work=$tmp/work run=$tmp/run
mkdir -p "$site/fcgi" "$site/cgi" "$work"
pid=""
cleanup() {
  [ -z "$pid" ] || { kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; }
  [ -n "${KEEP_TMP:-}" ] || rm -rf "$tmp"
}
trap cleanup EXIT

passes=0 failures=0
check() {
  if eval "$2"; then echo "ok: $1"; passes=$((passes + 1)); else echo "FAIL: $1"; failures=$((failures + 1)); fi
}

programs=(examples/visits.cgi examples/upload.cgi examples/text_gif.cgi
          bench/side_by_side/side_contact_ours bench/side_by_side/side_counter_ours
          bench/side_by_side/side_upload_ours tests/served/fastcgi_probe)
for p in "${programs[@]}"; do
  [ -x "$build/$p" ] || { echo "$build/$p not built" >&2; exit 1; }
  install -m 0755 "$build/$p" "$site/fcgi/"
  install -m 0755 "$build/$p" "$site/cgi/"
done
chmod 0777 "$site/fcgi" "$site/cgi"  # the programs store and spool uploads in their folder

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$repo/serve/fastcgi/run" "$server" "$site" "$run" "$port" >"$tmp/server.out" 2>&1 &
pid=$!
base=http://127.0.0.1:$port
for _ in $(seq 100); do
  curl -s -o /dev/null --max-time 1 "$base/fcgi/fastcgi_probe" && break
  sleep 0.1
done

# fetch NAME PATH [curl options...]: body to $work/NAME, header to $work/NAME.h; prints the status.
fetch() {
  local name=$1 path=$2; shift 2
  curl -sS --max-time 60 -o "$work/$name" -D "$work/$name.h" -w '%{http_code}' "$@" "$base$path" || true
}
# The header lines a program decides (status, location, cookies, type), as sent.
own_header() { grep -iE '^(Status|Location|Set-Cookie|Content-Type):' "$work/$1.h" | sed 's/; expires=[^;]*//' | tr -d '\r'; }
# same NAME PATH [curl options...]: the program answers through FastCGI as through CGI.
same() {
  local name=$1 path=$2; shift 2
  local fcgi cgi
  fcgi=$(fetch "$name.fcgi" "/fcgi/$path" "$@")
  cgi=$(fetch "$name.cgi" "/cgi/$path" "$@")
  check "$name: $fcgi through FastCGI, byte for byte the CGI answer" \
    '[ "$fcgi" = "$cgi" ] && [ "$fcgi" != 000 ] && cmp -s "$work/$name.fcgi" "$work/$name.cgi" &&
     [ "$(own_header "$name.fcgi")" = "$(own_header "$name.cgi")" ]'
}

echo "== $server: the examples and the side-by-side programs, FastCGI beside CGI"
same gif 'text_gif.cgi?text=Hello&color=3'
read -r w0 w1 h0 h1 < <(od -An -tu1 -j6 -N4 "$work/gif.fcgi") || true
check "text_gif: a GIF of 47 x 17 pixels" '[ "$(head -c 3 "$work/gif.fcgi")" = GIF ] && [ $((w0 + 256 * w1)) = 47 ] && [ $((h0 + 256 * h1)) = 17 ]'
same visit1 visits.cgi
same visit5 visits.cgi -H 'Cookie: visits=4'
check "visits: the fifth visit counted from the cookie" 'grep -q "visit number 5 " "$work/visit5.fcgi"'
same upload_form upload.cgi
head -c 300000 /dev/urandom >"$work/cv.bin"
same upload upload.cgi --form-string 'title=<b>CV</b>' -F "file=@$work/cv.bin;filename=cv <1>.bin;type=application/octet-stream"
check "upload: the file spooled, its name and title escaped" \
  'grep -q "cv &lt;1&gt;.bin, 300000 bytes (Content-Type: application/octet-stream), spooled to a file, titled &lt;b&gt;CV&lt;/b&gt;" "$work/upload.fcgi"'
same contact side_contact_ours --data 'name=Jo&message=Hi'
check "contact: 303 to thanks.html" 'own_header contact.fcgi | grep -q "^Location: thanks.html"'
same counter side_counter_ours -H 'Cookie: count=4'
check "counter: counted from the cookie" 'grep -q "Request 5 " "$work/counter.fcgi"'
head -c $((1 << 20)) /dev/urandom >"$work/mib.bin"
same side_upload side_upload_ours -F "file=@$work/mib.bin;filename=mib.bin"
check "side_upload: 1 MiB stored whole by both" 'cmp -s "$site/fcgi/upload.bin" "$work/mib.bin" && cmp -s "$site/cgi/upload.bin" "$work/mib.bin"'
head -c $((6 << 20)) /dev/zero >"$work/six.bin"
code=$(fetch too_large /fcgi/side_upload_ours -F "file=@$work/six.bin")
check "side_upload: 6 MiB answered 413 by the program, and the process goes on" \
  '[ "$code" = 413 ] && grep -q "Too large" "$work/too_large" && [ "$(fetch after_limit /fcgi/side_upload_ours -F "file=@$work/cv.bin")" = 200 ]'

echo "== $server: one probe process, good and hostile requests in turn"
probe=/fcgi/fastcgi_probe
field() { sed -n "s/^$2 //p" "$work/$1"; }
fetch first "$probe?a=1&b=2" >/dev/null
probe_pid=$(field first pid) fds=$(field first fds)
check "a first request: two pairs, no cookie, nothing cut" \
  '[ "$(field first pairs)" = "2: a=1 b=1" ] && [ "$(field first cookie)" = - ] && [ "$(field first truncated)" = 0 ]'
fetch set_cookie "$probe?do=cookie&v=x" >/dev/null
check "a request sets a cookie" 'grep -qi "^Set-Cookie: c=x;" "$work/set_cookie.h"'
fetch no_cookie "$probe?q" >/dev/null
check "... the next one sets none and sees none" \
  '! grep -qi "^Set-Cookie" "$work/no_cookie.h" && [ "$(field no_cookie cookie)" = - ] && [ "$(field no_cookie "header before")" = 0 ]'
fetch with_cookie "$probe" -H 'Cookie: c=y' >/dev/null
# 900 pairs, some 6 KB: past the query's 4094 characters, within the servers' 8 KB request line.
fetch long_query "$probe?$(python3 -c 'print("&".join("k%d=v" % i for i in range(900)))')" >/dev/null
check "a cookie sent is seen; a query of 900 pairs is cut (and said to be)" \
  '[ "$(field with_cookie cookie)" = y ] && [ "$(field long_query truncated)" = 1 ]'
fetch short_query "$probe?a=1" >/dev/null
check "... the next request has its own pair and no cut" \
  '[ "$(field short_query pairs)" = "1: a=1" ] && [ "$(field short_query truncated)" = 0 ]'
fetch spooled "$probe" -F "f=@$work/cv.bin" -F t=1 >/dev/null
check "an upload is spooled to a file of its own" '[[ "$(field spooled pairs)" = "2: f=300000(spooled) t=1" ]]'
boundary=xyz
printf -- '--%s\r\nContent-Type: text/plain\r\n\r\nno disposition\r\n--%s--\r\n' $boundary $boundary >"$work/unreadable.body"
code=$(fetch unreadable "$probe" --data-binary "@$work/unreadable.body" -H "Content-Type: multipart/form-data; boundary=$boundary")
check "an unreadable multipart body ends its request after the header ($code)" \
  '[ "$code" = 200 ] && [ ! -s "$work/unreadable" ]'
code=$(fetch fatal "$probe?do=fatal")
check "fatal_printf ends its request with its page ($code)" '[ "$code" = 200 ] && grep -q "^fatal$" "$work/fatal" && ! grep -q "^pid" "$work/fatal"'
code=$(fetch thrown "$probe?do=throw")
check "an exception out of the handler is answered 500" '[ "$code" = 500 ]'
printf 'n=%s' "$(head -c 3000 /dev/zero | tr '\0' x)" >"$work/form.body"
fetch urlencoded "$probe" --data-binary "@$work/form.body" -H 'Content-Type: application/x-www-form-urlencoded' >/dev/null
check "a URL-encoded body's pairs" '[ "$(field urlencoded pairs)" = "1: n=3000" ] && [ "$(field urlencoded incomplete)" = 0 ]'
fetch last "$probe?a=1&b=2" >/dev/null
check "... all in one process, which holds no more descriptors than at first (no spool file left)" \
  '[ "$(field last pid)" = "$probe_pid" ] && [ "$(field last fds)" = "$fds" ] && [ "$(field last "header before")" = 0 ]'
check "... and whose failures reached the server's log" 'grep -q "the probe was asked to fail" "$run/program-error.log" "$run/error.log"'

echo "== $server: memory over 10,000 requests"
{ printf -- '--%s\r\nContent-Disposition: form-data; name="f"; filename="a.bin"\r\n\r\n' $boundary
  head -c 20000 /dev/urandom; printf -- '\r\n--%s--\r\n' $boundary; } >"$work/post.body"
ab -q -n 500 -c 2 "$base$probe?a=1&b=2" >/dev/null
fetch warm "$probe" >/dev/null
ab -q -n 5000 -c 2 -C c=z "$base$probe?a=1&b=2" >"$work/ab_get" 2>&1
ab -q -n 5000 -c 2 -p "$work/post.body" -T "multipart/form-data; boundary=$boundary" "$base$probe" >"$work/ab_post" 2>&1
fetch cold "$probe" >/dev/null
check "10,000 requests answered, none failed" \
  'grep -q "^Complete requests: *5000" "$work/ab_get" && grep -q "^Failed requests: *0" "$work/ab_get" &&
   grep -q "^Complete requests: *5000" "$work/ab_post" && grep -q "^Failed requests: *0" "$work/ab_post"'
check "the probe's resident memory stays flat: $(field warm rss) KiB, then $(field cold rss) KiB" \
  '[ "$(field cold pid)" = "$probe_pid" ] && [ $(( $(field cold rss) - $(field warm rss) )) -lt 512 ] && [ "$(field cold fds)" = "$fds" ]'

echo "$passes passed, $failures failed"
if ((failures)); then
  cat "$run/error.log" "$run/program-error.log" 2>/dev/null | tail -n 40
  exit 1
fi
