#!/usr/bin/env bash
# The Debian package, end to end: built from a copy of the source tree with dpkg-buildpackage,
# checked by lintian (no errors), installed into a throw-away Debian bookworm root (a cached
# debootstrap under an overlay, in mount, PID and network namespaces of its own: no systemd there,
# so the service is started by its unit's ExecStart line with the unit's environment), an
# application submitted over HTTPS, the package upgraded to a rebuilt one (same programs, next
# version) and the application found again; then removal keeps the data and purge deletes it.
# Usage: tests/package/package-test.sh   (as root)
set -eEuo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
[ "$(id -u)" = 0 ] || { echo "package-test: needs root" >&2; exit 2; }
# Exit status 2 says "skipped" (not root): a command that fails with 2 must not say so too.
trap 'status=$?; echo "package-test: line $LINENO failed with exit status $status" >&2; exit 1' ERR

if [ -z "${IN_PACKAGE_NAMESPACE:-}" ]; then
  tmp=$(mktemp -d /var/tmp/package-test-i20.XXXXXX)
  trap 'rm -rf "$tmp"' EXIT
  # Build from a copy: dpkg-buildpackage writes its results beside the source folder.
  mkdir "$tmp/src"
  git -C "$repo" ls-files -z --cached --others --exclude-standard |
    (cd "$repo" && xargs -0 cp --parents -t "$tmp/src" 2>/dev/null) || true
  (cd "$tmp/src" && DEB_BUILD_OPTIONS="parallel=$(nproc) nocheck" \
    dpkg-buildpackage -b -uc -us >"$tmp/build.log" 2>&1) || { tail -n 30 "$tmp/build.log"; exit 1; }
  deb=$(ls "$tmp"/vocanta-apply_*.deb)
  echo "built $(basename "$deb")"
  lintian --fail-on error "$deb" | tee "$tmp/lintian.log" || { echo "FAIL: lintian reports errors"; exit 1; }
  echo "ok: lintian reports no errors"
  # The rebuilt package: the same tree, version +1.
  dpkg-deb -R "$deb" "$tmp/next"
  sed -i 's/^Version: .*/Version: 1.0.1/' "$tmp/next/DEBIAN/control"
  dpkg-deb -b "$tmp/next" "$tmp/next.deb" >/dev/null
  depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/([^)]*)//; s/|.*//; s/ //g')
  root=$("$here/bookworm-root" $depends curl ca-certificates)
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

# start_service: what the unit's ExecStartPre and ExecStart run, with its environment; prints the PID.
unit=/lib/systemd/system/vocanta-apply.service
start_service() {
  local env pre start
  env=$(sed -n 's/^Environment=//p' "$r$unit")
  pre=$(sed -n 's/^ExecStartPre=//p' "$r$unit")
  start=$(sed -n 's/^ExecStart=//p' "$r$unit")
  chroot "$r" /bin/sh -c "set -a; . /etc/vocanta-apply/site.env; export $env; ulimit -n 16384; $pre >/dev/null &&
    exec $start" </dev/null >>"$TMP/service.log" 2>&1 &
  local pid=$!
  for _ in $(seq 50); do
    in_root curl -s -o /dev/null --cacert /etc/vocanta-apply/tls/ca.pem https://localhost/apply.cgi && break
    sleep 0.2
  done
  echo "$pid"
}
stop_service() { kill "$1"; wait "$1" 2>/dev/null || true; }

in_root dpkg -i /tmp/first.deb >"$TMP/install.log" 2>&1 || { cat "$TMP/install.log"; exit 1; }
check "installed: the service's user, the staff account file (root:vocanta-apply 0640), the site" \
  '[ "$(in_root stat -c "%U:%G %a" /etc/vocanta-apply/staff.htpasswd)" = "root:vocanta-apply 640" ] &&
   [ -L "$r/var/lib/vocanta-apply/site/apply.cgi" ] && [ ! -e "$r/var/lib/vocanta-apply/site/visits.cgi" ]'
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
   grep -q "server started" "$TMP/service.log" && [ ! -e "$r/var/log/vocanta-apply" ]'
stop_service "$pid"

in_root dpkg -i /tmp/next.deb >>"$TMP/install.log" 2>&1 || { cat "$TMP/install.log"; exit 1; }
pid=$(start_service)
check "after the upgrade to 1.0.1: the application is still there, the password unchanged" \
  '[ "$(in_root dpkg-query -W -f="\${Version}" vocanta-apply)" = 1.0.1 ] &&
   [ "$(curl_in -u "staff:$password" "https://localhost/people/Ada%20Quill/cv.txt")" = "resume bytes" ]'
stop_service "$pid"

in_root dpkg -r vocanta-apply >>"$TMP/install.log" 2>&1
check "removal keeps the store and the staff accounts" \
  '[ -f "$r/var/lib/vocanta-apply/site/people/Ada Quill/index.html" ] && [ -f "$r/etc/vocanta-apply/staff.htpasswd" ]'
in_root dpkg -P vocanta-apply >>"$TMP/install.log" 2>&1
check "purge deletes them" '[ ! -e "$r/var/lib/vocanta-apply" ] && [ ! -e "$r/etc/vocanta-apply" ]'

echo "$passes passed, $failures failed"
if ((failures)); then
  tail -n 20 "$TMP/install.log" "$TMP/service.log" "$r/var/log/vocanta-apply/error.log" 2>/dev/null
  exit 1
fi
