#!/bin/bash
# Speed benchmark inside a real Linux kernel (a script, not a test):
# targetlogin over open-iscsi against the plain iscsiadm sequence that does
# the same job (one discovery with -o new, then node.startup automatic and a
# login for each target), for 1 and 4 targets of a tgtd in the kernel.
#
# How it measures (bench/kernel-pair-payload.sh does the inside):
#   - one boot of user-mode-linux (tests/kernel/uml-run.sh) per count of
#     targets, the kernel pinned to one processor of the host (--cpu);
#   - every run starts from a clean initiator: before each one, untimed,
#     every session is logged out and every node and discovery record
#     deleted, so both commands do a first connection: a discovery, the
#     records, the logins and their disks;
#   - one warm-up run of each, then --runs rounds, the commands alternating
#     (first to last, then last to first); a run's time is taken around it
#     with the monotonic clock (date +%s%N) by the same shell for both;
#   - peak memory is GNU time's %M of each command, the largest of its
#     process tree (iscsiadm for both: targetlogin runs it as a child).
# bench/speed_report.py prints the medians, min-max, peaks and the ratio
# against its aim (targetlogin at most 1.5 times the plain sequence).
#
#   bash bench/kernel-pair.sh [--runs N] [--cpu N] [--counts "A B"] [--build DIR]
#     --runs N        counted rounds (default 10)
#     --cpu N         the host processor of the kernel (default 1)
#     --counts "A B"  numbers of targets (default "1 4")
#     --build DIR     the build folder whose targetlogin is measured (default:
#                     configure and build build-bench-kernel/, Release
#                     without tests)
# Needs the kernel list (.ci/packages/kernel.txt) and GNU time; no root.
# Exit code 0 once everything was measured, whether the aim is met or not.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

runs=10
cpu=1
counts="1 4"
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="${2:?}"; shift 2 ;;
    --cpu) cpu="${2:?}"; shift 2 ;;
    --counts) counts="${2:?}"; shift 2 ;;
    --build) build="$(cd "${2:?}" && pwd)"; shift 2 ;;
    *) sed -n '/^#   bash bench\/kernel-pair.sh/,/^# Exit code/p' "$0" | sed 's/^# \{0,1\}//' >&2
       exit 2 ;;
  esac
done
for number in "$runs" "$cpu" $counts; do
  [[ "$number" =~ ^[0-9]+$ ]] || { echo "bench: $number is not a number" >&2; exit 2; }
done
[ "$runs" -ge 1 ] || { echo "bench: --runs needs 1 or more" >&2; exit 2; }
taskset -c "$cpu" true 2> /dev/null || { echo "bench: no processor $cpu here" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bench: GNU time is missing (bash scripts/setup.sh bench)" >&2; exit 1; }

if [ -z "$build" ]; then
  build="$root/build-bench-kernel"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOOLS_BUILD_TESTS=OFF > /dev/null
  cmake --build "$build" -j 2 --target targetlogin > /dev/null
fi
targetlogin="$build/targetlogin/targetlogin"
[ -x "$targetlogin" ] || { echo "bench: $targetlogin is missing" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/iscsi-tools-bench-kernel.XXXXXX")"
trap 'rm -rf "$work"' EXIT
: > "$work/summary"
for count in $counts; do
  scratch="$work/kernel-$count"
  mkdir -p "$scratch"
  for i in $(seq 1 "$count"); do
    echo "target iqn.2024-01.test.bench:t$i 1"
  done > "$scratch/targets"
  # About 3 s a run and 1 s a reset in the kernel, two commands a round.
  deadline=$(( 60 + (runs + 1) * 2 * (4 + 2 * count) ))
  set +e
  taskset -c "$cpu" bash "$root/tests/kernel/uml-run.sh" --scratch "$scratch" \
      --targets "$scratch/targets" --payload "$root/bench/kernel-pair-payload.sh" \
      --word "tl=$targetlogin" --word "runs=$runs" --deadline "$deadline"
  rc=$?
  set -e
  results="$scratch/results"
  if [ "$rc" != 0 ]; then
    echo "bench: the kernel run for $count targets ended with $rc" >&2
    cat "$results/payload.err" "$results/payload.out" >&2 2> /dev/null || true
    exit 1
  fi
  python3 "$root/bench/speed_report.py" "$count targets, in the kernel" "$results/times" \
      "$results/peaks" "$work/summary" "targetlogin" "iscsiadm sequence" \
      --ratio "time:targetlogin:iscsiadm sequence:1.5" \
      --ratio "memory:targetlogin:iscsiadm sequence"
done
echo "== aims"
cat "$work/summary"
