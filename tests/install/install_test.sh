#!/usr/bin/env bash
# Installs the built library into a temporary prefix, then builds and runs two small programs
# against it from outside the source tree: once through find_package, once through pkg-config.
#   install_test.sh BUILD_DIR CXX_COMPILER "EXTRA_FLAGS"
set -euo pipefail
build=$1 cxx=$2 flags=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
# No generic top-level header names reach the consumer's include path.
test ! -e "$tmp/prefix/include/platform" && test ! -e "$tmp/prefix/include/cgi"
test -f "$tmp/prefix/include/vocanta_cgi/cgi/cgi_request.h"

# Runs a program as a web server would, in an empty folder that must stay empty.
check_run() {
  local program=$1 query=$2 expected=$3 out
  mkdir -p "$tmp/site" && rm -rf "$tmp/site"/*
  (cd "$tmp/site" && env -i REQUEST_METHOD=GET QUERY_STRING="$query" "$program" >"$tmp/out")
  out=$(head -c 400 "$tmp/out" | tr -d '\0')
  case "$out" in
    *"$expected"*) ;;
    *) echo "unexpected output of $program: $out" >&2; exit 1 ;;
  esac
  if [ -n "$(ls -A "$tmp/site")" ]; then
    echo "$program left files behind: $(ls -A "$tmp/site")" >&2; exit 1
  fi
}

# find_package
cmake -S "$here/consumer" -B "$tmp/consumer" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$tmp/prefix" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
check_run "$tmp/consumer/hello.cgi" "name=%3Cb%3EJo" "<p>Hello, &lt;b&gt;Jo!</p>"
check_run "$tmp/consumer/banner.cgi" "text=Hi" "Content-type: image/gif"

# pkg-config
libdir=$(dirname "$(find "$tmp/prefix" -name vocanta-cgi.pc)")
export PKG_CONFIG_PATH=$libdir
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$here/consumer/hello.cpp" -o "$tmp/hello-pc.cgi" \
  $(pkg-config --cflags --libs vocanta-cgi)
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$here/consumer/banner.cpp" -o "$tmp/banner-pc.cgi" \
  $(pkg-config --cflags --libs vocanta-cgi-gif)
check_run "$tmp/hello-pc.cgi" "name=Ann" "<p>Hello, Ann!</p>"
check_run "$tmp/banner-pc.cgi" "text=Hi" "Content-type: image/gif"
echo "installed library: find_package and pkg-config consumers built and ran"
