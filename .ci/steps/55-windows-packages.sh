#!/bin/bash
# CI step: a zip of the Windows executables for each architecture, from the
# cross builds of the step before, holding the three tools and nothing else
# (the stand-in DLL of the Wine tests must never ship).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
status=0
for arch in x86_64 i686; do
  build="$root/build-win-$arch"
  out="$build/packages"
  rm -rf "$out"
  (cd "$build" && cpack -G ZIP -B "$out" >/dev/null)
  zip=$(ls "$out"/*.zip)
  contents=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip")
  expected=$'ovelin.exe\ntargetlogin.exe\ntessmark.exe'
  if [ "$contents" = "$expected" ]; then
    echo "windows packages: $(basename "$zip") ok"
  else
    echo "windows packages: $(basename "$zip") holds:"; echo "$contents"
    status=1
  fi
done
exit $status
