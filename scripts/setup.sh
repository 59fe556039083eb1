#!/bin/bash
# Installs the Debian packages that building and testing the tools need.
# The lists live in .ci/packages/*.txt, one package a line; a list may start
# with "# arch: i386" to have that architecture added first.  Runs apt-get
# only when something is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

for list in "$root"/.ci/packages/*.txt; do
  arch=$(sed -n 's/^# arch: *//p' "$list")
  if [ -n "$arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    "${sudo_cmd[@]}" dpkg --add-architecture "$arch"
  fi
done

mapfile -t wanted < <(cat "$root"/.ci/packages/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
