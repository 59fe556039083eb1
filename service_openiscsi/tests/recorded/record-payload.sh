# Inside the kernel, for record.sh: runs the iscsiadm calls an open-iscsi
# service makes and keeps each one's output and exit code (README.md).  The
# word phase=main|ipv6|noiscsid picks the sequence; the files go to
# $RESULTS/recorded.
source "$UML_LIB"

OUT="$RESULTS/recorded"
mkdir -p "$OUT"
P=127.0.0.1:3260
PLAIN=iqn.2024-01.test.rec:plain
CHAP=iqn.2024-01.test.rec:chap
GONE=iqn.2024-01.test.rec:gone
r() { record "$OUT" "$@"; }
quiet() { "$@" > /dev/null 2>&1; }
node_set() {  # target portal name value
  quiet iscsiadm -m node -T "$1" -p "$2" -o update -n "$3" -v "$4"
}

main_phase() {
  r version iscsiadm --version
  r iface-list iscsiadm -m iface
  r iface-show-default iscsiadm -m iface -I default
  r session-none iscsiadm -m session
  r session-p1-none iscsiadm -m session -P 1
  r node-none iscsiadm -m node
  r discoverydb-none iscsiadm -m discoverydb

  # A discovery record, then the discovery through it.
  r discoverydb-new iscsiadm -m discoverydb -t st -p "$P" -o new
  r discoverydb-new-again iscsiadm -m discoverydb -t st -p "$P" -o new
  r discoverydb-list iscsiadm -m discoverydb
  r discoverydb-show iscsiadm -m discoverydb -t st -p "$P"
  r discoverydb-show-missing iscsiadm -m discoverydb -t st -p 127.0.0.1:3999
  r discover-new iscsiadm -m discoverydb -t st -p "$P" --discover -o new
  r node-list iscsiadm -m node
  r node-show iscsiadm -m node -T "$PLAIN" -p "$P"
  r node-show-missing iscsiadm -m node -T iqn.2024-01.test.rec:none -p "$P"
  r node-update-startup iscsiadm -m node -T "$PLAIN" -p "$P" -o update -n node.startup -v automatic
  r node-update-missing iscsiadm -m node -T iqn.2024-01.test.rec:none -p "$P" -o update -n node.startup -v automatic
  r node-update-authmethod iscsiadm -m node -T "$CHAP" -p "$P" -o update -n node.session.auth.authmethod -v CHAP
  r node-update-username iscsiadm -m node -T "$CHAP" -p "$P" -o update -n node.session.auth.username -v alice
  r node-update-password iscsiadm -m node -T "$CHAP" -p "$P" -o update -n node.session.auth.password -v wrongsecret1
  r node-show-chap iscsiadm -m node -T "$CHAP" -p "$P"

  # Rediscovery over existing nodes: with -o new, then plain.
  r discover-new-existing iscsiadm -m discoverydb -t st -p "$P" --discover -o new
  r node-show-after-new iscsiadm -m node -T "$PLAIN" -p "$P"
  r node-show-chap-after-new iscsiadm -m node -T "$CHAP" -p "$P"
  r discover-plain iscsiadm -m discoverydb -t st -p "$P" --discover
  r node-show-after-plain iscsiadm -m node -T "$PLAIN" -p "$P"
  r node-show-chap-after-plain iscsiadm -m node -T "$CHAP" -p "$P"
  node_set "$PLAIN" "$P" node.startup automatic
  node_set "$CHAP" "$P" node.session.auth.authmethod CHAP
  node_set "$CHAP" "$P" node.session.auth.username alice
  node_set "$CHAP" "$P" node.session.auth.password wrongsecret1

  # Logins.
  r login iscsiadm -m node -T "$PLAIN" -p "$P" --login
  r login-exists iscsiadm -m node -T "$PLAIN" -p "$P" --login
  r login-bad-chap iscsiadm -m node -T "$CHAP" -p "$P" --login
  node_set "$CHAP" "$P" node.session.auth.password alicesecret1
  r login-chap iscsiadm -m node -T "$CHAP" -p "$P" --login
  r session-list iscsiadm -m session
  r session-p0 iscsiadm -m session -P 0
  r session-p1 iscsiadm -m session -P 1
  r session-p3 iscsiadm -m session -P 3
  r session-sid-p1 iscsiadm -m session -r 1 -P 1
  r session-sid-missing iscsiadm -m session -r 99
  tgtadm --lld iscsi --op delete --mode target --tid 3 --force
  r login-target-gone iscsiadm -m node -T "$GONE" -p "$P" --login
  r login-missing iscsiadm -m node -T iqn.2024-01.test.rec:none -p "$P" --login

  # Discovery with CHAP: an account bound to no target guards discovery.
  tgtadm --lld iscsi --op new --mode account --user discuser --password discsecret12
  tgtadm --lld iscsi --op bind --mode account --user discuser
  r discover-chap-required iscsiadm -m discoverydb -t st -p "$P" --discover -o new
  r discoverydb-update-authmethod iscsiadm -m discoverydb -t st -p "$P" -o update -n discovery.sendtargets.auth.authmethod -v CHAP
  r discoverydb-update-username iscsiadm -m discoverydb -t st -p "$P" -o update -n discovery.sendtargets.auth.username -v discuser
  r discoverydb-update-password iscsiadm -m discoverydb -t st -p "$P" -o update -n discovery.sendtargets.auth.password -v wrongsecret1
  r discover-bad-chap iscsiadm -m discoverydb -t st -p "$P" --discover -o new
  quiet iscsiadm -m discoverydb -t st -p "$P" -o update -n discovery.sendtargets.auth.password -v discsecret12
  r discoverydb-show-chap iscsiadm -m discoverydb -t st -p "$P"
  r discover-chap iscsiadm -m discoverydb -t st -p "$P" --discover -o new
  r discoverydb-new-over-chap iscsiadm -m discoverydb -t st -p "$P" -o new
  r discoverydb-show-after-new iscsiadm -m discoverydb -t st -p "$P"
  tgtadm --lld iscsi --op unbind --mode account --user discuser

  # Portals that do not work: no route, a closed port, a silent listener.
  r discover-unrecorded iscsiadm -m discoverydb -t st -p 127.0.0.1:3999 --discover -o new
  r discoverydb-list-after-unrecorded iscsiadm -m discoverydb
  r discoverydb-new-unreachable iscsiadm -m discoverydb -t st -p 192.0.2.1:3260 -o new
  r discover-unreachable iscsiadm -m discoverydb -t st -p 192.0.2.1:3260 --discover -o new
  quiet iscsiadm -m discoverydb -t st -p 127.0.0.1:3999 -o new
  r discover-closed iscsiadm -m discoverydb -t st -p 127.0.0.1:3999 --discover -o new
  python3 -c '
import socket, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 3270))
s.listen(5)
c, _ = s.accept()
time.sleep(600)' &
  local listener=$!
  sleep 0.3
  quiet iscsiadm -m discoverydb -t st -p 127.0.0.1:3270 -o new
  r discover-silent iscsiadm -m discoverydb -t st -p 127.0.0.1:3270 --discover -o new
  kill "$listener"
  r discoverydb-list-several iscsiadm -m discoverydb

  # Logouts, deletions, and the boot-time restore.
  r logout iscsiadm -m node -T "$PLAIN" -p "$P" --logout
  r logout-none iscsiadm -m node -T "$PLAIN" -p "$P" --logout
  r loginall-automatic iscsiadm -m node --loginall=automatic
  r session-list-restored iscsiadm -m session
  r node-delete iscsiadm -m node -T "$GONE" -p "$P" -o delete
  r node-delete-missing iscsiadm -m node -T "$GONE" -p "$P" -o delete
  r node-delete-in-use iscsiadm -m node -T "$CHAP" -p "$P" -o delete
  r discoverydb-delete iscsiadm -m discoverydb -t st -p "$P" -o delete
  r node-list-after-discoverydb-delete iscsiadm -m node
  r discoverydb-delete-missing iscsiadm -m discoverydb -t st -p "$P" -o delete
  r session-list-orphaned iscsiadm -m session
  r node-logoutall-no-records iscsiadm -m node --logoutall=all
  r session-logout-sid iscsiadm -m session -r "$(session_of "$CHAP")" -u
  r session-logout-all iscsiadm -m session -u
  r session-none-end iscsiadm -m session
  ls -R /etc/iscsi > "$OUT/etc-iscsi-tree.txt"
}

ipv6_phase() {
  local p6='[::1]:3260'
  r discoverydb-new iscsiadm -m discoverydb -t st -p "$p6" -o new
  r discoverydb-list iscsiadm -m discoverydb
  r discover-new iscsiadm -m discoverydb -t st -p "$p6" --discover -o new
  r node-list iscsiadm -m node
  r node-show iscsiadm -m node -T "$PLAIN" -p "$p6"
  r login iscsiadm -m node -T "$PLAIN" -p "$p6" --login
  r session-list iscsiadm -m session
  r session-p1 iscsiadm -m session -P 1
  r logout iscsiadm -m node -T "$PLAIN" -p "$p6" --logout
  ls -R /etc/iscsi > "$OUT/etc-iscsi-tree.txt"
}

# iscsid is not running at first.  The private iscsid.conf says
# node.startup = automatic, so a record shows where its defaults came from.
noiscsid_phase() {
  sed -i 's/^node.startup = .*/node.startup = automatic/' /etc/iscsi/iscsid.conf
  r version iscsiadm --version
  r session-none iscsiadm -m session
  r discoverydb-new iscsiadm -m discoverydb -t st -p "$P" -o new
  r discover-new iscsiadm -m discoverydb -t st -p "$P" --discover -o new
  r node-new iscsiadm -m node -o new -T "$PLAIN" -p "$P"
  r node-list iscsiadm -m node
  r node-show iscsiadm -m node -T "$PLAIN" -p "$P"
  r login iscsiadm -m node -T "$PLAIN" -p "$P" --login
  iscsid -f > "$RESULTS/iscsid.log" 2>&1 &
  for _ in $(seq 100); do grep -q '@ISCSIADM_ABSTRACT_NAMESPACE' /proc/net/unix && break; sleep 0.05; done
  r node-show-iscsid iscsiadm -m node -T "$PLAIN" -p "$P"
  r discover-new-iscsid iscsiadm -m discoverydb -t st -p "$P" --discover -o new
  r node-show-chap-iscsid iscsiadm -m node -T "$CHAP" -p "$P"
  r node-new-iscsid iscsiadm -m node -o new -T iqn.2024-01.test.rec:made -p "$P"
  r node-show-made-iscsid iscsiadm -m node -T iqn.2024-01.test.rec:made -p "$P"
  r login-iscsid iscsiadm -m node -T "$PLAIN" -p "$P" --login
  r logoutall iscsiadm -m node --logoutall=all
}

case "$(kernel_word phase)" in
  main) main_phase ;;
  ipv6) ipv6_phase ;;
  noiscsid) noiscsid_phase ;;
  *) echo "no phase word" >&2; exit 2 ;;
esac
exit 0
