#!/bin/bash
# targetlogin over open-iscsi in a real kernel against a closed port and a
# silent portal (unreachable-payload.sh does the inside): each ends in its
# failure line and exit code 1 in bounded time, and leaves no discovery
# record and no iscsiadm behind.
#   unreachable-test.sh TARGETLOGIN [--sanitized]
# Exit 77 (skipped) as targetlogin-test.sh.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
targetlogin="$1"
if [ "${2:-}" = --sanitized ]; then
  echo "SKIP: sanitizer builds do not run inside user-mode-linux"
  exit 77
fi
# The silent portal is a listener of python3's inside.
command -v python3 > /dev/null || { echo "SKIP: no python3 on this host"; exit 77; }
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kernel-unreachable.XXXXXX")" || exit 1
trap 'rm -rf "$scratch"' EXIT

bash "$here/uml-run.sh" --scratch "$scratch" --payload "$here/unreachable-payload.sh" \
     --word "tl=$targetlogin" --deadline 120
rc=$?
[ "$rc" = 77 ] && exit 77
results="$scratch/results"
echo "--- exit $rc, $(tr '\n' ' ' < "$results/host-times" 2>/dev/null)"
cat "$results/checks.log" 2>/dev/null
if [ "$rc" != 0 ]; then
  echo "--- payload stderr"; cat "$results/payload.err" 2>/dev/null
  echo "--- console (end)"; tail -n 40 "$results/console.log" 2>/dev/null
  exit 1
fi

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
startup="iSCSI Initiator version 2.1 Build 8

iqn.2024-01.test.kernel:initiator
Root\\open-iscsi\\default"
expect_run() {  # name failure-text most-seconds
  local out
  out="$(cat "$results/$1.out")"
  [ "$out" = "$startup
Error adding target portal 127.0.0.1: $2 " ] || { fail "$1 printed:"; cat "$results/$1.out"; }
  [ "$(cat "$results/$1.rc")" = 1 ] || fail "$1: exit code $(cat "$results/$1.rc")"
  [ -s "$results/$1.err" ] && fail "$1: standard error: $(cat "$results/$1.err")"
  awk -v s="$(cat "$results/$1.seconds")" -v most="$3" 'BEGIN { exit !(s <= most) }' ||
    fail "$1 took $(cat "$results/$1.seconds") s, more than $3 s"
  echo "$1: $(cat "$results/$1.seconds") s"
}
expect_run closed "The target portal refused the connection." 12
expect_run silent "The host's iSCSI initiator (iscsiadm) did not finish in time and was stopped." 6
[ "$(cat "$results/discoverydb.rc")" = 21 ] ||
  fail "discovery records left: $(cat "$results/discoverydb")"
[ "$failures" = 0 ] || exit 1
echo "unreachable portals over open-iscsi: passed"
