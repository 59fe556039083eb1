#!/bin/bash
# The harness's own bound: a kernel that never halts is killed at the
# deadline with every host process it made, and the run says so (exit 124).
# Also: a missing kernel makes a run report itself skipped (exit 77).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kernel-deadline.XXXXXX")" || exit 1
trap 'rm -rf "$scratch"' EXIT

UML_KERNEL=/nonexistent/linux bash "$here/uml-run.sh" --scratch "$scratch/none" \
  --payload "$here/deadline-payload.sh" > /dev/null
rc=$?
[ "$rc" = 77 ] || { echo "FAIL a missing kernel gave exit $rc, not 77"; exit 1; }

start=$(date +%s)
bash "$here/uml-run.sh" --scratch "$scratch" --payload "$here/deadline-payload.sh" --deadline 12 \
  2> "$scratch/harness.err"
rc=$?
elapsed=$(($(date +%s) - start))
[ "$rc" = 77 ] && exit 77
failed=0
echo "exit $rc after ${elapsed}s: $(tr '\n' ' ' < "$scratch/results/host-times")"
[ "$rc" = 124 ] || { echo "FAIL exit $rc, not 124"; cat "$scratch/harness.err"; failed=1; }
[ -f "$scratch/results/stopped" ] || { echo "FAIL the payload did not run"; failed=1; }
[ "$elapsed" -lt 30 ] || { echo "FAIL took ${elapsed}s for a deadline of 12s"; failed=1; }
grep -q '^outcome timed-out$' "$scratch/results/host-times" || { echo "FAIL outcome not timed-out"; failed=1; }
# Every host process of the kernel carries the scratch path in its command line.
for proc in /proc/[0-9]*; do
  if tr '\0' ' ' < "$proc/cmdline" 2>/dev/null | grep -q "uml_scratch=$scratch "; then
    echo "FAIL process ${proc#/proc/} of the kernel is still there"
    failed=1
  fi
done
exit "$failed"
