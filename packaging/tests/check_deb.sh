#!/bin/bash
# The Debian package holds the tools, depends on the libraries they link, and
# the installed tools run from a scratch root.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
table="deb-test-$$"
cleanup() {
  rm -rf "$scratch"
  rm -f "/dev/shm/$table" 2>/dev/null || true
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/*.deb)
dpkg-deb --info "$deb" > "$scratch/info"
dpkg -x "$deb" "$scratch/root"

for file in usr/sbin/targetlogin usr/sbin/ovelin usr/bin/tessmark \
            usr/share/man/man8/targetlogin.8 usr/share/man/man1/tessmark.1; do
  [ -e "$scratch/root/$file" ] || { echo "FAIL: $file missing from the package"; exit 1; }
done

# Every shared library the executables need is a declared dependency.
depends=$(sed -n 's/^ Depends: //p' "$scratch/info")
echo "Depends: $depends"
for library in $(ldd "$scratch/root/usr/sbin/targetlogin" | awk '/=>/ {print $1}'); do
  case "$library" in
    libiscsi.so.*) echo "$depends" | grep -q 'libiscsi' || { echo "FAIL: no libiscsi dependency"; exit 1; } ;;
    libsqlite3.so.*) echo "$depends" | grep -q 'libsqlite3' || { echo "FAIL: no SQLite dependency"; exit 1; } ;;
  esac
done

# The host's own initiator is recommended: the tools drive it where it can
# work.
recommends=$(sed -n 's/^ Recommends: //p' "$scratch/info")
echo "Recommends: $recommends"
echo "$recommends" | grep -qw 'open-iscsi' || { echo "FAIL: open-iscsi is not recommended"; exit 1; }

# The installed tools run.
out=$(TESSMARK_ATOM_TABLE="$table" "$scratch/root/usr/bin/tessmark" add deb-marker)
case "$out" in "New Atom: "[1-9]*) ;; *) echo "FAIL: tessmark add printed: $out"; exit 1 ;; esac
out=$(TESSMARK_ATOM_TABLE="$table" "$scratch/root/usr/bin/tessmark" find DEB-MARKER)
case "$out" in "Found Atom: "[1-9]*) ;; *) echo "FAIL: tessmark find printed: $out"; exit 1 ;; esac

# The embedded service, with its store in a folder of this test's: never the
# host's own initiator, where the host has one.
set +e
out=$(ISCSI_TOOLS_SERVICE=embedded ISCSI_TOOLS_STATE_DIR="$scratch/state" timeout 60 "$scratch/root/usr/sbin/targetlogin" 2>&1)
code=$?
set -e
[ "$code" = 2 ] || { echo "FAIL: targetlogin without arguments ended with $code"; echo "$out"; exit 1; }
echo "$out" | grep -q '^usage: .*targetlogin ipaddress \[-p tcpPort\]' || { echo "FAIL: no usage text"; echo "$out"; exit 1; }
echo "debian package ok"
