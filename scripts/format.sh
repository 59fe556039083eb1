#!/bin/bash
# Applies the house style (.clang-format at the root) to the C++ files that
# git tracks: clang-format 14, then the one rule it cannot apply, <cstring>
# functions called without "std::".  Files whose first line says they are
# generated ("Generated ... do not edit") are left as their generator made
# them.
#   scripts/format.sh           rewrite every file that differs
#   scripts/format.sh --check   change nothing; name the files that differ
#                               and exit with 1 when there are any
# CLANG_FORMAT names another clang-format 14 binary.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac

formatter="${CLANG_FORMAT:-}"
if [ -z "$formatter" ]; then
  formatter=$(command -v clang-format-14 || command -v clang-format || true)
fi
if [ -z "$formatter" ]; then
  echo "format: clang-format 14 is missing (bash scripts/setup.sh format)" >&2
  exit 2
fi
# Other versions break lines differently: one version for the whole team.
if ! "$formatter" --version | grep -q 'version 14\.'; then
  echo "format: $formatter is not clang-format 14: $("$formatter" --version)" >&2
  exit 2
fi

cstring='mem(cpy|move|set|cmp|chr)|str(len|cmp|ncmp|cpy|ncpy|cat|ncat|chr|rchr|str|spn|cspn|pbrk|error)'
scratch=$(mktemp)
trap 'rm -f "$scratch"' EXIT
differing=0
while IFS= read -r -d '' file; do
  if head -n 1 "$file" | grep -q 'Generated.*do not edit'; then
    continue
  fi
  sed -E "s/std::($cstring)\(/\1(/g" "$file" | "$formatter" --style=file --assume-filename="$file" >"$scratch"
  if ! cmp -s "$scratch" "$file"; then
    differing=$((differing + 1))
    if [ "$check" = 1 ]; then
      echo "$file"
    else
      cat "$scratch" >"$file"
    fi
  fi
done < <(git ls-files -z -- '*.cpp' '*.h')

if [ "$check" = 1 ] && [ "$differing" -gt 0 ]; then
  echo "format: $differing files are not in the house style (bash scripts/format.sh)" >&2
  exit 1
fi
[ "$check" = 1 ] || echo "format: $differing files rewritten"
