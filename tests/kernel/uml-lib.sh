# Helpers for payload scripts run inside the user-mode kernel: source
# "$UML_LIB".  $RESULTS is the boot's results folder on the host.

# The value of NAME=VALUE on the kernel command line, or nothing.
kernel_word() {
  local word
  for word in $(cat /proc/cmdline); do
    case "$word" in "$1="*) echo "${word#"$1"=}"; return 0 ;; esac
  done
  return 1
}

# Seconds since boot, two decimals.
uptime_s() { cut -d' ' -f1 /proc/uptime; }

# check DESCRIPTION COMMAND...: runs the command; logs "ok" or "FAIL" with
# the description to $RESULTS/checks.log and counts the failures.
CHECK_FAILURES=0
check() {
  local what="$1"
  shift
  if "$@"; then
    echo "ok   $what" >> "$RESULTS/checks.log"
  else
    echo "FAIL $what" >> "$RESULTS/checks.log"
    CHECK_FAILURES=$((CHECK_FAILURES + 1))
  fi
}

# Waits up to SECONDS for PATH to exist; true when it does.
wait_for_path() {
  local path="$1" tenths=$(($2 * 10))
  while [ "$tenths" -gt 0 ]; do
    [ -e "$path" ] && return 0
    sleep 0.1
    tenths=$((tenths - 1))
  done
  [ -e "$path" ]
}

# The block device (sda, ...) of the kernel session with identifier SID, once
# the scan of its logical unit has made one; waits up to SECONDS.
session_disk() {
  local sid="$1" tenths=$(($2 * 10)) block
  while [ "$tenths" -ge 0 ]; do
    for block in /sys/class/iscsi_session/session"$sid"/device/target*/*/block/*; do
      [ -e "$block" ] && { basename "$block"; return 0; }
    done
    sleep 0.1
    tenths=$((tenths - 1))
  done
  return 1
}

# The session identifier of the kernel session to TARGET, or nothing.
session_of() {
  local dir
  for dir in /sys/class/iscsi_session/session*; do
    [ -e "$dir/targetname" ] || continue
    if [ "$(cat "$dir/targetname")" = "$1" ]; then
      echo "${dir##*session}"
      return 0
    fi
  done
  return 1
}

# record DIR NAME COMMAND...: runs the command and keeps what it printed and
# its exit code as a recorded fixture (format in
# service_openiscsi/tests/recorded/README.md).  Returns the exit code.
record() {
  local dir="$1" name="$2" rc start end
  shift 2
  start=$(uptime_s)
  "$@" > "$dir/$name.stdout" 2> "$dir/$name.stderr" < /dev/null
  rc=$?
  end=$(uptime_s)
  {
    echo "command: $*"
    echo "exit: $rc"
    echo "seconds: $(echo "$start $end" | awk '{ printf "%.2f", $2 - $1 }')"
  } > "$dir/$name.cmd"
  return "$rc"
}
