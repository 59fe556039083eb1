#!/bin/sh
# Rewrites a linked executable with its executed code first (see the code
# layout in cmake/ToolsLinkage.cmake).
#   sh lay_out_code.sh LLVM_BOLT LINKED OUT PROFILE
# Writes OUT and OUT.layout.log (llvm-bolt's report); prints the report's
# lines on the profile.  Fails when llvm-bolt fails.
set -eu
bolt="$1" linked="$2" out="$3" profile="$4"
log="$out.layout.log"
if [ ! -f "$profile" ]; then
  # Only while the first profile is recorded (bench/run.sh --record-layout).
  echo "warning: no profile $profile: $out keeps the linker's code layout" | tee "$log"
  cp "$linked" "$out"
  exit 0
fi
# -use-old-text and -no-huge-pages keep the executable its size (without
# them the new text would start at the next 2 MiB); -lite leaves the
# functions without a profile as they are.
if ! "$bolt" "$linked" -o "$out" -data="$profile" -reorder-blocks=ext-tsp \
    -reorder-functions=hfsort -split-functions -split-all-cold -use-old-text -no-huge-pages \
    -lite > "$log" 2>&1; then
  cat "$log" >&2
  rm -f "$out"
  exit 1
fi
chmod 755 "$out"  # llvm-bolt writes its output with every permission bit
grep -E 'have non-empty execution profile|invalid \(possibly stale\) profile' "$log" || true
