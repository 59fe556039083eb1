#!/bin/bash
# The first process inside the user-mode kernel (started by uml-run.sh).
# The root is the host's own tree through hostfs, writable: every write
# before the tmpfs over /run and the bind over /etc/iscsi would land on the
# host, so those come first, and nothing here writes outside /run, the
# private /etc/iscsi and the run's scratch folder.  Ends with halt -f.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
LANG=C
export PATH LANG

# -n: mount writes no /run/mount/utab (before the tmpfs that would be the
# host's /run).
mount -n -t tmpfs -o mode=0755 tmpfs /run
# Until this mount, /proc is the host's /proc seen through hostfs.
mount -n -t proc proc /proc
mount -n -t sysfs sysfs /sys

finish() {
  sync
  halt -f
  sleep 10
}

uptime_s() { cut -d' ' -f1 /proc/uptime; }

scratch=""
for word in $(cat /proc/cmdline); do
  case "$word" in uml_scratch=*) scratch="${word#uml_scratch=}" ;; esac
done
if [ -z "$scratch" ] || [ ! -f "$scratch/run.conf" ]; then
  echo "uml-init: no run settings (uml_scratch=$scratch)"
  finish
fi
. "$scratch/run.conf"

step() { echo "$1 $(uptime_s)" >> "$RESULTS/steps.log"; }
setup_failed() {
  echo "$1" > "$RESULTS/setup.status"
  echo "uml-init: set-up failed: $1"
  finish
}
step booted

mkdir -p /run/lock/iscsi
mount -n --bind "$ETC_DIR" /etc/iscsi || setup_failed "bind $ETC_DIR over /etc/iscsi"
ip link set lo up || setup_failed "lo up"
step mounted

for module in iscsi_tcp sd_mod; do
  modprobe -d "$MODULES" "$module" || setup_failed "modprobe $module"
done
if [ "$IPV6" = 1 ]; then
  modprobe -d "$MODULES" ipv6 || setup_failed "modprobe ipv6"
  # Duplicate address detection would hold ::1 back for a moment.
  for _ in $(seq 50); do ip -6 addr show dev lo | grep -q '::1' && break; sleep 0.1; done
fi
step modules

tgtd -f --iscsi portal=127.0.0.1:3260 > "$RESULTS/tgtd.log" 2>&1 &
ready=0
for _ in $(seq 100); do
  if tgtadm --lld iscsi --mode sys --op show > /dev/null 2>&1; then ready=1; break; fi
  sleep 0.05
done
[ "$ready" = 1 ] || setup_failed "tgtd did not answer"
if [ "$IPV6" = 1 ]; then
  tgtadm --lld iscsi --op new --mode portal --param 'portal=[::1]:3260' || setup_failed "tgtd portal [::1]"
fi
while read -r kind a b c d e; do
  case "$kind" in
    target)  # tid name disk [user secret]
      tgtadm --lld iscsi --op new --mode target --tid "$a" -T "$b" &&
        tgtadm --lld iscsi --op new --mode logicalunit --tid "$a" --lun 1 -b "$c" &&
        tgtadm --lld iscsi --op bind --mode target --tid "$a" -I ALL || setup_failed "target $b"
      if [ -n "$d" ]; then
        tgtadm --lld iscsi --op new --mode account --user "$d" --password "$e" 2>/dev/null
        tgtadm --lld iscsi --op bind --mode account --tid "$a" --user "$d" || setup_failed "CHAP of $b"
      fi ;;
    discovery-chap)  # user secret; an account bound to no target guards discovery
      tgtadm --lld iscsi --op new --mode account --user "$a" --password "$b" 2>/dev/null
      tgtadm --lld iscsi --op bind --mode account --user "$a" || setup_failed "discovery CHAP" ;;
  esac
done < "$TARGETS"
step tgtd

if [ "$START_ISCSID" = 1 ]; then
  iscsid -f > "$RESULTS/iscsid.log" 2>&1 &
  # Ready once it listens on its abstract socket.
  ready=0
  for _ in $(seq 100); do
    if grep -q '@ISCSIADM_ABSTRACT_NAMESPACE' /proc/net/unix; then ready=1; break; fi
    sleep 0.05
  done
  [ "$ready" = 1 ] || setup_failed "iscsid did not listen"
fi
step iscsid
echo ready > "$RESULTS/setup.status"

export RESULTS UML_LIB ETC_DIR
timeout -s KILL "$PAYLOAD_TIMEOUT" bash "$PAYLOAD" > "$RESULTS/payload.out" 2> "$RESULTS/payload.err"
echo $? > "$RESULTS/payload.rc"
step payload
finish
