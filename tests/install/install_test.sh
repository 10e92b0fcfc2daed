#!/usr/bin/env bash
# The library as someone else gets it: a library-only build from the source tree (no gd, and none
# of the test or benchmark dependencies), installed into a temporary prefix; programs built
# against it from outside the tree through find_package and pkg-config, shared and static; then
# the gif component, installed from the full build.
#   install_test.sh SOURCE_DIR BUILD_DIR CXX_COMPILER "EXTRA_FLAGS"
set -euo pipefail
source_dir=$1 build=$2 cxx=$3 flags=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d /tmp/issue21-install.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$*" >&2; exit 1; }

# Runs a program as a web server would, in an empty folder that must stay empty.
check_run() {
  local program=$1 query=$2 expected=$3 out
  mkdir -p "$tmp/site" && rm -rf "$tmp/site"/*
  (cd "$tmp/site" && env -i REQUEST_METHOD=GET QUERY_STRING="$query" "$program" >"$tmp/out")
  out=$(head -c 400 "$tmp/out" | tr -d '\0')
  case "$out" in
    *"$expected"*) ;;
    *) fail "unexpected output of $program: $out" ;;
  esac
  [ -z "$(ls -A "$tmp/site")" ] || fail "$program left files behind: $(ls -A "$tmp/site")"
}

# The library alone, in one configure and one build, with the packages the rest of the tree
# needs made unfindable and without the gif component.
cmake --no-warn-unused-cli -S "$source_dir" -B "$tmp/lib" -G Ninja -DVOCANTA_LIBRARY_ONLY=ON -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON >/dev/null
cmake --build "$tmp/lib" >"$tmp/build.log" || { cat "$tmp/build.log"; fail "library-only build failed"; }
cmake --install "$tmp/lib" --prefix "$tmp/prefix" >/dev/null
# No generic top-level header names reach the consumer's include path, and no internal header.
test ! -e "$tmp/prefix/include/platform" && test ! -e "$tmp/prefix/include/cgi"
test -f "$tmp/prefix/include/vocanta_cgi/cgi/cgi_request.h"
test ! -e "$tmp/prefix/include/vocanta_cgi/cgi/text_copy.h"
so=$(find "$tmp/prefix" -name 'libvocanta_cgi.so.*.*.*')
[ -n "$so" ] || fail "no shared library installed"
readelf -d "$so" | grep -q 'SONAME.*\[libvocanta_cgi\.so\.[0-9]*\]' || fail "no soname"
if readelf -d "$so" | grep NEEDED | grep -q libgd; then fail "the core library needs gd"; fi
# Only the public API is exported, in cgi:: (the trace channels among them, as their installed
# headers promise): nothing of the internals or the platform, no trace name in the global
# namespace. (A clang build also exports the standard templates it instantiates for cgi types.)
exported=$(nm -D --defined-only -C "$so" | cut -d' ' -f3-)
if grep -E 'cgi::detail|platform::|^(typeinfo for |vtable for )?(TraceLog|NullTrace|cgi_trace)\b' \
     <<<"$exported"; then
  fail "names outside the public API exported"
fi
for name in 'cgi::TraceLog::log(' 'cgi::TraceLog::TraceLog(char const\*)' 'cgi::cgi_trace$'; do
  grep -q "^$name" <<<"$exported" || fail "$name not exported"
done

# find_package, shared.
cmake -S "$here/consumer" -B "$tmp/consumer" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$tmp/prefix" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$tmp/consumer" --target hello.cgi traced >/dev/null
readelf -d "$tmp/consumer/hello.cgi" | grep -q 'NEEDED.*libvocanta_cgi\.so\.' ||
  fail "hello.cgi does not use the shared library"
check_run "$tmp/consumer/hello.cgi" "name=%3Cb%3EJo" "<p>Hello, &lt;b&gt;Jo!</p>"
rm -rf "$tmp/site"/* && (cd "$tmp/site" && "$tmp/consumer/traced")
[ "$(cat "$tmp/site"/debug_consumer_*.txt)" = ran ] || fail "the consumer's trace file is wrong"

# pkg-config, shared and static.
libdir=$(dirname "$(find "$tmp/prefix" -name vocanta-cgi.pc)")
export PKG_CONFIG_PATH=$libdir
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$here/consumer/hello.cpp" -o "$tmp/hello-pc.cgi" \
  $(pkg-config --cflags --libs vocanta-cgi) -Wl,-rpath,"$libdir/.."
check_run "$tmp/hello-pc.cgi" "name=Ann" "<p>Hello, Ann!</p>"
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$here/consumer/hello.cpp" -o "$tmp/hello-static.cgi" \
  $(pkg-config --cflags vocanta-cgi) -Wl,-Bstatic $(pkg-config --static --libs-only-l vocanta-cgi) \
  -Wl,-Bdynamic $(pkg-config --libs-only-L vocanta-cgi)
if readelf -d "$tmp/hello-static.cgi" | grep -q 'NEEDED.*libvocanta_cgi'; then
  fail "hello-static.cgi is not linked with the archive"
fi
check_run "$tmp/hello-static.cgi" "name=Bo" "<p>Hello, Bo!</p>"

# The gif component, from the full build.
cmake --install "$build" --prefix "$tmp/full" >/dev/null
rm -rf "$tmp/consumer"
cmake -S "$here/consumer" -B "$tmp/consumer" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$tmp/full" -DCMAKE_CXX_FLAGS="$flags" -DWITH_GIF=ON \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
check_run "$tmp/consumer/banner.cgi" "text=Hi" "Content-type: image/gif"
export PKG_CONFIG_PATH=$(dirname "$(find "$tmp/full" -name vocanta-cgi-gif.pc)")
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$here/consumer/banner.cpp" -o "$tmp/banner-pc.cgi" \
  $(pkg-config --cflags --libs vocanta-cgi-gif) -Wl,-rpath,"$PKG_CONFIG_PATH/.."
check_run "$tmp/banner-pc.cgi" "text=Hi" "Content-type: image/gif"
echo "library-only build installed; shared and static consumers built and ran"
