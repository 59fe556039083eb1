#!/bin/bash
# The behaviours of the real iscsiadm that the open-iscsi service is built
# around (service_openiscsi/tests/recorded/README.md), checked in a real
# kernel.  Exit 77 (skipped) when the host lacks the kernel or the tools.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kernel-behaviours.XXXXXX")" || exit 1
trap 'rm -rf "$scratch"' EXIT

cat > "$scratch/targets" <<'TARGETS'
target iqn.2024-01.test.kernel:plain 8
target iqn.2024-01.test.kernel:chap 8 alice alicesecret1
TARGETS
bash "$here/uml-run.sh" --scratch "$scratch" --targets "$scratch/targets" --no-iscsid \
     --payload "$here/behaviours-payload.sh" --deadline 120
rc=$?
[ "$rc" = 77 ] && exit 77
echo "--- exit $rc, $(tr '\n' ' ' < "$scratch/results/host-times" 2>/dev/null)"
cat "$scratch/results/checks.log" 2>/dev/null
if [ "$rc" != 0 ]; then
  echo "--- payload stderr"; cat "$scratch/results/payload.err" 2>/dev/null
  echo "--- console (end)"; tail -n 40 "$scratch/results/console.log" 2>/dev/null
  exit 1
fi
