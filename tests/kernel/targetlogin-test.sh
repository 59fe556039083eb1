#!/bin/bash
# targetlogin and ovelin over open-iscsi in a real kernel, two boots over
# one private /etc/iscsi (targetlogin-payload.sh does the inside):
#   first boot: ovelin and ovelin -v; targetlogin with a wrong CHAP secret
#     (the chap target's login fails, the plain one's works), then with the
#     right one; each whole report compared with expected/; after the tool
#     has ended the sessions are there and their disks read and write; a
#     second run resets no node.startup and no CHAP setting; then the portal
#     stops listening, a run fails to register it and removes it, and the
#     records of the persistent logins outlive its discovery record;
#   second boot: iscsiadm -m node --loginall=automatic (the boot unit's
#     restore) logs in every persistent login and only those.
#   targetlogin-test.sh TARGETLOGIN OVELIN [--sanitized]
# Exit 77 (skipped) when the host lacks the kernel or the tools, or for a
# sanitizer build (its shadow memory does not fit the user-mode kernel's
# address space).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
targetlogin="$1" ovelin="$2"
if [ "${3:-}" = --sanitized ]; then
  echo "SKIP: sanitizer builds do not run inside user-mode-linux"
  exit 77
fi
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kernel-targetlogin.XXXXXX")" || exit 1
trap 'rm -rf "$scratch"' EXIT

secret=chap-secret-12
# targetlogin's CHAP name is the target's own; the locked target wants a
# secret the runs never give.
cat > "$scratch/targets" <<TARGETS
target iqn.2024-01.test.kernel:plain 16
target iqn.2024-01.test.kernel:chap 8 iqn.2024-01.test.kernel:chap $secret
target iqn.2024-01.test.kernel:locked 8 iqn.2024-01.test.kernel:locked other-secret-1
TARGETS
token="targetlogin-$$-$RANDOM"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

boot() {  # phase
  bash "$here/uml-run.sh" --scratch "$scratch" --targets "$scratch/targets" \
       --payload "$here/targetlogin-payload.sh" --results "$scratch/$1" \
       --word "phase=$1" --word "tl=$targetlogin" --word "ov=$ovelin" \
       --word "secret=$secret" --word "token=$token" --deadline 150
  local rc=$?
  [ "$rc" = 77 ] && exit 77
  echo "--- boot $1: exit $rc, $(tr '\n' ' ' < "$scratch/$1/host-times" 2>/dev/null)"
  cat "$scratch/$1/checks.log" 2>/dev/null
  if [ "$rc" != 0 ]; then
    echo "--- payload stderr"; cat "$scratch/$1/payload.err" 2>/dev/null
    echo "--- console (end)"; tail -n 40 "$scratch/$1/console.log" 2>/dev/null
    exit 1
  fi
}

# A run's whole output, the boot's identity in the identifiers replaced by
# BOOT, against expected/NAME.txt; its exit code and an empty stderr.
same_report() {  # run expected
  local results="$scratch/first" tag
  # The identifiers print the boot's identity as a number: no leading zeros.
  tag="$(sed 's/^0*//' "$results/boot-tag")"
  tag="${tag:-0}"
  [ "$(cat "$results/$1.rc")" = 0 ] || fail "$1: exit code $(cat "$results/$1.rc")"
  [ -s "$results/$1.err" ] && fail "$1: standard error: $(cat "$results/$1.err")"
  if ! diff -u "$here/expected/$2.txt" <(sed "s/0x$tag-/0xBOOT-/" "$results/$1.out"); then
    fail "$1: the report differs from expected/$2.txt"
  fi
  grep -q "Session Id is 0x$tag-" "$results/$1.out" ||
    fail "$1: the session identifiers do not hold this boot's identity $tag"
}

boot first
first="$scratch/first"
same_report wrong-secret targetlogin-wrong-secret
same_report main targetlogin-main
same_report again targetlogin-main
[ "$(cat "$first/ovelin.out")" = iqn.2024-01.test.kernel:initiator ] ||
  fail "ovelin printed: $(cat "$first/ovelin.out")"
version="$(sed -n 's/^iscsiadm version //p' "$first/iscsiadm-version")"
[ "$(cat "$first/ovelin-v.out")" = "$version" ] ||
  fail "ovelin -v printed $(cat "$first/ovelin-v.out"), iscsiadm's version is $version"
[ "$(cat "$first/ovelin.rc") $(cat "$first/ovelin-v.rc")" = "0 0" ] || fail "ovelin's exit codes"
expected_sessions="127.0.0.1:3260,1 iqn.2024-01.test.kernel:chap (non-flash)
127.0.0.1:3260,1 iqn.2024-01.test.kernel:plain (non-flash)"
[ "$(cat "$first/sessions")" = "$expected_sessions" ] ||
  fail "after targetlogin ended the sessions are: $(cat "$first/sessions")"
cmp -s "$first/settings-before" "$first/settings-after" || {
  fail "the second run changed node settings"
  diff "$first/settings-before" "$first/settings-after"
}
# The removal kept the persistent logins' records, each setting as it was.
grep -v "^iqn.2024-01.test.kernel:locked: " "$first/settings-after" > "$scratch/settings-persistent"
if ! diff -u "$scratch/settings-persistent" "$first/settings-kept"; then
  fail "the records of the persistent logins did not outlive their discovery record as they were"
fi
printf '%s\n\n%s\n%s\n%s\n' "iSCSI Initiator version 2.1 Build 8" \
  "iqn.2024-01.test.kernel:initiator" 'Root\open-iscsi\default' \
  "Error adding target portal 127.0.0.1: The target portal refused the connection. " \
  > "$scratch/portal-down.expected"
diff -u "$scratch/portal-down.expected" "$first/portal-down.out" ||
  fail "the run against the portal that stopped listening printed otherwise"
[ "$(cat "$first/portal-down.rc")" = 1 ] || fail "that run's exit code: $(cat "$first/portal-down.rc")"
[ "$(cat "$first/discoverydb.rc")" = 21 ] || fail "a discovery record is left"
grep -q "^iqn.2024-01.test.kernel:chap: node.session.auth.password = $secret\$" \
  "$first/settings-after" ||
  fail "the chap target's record does not hold its secret"
on_disk="$(dd if="$scratch/disks/t1.img" bs=512 skip=2048 count=1 2>/dev/null | tr -d '\0')"
[ "$on_disk" = "$token" ] || fail "the token is not in the plain target's backing file"
# The secret is in root-only files of the private /etc/iscsi.
for file in "$scratch"/etc-iscsi/nodes/iqn.2024-01.test.kernel:chap/*/*; do
  [ "$(stat -c %a "$file")" = 600 ] || fail "$file has mode $(stat -c %a "$file")"
done

boot second
[ "$(cat "$scratch/second/loginall.rc")" = 0 ] ||
  fail "loginall=automatic: $(cat "$scratch/second/loginall.out")"
[ "$(cat "$scratch/second/sessions")" = "$expected_sessions" ] ||
  fail "after the reboot the sessions are: $(cat "$scratch/second/sessions")"
[ "$failures" = 0 ] || exit 1
echo "targetlogin over open-iscsi: passed"
