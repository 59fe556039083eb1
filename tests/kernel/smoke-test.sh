#!/bin/bash
# Two boots of a real kernel over one private /etc/iscsi: the first logs in
# with plain iscsiadm and writes the disk, the second restores the login the
# way a distribution's boot unit does (iscsiadm -m node --loginall=automatic)
# and reads back what the first wrote.  Exit 77 (skipped) when the host
# lacks the kernel or the tools.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kernel-smoke.XXXXXX")" || exit 1
trap 'rm -rf "$scratch"' EXIT

cat > "$scratch/targets" <<'EOF'
target iqn.2024-01.test.kernel:plain 16
target iqn.2024-01.test.kernel:spare 8
EOF
token="smoke-$$-$RANDOM"

boot() {  # phase
  bash "$here/uml-run.sh" --scratch "$scratch" --targets "$scratch/targets" \
       --payload "$here/smoke-payload.sh" --results "$scratch/$1" \
       --word "phase=$1" --word "token=$token" --deadline 90
  local rc=$?
  [ "$rc" = 77 ] && exit 77
  echo "--- boot $1: exit $rc, $(tr '\n' ' ' < "$scratch/$1/host-times" 2>/dev/null)"
  echo "    seconds since boot: $(cat "$scratch/$1/steps.log" "$scratch/$1/payload-times.log" 2>/dev/null | tr '\n' ' ')"
  cat "$scratch/$1/checks.log" 2>/dev/null
  if [ "$rc" != 0 ]; then
    echo "--- payload stderr"; cat "$scratch/$1/payload.err" 2>/dev/null
    echo "--- console (end)"; tail -n 40 "$scratch/$1/console.log" 2>/dev/null
    exit 1
  fi
}

boot first
# What the kernel wrote reached the target's backing file on the host.
on_disk="$(dd if="$scratch/disks/t1.img" bs=512 skip=2048 count=1 2>/dev/null | tr -d '\0')"
if [ "$on_disk" != "$token" ]; then
  echo "FAIL the token is not in the target's backing file (found '$on_disk')"
  exit 1
fi
# The node records are in the private folder, with the persistent login.
grep -q '^node.startup = automatic' \
  "$scratch/etc-iscsi/nodes/iqn.2024-01.test.kernel:plain/127.0.0.1,3260,1/default" || {
  echo "FAIL no automatic node record in the private /etc/iscsi"; exit 1; }
boot second
echo "smoke: passed"
