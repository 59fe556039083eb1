#!/bin/sh
# targetlogin's code is laid out after a recorded profile (the code layout in
# cmake/ToolsLinkage.cmake).  A profile that no longer fits the code lays out
# nothing well: a function whose code changed keeps no profile.  Fails when
# the profile covers no function or when more than a tenth of the functions
# it covers have changed since; bash bench/run.sh --record-layout records it
# again.
#   sh code_layout_fits.sh LAYOUT_LOG
set -eu
log="$1"
profiled=$(sed -n 's/^BOLT-INFO: \([0-9]*\) out of [0-9]* functions in the binary.*have non-empty execution profile.*/\1/p' "$log")
stale=$(sed -n 's/^BOLT-WARNING: \([0-9]*\) (.* of all profiled) functions have invalid (possibly stale) profile.*/\1/p' "$log")
profiled=${profiled:-0}
stale=${stale:-0}
echo "profiled functions: $profiled, of which changed since: $stale"
if [ "$profiled" -eq 0 ] || [ $((stale * 10)) -gt "$profiled" ]; then
  echo "the layout profile no longer fits targetlogin: bash bench/run.sh --record-layout targetlogin/code_layout.fdata" >&2
  exit 1
fi
