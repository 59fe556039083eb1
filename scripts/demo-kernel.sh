#!/bin/bash
# The main job for real, on any machine: installs what it needs (the main
# job's packages and the kernel list: user-mode-linux, open-iscsi, tgt,
# kmod, iproute2), builds targetlogin and ovelin without their tests in
# build-demo/, and boots a real Linux kernel as an ordinary process
# (user-mode-linux, tests/kernel/uml-run.sh) with the host's tree as its
# root.  Inside, tgtd serves two targets (the second with CHAP), iscsid
# runs, and targetlogin drives the kernel's own initiator, open-iscsi: the
# kernel gets a disk of each target, which the demo lists (lsblk), sizes and
# reads.  Bounded (3 minutes at most); nothing of the host changes and
# nothing is left behind (the run's folder is removed, the kernel and all it
# started end with it).  No root needed but for the installation.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-demo"

bash "$root/scripts/setup.sh" main kernel
cmake -S "$root" -B "$build" -DTOOLS_LINUX_SERVICE=ON -DTOOLS_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target targetlogin ovelin > /dev/null

scratch="$(mktemp -d "${TMPDIR:-/tmp}/demo-kernel.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
secret="demo-chap-secret"
# targetlogin's CHAP user name is the target's own name.
cat > "$scratch/targets" <<TARGETS
target iqn.2026-01.test.demo:plain 64
target iqn.2026-01.test.demo:secured 32 iqn.2026-01.test.demo:secured $secret
TARGETS

echo "== booting a user-mode Linux kernel with tgtd and iscsid inside (about 20 s)"
set +e
bash "$root/tests/kernel/uml-run.sh" --scratch "$scratch" --targets "$scratch/targets" \
     --payload "$root/scripts/demo-kernel-payload.sh" \
     --word "tl=$build/targetlogin/targetlogin" --word "ov=$build/nodequery/ovelin" \
     --word "secret=$secret" --deadline 180
rc=$?
set -e
cat "$scratch/results/payload.out" 2> /dev/null || true
if [ "$rc" != 0 ]; then
  echo "== the run ended with $rc"
  [ "$rc" = 77 ] && echo "   (something it needs is missing; see above)"
  tail -n 20 "$scratch/results/console.log" 2> /dev/null || true
  exit 1
fi
echo "== the kernel halted; its disks were the targets' files, now removed"
