#!/bin/bash
# Sets up (scripts/setup.sh tests), builds and runs every test of the tools.
#   scripts/test.sh              plain build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-sanitize/
# Extra arguments after the options go to ctest (for example -L unit).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

build="$root/build"
cmake_args=()
if [ "${1:-}" = "--sanitize" ]; then
  shift
  build="$root/build-sanitize"
  cmake_args+=(-DTOOLS_SANITIZE=ON)
  # Any report fails the test that produced it.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
fi

bash "$root/scripts/setup.sh" tests
cmake -S "$root" -B "$build" -DTOOLS_BUILD_TESTS=ON "${cmake_args[@]}"
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure --timeout 300 -j "$(nproc)" "$@"
