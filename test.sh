#!/usr/bin/env bash
# The test command: installs what is missing, builds twice and runs every test.
#   1. clang build with AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors: the
#      tests (end-to-end runs aside) and a short run of every fuzz target.
#   2. g++ release build, warnings as errors (the build ./serve.sh serves): every test.
# Both stages run even when the first fails; the last lines say what each passed and failed, and
# the exit status is non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")"

scripts/install-deps || exit
jobs=$(nproc)
log=build/test-log
mkdir -p "$log"
summary=()
failed=""

# run_stage NAME BUILD-COMMAND -- CTEST-ARGUMENTS...: builds, runs the tests, notes one line.
run_stage() {
  local name=$1; shift
  local build_command=()
  while [ "$1" != -- ]; do build_command+=("$1"); shift; done
  shift
  echo "== $name: building"
  if ! "${build_command[@]}"; then
    summary+=("$name: the build failed, no test ran")
    failed=yes
    return
  fi
  echo "== $name: testing"
  ctest "$@" --output-on-failure -j "$jobs" 2>&1 | tee "$log/$name.txt"
  local status=${PIPESTATUS[0]}
  # ctest's own closing count: "NN% tests passed, F tests failed out of T".
  local counts total fails skipped
  counts=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log/$name.txt" | tail -n 1)
  if [ -n "$counts" ]; then
    total=${counts##* }
    fails=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$counts")
    # ctest counts a skipped test among the passed ones.
    skipped=$(sed -n '/^The following tests did not run:/,/^$/p' "$log/$name.txt" | grep -c '(Skipped)' || true)
    summary+=("$name: $((total - fails - skipped)) passed, $fails failed, $skipped skipped")
  else
    summary+=("$name: no test ran (ctest exited with $status)")
  fi
  [ "$status" -eq 0 ] && [ -n "$counts" ] || failed=yes
}

sanitize_build() {
  cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DWARNINGS_AS_ERRORS=ON \
    -DSANITIZE=ON -DBUILD_FUZZERS=ON -DBUILD_BENCHMARKS=OFF &&
    cmake --build build/sanitize -j "$jobs"
}

run_stage sanitize sanitize_build -- --test-dir build/sanitize -LE e2e
# Configured again here: what the tests alone need (the reference's generator) may have arrived
# since ./serve.sh set the folder up.
run_stage release env CONFIGURE=always scripts/build-release -- --test-dir build/release

echo "== summary (each stage's output in $log/)"
printf '%s\n' "${summary[@]}"
[ -z "$failed" ]
