#!/usr/bin/env bash
# The run command: installs what is missing, builds the programs, lays out the site and serves it
# with lighttpd over HTTPS in the foreground (Ctrl-C stops it); plain HTTP only redirects to HTTPS.
# Usage: ./serve.sh [--bind ADDR] [--port N] [--https-port N] [--cert FILE --key FILE] [--site DIR] [--staff FILE]
#   --bind ADDR      the address to listen on (default 127.0.0.1; 0.0.0.0 for every IPv4 address)
#   --https-port N   the HTTPS port (default 8443, or HTTPS_PORT=N in the environment)
#   --port N         the plain HTTP port that redirects to HTTPS (default 8080, or PORT=N)
#   --cert FILE      the certificate chain (PEM), e.g. certbot's /etc/letsencrypt/live/HOST/fullchain.pem,
#   --key FILE       and its key (privkey.pem). Without them the site's own authority (tls/ca.pem,
#                    made on the first run) signs a certificate for this host and ADDR: trust
#                    tls/ca.pem in the browser (printed below)
#   --site DIR       site folder (default ./site); applications filed there are kept between runs
#   --staff FILE     the staff accounts, an htpasswd file outside the site (default ./staff.htpasswd,
#                    or STAFF_PASSWORDS=FILE); when missing it is made with one account "staff"
#                    and a random password, printed once; an existing file keeps its owner and mode
#   BUILD_DIR=DIR in the environment builds there instead of build/release
#   Run as root, the server runs as SERVER_USER (default apply-site, created when missing), which
#   owns the store and reads the staff file by group. The example programs are served too (this is
#   the developer's site; the Debian package installs the production site without them).
set -euo pipefail
cd "$(dirname "$0")"

bind=${BIND:-127.0.0.1}
port=${PORT:-8080}
https_port=${HTTPS_PORT:-8443}
cert="" key=""
site=site
staff=${STAFF_PASSWORDS:-staff.htpasswd}
while [ $# -gt 0 ]; do
  case $1 in
    --bind|--port|--https-port|--cert|--key|--site|--staff)
      [ $# -ge 2 ] || { echo "$0: $1 needs a value" >&2; exit 2; }
      set -- "$1=$2" "${@:3}" ;;
    --bind=*) bind=${1#*=}; shift ;;
    --port=*) port=${1#*=}; shift ;;
    --https-port=*) https_port=${1#*=}; shift ;;
    --cert=*) cert=${1#*=}; shift ;;
    --key=*) key=${1#*=}; shift ;;
    --site=*) site=${1#*=}; shift ;;
    --staff=*) staff=${1#*=}; shift ;;
    -h|--help) sed -n '2,22s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "$0: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then
  echo "$0: --cert and --key go together" >&2; exit 2
fi

scripts/install-deps serve

# The release build that ./test.sh makes too (scripts/build-release), so either one reuses what the
# other built: the form, the staff console, the admin command and the examples.
export BUILD_DIR=${BUILD_DIR:-build/release}
build=$BUILD_DIR
scripts/build-release apply.cgi staff.cgi apply-admin text_gif.cgi visits.cgi upload.cgi

serve/make-site "$build" "$site"
site=$(cd "$site" && pwd)

staff=$(mkdir -p "$(dirname "$staff")" && cd "$(dirname "$staff")" && pwd)/$(basename "$staff")
case $staff/ in
  "$site"/*) echo "$0: the staff password file $staff must lie outside the site" >&2; exit 2 ;;
esac
created=""
if [ ! -s "$staff" ]; then
  password=$(serve/add-staff "$staff" staff)
  created=yes
fi

if [ -z "$cert" ]; then
  names=("$(hostname -f 2>/dev/null || hostname)" localhost 127.0.0.1 ::1)
  case $bind in 0.0.0.0|::|127.0.0.1) ;; *) names+=("$bind") ;; esac
  serve/make-cert tls "${names[@]}"
  cert=$PWD/tls/server.pem key=$PWD/tls/server.key
fi

export SITE_DIR=$site BIND=$bind PORT=$port HTTPS_PORT=$https_port LOG_DIR=$PWD/build/serve-log \
  STAFF_PASSWORDS=$staff TLS_CERT=$(realpath "$cert") TLS_KEY=$(realpath "$key")
# The staff console's audit log and form secret, outside the site.
export APPLY_AUDIT_LOG=${APPLY_AUDIT_LOG:-$LOG_DIR/audit.log} APPLY_CONSOLE_SECRET=${APPLY_CONSOLE_SECRET:-$LOG_DIR/console.secret}
# The language of the console's name sort ("de", "sv", ...).
export APPLY_COLLATION_LOCALE=${APPLY_COLLATION_LOCALE:-en}
mkdir -p "$LOG_DIR"
SERVER_USER=$(serve/server-user "$SITE_DIR" "$LOG_DIR" "$STAFF_PASSWORDS")
export SERVER_USER
lighttpd -tt -f serve/lighttpd-https.conf
host=$bind
case $host in 0.0.0.0|::) host=$(hostname -f 2>/dev/null || hostname) ;; esac
echo
if [ -n "$created" ]; then
  echo "Created a staff account. User: staff   Password: $password"
  echo "  (shown only now; $staff keeps its hash)"
  echo "  Change it: htpasswd -B -C 5 $staff staff    Add staff: htpasswd -B -C 5 $staff NAME"
  echo
fi
if [ "$TLS_CERT" = "$PWD/tls/server.pem" ]; then
  echo "The certificate is signed by this site's own authority, $PWD/tls/ca.pem. Trust it once:"
  echo "  curl --cacert tls/ca.pem ...; Firefox: Settings > Certificates > Authorities > Import;"
  echo "  Chromium: Settings > Security > Manage certificates > Authorities > Import;"
  echo "  this machine: cp tls/ca.pem /usr/local/share/ca-certificates/vocanta-site.crt && update-ca-certificates"
  echo
fi
# Retention's periods (APPLY_RETENTION_DAYS, APPLY_RETENTION_CLOSED_DAYS) reach the console from
# this environment like every APPLY_* setting; this script runs no retention itself, and the
# console's figures say so unless APPLY_RETENTION_RUN names the run set up elsewhere (cron).
if [ -z "${APPLY_RETENTION_RUN:-}" ] && [ -n "${APPLY_RETENTION_DAYS:-}${APPLY_RETENTION_CLOSED_DAYS:-}" ]; then
  echo "No retention run is set up here: run \"apply-admin --site $SITE_DIR retain\" daily (cron) with the same"
  echo "  APPLY_RETENTION_* settings, and set APPLY_RETENTION_RUN=daily to say so in the console's figures"
  echo
fi
echo "Serving $SITE_DIR${SERVER_USER:+ as the user $SERVER_USER}; the stored applications ask for a staff login"
echo "Open https://$host:$HTTPS_PORT/   (http://$host:$PORT/ redirects there; logs in $LOG_DIR; Ctrl-C stops the server)"
# News mail for the staff who ask for it on the console's News mail page: apply-admin news every 5
# minutes while the site is served (the package's timer does this there), through this machine's
# sendmail; what it says goes to $LOG_DIR/news.log. It stops with the server.
export APPLY_CONSOLE_URL=${APPLY_CONSOLE_URL:-https://$host:$HTTPS_PORT/staff.cgi}
admin=$(realpath "$build/app/admin/apply-admin")
news_loop() {
  local sleeper=""
  trap '[ -z "$sleeper" ] || kill "$sleeper" 2>/dev/null; exit 0' INT TERM
  while :; do
    if [ -n "$SERVER_USER" ]; then runuser -u "$SERVER_USER" -- "$admin" --site "$SITE_DIR" news
    else "$admin" --site "$SITE_DIR" news; fi >>"$LOG_DIR/news.log" 2>&1 || true
    sleep 300 & sleeper=$!
    wait "$sleeper" || true
  done
}
news_loop </dev/null &
news_pid=$!
trap 'kill "$news_pid" 2>/dev/null || true' EXIT
# The server beside it; Ctrl-C or a TERM to this script stops the server, and then the loop.
lighttpd -D -f serve/lighttpd-https.conf &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true' INT TERM
status=0
while kill -0 "$server_pid" 2>/dev/null; do wait "$server_pid" || status=$?; done
exit "$status"
