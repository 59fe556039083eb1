# Inside the kernel, for targetlogin-test.sh: the real targetlogin and
# ovelin over open-iscsi.  Words: phase=first|second, tl= and ov= (the
# tools, the host's build), secret= (the chap target's), token= (what the
# first boot writes on the plain target's disk).  Each run's output goes to
# $RESULTS/NAME.out with its exit code in NAME.rc; the host compares them
# with the expected reports.
source "$UML_LIB"

PORTAL=127.0.0.1:3260
PLAIN=iqn.2024-01.test.kernel:plain
CHAP=iqn.2024-01.test.kernel:chap
LOCKED=iqn.2024-01.test.kernel:locked
TOKEN_SECTOR=2048
phase="$(kernel_word phase)"
tl="$(kernel_word tl)"
ov="$(kernel_word ov)"
secret="$(kernel_word secret)"
token="$(kernel_word token)"

run() {  # name command...: output and exit code kept for the host
  local name="$1"
  shift
  "$@" > "$RESULTS/$name.out" 2> "$RESULTS/$name.err" < /dev/null
  echo $? > "$RESULTS/$name.rc"
}
sessions() { iscsiadm -m session 2>/dev/null | sed 's/^tcp: \[[0-9]*\] //' | sort; }
startup_of() {
  iscsiadm -m node -T "$1" -p "$PORTAL" 2>/dev/null | sed -n 's/^node.startup = //p'
}
is() { [ "$1" = "$2" ]; }
# Every node record's startup and authentication, secrets in the clear, a
# line each, the record's target name in front.
node_settings() {
  iscsiadm -m node -o show -S 2>/dev/null |
    awk '/^node.name = / { name = $3 }
         /^(node.startup|node.session.auth.(authmethod|username|password)) = / { print name ": " $0 }'
}
disk_of() {
  local sid
  sid="$(session_of "$1")" && session_disk "$sid" 10
}
read_token() {
  dd if="/dev/$1" bs=512 skip="$TOKEN_SECTOR" count=1 iflag=direct 2>/dev/null | tr -d '\0'
}
# The boot part of the identifiers: the first 16 hex digits of boot_id.
boot_tag() { tr -d '-' < /proc/sys/kernel/random/boot_id | cut -c1-16; }

case "$phase" in
first)
  boot_tag > "$RESULTS/boot-tag"
  run ovelin "$ov"
  run ovelin-v "$ov" -v
  iscsiadm --version > "$RESULTS/iscsiadm-version"
  # A wrong secret: the chap target's login fails; the plain one's works.
  run wrong-secret "$tl" 127.0.0.1 -t wrong-secret-1
  check "after the wrong secret, chap is no persistent login" is "$(startup_of "$CHAP")" manual
  run main "$tl" 127.0.0.1 -t "$secret"
  sessions > "$RESULTS/sessions"
  check "plain is a persistent login" is "$(startup_of "$PLAIN")" automatic
  check "chap is a persistent login" is "$(startup_of "$CHAP")" automatic
  check "locked is none" is "$(startup_of "$LOCKED")" manual
  disk="$(disk_of "$PLAIN")"
  check "the plain target's disk" test -n "$disk"
  check "its device node" wait_for_path "/dev/$disk" 5
  printf '%s' "$token" | dd of="/dev/$disk" bs=512 seek="$TOKEN_SECTOR" conv=fsync 2>/dev/null
  check "the disk is written and read" is "$(read_token "$disk")" "$token"
  chap_disk="$(disk_of "$CHAP")"
  check "the chap target's disk reads" \
    dd if="/dev/$chap_disk" of=/dev/null bs=4096 count=16 iflag=direct
  # A second run over what the first left: nothing it set is reset.
  node_settings > "$RESULTS/settings-before"
  run again "$tl" 127.0.0.1 -t "$secret"
  node_settings > "$RESULTS/settings-after"
  sessions > "$RESULTS/sessions-after"
  # The portal stops listening: the registration fails, and the removal
  # after it takes the discovery record away, which in open-iscsi takes its
  # node records along; those of the persistent logins are made again.
  tgtadm --lld iscsi --op delete --mode portal --param portal="$PORTAL"
  run portal-down "$tl" 127.0.0.1 -t "$secret"
  node_settings > "$RESULTS/settings-kept"
  iscsiadm -m discoverydb > /dev/null 2>&1
  echo $? > "$RESULTS/discoverydb.rc"
  check "the locked target's record went with its discovery record" \
    test "$(iscsiadm -m node -T "$LOCKED" > /dev/null 2>&1; echo $?)" = 21
  ;;
second)
  # What the distribution's boot unit runs.
  iscsiadm -m node --loginall=automatic > "$RESULTS/loginall.out" 2>&1
  echo $? > "$RESULTS/loginall.rc"
  sessions > "$RESULTS/sessions"
  disk="$(disk_of "$PLAIN")"
  check "the plain target's disk after the reboot" test -n "$disk"
  check "the first boot's token is on it" is "$(read_token "$disk")" "$token"
  ;;
*)
  check "a phase word on the kernel command line" false
  ;;
esac
exit "$CHECK_FAILURES"
