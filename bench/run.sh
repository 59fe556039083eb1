#!/bin/bash
# Benchmark (not a test): targetlogin over the Linux service against libiscsi's
# own "iscsi-ls -s" doing the same discovery and logins on one loopback tgtd
# portal.  Alternating runs; prints the median time of each, their ratio and
# the peak memory of both, with 2 targets and again with 8.
#   bash bench/run.sh [runs]        (default 21 runs of each)
# Needs root for tgtd; builds targetlogin in build/ when it is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-21}"
targetlogin="$root/build/targetlogin/targetlogin"
if [ ! -x "$targetlogin" ]; then
  cmake -S "$root" -B "$root/build" -DTOOLS_LINUX_SERVICE=ON > /dev/null
  cmake --build "$root/build" -j "$(nproc)" --target targetlogin > /dev/null
fi
command -v iscsi-ls > /dev/null || { echo "bench: iscsi-ls missing (Debian package libiscsi-bin)"; exit 1; }

work="$(mktemp -d)"
tgtd_pid=""
cleanup() {
  [ -n "$tgtd_pid" ] && kill -9 "$tgtd_pid" 2>/dev/null || true
  rm -f "/var/run/tgtd/socket.${control:-0}" "/var/run/tgtd/socket.${control:-0}.lock"
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
control=$(( 1000 + port % 31000 ))
tgtd -f -C "$control" --iscsi "portal=127.0.0.1:$port" > "$work/tgtd.log" 2>&1 &
tgtd_pid=$!
disown "$tgtd_pid"
for _ in $(seq 1 100); do
  tgtadm -C "$control" --lld iscsi --op show --mode target > /dev/null 2>&1 && break
  sleep 0.1
done

add_targets() {  # add_targets FIRST LAST
  for tid in $(seq "$1" "$2"); do
    truncate -s 1M "$work/disk$tid.img"
    tgtadm -C "$control" --lld iscsi --op new --mode target --tid "$tid" -T "iqn.2026-01.test.bench:t$tid"
    tgtadm -C "$control" --lld iscsi --op new --mode logicalunit --tid "$tid" --lun 1 -b "$work/disk$tid.img"
    tgtadm -C "$control" --lld iscsi --op bind --mode target --tid "$tid" -I ALL
  done
}

measure() {  # measure LABEL
  BENCH_WORK="$work" ISCSI_TOOLS_STATE_DIR="$work/state" python3 - "$1" "$runs" "$targetlogin" "$port" <<'PY'
import os, statistics, subprocess, sys, time
label, runs, targetlogin, port = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
commands = {
    "targetlogin": [targetlogin, "127.0.0.1", "-p", port],
    "iscsi-ls -s": ["iscsi-ls", "-s", "iscsi://127.0.0.1:%s" % port],
}
times = {name: [] for name in commands}
peak = {name: 0 for name in commands}
def once(name):
    # GNU time reports the child's own peak memory: a launcher forked from this
    # interpreter would carry the interpreter's pages into the figure.
    report = os.path.join(os.environ["BENCH_WORK"], "time.txt")
    start = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + commands[name],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times[name].append(time.perf_counter() - start)
    with open(report) as f:
        peak[name] = max(peak[name], int(f.read().split()[-1]))
    if result.returncode != 0:
        sys.exit("bench: %s failed" % name)
once("targetlogin"); once("iscsi-ls -s")          # warm-up, not counted
for name in commands: times[name].clear()
for i in range(runs):
    for name in (commands if i % 2 == 0 else reversed(list(commands))):
        once(name)
ours = statistics.median(times["targetlogin"])
theirs = statistics.median(times["iscsi-ls -s"])
print("%s: targetlogin median %.2f ms, peak %.1f MiB; iscsi-ls -s median %.2f ms, peak %.1f MiB"
      % (label, ours * 1000, peak["targetlogin"] / 1024, theirs * 1000, peak["iscsi-ls -s"] / 1024))
print("%s: median ratio %.2f, peak memory ratio %.2f"
      % (label, ours / theirs, peak["targetlogin"] / peak["iscsi-ls -s"]))
PY
}

add_targets 1 2
measure "2 targets"
add_targets 3 8
measure "8 targets"
