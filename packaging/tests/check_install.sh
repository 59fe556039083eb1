#!/bin/bash
# cmake --install with a prefix and DESTDIR puts every file where Debian's
# conventions put it, and nothing outside DESTDIR.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

DESTDIR="$scratch/root" cmake --install "$build" --prefix /opt/tools >/dev/null
expected=(
  opt/tools/sbin/targetlogin
  opt/tools/sbin/ovelin
  opt/tools/bin/tessmark
  opt/tools/share/man/man8/targetlogin.8
  opt/tools/share/man/man8/ovelin.8
  opt/tools/share/man/man1/tessmark.1
)
for file in "${expected[@]}"; do
  [ -e "$scratch/root/$file" ] || { echo "FAIL: $file not installed"; exit 1; }
done
for program in sbin/targetlogin sbin/ovelin bin/tessmark; do
  [ -x "$scratch/root/opt/tools/$program" ] || { echo "FAIL: $program not executable"; exit 1; }
done
unexpected=$(cd "$scratch/root" && find . -type f | grep -v '^\./opt/tools/' || true)
[ -z "$unexpected" ] || { echo "FAIL: installed outside the prefix: $unexpected"; exit 1; }
echo "install tree ok"
