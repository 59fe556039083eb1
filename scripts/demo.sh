#!/bin/bash
# The main job on a fresh machine: installs what it needs (build tools,
# libiscsi, SQLite, tgt: scripts/setup.sh main), builds the tools without
# their tests in build-demo/, starts a real iSCSI target (tgtd) on loopback
# at a free port with two small file-backed targets, the second one
# requiring CHAP, runs targetlogin against it with a state directory of its
# own, and stops the target.
# Needs root (tgtd), or sudo for the installation and the target.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-demo"

bash "$root/scripts/setup.sh" main
cmake -S "$root" -B "$build" -DTOOLS_LINUX_SERVICE=ON -DTOOLS_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target targetlogin ovelin > /dev/null

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

work="$(mktemp -d)"
tgtd_pid=""
control=""
cleanup() {
  if [ -n "$tgtd_pid" ]; then
    # tgtd ignores SIGTERM while it has targets: end it by its process id.
    "${sudo_cmd[@]}" kill -9 "$tgtd_pid" 2>/dev/null || true
    "${sudo_cmd[@]}" rm -f "/var/run/tgtd/socket.$control" "/var/run/tgtd/socket.$control.lock"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A loopback port where nothing answers; tgtd below fails loudly if another
# program takes it in the meantime.
port=""
for _ in $(seq 1 100); do
  candidate=$(( 20000 + RANDOM % 40000 ))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    port=$candidate
    break
  fi
done
[ -n "$port" ] || { echo "demo: no free loopback port found" >&2; exit 1; }
control=$(( 1000 + port % 31000 ))
truncate -s 4M "$work/plain.img" "$work/secured.img"

# The shell writes its own pid and becomes tgtd, so that the pid is tgtd's
# even when sudo stands between.
"${sudo_cmd[@]}" sh -c 'echo $$ > "$1"; shift; exec "$@"' sh "$work/tgtd.pid" \
  tgtd -f -C "$control" --iscsi "portal=127.0.0.1:$port" > "$work/tgtd.log" 2>&1 &
disown $!   # its end is ours to report, not the shell's
for _ in $(seq 1 50); do
  [ -s "$work/tgtd.pid" ] && break
  sleep 0.1
done
tgtd_pid=$(cat "$work/tgtd.pid")
for _ in $(seq 1 100); do
  if "${sudo_cmd[@]}" tgtadm -C "$control" --lld iscsi --op show --mode target > /dev/null 2>&1; then break; fi
  sleep 0.1
done

secret="demo-chap-secret"
plain="iqn.2026-01.test.demo:plain"
secured="iqn.2026-01.test.demo:secured"
adm() { "${sudo_cmd[@]}" tgtadm -C "$control" --lld iscsi "$@"; }
adm --op new --mode target --tid 1 -T "$plain"
adm --op new --mode logicalunit --tid 1 --lun 1 -b "$work/plain.img"
adm --op bind --mode target --tid 1 -I ALL
adm --op new --mode target --tid 2 -T "$secured"
adm --op new --mode logicalunit --tid 2 --lun 1 -b "$work/secured.img"
adm --op bind --mode target --tid 2 -I ALL
# targetlogin's CHAP user name is the target's own name.
adm --op new --mode account --user "$secured" --password "$secret"
adm --op bind --mode account --tid 2 --user "$secured"

echo "== tgtd on 127.0.0.1:$port: $plain, and $secured (CHAP)"
echo "== $build/targetlogin/targetlogin 127.0.0.1 -p $port -t <secret>"
echo
export ISCSI_TOOLS_STATE_DIR="$work/state"
# The embedded service, whatever the host has: scripts/demo-kernel.sh shows
# the host's own initiator.
"${sudo_cmd[@]}" env ISCSI_TOOLS_SERVICE=embedded ISCSI_TOOLS_STATE_DIR="$ISCSI_TOOLS_STATE_DIR" \
  "$build/targetlogin/targetlogin" 127.0.0.1 -p "$port" -t "$secret"
echo
echo "== the sessions were logged out when targetlogin ended; tgtd stops now."
