# Inside the kernel, for smoke-test.sh.  phase=first: discovery, a
# persistent (node.startup=automatic) login to the plain target, the disk
# read and written; phase=second: the boot-time restore logs in again, and
# only that target.  token=WORD is what the first boot writes on the disk.
source "$UML_LIB"

PORTAL=127.0.0.1:3260
PLAIN=iqn.2024-01.test.kernel:plain
SPARE=iqn.2024-01.test.kernel:spare
TOKEN_SECTOR=2048
phase="$(kernel_word phase)"
token="$(kernel_word token)"

times() { echo "$1 $(uptime_s)" >> "$RESULTS/payload-times.log"; }
node_list_has() { iscsiadm -m node | grep -qx "$PORTAL,1 $1"; }
session_count() { iscsiadm -m session 2>/dev/null | grep -c '^tcp: '; }
logged_in() {
  local sid
  sid="$(session_of "$1")" && [ "$(cat /sys/class/iscsi_session/session"$sid"/state)" = LOGGED_IN ]
}
disk_size_is() { [ "$(($(cat /sys/block/"$1"/size) * 512))" = "$2" ]; }
read_token() {
  dd if=/dev/"$1" bs=512 skip="$TOKEN_SECTOR" count=1 iflag=direct 2>/dev/null | tr -d '\0'
}
token_reads_back() { [ "$(read_token "$1")" = "$token" ]; }
disk_of() {
  local sid
  sid="$(session_of "$1")" && session_disk "$sid" 10
}

times start
case "$phase" in
first)
  check "discovery -o new exits 0" iscsiadm -m discovery -t st -p "$PORTAL" -o new
  times discovery
  check "node record of $PLAIN" node_list_has "$PLAIN"
  check "node record of $SPARE" node_list_has "$SPARE"
  check "node.startup automatic" \
    iscsiadm -m node -T "$PLAIN" -p "$PORTAL" -o update -n node.startup -v automatic
  check "login exits 0" iscsiadm -m node -T "$PLAIN" -p "$PORTAL" --login
  times login
  check "a kernel session, logged in" logged_in "$PLAIN"
  check "one session" test "$(session_count)" = 1
  iscsiadm -m node -T "$PLAIN" -p "$PORTAL" --login > /dev/null 2>&1
  check "a second login exits 15 (session exists)" test $? = 15
  disk="$(disk_of "$PLAIN")"
  times disk
  check "a disk of the session" test -n "$disk"
  check "its device node" wait_for_path "/dev/$disk" 5
  check "the disk has the target's size" disk_size_is "$disk" $((16 * 1024 * 1024))
  printf '%s' "$token" | dd of="/dev/$disk" bs=512 seek="$TOKEN_SECTOR" conv=fsync 2>/dev/null
  check "the token reads back" token_reads_back "$disk"
  times readwrite
  ;;
second)
  check "loginall=automatic exits 0" iscsiadm -m node --loginall=automatic
  times loginall
  check "the persistent login is back" logged_in "$PLAIN"
  check "and no other" test "$(session_count)" = 1
  disk="$(disk_of "$PLAIN")"
  check "a disk of the session" test -n "$disk"
  check "the first boot's token is on it" token_reads_back "$disk"
  times read
  ;;
*)
  check "a phase word on the kernel command line" false
  ;;
esac
exit "$CHECK_FAILURES"
