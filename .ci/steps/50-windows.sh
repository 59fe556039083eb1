#!/bin/bash
# CI step: the Windows executables cross-built for x64 and x86 with
# mingw-w64, their import tables checked, and their tests under Wine.
#
# One Wine prefix for the whole step, created once, with one persistent
# wineserver that the step stops when it ends.  The global atom table lives
# in that server, so an atom that one run adds is there for the next.  The
# 32-bit executables run where the host runs 32-bit programs under Wine (a
# kernel without 32-bit emulation cannot); they are built and their imports
# checked either way, and the last line says which ran.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEDEBUG=-all
tests="$root/windows/tests"
wine_run="$tests/wine-run"
failed=0

# CI has installed every list already; run alone, the step installs its own.
bash "$root/scripts/setup.sh" tests windows

for arch in x86_64 i686; do
  build="$root/build-win-$arch"
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" \
        -DTOOLS_WINDOWS_TEST_DLL=ON
  # Everything the Windows configuration builds, the test folder included.
  cmake --build "$build" -j 2
  python3 "$tests/check_imports.py" "$arch-w64-mingw32-objdump" "$build/wine-test" || failed=1
done

# The Linux tessmark for the differential test, from the plain build.
linux_build="$root/build"
[ -f "$linux_build/CMakeCache.txt" ] || cmake -S "$root" -B "$linux_build"
cmake --build "$linux_build" -j 2 --target tessmark

prefix="$(mktemp -d /tmp/tools-wine.XXXXXX)"
export WINEPREFIX="$prefix"
server_pid=""
stop_wine() {
  # Ends every process of this prefix, the server last; then makes sure the
  # server we started is gone.
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  if [ -n "$server_pid" ]; then
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$prefix"
}
trap stop_wine EXIT

echo "windows: creating the Wine prefix $prefix"
/usr/lib/wine/wineserver64 -f -p &
server_pid=$!
# The server's socket is in a folder named for the prefix's device and inode,
# under /tmp/.wine-<uid> or, in Debian's build, a /tmp/wine-XXXXXX of its own.
server_dir="$(printf 'server-%x-%x' $(stat -c '%d %i' "$prefix"))"
server_up() { compgen -G "/tmp/*wine*/$server_dir/socket" >/dev/null; }
for _ in $(seq 100); do server_up && break; sleep 0.1; done
server_up || { echo "windows: the wineserver did not start"; exit 1; }
# wineboot reports the 32-bit parts it cannot set up where 32-bit programs
# cannot run; the 64-bit prefix is complete all the same.
WINELOADER=/usr/lib/wine/wine64 timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true

# The 32-bit executables run where this host runs 32-bit Windows programs:
# Wine's 32-bit loader starts, and a 32-bit tool runs to its end (without a
# scenario its service fails every call, so ovelin prints the failure and
# ends with exit code 1).  Elsewhere the step says why it leaves them out;
# WINDOWS_REQUIRE_32BIT=1 makes that a failure.
i686_blocker() {
  local out code=0
  if ! out=$(/usr/lib/wine/wine --version 2>&1); then
    echo "Wine's 32-bit loader does not start: ${out:0:300}"
    return
  fi
  out=$("$wine_run" "$root/build-win-i686/wine-test/ovelin.exe" 2>&1) || code=$?
  if [ "$code" != 1 ] || [[ "$out" != *"Error getting information: "* ]]; then
    echo "a 32-bit tool does not run under Wine (exit code $code): ${out:0:300}"
  fi
}
i686_note=$(i686_blocker)
wine_arches=(x86_64)
if [ -z "$i686_note" ]; then
  wine_arches+=(i686)
else
  echo "windows: SKIPPED: the i686 executables under Wine; this host cannot run 32-bit programs:"
  echo "windows:   $i686_note"
  if [ "${WINDOWS_REQUIRE_32BIT:-0}" = 1 ]; then
    echo "windows: WINDOWS_REQUIRE_32BIT=1: the i686 checks must run"
    failed=1
  fi
fi

for arch in "${wine_arches[@]}"; do
  folder="$root/build-win-$arch/wine-test"
  echo "=== windows: $arch under Wine"
  for tool in ovelin:nodequery targetlogin:targetlogin; do
    echo "--- windows: $arch ${tool%%:*} end-to-end cases"
    python3 "$root/tests/e2e/run_case.py" --wrapper "$wine_run" --platform wine --windows-paths \
            --exe "$folder/${tool%%:*}.exe" "$root/${tool#*:}"/tests/cases/*.case || failed=1
  done
  python3 "$tests/tessmark_wine_test.py" "$wine_run" "$folder/tessmark.exe" || failed=1
  python3 "$tests/atom_differential_test.py" "$wine_run" "$folder/tessmark.exe" \
          "$linux_build/atommarker/tessmark" || failed=1
done

ran="under Wine: ${wine_arches[*]}"
[ -z "$i686_note" ] || ran="$ran (i686 SKIPPED: no 32-bit programs on this host)"
if [ "$failed" != 0 ]; then
  echo "windows: some checks failed; $ran"
  exit 1
fi
echo "windows: all checks passed; $ran"
