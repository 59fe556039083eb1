#!/bin/bash
# Builds every fuzz target with clang (libFuzzer, AddressSanitizer, UBSan) in
# build-fuzz/ and runs each for a bounded time from its corpus in
# fuzz/corpus/NAME/.  Any finding (crash, sanitizer report, leak, timeout,
# out-of-memory) fails the step; the input is left in build-fuzz/findings/.
#   FUZZ_SECONDS   time per target (default 60)
#   FUZZ_TARGETS   the targets to run (default: every one built)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-60}"

bash "$root/scripts/setup.sh" main hardening
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DTOOLS_FUZZ=ON \
      -DTOOLS_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

targets="${FUZZ_TARGETS:-}"
if [ -z "$targets" ]; then
  targets=$(sed -n 's/^  *fuzz_add_target(NAME \([a-z_]*\).*/\1/p' "$root"/fuzz/CMakeLists.txt)
fi
built=()
for target in $targets; do
  # A target whose code under test is not in this tree is not defined.
  if cmake --build "$build" -j 2 --target "$target" >"$build/build-$target.log" 2>&1; then
    built+=("$target")
  elif grep -q "No rule to make target\|unknown target" "$build/build-$target.log"; then
    echo "fuzz: $target is not part of this tree, skipped"
  else
    cat "$build/build-$target.log"
    exit 1
  fi
done
if [ ${#built[@]} -eq 0 ]; then
  echo "fuzz: SKIPPED, none of the code under test is in this tree"
  exit 0
fi

findings="$build/findings"
rm -rf "$findings"
mkdir -p "$findings"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
failed=0
for target in "${built[@]}"; do
  corpus="$root/fuzz/corpus/$target"
  work="$build/corpus-$target"      # new inputs go here, never into the repository
  rm -rf "$work"
  mkdir -p "$work"
  echo "=== fuzz: $target for ${seconds}s"
  # -timeout: one input taking more than 10 s is a hang; -rss_limit_mb
  # bounds the memory of the whole run.
  if ! timeout $((seconds + 120)) "$build/fuzz/$target" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/$target-" "$work" "$corpus" >"$build/fuzz-$target.log" 2>&1; then
    tail -n 60 "$build/fuzz-$target.log"
    echo "fuzz: $target FOUND A PROBLEM; inputs in $findings:" >&2
    ls -l "$findings" >&2 || true
    failed=1
  else
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$build/fuzz-$target.log" || true
  fi
done
if [ "$failed" != 0 ]; then
  exit 1
fi
echo "fuzz: ${#built[@]} targets ran without findings"
