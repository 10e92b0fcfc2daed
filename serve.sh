#!/usr/bin/env bash
# The run command: installs what is missing, builds the programs, lays out the site and serves it
# with lighttpd on 127.0.0.1 in the foreground (Ctrl-C stops it).
# Usage: ./serve.sh [--port N] [--site DIR]
#   --port N   port on 127.0.0.1 (default 8080, or PORT=N in the environment)
#   --site DIR site folder (default ./site); applications filed there are kept between runs
#   BUILD_DIR=DIR in the environment builds there instead of build/release
set -euo pipefail
cd "$(dirname "$0")"

port=${PORT:-8080}
site=site
while [ $# -gt 0 ]; do
  case $1 in
    --port) port=$2; shift 2 ;;
    --port=*) port=${1#*=}; shift ;;
    --site) site=$2; shift 2 ;;
    --site=*) site=${1#*=}; shift ;;
    -h|--help) sed -n '2,7s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "$0: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

scripts/install-deps

# The same release build as the test command, so either one reuses what the other built.
build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DWARNINGS_AS_ERRORS=ON
cmake --build "$build" -j "$(nproc)" --target apply.cgi text_gif.cgi visits.cgi

serve/make-site "$build" "$site"
site=$(cd "$site" && pwd)

export SITE_DIR=$site PORT=$port LOG_DIR=$PWD/build/serve-log
mkdir -p "$LOG_DIR"
lighttpd -tt -f serve/lighttpd.conf
echo
echo "Serving $SITE_DIR"
echo "Open http://127.0.0.1:$PORT/   (logs in $LOG_DIR; Ctrl-C stops the server)"
exec lighttpd -D -f serve/lighttpd.conf
