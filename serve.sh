#!/usr/bin/env bash
# The run command: installs what is missing, builds the programs, lays out the site and serves it
# with lighttpd on 127.0.0.1 in the foreground (Ctrl-C stops it).
# Usage: ./serve.sh [--port N] [--site DIR] [--staff FILE]
#   --port N      port on 127.0.0.1 (default 8080, or PORT=N in the environment)
#   --site DIR    site folder (default ./site); applications filed there are kept between runs
#   --staff FILE  the staff accounts, an htpasswd file outside the site (default ./staff.htpasswd,
#                 or STAFF_PASSWORDS=FILE); when missing it is made with one account "staff"
#                 and a random password, printed once
#   BUILD_DIR=DIR in the environment builds there instead of build/release
#   Run as root, the server runs as SERVER_USER (default apply-site, created when missing), which
#   owns the store.
set -euo pipefail
cd "$(dirname "$0")"

port=${PORT:-8080}
site=site
staff=${STAFF_PASSWORDS:-staff.htpasswd}
while [ $# -gt 0 ]; do
  case $1 in
    --port) port=$2; shift 2 ;;
    --port=*) port=${1#*=}; shift ;;
    --site) site=$2; shift 2 ;;
    --site=*) site=${1#*=}; shift ;;
    --staff) staff=$2; shift 2 ;;
    --staff=*) staff=${1#*=}; shift ;;
    -h|--help) sed -n '2,13s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "$0: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

scripts/install-deps

# The same release build as the test command, so either one reuses what the other built.
build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DWARNINGS_AS_ERRORS=ON
cmake --build "$build" -j "$(nproc)" --target apply.cgi text_gif.cgi visits.cgi upload.cgi

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

export SITE_DIR=$site PORT=$port LOG_DIR=$PWD/build/serve-log STAFF_PASSWORDS=$staff
mkdir -p "$LOG_DIR"
SERVER_USER=$(serve/server-user "$SITE_DIR" "$LOG_DIR" "$STAFF_PASSWORDS")
export SERVER_USER
lighttpd -tt -f serve/lighttpd.conf
echo
if [ -n "$created" ]; then
  echo "Created a staff account. User: staff   Password: $password"
  echo "  (shown only now; $staff keeps its hash)"
  echo "  Change it: htpasswd -B $staff staff    Add staff: htpasswd -B $staff NAME"
  echo
fi
echo "Serving $SITE_DIR${SERVER_USER:+ as the user $SERVER_USER}; the stored applications ask for a staff login"
echo "Open http://127.0.0.1:$PORT/   (logs in $LOG_DIR; Ctrl-C stops the server)"
exec lighttpd -D -f serve/lighttpd.conf
