#!/bin/bash
# On a host without the kernel's iSCSI TCP transport (ours), outside any
# user-mode kernel: the real ovelin and targetlogin choose the embedded
# service by themselves, and with ISCSI_TOOLS_SERVICE=open-iscsi fail every
# operation with the text of why open-iscsi cannot work here, never
# switching; the host's /etc/iscsi stays as it was.
#   host-choice-test.sh TARGETLOGIN OVELIN EMBEDDED_VERSION
# Exit 77 (skipped) on a host where open-iscsi could work.
set -uo pipefail
targetlogin="$1" ovelin="$2" embedded_version="$3"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/host-choice.XXXXXX")" || exit 1
trap 'rm -rf "$scratch"' EXIT
export ISCSI_TOOLS_STATE_DIR="$scratch/state"
unset ISCSI_TOOLS_SERVICE

found_iscsiadm=0
for folder in /usr/sbin /usr/bin /sbin /bin; do
  [ -x "$folder/iscsiadm" ] && found_iscsiadm=1
done
dep="/lib/modules/$(uname -r)/modules.dep"
if [ "$found_iscsiadm" = 0 ]; then
  reason="The host's iSCSI initiator (iscsiadm of open-iscsi) is not installed."
elif [ "$(id -u)" != 0 ]; then
  reason="The host's iSCSI initiator (open-iscsi) can be driven by root only, and this tool does not run as root."
elif [ -e /sys/module/iscsi_tcp ] || [ -e /sys/class/iscsi_transport/tcp ]; then
  echo "SKIP: this host has the iSCSI TCP transport: open-iscsi can work here"
  exit 77
elif [ -r "$dep" ] && grep -q '/iscsi_tcp\.ko[.a-z]*:' "$dep"; then
  if [ "$(cat /proc/sys/kernel/modules_disabled 2>/dev/null)" != 1 ]; then
    echo "SKIP: this host can load iscsi_tcp: open-iscsi can work here"
    exit 77
  fi
  reason="The kernel's iSCSI TCP transport (iscsi_tcp) is not loaded, and this kernel loads no more modules."
else
  reason="The kernel has no iSCSI TCP transport: iscsi_tcp is not loaded and is no module of the running kernel."
fi

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
host_state() { find /etc/iscsi /run/lock/iscsi -printf '%p %y %s %T@\n' 2>/dev/null | sort; }
before="$(host_state)"

expect() {  # what expected-exit expected-output command...
  local what="$1" code="$2" output="$3" got rc
  shift 3
  got="$("$@" 2> "$scratch/stderr"; echo "rc=$?")"
  rc="${got##*rc=}"
  got="${got%rc=*}"
  if [ "$got" != "$output"$'\n' ] || [ "$rc" != "$code" ] || [ -s "$scratch/stderr" ]; then
    fail "$what: exit $rc, printed:"
    printf '%s' "$got"
    cat "$scratch/stderr"
  else
    echo "ok   $what"
  fi
}

expect "the automatic choice: the embedded service's version" 0 "$embedded_version" \
  "$ovelin" -v
expect "the embedded service named" 0 "$embedded_version" \
  env ISCSI_TOOLS_SERVICE=embedded "$ovelin" -v
expect "open-iscsi named: ovelin -v" 1 "Error getting information: $reason " \
  env ISCSI_TOOLS_SERVICE=open-iscsi "$ovelin" -v
expect "open-iscsi named: ovelin" 1 "Error getting information: $reason " \
  env ISCSI_TOOLS_SERVICE=open-iscsi "$ovelin"
expect "open-iscsi named: targetlogin" 1 \
  "Error getting node name: $reason 
Error adding target portal 127.0.0.1: $reason " \
  env ISCSI_TOOLS_SERVICE=open-iscsi "$targetlogin" 127.0.0.1
expect "a service this build does not have" 1 \
  "Error getting information: The variable ISCSI_TOOLS_SERVICE names no initiator service of this build. " \
  env ISCSI_TOOLS_SERVICE=nonesuch "$ovelin" -v
[ "$(host_state)" = "$before" ] || fail "the host's /etc/iscsi or /run/lock/iscsi changed"
[ "$failures" = 0 ] || exit 1
echo "service choice on this host: passed"
