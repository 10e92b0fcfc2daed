#!/usr/bin/env bash
# Slow clients and password guessing against the HTTPS lighttpd site, inside network namespaces of
# this test's own (a server namespace and a client namespace with three addresses, joined by a
# veth pair): half-sent requests from one address, a client trickling its header, staff-password
# guesses; with the per-address connection limit (serve/nftables-limit.nft) and the guessing ban
# (serve/fail2ban) loaded as the package installs them. Every loop is bounded in count and time.
# Usage: tests/served/abuse-test.sh BUILDDIR   (as root; prints the measured figures)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILDDIR" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "abuse-test: needs root (network namespaces)" >&2; exit 2; }
build=$(cd "$1" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d /tmp/abuse-i20.XXXXXX)
tag=i20a$$
srv=$tag-srv cli=$tag-cli
# One client address per part, so that connections still closing from one part count against none
# of the next: holders without and with the firewall's limit, the guesser, the visitor, the prober.
server=10.220.0.1 holder=10.220.0.2 limited=10.220.0.5 guesser=10.220.0.6 visitor=10.220.0.3
probers=(10.220.0.4 10.220.0.7)
export LOG_DIR=$tmp/log SERVER_MAX_SECONDS=300
pid=""
cleanup() {
  [ ! -S "$tmp/f2b/fail2ban.sock" ] || ip netns exec "$srv" fail2ban-client -c "$tmp/f2b" stop >/dev/null 2>&1 || true
  [ -z "$pid" ] || "$repo/serve/stop-server" "$pid"
  ip netns del "$cli" 2>/dev/null || true
  ip netns del "$srv" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

ip netns add "$srv"
ip netns add "$cli"
ip link add "${tag}s" type veth peer name "${tag}c"
ip link set "${tag}s" netns "$srv"
ip link set "${tag}c" netns "$cli"
ip -n "$srv" addr add "$server/24" dev "${tag}s"
for a in $holder $limited $guesser $visitor "${probers[@]}"; do ip -n "$cli" addr add "$a/24" dev "${tag}c"; done
for ns in "$srv" "$cli"; do ip -n "$ns" link set lo up; done
ip -n "$srv" link set "${tag}s" up
ip -n "$cli" link set "${tag}c" up

"$repo/serve/make-site" "$build" "$tmp/site"
read -r pid port https_port < <(ip netns exec "$srv" env HTTPS=1 BIND=$server "$repo/serve/start-test-server" "$tmp/site")
staff=$(cat "$LOG_DIR/staff-credentials")
site=https://$server:$https_port
# client ADDRESS CURL_ARGS...: curl from that address of the client namespace; prints status and seconds.
client() {
  local from=$1; shift
  ip netns exec "$cli" curl -s -o /dev/null --max-time 5 --cacert "$LOG_DIR/tls/ca.pem" --interface "$from" \
    -w '%{http_code} %{time_total}\n' "$@" || true
}

passes=0 failures=0
check() {
  if eval "$2"; then echo "ok: $1"; passes=$((passes + 1)); else echo "FAIL: $1"; failures=$((failures + 1)); fi
}

# hold FROM COUNT SECONDS: COUNT connections from address FROM to the plain port, each with a
# request line and one header line and no end; prints how many the server still held after 2 s,
# while the visitor's form times are written to $tmp/form-times. Then all are closed.
hold() {
  ip netns exec "$cli" python3 - "$1" "$server" "$port" "$2" "$3" <<'PY' &
import resource, socket, sys, time
src, dst, port, count, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
resource.setrlimit(resource.RLIMIT_NOFILE, (count + 64, count + 64))
held = []
for _ in range(count):
    s = socket.socket()
    s.bind((src, 0))
    s.settimeout(2)
    try:
        s.connect((dst, port))
        s.sendall(b"GET /apply.cgi HTTP/1.1\r\nHost: x\r\n")
        held.append(s)
    except OSError:
        s.close()
time.sleep(2)
alive = 0
for s in held:
    s.setblocking(False)
    try:
        alive += s.recv(1, socket.MSG_PEEK) != b""
    except BlockingIOError:
        alive += 1
    except OSError:
        pass
print(alive, flush=True)
time.sleep(max(0.0, seconds - 2))
PY
  local holder_pid=$!
  sleep 3
  for _ in 1 2 3 4 5; do client "$visitor" "$site/apply.cgi"; done >"$tmp/form-times"
  wait "$holder_pid"
}
# slowest_form: the longest of the visitor's form times, if all five answered 200.
slowest_form() { awk '$1 != 200 {bad = 1} $2 > max {max = $2} END {print bad ? "failed" : max}' "$tmp/form-times"; }

# A client trickling its header, a line every 25 s (at most 4): how long the server keeps it.
ip netns exec "$cli" python3 - "$visitor" "$server" "$port" >"$tmp/trickle" <<'PY' &
import socket, sys, time
s = socket.create_connection((sys.argv[2], int(sys.argv[3])), source_address=(sys.argv[1], 0))
start = time.monotonic()
s.sendall(b"GET /apply.cgi HTTP/1.1\r\n")
s.settimeout(25)
for _ in range(4):
    try:
        if s.recv(1) == b"":
            break
    except socket.timeout:
        try:
            s.sendall(b"X-Slow: 1\r\n")
        except OSError:
            break
    except OSError:
        break
print(round(time.monotonic() - start))
PY
trickle_pid=$!

echo "== 1400 half-sent requests from one address, the server's own limits alone"
held=$(hold "$holder" 1400 8)
slowest=$(slowest_form)
echo "measured: $held of 1400 held by the server; the form for another client: slowest of 5 in $slowest s"
check "another client still gets the form within 1 s" '[ "$slowest" != failed ] && awk "BEGIN {exit !($slowest < 1)}"'

echo "== the same with the per-address limit of the firewall"
sed "s/{ 80, 443 }/{ $port, $https_port }/" "$repo/serve/nftables-limit.nft" | ip netns exec "$srv" nft -f -
held=$(hold "$limited" 1400 4)
slowest=$(slowest_form)
echo "measured: $held of 1400 held; the form for another client: slowest of 5 in $slowest s"
check "one address holds at most 64 connections; another client gets the form within 1 s" \
  '[ "$held" -ge 1 ] && [ "$held" -le 64 ] && [ "$slowest" != failed ] && awk "BEGIN {exit !($slowest < 1)}"'

echo "== password guessing"
# 32 guessing connections for 5 s from one address while another fetches the logo (each fetch a
# new TLS connection); before that, the same fetches alone. The guessers' curl processes share
# the machine's cores with the server.
for _ in $(seq 20); do client "$visitor" "$site/logo.jpg"; done >"$tmp/logo-alone"
alone=$(awk '{print $2}' "$tmp/logo-alone" | sort -n | sed -n 10p)
ip netns exec "$cli" bash -c 'for i in $(seq 32); do
    timeout 5 bash -c "while :; do curl -s -o /dev/null -k -u staff:guess\$RANDOM --interface $0 https://$1/people/; done" &
  done; wait' "$guesser" "$server:$https_port" &
guessers=$!
sleep 1
for _ in $(seq 20); do client "$visitor" "$site/logo.jpg"; done >"$tmp/logo-times"
wait "$guessers" || true
median=$(awk '{print $2}' "$tmp/logo-times" | sort -n | sed -n 10p)
guesses=$(grep -c "password doesn't match" "$LOG_DIR/error.log" || true)
echo "measured: $guesses guesses in 5 s on 32 connections; logo.jpg meanwhile: median $median s of 20 (alone: $alone s)"
check "guessing does not stall the server (logo.jpg median under 0.25 s)" 'awk "BEGIN {exit !($median < 0.25)}"'

# The ban: fail2ban with the site's filter and jail, on this test's log and ports, in the server's namespace.
# Debian's configuration less its own jails (jail.d enables sshd).
cp -r /etc/fail2ban "$tmp/f2b"
rm -rf "$tmp/f2b/jail.d" "$tmp/f2b/jail.local"
cp "$repo/serve/fail2ban/vocanta-apply-filter.conf" "$tmp/f2b/filter.d/vocanta-apply.conf"
sed -e "s|^backend .*|backend = polling\nlogpath = $LOG_DIR/error.log|; /^journalmatch/d; s|^port .*|port = $port,$https_port|" \
  "$repo/serve/fail2ban/vocanta-apply-jail.conf" >"$tmp/f2b/jail.local"
printf '[Definition]\nsocket = %s\npidfile = %s\ndbfile = :memory:\nlogtarget = %s\n' \
  "$tmp/f2b/fail2ban.sock" "$tmp/f2b/fail2ban.pid" "$tmp/f2b/fail2ban.log" >"$tmp/f2b/fail2ban.local"
ip netns exec "$srv" fail2ban-client -c "$tmp/f2b" start >/dev/null
banned="" shut=""
for _ in $(seq 60); do
  if ip netns exec "$srv" fail2ban-client -c "$tmp/f2b" status vocanta-apply 2>/dev/null | grep -q "$guesser"; then
    banned=yes; break
  fi
  sleep 1
done
# The jail lists the address as its action starts: the firewall rule may follow a moment later.
for _ in $( [ -n "$banned" ] && seq 10); do
  [[ $(client "$guesser" "$site/apply.cgi") == 000* ]] && { shut=yes; break; }
  sleep 1
done
echo "measured: the guessing address listed by the jail: ${banned:-no}; shut out: ${shut:-no}"
check "the guessing address is banned; another still gets the form" \
  '[ -n "$shut" ] && [[ $(client "$visitor" "$site/apply.cgi") == 200* ]]'

# Wrong passwords for a known and for an unknown account (8 each, from two addresses: fewer than a
# ban): the fastest of each, as a patient guesser would compare them (a busy machine only adds to a
# time). A bcrypt check of cost 10 took some 40 ms more, of cost 5 some 2 ms.
for prober in "${probers[@]}" "${probers[@]}" "${probers[@]}" "${probers[@]}"; do
  client "$prober" -u "staff:wrong$RANDOM" "$site/people/" | sed 's/^/known /'
  client "$prober" -u "nobody$RANDOM:wrong" "$site/people/" | sed 's/^/unknown /'
done >"$tmp/guess-times"
fastest() { awk -v who="$1" '$1 == who {print $3}' "$tmp/guess-times" | sort -n | head -n 1; }
known=$(fastest known) unknown=$(fastest unknown)
echo "measured: a wrong password takes at least $known s for a known account, $unknown s for an unknown one (8 each)"
check "known and unknown accounts answer alike (401, fastest within 25 ms)" \
  '[ "$(awk "\$2 != 401" "$tmp/guess-times" | wc -l)" = 0 ] && awk "BEGIN {d = $known - $unknown; exit !(d < 0.025 && d > -0.025)}"'

# A removed account counts from the next request (logged in, a missing stored file is a 404).
check "staff log in; removed from the password file, the next request is refused" \
  '[[ $(client "$visitor" -u "$staff" "$site/people/none") == 404* ]] &&
   htpasswd -D "$LOG_DIR/staff.htpasswd" "${staff%%:*}" 2>/dev/null && [[ $(client "$visitor" -u "$staff" "$site/people/none") == 401* ]]'

wait "$trickle_pid" || true
kept=$(cat "$tmp/trickle")
echo "measured: a header trickled a line every 25 s was cut after $kept s"
check "a trickling client is cut within 60 s" '[ -n "$kept" ] && [ "$kept" -le 60 ]'

echo "$passes passed, $failures failed"
((failures == 0))
