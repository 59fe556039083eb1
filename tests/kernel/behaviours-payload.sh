# Inside the kernel, for behaviours-test.sh: the behaviours of iscsiadm that
# a service driving it must work around, checked one by one.  iscsid is not
# running at first (uml-run.sh --no-iscsid).
source "$UML_LIB"

P=127.0.0.1:3260
PLAIN=iqn.2024-01.test.kernel:plain
CHAP=iqn.2024-01.test.kernel:chap
MADE=iqn.2024-01.test.kernel:made
q() { "$@" > /dev/null 2>&1; }
field() {  # target name: the value of one field of the node record
  iscsiadm -m node -T "$1" -p "$P" 2>/dev/null | sed -n "s/^$2 = //p"
}
discovery_field() {
  iscsiadm -m discoverydb -t st -p "$P" 2>/dev/null | sed -n "s/^$1 = //p"
}
is() { [ "$1" = "$2" ]; }
exits() {  # code command...: the command exits with code
  local code="$1"
  shift
  "$@" > /dev/null 2>&1
  [ $? = "$code" ]
}
node_count() { iscsiadm -m node 2>/dev/null | grep -c .; }
session_count() { iscsiadm -m session 2>/dev/null | grep -c '^tcp: '; }

# A record made while iscsid is away takes the built-in defaults, not
# iscsid.conf: the private iscsid.conf says automatic here.
sed -i 's/^node.startup = .*/node.startup = automatic/' /etc/iscsi/iscsid.conf
q iscsiadm -m node -o new -T "$MADE" -p "$P"
check "without iscsid: node.startup is the built-in manual" is "$(field "$MADE" node.startup)" manual
iscsid -f > "$RESULTS/iscsid.log" 2>&1 &
for _ in $(seq 100); do grep -q '@ISCSIADM_ABSTRACT_NAMESPACE' /proc/net/unix && break; sleep 0.05; done
q iscsiadm -m node -o delete -T "$MADE" -p "$P"
q iscsiadm -m node -o new -T "$MADE" -p "$P"
check "with iscsid: node.startup comes from iscsid.conf" is "$(field "$MADE" node.startup)" automatic
q iscsiadm -m node -o delete -T "$MADE" -p "$P"
sed -i 's/^node.startup = .*/node.startup = manual/' /etc/iscsi/iscsid.conf

# Rediscovery: -o new keeps what was set on existing nodes, a plain one
# resets it.
q iscsiadm -m discoverydb -t st -p "$P" -o new
check "discovery -o new" exits 0 iscsiadm -m discoverydb -t st -p "$P" --discover -o new
set_node() { q iscsiadm -m node -T "$1" -p "$P" -o update -n "$2" -v "$3"; }
set_node "$PLAIN" node.startup automatic
set_node "$CHAP" node.session.auth.authmethod CHAP
set_node "$CHAP" node.session.auth.username alice
set_node "$CHAP" node.session.auth.password alicesecret1
q iscsiadm -m discoverydb -t st -p "$P" --discover -o new
check "rediscovery -o new keeps node.startup" is "$(field "$PLAIN" node.startup)" automatic
check "rediscovery -o new keeps CHAP" is "$(field "$CHAP" node.session.auth.username)" alice
q iscsiadm -m discoverydb -t st -p "$P" --discover
check "plain rediscovery resets node.startup" is "$(field "$PLAIN" node.startup)" manual
check "plain rediscovery resets CHAP" is "$(field "$CHAP" node.session.auth.authmethod)" None
set_node "$PLAIN" node.startup automatic
set_node "$CHAP" node.session.auth.authmethod CHAP
set_node "$CHAP" node.session.auth.username alice
set_node "$CHAP" node.session.auth.password wrongsecret1

# Logins: a second one exits 15, a wrong secret 24.
check "login" exits 0 iscsiadm -m node -T "$PLAIN" -p "$P" --login
check "a second login exits 15" exits 15 iscsiadm -m node -T "$PLAIN" -p "$P" --login
check "a wrong CHAP secret exits 24" exits 24 iscsiadm -m node -T "$CHAP" -p "$P" --login
set_node "$CHAP" node.session.auth.password alicesecret1
check "the right one logs in" exits 0 iscsiadm -m node -T "$CHAP" -p "$P" --login

# The discovery record: "-o new" over it resets its CHAP settings.
q iscsiadm -m discoverydb -t st -p "$P" -o update -n discovery.sendtargets.auth.authmethod -v CHAP
check "discovery CHAP set" is "$(discovery_field discovery.sendtargets.auth.authmethod)" CHAP
q iscsiadm -m discoverydb -t st -p "$P" -o new
check "discoverydb -o new over a record resets its CHAP" \
  is "$(discovery_field discovery.sendtargets.auth.authmethod)" None

# Deleting the discovery record deletes its nodes, the automatic one and
# those in use included; the sessions stay, out of reach of -m node.
check "two nodes before" is "$(node_count)" 2
check "a node in use is not deleted by itself" exits 15 iscsiadm -m node -T "$CHAP" -p "$P" -o delete
check "discoverydb delete" exits 0 iscsiadm -m discoverydb -t st -p "$P" -o delete
check "its nodes are gone" is "$(node_count)" 0
check "the sessions stay" is "$(session_count)" 2
check "-m node --logoutall finds none" exits 21 iscsiadm -m node --logoutall=all
check "-m session -u logs them out" exits 0 iscsiadm -m session -u
check "no session left" exits 21 iscsiadm -m session
exit "$CHECK_FAILURES"
