#!/usr/bin/env bash
# The test command: installs what is missing, builds twice and runs every test.
#   1. g++ build, warnings as errors: unit, black-box and end-to-end tests.
#   2. clang build with AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors:
#      the same tests (end-to-end browser runs aside) and a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps
jobs=$(nproc)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DWARNINGS_AS_ERRORS=ON
cmake --build build/release -j "$jobs"

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DWARNINGS_AS_ERRORS=ON \
  -DSANITIZE=ON -DBUILD_FUZZERS=ON -DBUILD_BENCHMARKS=OFF
cmake --build build/sanitize -j "$jobs"

echo "== sanitizer build: unit, black-box and fuzz smoke tests"
ctest --test-dir build/sanitize --output-on-failure -j "$jobs" -LE e2e
echo "== release build: every test"
ctest --test-dir build/release --output-on-failure -j "$jobs"
