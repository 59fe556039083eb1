#!/bin/bash
# Resource figures of one targetlogin run against many targets: the real
# targetlogin over the scripted service stand-in, with a generated scenario
# of N targets x 16 portals in which every login succeeds ("-a" with one
# command-line portal: 16 logins a target).  Prints, for N = 15, 30 and 60:
#   - exit code, logins made, wall time and peak RSS of the run;
#   - the peak heap of targetlogin's own code (valgrind massif, with the
#     stand-in's scenario store and call log left out: those grow with the
#     scenario by design), which must stay flat as N grows;
# and a valgrind memcheck leak check of the 60-target run, which must be
# clean.  Then the same counts over the Linux service against the hostile
# target's many-portals mode on loopback (the service's discovery and a
# refused login for every portal): the same figures, the whole process's
# peak heap (it holds each discovery answer, so it grows with the answer),
# and a memcheck run that must find nothing definitely or indirectly lost.
# Exit code 0 when the tool's heap is flat and no leak is found.
#   BENCH_BUILD   build folder (default build-bench/, a plain build over the
#                 stand-in)
#   BENCH_TARGETS the target counts (default "15 30 60")
#   BENCH_LINUX   0 leaves out the runs over the Linux service
set -euo pipefail
# The embedded service is measured here, never the host's own initiator
# (where open-iscsi could work, the tools would drive it otherwise).
export ISCSI_TOOLS_SERVICE=embedded
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BENCH_BUILD:-$root/build-bench}"
counts="${BENCH_TARGETS:-15 30 60}"
portals=16
# The heap of the tool may differ by run-to-run noise only.
flat_slack_bytes=16384

for tool in valgrind ms_print /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "resources: $tool is missing (bash scripts/setup.sh tests hardening bench)" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -DTOOLS_BUILD_TESTS=OFF -DTOOLS_LINUX_SERVICE=OFF \
      -DTOOLS_SANITIZE=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2 --target targetlogin >/dev/null
exe="$build/targetlogin/targetlogin"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The stand-in's own allocation sites (its scenario store, the file it reads
# and its call log), found by a first massif run with every snapshot
# detailed: the functions that call the allocator directly from a source
# file of service_standin/, and those they are inlined into.
standin_files=$(cd "$root/service_standin" && ls *.cpp | paste -sd'|')
python3 "$root/bench/resources_scenario.py" 2 "$portals" >"$work/probe.scenario"
ISCSI_STANDIN_SCENARIO="$work/probe.scenario" valgrind --tool=massif --threshold=0 --detailed-freq=1 \
    --massif-out-file="$work/massif-probe" "$exe" 192.0.2.1 -a >/dev/null 2>&1
ignored=()
while IFS= read -r name; do
  ignored+=("--ignore-fn=$name")
done < <(ms_print --threshold=0 "$work/massif-probe" |
         python3 "$root/bench/resources_standin_sites.py" "$standin_files")
if [ ${#ignored[@]} -eq 0 ]; then
  echo "resources: found none of the stand-in's allocation sites" >&2
  exit 1
fi

printf '%-8s %-8s %-5s %-7s %-9s %-12s %-16s\n' targets portals exit logins "wall(s)" "peakRSS(KiB)" "tool heap(B)"
first_heap=""
verdict=0
for n in $counts; do
  scenario="$work/targets-$n.scenario"
  python3 "$root/bench/resources_scenario.py" "$n" "$portals" >"$scenario"
  export ISCSI_STANDIN_SCENARIO="$scenario"
  set +e
  /usr/bin/time -f '%M %e' -o "$work/time-$n" "$exe" 192.0.2.1 -a >"$work/out-$n" 2>"$work/err-$n"
  code=$?
  set -e
  read -r rss wall <"$work/time-$n"
  logins=$(grep -c '^Session Id is ' "$work/out-$n" || true)
  if [ "$code" != 0 ] || [ "$logins" != $((n * portals)) ] || ! grep -q '^Connection complete$' "$work/out-$n"; then
    echo "resources: the $n-target run did not end as scripted (exit $code, $logins logins)" >&2
    cat "$work/err-$n" >&2
    verdict=1
  fi
  valgrind --tool=massif --pages-as-heap=no --stacks=no "${ignored[@]}" \
           --massif-out-file="$work/massif-$n" "$exe" 192.0.2.1 -a >/dev/null 2>"$work/massif-err-$n"
  heap=$(ms_print "$work/massif-$n" | awk '/^ *n +time/ {table=1; next} table && $1 ~ /^[0-9]+$/ {gsub(",", "", $3); if ($3 > peak) peak = $3} END {print peak + 0}')
  printf '%-8s %-8s %-5s %-7s %-9s %-12s %-16s\n' "$n" "$portals" "$code" "$logins" "$wall" "$rss" "$heap"
  if [ -z "$first_heap" ]; then
    first_heap=$heap
  elif [ "$heap" -gt $((first_heap + flat_slack_bytes)) ]; then
    echo "resources: the tool's heap grows with the targets ($first_heap -> $heap bytes)" >&2
    verdict=1
  fi
done

last=${counts##* }
export ISCSI_STANDIN_SCENARIO="$work/targets-$last.scenario"
set +e
valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all \
         --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=99 \
         "$exe" 192.0.2.1 -a >/dev/null 2>"$work/memcheck"
memcheck=$?
set -e
summary=$(grep -E '== +(in use at exit|definitely lost:|indirectly lost:|possibly lost:|ERROR SUMMARY)' "$work/memcheck" | sed 's/^==[0-9]*== *//')
echo "memcheck, $last targets x $portals portals (what is in use at exit is the stand-in's"
echo "scenario store and call log, still reachable):"
echo "$summary" | sed 's/^/  /'
if [ "$memcheck" != 0 ]; then
  echo "resources: memcheck found leaks or errors (exit $memcheck)" >&2
  cat "$work/memcheck" >&2
  verdict=1
fi
if [ "${BENCH_LINUX:-1}" != 0 ]; then
  linux_build="${BENCH_LINUX_BUILD:-$root/build-bench-linux}"
  cmake -S "$root" -B "$linux_build" -DTOOLS_BUILD_TESTS=OFF -DTOOLS_LINUX_SERVICE=ON \
        -DTOOLS_SANITIZE=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$linux_build" -j 2 --target targetlogin >/dev/null
  linux_exe="$linux_build/targetlogin/targetlogin"
  peer_pid=""
  stop_peer() {
    if [ -n "$peer_pid" ]; then
      kill "$peer_pid" 2>/dev/null || true
      wait "$peer_pid" 2>/dev/null || true
      peer_pid=""
    fi
  }
  trap 'stop_peer; rm -rf "$work"' EXIT
  start_peer() {   # start_peer TARGETS: sets peer_port
    rm -f "$work/peer-port"
    python3 "$root/tests/hostile/hostile_target.py" --mode many-portals --targets "$1" \
            --portals "$portals" --port-file "$work/peer-port" --lifetime 600 &
    peer_pid=$!
    for _ in $(seq 100); do
      [ -s "$work/peer-port" ] && break
      sleep 0.1
    done
    peer_port=$(cat "$work/peer-port")
  }
  export ISCSI_TOOLS_TIMEOUT_MS=2000
  unset ISCSI_STANDIN_SCENARIO

  echo
  echo "over the Linux service, against the hostile target on loopback (every login refused):"
  printf '%-8s %-8s %-5s %-7s %-9s %-12s %-16s\n' targets portals exit logins "wall(s)" "peakRSS(KiB)" "heap(B)"
  for n in $counts; do
    start_peer "$n"
    export ISCSI_TOOLS_STATE_DIR="$work/state-$n"
    set +e
    /usr/bin/time -f '%M %e' -o "$work/ltime-$n" "$linux_exe" 127.0.0.1 -p "$peer_port" -a \
        >"$work/lout-$n" 2>"$work/lerr-$n"
    code=$?
    set -e
    read -r rss wall <"$work/ltime-$n"
    attempts=$(grep -c '^LoginTarget to ' "$work/lout-$n" || true)
    if [ "$code" != 0 ] || [ "$attempts" != $((n * portals)) ]; then
      echo "resources: the $n-target run over the Linux service did not end as expected (exit $code, $attempts logins)" >&2
      tail -5 "$work/lout-$n" "$work/lerr-$n" >&2
      verdict=1
    fi
    export ISCSI_TOOLS_STATE_DIR="$work/mstate-$n"
    valgrind --tool=massif --massif-out-file="$work/lmassif-$n" "$linux_exe" 127.0.0.1 -p "$peer_port" -a \
        >"$work/lmout-$n" 2>&1 || true
    if [ "$(grep -c '^LoginTarget to ' "$work/lmout-$n" || true)" != $((n * portals)) ]; then
      echo "resources: the $n-target run under massif did not make every login" >&2
      grep -v '^LoginTarget\|^    \|^>' "$work/lmout-$n" | tail -5 >&2
      verdict=1
    fi
    heap=$(ms_print "$work/lmassif-$n" | awk '/^ *n +time/ {table=1; next} table && $1 ~ /^[0-9]+$/ {gsub(",", "", $3); if ($3 > peak) peak = $3} END {print peak + 0}')
    printf '%-8s %-8s %-5s %-7s %-9s %-12s %-16s\n' "$n" "$portals" "$code" "$attempts" "$wall" "$rss" "$heap"
    if [ "$n" = "$last" ]; then
      export ISCSI_TOOLS_STATE_DIR="$work/cstate-$n"
      set +e
      valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite,indirect \
               --error-exitcode=99 "$linux_exe" 127.0.0.1 -p "$peer_port" -a >/dev/null 2>"$work/lmemcheck"
      memcheck=$?
      set -e
      echo "memcheck, $last targets x $portals portals over the Linux service:"
      grep -E '== +(in use at exit|definitely lost:|indirectly lost:|possibly lost:|ERROR SUMMARY)' "$work/lmemcheck" |
          sed 's/^==[0-9]*== */  /'
      if [ "$memcheck" != 0 ]; then
        echo "resources: memcheck found leaks or errors over the Linux service (exit $memcheck)" >&2
        grep -A25 'definitely lost in\|indirectly lost in\|Invalid' "$work/lmemcheck" | head -80 >&2
        verdict=1
      fi
    fi
    stop_peer
  done
fi

if [ "$verdict" = 0 ]; then
  echo "resources: tool heap flat (within $flat_slack_bytes bytes) and no leak"
fi
exit "$verdict"
