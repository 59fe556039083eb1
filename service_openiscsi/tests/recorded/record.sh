#!/bin/bash
# Records the outputs of the iscsiadm calls an open-iscsi service makes
# (README.md): three boots of the user-mode kernel (tests/kernel/uml-run.sh)
# and, on a host without the iSCSI transport, the same tools outside it.
#   record.sh [OUTDIR]      default: this folder
# RECORD_PHASES picks some of "main ipv6 noiscsid host" (default: all).
# Takes about two minutes (a silent portal alone costs iscsiadm 30 s).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
out="${1:-$here}"
mkdir -p "$out" || exit 1
scratch="$(mktemp -d "${TMPDIR:-/tmp}/iscsiadm-record.XXXXXX")" || exit 1
trap 'rm -rf "$scratch"' EXIT

cat > "$scratch/targets" <<'TARGETS'
target iqn.2024-01.test.rec:plain 16
target iqn.2024-01.test.rec:chap 8 alice alicesecret1
target iqn.2024-01.test.rec:gone 8
TARGETS

phases=" ${RECORD_PHASES:-main ipv6 noiscsid host} "
failed=0
for phase in main ipv6 noiscsid; do
  [[ "$phases" == *" $phase "* ]] || continue
  options=()
  [ "$phase" = ipv6 ] && options=(--ipv6)
  [ "$phase" = noiscsid ] && options=(--no-iscsid)
  bash "$root/tests/kernel/uml-run.sh" --scratch "$scratch/$phase" --targets "$scratch/targets" \
       --payload "$here/record-payload.sh" --word "phase=$phase" --deadline 300 "${options[@]}"
  rc=$?
  [ "$rc" = 77 ] && { echo "record: skipped, the kernel cannot run here"; exit 77; }
  echo "record: phase $phase: exit $rc, $(tr '\n' ' ' < "$scratch/$phase/results/host-times")"
  if [ "$rc" != 0 ]; then failed=1; continue; fi
  folder="$out/kernel-$phase"
  [ "$phase" = main ] && folder="$out/kernel"
  rm -rf "$folder"
  cp -r "$scratch/$phase/results/recorded" "$folder"
done

# Outside the kernel: this host's own iscsiadm, with no transport.  A mount
# namespace of its own gives iscsiadm a private /etc/iscsi and /run/lock,
# so the host's stay as they are.  Not where systemd is the first process
# (iscsiadm would really start the host's iscsid through systemctl), nor
# where iscsiadm could load iscsi_tcp into the host's kernel.
host_reason=""
if [[ "$phases" != *" host "* ]]; then
  host_reason="not asked for"
elif [ "$(id -u)" != 0 ] || ! command -v unshare > /dev/null; then
  host_reason="needs root and unshare"
elif [ "$(cat /proc/1/comm 2>/dev/null)" = systemd ]; then
  host_reason="systemd is the first process here"
elif [ -d /sys/class/iscsi_transport ] || modprobe -n iscsi_tcp > /dev/null 2>&1; then
  host_reason="this host has or can load the iSCSI transport"
fi
if [ -n "$host_reason" ]; then
  echo "record: outside recordings skipped: $host_reason"
else
  etc="$scratch/host-etc" host_out="$scratch/host-out"
  mkdir -p "$etc" "$host_out"
  cp /etc/iscsi/iscsid.conf "$etc/iscsid.conf"
  printf 'InitiatorName=iqn.2024-01.test.kernel:initiator\n' > "$etc/initiatorname.iscsi"
  unshare -m --propagation private bash -c '
    set -u
    # -n: no /run/mount/utab on the host.
    mount -n --bind "$1" /etc/iscsi || exit 1
    mount -n -t tmpfs tmpfs /run/lock || exit 1
    source "$2"
    uptime_s() { cut -d" " -f1 /proc/uptime; }
    o="$3" P=127.0.0.1:3260 T=iqn.2024-01.test.rec:plain
    record "$o" version iscsiadm --version
    record "$o" iface-list iscsiadm -m iface
    record "$o" session-none iscsiadm -m session
    record "$o" session-p1-none iscsiadm -m session -P 1
    record "$o" node-none iscsiadm -m node
    record "$o" discoverydb-none iscsiadm -m discoverydb
    record "$o" discoverydb-new iscsiadm -m discoverydb -t st -p "$P" -o new
    record "$o" discover-new iscsiadm -m discoverydb -t st -p "$P" --discover -o new
    record "$o" node-new iscsiadm -m node -o new -T "$T" -p "$P"
    record "$o" node-list iscsiadm -m node
    record "$o" login iscsiadm -m node -T "$T" -p "$P" --login
    record "$o" loginall-automatic iscsiadm -m node --loginall=automatic
    ls -R /etc/iscsi > "$o/etc-iscsi-tree.txt"
  ' host-record "$etc" "$root/tests/kernel/uml-lib.sh" "$host_out" || failed=1
  rm -rf "$out/host"
  cp -r "$host_out" "$out/host"
  # The initiator name file as the package writes it.
  if [ -r /etc/iscsi/initiatorname.iscsi ]; then
    cp /etc/iscsi/initiatorname.iscsi "$out/host/initiatorname.iscsi"
  fi
fi
exit "$failed"
