#!/usr/bin/env bash
# The library as someone else gets it: a library-only build from the source tree (no gd, and none
# of the test or benchmark dependencies), installed into a temporary prefix; programs built
# against it from outside the tree through find_package and pkg-config, shared and static; then
# the gif component, installed from the full build. Every call the installed headers declare links
# against the shared library; the reference comes with the one install command; pkg-config --static
# gives a static program; and, where a mount namespace can be had, a program built from the .pc
# file of a prefix that ldconfig knows starts without LD_LIBRARY_PATH or an rpath.
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
# No generic top-level header names reach the consumer's include path, and only the public headers.
test ! -e "$tmp/prefix/include/platform" && test ! -e "$tmp/prefix/include/cgi"
headers=$(cd "$tmp/prefix/include/vocanta_cgi" && find . -type f | sort | tr '\n' ' ')
[ "$headers" = "./cgi/cgi_limits.h ./cgi/cgi_request.h ./cgi/html_escape.h ./cgi/serve.h ./cgi/version.h ./trace/export.h ./trace/null_trace.h ./trace/trace_channels.h ./trace/trace_log.h " ] ||
  fail "installed headers: $headers"
# Each installed header stands on its own and on the other installed ones.
for h in $headers; do
  printf '#include <vocanta_cgi/%s>\n' "${h#./}" | "$cxx" -std=c++20 -fsyntax-only -Wall -Wextra -Werror \
    -I"$tmp/prefix/include" -x c++ - || fail "$h does not compile alone"
done
# The reference, installed by the same command when Doxygen is there: under the library's name,
# the man pages naming the installed header.
if command -v doxygen >/dev/null; then
  test -f "$tmp/prefix/share/doc/vocanta-cgi/reference/index.html" || fail "no HTML reference installed"
  grep -q 'include <vocanta_cgi/cgi/cgi_request\\&.h>' "$tmp/prefix/share/man/man3/cgi_CgiRequest.3" ||
    fail "the man page does not name the installed header"
fi
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
cmake --build "$tmp/consumer" --target hello.cgi traced every_call >/dev/null
readelf -d "$tmp/consumer/hello.cgi" | grep -q 'NEEDED.*libvocanta_cgi\.so\.' ||
  fail "hello.cgi does not use the shared library"
check_run "$tmp/consumer/hello.cgi" "name=%3Cb%3EJo" "<p>Hello, &lt;b&gt;Jo!</p>"
check_run "$tmp/consumer/every_call" "" "linked 3."
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
"$cxx" -std=c++20 $flags "$here/consumer/every_call.cpp" -o "$tmp/every-pc.cgi" \
  $(pkg-config --cflags --libs vocanta-cgi) -Wl,-rpath,"$libdir/.."
check_run "$tmp/every-pc.cgi" "" "linked 3."
# The library alone linked static, the rest shared.
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$here/consumer/hello.cpp" -o "$tmp/hello-static.cgi" \
  $(pkg-config --cflags vocanta-cgi) -Wl,-Bstatic $(pkg-config --static --libs-only-l vocanta-cgi | sed 's/-static//') \
  -Wl,-Bdynamic $(pkg-config --libs-only-L vocanta-cgi)
if readelf -d "$tmp/hello-static.cgi" | grep -q 'NEEDED.*libvocanta_cgi'; then
  fail "hello-static.cgi is not linked with the archive"
fi
check_run "$tmp/hello-static.cgi" "name=Bo" "<p>Hello, Bo!</p>"
# pkg-config --static as it is: a static program. (A sanitizer build cannot be static.)
if [ -z "$flags" ]; then
  # shellcheck disable=SC2046
  "$cxx" -std=c++20 "$here/consumer/every_call.cpp" -o "$tmp/every-static.cgi" \
    $(pkg-config --static --cflags --libs vocanta-cgi) 2>"$tmp/static.log" || { cat "$tmp/static.log"; fail "pkg-config --static does not link"; }
  ! readelf -d "$tmp/every-static.cgi" 2>/dev/null | grep -q NEEDED || fail "pkg-config --static gave a dynamic program"
  check_run "$tmp/every-static.cgi" "" "linked 3."
fi

# A system-like prefix that ldconfig knows: the program built from its .pc file, with neither an
# rpath nor LD_LIBRARY_PATH, starts. The loader's cache is this test's own, made by ldconfig from
# the machine's configuration and the prefix, and seen only in a mount namespace of the test's.
if [ -z "$flags" ] && [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  cmake --install "$tmp/lib" --prefix "$tmp/sys" >/dev/null
  syslib=$(dirname "$(find "$tmp/sys" -name 'libvocanta_cgi.so.*.*.*')")
  # shellcheck disable=SC2046
  PKG_CONFIG_PATH=$syslib/pkgconfig "$cxx" -std=c++20 "$here/consumer/hello.cpp" -o "$tmp/hello-sys.cgi" \
    $(PKG_CONFIG_PATH=$syslib/pkgconfig pkg-config --cflags --libs vocanta-cgi)
  if readelf -d "$tmp/hello-sys.cgi" | grep -qE 'RPATH|RUNPATH'; then fail "hello-sys.cgi has an rpath"; fi
  (cd "$tmp" && env -i REQUEST_METHOD=GET "$tmp/hello-sys.cgi" >/dev/null 2>&1) &&
    fail "hello-sys.cgi found the library before ldconfig knew the prefix"
  printf 'include /etc/ld.so.conf\n%s\n' "$syslib" >"$tmp/ld.so.conf"
  ldconfig -f "$tmp/ld.so.conf" -C "$tmp/ld.so.cache"
  out=$(cd "$tmp" && unshare -m sh -c 'mount --bind "$1" /etc/ld.so.cache && exec env -i REQUEST_METHOD=GET QUERY_STRING=name=Cy "$2"' \
    sh "$tmp/ld.so.cache" "$tmp/hello-sys.cgi") || fail "hello-sys.cgi did not start after ldconfig: $out"
  case $out in *"<p>Hello, Cy!</p>"*) ;; *) fail "unexpected output of hello-sys.cgi: $out" ;; esac
else
  echo "note: no mount namespace here; the ldconfig check did not run"
fi

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
