#!/usr/bin/env bash
# The Debian package, end to end: built from a copy of the source tree with dpkg-buildpackage,
# checked by lintian (no errors), installed into a throw-away Debian bookworm root (a cached
# debootstrap under an overlay, in mount, PID and network namespaces of its own: no systemd there,
# so the service is started by its unit's ExecStart line with the unit's environment, user and
# capability), an application submitted over HTTPS; the units' systemd-analyze security scores;
# reloads under a stream of requests (one with a renewed certificate), none refused; the health
# check passing, then critical with the store unwritable; node_exporter reading the metrics; the
# package upgraded to a rebuilt one (same programs, next version) keeping an edited configuration
# and the application; then removal keeps the data and purge deletes what the package made but
# the backups.
# Usage: tests/package/package-test.sh   (as root)
set -eEuo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
[ "$(id -u)" = 0 ] || { echo "package-test: needs root" >&2; exit 2; }
# Exit status 2 says "skipped" (not root): a command that fails with 2 must not say so too.
trap 'status=$?; echo "package-test: line $LINENO failed with exit status $status" >&2; exit 1' ERR

if [ -z "${IN_PACKAGE_NAMESPACE:-}" ]; then
  tmp=$(mktemp -d /var/tmp/package-test-i20.XXXXXX)
  trap '[ -n "${KEEP_TMP:-}" ] || rm -rf "$tmp"' EXIT   # KEEP_TMP=1 keeps the logs
  # Build from a copy: dpkg-buildpackage writes its results beside the source folder.
  mkdir "$tmp/src"
  git -C "$repo" ls-files -z --cached --others --exclude-standard |
    (cd "$repo" && xargs -0 cp --parents -t "$tmp/src" 2>/dev/null) || true
  (cd "$tmp/src" && DEB_BUILD_OPTIONS="parallel=$(nproc) nocheck" \
    dpkg-buildpackage -b -uc -us >"$tmp/build.log" 2>&1) || { tail -n 30 "$tmp/build.log"; exit 1; }
  deb=$(ls "$tmp"/vocanta-apply_*.deb)
  echo "built $(basename "$deb")"
  # Pedantic: every tag is shown; errors and warnings fail (overrides say why where one is kept).
  lintian --pedantic --fail-on error,warning "$deb" | tee "$tmp/lintian.log" ||
    { echo "FAIL: lintian reports errors or warnings"; exit 1; }
  echo "ok: lintian reports no errors or warnings ($(wc -l <"$tmp/lintian.log") pedantic or informational tags)"
  # The units' exposure, as systemd-analyze scores it (the main service and the timed jobs that
  # touch the store); at most 2.0 each.
  mkdir "$tmp/units"
  dpkg-deb -x "$deb" "$tmp/units"
  for u in vocanta-apply vocanta-apply-retention vocanta-apply-backup vocanta-apply-metrics vocanta-apply-cert vocanta-apply-news; do
    score=$(systemd-analyze security --offline=true "$tmp/units/lib/systemd/system/$u.service" 2>/dev/null |
      sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
    echo "systemd-analyze security $u.service: ${score:-none}"
    case $u in vocanta-apply-metrics|vocanta-apply-cert) continue ;; esac
    awk -v s="${score:-99}" 'BEGIN { exit !(s <= 2.0) }' || { echo "FAIL: $u.service scores ${score:-none}"; exit 1; }
  done
  echo "ok: the service, the retention, the backup and the news mail score at most 2.0"
  # The rebuilt package: the same tree, version +1.
  dpkg-deb -R "$deb" "$tmp/next"
  sed -i 's/^Version: .*/Version: 1.0.1/' "$tmp/next/DEBIAN/control"
  dpkg-deb -b "$tmp/next" "$tmp/next.deb" >/dev/null
  depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/([^)]*)//; s/|.*//; s/ //g')
  root=$("$here/bookworm-root" $depends curl ca-certificates prometheus-node-exporter)
  cp "$deb" "$tmp/first.deb"
  IN_PACKAGE_NAMESPACE=1 ROOT=$root TMP=$tmp unshare --mount --pid --net --fork "$0"
  exit
fi

# In the namespaces: the root is an overlay on the cached one, gone with the namespace.
mkdir "$TMP/upper" "$TMP/work" "$TMP/root"
mount -t overlay overlay -o "lowerdir=$ROOT,upperdir=$TMP/upper,workdir=$TMP/work" "$TMP/root"
r=$TMP/root
mount -t proc proc "$r/proc"
mount --rbind /dev "$r/dev"
mount -t tmpfs tmpfs "$r/run"
ip link set lo up
cp "$TMP/first.deb" "$TMP/next.deb" "$r/tmp/"
in_root() { chroot "$r" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }

passes=0 failures=0
check() {
  if eval "$2"; then echo "ok: $1"; passes=$((passes + 1)); else echo "FAIL: $1"; failures=$((failures + 1)); fi
}

# as_service CMD...: CMD in the root as the unit runs its commands: the settings and the unit's
# environment, its user and group, the one capability it keeps, its limits and umask (through
# /tmp/as-service, written from the installed unit by make_as_service).
unit_lines() { sed -n "s/^$2=//p" "$r/lib/systemd/system/$1"; }
make_as_service() {
  cat >"$r/tmp/as-service" <<EOF
#!/bin/sh
set -a
. /etc/vocanta-apply/site.env
$(unit_lines vocanta-apply.service Environment | sed 's/^/export /')
set +a
ulimit -n 16384
umask 0027
exec setpriv --reuid=vocanta-apply --regid=vocanta-apply --init-groups --inh-caps=+net_bind_service \\
  --ambient-caps=+net_bind_service --bounding-set=-all,+net_bind_service "\$@"
EOF
  chmod 0755 "$r/tmp/as-service"
}
as_service() { chroot "$r" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /tmp/as-service "$@"; }
# start_service: what the unit's ExecStartPre and ExecStart run; prints the PID.
start_service() {
  make_as_service
  # (chroot itself in the background, so that its PID, through the execs, is the server's.)
  chroot "$r" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /tmp/as-service /bin/sh -c \
    "$(unit_lines vocanta-apply.service ExecStartPre) >/dev/null && exec $(unit_lines vocanta-apply.service ExecStart)" \
    </dev/null >>"$TMP/service.log" 2>&1 &
  local pid=$!
  for _ in $(seq 50); do
    in_root curl -s -o /dev/null --cacert /etc/vocanta-apply/tls/ca.pem https://localhost/apply.cgi && break
    sleep 0.2
  done
  echo "$pid"
}
# reload_service PID: what the unit's ExecReload lines run, in order, as the service.
reload_service() {
  as_service /bin/sh -c "$(unit_lines vocanta-apply.service ExecReload | sed "s/\$MAINPID/$1/" | paste -sd'&' | sed 's/&/ \&\& /g')"
}
stop_service() { kill "$1"; wait "$1" 2>/dev/null || true; }

in_root dpkg -i /tmp/first.deb >"$TMP/install.log" 2>&1 || { cat "$TMP/install.log"; exit 1; }
check "installed: the service's user, the staff account file (root:vocanta-apply 0640), the site" \
  '[ "$(in_root stat -c "%U:%G %a" /etc/vocanta-apply/staff.htpasswd)" = "root:vocanta-apply 640" ] &&
   [ -L "$r/var/lib/vocanta-apply/site/apply.cgi" ] && [ ! -e "$r/var/lib/vocanta-apply/site/visits.cgi" ]'
check "installed: the configuration as conffiles, the audit log, backup and key folders as documented" \
  'in_root dpkg-query -W -f="\${Conffiles}" vocanta-apply | grep -q " /etc/vocanta-apply/lighttpd/site.conf " &&
   [ "$(in_root stat -c "%U:%G %a" /var/log/vocanta-apply /var/backups/vocanta-apply /etc/vocanta-apply/tls/server.key |
        paste -sd" ")" = "vocanta-apply:adm 2750 root:vocanta-apply 750 root:vocanta-apply 640" ] &&
   [ -f "$r/usr/share/man/man8/apply-admin.8.gz" ] && [ -f "$r/etc/logrotate.d/vocanta-apply" ]'
pid=$(start_service)
password=$(cut -d" " -f2 "$r/etc/vocanta-apply/staff-initial-password")
curl_in() { in_root curl -sS --max-time 30 --cacert /etc/vocanta-apply/tls/ca.pem "$@"; }
printf 'resume bytes\n' >"$r/tmp/cv.txt"
out=$(curl_in -F name="Ada Quill" -F mail=ada@example.com -F interest=Testing -F "resume=@/tmp/cv.txt" \
  -F directory=people -F "sub=Submit form" https://localhost/apply.cgi || true)
check "an application submitted over HTTPS is filed" '[[ $out == *"Thank You!"* ]]'
check "plain HTTP redirects to HTTPS" \
  '[ "$(curl_in -o /dev/null -w "%{redirect_url}" http://localhost/people/)" = https://localhost:443/people/ ]'
check "staff read the list over HTTPS; a visitor gets 401" \
  '[[ $(curl_in -u "staff:$password" https://localhost/people/) == *"Ada Quill"* ]] &&
   [ "$(curl_in -o /dev/null -w "%{http_code}" https://localhost/people/)" = 401 ]'
check "the program ran as vocanta-apply; the log goes to the journal (standard error), no file" \
  '[ "$(in_root stat -c %U "/var/lib/vocanta-apply/site/people/Ada Quill/index.html")" = vocanta-apply ] &&
   grep -q "server started" "$TMP/service.log" && [ ! -e "$r/var/log/vocanta-apply/error.log" ]'
mkdir -p "$r/var/lib/vocanta-apply/acme/.well-known/acme-challenge"
echo challenge-answer >"$r/var/lib/vocanta-apply/acme/.well-known/acme-challenge/tok_EN-1"
check "certbot's webroot challenge is answered over plain HTTP, the site keeps running" \
  '[ "$(curl_in http://localhost/.well-known/acme-challenge/tok_EN-1)" = challenge-answer ]'

# Reloads under a stream of requests: none refused, none failed. The second one takes up a renewed
# certificate (the package's own, 2 days left, renewed by the certificate timer's command).
stream() {
  local end=$((SECONDS + $1)) good=0 bad=0
  while ((SECONDS < end)); do
    if [ "$(curl_in -o /dev/null -w "%{http_code}" https://localhost/apply.cgi 2>/dev/null)" = 200 ]; then
      good=$((good + 1)); else bad=$((bad + 1)); fi
  done
  echo "$good $bad"
}
fingerprint() { echo | in_root openssl s_client -connect 127.0.0.1:443 -servername localhost 2>/dev/null | in_root openssl x509 -noout -fingerprint; }
in_root sh -c 'cd /etc/vocanta-apply/tls && openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -subj /CN=localhost -keyout server.key -out short.csr 2>/dev/null && openssl x509 -req -in short.csr -CA ca.pem \
  -CAkey ca.key -CAcreateserial -days 2 -out short.crt 2>/dev/null && cat short.crt ca.pem >server.pem &&
  rm short.csr short.crt ca.srl && chgrp vocanta-apply server.key && chmod 0640 server.key'
reload_service "$pid"
before=$(fingerprint)
for i in 1 2 3 4; do stream 9 >"$TMP/stream.$i" & done
sleep 2; reload_service "$pid"
sleep 2; in_root env TLS_CERT=/etc/vocanta-apply/tls/server.pem /usr/lib/vocanta-apply/renew-cert >>"$TMP/service.log"
reload_service "$pid"
sleep 2; reload_service "$pid"
wait
read -r good bad < <(cat "$TMP"/stream.* | awk '{g += $1; b += $2} END {print g, b}')
echo "reloads under load: $good answers 200, $bad refused or failed"
check "three reloads under a stream of requests: none refused or failed" '[ "$bad" = 0 ] && [ "$good" -gt 20 ]'
check "the renewed certificate (825 days) is served after its reload, the same server process" \
  'in_root openssl x509 -in /etc/vocanta-apply/tls/server.pem -noout -checkend $((800 * 86400)) >/dev/null &&
   [ "$(fingerprint)" != "$before" ] && kill -0 "$pid"'

# certbot's deploy hook: its files copied where the service's user reads them, the key by the group.
mkdir -p "$r/tmp/lineage"
cp "$r/etc/vocanta-apply/tls/server.pem" "$r/tmp/lineage/fullchain.pem"
cp "$r/etc/vocanta-apply/tls/server.key" "$r/tmp/lineage/privkey.pem"
chmod 0600 "$r/tmp/lineage/privkey.pem"
in_root env RENEWED_LINEAGE=/tmp/lineage /usr/lib/vocanta-apply/certbot-deploy-hook
check "certbot's deploy hook: the key root:vocanta-apply 0640, readable by the service" \
  '[ "$(in_root stat -c "%U:%G %a" /etc/vocanta-apply/tls/live/privkey.pem)" = "root:vocanta-apply 640" ] &&
   as_service test -r /etc/vocanta-apply/tls/live/privkey.pem &&
   cmp -s "$r/tmp/lineage/fullchain.pem" "$r/etc/vocanta-apply/tls/live/fullchain.pem"'

# Monitoring: the health check proves filing without adding an applicant; with the store unwritable
# it is critical, as filing is, while the form still answers 200.
admin() { as_service /usr/sbin/apply-admin --site /var/lib/vocanta-apply/site "$@"; }
listed_before=$(cat "$r/var/lib/vocanta-apply/site/people/index.html")
out=$(admin check) || true
check "apply-admin check: OK, and the list is as it was ($out)" \
  '[[ $out == "FILING OK - "* ]] && [ "$(cat "$r/var/lib/vocanta-apply/site/people/index.html")" = "$listed_before" ]'
check "the staff's /staff.cgi/health answers OK" \
  '[[ $(curl_in -u "staff:$password" https://localhost/staff.cgi/health) == "FILING OK - "* ]]'
chmod 0550 "$r/var/lib/vocanta-apply/site/people"
status=0
out=$(admin check) || status=$?
submitted=$(curl_in -o /dev/null -w "%{http_code}" -F name="Bo Quill" -F mail=bo@example.com -F interest=Testing \
  -F "resume=@/tmp/cv.txt" -F directory=people https://localhost/apply.cgi || true)
check "the store unwritable: filing fails (500), the form answers 200, the check is CRITICAL (exit $status)" \
  '[ "$submitted" = 500 ] && [ "$(curl_in -o /dev/null -w "%{http_code}" https://localhost/apply.cgi)" = 200 ] &&
   [ "$status" = 2 ] && [[ $out == "FILING CRITICAL - "* ]] &&
   [ "$(curl_in -o /dev/null -w "%{http_code}" -u "staff:$password" https://localhost/staff.cgi/health)" = 503 ]'
chmod 0750 "$r/var/lib/vocanta-apply/site/people"
# The metrics timer's two commands (the second as root), then node_exporter's textfile collector.
metrics_unit=vocanta-apply-metrics.service
as_service $(unit_lines $metrics_unit ExecStart)
in_root $(unit_lines $metrics_unit ExecStartPost | sed 's/^+//')
in_root prometheus-node-exporter --web.listen-address=127.0.0.1:9100 --collector.disable-defaults \
  --collector.textfile >"$TMP/node-exporter.log" 2>&1 &
exporter=$!
for _ in $(seq 50); do in_root curl -s -o "/tmp/metrics" http://127.0.0.1:9100/metrics && break; sleep 0.2; done
kill "$exporter"
check "node_exporter serves the metrics: one filed, one failed at the store, health ok" \
  'grep -qx "vocanta_apply_submissions_filed_total 1" "$r/tmp/metrics" &&
   grep -qx "vocanta_apply_submission_failures_total{cause=\"store_write\"} 1" "$r/tmp/metrics" &&
   grep -qx "vocanta_apply_health_status{root=\"people\"} 0" "$r/tmp/metrics" &&
   grep -qx "node_textfile_scrape_error 0" "$r/tmp/metrics"'
admin export "Ada Quill" /tmp/ada.zip >>"$TMP/service.log" 2>&1
check "an export's audit line lands in /var/log/vocanta-apply/audit.log" \
  'grep -q "export	people	Ada Quill" "$r/var/log/vocanta-apply/audit.log"'
stop_service "$pid"
echo "# a local edit" >>"$r/etc/vocanta-apply/lighttpd/site.conf"

in_root dpkg -i /tmp/next.deb >>"$TMP/install.log" 2>&1 || { cat "$TMP/install.log"; exit 1; }
pid=$(start_service)
check "after the upgrade to 1.0.1: the application is still there, the password and the edited configuration unchanged" \
  '[ "$(in_root dpkg-query -W -f="\${Version}" vocanta-apply)" = 1.0.1 ] &&
   [ "$(curl_in -u "staff:$password" "https://localhost/people/Ada%20Quill/cv.txt")" = "resume bytes" ] &&
   [ "$(tail -n 1 "$r/etc/vocanta-apply/lighttpd/site.conf")" = "# a local edit" ]'
stop_service "$pid"
# The documented backup command (as root, into the package's backup folder).
in_root /usr/sbin/apply-admin --site /var/lib/vocanta-apply/site backup /var/backups/vocanta-apply/2026-12-09 >>"$TMP/install.log" 2>&1
check "the documented backup command works: a backup the service's group may read, no one else" \
  '[ -f "$r/var/backups/vocanta-apply/2026-12-09/Ada Quill/index.html" ] &&
   [ "$(in_root stat -c "%U:%G %a" /var/backups/vocanta-apply)" = "root:vocanta-apply 750" ]'

in_root dpkg -r vocanta-apply >>"$TMP/install.log" 2>&1
check "removal keeps the store and the staff accounts" \
  '[ -f "$r/var/lib/vocanta-apply/site/people/Ada Quill/index.html" ] && [ -f "$r/etc/vocanta-apply/staff.htpasswd" ]'
in_root dpkg -P vocanta-apply >"$TMP/purge.log" 2>&1
cat "$TMP/purge.log" >>"$TMP/install.log"
check "purge deletes them, the audit log and the user; keeps the backups (group root) and says so" \
  '[ ! -e "$r/var/lib/vocanta-apply" ] && [ ! -e "$r/etc/vocanta-apply" ] && [ ! -e "$r/var/log/vocanta-apply" ] &&
   ! in_root getent passwd vocanta-apply >/dev/null && ! in_root getent group vocanta-apply >/dev/null &&
   [ "$(in_root stat -c "%U:%G" "/var/backups/vocanta-apply/2026-12-09/Ada Quill")" = root:root ] &&
   grep -q "kept the backups in /var/backups/vocanta-apply" "$TMP/purge.log"'

echo "$passes passed, $failures failed"
if ((failures)); then
  tail -n 20 "$TMP/install.log" "$TMP/service.log" "$r/var/log/vocanta-apply/error.log" 2>/dev/null
  exit 1
fi
