# Inside the kernel, for bench/kernel-pair.sh: times targetlogin over
# open-iscsi and the plain iscsiadm sequence, each run from a clean
# initiator.  Words: tl= (targetlogin), runs= (counted rounds).  Writes
# $RESULTS/times ("COMMAND ROUND NANOSECONDS", COMMAND 0 targetlogin, 1 the
# sequence) and $RESULTS/peaks ("COMMAND KIB").
source "$UML_LIB"

tl="$(kernel_word tl)"
runs="$(kernel_word runs)"
PORTAL=127.0.0.1:3260
export PORTAL

# What an administrator types for the same job.
cat > /run/plain-sequence.sh <<'SEQUENCE'
set -e
targets="$(iscsiadm -m discovery -t st -p "$PORTAL" -o new | awk '{ print $2 }')"
for target in $targets; do
  iscsiadm -m node -T "$target" -p "$PORTAL" -o update -n node.startup -v automatic
  iscsiadm -m node -T "$target" -p "$PORTAL" --login
done
SEQUENCE
commands=("$tl 127.0.0.1" "bash /run/plain-sequence.sh")

# Untimed: no session, no record.
reset_initiator() {
  iscsiadm -m node --logoutall=all > /dev/null 2>&1
  iscsiadm -m node -o delete > /dev/null 2>&1
  iscsiadm -m discoverydb -t st -p "$PORTAL" -o delete > /dev/null 2>&1
  return 0
}
time_run() {  # index round
  local start end
  reset_initiator
  start=$(date +%s%N)
  ${commands[$1]} > /dev/null 2> "$RESULTS/run.err" || {
    echo "${commands[$1]} failed:" >&2
    cat "$RESULTS/run.err" >&2
    exit 1
  }
  end=$(date +%s%N)
  [ "$2" -ge 0 ] && echo "$1 $2 $((end - start))" >> "$RESULTS/times"
  return 0
}

: > "$RESULTS/times"
time_run 0 -1
time_run 1 -1
for round in $(seq 0 $((runs - 1))); do
  if [ $((round % 2)) = 0 ]; then order="0 1"; else order="1 0"; fi
  for index in $order; do time_run "$index" "$round"; done
done
: > "$RESULTS/peaks"
for index in 0 1; do
  reset_initiator
  /usr/bin/time -f "$index %M" -o "$RESULTS/peak-run" ${commands[$index]} > /dev/null 2>&1
  cat "$RESULTS/peak-run" >> "$RESULTS/peaks"
done
reset_initiator
