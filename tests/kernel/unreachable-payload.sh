# Inside the kernel, for unreachable-test.sh: targetlogin over open-iscsi
# against a closed port and against a portal that accepts connections and
# never answers.  Words: tl= (the host's build of targetlogin).  Each run's
# output, exit code and seconds go to $RESULTS/NAME.{out,rc,seconds}.
source "$UML_LIB"

tl="$(kernel_word tl)"

run() {  # name command...
  local name="$1" start
  shift
  start=$(uptime_s)
  "$@" > "$RESULTS/$name.out" 2> "$RESULTS/$name.err" < /dev/null
  echo $? > "$RESULTS/$name.rc"
  echo "$start $(uptime_s)" | awk '{ printf "%.1f\n", $2 - $1 }' > "$RESULTS/$name.seconds"
}
no_iscsiadm_left() { ! grep -qx iscsiadm /proc/[0-9]*/comm 2> /dev/null; }

# iscsiadm tries a closed port six times, about 5 s: within the step bound.
run closed "$tl" 127.0.0.1 -p 3999
# A listener that never answers: iscsiadm would wait 30 s; the step bound
# (3 s here) ends it.
python3 -c '
import socket, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 3270))
s.listen(8)
time.sleep(600)' &
silent=$!
for _ in $(seq 50); do grep -q ':0CC6 ' /proc/net/tcp && break; sleep 0.1; done
run silent env ISCSI_TOOLS_TIMEOUT_MS=3000 "$tl" 127.0.0.1 -p 3270
kill "$silent"
check "no iscsiadm is left running" no_iscsiadm_left
# The failed adds took their discovery records away again.
iscsiadm -m discoverydb > "$RESULTS/discoverydb" 2>&1
echo $? > "$RESULTS/discoverydb.rc"
exit "$CHECK_FAILURES"
