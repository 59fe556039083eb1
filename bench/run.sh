#!/bin/bash
# Speed benchmark (a script, not a test).  One tgtd on loopback; for 1, 2, 8,
# 30 and 60 targets it times, on one processor:
#   - targetlogin 127.0.0.1 -p PORT over the Linux service (a release build);
#   - iscsi-ls -s iscsi://127.0.0.1:PORT (Debian's libiscsi-bin);
#   - bench/floor.cpp, the protocol floor: one SendTargets discovery, then a
#     login and a logout of each target, on libiscsi's synchronous calls,
#     linked statically (built here, never installed);
# and then ovelin -v and tessmark find against /bin/true.  For each group it
# prints the median and min-max time of every command, its peak memory, and
# the ratios of our aims with whether each is met.
#
# How it measures:
#   - tgtd and every measured command run on one processor (--cpu): tgtd is
#     started under taskset, and so is bench/launcher.cpp, which starts the
#     commands (posix_spawn, waitpid) and times each whole run with the
#     monotonic clock.  The launcher's cost is the same for every command.
#   - One run of each command first as a warm-up, not counted; then --runs
#     rounds, the commands alternating: first to last, then last to first.
#   - Peak memory is GNU time's %M (maximum resident set) of the command
#     itself, over --mem-runs separate runs of each, the largest kept.
#   - Every count of targets gets a fresh state directory of its own
#     (ISCSI_TOOLS_STATE_DIR), kept across that count's runs: each run of
#     targetlogin records its persistent logins, and the warm-up run fills
#     the store, so every counted run finds it filled, as an administrator's
#     second run does.  A build given with --old has stores of its own.
#   - tessmark uses a private atom table (TESSMARK_ATOM_TABLE) with the name
#     it looks for added once beforehand; the table is removed at the end.
#
#   bash bench/run.sh [options]
#     --runs N        counted rounds (default 30)
#     --cpu N         the processor of tgtd and the commands (default 1)
#     --counts "A B"  numbers of targets (default "1 2 8 30 60")
#     --mem-runs N    runs of each command for its peak memory (default 3)
#     --build DIR     measure the tools of this build folder as they are
#                     (default: configure and build build-bench-speed/,
#                     Release without tests)
#     --old DIR       also measure the tools of an older build folder in the
#                     same rounds, with its own figures and ratios
#     --record-layout FILE
#                     record the profile that lays out targetlogin's code
#                     (cmake/ToolsLinkage.cmake) instead of measuring: the
#                     build's targetlogin as linked, instrumented by
#                     llvm-bolt, runs --runs times at each count of targets
#                     (store filled first), and the merged profile is
#                     written to FILE (targetlogin/code_layout.fdata)
#     --build-old REV [DIR]
#                     only build commit REV for --old: its files (git
#                     archive) in DIR/src (default /tmp/iscsi-tools-old-REV),
#                     a Release build without tests in DIR/build; prints the
#                     folder to give to --old
# Figures before and after a change, from one run:
#   bash bench/run.sh --build-old main        # prints /tmp/iscsi-tools-old-<rev>/build
#   bash bench/run.sh --old /tmp/iscsi-tools-old-<rev>/build
# Needs root (tgtd), and the packages tgt, libiscsi-bin, libiscsi-dev, time.
# Exit code 0 once everything was measured, whether the aims are met or not.
#
# Other pairs: bench_reset, bench_command and bench_measure below measure any
# set of command lines the same way, with any ratios and aims; a group of
# commands inside a user-mode kernel is measured by calling them with the
# commands that run there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# The embedded service is measured here, never the host's own initiator
# (where open-iscsi could work, the tools would drive it otherwise).
export ISCSI_TOOLS_SERVICE=embedded

usage() {
  sed -n '/^#   bash bench\/run.sh \[options\]/,/^# Exit code/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

runs=30
cpu=1
counts="1 2 8 30 60"
mem_runs=3
build=""
old=""
record_layout=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="${2:?}"; shift 2 ;;
    --cpu) cpu="${2:?}"; shift 2 ;;
    --counts) counts="${2:?}"; shift 2 ;;
    --mem-runs) mem_runs="${2:?}"; shift 2 ;;
    --build) build="$(cd "${2:?}" && pwd)"; shift 2 ;;
    --old) old="$(cd "${2:?}" && pwd)"; shift 2 ;;
    --record-layout) record_layout="${2:?}"; shift 2 ;;
    --build-old)
      rev="${2:?}"
      short="$(git -C "$root" rev-parse --short "$rev^{commit}")"
      dir="/tmp/iscsi-tools-old-$short"
      [ $# -ge 3 ] && [[ "$3" != -* ]] && dir="$3"
      mkdir -p "$dir/src"
      git -C "$root" archive --format=tar "$short" | tar -x -C "$dir/src"
      cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DTOOLS_BUILD_TESTS=OFF > "$dir/build.log"
      cmake --build "$dir/build" -j 2 --target targetlogin ovelin tessmark >> "$dir/build.log"
      echo "$dir/build"
      exit 0 ;;
    -h|--help) usage ;;
    *) echo "bench: unknown argument $1" >&2; usage ;;
  esac
done
for number in "$runs" "$cpu" "$mem_runs" $counts; do
  [[ "$number" =~ ^[0-9]+$ ]] || { echo "bench: $number is not a number" >&2; exit 2; }
done
[ "$runs" -ge 1 ] && [ "$mem_runs" -ge 1 ] || { echo "bench: --runs and --mem-runs need 1 or more" >&2; exit 2; }
counts="$(printf '%s\n' $counts | sort -n -u | tr '\n' ' ')"

[ "$(id -u)" = 0 ] || { echo "bench: needs root (tgtd)" >&2; exit 1; }
for tool in tgtd tgtadm iscsi-ls taskset g++ python3 /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "bench: $tool is missing (bash scripts/setup.sh)" >&2; exit 1; }
done
taskset -c "$cpu" true 2> /dev/null || { echo "bench: no processor $cpu here" >&2; exit 1; }
iscsi_ls="$(command -v iscsi-ls)"

if [ -z "$build" ]; then
  build="$root/build-bench-speed"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOOLS_BUILD_TESTS=OFF > /dev/null
  cmake --build "$build" -j 2 --target targetlogin ovelin tessmark > /dev/null
fi
builds=("$build")
build_suffixes=("")
if [ -n "$old" ]; then
  builds+=("$old")
  build_suffixes+=(" (old)")
fi
for folder in "${builds[@]}"; do
  for exe in targetlogin/targetlogin nodequery/ovelin atommarker/tessmark; do
    [ -x "$folder/$exe" ] || { echo "bench: $folder/$exe is missing" >&2; exit 1; }
  done
done

work="$(mktemp -d /tmp/iscsi-tools-bench.XXXXXX)"
table_prefix="iscsi-tools-bench-$$"
tgtd_pid=""
control=""
cleanup() {
  if [ -n "$tgtd_pid" ]; then
    # tgtd does not stop on SIGTERM while it has targets.
    kill -9 "$tgtd_pid" 2> /dev/null || true
    for _ in $(seq 50); do kill -0 "$tgtd_pid" 2> /dev/null || break; sleep 0.1; done
  fi
  [ -n "$control" ] && rm -f "/var/run/tgtd/socket.$control" "/var/run/tgtd/socket.$control.lock"
  rm -f /dev/shm/"$table_prefix"-*
  rm -rf "$work"
}
trap cleanup EXIT

# Our helper programs, the same for every build measured.
flags=(-std=c++17 -O2 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror -fno-exceptions -static)
g++ "${flags[@]}" -o "$work/launcher" "$root/bench/launcher.cpp"
# The static link warns that getaddrinfo would need glibc's shared NSS
# modules: the floor is only given numeric addresses.
g++ "${flags[@]}" -o "$work/floor" "$root/bench/floor.cpp" -liscsi 2> "$work/floor-build.log" ||
  { cat "$work/floor-build.log" >&2; exit 1; }

# --- the measuring routine ------------------------------------------------
#   bench_reset
#   bench_command LABEL [NAME=VALUE...] PROGRAM [ARG...]   (once a command;
#                                  PROGRAM a path; no ':' in LABEL)
#   bench_measure TITLE [--ratio KIND:LABEL_A:LABEL_B[:LIMIT]]...
# times the commands (pinned, alternating, warm-up first), takes their peak
# memory and prints them with the ratios (KIND "time" for the medians,
# "memory" for the peaks); each ratio with a LIMIT is an aim, and its verdict
# also goes to the summary printed at the end.
bench_reset() {
  bench_labels=()
  bench_starts=()
  bench_lengths=()
  bench_words=()
}
bench_command() {
  bench_labels+=("$1")
  shift
  bench_starts+=("${#bench_words[@]}")
  bench_lengths+=("$#")
  bench_words+=("$@")
}
bench_peak_run() {  # bench_peak_run INDEX: one GNU time run, "INDEX KIB" to stdout
  local words=("${bench_words[@]:${bench_starts[$1]}:${bench_lengths[$1]}}")
  local assignments=()
  while [[ "${words[0]}" =~ ^[A-Za-z_][A-Za-z_0-9]*= ]]; do
    assignments+=("${words[0]}")
    words=("${words[@]:1}")
  done
  # env sets the variables and then is GNU time, whose child is the command.
  taskset -c "$cpu" env "${assignments[@]}" /usr/bin/time -f %M -o "$work/peak-run" "${words[@]}" \
      > /dev/null 2>&1 || { echo "bench: ${bench_labels[$1]} failed under GNU time" >&2; exit 1; }
  echo "$1 $(tail -1 "$work/peak-run")"
}
bench_measure() {
  local title="$1"
  shift
  local count=${#bench_labels[@]} index round step
  local launcher_words=()
  for index in $(seq 0 $((count - 1))); do
    launcher_words+=(-- "${bench_words[@]:${bench_starts[$index]}:${bench_lengths[$index]}}")
  done
  taskset -c "$cpu" "$work/launcher" "$runs" "${launcher_words[@]}" > "$work/times" ||
    { echo "bench: $title: a command failed" >&2; exit 1; }
  : > "$work/peaks"
  for round in $(seq 0 $((mem_runs - 1))); do
    for step in $(seq 0 $((count - 1))); do
      index=$(( round % 2 == 0 ? step : count - 1 - step ))
      bench_peak_run "$index" >> "$work/peaks"
    done
  done
  python3 "$root/bench/speed_report.py" "$title" "$work/times" "$work/peaks" "$work/summary" \
      "${bench_labels[@]}" "$@"
}
# ---------------------------------------------------------------------------

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
control=$(( 1000 + port % 31000 ))
taskset -c "$cpu" tgtd -f -C "$control" --iscsi "portal=127.0.0.1:$port" > "$work/tgtd.log" 2>&1 &
tgtd_pid=$!
disown "$tgtd_pid"
tgtd_up=""
for _ in $(seq 100); do
  tgtadm -C "$control" --lld iscsi --op show --mode target > /dev/null 2>&1 && { tgtd_up=1; break; }
  sleep 0.1
done
[ -n "$tgtd_up" ] || { echo "bench: tgtd did not start:" >&2; tail "$work/tgtd.log" >&2; exit 1; }

add_targets() {  # add_targets FIRST LAST
  local tid
  for tid in $(seq "$1" "$2"); do
    truncate -s 1M "$work/disk$tid.img"
    tgtadm -C "$control" --lld iscsi --op new --mode target --tid "$tid" -T "iqn.2026-01.test.bench:t$tid"
    tgtadm -C "$control" --lld iscsi --op new --mode logicalunit --tid "$tid" --lun 1 -b "$work/disk$tid.img"
    tgtadm -C "$control" --lld iscsi --op bind --mode target --tid "$tid" -I ALL
  done
}

# Checks once that each command reaches every target, so that the figures
# are of whole runs.
check_reaches() {  # check_reaches TARGETS STATE_DIR TARGETLOGIN
  local out="$work/check.out"
  ISCSI_TOOLS_STATE_DIR="$2" "$3" 127.0.0.1 -p "$port" > "$out" 2>&1 ||
    { echo "bench: $3 failed with $1 targets:" >&2; tail "$out" >&2; exit 1; }
  if [ "$(grep -c '^Session Id is ' "$out")" != "$1" ] || ! grep -q '^Connection complete$' "$out"; then
    echo "bench: $3 did not log in to all $1 targets:" >&2
    tail "$out" >&2
    exit 1
  fi
}

if [ -n "$record_layout" ]; then
  bolt="$(sed -n 's/^TOOLS_LLVM_BOLT:FILEPATH=//p' "$build/CMakeCache.txt")"
  linked="$build/targetlogin/targetlogin.linked"
  [ -x "$bolt" ] && [ -f "$linked" ] ||
    { echo "bench: --record-layout needs a build with TOOLS_CODE_LAYOUT (bolt-15)" >&2; exit 1; }
  "$bolt" "$linked" -instrument -o "$work/targetlogin" -instrumentation-file="$work/profile" \
      -instrumentation-file-append-pid > "$work/instrument.log" 2>&1 ||
    { cat "$work/instrument.log" >&2; exit 1; }
  added=0
  for n in $counts; do
    [ "$n" -ge 1 ] || continue
    add_targets $((added + 1)) "$n"
    added=$n
    check_reaches "$n" "$work/state-$n" "$work/targetlogin"
    for _ in $(seq "$runs"); do
      taskset -c "$cpu" env "ISCSI_TOOLS_STATE_DIR=$work/state-$n" "$work/targetlogin" \
          127.0.0.1 -p "$port" > /dev/null
    done
  done
  # Sorted, so that a profile recorded again differs only where the runs do.
  "$(dirname "$bolt")/merge-fdata" "$work"/profile.*.fdata 2> "$work/merge.log" | LC_ALL=C sort > "$record_layout" ||
    { cat "$work/merge.log" >&2; exit 1; }
  echo "bench: layout profile of $(ls "$work"/profile.*.fdata | wc -l) runs written to $record_layout"
  exit 0
fi

echo "bench: tgtd on 127.0.0.1:$port, tgtd and commands on processor $cpu of $(nproc);" \
     "$runs rounds after a warm-up, peak memory of $mem_runs runs; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "bench: build $build${old:+, old build $old}"
echo
: > "$work/summary"
added=0
for n in $counts; do
  [ "$n" -ge 1 ] || continue
  add_targets $((added + 1)) "$n"
  added=$n
  bench_reset
  ratios=()
  limit=1.0
  [ "$n" = 1 ] && limit=1.1
  for b in "${!builds[@]}"; do
    state="$work/state$b-$n"
    check_reaches "$n" "$state" "${builds[$b]}/targetlogin/targetlogin"
    label="targetlogin${build_suffixes[$b]}"
    bench_command "$label" "ISCSI_TOOLS_STATE_DIR=$state" "${builds[$b]}/targetlogin/targetlogin" \
        127.0.0.1 -p "$port"
    ratios+=(--ratio "time:$label:iscsi-ls -s:$limit" --ratio "time:$label:floor:2.0"
             --ratio "memory:$label:iscsi-ls -s:1.3")
  done
  [ "$("$iscsi_ls" -s "iscsi://127.0.0.1:$port" | grep -c '^Target:')" = "$n" ] ||
    { echo "bench: iscsi-ls -s did not list $n targets" >&2; exit 1; }
  bench_command "iscsi-ls -s" "$iscsi_ls" -s "iscsi://127.0.0.1:$port"
  bench_command floor "$work/floor" "127.0.0.1:$port"
  [ -n "$old" ] && ratios+=(--ratio "time:targetlogin:targetlogin (old)" --ratio "memory:targetlogin:targetlogin (old)")
  bench_measure "$n target$([ "$n" = 1 ] || echo s)" "${ratios[@]}"
done

bench_reset
bench_command /bin/true /bin/true
ratios=()
for b in "${!builds[@]}"; do
  table="/$table_prefix-$b"
  TESSMARK_ATOM_TABLE="$table" "${builds[$b]}/atommarker/tessmark" add bench-marker > /dev/null
  bench_command "ovelin -v${build_suffixes[$b]}" "ISCSI_TOOLS_STATE_DIR=$work/state$b-small" \
      "${builds[$b]}/nodequery/ovelin" -v
  bench_command "tessmark find${build_suffixes[$b]}" "TESSMARK_ATOM_TABLE=$table" \
      "${builds[$b]}/atommarker/tessmark" find bench-marker
  ratios+=(--ratio "time:ovelin -v${build_suffixes[$b]}:/bin/true:1.3"
           --ratio "time:tessmark find${build_suffixes[$b]}:/bin/true:1.2")
done
bench_measure "small tools" "${ratios[@]}"

echo "== aims =="
sed 's/^/  /' "$work/summary"
total=$(grep -vc ' (old) /' "$work/summary" || true)
met=$(grep -v ' (old) /' "$work/summary" | grep -c ': met)$' || true)
echo "  build $build: $met of $total aims met"
