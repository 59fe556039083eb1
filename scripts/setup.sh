#!/bin/bash
# Installs the Debian packages that a command of this tree needs, from the
# lists in .ci/packages/*.txt (one purpose a list, packages separated by
# blanks or lines; a list may start with "# arch: i386" to have that
# architecture added first).  Runs apt-get only when something is missing.
#
#   scripts/setup.sh [--print] WHAT...
#
# Each WHAT is a list's name (the file name without .txt) or one of:
#   main    the main job (scripts/demo.sh): build tools, libiscsi, SQLite, tgt
#   tests   the tests (scripts/test.sh): main, and what the tests run
#   all     every list, whatever it is for (CI, .ci/run)
# Without WHAT: main.  --print names the packages instead of installing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
lists_dir="$root/.ci/packages"

print_only=0
if [ "${1:-}" = "--print" ]; then
  print_only=1
  shift
fi
[ $# -gt 0 ] || set -- main

lists=()
for what in "$@"; do
  case "$what" in
    main) lists+=(build linuxsvc) ;;
    tests) lists+=(build linuxsvc tests packaging) ;;
    all)
      for list in "$lists_dir"/*.txt; do lists+=("$(basename "$list" .txt)"); done ;;
    *)
      if [ ! -f "$lists_dir/$what.txt" ]; then
        echo "setup: no list $what in .ci/packages/ (and not main, tests or all)" >&2
        exit 2
      fi
      lists+=("$what") ;;
  esac
done
mapfile -t lists < <(printf '%s\n' "${lists[@]}" | sort -u)
files=()
for list in "${lists[@]}"; do files+=("$lists_dir/$list.txt"); done

mapfile -t wanted < <(cat "${files[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
if [ "$print_only" = 1 ]; then
  printf '%s\n' "${wanted[@]}"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

for file in "${files[@]}"; do
  arch=$(sed -n 's/^# arch: *//p' "$file")
  if [ -n "$arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    "${sudo_cmd[@]}" dpkg --add-architecture "$arch"
  fi
done

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup (${lists[*]}): installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
